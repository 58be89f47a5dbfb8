// Busy threads over the file layer and the "/mnt" adapter: readers, listers and an exporter
// working while the volume start-up runs again and again (a hot-plug). ThreadSanitizer runs
// these in ./test (scripts/test-extra.sh); under the other builds they check that every call
// ends cleanly: a handle from before a rerun fails, nothing crashes or hangs.
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "adapter_support.h"
#include "krt/adapter.h"
#include "krt/file.h"
#include "krt/lock.h"
#include "krt_testing/hostile_disk.h"

namespace krt {
namespace {

namespace kb = test::kb;

class LibraryRaces : public test::AdapterTest {};

// Lists a channel folder as a viewer thread does; a rerun may end the search at any point.
int list_quietly(const char* pattern) {
  CFSFileFind find;
  int n = 0;
  for (bool more = find.FindFile(pattern); more; more = find.FindNextFile()) ++n;
  find.Close();
  return n;
}

// Every recording path of partition 0 of the sample disk, found while nothing else runs.
std::vector<std::string> recording_paths() {
  std::vector<std::string> out;
  for (const char* day : {"2010-03-04", "2010-03-05"}) {
    for (const char* channel : {"001", "002", "003"}) {
      const std::string folder = std::string("/mnt/idea0/") + day + "/" + channel + "/";
      for (const std::string& name : test::names(test::list(folder + "*"))) out.push_back(folder + name);
    }
  }
  return out;
}

TEST_F(LibraryRaces, ReadListAndExportDuringStartUpReruns) {
  up({kb::damage_sample_disk()});
  const std::vector<std::string> paths = recording_paths();
  ASSERT_FALSE(paths.empty());
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0}, listings{0}, exports{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {  // readers: whole recordings, in 4 KiB and 64 KiB pieces
      for (size_t i = size_t(t); !stop; i = (i + 1) % paths.size()) {
        bool ok = false;
        test::read_all(paths[i], t ? 65536 : 4096, ok);
        ++reads;
      }
    });
  }
  threads.emplace_back([&] {  // lister: channel folders and the partition's calendar
    while (!stop) {
      list_quietly("/mnt/idea0/2010-03-05/001/*");
      list_quietly("/mnt/idea1/2010-03-06/006/*");
      CFSFile calendar;
      std::vector<uint8_t> block(kWorkCalendarBytes);
      if (calendar.Open("/mnt/idea0/WorkDirectory", CFSFile::modeRead)) calendar.Read(block.data(), uint32_t(block.size()));
      ++listings;
    }
  });
  threads.emplace_back([&] {  // exporter: a recording copied into a local file
    const std::string target = ::testing::TempDir() + "race-export.h264";
    for (size_t i = 0; !stop; i = (i + 1) % paths.size()) {
      CFSFile in;
      std::FILE* out = std::fopen(target.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      if (in.Open(paths[i].c_str(), CFSFile::modeRead)) {
        std::vector<uint8_t> block(32768);
        for (uint32_t n; (n = in.Read(block.data(), uint32_t(block.size()))) > 0;) std::fwrite(block.data(), 1, n, out);
      }
      std::fclose(out);
      ++exports;
    }
    std::remove(target.c_str());
  });
  for (int rerun = 0; rerun < 6; ++rerun) {  // the hot-plug: start-up again, as the viewer does
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    volume_startup();
    std::lock_guard<std::recursive_mutex> hold(library_lock());
    EXPECT_EQ(calendar_partition_mask() & 1u, 1u);
  }
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(listings.load(), 0);
  EXPECT_GT(exports.load(), 0);
  EXPECT_EQ(file_handles_check(), "");
  for (int i = 0; i < kMaxFileHandles; ++i) EXPECT_EQ(file_handle_slot(i)->file_flag, kFileFree) << "handle " << i;
}

}  // namespace
}  // namespace krt

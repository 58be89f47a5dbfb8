// Long runs that must not make the process grow: many recordings opened, read a little and
// closed, and many start-up reruns. Descriptors, threads and live heap bytes are counted before
// and after (after a warm-up round, so that lazily made tables are already there).
#include <dirent.h>
#include <malloc.h>

#include "adapter_support.h"
#include "krt/file.h"
#include "krt_testing/hostile_disk.h"

namespace krt {
namespace {

namespace kb = test::kb;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KRT_SANITIZED_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KRT_SANITIZED_HEAP 1
#endif
#endif

#ifdef KRT_SANITIZED_HEAP
// The sanitizers' allocator keeps its own count (their header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// Entries of a /proc/self folder (descriptors, threads), without "." and "..".
int count_entries(const char* folder) {
  DIR* d = ::opendir(folder);
  if (!d) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
  ::closedir(d);
  return n - (std::string(folder) == "/proc/self/fd" ? 1 : 0);  // the folder's own descriptor
}

// Bytes the program holds on the heap now.
size_t live_heap_bytes() {
#ifdef KRT_SANITIZED_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

struct Usage {
  int descriptors;
  int threads;
  size_t heap;
};

Usage usage() { return {count_entries("/proc/self/fd"), count_entries("/proc/self/task"), live_heap_bytes()}; }

class LongRuns : public test::AdapterTest {};

// Opens, reads a block of and closes every recording of partition 0, over and over.
void open_and_close(const std::vector<std::string>& paths, int times) {
  std::vector<uint8_t> block(4096);
  for (int i = 0; i < times; ++i) {
    CFSFile f;
    ASSERT_TRUE(f.Open(paths[size_t(i) % paths.size()].c_str(), CFSFile::modeRead)) << paths[size_t(i) % paths.size()];
    EXPECT_EQ(f.Read(block.data(), uint32_t(block.size())), block.size());
    f.Close();
  }
}

TEST_F(LongRuns, ThousandOpensAndHundredStartUpsDoNotGrow) {
  up({kb::damage_sample_disk()});
  std::vector<std::string> paths;
  for (const char* channel : {"001", "002", "003"}) {
    const std::string folder = std::string("/mnt/idea0/2010-03-05/") + channel + "/";
    for (const std::string& name : test::names(test::list(folder + "*"))) paths.push_back(folder + name);
  }
  ASSERT_EQ(paths.size(), 12u);
  open_and_close(paths, 24);  // warm-up
  volume_startup();
  const Usage before = usage();

  open_and_close(paths, 1000);
  for (int i = 0; i < 100; ++i) volume_startup();
  open_and_close(paths, 24);

  const Usage after = usage();
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.heap, before.heap + 64 * 1024) << "live heap grew from " << before.heap << " to " << after.heap;
  for (int i = 0; i < kMaxFileHandles; ++i) EXPECT_EQ(file_handle_slot(i)->file_flag, kFileFree) << "handle " << i;
}

}  // namespace
}  // namespace krt

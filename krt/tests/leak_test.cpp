// Long runs that must not make the process grow: many recordings opened, read a little and
// closed, and many start-up reruns. Descriptors, threads and live heap bytes are counted before
// and after (after a warm-up round, so that lazily made tables are already there).
#include "adapter_support.h"
#include "krt/file.h"
#include "krt_testing/hostile_disk.h"
#include "krt_testing/process_usage.h"

namespace krt {
namespace {

namespace kb = test::kb;

using krt_testing::process_usage;
using krt_testing::ProcessUsage;

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
  const ProcessUsage before = process_usage();

  open_and_close(paths, 1000);
  for (int i = 0; i < 100; ++i) volume_startup();
  open_and_close(paths, 24);

  const ProcessUsage after = process_usage();
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.heap, before.heap + 64 * 1024) << "live heap grew from " << before.heap << " to " << after.heap;
  for (int i = 0; i < kMaxFileHandles; ++i) EXPECT_EQ(file_handle_slot(i)->file_flag, kFileFree) << "handle " << i;
}

}  // namespace
}  // namespace krt

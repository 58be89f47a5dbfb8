// A partition's listing depends only on that partition's metadata: damage on one partition,
// met by the time search that runs over every partition, must not change what a channel folder
// of another partition lists.
#include <fstream>

#include "adapter_support.h"
#include "krt/dir_index.h"

namespace krt {
namespace {

namespace kb = test::kb;

uint32_t t(int h, int mi) { return kb::pack_time(2010, 3, 5, h, mi, 0); }

kb::File rec(uint8_t channel, uint32_t start) {
  kb::File f;
  f.channel = channel;
  f.start = start;
  f.end = kb::add_seconds(start, 15 * 60);
  return f;
}

class CrossPartition : public test::AdapterTest {};

// Partition 0 holds a file of channel 2 ("003") and then two of channel 1 ("002"); partition 1
// holds two files of channel 0 ("001"), the first starting with partition 0's second file. The
// index byte of that file is changed to say channel 0 while its directory item still says
// channel 1: the time search for channel 0 stands on it, and must not go on searching partition
// 1 for channel 1.
TEST_F(CrossPartition, AChangedIndexByteLeavesTheOtherPartitionsListingAlone) {
  kb::Disk disk = kb::multi_partition_disk({300000, 300000}, 64);
  disk.partitions[0].files = {rec(2, t(7, 0)), rec(1, t(8, 0)), rec(1, t(9, 0))};
  disk.partitions[1].files = {rec(0, t(8, 0)), rec(0, t(9, 30))};
  const std::string dir = "/mnt/idea1/2010-03-05/001/";

  attach({disk});
  const kb::PartitionReport& r = report(0, 0);
  uint8_t byte = 0;
  make_index_item(byte, 0, kIndexFlagFirst);
  {
    std::fstream image(path(0), std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(std::streamoff((r.start + r.layout.index_off) * kSectorBytes + r.files[1].first_cluster));
    image.put(char(byte));
  }
  volume_startup();
  std::vector<std::string> expected;
  for (size_t i = 0; i < 2; ++i) expected.push_back(test::expected_name(disk.partitions[1].files[i], report(0, 1).files[i]));
  EXPECT_EQ(test::names(test::list(dir + "*")), expected);
}

}  // namespace
}  // namespace krt

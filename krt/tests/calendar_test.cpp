// The record calendar of disk 0, filled over built images.
#include "krt/volume.h"

#include "krt/mount.h"
#include "mount_support.h"

namespace krt {
namespace {

namespace kb = test::kb;

class Calendar : public test::MountTest {
 protected:
  // Starts the library over the disks and fills the calendar afresh.
  void fill(const std::vector<kb::Disk>& disks) {
    start(disks);
    clear_calendar();
    build_calendar();
  }
};

kb::File file(uint8_t channel, uint32_t start, uint32_t end) {
  kb::File f;
  f.channel = channel;
  f.start = start;
  f.end = end;
  return f;
}

// Counts the day masks that are not 0.
int marked_days() {
  int n = 0;
  const RecordCalendar& c = record_calendar();
  for (const auto& part : c.day_mask)
    for (const auto& year : part)
      for (const auto& month : year)
        for (uint32_t day : month) n += day != 0;
  return n;
}

// Two partitions of 300,000 sectors, 64 sectors per cluster, in slots 0 and `second_slot`.
kb::Disk two_partitions(int second_slot) {
  kb::Disk disk = kb::multi_partition_disk({300000, 300000}, 64);
  disk.payload.kind = kb::Payload::Kind::kNone;
  disk.partitions[1].slot = second_slot;
  return disk;
}

TEST_F(Calendar, DaysOfFilesByChannelModulo32) {
  kb::Disk disk = two_partitions(2);
  disk.partitions[0].files = {
      file(33, kb::pack_time(2012, 2, 29, 10, 0, 0), kb::pack_time(2012, 2, 29, 10, 15, 0)),
      file(1, kb::pack_time(2012, 2, 29, 11, 0, 0), kb::pack_time(2012, 2, 29, 11, 15, 0)),
      // Runs past midnight: only its first day is marked.
      file(5, kb::pack_time(2012, 3, 1, 23, 59, 59), kb::pack_time(2012, 3, 2, 0, 30, 0)),
  };
  disk.partitions[1].files = {file(0, kb::pack_time(2010, 3, 5, 8, 0, 0), kb::pack_time(2010, 3, 5, 8, 15, 0))};
  fill({disk});

  EXPECT_EQ(calendar_partition_mask(), 0b101u);
  EXPECT_EQ(record_calendar().day_mask[0][12][1][28], 1u << 1);  // channel 33 -> bit 1, channel 1 too
  EXPECT_EQ(calendar_day_mask(0, 2012, 2, 29), 1u << 1);
  EXPECT_EQ(calendar_day_mask(0, 2012, 3, 1), 1u << 5);
  EXPECT_EQ(calendar_day_mask(0, 2012, 3, 2), 0u);
  EXPECT_EQ(calendar_day_mask(2, 2010, 3, 5), 1u);
  EXPECT_EQ(marked_days(), 3);
  EXPECT_EQ(calendar_day_mask(4, 2010, 3, 5), 0u);
  EXPECT_EQ(calendar_day_mask(2, 2063, 3, 5), 0u);
}

TEST_F(Calendar, PartitionWithoutCurrentClusterAndSecondDiskStayOut) {
  kb::Disk disk = two_partitions(1);
  disk.partitions[1].older_lap = test::some_files(30);  // an older lap but nothing on the current one
  disk.partitions[1].tweak = [](kb::ParamBlock& p) { p.current_cluster = 0; };
  kb::Disk other = test::small_disk();
  other.partitions[0].files = {file(7, kb::pack_time(2011, 1, 1, 8, 0, 0), kb::pack_time(2011, 1, 1, 9, 0, 0))};
  fill({disk, other});
  ASSERT_NE(get_pdp(0, 1), nullptr);
  ASSERT_NE(get_pdp(1, 0), nullptr);
  EXPECT_EQ(calendar_partition_mask(), 0u);
  EXPECT_EQ(marked_days(), 0);
}

TEST_F(Calendar, OlderLapDaysFromItsFirstCluster) {
  kb::Disk disk = test::small_disk();
  kb::Partition& p = disk.partitions[0];
  p.older_lap = kb::day_of_files({0}, 2010, 3, 1, 15 * 60);
  p.older_lap.push_back(file(2, kb::pack_time(2010, 3, 2, 1, 0, 0), kb::pack_time(2010, 3, 2, 1, 15, 0)));
  p.older_lap.push_back(file(3, kb::pack_time(2010, 3, 3, 1, 0, 0), kb::pack_time(2010, 3, 3, 1, 15, 0)));
  p.files = test::some_files(60);
  // The older lap begins with the file of channel 2: its first cluster is start_cluster2.
  const kb::BuildResult plan = kb::plan_image(disk);
  ASSERT_TRUE(plan.ok) << plan.error;
  const uint32_t first = plan.partitions[0].older_lap[p.older_lap.size() - 2].first_cluster;
  ASSERT_GT(first, plan.partitions[0].params.current_cluster);
  p.start_cluster2 = first;
  fill({disk});
  EXPECT_EQ(calendar_day_mask(0, 2010, 3, 5), 0xFu);
  EXPECT_EQ(calendar_day_mask(0, 2010, 3, 2), 1u << 2);
  EXPECT_EQ(calendar_day_mask(0, 2010, 3, 3), 1u << 3);
  EXPECT_EQ(calendar_day_mask(0, 2010, 3, 1), 0u);  // before start_cluster2: not a lap any more
}

TEST_F(Calendar, VolumeStartupRebuildsItFromNothing) {
  kb::Disk disk = test::small_disk();
  disk.partitions[0].files = test::some_files(30);
  attach({disk});
  EXPECT_EQ(volume_startup(), 1);
  EXPECT_EQ(calendar_partition_mask(), 1u);
  EXPECT_EQ(calendar_day_mask(0, 2010, 3, 5), 0xFu);
  // The disk goes away: nothing is left of it.
  test::attach_only({});
  EXPECT_EQ(volume_startup(), 0);
  EXPECT_EQ(calendar_partition_mask(), 0u);
  EXPECT_EQ(marked_days(), 0);
}

}  // namespace
}  // namespace krt

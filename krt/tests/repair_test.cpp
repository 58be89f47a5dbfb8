// The repair tools: index rebuild of a whole driver, removal of drivers on bad disks, and the
// index and directory backups (seen through a write hook that records what would be written).
#include <algorithm>

#include "krt/dir_index.h"
#include "krt/disk_io.h"
#include "krt/restore.h"
#include "krt/result.h"
#include "krt/work_drivers.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::Disk;

// One transfer through the write hook.
struct Write {
  uint64_t sector;
  uint16_t count;
  std::vector<uint8_t> bytes;
};
std::vector<Write> g_writes;

int recording_write(uint16_t, uint16_t count, uint32_t lo, uint32_t hi, const uint8_t* buf) {
  g_writes.push_back({uint64_t(hi) << 32 | lo, count, std::vector<uint8_t>(buf, buf + count * kSectorBytes)});
  return 0;
}

// The sectors [first, first + count) that the recorded writes covered, in order, as one
// run; empty when they do not form one.
std::pair<uint64_t, uint64_t> written_run() {
  if (g_writes.empty()) return {0, 0};
  uint64_t next = g_writes.front().sector;
  for (const Write& w : g_writes) {
    if (w.sector != next) return {0, 0};
    next += w.count;
  }
  return {g_writes.front().sector, next - g_writes.front().sector};
}

class Repair : public test::MountTest {
 protected:
  void SetUp() override {
    MountTest::SetUp();
    g_writes.clear();
  }
  void record_writes() { set_disk_hooks(DiskHooks{nullptr, recording_write}); }
};

TEST_F(Repair, RepairDriverRebuildsTheIndexUpToTheFirstUnwrittenCluster) {
  Disk disk = test::small_disk();
  disk.partitions[0].files = test::some_files(60);
  ASSERT_EQ(start({disk}), FS_OK);
  DriverParam& p = *get_pdp(0, 0);
  const uint32_t end = p.current_cluster + 1;  // first cluster never written
  for (uint32_t c = p.rev_clus; c <= end; ++c) set_index_item_info(p, c, 0x55, false);
  p.err_state = 7;
  p.restore_from = 3;
  EXPECT_EQ(repair_driver(0, 0), 0);
  const test::kb::PartitionReport& r = report();
  for (size_t i = 0; i < r.files.size(); ++i) {
    for (uint32_t c : r.files[i].clusters) {
      uint8_t b = 0;
      ASSERT_EQ(get_index_item_info(p, c, b), FS_OK);
      const uint8_t flag = c == r.files[i].first_cluster ? 2 : 0;
      EXPECT_EQ(b, test::kb::index_byte(disk.partitions[0].files[i].channel, flag)) << c;
    }
  }
  uint8_t after = 0;
  ASSERT_EQ(get_index_item_info(p, end, after), FS_OK);
  EXPECT_EQ(after, 0x55);
  EXPECT_EQ(p.err_state, 0u);
  EXPECT_EQ(p.restore_from, p.current_cluster);
  EXPECT_EQ(repair_driver(0, 1), 1);
}

TEST_F(Repair, RemoveBadDisksTakesDriversOutOfTheirRing) {
  Disk disk = test::kb::multi_partition_disk({200000, 200000, 200000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  ASSERT_EQ(start({disk}), FS_OK);
  ASSERT_EQ(type_driver_count(0), 3);

  // A driver with an error status but no bad disk in the report: out of the ring, which
  // stays closed around it.
  DriverParam& middle = *get_pdp(0, 1);
  middle.err_state = 3;
  const int32_t generation = fs_change();
  DiskErrorReport report{};
  test::LogCapture log;
  EXPECT_EQ(remove_bad_disks(report), 0);
  EXPECT_NE(log.text().find("FSWarn remove bad disk 0 1"), std::string::npos);
  EXPECT_EQ(middle.err_state, kErrStateDiskError);
  EXPECT_EQ(middle.next_drv, nullptr);
  EXPECT_EQ(type_driver_count(0), 2);
  EXPECT_EQ(get_pdp(0, 0)->next_drv, get_pdp(0, 2));
  EXPECT_EQ(get_pdp(0, 2)->next_drv, get_pdp(0, 0));
  EXPECT_EQ(fs_change(), generation);

  // A read error in the metadata of partition 0 marks the disk bad: the rings are rebuilt.
  report_disk_error(0, 30, kDiskErrorRead);
  EXPECT_EQ(remove_bad_disks(report), int(kErrStateDiskError));
  EXPECT_EQ(report.read_mask, 1u);
  EXPECT_EQ(report.bad_mask, 1u);
  EXPECT_EQ(disk_error_report().bad_mask, 0u);
  EXPECT_EQ(fs_change(), generation + 1);
  EXPECT_EQ(work_driver(0), get_pdp(0, 2));
  EXPECT_EQ(type_driver_count(0), 1);
  EXPECT_EQ(remove_bad_disks(report), 0);
}

TEST_F(Repair, CopyIndexToTheLastClusterAndBack) {
  Disk disk = test::kb::single_partition_disk(2000000, 4096);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  disk.partitions[0].files = test::some_files(60);
  ASSERT_EQ(start({disk}), FS_OK);
  const DriverParam& p = *get_pdp(0, 0);
  const uint64_t size = p.data_off - p.index_off;
  const uint64_t last = p.data_off + uint64_t(p.total_clus - 1) * 4096;
  record_writes();
  EXPECT_EQ(copy_index(0, 0, true), FS_OK);
  EXPECT_EQ(written_run(), std::make_pair(last, size));
  // The first write carries the first index sector as it is on the disk.
  HeldBuf index(bread(0, p.index_off));
  ASSERT_TRUE(index);
  EXPECT_TRUE(std::equal(index->data, index->data + kSectorBytes, g_writes.front().bytes.begin()));
  index.reset();
  g_writes.clear();
  EXPECT_EQ(copy_index(0, 0, false), FS_OK);
  EXPECT_EQ(written_run(), std::make_pair(uint64_t(p.index_off), size));
  EXPECT_EQ(copy_index(0, 1, true), 1);
}

TEST_F(Repair, CopyIndexRefusesAClusterTooSmallForIt) {
  ASSERT_EQ(start({test::small_disk()}), FS_OK);  // 256 index sectors, 64-sector clusters
  record_writes();
  EXPECT_EQ(copy_index(0, 0, true), FS_OUT_OF_RANGE);
  EXPECT_TRUE(g_writes.empty());
}

TEST_F(Repair, BackupDirCopiesTheDirectoryStartToTheDiskEnd) {
  ASSERT_EQ(start({test::small_disk()}), FS_OK);  // 600,000 sectors
  const uint64_t backup = (600000 / 4096 - 5) * 4096;
  const uint64_t size = 1239 * 16;
  record_writes();
  EXPECT_EQ(backup_dir(0, true), FS_OK);
  EXPECT_EQ(written_run(), std::make_pair(backup, size));
  g_writes.clear();
  EXPECT_EQ(backup_dir(0, false), FS_OK);
  EXPECT_EQ(written_run(), std::make_pair(uint64_t(187), size));
  EXPECT_EQ(backup_dir(1, true), FS_OUT_OF_RANGE);
}

TEST_F(Repair, BackupDirRefusesADiskTooSmallForIt) {
  Disk disk = test::kb::single_partition_disk(40000, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  start({disk});
  record_writes();
  EXPECT_EQ(backup_dir(0, true), FS_OUT_OF_RANGE);
  EXPECT_TRUE(g_writes.empty());
}

}  // namespace
}  // namespace krt

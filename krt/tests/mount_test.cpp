// Start-up and mounting over images made by the image builder: which partitions become
// drivers, the type rings and work drivers, and the refusals of broken tables and blocks.
#include <algorithm>

#include "krt/cache.h"
#include "krt/endian.h"
#include "krt/format.h"
#include "krt/mount.h"
#include "krt/partition.h"
#include "krt/result.h"
#include "krt/work_drivers.h"
#include "builder_raw.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::Disk;
using test::kb::ParamBlock;

class Mount : public test::MountTest {};

TEST_F(Mount, PartitionsZeroAndTwoOnly) {
  Disk disk = test::small_disk();
  disk.partitions[0].sectors = 300000;
  test::kb::Partition second = disk.partitions[0];
  second.slot = 2;
  second.start = 300000;
  disk.partitions.push_back(second);
  disk.sectors = 600000;
  EXPECT_EQ(start({disk}), FS_OK);
  EXPECT_EQ(healthy_, 2);
  using Entries = std::vector<std::pair<int, int>>;
  EXPECT_EQ(mounted(), (Entries{{0, 0}, {0, 2}}));
  EXPECT_EQ(get_pdp(0, 2)->start_sector, 300000u);
  EXPECT_EQ(get_pdp(0, 1), nullptr);
}

TEST_F(Mount, NoDiskMountsNothing) {
  ASSERT_EQ(test::attach_only({}), 0);
  EXPECT_EQ(krt_file_sys_init(healthy_, nullptr), kFsNoHealthyDriver);
  EXPECT_EQ(healthy_, 0);
  EXPECT_TRUE(mounted().empty());
}

TEST_F(Mount, NoTypeZeroDriverReturnsSeven) {
  Disk disk = test::small_disk();
  disk.partitions[0].type = 1;
  EXPECT_EQ(start({disk}), kFsNoHealthyDriver);
  EXPECT_EQ(healthy_, 0);
  ASSERT_EQ(mounted().size(), 1u);
  EXPECT_EQ(work_driver(1), get_pdp(0, 0));
  EXPECT_EQ(work_driver(0), nullptr);
}

TEST_F(Mount, LoadedEntryCarriesTheBlockAndItsPlace) {
  Disk disk = test::small_disk();
  disk.partitions[0].files = test::some_files(60);
  disk.partitions[0].tweak = [](ParamBlock& p) {
    p.dev = 7;  // memory words hold nonsense on disk
    p.part = 3;
    p.dirty = 1;
    p.prev_drv = p.next_drv = 0x1234;
    p.start_sector = 99;
    p.coll_sec = 0;  // read as temp_off + 4
  };
  ASSERT_EQ(start({disk}), FS_OK);
  const DriverParam* p = get_pdp(0, 0);
  ASSERT_NE(p, nullptr);
  const test::kb::ParamBlock& stored = report().params;
  EXPECT_EQ(p->dev, 0);
  EXPECT_EQ(p->part, 0);
  EXPECT_EQ(p->dirty, 0);
  EXPECT_EQ(p->start_sector, 0u);
  EXPECT_EQ(p->coll_sec, kTempOff + 4);
  EXPECT_EQ(p->current_cluster, stored.current_cluster);
  EXPECT_EQ(p->total_clus, stored.total_clus);
  EXPECT_EQ(p->end_time1, stored.end_time1);
  EXPECT_EQ(p->status, kStatusClean);
  // A ring of one.
  EXPECT_EQ(p->next_drv, p);
  EXPECT_EQ(p->prev_drv, p);
}

// ---- Work drivers and rings -----------------------------------------------------------------

struct RingCase {
  const char* name;
  std::vector<uint32_t> types;        // type of partition slot i
  std::vector<uint32_t> end_times;    // end_time1 (seconds after the day's start)
  std::vector<uint32_t> start_times;  // start_time1
  int work;                           // expected work driver of type 0 (slot)
  std::vector<int> ring;              // expected ring of type 0 from the work driver (slots)
};

TEST_F(Mount, WorkDriverAndRingOrder) {
  const RingCase cases[] = {
      {"tie goes to the lower slot", {0, 0}, {100, 100}, {10, 20}, 0, {0, 1}},
      {"latest end wins", {0, 0, 0}, {100, 300, 200}, {30, 20, 10}, 1, {1, 2, 0}},
      {"ring ascends by start time", {0, 0, 0, 0}, {400, 100, 200, 300}, {40, 30, 10, 20}, 0, {0, 2, 3, 1}},
      {"other types stay out", {0, 1, 0, 5}, {100, 900, 200, 900}, {10, 10, 20, 10}, 2, {2, 0}},
  };
  const uint32_t day = test::kb::pack_time(2010, 3, 5, 0, 0, 0);
  for (const RingCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    Disk disk = test::kb::multi_partition_disk(std::vector<uint64_t>(c.types.size(), 150000), 64);
    disk.payload.kind = test::kb::Payload::Kind::kNone;
    for (size_t i = 0; i < c.types.size(); ++i) {
      disk.partitions[i].type = c.types[i];
      const uint32_t start = test::kb::add_seconds(day, c.start_times[i]);
      const uint32_t end = test::kb::add_seconds(day, c.end_times[i]);
      disk.partitions[i].tweak = [start, end](ParamBlock& p) {
        p.start_time1 = start;
        p.end_time1 = end;
      };
    }
    start({disk});
    const DriverParam* work = work_driver(0);
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work->part, c.work);
    std::vector<int> ring;
    const DriverParam* m = work;
    do {
      ring.push_back(m->part);
      EXPECT_EQ(m->next_drv->prev_drv, m);
      m = m->next_drv;
    } while (m != work && ring.size() <= 32);
    EXPECT_EQ(ring, c.ring);
    EXPECT_EQ(type_driver_count(0), int(c.ring.size()));
  }
}

TEST_F(Mount, RebuildDropsDriversInErrorAndMovesTheGeneration) {
  Disk disk = test::kb::multi_partition_disk({200000, 200000, 200000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  ASSERT_EQ(start({disk}), FS_OK);
  EXPECT_EQ(type_driver_count(0), 3);
  const int32_t generation = fs_change();
  get_pdp(0, 1)->err_state = kErrStateDiskError;
  rebuild_work_drivers();
  EXPECT_EQ(fs_change(), generation + 1);
  EXPECT_EQ(type_driver_count(0), 2);
  EXPECT_EQ(get_pdp(0, 1)->next_drv, nullptr);
  EXPECT_EQ(get_pdp(0, 0)->next_drv, get_pdp(0, 2));
}

TEST_F(Mount, ReleasingTheWorkDriverHandsTheRingOn) {
  Disk disk = test::kb::multi_partition_disk({200000, 200000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  ASSERT_EQ(start({disk}), FS_OK);
  ASSERT_EQ(work_driver(0), get_pdp(0, 0));
  EXPECT_EQ(release_driver(0, 0), 0);
  EXPECT_EQ(release_driver(0, 0), -1);
  DriverParam* left = get_pdp(0, 1);
  EXPECT_EQ(work_driver(0), left);
  EXPECT_EQ(left->next_drv, left);
  EXPECT_EQ(type_driver_count(0), 1);
}

TEST_F(Mount, ThirtyThirdPartitionIsRefused) {
  Disk disk = test::kb::multi_partition_disk({20000, 20000, 20000, 20000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  test::LogCapture log;
  EXPECT_EQ(start(std::vector<Disk>(9, disk)), FS_OK);
  EXPECT_EQ(mounted().size(), size_t(kMaxDrivers));
  EXPECT_NE(get_pdp(7, 3), nullptr);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(get_pdp(8, p), nullptr) << p;
  const std::string text = log.text();
  EXPECT_NE(text.find("FSError get_empty_driver failed!"), std::string::npos);
  EXPECT_NE(text.find("FSWarn partition 0 of disk 8 not mounted: 32 partitions are mounted already"), std::string::npos);
  EXPECT_EQ(healthy_, kMaxDrivers);
}

// ---- Refused blocks and tables ------------------------------------------------------------

struct BadBlockCase {
  const char* name;
  std::function<void(ParamBlock&)> tweak;
  const char* warning;  // expected in the log
};

TEST_F(Mount, BrokenBlocksAreRefused) {
  const BadBlockCase cases[] = {
      {"sector_per_clus 0", [](ParamBlock& p) { p.sector_per_clus = 0; }, "refused: sector_per_clus is 0"},
      {"no magic", [](ParamBlock& p) { p.magic = 0x12345678; }, "FSError temp sec check flag error"},
      {"total_clus larger than the partition", [](ParamBlock& p) { p.total_clus = 600000 / 64 + 1; },
       "total_clus exceeds the partition"},
      {"data area past the end", [](ParamBlock& p) { p.total_clus += 1; }, "the data area runs past"},
      {"current_cluster beyond total_clus", [](ParamBlock& p) { p.current_cluster = p.total_clus + 5; },
       "current_cluster lies past"},
      {"current_cluster at total_clus", [](ParamBlock& p) { p.current_cluster = p.total_clus; },
       "current_cluster lies past"},
      {"too many collisions", [](ParamBlock& p) { p.coll_count = 129; }, "more than 128 collisions"},
      {"directory over the data area", [](ParamBlock& p) { p.dir_off = p.data_off - 2; }, "metadata areas"},
      {"index in the free first sectors", [](ParamBlock& p) { p.index_off = 3; }, "metadata areas"},
      {"block over the version sector", [](ParamBlock& p) { p.temp_off = 0; }, "metadata areas"},
      {"free-entry type", [](ParamBlock& p) { p.type = kDriverFree; }, "type 255 of a free entry"},
      {"unknown type", [](ParamBlock& p) { p.type = 6; }, "its partition type is none of 0..5"},
      {"write position before the first recording cluster",
       [](ParamBlock& p) { p.current_cluster = p.rev_clus - 1; }, "current_cluster lies before the first"},
      {"no cluster left for recordings", [](ParamBlock& p) { p.rev_clus = p.total_clus; },
       "rev_clus leaves no cluster"},
  };
  for (const BadBlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    Disk disk = test::small_disk();
    disk.partitions[0].files = test::some_files(30);
    disk.partitions[0].tweak = c.tweak;
    attach({disk});
    test::LogCapture log;
    EXPECT_EQ(krt_fs_mount(0, 0), -1);
    EXPECT_NE(log.text().find(c.warning), std::string::npos) << log.text();
    EXPECT_TRUE(mounted().empty()) << "a refused block stayed in the driver table";
  }
}

TEST_F(Mount, CrashedPartitionIsFormattedInMemoryAndMounted) {
  // Large enough for a formatted user-data area; the disk itself keeps its crashed block.
  Disk disk = test::kb::single_partition_disk(6500000, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  disk.partitions[0].files = test::some_files(30);
  disk.partitions[0].tweak = [](ParamBlock& p) { p.sector_per_clus = 0; };
  test::LogCapture log;
  ASSERT_EQ(start({disk}), FS_OK);
  EXPECT_NE(log.text().find("parameter block of disk 0 partition 0 refused: sector_per_clus is 0"),
            std::string::npos);
  EXPECT_NE(log.text().find("partition 0 of disk 0 is shown empty: its parameter block was refused: "
                            "sector_per_clus is 0; it was re-initialised in memory"),
            std::string::npos);
  EXPECT_EQ(log.text().find("not mounted"), std::string::npos);
  EXPECT_EQ(mount_report(0, 0).state, MountState::kReinitialised);
  EXPECT_STREQ(mount_report(0, 0).reason, "its parameter block was refused: sector_per_clus is 0");
  const DriverParam* p = get_pdp(0, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->sector_per_clus, kStartupSectorsPerClus);
  EXPECT_EQ(p->status, kStatusClean);
  EXPECT_EQ(p->current_cluster, 0u);
  EXPECT_EQ(p->sections[0].end_cluster, 0u);
  EXPECT_EQ(work_driver(0), p);
  detach_disks();
  EXPECT_EQ(krt_testing::raw::u32(path(), kTempOff, offsetof(DriverParamDisk, sector_per_clus)), 0u);
}

TEST_F(Mount, UnusablePartitionEntriesAreRefused) {
  struct Case {
    const char* name;
    test::kb::TableEntry entry;  // replaces slot 1
    const char* warning;
  };
  const Case cases[] = {
      {"past the end of the disk", {300000, 400000, 24, 1}, "runs past the end of the disk"},
      {"start past the end", {900000, 100, 24, 1}, "runs past the end of the disk"},
      {"end overflows", {300000, ~uint64_t(0) - 100, 24, 1}, "runs past the end of the disk"},
      {"overlaps partition 0", {299999, 200000, 24, 1}, "overlaps an earlier partition"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    Disk disk = test::small_disk();
    disk.partitions[0].sectors = 300000;
    disk.sectors = 600000;
    disk.table_override[1] = c.entry;
    test::LogCapture log;
    EXPECT_EQ(start({disk}), FS_OK);
    using Entries = std::vector<std::pair<int, int>>;
    EXPECT_EQ(mounted(), (Entries{{0, 0}}));
    EXPECT_NE(log.text().find(c.warning), std::string::npos) << log.text();
    EXPECT_EQ(krt_fs_mount(0, 1), -1);
  }
}

TEST_F(Mount, CleanOrUnwatchedPartitionsAreNotRestored) {
  // Status 0xaa, or status 0 with type 1: the lagging current_cluster stays as stored.
  for (uint32_t type : {0u, 1u}) {
    SCOPED_TRACE(type);
    SetUp();
    images_.clear();
    Disk disk = test::small_disk();
    disk.partitions[0].files = test::some_files(120);
    disk.partitions[0].type = type;
    disk.partitions[0].unclean = test::kb::Unclean{6, 0, false};
    if (type == 0) disk.partitions[0].tweak = [](ParamBlock& p) { p.status = 0xaa; };
    start({disk});
    const DriverParam* p = get_pdp(0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->current_cluster, report().params.current_cluster);
    EXPECT_EQ(p->current_cluster + 6, report().real_current_cluster);
  }
}

TEST_F(Mount, DriverTypeAndInfo) {
  Disk disk = test::kb::multi_partition_disk({300000, 300000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  disk.partitions[0].files = test::some_files(60);
  ASSERT_EQ(start({disk}), FS_OK);
  get_pdp(0, 1)->type = 9;  // a type no block may carry at mount, set while mounted

  uint32_t type = 99;
  EXPECT_EQ(krt_get_driver_type(0, 0, type), 0);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(krt_get_driver_type(0, 3, type), 1);
  {
    test::LogCapture log;
    EXPECT_EQ(krt_set_driver_type(0, 0, 0), 1);
    EXPECT_EQ(krt_set_driver_type(0, 0, kDriverFree), 1);
    EXPECT_NE(log.text().find("Already this type or can't be set to this type: 0->0"), std::string::npos);
  }
  EXPECT_EQ(krt_set_driver_type(0, 2, 3), 1);

  DriverInfo info{};
  ASSERT_EQ(krt_get_driver_info(0, 0, info), 0);
  const DriverParam* p = get_pdp(0, 0);
  EXPECT_EQ(info.type, 0u);
  EXPECT_EQ(info.is_work, 1u);
  EXPECT_EQ(info.sections, 2u);
  EXPECT_EQ(info.start_time1, p->start_time1);
  EXPECT_EQ(info.end_time1, p->end_time1);
  EXPECT_EQ(info.total_mb, (uint64_t(p->total_clus) * 64 + p->data_off) / 2048);
  EXPECT_EQ(info.free_mb, (p->total_clus - p->current_cluster - 1) * 64 / 2048);
  EXPECT_EQ(info.err_status, 0u);

  {
    test::LogCapture log;
    ASSERT_EQ(krt_get_driver_info(0, 1, info), 0);
    EXPECT_NE(log.text().find("krt_get_driver_info() DISK Set to ReadOnly!"), std::string::npos);
  }
  EXPECT_EQ(info.type, 1u);
  EXPECT_EQ(info.err_status, kErrStateDiskError);
  EXPECT_EQ(get_pdp(0, 1)->type, 1u);
  EXPECT_EQ(krt_get_driver_info(1, 0, info), 1);

  // A new type is stored and saved; the rings keep the old grouping until rebuilt.
  EXPECT_EQ(krt_set_driver_type(0, 0, 3), 0);
  EXPECT_EQ(work_driver(0), get_pdp(0, 0));
  HeldBuf block(bread(0, kTempOff));
  ASSERT_TRUE(block);
  EXPECT_EQ(ld32(block->data + offsetof(DriverParamDisk, type)), 3u);
  rebuild_work_drivers();
  EXPECT_EQ(work_driver(3), get_pdp(0, 0));
}

TEST_F(Mount, PackPeriod) {
  ASSERT_EQ(test::attach_only({}), 0);
  krt_file_sys_init(healthy_, nullptr);
  EXPECT_EQ(pack_period_ms(), 3600000u);
  set_pack_period(59);
  EXPECT_EQ(pack_period_ms(), 3600000u);
  set_pack_period(86400);
  EXPECT_EQ(pack_period_ms(), 86400000u);
  set_pack_period(UINT32_MAX);
  EXPECT_EQ(pack_period_ms(), UINT32_MAX);
  krt_file_sys_init(healthy_, nullptr);
  EXPECT_EQ(pack_period_ms(), 3600000u);
}

}  // namespace
}  // namespace krt

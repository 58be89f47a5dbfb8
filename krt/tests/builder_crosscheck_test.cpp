// The library reads images written by the image builder, which keeps its own copy of the
// format: partition tables, parameter blocks, layouts and the files found by index searches
// must agree with what the builder says it wrote.
#include <map>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/driver.h"
#include "krt/partition.h"
#include "krt/result.h"
#include "krt_testing/image_builder.h"
#include "test_support.h"

namespace krt {
namespace {

namespace kb = krt_testing;

class BuilderCrossCheck : public test::LibraryTest {
 protected:
  // Builds the disk into a temporary image and attaches it as disk 0.
  kb::BuildResult build_and_attach(const kb::Disk& disk) {
    kb::BuildResult built = kb::build_image(disk, image_.path());
    EXPECT_TRUE(built.ok) << built.error;
    EXPECT_EQ(test::attach_only({image_.path()}), 1);
    return built;
  }

  // Loads the parameter block of a built partition into a driver record.
  DriverParam load(const kb::PartitionReport& part) {
    DriverParam p{};
    HeldBuf block(bread(0, part.start + kTempOff));
    EXPECT_TRUE(block && decode_driver_param(block->data, p));
    p.dev = 0;
    p.part = part.slot;
    p.start_sector = part.start;
    return p;
  }

  test::TempImage image_{1};
};

kb::Disk two_partitions_with_an_older_lap() {
  kb::Disk disk = kb::multi_partition_disk({600000, 400000}, 64);
  kb::Partition& p0 = disk.partitions[0];
  p0.older_lap = kb::day_of_files(kb::channel_range(0, 2), 2010, 3, 4, 900);
  p0.files = kb::recordings(kb::channel_range(0, 2), kb::pack_time(2010, 3, 5, 0, 0, 0),
                            kb::pack_time(2010, 3, 5, 6, 0, 0), 900);
  disk.partitions[1].files = kb::day_of_files({5}, 2010, 3, 6, 1800);
  disk.partitions[1].sector_per_clus = 128;
  disk.payload.kind = kb::Payload::Kind::kNone;
  return disk;
}

TEST_F(BuilderCrossCheck, PartitionTablesReadAsBuilt) {
  for (kb::TableStyle style : {kb::TableStyle::kCurrent, kb::TableStyle::kLegacy}) {
    kb::Disk disk = two_partitions_with_an_older_lap();
    disk.table_style = style;
    const kb::BuildResult built = build_and_attach(disk);
    Partition parts[4];
    ASSERT_EQ(krt_read_partitions(0, parts, 4), FS_OK);
    for (const kb::PartitionReport& r : built.partitions) {
      EXPECT_EQ(parts[r.slot].start, r.start);
      EXPECT_EQ(parts[r.slot].size, disk.partitions[size_t(r.slot)].sectors);
    }
    binit();
  }
}

TEST_F(BuilderCrossCheck, VersionBlocksAreJudgedAsTheBuilderMeantThem) {
  const std::map<kb::Version, int> expected = {
      {kb::Version::k04, kVersion04}, {kb::Version::k03, kVersionOther}, {kb::Version::kBadTrailer, kVersionOther}};
  for (const auto& [version, result] : expected) {
    kb::Disk disk = kb::single_partition_disk(300000, 64);
    disk.version = version;
    build_and_attach(disk);
    int got = 0;
    EXPECT_EQ(check_disk_ver(0, got), FS_OK);
    EXPECT_EQ(got, result);
    binit();
  }
}

TEST_F(BuilderCrossCheck, ParameterBlocksAndLayoutsAgree) {
  const kb::Disk disk = two_partitions_with_an_older_lap();
  const kb::BuildResult built = build_and_attach(disk);
  for (const kb::PartitionReport& r : built.partitions) {
    const DriverParam p = load(r);
    const kb::ParamBlock& b = r.params;
    EXPECT_EQ(p.lap, b.lap);
    EXPECT_EQ(p.status, b.status);
    EXPECT_EQ(p.start_time1, b.start_time1);
    EXPECT_EQ(p.end_time1, b.end_time1);
    EXPECT_EQ(p.current_cluster, b.current_cluster);
    EXPECT_EQ(p.start_cluster2, b.start_cluster2);
    EXPECT_EQ(p.end_cluster2, b.end_cluster2);
    EXPECT_EQ(p.start_time2, b.start_time2);
    EXPECT_EQ(p.end_time2, b.end_time2);
    EXPECT_EQ(p.coll_count, b.coll_count);
    EXPECT_EQ(p.ud_start, b.ud_start);
    EXPECT_EQ(p.ud_items, b.ud_items);
    EXPECT_EQ(p.second_dir, b.second_dir);
    EXPECT_EQ(p.reserve_b_start, b.reserve_b_start);

    AreaLayout l{};
    const kb::Partition& described = disk.partitions[size_t(r.slot)];
    ASSERT_TRUE(compute_layout(described.sectors, described.sector_per_clus, l));
    EXPECT_EQ(l.dir_size, r.layout.dir_size);
    EXPECT_EQ(l.index_off, r.layout.index_off);
    EXPECT_EQ(l.data_off, p.data_off);
    EXPECT_EQ(l.total_clus, p.total_clus);
    EXPECT_EQ(l.rev_clus, p.rev_clus);
    EXPECT_EQ(l.reserve_a_size, p.reserve_a_size);
  }
}

TEST_F(BuilderCrossCheck, IndexSearchesFindEveryFileAndClusterTheBuilderPlaced) {
  const kb::Disk disk = two_partitions_with_an_older_lap();
  const kb::BuildResult built = build_and_attach(disk);
  for (const kb::PartitionReport& r : built.partitions) {
    const DriverParam p = load(r);
    std::map<uint8_t, std::vector<const kb::FilePlacement*>> by_channel;
    const auto& files = disk.partitions[size_t(r.slot)].files;
    for (size_t i = 0; i < files.size(); ++i) by_channel[files[i].channel].push_back(&r.files[i]);
    for (const auto& [channel, placed] : by_channel) {
      uint32_t c = p.rev_clus - 1;
      for (const kb::FilePlacement* f : placed) {
        ASSERT_EQ(get_next_clus_no(p, kScanNextFile, c, 0, channel, c), FS_OK);
        ASSERT_EQ(c, f->first_cluster);
        FileInfo info{};
        ASSERT_EQ(get_file_item_info(p, c, info), FS_OK);
        EXPECT_EQ(info.size_kb, f->size_sectors / 2);
        EXPECT_EQ(info.repeat_no, f->repeat_no);
        std::vector<uint32_t> chain{c};
        uint32_t next = c;
        while (get_next_clus_no(p, kScanNextInFile, next, 0, channel, next) == FS_OK) chain.push_back(next);
        EXPECT_EQ(chain, f->clusters);
      }
      uint32_t none = 0;
      EXPECT_EQ(get_next_clus_no(p, kScanNextFile, c, 0, channel, none), FS_READ_FAIL);
    }
  }
}

}  // namespace
}  // namespace krt

// Formatting: the layout written into the parameter block, the reserved marks, the refusals,
// where the writes land, and that a format in the viewer leaves the image as it was.
#include "krt/format.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/mount.h"
#include "krt/partition.h"
#include "krt/result.h"
#include "krt/userdata.h"
#include "krt_testing/image_builder.h"
#include "test_support.h"

namespace krt {
namespace {

namespace kb = krt_testing;

// The data extents of a sparse file and their bytes: equal digests mean equal files, without
// reading the holes.
std::string data_digest(const std::string& path) {
  std::string out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  out += std::to_string(end) + ";";
  off_t at = 0;
  while ((at = ::lseek(fd, at, SEEK_DATA)) >= 0 && at < end) {
    const off_t hole = ::lseek(fd, at, SEEK_HOLE);
    std::string bytes(size_t(hole - at), '\0');
    EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), at), ssize_t(bytes.size()));
    out += std::to_string(at) + ":" + bytes;
    at = hole;
  }
  ::close(fd);
  return out;
}

// One transfer that reached the write hook.
struct Write {
  uint64_t sector;
  uint32_t count;
};

// Records every write and discards it, as the default hook does.
struct WriteLog {
  static inline std::vector<Write> writes;
  static int write(uint16_t, uint16_t count, uint32_t lo, uint32_t hi, const uint8_t*) {
    writes.push_back({uint64_t(hi) << 32 | lo, count});
    return 0;
  }
  // Whether every sector in [first, first + count) was written, and how many writes hit it.
  static bool covers(uint64_t first, uint64_t count) {
    std::vector<std::pair<uint64_t, uint64_t>> runs;
    for (const Write& w : writes) runs.emplace_back(w.sector, w.sector + w.count);
    std::sort(runs.begin(), runs.end());
    uint64_t reached = first;
    for (const auto& [a, b] : runs) {
      if (a <= reached && b > reached) reached = b;
    }
    return reached >= first + count;
  }
};

class FormatTest : public test::LibraryTest {
 protected:
  // Builds the disk into the temporary image and attaches it as disk 0.
  kb::BuildResult build(const kb::Disk& disk) {
    kb::BuildResult built = kb::build_image(disk, image_.path());
    EXPECT_TRUE(built.ok) << built.error;
    EXPECT_EQ(test::attach_only({image_.path()}), 1);
    return built;
  }

  // The parameter block of the partition starting at `start`, as the cache shows it.
  static DriverParam cached_block(uint64_t start) {
    DriverParam p{};
    HeldBuf b(bread(0, start + kTempOff));
    EXPECT_TRUE(b && decode_driver_param(b->data, p));
    p.start_sector = start;
    return p;
  }

  // A disk with one empty partition of `sectors` sectors starting at sector 0.
  static kb::Disk empty_disk(uint64_t sectors, uint32_t sector_per_clus = 4096) {
    kb::Disk disk = kb::single_partition_disk(sectors, sector_per_clus);
    disk.payload.kind = kb::Payload::Kind::kNone;
    return disk;
  }

  test::TempImage image_{1};
};

TEST_F(FormatTest, WorkedExampleAndTenMillionSectors) {
  struct Case {
    uint64_t sectors;
    uint32_t dir_size, second_dir, index_off, index_size, data_off, total_clus, rev_clus;
    uint32_t reserve_a_start, reserve_b_start;
  };
  const Case cases[] = {
      {500'000'000, 9216, 9472, 18688, 288, 19200, 122065, 64, 19200, 19200 + 20480},
      {10'000'000, 3072, 3328, 6400, 96, 6656, 2439, 48, 6656, 6656 + 20480},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sectors);
    build(empty_disk(c.sectors));
    ASSERT_EQ(krt_format_driver(0, 0, 4096), FS_OK);
    const DriverParam p = cached_block(0);
    EXPECT_EQ(p.status, kStatusClean);
    EXPECT_EQ(p.sector_bytes, 512u);
    EXPECT_EQ(p.sector_per_clus, 4096u);
    EXPECT_EQ(p.dir_off, 187u);
    EXPECT_EQ(p.second_dir, c.second_dir);
    EXPECT_EQ(p.index_off, c.index_off);
    EXPECT_EQ(p.data_off, c.data_off);
    EXPECT_EQ(p.total_clus, c.total_clus);
    EXPECT_EQ(p.rev_clus, c.rev_clus);
    EXPECT_EQ(p.temp_off, 24u);
    EXPECT_EQ(p.coll_sec, 28u);
    EXPECT_EQ(p.reserve_a_start, c.reserve_a_start);
    EXPECT_EQ(p.reserve_a_size, 16384u);
    EXPECT_EQ(p.reserve_b_start, c.reserve_b_start);
    EXPECT_EQ(p.reserve_b_size, 20480u);
    EXPECT_EQ(p.ud_start, c.data_off + 40960);
    EXPECT_EQ(p.ud_item_size, 16u);
    EXPECT_EQ(p.ud_items, 0x280000u);
    EXPECT_EQ(p.ud_first_item, 1u);
    EXPECT_EQ(p.ud_last_item, 1u);
    EXPECT_EQ(p.lap, 0);
    EXPECT_EQ(p.type, 0u);
    EXPECT_EQ(p.current_cluster, 0u);
    EXPECT_EQ(p.start_cluster2, 0u);
    EXPECT_EQ(p.coll_count, 0u);
    EXPECT_TRUE(ud_area_fits(p));
    // Reserved clusters are marked in both directory copies and in the index; the first
    // recording cluster is not.
    for (const uint32_t dir : {p.dir_off, p.second_dir}) {
      DriverParam copy = p;
      copy.dir_off = dir;
      DirItem item{};
      ASSERT_EQ(get_dir_item_info(copy, c.rev_clus - 1, item), FS_OK);
      EXPECT_EQ(item.dir_flag, kDirFlagReserved);
      ASSERT_EQ(get_dir_item_info(copy, c.rev_clus, item), FS_OK);
      EXPECT_EQ(item.dir_flag, kDirFlagNever);
    }
    uint8_t byte = 0;
    ASSERT_EQ(get_index_item_info(p, 0, byte), FS_OK);
    EXPECT_EQ(index_flag(byte), kIndexFlagBad);
    ASSERT_EQ(get_index_item_info(p, c.rev_clus - 1, byte), FS_OK);
    EXPECT_EQ(index_flag(byte), kIndexFlagBad);
    ASSERT_EQ(get_index_item_info(p, c.rev_clus, byte), FS_OK);
    EXPECT_EQ(byte, 0);
    binit();
  }
}

TEST_F(FormatTest, RefusesBadParametersAndUnusableSizes) {
  build(kb::multi_partition_disk({6'000'000, 6'144'000}, 4096));
  struct Case {
    int part;
    uint32_t sector_per_clus;
    int result;
    const char* warning;  // expected in the log; null = no warning
  };
  const Case cases[] = {
      {0, 3000, 1, nullptr},  // not a power of two
      {0, 0, 1, nullptr},
      {4, 4096, 1, nullptr},
      {-1, 4096, 1, nullptr},
      {2, 4096, 1, "cannot re-initialise partition 2 of disk 0: no layout fits its 0 sectors"},  // empty entry
      // 6,000,000 / 50 / 4,096 = 29 reserved clusters: 118,784 sectors < 40,960 + 81,920.
      {0, 4096, 1, "cannot re-initialise partition 0 of disk 0: its"},
      // 6,144,000 / 50 = 122,880 sectors: exactly room for the area.
      {1, 4096, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.part << " " << c.sector_per_clus);
    test::LogCapture log;
    WriteLog::writes.clear();
    set_disk_hooks(DiskHooks{nullptr, WriteLog::write});
    EXPECT_EQ(krt_format_driver(0, c.part, c.sector_per_clus), c.result);
    if (c.warning) {
      EXPECT_NE(log.text().find(c.warning), std::string::npos) << log.text();
    }
    if (c.result != 0) {
      EXPECT_TRUE(WriteLog::writes.empty());
    }
  }
}

TEST_F(FormatTest, DiskWithoutVersionBlockIsRefused) {
  kb::Disk disk = empty_disk(10'000'000);
  disk.version = kb::Version::kBadTrailer;
  build(disk);
  test::LogCapture log;
  EXPECT_EQ(krt_format_driver(0, 0, 4096), 1);
  EXPECT_NE(log.text().find("cannot re-initialise partition 0 of disk 0: the partition table cannot be read"), std::string::npos);
}

// Every write of a format lands inside the partition's metadata and reserved clusters: the
// areas are covered whole and no recording cluster is touched.
TEST_F(FormatTest, WritesCoverTheAreasAndStayOutOfRecordingClusters) {
  kb::Disk disk = kb::multi_partition_disk({2'000'000, 10'000'000}, 4096);
  disk.payload.kind = kb::Payload::Kind::kNone;
  const kb::BuildResult built = build(disk);
  const uint64_t start = built.partitions[1].start;
  WriteLog::writes.clear();
  set_disk_hooks(DiskHooks{nullptr, WriteLog::write});
  ASSERT_EQ(krt_format_driver(0, 1, 4096), FS_OK);
  set_disk_hooks(default_disk_hooks());
  const DriverParam p = cached_block(start);
  EXPECT_TRUE(WriteLog::covers(start + kTempOff, 1));
  EXPECT_TRUE(WriteLog::covers(start + kCollSec, 1));
  EXPECT_TRUE(WriteLog::covers(start + p.dir_off, 3072));
  EXPECT_TRUE(WriteLog::covers(start + p.second_dir, 3072));
  EXPECT_TRUE(WriteLog::covers(start + p.index_off, 96));
  EXPECT_TRUE(WriteLog::covers(start + p.ud_start, kUdAreaSectors));
  const uint64_t recording = start + p.data_off + uint64_t(p.rev_clus) * p.sector_per_clus;
  for (const Write& w : WriteLog::writes) {
    EXPECT_GE(w.sector, start);
    EXPECT_LE(w.sector + w.count, recording) << w.sector;
  }
}

// In the viewer the write hook discards: the image keeps every byte, while reads through the
// cache show the fresh partition for the sectors the cache holds.
TEST_F(FormatTest, ViewerFormatChangesOnlyTheCache) {
  kb::Disk disk = empty_disk(10'000'000);
  disk.partitions[0].lap = 3;
  disk.partitions[0].files = kb::day_of_files({0, 1}, 2010, 3, 5, 3600);
  const kb::BuildResult built = build(disk);
  const kb::Layout& l = built.partitions[0].layout;
  const uint32_t first = built.partitions[0].files[0].first_cluster;
  const std::string before = data_digest(image_.path());

  // A directory sector of recorded files, cached before the format.
  const uint64_t files_dir_sector = l.dir_off + first / 16;
  {
    HeldBuf b(bread(0, files_dir_sector));
    ASSERT_TRUE(b);
    ASSERT_EQ(b->data[(first % 16) * 32 + 1], kDirFlagFirst);
  }
  ASSERT_EQ(krt_format_driver(0, 0, 4096), FS_OK);

  EXPECT_EQ(data_digest(image_.path()), before);
  const DriverParam fresh = cached_block(0);
  EXPECT_EQ(fresh.lap, 0);
  EXPECT_EQ(fresh.current_cluster, 0u);
  HeldBuf b(bread(0, files_dir_sector));
  ASSERT_TRUE(b);
  EXPECT_TRUE(std::all_of(b->data, b->data + 512, [](uint8_t x) { return x == 0; }));

  // After the cache is forgotten, the disk's old state shows again.
  b.reset();
  binit();
  const DriverParam old = cached_block(0);
  EXPECT_EQ(old.lap, 3);
  EXPECT_NE(old.current_cluster, 0u);
}

// A disk whose version block is not usable becomes one whole-disk partition, formatted and
// mounted, in the cache only.
TEST_F(FormatTest, ClearDriverMountsOneWholeDiskPartition) {
  kb::Disk disk = kb::multi_partition_disk({6'000'000, 6'000'000}, 4096);
  disk.version = kb::Version::kBadTrailer;
  build(disk);
  const std::string before = data_digest(image_.path());
  EXPECT_EQ(clear_driver(0), FS_OK);
  EXPECT_EQ(data_digest(image_.path()), before);
  Partition parts[4];
  ASSERT_EQ(krt_read_partitions(0, parts, 4), FS_OK);
  EXPECT_EQ(parts[0].start, 0u);
  EXPECT_EQ(parts[0].size, 12'000'000u);
  EXPECT_EQ(parts[1].size, 0u);
  const DriverParam* p = get_pdp(0, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->status, kStatusClean);
  EXPECT_EQ(p->current_cluster, 0u);
  EXPECT_EQ(p->rev_clus, 12'000'000u / 50 / 4096);
  EXPECT_EQ(get_pdp(0, 1), nullptr);
  EXPECT_EQ(clear_driver(-1), FS_OK);
  EXPECT_EQ(clear_driver(kMaxDisks), FS_OK);
}

// The directory and index initialisers on their own: a start of 0 skips, the marks stop at
// the end of the area even when the reserved count is larger, and a failing write is reported.
TEST_F(FormatTest, DirAndIndexInitialisers) {
  test::TempImage img(4096);
  img.tag_krt();
  ASSERT_EQ(test::attach_only({img.path()}), 1);
  WriteLog::writes.clear();
  set_disk_hooks(DiskHooks{nullptr, WriteLog::write});
  EXPECT_EQ(init_dir_area(0, 0, 0, 10, 16), FS_OK);
  EXPECT_EQ(init_index_area(0, 0, 10, 16), FS_OK);
  EXPECT_TRUE(WriteLog::writes.empty());

  ASSERT_EQ(init_dir_area(0, 100, 0, 1000, 20), FS_OK);  // 20 sectors hold 320 items
  EXPECT_TRUE(WriteLog::covers(100, 20));
  for (const Write& w : WriteLog::writes) EXPECT_LE(w.sector + w.count, 120u);
  {
    HeldBuf last(bread(0, 119));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->data[15 * 32 + 1], kDirFlagReserved);
    EXPECT_EQ(last->data[15 * 32], 0);
  }
  ASSERT_EQ(init_index_area(0, 200, 600, 2), FS_OK);
  {
    HeldBuf second(bread(0, 201));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->data[87], kIndexFlagBad);  // byte of cluster 599
    EXPECT_EQ(second->data[88], 0);              // cluster 600 is not reserved
  }
  set_disk_hooks(DiskHooks{nullptr, [](uint16_t, uint16_t, uint32_t, uint32_t, const uint8_t*) {
                             return -1;
                           }});
  EXPECT_EQ(init_dir_area(0, 100, 0, 10, 16), FS_IO_ERROR);
  EXPECT_EQ(init_index_area(0, 200, 10, 16), FS_IO_ERROR);
}

}  // namespace
}  // namespace krt

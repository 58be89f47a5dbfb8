// Opening files by their first cluster and reading them sector by sector over built images
// whose recording data is the builder's pattern, so every byte read is checked.
#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

#include "file_support.h"
#include "krt/disk.h"
#include "krt/work_drivers.h"

namespace krt {
namespace {

using test::kb::FilePlacement;

constexpr uint32_t kP = 64;          // sectors per cluster
constexpr uint16_t kEndLength = 10;  // sectors used in each file's last cluster

// Channels 0-2, 15-minute files of three 5-minute clusters from 08:00 to 08:45: the clusters of
// the three channels interleave (0, 1, 2, 0, 1, 2, ...), and every file holds 2 x 64 + 10 = 138
// sectors.
class FileRead : public test::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    start_ok({test::interleaved_disk(kEndLength)});
  }

  // The first file of channel 1.
  const FilePlacement& file() const { return report().files[1]; }
};

TEST_F(FileRead, FileLayoutIsInterleaved) {
  const FilePlacement& f = file();
  ASSERT_EQ(f.clusters.size(), 3u);
  EXPECT_EQ(f.clusters[1] - f.clusters[0], 3u);  // two clusters of other channels in between
  EXPECT_EQ(f.size_sectors, 2 * kP + kEndLength);
}

struct ReadCase {
  const char* name;
  uint32_t from;      // position before the read (sectors)
  uint32_t n;         // sectors asked for
  int result;         // expected result
  uint32_t data;      // sectors of file data expected at the start of the buffer
  uint32_t fill;      // sectors of 0xFF expected after them
  uint32_t position;  // position after the read
};

TEST_F(FileRead, ReadCases) {
  const uint32_t size = 2 * kP + kEndLength;
  const ReadCase cases[] = {
      {"inside one cluster", 3, 16, FS_OK, 16, 0, 19},
      {"up to a cluster's end", 48, 16, FS_OK, 16, 0, 64},
      {"on from a cluster's end", 64, 5, FS_OK, 5, 0, 69},
      {"across three interleaved clusters", 60, 70, FS_OK, 70, 0, 130},
      {"the whole file", 0, size, FS_OK, size, 0, size},
      {"ending inside the last cluster", size - 4, 10, FS_OK, 4, 6, size},
      {"past the end from the middle", 100, 64, FS_OK, size - 100, 64 - (size - 100), size},
      {"at the exact end", size, 1, FS_READ_FAIL, 0, 0, size},
      {"nothing", 7, 0, FS_OK, 0, 0, 7},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    FILEHANDLE* h = open_file(file());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(krt_file_moveto_len(h, c.from), FS_OK);
    std::vector<uint8_t> buf(size_t(c.n) * kSectorBytes + 1, 0xA5);
    EXPECT_EQ(krt_file_read(h, buf.data(), c.n), c.result);
    const std::vector<uint8_t> want = file_sectors(file(), c.from, c.data);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin()));
    const auto fill = buf.begin() + want.size();
    EXPECT_TRUE(std::all_of(fill, fill + size_t(c.fill) * kSectorBytes, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(buf.back(), 0xA5);  // nothing written past the request
    EXPECT_EQ(tell(h), c.position);
    EXPECT_EQ(krt_file_close(h), FS_OK);
  }
}

TEST_F(FileRead, EveryFileReadsBackInBlocks) {
  // Sequential 8-sector blocks, as a player reads, over every file of every channel.
  for (const FilePlacement& f : report().files) {
    FILEHANDLE* h = open_file(f);
    ASSERT_NE(h, nullptr);
    std::vector<uint8_t> got;
    uint8_t block[8 * kSectorBytes];
    int r;
    while ((r = krt_file_read(h, block, 8)) == FS_OK && tell(h) <= f.size_sectors) {
      got.insert(got.end(), block, block + sizeof block);
      if (tell(h) == f.size_sectors) break;
    }
    got.resize(std::min(got.size(), size_t(f.size_sectors) * kSectorBytes));
    EXPECT_EQ(got, test::kb::expected_bytes(f)) << "file at cluster " << f.first_cluster;
    EXPECT_EQ(krt_file_read(h, block, 8), FS_READ_FAIL);
    krt_file_close(h);
  }
}

TEST_F(FileRead, GotoClusRefusesTheMiddleOfAFile) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(krt_file_moveto_len(h, 70), FS_OK);
  test::LogCapture log;
  EXPECT_EQ(krt_file_goto_clus(h, 0, 0, file().clusters[1]), FS_NO_EXIST_FILE);
  EXPECT_NE(log.text().find("is not where a recording starts"), std::string::npos);
  EXPECT_EQ(tell(h), 70u);  // still where it was
  EXPECT_EQ(krt_file_goto_clus(h, 0, 1, file().first_cluster), FS_NO_EXIST_FILE);  // no driver
  EXPECT_EQ(krt_file_goto_clus(h, 0, 0, 0xFFFFFFF0), FS_BAD_CLUSTER);
  EXPECT_EQ(krt_file_goto_clus(h, 0, 0, get_pdp(0, 0)->total_clus), FS_BAD_CLUSTER);
}

TEST_F(FileRead, FileInfo) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  uint32_t start = 0, end = 0, kb = 0, per_clus = 0;
  ASSERT_EQ(krt_get_file_info2(h, &start, &end, &kb), FS_OK);
  EXPECT_EQ(start, test::kb::pack_time(2010, 3, 5, 8, 0, 0));
  EXPECT_EQ(end, test::kb::pack_time(2010, 3, 5, 8, 15, 0));
  EXPECT_EQ(kb, (2 * kP + kEndLength) >> 1);  // 69 KB
  uint8_t channel = 0, alarm = 9, image = 9, av = 9;
  ASSERT_EQ(krt_get_file_info(h, &channel, &alarm, &image, &av), FS_OK);
  EXPECT_EQ(channel, 1);
  EXPECT_EQ(alarm, 0);
  EXPECT_EQ(av, 2);
  ASSERT_EQ(krt_get_clus_sectors(h, &per_clus), FS_OK);
  EXPECT_EQ(per_clus, kP);
  char path[128];
  ASSERT_EQ(krt_file_get_path(h, path, sizeof path), FS_OK);
  char want[128];
  std::snprintf(want, sizeof want, "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@%x][0].h264",
                file().first_cluster);
  EXPECT_STREQ(path, want);
  char small[12];
  ASSERT_EQ(krt_file_get_path(h, small, sizeof small), FS_OK);
  EXPECT_STREQ(small, "/mnt/idea0/");
  // An unpositioned handle has no file.
  FILEHANDLE* bare = open_handle();
  EXPECT_EQ(krt_get_file_info2(bare, &start, &end, &kb), FS_NO_EXIST_FILE);
  EXPECT_EQ(krt_file_read(bare, reinterpret_cast<uint8_t*>(path), 0), FS_NO_EXIST_FILE);
  EXPECT_EQ(tell(bare), 0u);
}

// A record type outside the six letters is shown as '?', never read past the letter table.
TEST_F(FileRead, PathOfAnUnknownRecordType) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  h->alarm = 200;
  char path[128];
  ASSERT_EQ(krt_file_get_path(h, path, sizeof path), FS_OK);
  EXPECT_NE(std::string(path).find("[?]"), std::string::npos);
}

// Player threads read their files at the same time as a user-interface thread lists files:
// every call holds the library lock, so every thread gets its own file's bytes.
TEST_F(FileRead, ThreadsReadTheirOwnFiles) {
  auto reader = [this](size_t i, bool* same) {
    const FilePlacement& f = report().files[i];
    std::vector<uint8_t> got;
    uint8_t block[2 * kSectorBytes];
    for (int pass = 0; pass < 4; ++pass) {
      FILEHANDLE* h = open_file(f);
      got.clear();
      while (got.size() < size_t(f.size_sectors) * kSectorBytes && krt_file_read(h, block, 2) == FS_OK)
        got.insert(got.end(), block, block + sizeof block);
      krt_file_close(h);
      *same = *same && got == test::kb::expected_bytes(f);
    }
  };
  bool same[4] = {true, true, true, true};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < 4; ++i) threads.emplace_back(reader, i + 3, &same[i]);
  for (int pass = 0; pass < 20; ++pass) {
    FILEHANDLE* h = open_handle();
    file_goto_work_driver(h, 1, test::kb::pack_time(2010, 3, 5, 8, 0, 0), kScanNext, 0, 255, 255);
    while (krt_file_next_in_time(h, 1, test::kb::pack_time(2010, 3, 5, 8, 0, 0), 0, 255) != 0) {
    }
    krt_file_close(h);
  }
  for (std::thread& t : threads) t.join();
  for (bool s : same) EXPECT_TRUE(s);
}

// ---- A remount, and reads that must stay on the disk ---------------------------------------

TEST_F(FileRead, RemountInvalidatesHandles) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  int healthy = 0;
  ASSERT_EQ(krt_file_sys_init(healthy, nullptr), FS_OK);
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_INVALID_HANDLE);
  EXPECT_EQ(krt_file_close(h), FS_INVALID_HANDLE);
  // The slot is free again and a new open gets a valid handle, even at the same address.
  FILEHANDLE* again = open_file(file());
  ASSERT_EQ(again, h);
  EXPECT_EQ(krt_file_read(again, buf, 1), FS_OK);
}

TEST_F(FileRead, ClusterLargerThanTheDiskIsRefused) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  // A driver entry that claims huge clusters (the mount refuses such a block on the disk; here
  // the entry is changed after mounting): the read would leave the disk and is refused.
  get_pdp(0, 0)->sector_per_clus = 0x40000000;
  h->clus_sectors = 0x40000000;
  test::LogCapture log;
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_READ_FAIL);
  EXPECT_NE(log.text().find("file read beyond the disk"), std::string::npos);
  get_pdp(0, 0)->sector_per_clus = 0;  // and a cluster size of 0 refuses every position
  h->clus_sectors = 0;
  EXPECT_EQ(krt_file_goto_clus(h, 0, 0, file().first_cluster), FS_BAD_CLUSTER);
  get_pdp(0, 0)->sector_per_clus = kP;
  h->clus_sectors = kP;
}

// ---- Corrupted chains ---------------------------------------------------------------------

// Images with one file's chain broken on purpose: the builder's plan gives the clusters, a raw
// cluster written over the files breaks the chain.
class FileReadCorrupt : public test::FileTest {
 protected:
  // Channels 0-2 as in FileRead, with `raw` made from the plan written over the files; starts
  // the library and opens file i.
  FILEHANDLE* start_broken(size_t i, const std::function<test::kb::RawCluster(const test::kb::BuildResult&)>& raw) {
    test::kb::Disk disk = test::interleaved_disk(kEndLength);
    const test::kb::BuildResult plan = test::kb::plan_image(disk);
    EXPECT_TRUE(plan.ok);
    disk.partitions[0].raw_clusters.push_back(raw(plan));
    start_ok({disk});
    return open_file(report().files[i]);
  }

  // Reads two clusters' worth from the start of h's file. Returns the result; the log goes to log_.
  int read_two_clusters(FILEHANDLE* h) {
    test::LogCapture capture;
    std::vector<uint8_t> buf(2 * kP * kSectorBytes);
    const int r = krt_file_read(h, buf.data(), 2 * kP);
    log_ = capture.text();
    return r;
  }

  std::string log_;
};

// The index says a cluster of another file continues the file: the read stops there.
TEST_F(FileReadCorrupt, IndexAndDirectoryDisagree) {
  FILEHANDLE* h = start_broken(1, [](const test::kb::BuildResult& plan) {
    test::kb::RawCluster raw;
    raw.cluster = plan.partitions[0].files[1].clusters[0] + 1;  // a cluster of channel 2 ...
    raw.item.dir_flag = 1;
    raw.item.channel = 2;
    raw.item.first_cluster_no = plan.partitions[0].files[2].first_cluster;
    raw.index = test::kb::index_byte(1, 0);  // ... indexed as a later cluster of channel 1
    return raw;
  });
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_two_clusters(h), FS_READ_FAIL);
  EXPECT_NE(log_.find("index and directory disagree"), std::string::npos);
  EXPECT_EQ(krt_file_moveto_len(h, kP + 1), FS_OUT_OF_RANGE);
}

// A later cluster of a file names a first cluster far beyond the partition's clusters.
TEST_F(FileReadCorrupt, ClusterNumbersBeyondTheDisk) {
  FILEHANDLE* h = start_broken(0, [](const test::kb::BuildResult& plan) {
    test::kb::RawCluster raw;
    raw.cluster = plan.partitions[0].files[0].clusters[1];
    raw.item.dir_flag = 1;
    raw.item.first_cluster_no = 0xFFFFFF00;
    return raw;
  });
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_two_clusters(h), FS_READ_FAIL);
  // Positioned by hand on that cluster, the file's first item is beyond the directory.
  test::LogCapture log;
  ASSERT_EQ(load_clus(h, report().files[0].clusters[1]), FS_OK);
  uint32_t kb = 0;
  EXPECT_EQ(krt_get_file_info2(h, nullptr, nullptr, &kb), FS_BAD_CLUSTER);
  EXPECT_EQ(krt_file_moveto_len(h, 0), FS_BAD_CLUSTER);
}

// A parameter block whose sector_per_clus makes the clusters run past the partition does not
// mount (start-up gives the partition up): its files cannot be opened, and nothing is read from
// outside the partition. The healthy partition beside it reads as ever.
TEST_F(FileReadCorrupt, ClustersRunningPastThePartition) {
  test::kb::Disk disk = test::kb::multi_partition_disk({600000, 600000}, kP);
  for (test::kb::Partition& p : disk.partitions)
    p.files = test::files_of(test::kb::channel_range(0, 2), 8, 45, 15, kEndLength);
  disk.partitions[0].tweak = [](test::kb::ParamBlock& p) { p.sector_per_clus = 4096; };
  {
    test::LogCapture log;
    start_ok({disk});
  }
  FILEHANDLE* h = open_handle();
  ASSERT_NE(h, nullptr);
  test::LogCapture log;
  EXPECT_EQ(krt_file_goto_clus(h, 0, 0, report(0, 0).files[1].first_cluster), FS_NO_EXIST_FILE);
  uint8_t buf[kSectorBytes];
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_NO_EXIST_FILE);
  ASSERT_EQ(krt_file_goto_clus(h, 0, 1, report(0, 1).files[1].first_cluster), FS_OK);
  EXPECT_EQ(krt_file_read(h, buf, 1), FS_OK);
}

// Clusters of more than 65,535 sectors are read in several transfers of at most 65,535.
struct Transfer {
  uint16_t count;
  uint64_t sector;
};
std::vector<Transfer> g_transfers;
uint64_t g_data_start = 0;  // transfers before this sector are metadata reads

int counting_read(uint16_t disk, uint16_t count, uint32_t lo, uint32_t hi, uint8_t* buf) {
  const uint64_t sector = uint64_t(hi) << 32 | lo;
  if (sector >= g_data_start) g_transfers.push_back({count, sector});  // not the metadata's
  return disk_read_sectors(disk, count, lo, hi, buf);
}

TEST_F(FileReadCorrupt, HugeClustersAreSplitIntoTransfers) {
  constexpr uint32_t kHuge = 65540;
  test::kb::Disk disk = test::kb::single_partition_disk(4'000'000, kHuge);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  disk.partitions[0].layout.rev_clus = 1;
  test::kb::File f;
  f.start = test::kb::pack_time(2010, 3, 5, 8, 0, 0);
  f.end = test::kb::pack_time(2010, 3, 5, 8, 15, 0);
  f.clusters = 3;  // the last cluster's 16-bit end_length cannot say "full" for such a cluster
  disk.partitions[0].files = {f};
  start_ok({disk});
  const FilePlacement& placed = report().files[0];
  FILEHANDLE* h = open_file(placed);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> buf(size_t(kHuge + 10) * kSectorBytes);
  g_transfers.clear();
  g_data_start = report().layout.data_off;
  set_disk_hooks({counting_read, nullptr});
  EXPECT_EQ(krt_file_read(h, buf.data(), kHuge + 10), FS_OK);
  set_disk_hooks(default_disk_hooks());
  const uint64_t data = report().layout.data_off;
  const uint64_t first = data + uint64_t(placed.clusters[0]) * kHuge;
  const uint64_t second = data + uint64_t(placed.clusters[1]) * kHuge;
  ASSERT_EQ(g_transfers.size(), 3u);
  EXPECT_EQ(g_transfers[0].count, 65535);
  EXPECT_EQ(g_transfers[0].sector, first);
  EXPECT_EQ(g_transfers[1].count, 5);
  EXPECT_EQ(g_transfers[1].sector, first + 65535);
  EXPECT_EQ(g_transfers[2].count, 10);
  EXPECT_EQ(g_transfers[2].sector, second);
  EXPECT_EQ(tell(h), kHuge + 10);
}

// A failing disk read ends the read with FS_READ_FAIL; the position stays before it.
int failing_read(uint16_t, uint16_t, uint32_t, uint32_t, uint8_t*) { return -1; }

TEST_F(FileRead, DiskReadFailure) {
  FILEHANDLE* h = open_file(file());
  ASSERT_NE(h, nullptr);
  uint8_t buf[4 * kSectorBytes];
  test::LogCapture log;
  set_disk_hooks({failing_read, nullptr});
  EXPECT_EQ(krt_file_read(h, buf, 4), FS_READ_FAIL);
  set_disk_hooks(default_disk_hooks());
  EXPECT_EQ(tell(h), 0u);
}

}  // namespace
}  // namespace krt

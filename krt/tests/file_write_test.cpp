// The write side of the file layer over built images, its writes kept in memory: clusters
// taken and linked, splits by the pack period, mirrors, user data, a full partition that wraps,
// clock jumps, and the same recordings written by the writer and laid by the image builder.
#include "krt/file_write.h"

#include <algorithm>
#include <string>

#include "krt/cache.h"
#include "krt/driver_info.h"
#include "krt/driver_transitions.h"
#include "krt/endian.h"
#include "krt/userdata.h"
#include "krt/work_drivers.h"
#include "writer_support.h"

namespace krt {
namespace {

using test::kb::pack_time;
using test::MemoryDisk;

// The events emitted since the test started.
std::vector<std::string>& events() { return test::EventRecorder::events(); }

class FileWrite : public test::WriterTest {
 protected:
  void SetUp() override {
    WriterTest::SetUp();
    test::EventRecorder::install();
  }

  // Starts a disk of 8-sector clusters and a file of channel 1 with one cluster written.
  FILEHANDLE* start_one_cluster_file() {
    start_writer(test::empty_disk(8));
    FILEHANDLE* h = create(1);
    EXPECT_EQ(write(h, data(8, 1)), FS_OK);
    return h;
  }

  // Absolute sector s of cluster c of the driver.
  static uint64_t data_sector(const DriverParam& p, uint32_t c, uint32_t s) {
    return p.start_sector + p.data_off + uint64_t(c) * p.sector_per_clus + s;
  }
};

TEST_F(FileWrite, TenSectorsAtOffsetSixtyCrossIntoTheNextCluster) {
  start_writer(test::empty_disk(64));
  const DriverParam& p = *get_pdp(0, 0);
  const uint32_t rev = p.rev_clus;
  FILEHANDLE* h = create(2);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->first_cluster, 0u) << "no cluster before the first write";
  const std::vector<uint8_t> a = data(60, 1), b = data(10, 2);
  ASSERT_EQ(write(h, a), FS_OK);
  EXPECT_EQ(h->cur_offset, 60u);
  ASSERT_EQ(write(h, b), FS_OK);
  EXPECT_EQ(h->first_cluster, rev);
  EXPECT_EQ(h->cur_cluster, rev + 1);
  EXPECT_EQ(h->curr_clus_num, 1u);
  EXPECT_EQ(h->cur_offset, 6u);
  // Four sectors went to the end of the first cluster, six to the start of the second.
  for (uint32_t s = 60; s < 64; ++s) EXPECT_EQ(MemoryDisk::writes().count({0, data_sector(p, rev, s)}), 1u);
  for (uint32_t s = 0; s < 6; ++s) EXPECT_EQ(MemoryDisk::writes().count({0, data_sector(p, rev + 1, s)}), 1u);
  EXPECT_EQ(MemoryDisk::writes().count({0, data_sector(p, rev + 1, 6)}), 0u);

  const DirItem first = item(rev), second = item(rev + 1);
  EXPECT_EQ(first.dir_flag, kDirFlagFirst);
  EXPECT_EQ(first.down_cluster_no, rev + 1);
  EXPECT_EQ(first.item_num, 1);
  EXPECT_EQ(first.end_length, 6);
  EXPECT_EQ(first.channel, 2);
  EXPECT_EQ(second.dir_flag, kDirFlagLater);
  EXPECT_EQ(second.up_cluster_no, rev);
  EXPECT_EQ(second.first_cluster_no, rev);
  EXPECT_EQ(second.item_num, 1);
  EXPECT_EQ(index_byte(rev), 2 * 4 + kIndexFlagFirst);
  EXPECT_EQ(index_byte(rev + 1), 2 * 4 + kIndexFlagInside);
  EXPECT_EQ(p.current_cluster, rev + 1);

  ASSERT_EQ(krt_file_close(h), FS_OK);
  std::vector<uint8_t> all = a;
  all.insert(all.end(), b.begin(), b.end());
  EXPECT_EQ(read_back(0, 0, rev), all);
  EXPECT_EQ(item(rev + 1).down_cluster_no, 0u) << "the close ends the chain";
}

TEST_F(FileWrite, FailedSectorWriteMarksTheClusterBad) {
  start_writer(test::empty_disk(64));
  const DriverParam& p = *get_pdp(0, 0);
  FILEHANDLE* h = create(0);
  ASSERT_EQ(write(h, data(8, 1)), FS_OK);
  MemoryDisk::failing().push_back({{0, data_sector(p, p.rev_clus, 8)}, data_sector(p, p.rev_clus, 63)});
  EXPECT_EQ(write(h, data(8, 2)), FS_IO_ERROR);
  EXPECT_EQ(index_flag(index_byte(p.rev_clus)), kIndexFlagBad);
  EXPECT_EQ(h->cur_offset, 8u) << "the file keeps what was written before";
}

// A file written once a minute from `open` (second 30 of each minute) until `last`, with one
// write at `last` itself.
struct SplitCase {
  const char* name;
  uint32_t pack_seconds;  // set_pack_period
  uint32_t open;          // creation time
  uint32_t last;          // time of the last write
  bool split;             // whether the last write splits the file
};

TEST_F(FileWrite, PackPeriodSplitsAtClockAlignedMoments) {
  const uint32_t hour = 3600;
  const SplitCase cases[] = {
      // The default period: P = 600.
      {"open 400 minutes, on the hour", hour, pack_time(2010, 3, 5, 10, 20, 0), pack_time(2010, 3, 5, 17, 0, 0), true},
      {"open 299 minutes, on the hour", hour, pack_time(2010, 3, 5, 12, 1, 0), pack_time(2010, 3, 5, 17, 0, 0), false},
      {"open 400 minutes, not on the hour", hour, pack_time(2010, 3, 5, 10, 20, 0), pack_time(2010, 3, 5, 17, 1, 0), false},
      {"open 900 minutes", hour, pack_time(2010, 3, 5, 0, 0, 0), pack_time(2010, 3, 5, 15, 0, 30), true},
      {"open 899 minutes", hour, pack_time(2010, 3, 5, 0, 0, 0), pack_time(2010, 3, 5, 14, 59, 30), false},
      // 60 s: P = 10 divides the hour: multiples of 10 minutes once 5 minutes are over.
      {"P 10, 5 minutes, minute 20", 60, pack_time(2010, 3, 5, 10, 15, 0), pack_time(2010, 3, 5, 10, 20, 0), true},
      {"P 10, 4 minutes, minute 20", 60, pack_time(2010, 3, 5, 10, 16, 0), pack_time(2010, 3, 5, 10, 20, 0), false},
      {"P 10, 9 minutes, minute 25", 60, pack_time(2010, 3, 5, 10, 16, 0), pack_time(2010, 3, 5, 10, 25, 0), false},
      // 240 s: P = 40 neither divides the hour nor is whole hours: 40 minutes at second 0.
      {"P 40, 40 minutes", 240, pack_time(2010, 3, 5, 10, 7, 0), pack_time(2010, 3, 5, 10, 47, 0), true},
      {"P 40, 39 minutes", 240, pack_time(2010, 3, 5, 10, 7, 0), pack_time(2010, 3, 5, 10, 46, 0), false},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    start_writer(test::empty_disk(64));
    set_pack_period(c.pack_seconds);
    use_manual_clock(c.open);
    FILEHANDLE* h = create(1);
    // Writes every two hours (the clock never jumps more than that) at second 30.
    const int32_t total = time_diff(c.last, c.open);
    for (int32_t s = 30; s < total; s += 7200) {
      use_manual_clock(time_add(c.open, s), uint64_t(s) * 1000);
      ASSERT_EQ(write(h, data(1, 1)), FS_OK);
    }
    const uint32_t first = h->first_cluster;
    test::LogCapture log;
    use_manual_clock(c.last, uint64_t(total) * 1000);
    ASSERT_EQ(write(h, data(1, 2)), FS_OK);
    EXPECT_EQ(log.text().find("_file_write pack file internal") != std::string::npos, c.split);
    EXPECT_EQ(h->first_cluster == 0, c.split) << "a split file starts its continuation afresh";
    EXPECT_EQ(h->packed, c.split ? 1u : 0u);
    if (c.split) {
      EXPECT_EQ(item(first).end_time, c.last);
      ASSERT_EQ(write(h, data(1, 3)), FS_OK);
      EXPECT_EQ(item(h->first_cluster).dir_flag, kDirFlagContinued);
      EXPECT_EQ(index_flag(index_byte(h->first_cluster)), kIndexFlagContinued);
    }
    krt_file_close(h);
  }
}

// Two partitions: slot 0 of type 0 and slot 1 of type 3 (mirrors).
test::kb::Disk mirror_disk() {
  test::kb::Disk disk = test::kb::multi_partition_disk({300000, 300000}, 64);
  disk.payload.kind = test::kb::Payload::Kind::kNone;
  disk.partitions[1].type = kMirrorDriverType;
  return disk;
}

TEST_F(FileWrite, MirrorGetsEverySectorAndReportsItsResult) {
  start_writer(mirror_disk());
  const DriverParam& main = *get_pdp(0, 0);
  const DriverParam& mirror = *get_pdp(0, 1);
  FILEHANDLE* h = create(5, true);
  ASSERT_NE(h->mirror, nullptr);
  EXPECT_EQ(h->mirror->pdp, &mirror);
  const std::vector<uint8_t> bytes = data(100, 9);
  ASSERT_EQ(write(h, bytes), FS_OK);
  uint32_t on_main = 0, on_mirror = 0;
  for (const auto& [key, times] : MemoryDisk::writes()) {
    const uint64_t s = key.second;
    if (s >= data_sector(main, main.rev_clus, 0) && s < data_sector(main, main.total_clus, 0)) on_main += times;
    if (s >= data_sector(mirror, mirror.rev_clus, 0)) on_mirror += times;
  }
  EXPECT_EQ(on_main, 100u);
  EXPECT_EQ(on_mirror, 100u);

  EXPECT_EQ(read_back(0, 0, main.rev_clus), bytes);
  EXPECT_EQ(read_back(0, 1, mirror.rev_clus), bytes);

  // A failing mirror fails the write; a failing main file is not hidden by a good mirror.
  MemoryDisk::failing().push_back({{0, data_sector(mirror, mirror.rev_clus, 0)}, data_sector(mirror, mirror.total_clus, 0)});
  EXPECT_EQ(write(h, data(1, 1)), FS_IO_ERROR);
  MemoryDisk::failing() = {{{0, data_sector(main, main.rev_clus, 0)}, data_sector(main, main.total_clus, 0)}};
  EXPECT_EQ(write(h, data(1, 1)), FS_IO_ERROR);
  MemoryDisk::failing().clear();

  FILEHANDLE* m = h->mirror;
  ASSERT_EQ(krt_file_close(h), FS_OK);
  EXPECT_EQ(m->file_flag, kFileFree) << "the mirror is closed with its file";
}

// A card record whose digits are all `digit`, of card type `type`.
UserData card(uint8_t digit, uint8_t type) {
  UserData ud{};
  std::fill(std::begin(ud.card), std::end(ud.card), uint8_t(digit * 0x11));
  ud.card_type = type;
  return ud;
}

// An empty partition whose reserved clusters hold the user-data area.
test::kb::Disk card_disk() {
  test::kb::Disk disk = test::empty_disk(64);
  disk.partitions[0].layout.rev_clus = (kUdAreaOffset + kUdAreaSectors) / 64;
  return disk;
}

TEST_F(FileWrite, UserDataSetBeforeTheFirstWriteIsStoredWithTheFirstCluster) {
  start_writer(card_disk());
  FILEHANDLE* h = create(3, false, 3);
  const UserData ud = card(7, 2);
  ASSERT_EQ(krt_file_set_ud(h, ud), FS_OK);
  EXPECT_EQ(h->ud_pending, 1u);
  UserData back{};
  EXPECT_EQ(fs_get_user_data(h, back), FS_NO_EXIST_FILE);
  ASSERT_EQ(write(h, data(4, 1)), FS_OK);
  EXPECT_EQ(h->ud_pending, 0u);
  EXPECT_EQ(h->ud_written, 1u);
  const DirItem first = item(h->first_cluster);
  EXPECT_EQ(first.up_cluster_no, 1u) << "the first item of the user-data ring";
  ASSERT_EQ(fs_get_user_data(h, back), FS_OK);
  EXPECT_EQ(std::memcmp(back.card, ud.card, sizeof ud.card), 0);
  EXPECT_EQ(back.card_type, 2);

  // A split continues the file with the same user data, stored with its first cluster.
  ASSERT_EQ(krt_file_split(h), FS_OK);
  ASSERT_EQ(write(h, data(4, 2)), FS_OK);
  EXPECT_EQ(item(h->first_cluster).up_cluster_no, 2u);
  ASSERT_EQ(fs_get_user_data(h, back), FS_OK);
  EXPECT_EQ(back.card_type, 2);
}

TEST_F(FileWrite, FileWithoutUserDataSaysSo) {
  start_writer(card_disk());
  FILEHANDLE* h = create(3);
  ASSERT_EQ(write(h, data(4, 1)), FS_OK);
  UserData back{};
  EXPECT_EQ(fs_get_user_data(h, back), FS_NO_USER_DATA);
}

TEST_F(FileWrite, CardRecordingsAreListedByTheirUserData) {
  start_writer(card_disk());
  // Channel 3: card files at 10:00 (card 1), 10:10 (card 2), a regular file at 10:20, a card
  // file at 10:30 (card 1); channel 4: a card file at 10:00 (card 1).
  struct Made {
    uint8_t ch, type, digit;
    uint32_t minute;
  };
  const Made made[] = {{3, 3, 1, 0}, {4, 3, 1, 0}, {3, 3, 2, 10}, {3, 0, 1, 20}, {3, 3, 1, 30}};
  std::vector<uint32_t> firsts;
  for (const Made& m : made) {
    use_manual_clock(pack_time(2010, 3, 5, 10, m.minute, 0), uint64_t(m.minute) * 60000);
    FILEHANDLE* h = create(m.ch, false, m.type);
    ASSERT_EQ(krt_file_set_ud(h, card(m.digit, 1)), FS_OK);
    ASSERT_EQ(write(h, data(4, 1)), FS_OK);
    firsts.push_back(h->first_cluster);
    advance_clock(5 * 60000);
    ASSERT_EQ(krt_file_close(h), FS_OK);
  }
  UserData filter = card(1, 1);
  filter.lap = 3;  // the channel
  FileInfo found[8];
  int count = 8;
  ASSERT_EQ(fs_file_ud_list_ex(pack_time(2010, 3, 5, 9, 0, 0), pack_time(2010, 3, 5, 11, 0, 0), &filter, 1,
                               count, found),
            FS_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(found[0].first_cluster_no, firsts[0]);
  EXPECT_EQ(found[1].first_cluster_no, firsts[4]);

  // A filter that checks nothing lists every card file of the channel; the count caps it.
  UserData any{};
  std::fill(std::begin(any.card), std::end(any.card), 0xFF);
  any.card_type = kAnyCardType;
  any.lap = 3;
  count = 2;
  ASSERT_EQ(fs_file_ud_list_ex(pack_time(2010, 3, 5, 9, 0, 0), pack_time(2010, 3, 5, 11, 0, 0), &any, 1, count,
                               found),
            FS_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(found[1].first_cluster_no, firsts[2]);

  // Nothing before t2.
  count = 8;
  EXPECT_EQ(fs_file_ud_list_ex(pack_time(2010, 3, 5, 9, 0, 0), pack_time(2010, 3, 5, 9, 30, 0), &filter, 1,
                               count, found),
            FS_NO_EXIST_FILE);
  EXPECT_EQ(count, 0);
}

TEST_F(FileWrite, FullLoneDriverWrapsOntoItself) {
  // A partition of 40 recording clusters of 8 sectors.
  start_writer(test::empty_disk(8, 0));
  DriverParam& probe = *get_pdp(0, 0);
  const uint32_t rev = probe.rev_clus;
  SetUp();
  images_.clear();
  start_writer(test::empty_disk(8, rev + 40));
  DriverParam& p = *get_pdp(0, 0);
  ASSERT_EQ(p.total_clus, rev + 40);
  FILEHANDLE* h = create(6);
  for (uint32_t c = 0; c < 40; ++c) {
    advance_clock(60000);
    ASSERT_EQ(write(h, data(8, uint8_t(c))), FS_OK);
  }
  const uint32_t first = h->first_cluster;
  EXPECT_EQ(first, rev);
  EXPECT_EQ(p.current_cluster, rev + 39);
  const uint8_t lap = p.lap;
  advance_clock(60000);
  ASSERT_EQ(write(h, data(1, 99)), FS_OK);

  EXPECT_EQ(events(), std::vector<std::string>{"DiskOver 0"});
  EXPECT_EQ(work_driver(0), &p);
  EXPECT_EQ(p.lap, lap + 1);
  EXPECT_EQ(p.current_cluster, rev);
  // The older lap (rev_clus + 255 .. rev_clus + 39) is empty: dropped with the first cluster.
  EXPECT_EQ(p.start_cluster2, 0u);
  EXPECT_EQ(p.end_cluster2, 0u);
  EXPECT_EQ(h->first_cluster, rev) << "the recording goes on over the oldest cluster";
  EXPECT_EQ(item(rev).dir_flag, kDirFlagContinued);
  EXPECT_EQ(index_flag(index_byte(rev)), kIndexFlagContinued);
  EXPECT_EQ(item(rev + 1).first_cluster_no, first) << "the cut file's clusters stay as written";
}

TEST_F(FileWrite, FullLoneDriverKeepsItsOlderLapFromRevClusPlus255) {
  start_writer(test::empty_disk(8, 0));
  const uint32_t rev = get_pdp(0, 0)->rev_clus;
  SetUp();
  images_.clear();
  start_writer(test::empty_disk(8, rev + 300));
  DriverParam& p = *get_pdp(0, 0);
  FILEHANDLE* h = create(6);
  const std::vector<uint8_t> cluster = data(8, 1);
  for (uint32_t c = 0; c < 300; ++c) {
    advance_clock(60000);
    ASSERT_EQ(write(h, cluster), FS_OK);
  }
  ASSERT_EQ(p.current_cluster, rev + 299);
  ASSERT_TRUE(change_work_driver(p) == FS_OK);
  EXPECT_EQ(p.start_cluster2, rev + 255);
  EXPECT_EQ(p.end_cluster2, rev + 299);
  EXPECT_EQ(p.current_cluster, rev - 1);
  // The next cluster taken is rev_clus, and the older lap moves ahead with it.
  krt_file_split(h);
  advance_clock(60000);
  ASSERT_EQ(write(h, data(1, 2)), FS_OK);
  EXPECT_EQ(h->first_cluster, rev);
  EXPECT_EQ(p.start_cluster2, rev + 256);
}

TEST_F(FileWrite, ClockSetBackCutsTheFileAndAddsACollision) {
  FILEHANDLE* h = start_one_cluster_file();
  DriverParam& p = *get_pdp(0, 0);
  const uint32_t first = h->first_cluster;
  uint32_t t = time_now();
  test::LogCapture log;
  for (int i = 1; i <= 128; ++i) {
    set_clock_time(t = time_add(t, -20));
    ASSERT_EQ(write(h, data(8, 1)), FS_OK);
    ASSERT_EQ(p.coll_count, uint32_t(i));
    ASSERT_EQ(ld32(p.coll_copy + 4 * (i - 1)), h->first_cluster) << "the continuation starts the new run";
    ASSERT_EQ(item(h->first_cluster).dir_flag, kDirFlagContinued);
  }
  EXPECT_EQ(item(first).end_length, 8) << "the cut file is packed";
  EXPECT_EQ(events().size(), 128u);
  EXPECT_EQ(events().front(), "TimeChanged -20S");
  // The table is full: the next clock change still cuts the file but sets no collision.
  set_clock_time(time_add(t, -20));
  ASSERT_EQ(write(h, data(8, 1)), FS_OK);
  EXPECT_EQ(p.coll_count, 128u);
  EXPECT_NE(log.text().find("Too many time collisions in work driver"), std::string::npos);
}

TEST_F(FileWrite, ClockSetForwardCutsTheFileWithoutACollision) {
  FILEHANDLE* h = start_one_cluster_file();
  DriverParam& p = *get_pdp(0, 0);
  const uint32_t first = h->first_cluster;
  set_clock_time(time_add(time_now(), 3 * 3600));
  ASSERT_EQ(write(h, data(8, 1)), FS_OK);
  EXPECT_NE(h->first_cluster, first);
  EXPECT_EQ(item(h->first_cluster).dir_flag, kDirFlagContinued);
  EXPECT_EQ(p.coll_count, 0u);
  EXPECT_EQ(events(), std::vector<std::string>{"TimeChanged 10800S"});
}

TEST_F(FileWrite, WritesNeedAFileOpenForWriting) {
  start_writer(test::empty_disk(64));
  FILEHANDLE* r = open_handle();
  test::LogCapture log;
  EXPECT_EQ(write(r, data(1, 1)), FS_INVALID_HANDLE);
  EXPECT_NE(log.text().find("Invalid file write handle"), std::string::npos);
  FILEHANDLE* h = create(1);
  ASSERT_EQ(krt_file_close(h), FS_OK);
  EXPECT_EQ(write(h, data(1, 1)), FS_INVALID_HANDLE);
  FILEHANDLE* none = nullptr;
  EXPECT_EQ(krt_file_create(0, 1, 2, 0, 0, time_now(), 0, 4, none), FS_NO_HANDLE) << "no work driver of type 4";
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace krt

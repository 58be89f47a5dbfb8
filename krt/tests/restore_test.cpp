// The restore at mount over images of partitions left unclean by their recorder: the real
// write position, the walk's stops and bounds, the index rebuild and the stream check hook.
#include "krt/restore.h"

#include <algorithm>

#include "krt/cache.h"
#include "krt/dir_index.h"
#include "krt/mount.h"
#include "krt/result.h"
#include "mount_support.h"

namespace krt {
namespace {

using test::kb::add_seconds;
using test::kb::Disk;
using test::kb::pack_time;
using test::kb::RawCluster;
using test::kb::Unclean;

// Four channels, 15-minute files of three clusters each, from 08:00 for two hours: 96 clusters.
Disk unclean_disk(Unclean unclean) {
  Disk disk = test::small_disk();
  disk.partitions[0].files = test::some_files(120);
  disk.partitions[0].unclean = unclean;
  return disk;
}

// A first cluster of a one-cluster file, closed (down link 0), of channel 9.
RawCluster closed_file_at(uint32_t cluster, uint32_t start_time) {
  RawCluster raw;
  raw.cluster = cluster;
  raw.item.dir_flag = 2;
  raw.item.start_time = start_time;
  raw.item.end_time = add_seconds(start_time, 60);
  raw.item.first_cluster_no = cluster;
  raw.item.channel = 9;
  raw.index = test::kb::index_byte(9, 2);
  return raw;
}

class Restore : public test::MountTest {
 protected:
  // The driver after start-up over disk.
  DriverParam& mount(const Disk& disk) {
    EXPECT_EQ(start({disk}), FS_OK);
    DriverParam* p = get_pdp(0, 0);
    EXPECT_NE(p, nullptr);
    return *p;
  }

  // Index byte of cluster c as the library reads it now.
  static uint8_t index_of(const DriverParam& p, uint32_t c) {
    uint8_t b = 0xEE;
    EXPECT_EQ(get_index_item_info(p, c, b), FS_OK);
    return b;
  }
};

TEST_F(Restore, FindsTheRealWritePosition) {
  for (uint32_t behind : {0u, 1u, 7u, 95u}) {
    SCOPED_TRACE(behind);
    SetUp();
    images_.clear();
    const Disk disk = unclean_disk(Unclean{behind, 40, false});
    const DriverParam& p = mount(disk);
    const test::kb::PartitionReport& r = report();
    const uint32_t real = r.real_current_cluster;
    EXPECT_EQ(r.params.current_cluster + behind, real);
    EXPECT_EQ(p.current_cluster, real);
    EXPECT_EQ(p.end_time1, pack_time(2010, 3, 5, 10, 0, 0));
    EXPECT_EQ(p.restore_from, real);
    EXPECT_EQ(p.saved_cluster, real);
    EXPECT_EQ(p.status, 0u);  // the restore does not close the partition
    // The index bytes the recorder had not written are rebuilt from the directory.
    for (size_t i = 0; i < r.files.size(); ++i) {
      const uint8_t channel = disk.partitions[0].files[i].channel;
      for (uint32_t c : r.files[i].clusters) {
        const uint8_t flag = c == r.files[i].first_cluster ? kIndexFlagFirst : kIndexFlagInside;
        EXPECT_EQ(index_of(p, c), test::kb::index_byte(channel, flag)) << c;
      }
    }
    // The saved block, in the cache, carries the repaired position.
    HeldBuf block(bread(0, kTempOff));
    ASSERT_TRUE(block);
    DriverParam cached{};
    ASSERT_TRUE(decode_driver_param(block->data, cached));
    EXPECT_EQ(cached.current_cluster, real);
  }
}

TEST_F(Restore, StopsAtTheLastClosedFileWithoutStreamCheck) {
  // Each channel's last file is still open (down link 0xFFFFFFFF): the write position becomes
  // the last cluster of the latest closed file, or stays where it was saved.
  for (uint32_t behind : {2u, 20u}) {
    SCOPED_TRACE(behind);
    SetUp();
    images_.clear();
    const Disk disk = unclean_disk(Unclean{behind, 0, true});
    const DriverParam& p = mount(disk);
    const std::vector<test::kb::File>& files = disk.partitions[0].files;
    const test::kb::PartitionReport& r = report();
    const uint32_t stored = r.params.current_cluster;
    uint32_t want = std::max(stored, p.rev_clus);
    for (size_t i = 0; i < files.size(); ++i) {
      const bool open = std::none_of(files.begin() + long(i) + 1, files.end(),
                                     [&](const test::kb::File& f) { return f.channel == files[i].channel; });
      const uint32_t last = r.files[i].last_cluster;
      if (!open && last >= stored) want = std::max(want, last);
    }
    EXPECT_EQ(p.current_cluster, want);
    EXPECT_LT(p.current_cluster, r.real_current_cluster);
  }
}

struct WalkCase {
  const char* name;
  std::vector<RawCluster> raw;  // clusters relative to the real write position
  uint32_t ahead;               // expected write position: real + ahead
};

TEST_F(Restore, WalkStopsAndBounds) {
  const uint32_t last = pack_time(2010, 3, 5, 9, 55, 0);  // start of the last written clusters
  RawCluster chained_first = closed_file_at(1, add_seconds(last, 60));
  chained_first.item.down_cluster_no = 2;
  RawCluster chained_later = closed_file_at(2, add_seconds(last, 120));
  chained_later.item.dir_flag = 1;
  chained_later.item.first_cluster_no = 1;
  chained_later.item.up_cluster_no = 1;
  chained_later.index = test::kb::index_byte(9, 0);
  RawCluster stray_later = chained_later;
  stray_later.item.up_cluster_no = 0;  // the real position's own cluster: its down link is 0
  // Cluster numbers are relative here; made absolute below.
  const WalkCase cases[] = {
      {"clock 10 s back is the same lap", {closed_file_at(1, add_seconds(last, -10))}, 1},
      {"clock 11 s back is an older lap", {closed_file_at(1, add_seconds(last, -11))}, 0},
      {"a chained later cluster", {chained_first, chained_later}, 2},
      {"a later cluster that its up link does not know", {chained_first, stray_later}, 0},
      // The saved position lags 7 clusters behind: the walk covers saved .. saved + 519.
      {"the 520th cluster is looked at", {closed_file_at(519 - 7, add_seconds(last, 60))}, 519 - 7},
      {"the 521st is not", {closed_file_at(520 - 7, add_seconds(last, 60))}, 0},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    Disk disk = unclean_disk(Unclean{7, 0, false});
    const test::kb::PartitionReport planned = test::kb::plan_image(disk).partitions[0];
    const uint32_t real = planned.real_current_cluster;
    for (RawCluster raw : c.raw) {
      raw.cluster += real;
      raw.item.first_cluster_no += real;
      if (raw.item.down_cluster_no != 0) raw.item.down_cluster_no += real;
      if (raw.item.dir_flag == 1) raw.item.up_cluster_no += real;
      disk.partitions[0].raw_clusters.push_back(raw);
    }
    test::LogCapture log;
    const DriverParam& p = mount(disk);
    EXPECT_EQ(p.current_cluster, real + c.ahead);
  }
}

TEST_F(Restore, WalkNeverReachesTotalClus) {
  for (uint32_t at : {2u, 3u}) {
    SCOPED_TRACE(at);
    SetUp();
    images_.clear();
    Disk disk = unclean_disk(Unclean{0, 0, false});
    const uint32_t real = test::kb::plan_image(disk).partitions[0].real_current_cluster;
    disk.partitions[0].tweak = [real](test::kb::ParamBlock& b) { b.total_clus = real + 3; };
    disk.partitions[0].raw_clusters.push_back(closed_file_at(real + at, pack_time(2010, 3, 5, 11, 0, 0)));
    const DriverParam& p = mount(disk);
    EXPECT_EQ(p.current_cluster, at < 3 ? real + at : real);
  }
}

TEST_F(Restore, OlderLapMovesAheadOrIsDropped) {
  struct Case {
    int older_hours;     // length of the older lap (12 clusters an hour)
    bool older_kept;
  };
  // 96 clusters written, saved 30 behind: the stored older lap starts at rev + 65 + 256 and
  // moves to rev + 95 + 256 when that is still inside it.
  for (const Case& c : {Case{48, true}, Case{27, false}}) {
    SCOPED_TRACE(c.older_hours);
    SetUp();
    images_.clear();
    Disk disk = unclean_disk(Unclean{30, 0, false});
    const uint32_t from = pack_time(2010, 3, 2, 0, 0, 0);
    disk.partitions[0].older_lap =
        test::kb::recordings({0}, from, add_seconds(from, c.older_hours * 3600), 15 * 60);
    ASSERT_NE(test::kb::plan_image(disk).partitions[0].params.start_cluster2, 0u);
    const DriverParam& p = mount(disk);
    const uint32_t real = report().real_current_cluster;
    ASSERT_EQ(p.current_cluster, real);
    if (c.older_kept) {
      EXPECT_EQ(p.start_cluster2, real + 256);
      EXPECT_EQ(p.start_time2, add_seconds(from, int64_t(real + 256 - p.rev_clus) * 300));
      EXPECT_EQ(p.end_cluster2, p.rev_clus + uint32_t(c.older_hours) * 12 - 1);
    } else {
      EXPECT_EQ(p.start_cluster2, 0u);
      EXPECT_EQ(p.end_cluster2, 0u);
      EXPECT_EQ(p.start_time2, 0u);
      EXPECT_EQ(p.end_time2, 0u);
    }
  }
}

TEST_F(Restore, IndexRebuildRange) {
  Disk disk = test::small_disk();
  const uint32_t from = pack_time(2010, 3, 5, 0, 0, 0);
  disk.partitions[0].files = test::kb::recordings({5}, from, add_seconds(from, 700 * 300), 3600);
  DriverParam& p = mount(disk);
  const uint32_t rev = p.rev_clus;
  ASSERT_EQ(p.current_cluster, rev + 699);
  struct Case {
    uint32_t restore_from;  // relative to rev_clus
    uint32_t first_fixed;   // relative to rev_clus
  };
  // Files of 12 clusters: rev_clus + 96 starts one.
  for (const Case& c : {Case{100, 0}, Case{511, 0}, Case{512, 0}, Case{608, 96}}) {
    SCOPED_TRACE(c.restore_from);
    for (uint32_t k = 0; k < 700; ++k) set_index_item_info(p, rev + k, 0x55, false);  // channel 21, flag 1
    p.restore_from = rev + c.restore_from;
    EXPECT_EQ(restore_clus_index(p), FS_OK);
    EXPECT_EQ(p.restore_from, p.current_cluster);
    if (c.first_fixed > 0) {
      EXPECT_EQ(index_of(p, rev + c.first_fixed - 1), 0x55);
    }
    EXPECT_EQ(index_of(p, rev + c.first_fixed), test::kb::index_byte(5, 2));
    EXPECT_EQ(index_of(p, rev + c.first_fixed + 1), test::kb::index_byte(5, 0));
    EXPECT_EQ(index_of(p, rev + 699), test::kb::index_byte(5, 0));
  }
}

TEST_F(Restore, ReservedItemInTheRangeBecomesBad) {
  Disk disk = unclean_disk(Unclean{10, 0, false});
  const uint32_t real = test::kb::plan_image(disk).partitions[0].real_current_cluster;
  RawCluster reserved = closed_file_at(real - 3, pack_time(2010, 3, 5, 9, 50, 0));
  reserved.item.dir_flag = 0xFE;
  reserved.index = test::kb::index_byte(9, 0);
  disk.partitions[0].raw_clusters.push_back(reserved);
  test::LogCapture log;
  const DriverParam& p = mount(disk);
  EXPECT_EQ(index_of(p, real - 3), test::kb::index_byte(9, 3));
  EXPECT_NE(log.text().find("FSWarn restoring an unclean partition: cluster " + std::to_string(real - 3)),
            std::string::npos);
}

TEST_F(Restore, OutOfRangeUpLinkEndsWithAResult) {
  Disk disk = unclean_disk(Unclean{0, 0, false});
  const uint32_t real = test::kb::plan_image(disk).partitions[0].real_current_cluster;
  RawCluster stray = closed_file_at(real + 1, pack_time(2010, 3, 5, 10, 10, 0));
  stray.item.dir_flag = 1;
  stray.item.up_cluster_no = 0xFFFFFF00;
  disk.partitions[0].raw_clusters.push_back(stray);
  DriverParam& p = mount(disk);  // mounting ignores the restore's result
  EXPECT_EQ(p.current_cluster, real);
  p.status = 0;
  test::LogCapture log;
  EXPECT_EQ(restore_fs41(p), FS_BAD_CLUSTER);
  EXPECT_NE(log.text().find("GET_DIR_ITEM"), std::string::npos);
}

TEST_F(Restore, ChainLoopsStayInsideTheWalk) {
  // Two later clusters whose links point at each other: the walk passes them and ends.
  Disk disk = unclean_disk(Unclean{0, 0, false});
  const uint32_t real = test::kb::plan_image(disk).partitions[0].real_current_cluster;
  for (uint32_t k : {1u, 2u}) {
    RawCluster loop = closed_file_at(real + k, pack_time(2010, 3, 5, 10, 10, int(k)));
    loop.item.dir_flag = 1;
    loop.item.up_cluster_no = real + 3 - k;
    loop.item.down_cluster_no = real + 3 - k;
    disk.partitions[0].raw_clusters.push_back(loop);
  }
  DriverParam& p = mount(disk);
  EXPECT_EQ(p.current_cluster, real);
  EXPECT_EQ(restore_fs41(p), FS_OK);
  EXPECT_EQ(repair_driver(0, 0), 0);
}

// ---- Stream check hook ----------------------------------------------------------------------

struct HookCall {
  uint32_t bytes;
  int first_call;
  int restart;
};
std::vector<HookCall> g_calls;
uint32_t g_valid_bytes = 0;  // reported for the first 16 sectors; then the data stops parsing
int g_data_calls = 0;

int fake_stream_check(uint8_t*, uint32_t* bytes, int first_call, int restart) {
  g_calls.push_back({*bytes, first_call, restart});
  if (first_call && !restart) return 0;  // priming with the previous cluster's end
  const bool first_block = ++g_data_calls == 1;
  *bytes = first_block ? g_valid_bytes : 0;
  return first_block ? 0 : 1;
}

TEST_F(Restore, StreamCheckClosesTheOpenFile) {
  struct Case {
    const char* name;
    int minutes;          // one 15-minute file: 3 clusters; one 5-minute file: 1 cluster
    uint32_t valid;       // bytes the hook reports
    uint16_t end_length;  // expected sectors
  };
  const Case cases[] = {
      {"later cluster, 3000 bytes", 15, 3000, 6},
      {"first cluster, one sector", 5, 512, 1},
      {"no valid data leaves it open", 15, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    images_.clear();
    g_calls.clear();
    g_data_calls = 0;
    g_valid_bytes = c.valid;
    set_stream_check_hook(fake_stream_check);
    Disk disk = test::small_disk();
    const uint32_t from = pack_time(2010, 3, 5, 8, 0, 0);
    disk.partitions[0].files = test::kb::recordings({3}, from, add_seconds(from, c.minutes * 60), 15 * 60);
    disk.partitions[0].unclean = Unclean{0, 0, true};
    const DriverParam& p = mount(disk);
    set_stream_check_hook(nullptr);
    const test::kb::FilePlacement& f = report().files[0];
    ASSERT_FALSE(g_calls.empty());
    const bool first_is_last = f.clusters.size() == 1;
    EXPECT_EQ(g_calls[0].first_call, 1);
    EXPECT_EQ(g_calls[0].restart, first_is_last ? 1 : 0);
    DirItem last{}, first{};
    ASSERT_EQ(get_dir_item_info(p, f.last_cluster, last), FS_OK);
    ASSERT_EQ(get_dir_item_info(p, f.first_cluster, first), FS_OK);
    if (c.end_length == 0) {
      EXPECT_EQ(last.down_cluster_no, kNoNextCluster);
      EXPECT_EQ(p.current_cluster, report().params.current_cluster);  // stays where it was saved
      continue;
    }
    EXPECT_EQ(p.current_cluster, f.last_cluster);
    EXPECT_EQ(last.down_cluster_no, 0u);
    EXPECT_EQ(last.end_length, c.end_length);
    // Without a shutdown time the file ends at its last cluster's start, and stays so in the
    // cache; that cluster's end time, read for end_time1, is one second later.
    EXPECT_EQ(last.end_time, last.start_time);
    EXPECT_EQ(p.end_time1, add_seconds(last.start_time, 1));
    EXPECT_EQ(first.end_length, c.end_length);
    EXPECT_EQ(first.item_num, last.item_num);
    EXPECT_EQ(first.end_time, first_is_last ? last.end_time : last.start_time);
  }
}

TEST_F(Restore, StreamCheckEndsTheFileAtAShutdownTimeShortlyAfterIt) {
  const uint32_t from = pack_time(2010, 3, 5, 8, 0, 0);
  const uint32_t last_start = pack_time(2010, 3, 5, 8, 10, 0);  // third cluster of the file
  struct Case {
    int32_t shutdown_after;  // seconds after the open cluster's start
    uint32_t end_time;       // expected end of the closed file
  };
  for (const Case& c : {Case{100, add_seconds(last_start, 100)}, Case{300, add_seconds(last_start, 300)},
                        Case{301, last_start}, Case{-1, last_start}}) {
    SCOPED_TRACE(c.shutdown_after);
    SetUp();
    images_.clear();
    g_calls.clear();
    g_data_calls = 0;
    g_valid_bytes = 512;
    Disk disk = test::small_disk();
    disk.partitions[0].files = test::kb::recordings({3}, from, add_seconds(from, 15 * 60), 15 * 60);
    disk.partitions[0].unclean = Unclean{0, 0, true};
    attach({disk});
    set_stream_check_hook(fake_stream_check);
    const uint32_t shutdown = add_seconds(last_start, c.shutdown_after);
    ASSERT_EQ(krt_file_sys_init(healthy_, &shutdown), FS_OK);
    set_stream_check_hook(nullptr);
    EXPECT_EQ(shutdown_time(), shutdown);
    const test::kb::FilePlacement& f = report().files[0];
    DirItem first{};
    ASSERT_EQ(get_dir_item_info(*get_pdp(0, 0), f.first_cluster, first), FS_OK);
    EXPECT_EQ(first.end_time, c.end_time);
  }
}

}  // namespace
}  // namespace krt

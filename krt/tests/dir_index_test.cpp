// Directory items, index bytes and the twelve kinds of index search over a small partition.
//
// The partition is written straight into an image at the byte offsets of the format (index
// byte of cluster c at relative sector index_off + c / 512; item at dir_off + c / 16), so
// these tests do not depend on the codecs they check.
#include "krt/dir_index.h"

#include <cstring>
#include <map>

#include "krt/endian.h"
#include "krt/packed_time.h"
#include "krt/result.h"
#include "test_support.h"

namespace krt {
namespace {

constexpr uint64_t kStart = 1000;     // first sector of the partition
constexpr uint32_t kDirOff = 187;
constexpr uint32_t kIndexOff = 300;   // three index sectors: clusters 0..1,535
constexpr uint32_t kTotalClus = 1100;

uint8_t ix(uint8_t channel, uint8_t flag) { return uint8_t(channel << 2 | flag); }

// Index bytes of the test partition; clusters not listed are 0 (free, channel 0).
// Current lap: clusters 4..600, older lap: 601..1099.
const std::map<uint32_t, uint8_t> kIndex = {
    {0, ix(0, 3)},   {1, ix(0, 3)},   {2, ix(0, 3)},   {3, ix(0, 3)},    // reserved
    {4, ix(1, 2)},   {5, ix(1, 0)},   {6, ix(1, 0)},                      // file of ch 1
    {7, ix(2, 2)},   {8, ix(2, 0)},                                       // file of ch 2
    {9, ix(1, 1)},   {10, ix(1, 0)},  {11, ix(1, 3)},  {12, ix(1, 0)},    // ch 1 continued, a bad one
    {510, ix(2, 2)}, {511, ix(2, 0)}, {512, ix(2, 0)},                    // across index sectors
    {513, ix(1, 2)}, {600, ix(1, 2)},                                     // last written: 600
    {700, ix(1, 2)}, {701, ix(1, 0)}, {1099, ix(2, 2)},                   // older lap
};

// A raw 32-byte directory item written at the format's offsets.
struct RawItem {
  uint8_t dir_flag;
  uint16_t item_num;
  uint32_t up, down, start, end;
  uint16_t end_length;
  uint32_t first;
  uint8_t byte28, image, repeat, channel_av;
};

class DirIndexTest : public test::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    image_.tag_krt();
    for (const auto& [c, b] : kIndex) image_.write(kStart + kIndexOff + c / 512, &b, 1, c % 512);
    ASSERT_EQ(test::attach_only({image_.path()}), 1);
    pdp_.dev = 0;
    pdp_.part = 0;
    pdp_.start_sector = kStart;
    pdp_.dir_off = kDirOff;
    pdp_.index_off = kIndexOff;
    pdp_.total_clus = kTotalClus;
    pdp_.sector_per_clus = 64;
    pdp_.rev_clus = 4;
    pdp_.current_cluster = 600;
    pdp_.start_cluster2 = 700;
    pdp_.end_cluster2 = 1099;
  }

  void write_item(uint32_t c, const RawItem& r) {
    uint8_t b[32] = {};
    b[0] = 3;  // alarm
    b[1] = r.dir_flag;
    st16(b + 2, r.item_num);
    st32(b + 4, r.up);
    st32(b + 8, r.down);
    st32(b + 12, r.start);
    st32(b + 16, r.end);
    st16(b + 20, 77);
    st16(b + 22, r.end_length);
    st32(b + 24, r.first);
    b[28] = r.byte28;
    b[29] = r.image;
    b[30] = r.repeat;
    b[31] = r.channel_av;
    image_.write(kStart + kDirOff + c / 16, b, sizeof b, 32 * (c % 16));
  }

  // The cached bytes of cluster c's item.
  std::vector<uint8_t> cached_item(uint32_t c, bool* dirty = nullptr) {
    Buf* b = bread(0, kStart + kDirOff + c / 16);
    std::vector<uint8_t> out(b->data + 32 * (c % 16), b->data + 32 * (c % 16) + 32);
    if (dirty) *dirty = b->dirty;
    brelse(b);
    return out;
  }

  test::TempImage image_{kStart + 400};
  DriverParam pdp_{};
};

const uint32_t kT1 = pack_time(TimeFields{2010, 3, 5, 8, 0, 0});
const uint32_t kT2 = pack_time(TimeFields{2010, 3, 5, 8, 15, 0});

TEST_F(DirIndexTest, ReadsEveryFieldOfAnItem) {
  write_item(17, RawItem{2, 5, 41, 18, kT1, kT2, 33, 17, 0xAB, 4, 9, ix(6, 2)});
  DirItem i{};
  ASSERT_EQ(get_dir_item_info(pdp_, 17, i), FS_OK);
  EXPECT_EQ(i.alarm, 3);
  EXPECT_EQ(i.dir_flag, 2);
  EXPECT_EQ(i.item_num, 5);
  EXPECT_EQ(i.up_cluster_no, 41u);
  EXPECT_EQ(i.down_cluster_no, 18u);
  EXPECT_EQ(i.start_time, kT1);
  EXPECT_EQ(i.end_time, kT2);
  EXPECT_EQ(i.hdr_sectors, 77);
  EXPECT_EQ(i.end_length, 33);
  EXPECT_EQ(i.first_cluster_no, 17u);
  EXPECT_EQ(i.unused_28, 0xAB);
  EXPECT_EQ(i.image, 4);
  EXPECT_EQ(i.repeat_no, 9);
  EXPECT_EQ(i.channel, 6);
  EXPECT_EQ(i.av, 2);
  uint8_t round[32];
  encode_dir_item(i, round);
  const std::vector<uint8_t> raw = cached_item(17);
  EXPECT_EQ(std::memcmp(round, raw.data(), 32), 0);

  FileInfo f{};
  ASSERT_EQ(get_file_item_info(pdp_, 17, f), FS_OK);
  EXPECT_EQ(f.size_kb, (5u * 64 + 33) / 2);
  EXPECT_EQ(f.channel, 6);
  EXPECT_EQ(f.first_cluster_no, 17u);
  EXPECT_EQ(f.up_cluster_no, 41u);
  EXPECT_EQ(f.repeat_no, 9);
}

TEST_F(DirIndexTest, ClusterNumbersArePermittedUpToTotalClus) {
  DirItem i{};
  EXPECT_EQ(get_dir_item_info(pdp_, kTotalClus, i), FS_OK);
  test::LogCapture log;
  EXPECT_EQ(get_dir_item_info(pdp_, kTotalClus + 1, i), FS_BAD_CLUSTER);
  EXPECT_NE(log.text().find("FSError GET_DIR_ITEM(0 1101) failed!"), std::string::npos);
  EXPECT_EQ(set_dir_item_end_time(pdp_, kTotalClus + 1, kT1, false), FS_BAD_CLUSTER);
}

TEST_F(DirIndexTest, EndTimeOfAClusterFollowsItsLinkOrItsOwnTimes) {
  write_item(20, RawItem{2, 0, 0, 21, kT1, kT1, 0, 20, 0, 0, 0, 0});
  write_item(21, RawItem{1, 1, 20, kNoNextCluster, kT2, kT2, 0, 20, 0, 0, 0, 0});
  write_item(22, RawItem{2, 0, 0, 0, kT1, kT2, 0, 22, 0, 0, 0, 0});
  uint32_t t = 0;
  ASSERT_EQ(get_dir_item_time1(pdp_, 20, t), FS_OK);
  EXPECT_EQ(t, kT2);  // start of the next cluster
  ASSERT_EQ(get_dir_item_time1(pdp_, 22, t), FS_OK);
  EXPECT_EQ(t, kT2);
  ASSERT_EQ(get_dir_item_time1(pdp_, 21, t), FS_OK);
  EXPECT_EQ(t, time_add(kT2, 1));  // equal times: one second later
  bool dirty = true;
  EXPECT_EQ(ld32(cached_item(21, &dirty).data() + 16), kT2) << "the cached item is left as stored";
  EXPECT_FALSE(dirty);
  ASSERT_EQ(get_dir_item_time(pdp_, 21, t), FS_OK);
  EXPECT_EQ(t, kT2);
}

TEST_F(DirIndexTest, SettersChangeTheirFieldsAndMarkTheSector) {
  static std::vector<uint64_t> written;
  written.clear();
  set_disk_hooks(DiskHooks{nullptr, [](uint16_t, uint16_t, uint32_t lo, uint32_t, const uint8_t*) {
                             written.push_back(lo);
                             return 0;
                           }});
  write_item(40, RawItem{2, 0, 0, kNoNextCluster, kT1, kT1, 0, 40, 0x5C, 0, 0, 0});
  ASSERT_EQ(set_dir_first_item(pdp_, 40, 12, 7, kT2, false), FS_OK);
  ASSERT_EQ(set_dir_item_up_clus(pdp_, 40, 99, false), FS_OK);
  bool dirty = false;
  std::vector<uint8_t> item = cached_item(40, &dirty);
  EXPECT_TRUE(dirty);
  EXPECT_TRUE(written.empty());
  EXPECT_EQ(ld32(item.data() + 16), kT2);
  EXPECT_EQ(ld16(item.data() + 22), 12);
  EXPECT_EQ(ld16(item.data() + 2), 7);
  EXPECT_EQ(ld32(item.data() + 4), 99u);
  EXPECT_EQ(item[28], 0x5C);

  ASSERT_EQ(set_dir_last_item(pdp_, 40, 3, kT1, true), FS_OK);
  item = cached_item(40, &dirty);
  EXPECT_FALSE(dirty);
  EXPECT_EQ(written, (std::vector<uint64_t>{kStart + kDirOff + 40 / 16}));
  EXPECT_EQ(ld32(item.data() + 8), 0u);
  EXPECT_EQ(ld16(item.data() + 22), 3);

  // The down link is written at once only when the next item lies in another sector.
  ASSERT_EQ(set_dir_item_down_clus(pdp_, 40, 41, true), FS_OK);
  EXPECT_EQ(written.size(), 1u);
  cached_item(40, &dirty);
  EXPECT_TRUE(dirty);
  ASSERT_EQ(set_dir_item_down_clus(pdp_, 40, 48, true), FS_OK);
  EXPECT_EQ(written.size(), 2u);
  EXPECT_EQ(ld32(cached_item(40).data() + 8), 48u);

  DirItem full{};
  full.dir_flag = 1;
  full.channel = 9;
  ASSERT_EQ(set_dir_item_info(pdp_, 41, full, false), FS_OK);
  EXPECT_EQ(cached_item(41)[31], ix(9, 0));
  ASSERT_EQ(set_dir_item_end_time(pdp_, 41, kT2, true), FS_OK);
  EXPECT_EQ(written.size(), 3u);
  EXPECT_EQ(ld32(cached_item(41).data() + 16), kT2);
}

TEST_F(DirIndexTest, FreshItemsCountFilesAndKeepByte28) {
  DirItem a{};
  a.unused_28 = 0x42;
  init_dir_item(a, 70, 6, 1, 2, kDirFlagFirst, 5, 123, 0, 8);
  DirItem b{};
  init_dir_item(b, 3, 1, 0, 0, kDirFlagLater, 123, 123, 1, 8);
  DirItem c{};
  init_dir_item(c, 3, 1, 0, 0, kDirFlagLater, 124, 123, 2, 8);
  EXPECT_EQ(a.unused_28, 0x42);
  EXPECT_EQ(a.channel, 70 & 0x3F);
  EXPECT_EQ(a.av, 2);
  EXPECT_EQ(a.down_cluster_no, kNoNextCluster);
  EXPECT_EQ(a.start_time, a.end_time);
  EXPECT_NE(a.start_time, 0u);
  EXPECT_EQ(a.end_length, 0);
  EXPECT_EQ(a.first_cluster_no, 123u);
  EXPECT_EQ(uint8_t(b.repeat_no - a.repeat_no), 1);  // the counter moved on after a first item
  EXPECT_EQ(c.repeat_no, b.repeat_no);
}

TEST_F(DirIndexTest, IndexBytesAndBadClusters) {
  uint8_t b = 0;
  make_index_item(b, 5, 6);
  EXPECT_EQ(b, ix(5, 2));
  ASSERT_EQ(get_index_item_info(pdp_, 513, b), FS_OK);
  EXPECT_EQ(b, ix(1, 2));
  ASSERT_EQ(set_index_item_info(pdp_, 513, ix(4, 0), false), FS_OK);
  ASSERT_EQ(get_index_item_info(pdp_, 513, b), FS_OK);
  EXPECT_EQ(b, ix(4, 0));
  // A bad cluster stays bad and the call still succeeds.
  EXPECT_EQ(set_index_item_info(pdp_, 11, ix(1, 0), true), FS_OK);
  ASSERT_EQ(get_index_item_info(pdp_, 11, b), FS_OK);
  EXPECT_EQ(b, ix(1, 3));
  ASSERT_EQ(set_bad_clus(pdp_, 5), FS_OK);
  ASSERT_EQ(get_index_item_info(pdp_, 5, b), FS_OK);
  EXPECT_EQ(b, ix(1, 3));
}

// ---- The index search ------------------------------------------------------------------------

struct ScanCase {
  const char* name;
  int kind;
  uint32_t from, limit;
  uint8_t channel;
  int result;        // of scan_index
  uint32_t found;    // out, when result is not FS_READ_FAIL
};

class ScanTest : public DirIndexTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, FindsTheClusterItsKindAsksFor) {
  const ScanCase& c = GetParam();
  uint32_t out = 0xDEAD;
  EXPECT_EQ(scan_index(pdp_, c.kind, c.from, c.limit, c.channel, out), c.result);
  if (c.result != FS_READ_FAIL) {
    EXPECT_EQ(out, c.found);
  }
  const int mapped = c.result == kScanFileEnded ? FS_READ_FAIL : c.result;
  EXPECT_EQ(get_next_clus_no(pdp_, c.kind, c.from, c.limit, c.channel, out), mapped);
}

constexpr int kFail = FS_READ_FAIL;

INSTANTIATE_TEST_SUITE_P(
    Kinds, ScanTest,
    ::testing::Values(
        ScanCase{"Writable_PassesBadCluster", kScanWritable, 10, 0, 1, FS_OK, 12},
        ScanCase{"Writable_NothingLeft", kScanWritable, 1099, 0, 1, kFail, 0},
        ScanCase{"Next_SameFile", kScanNext, 4, 0, 1, FS_OK, 5},
        ScanCase{"Next_SkipsOtherChannels", kScanNext, 6, 0, 1, FS_OK, 9},
        ScanCase{"Next_SkipsBad", kScanNext, 10, 0, 1, FS_OK, 12},
        ScanCase{"Next_UpToLimit", kScanNext, 8, 509, 2, kFail, 0},
        ScanCase{"Next_AtLimit", kScanNext, 8, 510, 2, FS_OK, 510},
        ScanCase{"Next_LimitKeptInsideThePartition", kScanNext, 1098, 5000, 2, FS_OK, 1099},
        ScanCase{"Next_AnyChannel", kScanNext, 6, 0, kAnyChannel, FS_OK, 7},
        ScanCase{"NextFile_ContinuedCounts", kScanNextFile, 4, 0, 1, FS_OK, 9},
        ScanCase{"NextFile_AcrossIndexSectors", kScanNextFile, 9, 0, 1, FS_OK, 513},
        ScanCase{"NextFile_CurrentLapEndsAtTheWritePosition", kScanNextFile, 600, 0, 1, kFail, 0},
        ScanCase{"NextFile_OlderLap", kScanNextFile, 650, 0, 1, FS_OK, 700},
        ScanCase{"NextOrFirst_Inside", kScanNextOrFirst, 4, 0, 1, FS_OK, 5},
        ScanCase{"NextOrFirst_FirstCluster", kScanNextOrFirst, 12, 0, 1, kScanAtFileStart, 513},
        ScanCase{"NextBad", kScanNextBad, 4, 0, kAnyChannel, FS_OK, 11},
        ScanCase{"Self", kScanSelf, 5, 0, 1, FS_OK, 5},
        ScanCase{"Self_OlderLap", kScanSelf, 650, 0, 1, FS_OK, 650},
        ScanCase{"Prev_SkipsOtherChannels", kScanPrev, 9, 0, 1, FS_OK, 6},
        ScanCase{"Prev_AcrossIndexSectors", kScanPrev, 512, 9, 2, FS_OK, 511},
        ScanCase{"Prev_AcrossIndexSectorsBackwards", kScanPrev, 513, 100, 2, FS_OK, 512},
        ScanCase{"PrevFile", kScanPrevFile, 12, 0, 1, FS_OK, 9},
        ScanCase{"PrevFile_ToTheFirstFile", kScanPrevFile, 9, 0, 1, FS_OK, 4},
        ScanCase{"PrevFile_DownToLimit", kScanPrevFile, 509, 7, 2, FS_OK, 7},
        ScanCase{"PrevFile_LimitExcludes", kScanPrevFile, 509, 8, 2, kFail, 0},
        ScanCase{"PrevFile_OlderLapNeverReachesTheCurrentLap", kScanPrevFile, 701, 0, 1, FS_OK, 700},
        ScanCase{"PrevFile_OlderLapStopsAtItsStart", kScanPrevFile, 700, 0, 1, kFail, 0},
        ScanCase{"NextInFile", kScanNextInFile, 4, 0, kAnyChannel, FS_OK, 5},
        ScanCase{"NextInFile_FileEnded", kScanNextInFile, 6, 0, kAnyChannel, kScanFileEnded, 9},
        ScanCase{"NextInFile_OwnChannelOnly", kScanNextInFile, 8, 0, 1, kScanFileEnded, 510},
        ScanCase{"NextFileAny", kScanNextFileAny, 4, 0, 1, FS_OK, 7},
        ScanCase{"PrevInFile", kScanPrevInFile, 6, 0, 1, FS_OK, 5},
        ScanCase{"PrevInFile_AtFirst", kScanPrevInFile, 4, 0, 1, kScanAtFileStart, 4},
        ScanCase{"PrevInFile_AtContinued", kScanPrevInFile, 9, 0, 1, kScanAtFileStart, 9},
        ScanCase{"PrevFromFirst", kScanPrevFromFirst, 6, 0, 1, FS_OK, 5},
        ScanCase{"PrevFromFirst_AtFirst", kScanPrevFromFirst, 4, 0, 1, kScanAtFileStart, 4},
        ScanCase{"PrevFromFirst_OtherChannel", kScanPrevFromFirst, 4, 0, 2, kFail, 0},
        ScanCase{"PrevFromFirst_ContinuedIsNotAStop", kScanPrevFromFirst, 9, 0, 1, FS_OK, 6},
        ScanCase{"UnknownKind", 13, 4, 0, 1, kFail, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DirIndexTest, WritableScanGivesSkippedBadClustersAFreshItem) {
  test::LogCapture log;
  uint32_t out = 0;
  ASSERT_EQ(scan_index(pdp_, kScanWritable, 10, 0, 1, out), FS_OK);
  EXPECT_NE(log.text().find("FSWarn jump over bad cluster, dev = 0, clus = 11\n"), std::string::npos);
  DirItem i{};
  ASSERT_EQ(get_dir_item_info(pdp_, 11, i), FS_OK);
  EXPECT_EQ(i.dir_flag, kDirFlagFirst);
  EXPECT_EQ(i.first_cluster_no, 11u);
  EXPECT_NE(i.start_time, 0u);
  EXPECT_EQ(i.start_time, i.end_time);
  // Reserved clusters below rev_clus are passed without an item.
  ASSERT_EQ(scan_index(pdp_, kScanWritable, 0, 0, 1, out), FS_OK);
  EXPECT_EQ(out, 4u);
  ASSERT_EQ(get_dir_item_info(pdp_, 2, i), FS_OK);
  EXPECT_EQ(i.dir_flag, 0);
}

TEST_F(DirIndexTest, DriverWithoutIndexAnswersEverySearchWithNoIndex) {
  pdp_.index_off = 0;
  uint32_t out = 0;
  for (int kind = kScanWritable; kind <= kScanPrevFromFirst; ++kind) {
    EXPECT_EQ(get_next_clus_no(pdp_, kind, 4, 0, 1, out), FS_NO_INDEX) << kind;
  }
}

TEST_F(DirIndexTest, UnreadableIndexSectorIsAnIoError) {
  static int reads;
  reads = 0;
  set_readahead(false);  // the hook fails by its count of reads, one per sector
  set_disk_hooks(DiskHooks{[](uint16_t d, uint16_t n, uint32_t lo, uint32_t hi, uint8_t* buf) {
                             return ++reads == 2 ? -1 : disk_read_sectors(d, n, lo, hi, buf);
                           },
                           nullptr});
  uint32_t out = 0;
  EXPECT_EQ(scan_index(pdp_, kScanNextFile, 9, 0, 1, out), FS_IO_ERROR);  // second sector fails
  EXPECT_EQ(scan_index(pdp_, kScanNextFile, 9, 0, 1, out), FS_OK);        // and is read again
  EXPECT_EQ(out, 513u);
  uint8_t b = 0;
  reads = 0;
  binit();
  reads = 1;
  EXPECT_EQ(get_index_item_info(pdp_, 5, b), FS_IO_ERROR);
  DirItem i{};
  reads = 1;
  EXPECT_EQ(get_dir_item_info(pdp_, 5, i), FS_IO_ERROR);
}

}  // namespace
}  // namespace krt

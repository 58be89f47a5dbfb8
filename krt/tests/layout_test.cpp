// Partition areas, version block, partition table and the parameter block codec.
#include "krt/layout.h"

#include <cstring>

#include "krt/cache.h"
#include "krt/driver.h"
#include "krt/endian.h"
#include "krt/partition.h"
#include "krt/result.h"
#include "test_support.h"

namespace krt {
namespace {

TEST(AreaLayout, WorkedExampleOfAFiveHundredMillionSectorPartition) {
  AreaLayout l{};
  ASSERT_TRUE(compute_layout(500000000, 4096, l));
  EXPECT_EQ(l.dir_size, 9216u);
  EXPECT_EQ(l.dir_off, 187u);
  EXPECT_EQ(l.second_dir, 9472u);
  EXPECT_EQ(l.index_off, 18688u);
  EXPECT_EQ(l.index_size, 288u);
  EXPECT_EQ(l.data_off, 19200u);
  EXPECT_EQ(l.total_clus, 122065u);
  EXPECT_EQ(l.rev_clus, 64u);
  EXPECT_EQ(l.reserve_a_start, 19200u);
  EXPECT_EQ(l.reserve_a_size, 16384u);
  EXPECT_EQ(l.reserve_b_start, 19200u + 20480u);
  EXPECT_EQ(l.reserve_b_size, 20480u);
  EXPECT_EQ(l.ud_start, 19200u + 40960u);
}

TEST(AreaLayout, SmallerPartitionsAndRefusals) {
  AreaLayout l{};
  ASSERT_TRUE(compute_layout(10000000, 4096, l));
  EXPECT_EQ(l.rev_clus, 48u);  // reserve 200,000 sectors
  EXPECT_NE(l.reserve_a_size, 0u);
  EXPECT_NE(l.reserve_b_size, 0u);  // 48 × 4,096 > 40,960
  ASSERT_TRUE(compute_layout(1000000, 4096, l));
  EXPECT_EQ(l.rev_clus, 4u);  // 16,384 sectors: no reserved sub-area
  EXPECT_EQ(l.reserve_a_size, 0u);
  EXPECT_EQ(l.reserve_b_size, 0u);
  EXPECT_FALSE(compute_layout(10000000, 0, l));
  EXPECT_FALSE(compute_layout(1000, 8, l));                 // smaller than its own metadata
  EXPECT_FALSE(compute_layout(uint64_t(1) << 40, 1, l));    // too many clusters for 32 bits
}

// ---- Version block and partition table on an image ----------------------------------------

constexpr size_t kEntry0 = 56;
constexpr size_t kEntrySize = 64;

struct RawEntry {
  uint64_t start, size;
  uint32_t legacy_param, in_use;
};

// Builds a disk image with the given sector 0 bytes and table entries (offsets from the format).
class TableImage {
 public:
  TableImage(const char* version, char t, char s, std::vector<RawEntry> entries) : image_(64) {
    uint8_t sector[512] = {};
    std::memcpy(sector, version, 7);
    sector[510] = uint8_t(t);
    sector[511] = uint8_t(s);
    image_.write(0, sector, sizeof sector);
    uint8_t table[512] = {};
    for (size_t i = 0; i < entries.size(); ++i) {
      uint8_t* e = table + kEntry0 + i * kEntrySize;
      st64(e, entries[i].start);
      st64(e + 8, entries[i].size);
      st32(e + 28, entries[i].legacy_param);
      st32(e + 56, entries[i].in_use);
      st32(e + 20, 0xC0FFEE);  // an unused word that writing must keep
    }
    image_.write(20, table, sizeof table);
  }
  const test::TempImage& image() const { return image_; }

 private:
  test::TempImage image_;
};

const char kV04[7] = {'K', 'R', 'T', '0', '.', '4', 0};
const char kV03[7] = {'K', 'R', 'T', '0', '.', '3', 0};
const char kV04NoZero[7] = {'K', 'R', 'T', '0', '.', '4', '5'};

class PartitionTest : public test::LibraryTest {};

struct VersionCase {
  const char* name;
  const char* version;
  char t, s;
  int expected;
};

class VersionTest : public PartitionTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, AcceptsOnlyVersionZeroFourWithItsSignature) {
  const VersionCase& c = GetParam();
  TableImage disk(c.version, c.t, c.s, {});
  ASSERT_EQ(test::attach_only({disk.image().path()}), 1);
  int result = 0;
  EXPECT_EQ(check_disk_ver(0, result), FS_OK);
  EXPECT_EQ(result, c.expected);
  Partition p[4];
  EXPECT_EQ(krt_read_partitions(0, p, 4), c.expected == kVersion04 ? FS_OK : 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, VersionTest,
                         ::testing::Values(VersionCase{"Version04", kV04, 'T', 'S', kVersion04},
                                           VersionCase{"SignatureSwapped", kV04, 'S', 'T', kVersionOther},
                                           VersionCase{"Version03", kV03, 'T', 'S', kVersionOther},
                                           VersionCase{"NoZeroByte", kV04NoZero, 'T', 'S', kVersionOther}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PartitionTest, UnreadablePartitionTableSectorIsAnIoError) {
  test::TempImage tiny(10);  // sector 20 lies past the end
  tiny.write(0, kV04, 7);
  ASSERT_EQ(test::attach_only({tiny.path()}), 1);
  int result = -1;
  EXPECT_EQ(check_disk_ver(0, result), FS_IO_ERROR);
  EXPECT_EQ(result, -1);
  Partition p[4];
  EXPECT_EQ(krt_read_partitions(0, p, 4), 1);
}

struct TableCase {
  const char* name;
  std::vector<RawEntry> entries;
  int count;
  std::vector<Partition> expected;
};

class TableReadTest : public PartitionTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(TableReadTest, ReadsEntriesWithTheLegacyRule) {
  const TableCase& c = GetParam();
  TableImage disk(kV04, 'T', 'S', c.entries);
  ASSERT_EQ(test::attach_only({disk.image().path()}), 1);
  Partition out[4] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
  ASSERT_EQ(krt_read_partitions(0, out, c.count), FS_OK);
  for (size_t i = 0; i < c.expected.size(); ++i) {
    EXPECT_EQ(out[i].start, c.expected[i].start) << i;
    EXPECT_EQ(out[i].size, c.expected[i].size) << i;
  }
  for (size_t i = c.expected.size(); i < 4; ++i) EXPECT_EQ(out[i].start, 9u) << "untouched " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TableReadTest,
    ::testing::Values(
        TableCase{"Plain", {{0, 1000, 24, 1}, {1000, 500, 24, 1}}, 4, {{0, 1000}, {1000, 500}, {0, 0}, {0, 0}}},
        TableCase{"EmptyWhateverItsStart", {{777, 0, 0, 0}}, 1, {{777, 0}}},
        TableCase{"Legacy",
                  {{0, 0, 1024, 1}, {0, 0, 2000024, 1}},
                  4,
                  {{1000, 1999000}, {2000000, 0}, {0, 0}, {0, 0}}},
        TableCase{"LegacyCountLimited", {{0, 0, 1024, 1}, {0, 0, 2000024, 1}}, 1, {{1000, 1999000}}},
        TableCase{"LegacyWithoutAPlace", {{0, 0, 10, 1}, {0, 0, 5000, 1}}, 2, {{0, 0}, {4976, 0}}},
        TableCase{"LegacyNextBelow", {{0, 0, 5000, 1}, {0, 0, 1024, 1}}, 1, {{4976, 0}}},
        TableCase{"CountAboveFour", {{5, 6, 24, 1}}, 9, {{5, 6}, {0, 0}, {0, 0}, {0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Reads the cached sector 20 entries back.
std::vector<Partition> cached_table() {
  Partition p[4];
  EXPECT_EQ(krt_read_partitions(0, p, 4), FS_OK);
  return std::vector<Partition>(p, p + 4);
}

TEST_F(PartitionTest, TouchingPartitionsAreWrittenOverlappingOnesRefused) {
  TableImage disk(kV04, 'T', 'S', {{0, 100, 24, 1}, {100, 100, 24, 1}, {200, 50, 24, 1}});
  ASSERT_EQ(test::attach_only({disk.image().path()}), 1);
  const std::string before = disk.image().contents();

  const Partition overlapping[2] = {{0, 1001}, {1000, 500}};
  test::LogCapture log;
  EXPECT_EQ(krt_write_partitions(0, overlapping, 2), 1);
  EXPECT_NE(log.text().find("FSWarn krt_write_partitions, partition range overlaped.\n"), std::string::npos);
  EXPECT_EQ(cached_table()[0].size, 100u);  // the cached table is untouched
  EXPECT_EQ(cached_table()[2].start, 200u);

  const Partition touching[2] = {{0, 1000}, {1000, 500}};
  EXPECT_EQ(krt_write_partitions(0, touching, 2), FS_OK);
  const std::vector<Partition> t = cached_table();
  EXPECT_EQ(t[0].size, 1000u);
  EXPECT_EQ(t[1].start, 1000u);
  EXPECT_EQ(t[2].start, 0u);  // entries past the count lose start and size
  EXPECT_EQ(t[2].size, 0u);
  Buf* table = bread(0, 20);
  EXPECT_EQ(ld32(table->data + kEntry0 + 20), 0xC0FFEEu);      // unused words stay
  EXPECT_EQ(ld32(table->data + kEntry0 + 2 * kEntrySize + 56), 1u);  // so does a later in-use word
  EXPECT_EQ(ld32(table->data + kEntry0 + kEntrySize + 28), 24u);
  brelse(table);

  const Partition zero_sized[2] = {{0, 0}, {0, 0}};
  EXPECT_EQ(krt_write_partitions(0, zero_sized, 2), FS_OK);  // empty ranges never overlap
  EXPECT_EQ(disk.image().contents(), before);
}

TEST_F(PartitionTest, WritingToADiskWithoutVersionZeroFourMakesAFreshTableInTheCache) {
  TableImage disk(kV03, 'T', 'S', {{0, 0, 1024, 1}});
  ASSERT_EQ(test::attach_only({disk.image().path()}), 1);
  const std::string before = disk.image().contents();
  const Partition whole[1] = {{0, 64}};
  EXPECT_EQ(krt_write_partitions(0, whole, 1), FS_OK);
  int version = 0;
  EXPECT_EQ(check_disk_ver(0, version), FS_OK);
  EXPECT_EQ(version, kVersion04);
  Buf* table = bread(0, 20);
  EXPECT_EQ(ld32(table->data + 40), 3u);
  EXPECT_EQ(ld32(table->data + 44), kParamMagic);
  EXPECT_EQ(ld32(table->data + 52), 1u);
  EXPECT_EQ(ld32(table->data + kEntry0 + 20), 0u);  // the whole table was cleared first
  brelse(table);
  EXPECT_EQ(cached_table()[0].size, 64u);
  EXPECT_EQ(disk.image().contents(), before);
}

// ---- Parameter block ---------------------------------------------------------------------

// A block whose every byte is distinct enough to catch a field read from the wrong place.
std::vector<uint8_t> numbered_block() {
  std::vector<uint8_t> b(336);
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 7 + 1);
  st32(b.data() + 328, kParamMagic);
  return b;
}

TEST(DriverParamCodec, DecodesEveryFieldFromItsOffset) {
  const std::vector<uint8_t> b = numbered_block();
  DriverParam p{};
  p.dev = 3;
  p.part = 2;
  p.start_sector = 77;
  ASSERT_TRUE(decode_driver_param(b.data(), p));
  EXPECT_EQ(p.lap, b[8]);
  const std::pair<size_t, uint32_t> words[] = {
      {12, p.status},          {16, p.start_time1},      {20, p.end_time1},      {24, p.current_cluster},
      {28, p.start_cluster2},  {32, p.end_cluster2},     {36, p.start_time2},    {40, p.end_time2},
      {44, p.sector_bytes},    {48, p.sector_per_clus},  {56, p.rev_clus},       {60, p.index_off},
      {64, p.temp_off},        {68, p.dir_off},          {72, p.data_off},       {76, p.total_clus},
      {80, p.error_clus},      {84, p.type},             {88, p.ud_start},       {92, p.ud_item_size},
      {96, p.ud_items},        {100, p.ud_first_item},   {104, p.ud_last_item},  {112, p.saved_cluster},
      {116, p.restore_from},   {136, p.second_dir},      {144, p.reserve_a_start}, {148, p.reserve_a_size},
      {152, p.err_state},      {156, p.coll_sec},        {160, p.coll_count},    {164, p.cur_section},
      {184, p.reserve_b_start}, {188, p.reserve_b_size}};
  for (const auto& [offset, value] : words) EXPECT_EQ(value, ld32(b.data() + offset)) << offset;
  // Memory-only fields are not taken from the block.
  EXPECT_EQ(p.dev, 3);
  EXPECT_EQ(p.part, 2);
  EXPECT_EQ(p.start_sector, 77u);
  EXPECT_EQ(p.dirty, 0);
}

TEST(DriverParamCodec, EncodeWritesBackTheStoredBytesAndOwnsTheMemoryWords) {
  const std::vector<uint8_t> original = numbered_block();
  DriverParam p{};
  ASSERT_TRUE(decode_driver_param(original.data(), p));
  p.dev = 1;
  p.part = 3;
  p.dirty = 1;
  p.start_sector = 0x123456789ull;
  std::vector<uint8_t> out = original;
  encode_driver_param(p, out.data());
  for (size_t i = 0; i < out.size(); ++i) {
    const bool memory = i == 9 || (i >= 108 && i < 112) || (i >= 120 && i < 128) || (i >= 140 && i < 144) ||
                        (i >= 168 && i < 176) || (i >= 180 && i < 184) || (i >= 224 && i < 232);
    if (!memory) {
      EXPECT_EQ(out[i], original[i]) << i;
    }
  }
  EXPECT_EQ(out[9], 1);
  EXPECT_EQ(ld32(out.data() + 108), 1u);
  EXPECT_EQ(ld32(out.data() + 140), 3u);
  EXPECT_EQ(ld32(out.data() + 120), 0u);
  EXPECT_EQ(ld32(out.data() + 172), 0u);
  EXPECT_EQ(ld32(out.data() + 180), 0u);
  EXPECT_EQ(ld64(out.data() + 224), 0x123456789ull);
}

TEST(DriverParamCodec, RefusesABlockWithoutTheMagicAndDefaultsTheCollisionSector) {
  std::vector<uint8_t> b = numbered_block();
  DriverParam p{};
  p.type = 9;
  st32(b.data() + 328, kParamMagic + 1);
  EXPECT_FALSE(decode_driver_param(b.data(), p));
  EXPECT_EQ(p.type, 9u);
  st32(b.data() + 328, kParamMagic);
  st32(b.data() + 156, 0);
  st32(b.data() + 64, 24);
  ASSERT_TRUE(decode_driver_param(b.data(), p));
  EXPECT_EQ(p.coll_sec, 28u);
}

// ---- Driver table storage ----------------------------------------------------------------

class DriverTableTest : public test::LibraryTest {};

TEST_F(DriverTableTest, SlotsOwnTheirCompanionsAndAreFoundByDiskAndPartition) {
  EXPECT_EQ(get_pdp(0, 0), nullptr);
  for (int i = 0; i < kMaxDrivers; ++i) {
    DriverParam* p = driver_slot(i);
    EXPECT_FALSE(driver_in_use(*p));
    p->type = 0;
    p->dev = i / 4;
    p->part = i % 4;
  }
  EXPECT_EQ(get_pdp(2, 1), driver_slot(9));
  EXPECT_EQ(driver_slot(9)->sections[129].owner, driver_slot(9));
  EXPECT_NE(driver_slot(9)->coll_copy, driver_slot(10)->coll_copy);
  test::LogCapture log;
  EXPECT_EQ(get_empty_driver(), -1);
  EXPECT_NE(log.text().find("FSError the driver table is full"), std::string::npos);
  uint8_t* coll = driver_slot(9)->coll_copy;
  coll[0] = 5;
  free_driver_slot(*driver_slot(9));
  EXPECT_EQ(get_pdp(2, 1), nullptr);
  EXPECT_EQ(get_empty_driver(), 9);
  EXPECT_EQ(driver_slot(9)->coll_copy, coll);
  EXPECT_EQ(coll[0], 0);
  EXPECT_EQ(driver_slot(kMaxDrivers), nullptr);
  reset_driver_table();
  EXPECT_EQ(get_empty_driver(), 0);
}

}  // namespace
}  // namespace krt

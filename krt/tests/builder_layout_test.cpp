// The image builder's area arithmetic and the bytes of a formatted partition, checked against
// values worked out by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "builder_raw.h"
#include "krt_testing/image_builder.h"
#include "krt_testing/scratch.h"

using namespace krt_testing;

namespace {

struct LayoutCase {
  uint64_t sectors;
  uint32_t p;
  uint32_t dir_size, second_dir, index_off, index_size, data_off, total_clus, rev_clus;
  uint32_t reserve_a_size, reserve_b_size;
};

TEST(BuilderLayout, MatchesTheFormatterArithmetic) {
  const LayoutCase cases[] = {
      // The worked example: n = 122,070, A = 3; data_off = 18,976 rounded up to 19,200.
      {500'000'000, 4096, 9216, 9472, 18688, 288, 19200, 122065, 64, 16384, 20480},
      // Reserve 200,000 sectors: rev_clus 48 = 196,608 sectors, both sub-areas.
      {10'000'000, 4096, 3072, 3328, 6400, 96, 6656, 2439, 48, 16384, 20480},
      // n = 6,250, A = 1; reserve 8,000 sectors is below both sub-area thresholds.
      {400'000, 64, 3072, 3328, 6400, 96, 6656, 6146, 125, 0, 0},
      // n = 49,153 needs a second unit: dir 6,144, index 192; 12,544 + 192 = 12,736 -> 12,800.
      {49'153ull * 8, 8, 6144, 6400, 12544, 192, 12800, 47553, 983, 0, 0},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.sectors);
    const Layout l = format_layout(c.sectors, c.p);
    EXPECT_EQ(l.dir_size, c.dir_size);
    EXPECT_EQ(l.second_dir, c.second_dir);
    EXPECT_EQ(l.index_off, c.index_off);
    EXPECT_EQ(l.index_size, c.index_size);
    EXPECT_EQ(l.data_off, c.data_off);
    EXPECT_EQ(l.total_clus, c.total_clus);
    EXPECT_EQ(l.rev_clus, c.rev_clus);
    EXPECT_EQ(l.ud_start, c.data_off + 40960);
    EXPECT_EQ(l.reserve_a_size, c.reserve_a_size);
    EXPECT_EQ(l.reserve_b_size, c.reserve_b_size);
    EXPECT_EQ(l.temp_off, 24u);
    EXPECT_EQ(l.coll_sec, 28u);
    EXPECT_EQ(l.dir_off, 187u);
  }
}

TEST(BuilderLayout, OverridesFeedTheValuesAfterThem) {
  LayoutOverrides o;
  o.dir_size = 4000;
  const Layout l = format_layout(400'000, 64, o);
  EXPECT_EQ(l.second_dir, 4256u);
  EXPECT_EQ(l.index_off, 8256u);
  EXPECT_EQ(l.data_off, 8448u);  // 8,352 rounded up
  EXPECT_EQ(l.total_clus, (400'000u - 8448u) / 64);

  LayoutOverrides d;
  d.data_off = 7000;
  d.rev_clus = 10;
  const Layout m = format_layout(400'000, 64, d);
  EXPECT_EQ(m.index_off, 6400u);
  EXPECT_EQ(m.data_off, 7000u);
  EXPECT_EQ(m.total_clus, (400'000u - 7000u) / 64);
  EXPECT_EQ(m.rev_clus, 10u);
  EXPECT_EQ(m.ud_start, 47960u);
}

// The worked example as an image: two 15-minute files of channels 0 and 1 from 08:00, five
// minutes per cluster, so the six clusters interleave from rev_clus 64.
class WorkedExample : public ::testing::Test {
 protected:
  static constexpr uint32_t k0800 = 0x28CA8000;  // 2010-03-05 08:00:00
  static constexpr uint32_t k0805 = 0x28CA8140;
  static constexpr uint32_t k0810 = 0x28CA8280;
  static constexpr uint32_t k0815 = 0x28CA83C0;

  // Built once for the suite: the tests only read it.
  static void SetUpTestSuite() {
    scratch = new ScratchDir;
    path = scratch->path("worked.img");
    Disk disk = single_partition_disk(500'000'000, 4096);
    disk.partitions[0].files = recordings(channel_range(0, 1), k0800, k0815, 15 * 60);
    built = build_image(disk, path);
  }
  static void TearDownTestSuite() { delete scratch; }
  void SetUp() override {
    ASSERT_EQ(pack_time(2010, 3, 5, 8, 0, 0), k0800);
    ASSERT_TRUE(built.ok) << built.error;
  }

  static inline ScratchDir* scratch = nullptr;
  static inline std::string path;
  static inline BuildResult built;
};

TEST_F(WorkedExample, VersionBlockAndPartitionTable) {
  const std::vector<uint8_t> v = raw::sectors(path, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data()), 7), std::string("KRT0.4\0", 7));
  EXPECT_EQ(v[510], 'T');
  EXPECT_EQ(v[511], 'S');
  const struct { size_t off; uint32_t value; } words[] = {
      {36, 0}, {40, 3}, {44, 0x789abcde}, {48, 3}, {52, 1},
      {56 + 28, 24}, {56 + 56, 1}, {120 + 56, 0}, {184 + 56, 0}, {248 + 56, 0}};
  for (const auto& w : words) EXPECT_EQ(raw::u32(path, 20, w.off), w.value) << "table offset " << w.off;
  EXPECT_EQ(raw::u64(path, 20, 56), 0u);
  EXPECT_EQ(raw::u64(path, 20, 64), 500'000'000u);
  EXPECT_EQ(raw::u64(path, 20, 120 + 8), 0u);
}

TEST_F(WorkedExample, ParameterBlockFields) {
  EXPECT_EQ(raw::u8(path, 24, 8), 0) << "lap";
  const struct { size_t off; uint32_t value; } words[] = {
      {12, 0xaa},   {16, k0800},  {20, k0815},  {24, 69},     {28, 0},       {32, 0},
      {36, 0},      {40, 0},      {44, 512},    {48, 4096},   {56, 64},      {60, 18688},
      {64, 24},     {68, 187},    {72, 19200},  {76, 122065}, {80, 0},       {84, 0},
      {88, 60160},  {92, 16},     {96, 0x280000}, {100, 1},   {104, 1},      {112, 69},
      {116, 69},    {136, 9472},  {144, 19200}, {148, 16384}, {152, 0},      {156, 28},
      {160, 0},     {164, 0},     {184, 39680}, {188, 20480}, {328, 0x789abcde}};
  for (const auto& w : words) EXPECT_EQ(raw::u32(path, 24, w.off), w.value) << "offset " << w.off;
  EXPECT_EQ(raw::u64(path, 24, 224), 0u);
  const std::vector<uint8_t> s = raw::sectors(path, 24);
  for (size_t i = 336; i < 512; ++i) ASSERT_EQ(s[i], 0) << i;
  EXPECT_EQ(raw::sectors(path, 28), std::vector<uint8_t>(512, 0)) << "empty collision table";
}

TEST_F(WorkedExample, DirectoryItemsAndIndexBytes) {
  struct Item {
    uint32_t c;
    uint8_t dir_flag;
    uint16_t item_num;
    uint32_t up, down, start, end;
    uint16_t end_length;
    uint32_t first;
    uint8_t repeat, channel_av;
    uint8_t index;
  };
  // Channel 0 takes 64, 66, 68 and channel 1 65, 67, 69; the two first clusters share 08:00:00,
  // so the second gets repeat number 1.
  const Item items[] = {
      {64, 2, 2, 0, 66, k0800, k0815, 4096, 64, 0, 0 << 2 | 2, 0 << 2 | 2},
      {65, 2, 2, 0, 67, k0800, k0815, 4096, 65, 1, 1 << 2 | 2, 1 << 2 | 2},
      {66, 1, 1, 64, 68, k0805, k0810, 0, 64, 0, 0 << 2 | 2, 0},
      {69, 1, 2, 67, 0, k0810, k0815, 4096, 65, 0, 1 << 2 | 2, 1 << 2},
  };
  for (const Item& e : items) {
    SCOPED_TRACE(e.c);
    const std::vector<uint8_t> d = raw::dir_item(path, 0, e.c);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], e.dir_flag);
    EXPECT_EQ(krt::ld16(&d[2]), e.item_num);
    EXPECT_EQ(krt::ld32(&d[4]), e.up);
    EXPECT_EQ(krt::ld32(&d[8]), e.down);
    EXPECT_EQ(krt::ld32(&d[12]), e.start);
    EXPECT_EQ(krt::ld32(&d[16]), e.end);
    EXPECT_EQ(krt::ld16(&d[20]), 0);
    EXPECT_EQ(krt::ld16(&d[22]), e.end_length);
    EXPECT_EQ(krt::ld32(&d[24]), e.first);
    EXPECT_EQ(d[30], e.repeat);
    EXPECT_EQ(d[31], e.channel_av);
    EXPECT_EQ(raw::index_byte(path, 0, 18688, e.c), e.index);
  }
  EXPECT_EQ(raw::dir_item(path, 0, 0)[1], 0xFE);
  EXPECT_EQ(raw::dir_item(path, 0, 63)[1], 0xFE);
  EXPECT_EQ(raw::dir_item(path, 0, 70), std::vector<uint8_t>(32, 0));
  const std::vector<uint8_t> index = raw::sectors(path, 18688);
  for (int c = 0; c < 64; ++c) ASSERT_EQ(index[c], 3) << c;
  EXPECT_EQ(index[70], 0);
}

TEST_F(WorkedExample, BothDirectoryCopiesAreIdentical) {
  const std::vector<uint8_t> first = raw::sectors(path, 187, 8);
  EXPECT_EQ(raw::sectors(path, 9472, 8), first);
  EXPECT_NE(first, std::vector<uint8_t>(first.size(), 0));
}

TEST_F(WorkedExample, DataSectorsNameTheirPlace) {
  // Cluster 64 starts at 19,200 + 64 x 4,096 = 281,344.
  const std::vector<uint8_t> s = raw::sectors(path, 281'344);
  EXPECT_EQ(krt::ld32(&s[0]), 64u);
  EXPECT_EQ(krt::ld32(&s[4]), 0u);
  EXPECT_EQ(s[8], 0);
  EXPECT_EQ(s[9], 0);
  EXPECT_EQ(s[11], 0x5A);
  EXPECT_EQ(s[16 + 10], 1) << "record number";
  uint8_t expected[512];
  pattern_sector(expected, 0, 0, 69, 4095);
  EXPECT_EQ(raw::sectors(path, 19'200 + 69ull * 4096 + 4095), std::vector<uint8_t>(expected, expected + 512));
  EXPECT_EQ(raw::sectors(path, 19'200 + 70ull * 4096), std::vector<uint8_t>(512, 0));
}

TEST_F(WorkedExample, ImageIsSparse) {
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), 500'000'000ull * 512);
  // Six data clusters of 2 MiB and a few metadata sectors.
  EXPECT_LT(uint64_t(st.st_blocks) * 512, 16ull << 20);
  EXPECT_EQ(built.partitions[0].files[0].clusters, (std::vector<uint32_t>{64, 66, 68}));
}

}  // namespace

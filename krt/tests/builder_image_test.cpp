// Images built from descriptions, read back byte by byte: version blocks, partition tables,
// laps, collisions, unclean partitions, user data, stream payloads, sparseness and refusals.
//
// Unless a test says otherwise, a partition has 400,000 sectors and 64 sectors per cluster:
// n = 6,250, A = 1, index_off 6,400, data_off 6,656, total_clus 6,146, rev_clus 125,
// ud_start 47,616.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "builder_raw.h"
#include "krt_testing/image_builder.h"
#include "krt_testing/scratch.h"

using namespace krt_testing;

namespace {

constexpr uint64_t kSmall = 400'000;
constexpr uint32_t kIndexOff = 6400, kDataOff = 6656, kRev = 125;

uint32_t t(int y, int mo, int d, int h, int mi) { return pack_time(y, mo, d, h, mi, 0); }

uint32_t item32(const std::string& path, uint32_t c, size_t off) { return krt::ld32(&raw::dir_item(path, 0, c)[off]); }
uint16_t item16(const std::string& path, uint32_t c, size_t off) { return krt::ld16(&raw::dir_item(path, 0, c)[off]); }
uint8_t index_of(const std::string& path, uint32_t c) { return raw::index_byte(path, 0, kIndexOff, c); }

class BuilderImage : public ::testing::Test {
 protected:
  // Builds `disk` into a fresh image and returns the result; fails the test if it does not build.
  BuildResult build(const Disk& disk) {
    BuildResult r = build_image(disk, path);
    EXPECT_TRUE(r.ok) << r.error;
    return r;
  }

  ScratchDir scratch;
  std::string path = scratch.path("disk.img");
};

TEST_F(BuilderImage, VersionBlocks) {
  const struct { Version version; std::string tag; uint8_t at510, at511; } cases[] = {
      {Version::k04, std::string("KRT0.4\0", 7), 'T', 'S'},
      {Version::k03, std::string("KRT0.3\0", 7), 0, 0},
      {Version::kBadTrailer, std::string("KRT0.4\0", 7), 'S', 'T'},
      {Version::kBlank, std::string(7, '\0'), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.version));
    Disk disk;
    disk.version = c.version;
    build(disk);
    const std::vector<uint8_t> s = raw::sectors(path, 0);
    EXPECT_EQ(std::string(s.begin(), s.begin() + 7), c.tag);
    EXPECT_EQ(s[510], c.at510);
    EXPECT_EQ(s[511], c.at511);
  }
}

TEST_F(BuilderImage, PartitionTables) {
  struct Entry { uint64_t start, size; uint32_t legacy, in_use; };
  struct Case {
    const char* name;
    TableStyle style;
    std::optional<TableEntry> override3;
    std::array<Entry, 4> expected;
  };
  // Partitions at 1,000 (1,999,000 sectors) and 2,000,000 (1,000,000 sectors), slots 0 and 1.
  const Case cases[] = {
      {"current", TableStyle::kCurrent, std::nullopt,
       {{{1000, 1'999'000, 24, 1}, {2'000'000, 1'000'000, 24, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}}}},
      // Legacy: size 0 and the absolute parameter sector; a terminator names the end.
      {"legacy", TableStyle::kLegacy, std::nullopt,
       {{{0, 0, 1024, 1}, {0, 0, 2'000'024, 1}, {0, 0, 3'000'024, 1}, {0, 0, 0, 0}}}},
      {"override", TableStyle::kCurrent, TableEntry{7, 8, 9, 10},
       {{{1000, 1'999'000, 24, 1}, {2'000'000, 1'000'000, 24, 1}, {0, 0, 0, 0}, {7, 8, 9, 10}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk;
    disk.table_style = c.style;
    disk.table_override[3] = c.override3;
    Partition a, b;
    a.slot = 0, a.start = 1000, a.sectors = 1'999'000, a.formatted = false;
    b.slot = 1, b.start = 2'000'000, b.sectors = 1'000'000, b.formatted = false;
    disk.partitions = {a, b};
    build(disk);
    for (size_t i = 0; i < 4; ++i) {
      const size_t e = 56 + 64 * i;
      EXPECT_EQ(raw::u64(path, 20, e), c.expected[i].start) << i;
      EXPECT_EQ(raw::u64(path, 20, e + 8), c.expected[i].size) << i;
      EXPECT_EQ(raw::u32(path, 20, e + 28), c.expected[i].legacy) << i;
      EXPECT_EQ(raw::u32(path, 20, e + 56), c.expected[i].in_use) << i;
    }
    EXPECT_EQ(raw::u32(path, 1024, 328), 0u) << "unformatted partitions hold no parameter block";
  }
  Disk none;
  none.write_table = false;
  build(none);
  EXPECT_EQ(raw::sectors(path, 20), std::vector<uint8_t>(512, 0));
}

// Channels 0-3, three days of 15-minute files, five minutes per cluster: 1,152 files of three
// clusters, the four channels' clusters interleaved from rev_clus.
TEST_F(BuilderImage, ThreeDaysOfFourChannels) {
  Disk disk = single_partition_disk(kSmall, 64);
  disk.payload.kind = Payload::Kind::kNone;
  disk.partitions[0].files = recordings(channel_range(0, 3), t(2010, 3, 5, 0, 0), t(2010, 3, 8, 0, 0), 15 * 60);
  const BuildResult r = build(disk);
  const std::vector<FilePlacement>& files = r.partitions[0].files;
  ASSERT_EQ(files.size(), 1152u);
  for (uint8_t ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(files[ch].first_cluster, kRev + ch);
    EXPECT_EQ(files[ch].repeat_no, ch) << "four files start in the same second";
    EXPECT_EQ(item32(path, kRev + ch, 24), kRev + ch);
    EXPECT_EQ(raw::dir_item(path, 0, kRev + ch)[30], ch);
  }
  EXPECT_EQ(files[0].clusters, (std::vector<uint32_t>{125, 129, 133}));
  EXPECT_EQ(item32(path, 125, 8), 129u);
  EXPECT_EQ(item32(path, 133, 4), 129u);
  EXPECT_EQ(files[4].repeat_no, 0) << "00:15, a new second";
  const uint32_t last = kRev + 3 * 1152 - 1;
  EXPECT_EQ(files.back().last_cluster, last);
  EXPECT_EQ(raw::u32(path, 24, 24), last) << "current_cluster";
  EXPECT_EQ(item32(path, last, 8), 0u);
  EXPECT_EQ(item32(path, last, 16), t(2010, 3, 8, 0, 0));
  EXPECT_EQ(raw::u32(path, 24, 16), t(2010, 3, 5, 0, 0)) << "start_time1";
  EXPECT_EQ(raw::u32(path, 24, 20), t(2010, 3, 8, 0, 0)) << "end_time1";
  EXPECT_EQ(index_of(path, last), 3 * 4);
  EXPECT_EQ(index_of(path, last + 1), 0);
}

// Older lap: channels 0-3 all of 2010-03-01 (1,152 clusters, 125..1,276); the current lap has
// come round and written 00:00-02:00 of 03-02 (96 clusters, 125..220).
TEST_F(BuilderImage, OlderLap) {
  Disk disk = single_partition_disk(kSmall, 64);
  disk.payload.kind = Payload::Kind::kNone;
  Partition& p = disk.partitions[0];
  p.older_lap = day_of_files(channel_range(0, 3), 2010, 3, 1, 15 * 60);
  p.files = recordings(channel_range(0, 3), t(2010, 3, 2, 0, 0), t(2010, 3, 2, 2, 0), 15 * 60);
  const BuildResult r = build(disk);
  EXPECT_EQ(raw::u8(path, 24, 8), 1) << "lap";
  const struct { size_t off; uint32_t value; } words[] = {
      {16, t(2010, 3, 2, 0, 0)},  // start_time1
      {20, t(2010, 3, 2, 2, 0)},  // end_time1
      {24, 220},                  // current_cluster
      {28, 476},                  // start_cluster2 = 220 + 256
      {32, 1276},                 // end_cluster2
      {36, t(2010, 3, 1, 7, 15)}, // the item of 476: write slot 351 / 4 = 87, 87 x 5 minutes
      {40, t(2010, 3, 2, 0, 0)},  // end_time2
  };
  for (const auto& w : words) EXPECT_EQ(raw::u32(path, 24, w.off), w.value) << "offset " << w.off;
  // Past the write position the older lap's 02:00 files are still there.
  EXPECT_EQ(raw::dir_item(path, 0, 221)[1], 2);
  EXPECT_EQ(item32(path, 221, 12), t(2010, 3, 1, 2, 0));
  EXPECT_EQ(index_of(path, 221), 2);
  EXPECT_EQ(item32(path, 220, 12), t(2010, 3, 2, 1, 55));
  int overwritten = 0;
  for (const FilePlacement& f : r.partitions[0].older_lap) overwritten += f.overwritten;
  EXPECT_EQ(overwritten, 32);
}

TEST_F(BuilderImage, Collisions) {
  struct Case {
    const char* name;
    std::optional<std::vector<uint32_t>> given;
    std::vector<uint32_t> stored;
    uint32_t cur_section;
  };
  // Run 0: 10:00-11:00 (125..136); run 1 sets the clock back to 09:00 (137..142); run 2 goes on
  // at 11:00, not earlier than anything before it (143..145).
  const Case cases[] = {
      {"from the runs", std::nullopt, {137}, 1},
      {"given", std::vector<uint32_t>{200, 300}, {200, 300}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk = single_partition_disk(kSmall, 64);
    disk.payload.kind = Payload::Kind::kNone;
    Partition& p = disk.partitions[0];
    File run1, run2;
    run1.run = 1;
    run2.run = 2;
    p.files = recordings({0}, t(2010, 3, 5, 10, 0), t(2010, 3, 5, 11, 0), 900);
    for (const File& f : recordings({0}, t(2010, 3, 5, 9, 0), t(2010, 3, 5, 9, 30), 900, run1)) p.files.push_back(f);
    for (const File& f : recordings({0}, t(2010, 3, 5, 11, 0), t(2010, 3, 5, 11, 15), 900, run2)) p.files.push_back(f);
    p.collisions = c.given;
    build(disk);
    std::vector<uint32_t> words;
    for (size_t i = 0; i < c.stored.size() + 1; ++i) words.push_back(raw::u32(path, 28, 4 * i));
    std::vector<uint32_t> expected = c.stored;
    expected.push_back(0);
    EXPECT_EQ(words, expected);
    EXPECT_EQ(raw::u32(path, 24, 160), c.stored.size()) << "coll_count";
    EXPECT_EQ(raw::u32(path, 24, 164), c.cur_section);
    EXPECT_EQ(raw::u32(path, 24, 24), 145u);
    EXPECT_EQ(item32(path, 137, 12), t(2010, 3, 5, 9, 0));
  }
}

// Channels 1 and 2, 08:00-09:00, four files each of three clusters (125..148); the recorder
// stopped while writing, five clusters after its last save, three index bytes short.
TEST_F(BuilderImage, UncleanPartition) {
  Disk disk = single_partition_disk(kSmall, 64);
  disk.payload.kind = Payload::Kind::kNone;
  Partition& p = disk.partitions[0];
  p.files = recordings(channel_range(1, 2), t(2010, 3, 5, 8, 0), t(2010, 3, 5, 9, 0), 900);
  p.unclean = Unclean{5, 3, true};
  const BuildResult r = build(disk);
  EXPECT_EQ(r.partitions[0].real_current_cluster, 148u);
  const struct { size_t off; uint32_t value; } words[] = {
      {12, 0}, {24, 143}, {112, 143}, {116, 143}, {20, t(2010, 3, 5, 9, 0)}};
  for (const auto& w : words) EXPECT_EQ(raw::u32(path, 24, w.off), w.value) << "offset " << w.off;
  // The last files: channel 1 at 143, 145, 147 and channel 2 at 144, 146, 148.
  const struct { uint32_t c; uint8_t index; } bytes[] = {{143, 6}, {144, 10}, {145, 4}, {146, 0}, {147, 0}, {148, 0}};
  for (const auto& b : bytes) EXPECT_EQ(index_of(path, b.c), b.index) << b.c;
  EXPECT_EQ(item32(path, 147, 8), 0xFFFFFFFFu);
  EXPECT_EQ(item32(path, 148, 8), 0xFFFFFFFFu);
  EXPECT_EQ(item16(path, 147, 22), 0);
  EXPECT_EQ(item16(path, 143, 22), 0);
  EXPECT_EQ(item32(path, 146, 4), 144u) << "the directory items are all written";
  EXPECT_EQ(item32(path, 142, 8), 0u) << "the files before are closed";
  EXPECT_EQ(item16(path, 142, 22), 64);
}

// Older lap written at lap 1 with user data on its files at 125 and 128; the current lap (lap 2)
// adds an item for its file at 131 and purges the two it has overwritten.
TEST_F(BuilderImage, UserDataItems) {
  Disk disk = single_partition_disk(kSmall, 64);
  disk.payload.kind = Payload::Kind::kNone;
  Partition& p = disk.partitions[0];
  p.lap = 2;
  UserData card;
  card.card = {0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB, 0xED, 0xFF, 0x10, 0x32};
  card.card_type = 7;
  p.older_lap = recordings({0}, t(2010, 3, 1, 0, 0), t(2010, 3, 1, 2, 0), 900);
  p.older_lap[0].user_data = card;
  p.older_lap[1].user_data = card;
  p.files = recordings({0}, t(2010, 3, 2, 0, 0), t(2010, 3, 2, 0, 45), 900);
  p.files[2].user_data = card;
  const BuildResult r = build(disk);
  EXPECT_EQ(r.partitions[0].older_lap[1].ud_item, 2u);
  EXPECT_EQ(r.partitions[0].files[2].ud_item, 3u);
  EXPECT_EQ(item32(path, 131, 4), 3u) << "the first cluster names its item";
  EXPECT_EQ(raw::u32(path, 24, 100), 3u) << "ud_first_item";
  EXPECT_EQ(raw::u32(path, 24, 104), 4u) << "ud_last_item";
  const std::vector<uint8_t> s = raw::sectors(path, 47'616);
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + 16, s.begin() + 48), std::vector<uint8_t>(32, 0)) << "purged";
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + 48, s.begin() + 58),
            std::vector<uint8_t>(card.card.begin(), card.card.end()));
  EXPECT_EQ(s[58], 7);
  EXPECT_EQ(s[59], 2) << "lap";
  EXPECT_EQ(krt::ld32(&s[60]), 131u);
}

// 8 sectors per cluster (data_off 12,800, rev_clus 1,000). Channel 0 plays a 5,000-byte stream
// behind a two-sector "DHII" header (12 sectors: clusters 1,000 and 1,002); channel 1 has two
// pattern clusters interleaved with it (1,001 and 1,003).
TEST_F(BuilderImage, StreamAndHeader) {
  const std::string stream = scratch.path("stream.bin");
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + 3);
  std::ofstream(stream, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  Disk disk = single_partition_disk(kSmall, 8);
  File f;
  f.start = t(2010, 3, 5, 10, 0);
  f.end = t(2010, 3, 5, 10, 10);
  f.header_sectors = 2;
  ASSERT_TRUE(fit_to_stream(f, stream, 8));
  EXPECT_EQ(f.clusters, 2u);
  EXPECT_EQ(*f.end_length, 4);
  File g = f;
  g.channel = 1;
  g.header_sectors = 0;
  g.payload.reset();
  disk.partitions[0].files = {f, g};
  const BuildResult r = build(disk);
  const FilePlacement& a = r.partitions[0].files[0];
  const FilePlacement& b = r.partitions[0].files[1];
  ASSERT_EQ(a.clusters, (std::vector<uint32_t>{1000, 1002}));
  ASSERT_EQ(b.clusters, (std::vector<uint32_t>{1001, 1003}));
  EXPECT_EQ(a.size_sectors, 12u);
  EXPECT_EQ(item16(path, 1000, 22), 4);
  EXPECT_EQ(item16(path, 1000, 2), 1);

  std::vector<uint8_t> read = raw::sectors(path, 12'800 + 1000 * 8, 8);
  const std::vector<uint8_t> tail = raw::sectors(path, 12'800 + 1002 * 8, 4);
  read.insert(read.end(), tail.begin(), tail.end());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(read.data()), 4), "DHII");
  EXPECT_EQ(krt::ld32(&read[4]), 1024u);
  EXPECT_EQ(std::vector<uint8_t>(read.begin() + 1024, read.begin() + 1024 + 5000), bytes);
  EXPECT_EQ(std::vector<uint8_t>(read.begin() + 6024, read.end()), std::vector<uint8_t>(120, 0));
  EXPECT_EQ(expected_bytes(a), read);

  std::vector<uint8_t> other = raw::sectors(path, 12'800 + 1001 * 8, 8);
  const std::vector<uint8_t> other_tail = raw::sectors(path, 12'800 + 1003 * 8, 4);
  other.insert(other.end(), other_tail.begin(), other_tail.end());
  EXPECT_EQ(expected_bytes(b), other);
  EXPECT_EQ(raw::sectors(path, 12'800 + 1003 * 8 + 4), std::vector<uint8_t>(512, 0)) << "past end_length";
}

// Disk 3 with two partitions of different cluster sizes; the second one's file carries every
// per-file field that is not a default.
TEST_F(BuilderImage, SecondPartitionAndFileFields) {
  Disk disk = multi_partition_disk({kSmall, kSmall}, 64);
  disk.id = 3;
  Partition& p = disk.partitions[1];
  p.sector_per_clus = 32;  // n = 12,500: data_off 6,656, rev_clus 8,000 / 32 = 250
  File f;
  f.channel = 9;
  f.start = t(2012, 2, 29, 23, 59);
  f.end = t(2012, 3, 1, 0, 4);
  f.type = 3;
  f.av = 1;
  f.image = 0x5C;
  f.repeat_no = 9;
  f.hdr_sectors_field = 512;
  f.continuation = true;
  f.end_length = 17;
  p.files = {f};
  build(disk);
  const uint64_t base = kSmall;
  const struct { size_t off; uint32_t value; } words[] = {
      {48, 32}, {56, 250}, {72, 6656}, {108, 3}, {140, 1}, {24, 250}};
  for (const auto& w : words) EXPECT_EQ(raw::u32(path, base + 24, w.off), w.value) << "offset " << w.off;
  EXPECT_EQ(raw::u64(path, base + 24, 224), base) << "start_sector";
  const std::vector<uint8_t> d = raw::dir_item(path, base, 250);
  EXPECT_EQ(d[0], 3);
  EXPECT_EQ(d[1], 3) << "continuation";
  EXPECT_EQ(krt::ld16(&d[2]), 0);
  EXPECT_EQ(krt::ld32(&d[8]), 0u);
  EXPECT_EQ(krt::ld32(&d[12]), t(2012, 2, 29, 23, 59));
  EXPECT_EQ(krt::ld32(&d[16]), t(2012, 3, 1, 0, 4));
  EXPECT_EQ(krt::ld16(&d[20]), 512);
  EXPECT_EQ(krt::ld16(&d[22]), 17);
  EXPECT_EQ(d[29], 0x5C);
  EXPECT_EQ(d[30], 9);
  EXPECT_EQ(d[31], 9 << 2 | 1);
  EXPECT_EQ(raw::index_byte(path, base, kIndexOff, 250), 9 << 2 | 1);
  const std::vector<uint8_t> data = raw::sectors(path, base + kDataOff + 250 * 32 + 16);
  EXPECT_EQ(krt::ld32(&data[0]), 250u);
  EXPECT_EQ(krt::ld32(&data[4]), 16u);
  EXPECT_EQ(data[8], 3) << "disk";
  EXPECT_EQ(data[9], 1) << "partition";
  EXPECT_EQ(raw::sectors(path, base + kDataOff + 250 * 32 + 17), std::vector<uint8_t>(512, 0)) << "past end_length";
}

TEST_F(BuilderImage, HugeImageStaysSparse) {
  Disk disk = single_partition_disk(1ull << 31, 4096);  // 1 TiB
  disk.payload.kind = Payload::Kind::kNone;
  disk.partitions[0].files = day_of_files(channel_range(0, 3), 2010, 3, 5, 15 * 60);
  build(disk);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), 1ull << 40);
  EXPECT_LT(uint64_t(st.st_blocks) * 512, 4ull << 20);
}

TEST_F(BuilderImage, RefusesWhatCannotBeBuilt) {
  struct Case {
    const char* name;
    std::function<void(Disk&)> change;
    std::string target;
    const char* error;
  };
  const std::string dir = scratch.path("a-folder");
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  const Case cases[] = {
      {"slot 4", [](Disk& d) { d.partitions[0].slot = 4; }, path, "slot"},
      {"slot twice", [](Disk& d) { d.partitions.push_back(d.partitions[0]); }, path, "twice"},
      {"channel 64", [](Disk& d) { d.partitions[0].files[0].channel = 64; }, path, "channel"},
      {"too many clusters", [](Disk& d) { d.partitions[0].files[0].clusters = 7000; }, path, "total_clus"},
      {"past the disk", [](Disk& d) { d.sectors = kSmall - 1; }, path, "past the disk"},
      {"no stream", [](Disk& d) { d.payload = {Payload::Kind::kStream, "/nonexistent/stream", {}}; }, path, "stream"},
      {"a folder in the way", [](Disk&) {}, dir, "not a regular file"},
      // 40,000 sectors: the user-data area from 47,616 lies past the end.
      {"user data past the end", [](Disk& d) {
         d.sectors = d.partitions[0].sectors = 40'000;
         d.partitions[0].files[0].user_data = UserData{};
       }, path, "past the end of the partition"},
      // Item 1 at sector 47,616 is in cluster (47,616 - 6,656) / 64 = 640, which the file uses.
      {"user data in a recording", [](Disk& d) {
         d.partitions[0].files[0].clusters = 600;
         d.partitions[0].files[0].user_data = UserData{};
       }, path, "recording cluster 640"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Disk disk = single_partition_disk(kSmall, 64);
    disk.partitions[0].files = recordings({0}, t(2010, 3, 5, 10, 0), t(2010, 3, 5, 10, 15), 900);
    c.change(disk);
    const BuildResult r = build_image(disk, c.target);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
}

TEST_F(BuilderImage, TweakAndOverridesReachTheDisk) {
  Disk disk = single_partition_disk(kSmall, 64);
  Partition& p = disk.partitions[0];
  p.layout.data_off = 7000;
  p.type = 3;
  p.tweak = [](ParamBlock& b) {
    b.magic = 0;
    b.sector_per_clus = 0;
  };
  build(disk);
  EXPECT_EQ(raw::u32(path, 24, 72), 7000u);
  EXPECT_EQ(raw::u32(path, 24, 76), (kSmall - 7000) / 64);
  EXPECT_EQ(raw::u32(path, 24, 84), 3u);
  EXPECT_EQ(raw::u32(path, 24, 48), 0u);
  EXPECT_EQ(raw::u32(path, 24, 328), 0u);
}

}  // namespace

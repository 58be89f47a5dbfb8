// Image sources: split raw images and E01 sets read exactly like the raw image they came from,
// and a set with a missing or damaged segment is refused with the segment's name.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "krt/disk.h"
#include "krt/ewf_source.h"
#include "krt/image_source.h"
#include "krt_testing/evidence.h"
#include "krt_testing/scratch.h"
#include "test_support.h"

namespace krt {
namespace {

namespace kb = krt_testing;

// A 3 MiB image tagged as a recorder disk, with bytes that name their own place and a run of
// zeros in between (a hole in a sparse copy).
std::string make_image(const std::string& path) {
  std::string bytes(3 << 20, '\0');
  std::mt19937 random(7);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i < (1u << 20) || i >= (2u << 20)) bytes[i] = char(random());
  }
  std::memcpy(bytes.data(), "KRT0.4", 7);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
  return bytes;
}

// Reads ranges that start and end anywhere, many across segment boundaries, and compares them.
void expect_reads_like(ImageSource& s, const std::string& raw) {
  ASSERT_EQ(s.size(), raw.size());
  std::mt19937 random(11);
  std::string buf;
  for (int i = 0; i < 200; ++i) {
    const size_t offset = random() % raw.size();
    const size_t bytes = 1 + random() % std::min<size_t>(raw.size() - offset, 700000);
    buf.assign(bytes, '\x55');
    ASSERT_TRUE(s.read(buf.data(), bytes, offset)) << offset << "+" << bytes;
    ASSERT_TRUE(buf == raw.substr(offset, bytes)) << offset << "+" << bytes;
  }
  buf.assign(2, '\0');
  EXPECT_FALSE(s.read(buf.data(), 2, raw.size() - 1)) << "a read past the end fails";
}

class ImageSourceTest : public test::LibraryTest {
 protected:
  kb::ScratchDir dir;
  std::string raw_path = dir.path("disk.img");
  std::string raw = make_image(raw_path);
};

TEST_F(ImageSourceTest, SplitRawReadsLikeTheRawImage) {
  const auto parts = kb::split_image(raw_path, dir.path("disk"), 3);
  ASSERT_EQ(parts.size(), 3u);
  SourceOpen open = open_image_source(parts[0]);
  ASSERT_TRUE(open.source) << open.refusal;
  EXPECT_EQ(open.source->format(), "split raw");
  EXPECT_EQ(open.source->segments(), 3);
  expect_reads_like(*open.source, raw);
}

// Sets named from .000 and with split(1)'s letters read the same; a gap is named in their own
// scheme, and the last letter segment before "ba" is "az".
TEST_F(ImageSourceTest, SplitRawSetsOfEveryNamingReadLikeTheRawImage) {
  const struct {
    const char* stem;
    std::vector<std::string> suffixes;
  } cases[] = {
      {"zero", {"000", "001", "002"}},
      {"long", {"0001", "0002", "0003"}},
      {"letters", {"aa", "ab", "ac"}},
  };
  for (const auto& c : cases) {
    const auto parts = kb::split_image(raw_path, dir.path(c.stem), 3);
    ASSERT_EQ(parts.size(), 3u);
    std::vector<std::string> named;
    for (size_t i = 0; i < parts.size(); ++i) {
      named.push_back(dir.path(std::string(c.stem) + "." + c.suffixes[i]));
      std::filesystem::rename(parts[i], named.back());
    }
    SourceOpen open = open_image_source(named[0]);
    ASSERT_TRUE(open.source) << c.stem << ": " << open.refusal;
    EXPECT_EQ(open.source->format(), "split raw") << c.stem;
    EXPECT_EQ(open.source->segments(), 3) << c.stem;
    expect_reads_like(*open.source, raw);
    open.source.reset();
    // A later segment on its own is a plain file (the second of a set from .000 would read as
    // the first of a set from .001, so it is refused); a gap refuses the set with its name.
    if (c.suffixes[0] == "000") {
      EXPECT_EQ(open_image_source(named[1]).refusal,
                "segment " + named[1] + " follows " + named[0] + ": name the set by its first segment");
    } else {
      EXPECT_EQ(open_image_source(named[1]).source->format(), "raw") << c.stem;
    }
    std::filesystem::remove(named[1]);
    EXPECT_EQ(open_image_source(named[0]).refusal, "segment " + named[1] + " is missing") << c.stem;
  }
  // Letters run aa ... az, ba: a set of 27 segments ends in "ba".
  const auto many = kb::split_image(raw_path, dir.path("many"), 27);
  ASSERT_EQ(many.size(), 27u);
  for (size_t i = 0; i < many.size(); ++i) {
    const std::string suffix{char('a' + i / 26), char('a' + i % 26)};
    std::filesystem::rename(many[i], dir.path("many." + suffix));
  }
  SourceOpen open = open_image_source(dir.path("many.aa"));
  ASSERT_TRUE(open.source) << open.refusal;
  EXPECT_EQ(open.source->segments(), 27);
  expect_reads_like(*open.source, raw);
}

TEST_F(ImageSourceTest, SplitRawWithAGapOrALaterSegmentIsNotOpenedAsASet) {
  const auto parts = kb::split_image(raw_path, dir.path("disk"), 4);
  ASSERT_EQ(parts.size(), 4u);
  // A later segment named on its own is a plain file.
  EXPECT_EQ(open_image_source(parts[1]).source->format(), "raw");
  std::filesystem::remove(parts[2]);
  const SourceOpen gap = open_image_source(parts[0]);
  EXPECT_FALSE(gap.source);
  EXPECT_EQ(gap.refusal, "segment " + parts[2] + " is missing");
  // Without the segments after the gap, the set simply ends earlier.
  std::filesystem::remove(parts[3]);
  const SourceOpen shorter = open_image_source(parts[0]);
  ASSERT_TRUE(shorter.source);
  EXPECT_EQ(shorter.source->segments(), 2);
}

TEST_F(ImageSourceTest, AttachTakesSetsAndNamesTheRefusedOnes) {
  const auto parts = kb::split_image(raw_path, dir.path("split"), 3);
  const auto broken = kb::split_image(raw_path, dir.path("broken"), 3);
  ASSERT_EQ(broken.size(), 3u);
  std::filesystem::remove(broken[1]);
  test::LogCapture log;
  ASSERT_EQ(test::attach_only({broken[0], parts[0], raw_path}), 2);
  EXPECT_NE(log.text().find("disk candidate " + broken[0] + " refused: segment " + broken[1] + " is missing"),
            std::string::npos) << log.text();
  const DiskSourceInfo split = disk_source_info(0);
  EXPECT_EQ(split.path, parts[0]);
  EXPECT_EQ(split.format, "split raw");
  EXPECT_EQ(split.segments, 3);
  EXPECT_EQ(split.bytes, raw.size());
  DiskInfo info{};
  get_disk_info(&info);
  EXPECT_EQ(info.cap[0], raw.size() / 512);
  EXPECT_EQ(disk_source_info(1).format, "raw");
  EXPECT_EQ(disk_source_info(2).segments, 0);
  ASSERT_EQ(disk_refusals().size(), 1u);
  EXPECT_EQ(disk_refusals()[0].path, broken[0]);
  EXPECT_EQ(disk_refusals()[0].reason, "segment " + broken[1] + " is missing");
  uint8_t sector[512];
  ASSERT_EQ(disk_read_sectors(0, 1, 4096, 0, sector), 0);
  EXPECT_EQ(std::memcmp(sector, raw.data() + 4096 * 512, 512), 0);
}

// An E01 set of the image, made by ewfacquire in 1 MiB segments.
class EwfSourceTest : public ImageSourceTest {
 protected:
  void SetUp() override {
    ImageSourceTest::SetUp();
    install_ewf_source();
    const std::string made = kb::make_e01(raw_path, dir.path("ev"), 1 << 20);
    if (made == "ewfacquire is not installed") GTEST_SKIP() << made;
    ASSERT_EQ(made, "");
    segments = kb::e01_segments(dir.path("ev"));
    ASSERT_GE(segments.size(), 3u);
  }
  std::string refusal() { return open_image_source(segments[0]).refusal; }
  static void overwrite(const std::string& path, off_t at, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), ssize_t(bytes.size()));
    ::close(fd);
  }
  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::vector<std::string> segments;
};

TEST_F(EwfSourceTest, ReadsLikeTheRawImage) {
  SourceOpen open = open_image_source(segments[0]);
  ASSERT_TRUE(open.source) << open.refusal;
  EXPECT_EQ(open.source->format(), "E01");
  EXPECT_EQ(open.source->segments(), int(segments.size()));
  expect_reads_like(*open.source, raw);
}

TEST_F(EwfSourceTest, MissingSegmentsAreNamed) {
  std::filesystem::remove(segments.back());
  EXPECT_EQ(refusal(), "segment " + segments.back() + " is missing");
  std::filesystem::remove(segments[1]);
  EXPECT_EQ(refusal(), "segment " + segments[1] + " is missing");
}

TEST_F(EwfSourceTest, DamagedSegmentsAreNamed) {
  struct Case {
    const char* what;
    off_t at;
    const char* bytes;
    const char* says;
  } cases[] = {
      {"signature", 0, "XVF", "does not start with the segment signature"},
      {"segment number", 9, "\x07", "carries segment number 7 instead of 2"},
      {"section descriptor", 20, "damage", "has a damaged section at byte 13"},
  };
  const std::string keep = contents(segments[1]);
  for (const Case& c : cases) {
    overwrite(segments[1], c.at, c.bytes);
    EXPECT_EQ(refusal(), "segment " + segments[1] + " " + c.says) << c.what;
    overwrite(segments[1], 0, keep);
  }
  ASSERT_EQ(refusal(), "");
  ASSERT_EQ(::truncate(segments[1].c_str(), 100000), 0);
  EXPECT_NE(refusal().find("segment " + segments[1] + " is cut short"), std::string::npos) << refusal();
}

TEST_F(EwfSourceTest, ADamagedChunkFailsItsReadsOnly) {
  // Segment 2's chunks lie in the second half of its file; each chunk is 32 KiB of the image.
  const off_t middle = off_t(std::filesystem::file_size(segments[1]) / 2);
  overwrite(segments[1], middle, "damaged chunk data");
  SourceOpen open = open_image_source(segments[0]);
  ASSERT_TRUE(open.source) << open.refusal;
  std::string buf(raw.size(), '\0');
  EXPECT_FALSE(open.source->read(buf.data(), buf.size(), 0)) << "the whole image holds the chunk";
  EXPECT_FALSE(open.source->read(buf.data(), buf.size(), 0)) << "and fails again when read again";
  ASSERT_TRUE(open.source->read(buf.data(), 65536, 0)) << "the first chunks are sound";
  EXPECT_EQ(buf.substr(0, 65536), raw.substr(0, 65536));
}

}  // namespace
}  // namespace krt

// The forms examiners hand images on in: a builder image as raw, as three split segments and
// as an E01 set (made by ewfacquire) gives the same listings and the same bytes of every
// recording; a set with a missing or damaged segment is refused with the segment's name.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "krt_testing/evidence.h"
#include "tool_support.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

class Formats : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<TempDir>();
    const std::string raw = Images::get().paths[0];
    s_split = kb::split_image(raw, *s_dir / "disk", 3);
    s_e01_made = kb::make_e01(raw, *s_dir / "ev", 1 << 20);
    s_e01 = kb::e01_segments(*s_dir / "ev");
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  void SetUp() override { ASSERT_EQ(s_split.size(), 3u); }
  void need_e01() {
    if (s_e01_made == "ewfacquire is not installed") GTEST_SKIP() << s_e01_made;
    ASSERT_EQ(s_e01_made, "");
    ASSERT_GE(s_e01.size(), 2u);
  }

  // `krt -d IMAGE args...`
  static ToolRun krt_on(const std::string& image, std::vector<std::string> args) {
    args.insert(args.begin(), {"-d", image});
    return run_tool(args);
  }

  // Everything a form shows: the listing of the partitions and of one channel folder, and the
  // SHA256SUMS of an export of every recording (each recording's path and bytes).
  static std::string everything(const std::string& image, const std::string& out) {
    std::string all;
    for (const char* folder : {"/mnt", "/mnt/idea0/2010-03-05/001"}) {
      const ToolRun ls = krt_on(image, {"ls", folder});
      EXPECT_EQ(ls.status, 0) << ls.err;
      all += ls.out;
    }
    const ToolRun ex = krt_on(image, {"export", "/mnt", out});
    EXPECT_EQ(ex.status, 0) << ex.err;
    return all + read_file(out + "/SHA256SUMS");
  }

  static std::unique_ptr<TempDir> s_dir;
  static std::vector<std::string> s_split, s_e01;
  static std::string s_e01_made;
};

std::unique_ptr<TempDir> Formats::s_dir;
std::vector<std::string> Formats::s_split, Formats::s_e01;
std::string Formats::s_e01_made;

TEST_F(Formats, SplitAndE01ShowWhatTheRawImageShows) {
  need_e01();
  const std::string raw = everything(Images::get().paths[0], *s_dir / "raw-out");
  ASSERT_GT(raw.size(), 1000u);
  EXPECT_EQ(everything(s_split[0], *s_dir / "split-out"), raw);
  EXPECT_EQ(everything(s_e01[0], *s_dir / "e01-out"), raw);
  // And the bytes of one recording as cat gives them.
  const std::string path = "/mnt/idea0/2010-03-05/001/" + Images::name(Images::get().recordings(0, 0, 2010, 3, 5, 0)[0]);
  const ToolRun cat = krt_on(Images::get().paths[0], {"cat", path});
  ASSERT_EQ(cat.status, 0) << cat.err;
  EXPECT_TRUE(krt_on(s_split[0], {"cat", path}).out == cat.out);
  EXPECT_TRUE(krt_on(s_e01[0], {"cat", path}).out == cat.out);
}

TEST_F(Formats, DisksNamesTheFormatSegmentsAndSize) {
  need_e01();
  const uint64_t bytes = fs::file_size(Images::get().paths[0]);
  const ToolRun r = run_tool({"-d", s_split[0], "-d", s_e01[0], "-d", Images::get().paths[0], "disks", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string size = ",\"bytes\":" + std::to_string(bytes) + ",\"sectors\":" + std::to_string(bytes / 512);
  EXPECT_NE(r.out.find("\"format\":\"split raw\",\"segments\":3" + size), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"format\":\"E01\",\"segments\":" + std::to_string(s_e01.size()) + size),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"format\":\"raw\",\"segments\":1" + size), std::string::npos) << r.out;
  const ToolRun text = run_tool({"-d", s_split[0], "disks"});
  EXPECT_NE(text.out.find("split raw, 3 segments"), std::string::npos) << text.out;
}

// Moves a file aside for the life of the object.
struct Aside {
  std::string path;
  explicit Aside(std::string p) : path(std::move(p)) { fs::rename(path, path + ".aside"); }
  ~Aside() { fs::rename(path + ".aside", path); }
};

TEST_F(Formats, AMissingSecondSegmentIsRefusedByName) {
  Aside gone(s_split[1]);
  const ToolRun r = krt_on(s_split[0], {"disks"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("segment " + s_split[1] + " is missing"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Formats, ADamagedE01SegmentIsRefusedByName) {
  need_e01();
  const fs::path copy = *s_dir / "damaged";
  fs::create_directories(copy);
  for (const std::string& s : s_e01) fs::copy_file(s, copy / fs::path(s).filename());
  const std::string second = (copy / fs::path(s_e01[1]).filename()).string();
  const int fd = ::open(second.c_str(), O_WRONLY);
  ASSERT_EQ(::pwrite(fd, "XVF", 3, 0), 3);
  ::close(fd);
  const ToolRun r = krt_on((copy / fs::path(s_e01[0]).filename()).string(), {"ls"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("segment " + second + " does not start with the segment signature"), std::string::npos)
      << r.err;
}

// verify: a good set passes (its stored MD5 against its data, a given SHA-256), a damaged one
// fails and says where.
TEST_F(Formats, VerifyPassesAGoodSetAndFailsADamagedOne) {
  need_e01();
  const std::string raw = Images::get().paths[0];
  const std::string sha256 = shell("sha256sum '" + raw + "'").substr(0, 64);
  const std::string md5 = shell("md5sum '" + raw + "'").substr(0, 32);
  const ToolRun e01 = run_tool({"verify", s_e01[0]});
  EXPECT_EQ(e01.status, 0) << e01.out << e01.err;
  EXPECT_NE(e01.out.find("MD5: stored " + md5 + ", data " + md5 + ": matches\n"), std::string::npos) << e01.out;
  EXPECT_NE(e01.out.find("SHA256: " + sha256 + "\nverified\n"), std::string::npos) << e01.out;
  const ToolRun split = run_tool({"verify", s_split[0], "--sha256", sha256});
  EXPECT_EQ(split.status, 0) << split.out << split.err;
  EXPECT_NE(split.out.find("split raw, 3 segments"), std::string::npos) << split.out;
  EXPECT_NE(split.out.find("given " + sha256 + ": matches\nverified\n"), std::string::npos) << split.out;

  // A data byte changed in the middle of the first E01 segment: its chunk no longer matches.
  const fs::path copy = *s_dir / "verify-damaged";
  fs::create_directories(copy);
  for (const std::string& s : s_e01) fs::copy_file(s, copy / fs::path(s).filename(), fs::copy_options::overwrite_existing);
  const std::string first = (copy / fs::path(s_e01[0]).filename()).string();
  const int fd = ::open(first.c_str(), O_RDWR);
  char byte = 0;
  const off_t middle = off_t(fs::file_size(first) / 2);
  ASSERT_EQ(::pread(fd, &byte, 1, middle), 1);
  byte = char(byte ^ 0x5a);
  ASSERT_EQ(::pwrite(fd, &byte, 1, middle), 1);
  ::close(fd);
  std::string wrong = sha256;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  Aside gone(s_split[1]);
  for (const Case& c : {Case{{"verify", first}, "FAILED"}, Case{{"verify", raw, "--sha256", wrong}, ": DIFFERS\nFAILED\n"},
                        Case{{"verify", s_split[0]}, "segment " + s_split[1] + " is missing"}}) {
    const ToolRun r = run_tool(c.args);
    EXPECT_EQ(r.status, 1) << c.args[1] << ": " << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
  }
}

// A recorder disk inside a larger image (-o), an E01 image under another name (recognised by
// its content), and formats forced with -i.
TEST_F(Formats, OffsetsContentAndForcedFormats) {
  need_e01();
  const std::string raw = Images::get().paths[0];
  const std::string listing = krt_on(raw, {"ls", "/mnt/idea0/2010-03-05/001"}).out;
  ASSERT_NE(listing, "");
  const std::string inside = *s_dir / "inside.img";
  ASSERT_EQ(shell("dd if='" + raw + "' of='" + inside + "' bs=1M seek=1 conv=sparse status=none && echo ok"), "ok\n");
  const ToolRun offset = run_tool({"-o", "2048", "-d", inside, "ls", "/mnt/idea0/2010-03-05/001"});
  EXPECT_EQ(offset.status, 0) << offset.err;
  EXPECT_EQ(offset.out, listing);
  EXPECT_NE(run_tool({"-o", "2048", "-d", inside, "disks"}).out.find("raw from sector 2048"), std::string::npos);

  ASSERT_EQ(kb::make_e01(raw, *s_dir / "whole", uint64_t(1) << 30), "");
  const std::string renamed = *s_dir / "evidence-image";
  fs::rename(*s_dir / "whole.E01", renamed);
  const ToolRun content = krt_on(renamed, {"ls", "/mnt/idea0/2010-03-05/001"});
  EXPECT_EQ(content.status, 0) << content.err;
  EXPECT_EQ(content.out, listing);

  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::string moved = *s_dir / "first-of-many";
  fs::copy_file(s_e01[0], moved, fs::copy_options::overwrite_existing);
  for (const Case& c : {Case{{"-i", "split", "-d", raw}, "is not the first segment of a split raw set"},
                        Case{{"-i", "ewf", "-d", raw}, "is not an E01 segment"},
                        Case{{"-i", "raw", "-d", s_e01[0]}, "is not a recorder disk"},
                        Case{{"-o", "99999999999", "-d", raw}, "nothing at sector 99999999999"},
                        Case{{"-d", moved}, "is the first of a set that goes on"}}) {
    std::vector<std::string> args = c.args;
    args.push_back("disks");
    const ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 1) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  const ToolRun forced = run_tool({"-i", "raw", "-d", raw, "ls", "/mnt/idea0/2010-03-05/001"});
  EXPECT_EQ(forced.out, listing) << forced.err;
}

}  // namespace
}  // namespace tool_test

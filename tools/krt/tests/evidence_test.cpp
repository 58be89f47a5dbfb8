// What an examiner relies on: the tool refuses what is inconsistent, examines only the images
// it is given, writes only where it is told, names recordings exactly, and checks every write.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "krt_testing/evidence.h"
#include "tool_support.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

// `krt ARGS` through the shell: "OUTPUT...status N\n", standard error included (ARGS may end
// in a redirection of standard output).
std::string krt_shell(const std::string& args) {
  return shell(std::string("'") + KRT_TOOL_PATH + "' 2>&1 " + args + "; echo status $?");
}

// A recording of the shared images and its listing name.
std::string first_recording() {
  return "/mnt/idea0/2010-03-05/001/" + Images::name(Images::get().recordings(0, 0, 2010, 3, 5, 0)[0]);
}

// A split set whose middle segment is cut or grown is refused, naming the segment and both
// sizes; a short last segment is simply the end of the image.
TEST(Evidence, ASplitSetWithAMisSizedSegmentBeforeTheLastIsRefused) {
  struct Case {
    const char* what;
    int segment;       // 0-based
    int64_t change;    // bytes added (negative: cut)
    bool refused;
  };
  const TempDir dir;
  const std::string raw = Images::get().paths[0];
  for (const Case& c : {Case{"middle cut to half", 1, -1, true}, Case{"middle grown", 1, 4096, true},
                        Case{"first cut", 0, -4096, true}, Case{"last cut", 3, -4096, false}}) {
    const std::vector<std::string> set = kb::split_image(raw, dir / c.what, 4);
    ASSERT_EQ(set.size(), 4u);
    const uint64_t first = fs::file_size(set[0]);
    const uint64_t size = fs::file_size(set[size_t(c.segment)]);
    const uint64_t changed = c.change == -1 ? size / 2 : uint64_t(int64_t(size) + c.change);
    fs::resize_file(set[size_t(c.segment)], changed);
    const ToolRun disks = krt_on(set[0], {"disks"});
    const ToolRun cat = krt_on(set[0], {"cat", first_recording()});
    if (!c.refused) {
      EXPECT_EQ(disks.status, 0) << c.what << ": " << disks.err;
      continue;
    }
    const std::string named = c.segment == 0 ? set[1] : set[size_t(c.segment)];
    const std::string sizes = c.segment == 0 ? std::to_string(first) + " bytes, but segment " + set[0] + " is " +
                                                   std::to_string(changed)
                                             : std::to_string(changed) + " bytes, but segment " + set[0] + " is " +
                                                   std::to_string(first);
    EXPECT_EQ(disks.status, 1) << c.what;
    EXPECT_EQ(disks.out, "") << c.what;
    EXPECT_NE(disks.err.find("segment " + named + " is " + sizes), std::string::npos) << c.what << ": " << disks.err;
    EXPECT_EQ(cat.status, 1) << c.what;
    EXPECT_EQ(cat.out, "") << c.what << ": no bytes read at the wrong offsets";
  }
}

// -d names the only images examined: each that cannot be used is an error with its reason,
// and nothing else (VENDREL_DISKS here) stands in for it.
TEST(Evidence, OnlyTheNamedImagesAreExaminedAndEachUnusableOneSaysWhy) {
  const TempDir dir;
  const std::string good = Images::get().paths[0];
  ::mkfifo((dir / "fifo").c_str(), 0600);
  fs::create_directories(dir / "folder");
  { std::ofstream empty(dir / "empty.img"); }
  {
    std::ofstream zeros(dir / "zeros.img");
    zeros << std::string(1 << 16, '\0');
  }
  {
    std::ofstream small(dir / "small.img");
    small << read_file(good).substr(0, 4096);  // its sector 0, not its partition table
  }
  { std::ofstream secret(dir / "secret.img"); }
  ::chmod((dir / "secret.img").c_str(), 0);
  struct Case {
    std::string image;
    std::string reason;
  };
  std::vector<Case> cases = {{dir / "missing.img", "no such file"},
                             {dir / "fifo", "is a FIFO, not a disk image"},
                             {dir / "folder", "is a folder, not a disk image"},
                             {dir / "empty.img", "is empty"},
                             {dir / "zeros.img", "is not a recorder disk"},
                             {dir / "small.img", "holds 4096 bytes: too small for its partition table"}};
  if (::geteuid() != 0) cases.push_back({dir / "secret.img", "cannot be read: Permission denied"});
  for (const Case& c : cases) {
    for (const char* command : {"ls", "disks"}) {
      // Under a time limit: a FIFO must never be waited on.
      const std::string r = krt_shell("-d '" + good + "' -d '" + c.image + "' " + command + " </dev/null");
      EXPECT_NE(r.find("krt: " + c.image + ": " + c.reason), std::string::npos) << command << ": " << r;
      EXPECT_NE(r.find("status 1\n"), std::string::npos) << command << ": " << r;
    }
    const std::string alone = shell("VENDREL_DISKS='" + good + "' timeout 60 '" + KRT_TOOL_PATH + "' -d '" + c.image +
                                    "' ls 2>/dev/null; echo status $?");
    EXPECT_EQ(alone, "status 1\n") << c.image << ": nothing but the named image is looked at";
  }
  // One image named twice, in two spellings, is one disk.
  const std::string twice = krt_shell("-d '" + good + "' -d '" + fs::path(good).parent_path().string() + "/./" +
                                      fs::path(good).filename().string() + "' disks");
  EXPECT_EQ(std::count(twice.begin(), twice.end(), '\n'), 2) << twice;
  EXPECT_NE(twice.find("status 0\n"), std::string::npos) << twice;
}

// An export target among the recordings' own paths is refused before anything is written.
TEST(Evidence, AnExportIntoTheRecordingsNamespaceIsRefused) {
  for (const char* target : {"/mnt", "/mnt/idea0", "/mnt/idea1/2010-03-05", "/mnt/idea0/../idea0/x", "/mnt/ideb0/"}) {
    const bool existed = fs::exists(target);
    const ToolRun r = run_tool(Images::get().args({"export", first_recording(), target}));
    EXPECT_EQ(r.status, 1) << target;
    EXPECT_NE(r.err.find(std::string(target) + " is a recording path"), std::string::npos) << r.err;
    EXPECT_EQ(fs::exists(target), existed) << target;
  }
}

// A mount point must be an empty folder that is no mount point yet.
TEST(Evidence, AMountPointThatIsNoEmptyFolderIsRefused) {
  const TempDir dir;
  { std::ofstream file(dir / "file"); }
  fs::create_directories(dir / "full/inside");
  struct Case {
    std::string where;
    const char* reason;
  };
  for (const Case& c : {Case{dir / "file", "it is not a folder"}, Case{dir / "full", "the folder is not empty"},
                        Case{"/proc", "it is a mount point already"},
                        Case{dir / "missing", "No such file or directory"}}) {
    const ToolRun r = run_tool(Images::get().args({"mount", c.where}));
    EXPECT_EQ(r.status, 1) << c.where;
    EXPECT_NE(r.err.find("cannot mount on " + c.where + ": " + c.reason), std::string::npos) << r.err;
  }
}

// Every command checks its writes: output to a full device is a failure.
TEST(Evidence, AFailedWriteToStandardOutputIsAFailure) {
  const std::string images = "-d '" + Images::get().paths[0] + "' -d '" + Images::get().paths[1] + "' ";
  for (const char* command : {"disks", "disks --json", "partitions", "info", "info --json", "calendar", "ls",
                              "ls /mnt/idea0/2010-03-05/001", "--help", "ls --help"}) {
    const std::string r = krt_shell(images + command + " >/dev/full");
    EXPECT_NE(r.find("cannot write to standard output: No space left on device"), std::string::npos)
        << command << ": " << r;
    EXPECT_NE(r.find("status 1\n"), std::string::npos) << command << ": " << r;
  }
  // No disk at all: the JSON form fails as the text form does.
  EXPECT_EQ(run_tool({"-d", "/nonexistent.img", "disks"}).status, 1);
  const ToolRun json = run_tool({"-d", "/nonexistent.img", "disks", "--json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out, "[]\n");
  EXPECT_EQ(json.err, "{\"error\":\"/nonexistent.img: no such file\"}\n");
}

// A name names a recording only when every field is the recording's.
TEST(Evidence, ARecordingNameMustAgreeInEveryField) {
  const std::string path = first_recording();
  const std::string name = path.substr(path.rfind('/') + 1);  // HH.MM.SS-HH.MM.SS[R][@c][0].h264
  const ToolRun exact = run_tool(Images::get().args({"cat", path}));
  ASSERT_EQ(exact.status, 0) << exact.err;
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  struct Case {
    const char* what;
    size_t at;          // where in the name
    size_t length;      // what is replaced
    const char* with;
  };
  const size_t kind = name.find("[R]"), repeat = name.rfind("[0]"), ext = name.rfind(".h264");
  for (const Case& c : {Case{"kind", kind, 3, "[A]"}, Case{"extension", ext, 5, ".jpg"},
                        Case{"repeat", repeat, 3, "[9]"}, Case{"end time", 9, 2, "23"},
                        Case{"start time", 6, 2, "01"}}) {
    std::string loose = name;
    loose.replace(c.at, c.length, c.with);
    const ToolRun r = run_tool(Images::get().args({"cat", folder + loose}));
    EXPECT_EQ(r.status, 1) << c.what << ": " << loose;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_NE(r.err.find("no such recording"), std::string::npos) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(path), std::string::npos) << c.what << ": the name it has: " << r.err;
  }
}

// An E01 segment cut short is refused with the segment's real length.
TEST(Evidence, AnE01SegmentCutShortGivesItsLength) {
  const TempDir dir;
  const std::string made = kb::make_e01(Images::get().paths[0], dir / "ev", 1 << 20);
  if (made == "ewfacquire is not installed") GTEST_SKIP() << made;
  ASSERT_EQ(made, "");
  const std::vector<std::string> set = kb::e01_segments(dir / "ev");
  ASSERT_GE(set.size(), 2u);
  const uint64_t cut = fs::file_size(set[0]) / 2;
  fs::resize_file(set[0], cut);
  const ToolRun r = krt_on(set[0], {"ls"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("segment " + set[0] + " is cut short at byte " + std::to_string(cut) + " "), std::string::npos)
      << r.err;
  // Said once, in the tool's own form.
  EXPECT_EQ(r.err.find("cut short"), r.err.rfind("cut short")) << r.err;
  EXPECT_EQ(r.err.find("FSWarn"), std::string::npos) << r.err;
}

// A sector that cannot be read (a damaged chunk of an E01 set) is named in the tool's words,
// with its sector and byte, once, and what needed it is not copied.
TEST(Evidence, AReadErrorIsSaidWithItsSectorAndByte) {
  const TempDir dir;
  const std::string made = kb::make_e01(Images::get().paths[0], dir / "ev", 1 << 20);
  if (made == "ewfacquire is not installed") GTEST_SKIP() << made;
  ASSERT_EQ(made, "");
  const std::vector<std::string> set = kb::e01_segments(dir / "ev");
  ASSERT_GE(set.size(), 2u);
  // Chunk data fills the second half of every segment but the first.
  for (size_t k = 1; k < set.size(); ++k) {
    std::fstream f(set[k], std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(fs::file_size(set[k]) * 3 / 4));
    f << "damaged chunk data";
  }
  const TempDir out;
  const ToolRun r = krt_on(set[0], {"export", "/mnt", out.path()});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::regex said(R"(krt: warning: read error on disk 0 at sector (\d+) \(byte (\d+)\)\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.err, m, said)) << r.err.substr(0, 2000);
  EXPECT_EQ(std::stoull(m[2].str()), std::stoull(m[1].str()) * 512);
  EXPECT_EQ(r.err.find(m[0].str()), r.err.rfind(m[0].str())) << "said once";
  EXPECT_EQ(r.err.find("disk access"), std::string::npos) << "the library's own words only with -v";
  EXPECT_NE(r.err.find("not copied"), std::string::npos) << r.err.substr(0, 2000);
}

}  // namespace
}  // namespace tool_test

// The tool end to end: the built program run on images made by the image builder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "krt/disk.h"
#include "krt/volume.h"
#include "tool_support.h"
#include "vfs/fsfile.h"

namespace tool_test {
namespace {

class Tool : public ::testing::Test {
 protected:
  const Images& img = Images::get();
  ToolRun krt(const std::vector<std::string>& args) const { return run_tool(img.args(args)); }
};

// Lines of a text, without their newlines.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// What the adapter delivers for path, read in this process through CFSFile.
std::string adapter_read(const std::string& path) {
  CFSFile file;
  EXPECT_TRUE(file.Open(path.c_str(), CFSFile::modeRead)) << path;
  std::string out;
  char block[8192];
  for (uint32_t n; (n = file.Read(block, sizeof block)) > 0;) out.append(block, n);
  return out;
}

// Brings the shared images up in this process.
void bring_up_here(const Images& img) {
  krt::set_disk_sources({img.paths, false, false, false});
  ASSERT_EQ(krt::volume_startup(), 3);  // healthy partitions: two on disk 0, one on disk 1
}

TEST_F(Tool, ListsEveryPartitionOfEveryDisk) {
  const ToolRun r = krt({"ls"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "idea0\nidea1\nideb0\n");
  EXPECT_EQ(krt({"ls", "/mnt/"}).out, r.out);
  EXPECT_EQ(krt({"ls", "--json"}).out,
            "[{\"name\":\"idea0\",\"path\":\"/mnt/idea0\"},{\"name\":\"idea1\",\"path\":\"/mnt/idea1\"},"
            "{\"name\":\"ideb0\",\"path\":\"/mnt/ideb0\"}]\n");
}

TEST_F(Tool, ListsDaysAndChannels) {
  struct Case {
    const char* path;
    const char* listing;
  };
  for (const Case& c : {Case{"/mnt/idea0", "2010-03-04\n2010-03-05\n"},
                        Case{"/mnt/ideb0", "2010-03-06\n2010-03-07\n"},
                        Case{"/mnt/idea0/2010-03-04", "001\n002\n003\n004\n005\n"},
                        Case{"/mnt/idea0/2010-03-05", "001\n002\n003\n004\n"},  // 005 began the day before
                        Case{"/mnt/idea1/2010-03-05", "006\n007\n"},
                        Case{"/mnt/ideb0/2010-03-06/", "001\n002\n"}}) {
    const ToolRun r = krt({"ls", c.path});
    EXPECT_EQ(r.status, 0) << c.path << ": " << r.err;
    EXPECT_EQ(r.out, c.listing) << c.path;
  }
}

TEST_F(Tool, ListsRecordingsInStartTimeOrderWithTheirSizes) {
  struct Case {
    const char* path;
    int disk, slot, year, month, day, channel;
  };
  for (const Case& c : {Case{"/mnt/idea0/2010-03-05/002", 0, 0, 2010, 3, 5, 1},
                        Case{"/mnt/idea0/2010-03-05/004", 0, 0, 2010, 3, 5, 3},  // with a header
                        Case{"/mnt/idea0/2010-03-04/005", 0, 0, 2010, 3, 4, 4},  // runs past midnight
                        Case{"/mnt/idea1/2010-03-05/007", 0, 1, 2010, 3, 5, 6},
                        Case{"/mnt/ideb0/2010-03-06/001", 1, 0, 2010, 3, 6, 0},
                        Case{"/mnt/ideb0/2010-03-06/002", 1, 0, 2010, 3, 6, 1}}) {
    std::string expected;
    for (const Placed& p : img.recordings(c.disk, c.slot, c.year, c.month, c.day, c.channel))
      expected += Images::name(p) + "\t" + std::to_string(Images::size(p)) + "\n";
    ASSERT_NE(expected, "");
    const ToolRun r = krt({"ls", c.path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected) << c.path;
  }
  const ToolRun json = krt({"ls", "--json", "/mnt/ideb0/2010-03-06/001"});
  const Placed first = img.recordings(1, 0, 2010, 3, 6, 0).front();
  EXPECT_EQ(json.out.find("[{\"name\":\"" + Images::name(first) + "\",\"path\":\"/mnt/ideb0/2010-03-06/001/" +
                          Images::name(first) + "\",\"size\":" + std::to_string(Images::size(first)) +
                          ",\"start\":\"2010-03-06T08:00:00\""),
            0u)
      << json.out;
}

// cat gives exactly what the adapter's read gives; for the file with a header that is the
// builder's data after the header.
TEST_F(Tool, CatDeliversWhatTheAdapterReads) {
  std::vector<std::string> paths;
  for (const char* channel : {"/mnt/idea0/2010-03-05/001", "/mnt/idea0/2010-03-05/004", "/mnt/ideb0/2010-03-06/001",
                              "/mnt/ideb0/2010-03-06/002"}) {
    for (const std::string& line : lines(krt({"ls", channel}).out))
      paths.push_back(std::string(channel) + "/" + line.substr(0, line.find('\t')));
  }
  ASSERT_GT(paths.size(), 10u);
  bring_up_here(img);
  std::string expected;
  for (const std::string& path : paths) expected += adapter_read(path);
  std::vector<std::string> args{"cat"};
  args.insert(args.end(), paths.begin(), paths.end());
  const ToolRun r = krt(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == expected) << "cat of " << paths.size() << " recordings differs from the adapter's read";
  const Placed headed = img.recordings(0, 0, 2010, 3, 5, 3).front();
  std::vector<uint8_t> data = kb::expected_bytes(*headed.place);
  data.erase(data.begin(), data.begin() + 3 * 512);
  data.resize(Images::size(headed));
  EXPECT_EQ(krt({"cat", "/mnt/idea0/2010-03-05/004/" + Images::name(headed)}).out,
            std::string(data.begin(), data.end()));
}

TEST_F(Tool, ExportsADayWithChecksums) {
  bring_up_here(img);
  TempDir out;
  const ToolRun r = krt({"export", "/mnt/idea0/2010-03-05", out.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar: standard error is not a terminal
  std::vector<std::string> sums = lines(read_file(out / "SHA256SUMS"));
  size_t files = 0;
  for (const char* channel : {"001", "002", "003", "004"}) {
    const std::string folder = std::string("/mnt/idea0/2010-03-05/") + channel;
    for (const std::string& line : lines(krt({"ls", folder}).out)) {
      const std::string name = line.substr(0, line.find('\t'));
      const std::string copy = read_file(out / ("idea0/2010-03-05/" + std::string(channel) + "/" + name));
      EXPECT_TRUE(copy == adapter_read(folder + "/" + name)) << name;
      EXPECT_EQ(std::to_string(copy.size()), line.substr(line.find('\t') + 1));
      ++files;
    }
  }
  EXPECT_EQ(sums.size(), files);
  EXPECT_EQ(std::system(("cd '" + out.path() + "' && sha256sum -c --quiet SHA256SUMS").c_str()), 0);

  // Again, plus another disk's day: targets are replaced (not appended to) and the sums of
  // both exports stay in the file.
  ASSERT_EQ(krt({"export", "/mnt/idea0/2010-03-05/002", "/mnt/ideb0/2010-03-06", out.path()}).status, 0);
  const Placed p = img.recordings(0, 0, 2010, 3, 5, 1).front();
  EXPECT_EQ(std::filesystem::file_size(out / ("idea0/2010-03-05/002/" + Images::name(p))), Images::size(p));
  EXPECT_EQ(lines(read_file(out / "SHA256SUMS")).size(), files + 3);
  EXPECT_EQ(std::system(("cd '" + out.path() + "' && sha256sum -c --quiet SHA256SUMS").c_str()), 0);
}

TEST_F(Tool, ExportShowsProgressOnATerminal) {
  TempDir out;
  const ToolRun r = run_tool(img.args({"export", "/mnt/ideb0/2010-03-06", out.path()}), true);
  if (r.status == -1 && r.err == "openpty failed") GTEST_SKIP() << "no pseudo-terminal here";
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("3/3 files"), std::string::npos) << r.err;
}

TEST_F(Tool, ExportGoesOnPastARecordingItCannotWrite) {
  TempDir out;
  std::filesystem::create_directories(out / "idea0/2010-03-05");
  { std::ofstream blocker(out / "idea0/2010-03-05/002"); }  // a file where a folder must go
  const ToolRun r = krt({"export", "/mnt/idea0/2010-03-05/001", "/mnt/idea0/2010-03-05/002", out.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create " + out.path() + "/idea0/2010-03-05/002"), std::string::npos) << r.err;
  const size_t copied = img.recordings(0, 0, 2010, 3, 5, 0).size();
  const size_t refused = img.recordings(0, 0, 2010, 3, 5, 1).size();
  // Said once, with the count, not once per recording.
  const std::string said = std::to_string(refused) + " of " + std::to_string(copied + refused) +
                           " recordings not copied: Not a directory (the first: cannot create ";
  EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("cannot create"), r.err.rfind("cannot create")) << r.err;
  // The manifest lists what was copied and what was not, with why.
  const std::string manifest = read_file(out / "manifest.json");
  size_t listed_failed = 0;
  for (const std::string& line : lines(manifest)) {
    listed_failed += line.rfind("{\"recording\":\"/mnt/idea0/2010-03-05/002/", 0) == 0 &&
                     line.find("\"reason\":\"cannot create ") != std::string::npos;
  }
  EXPECT_EQ(listed_failed, refused) << manifest;
  EXPECT_EQ(lines(read_file(out / "SHA256SUMS")).size(), copied);
  EXPECT_EQ(std::system(("cd '" + out.path() + "' && sha256sum -c --quiet SHA256SUMS").c_str()), 0);
}

// A recording whose read ends before its length: cat fails after what it could deliver;
// export reports it, copies the others, leaves neither the file nor a sum for it.
TEST_F(Tool, ARecordingThatCannotBeReadToItsEndIsAnError) {
  const std::vector<std::string> listed = lines(krt({"ls", "/mnt/ideb0/2010-03-07/003"}).out);
  ASSERT_EQ(listed.size(), 1u);
  const std::string name = listed[0].substr(0, listed[0].find('\t'));
  const std::string path = "/mnt/ideb0/2010-03-07/003/" + name;
  const ToolRun cat = krt({"cat", path});
  EXPECT_EQ(cat.status, 1);
  EXPECT_NE(cat.err.find("krt: read of " + path + " failed after"), std::string::npos) << cat.err;

  TempDir out;
  const ToolRun r = krt({"export", "/mnt/ideb0", out.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 of 4 recordings not copied: read of " + path + " failed after 0 of 65536 bytes"),
            std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out / ("ideb0/2010-03-07/003/" + name)));
  EXPECT_FALSE(std::filesystem::exists(out / ("ideb0/2010-03-07/003/." + name + ".part")));
  EXPECT_EQ(lines(read_file(out / "SHA256SUMS")).size(), 3u);
}

struct BadPath {
  std::string command;  // "ls" for folders, "cat" for recordings
  std::string path;
  std::string message;  // part of the error
};

void PrintTo(const BadPath& c, std::ostream* os) { *os << c.command << " " << c.path.substr(0, 80); }

class ToolBadPaths : public Tool, public ::testing::WithParamInterface<BadPath> {};

TEST_P(ToolBadPaths, FailWithAClearMessage) {
  const BadPath& c = GetParam();
  const ToolRun r = krt({c.command, c.path});
  EXPECT_EQ(r.status, 1) << r.err;  // a crash would give 128 + its signal
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("krt: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_LT(r.err.size(), 300u) << "the message quotes at most a shortened component";
}

const std::string kLong(5000, '7');
const std::string kFolder = "/mnt/idea0/2010-03-05/002/";

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolBadPaths,
    ::testing::Values(
        BadPath{"ls", "idea0", "is not a path under /mnt"},
        BadPath{"ls", "/mntx/idea0", "is not a path under /mnt"},
        BadPath{"ls", "/mnt/ide", "'ide' is not a partition"},
        BadPath{"ls", "/mnt/idea4", "'idea4' is not a partition"},
        BadPath{"ls", "/mnt//idea0", "'' is not a partition"},
        BadPath{"ls", "/mnt/idec0", "no mounted partition idec0"},
        BadPath{"ls", "/mnt/idea2/2010-03-05", "no mounted partition idea2"},
        BadPath{"ls", "/mnt/idea0/2010-3-5x", "'2010-3-5x' is not a day"},
        BadPath{"ls", "/mnt/idea0/1999-03-05", "'1999-03-05' is not a day"},
        BadPath{"ls", "/mnt/idea0/2011-01-01", "no recording starts on 2011-01-01 in idea0"},
        BadPath{"ls", "/mnt/idea0/2010-03-05/065", "'065' is not a channel"},
        BadPath{"ls", "/mnt/idea0/2010-03-05/017", "no recording of channel 017 starts on 2010-03-05 in idea0"},
        BadPath{"ls", "/mnt/idea0/" + kLong, "'7777777777777777777777777777777777777777...' is not a day"},
        BadPath{"ls", kFolder + "00.00.00-00.30.00[R][@1][0].h264", "is a recording, not a folder"},
        BadPath{"cat", "/mnt/idea0/2010-03-05", "is a folder, not a recording"},
        BadPath{"cat", kFolder + "08.00.00.h264", "is not a recording"},
        BadPath{"cat", kFolder + "00.00.00-00.30.00[R][@19d][1].avi", "is not a recording"},
        BadPath{"cat", kFolder + "00.00.00-00.30.00[R][@" + kLong + "].h264", "...' is not a recording"},
        BadPath{"cat", kFolder + "00.00.00-00.30.00[R][@1][0].h264/x", "goes below a recording"},
        BadPath{"cat", "/mnt/idea2/2010-03-05/002/00.00.00-00.30.00[R][@1][0].h264", "no mounted partition idea2"},
        BadPath{"cat", kFolder + "00.00.00-00.30.00[R][@fffffff][0].h264",
                "cluster 0xfffffff lies beyond partition idea0"},
        BadPath{"cat", kFolder + "00.00.00-00.30.00[R][@1][0].h264", "cluster 0x1 is not the first cluster of a recording"},
        BadPath{"cat", kFolder + "07.00.00-07.30.00[R].h264", "no such recording in /mnt/idea0/2010-03-05/002"}));

// A name with a cluster that is a first cluster, but of another folder's recording or with
// another start time, is refused and the message names the right one.
TEST_F(Tool, ClusterOfAnotherRecordingIsNamed) {
  const Placed a = img.recordings(0, 0, 2010, 3, 5, 0).front();  // channel 001
  const Placed b = img.recordings(0, 0, 2010, 3, 5, 1)[1];       // channel 002, second file
  char cluster[16];
  std::snprintf(cluster, sizeof cluster, "%x", a.place->first_cluster);
  ToolRun r = krt({"cat", std::string("/mnt/idea0/2010-03-05/002/00.00.00-00.30.00[R][@") + cluster + "][0].h264"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(std::string("is listed in /mnt/idea0/2010-03-05/001, not in /mnt/idea0/2010-03-05/002")),
            std::string::npos)
      << r.err;
  std::snprintf(cluster, sizeof cluster, "%x", b.place->first_cluster);
  r = krt({"cat", std::string("/mnt/idea0/2010-03-05/002/00.00.00-00.30.00[R][@") + cluster + "][0].h264"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is /mnt/idea0/2010-03-05/002/" + Images::name(b)), std::string::npos) << r.err;
  // Without a cluster, by start time and repeat number.
  const std::string by_time = "/mnt/idea0/2010-03-05/002/" + Images::name(b).substr(0, 17) + "[R][@0][" +
                              std::to_string(b.place->repeat_no) + "].h264";
  EXPECT_EQ(krt({"cat", by_time}).out.size(), Images::size(b));
}

TEST_F(Tool, InfoAndCalendar) {
  ToolRun r = krt({"info"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* table : {"driver basic parameter:", "driver operation parameter:", "driver time chart:",
                            "driver time sections:", "|0.0 -> ", "|0.1 -> ", "|1.0 -> "})
    EXPECT_NE(r.out.find(table), std::string::npos) << table;
  r = krt({"info", "--json"});
  EXPECT_EQ(r.out.rfind("[{\"dev\":0,\"part\":0,", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("{\"dev\":1,\"part\":0,"), std::string::npos);

  r = krt({"calendar"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "idea0\t2010-03-04\t001 002 003 004 005\n"
            "idea0\t2010-03-05\t001 002 003 004\n"
            "idea1\t2010-03-05\t006 007\n");  // disk 1 is not in the record calendar
  EXPECT_EQ(krt({"calendar", "--json"}).out,
            "[{\"partition\":\"idea0\",\"days\":[{\"date\":\"2010-03-04\",\"channels\":[1,2,3,4,5]},"
            "{\"date\":\"2010-03-05\",\"channels\":[1,2,3,4]}]},"
            "{\"partition\":\"idea1\",\"days\":[{\"date\":\"2010-03-05\",\"channels\":[6,7]}]}]\n");
}

// Every command leaves the images exactly as they were (they are read-only files, but the
// tests may run as root, who could write them all the same).
TEST_F(Tool, ImagesNeverChange) {
  std::vector<std::string> before;
  std::vector<struct stat> stamps;
  for (const std::string& p : img.paths) {
    before.push_back(read_file(p));
    struct stat st{};
    ::stat(p.c_str(), &st);
    stamps.push_back(st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
  }
  TempDir out;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"disks"}, {"partitions"}, {"info"}, {"calendar"}, {"ls", "/mnt/idea0/2010-03-05/004"},
        {"export", "/mnt", out.path()}}) {
    EXPECT_EQ(krt(args).status, args[0] == "export" ? 1 : 0) << args[0];  // one recording cannot be read
  }
  for (size_t i = 0; i < img.paths.size(); ++i) {
    struct stat st{};
    ::stat(img.paths[i].c_str(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, stamps[i].st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, stamps[i].st_mtim.tv_nsec);
    EXPECT_TRUE(read_file(img.paths[i]) == before[i]) << img.paths[i];
  }
}

}  // namespace
}  // namespace tool_test

namespace tool_test {
namespace {

// A disk whose partition 1 has a parameter block of an unknown partition type, and one whose
// every partition lies past its end.
TEST(ToolDamage, InfoSaysWhyAPartitionShowsNothing) {
  TempDir dir;
  kb::Disk disk = kb::multi_partition_disk({200000, 200000}, 64);
  disk.payload.kind = kb::Payload::Kind::kNone;
  disk.partitions[0].files = kb::recordings({0}, kb::pack_time(2010, 3, 5, 8, 0, 0), kb::pack_time(2010, 3, 5, 9, 0, 0), 1800);
  disk.partitions[1].tweak = [](kb::ParamBlock& p) { p.type = 7; };
  ASSERT_TRUE(kb::build_image(disk, dir / "broken.img").ok);

  for (bool verbose : {false, true}) {
    std::vector<std::string> args = {"-d", dir / "broken.img", "info"};
    if (verbose) args.insert(args.begin(), "-v");
    const ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  idea0\tmounted as found\n"), std::string::npos) << r.out;
    // Too small to hold a fresh partition's user-data area, it cannot even be shown empty.
    EXPECT_NE(r.out.find("  idea1\tnot mounted: its parameter block was refused: its partition type is none "
                         "of 0..5\n"),
              std::string::npos)
        << r.out;
    // The warning gives the reason once, in the tool's own form; -v shows the library's log
    // lines as they are and adds the refusal itself.
    const std::string reason = "its parameter block was refused: its partition type is none of 0..5";
    EXPECT_NE(r.err.find(std::string(verbose ? "FSWarn " : "krt: warning: ") + "partition 1 of disk 0 not mounted: " +
                         reason),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("FSWarn") != std::string::npos, verbose) << r.err;
    EXPECT_EQ(r.err.find(reason), r.err.rfind(reason)) << r.err;
    EXPECT_EQ(r.err.find("FSInfo parameter block of disk 0 partition 1 refused: its partition type is none of 0..5") !=
                  std::string::npos,
              verbose)
        << r.err;
    EXPECT_EQ(r.err.find("FSTrace ") != std::string::npos, verbose) << r.err;
  }

  // Nothing to mount: info and calendar fail.
  kb::Disk nothing = kb::single_partition_disk(200000, 64);
  nothing.sectors = 200000;
  nothing.table_override[0] = kb::TableEntry{100000, 200000, 24, 1};
  ASSERT_TRUE(kb::build_image(nothing, dir / "nothing.img").ok);
  for (const char* command : {"info", "calendar"}) {
    const ToolRun r = run_tool({"-d", dir / "nothing.img", command});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("krt: no partition could be mounted"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("runs past the end of the disk"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tool_test

namespace tool_test {
namespace {

// Seconds after midnight of a recording name's start and end clock ("HH.MM.SS-HH.MM.SS...").
std::pair<int, int> clock_of(const std::string& name) {
  int h = 0, m = 0, s = 0, eh = 0, em = 0, es = 0;
  std::sscanf(name.c_str(), "%d.%d.%d-%d.%d.%d", &h, &m, &s, &eh, &em, &es);
  return {h * 3600 + m * 60 + s, eh * 3600 + em * 60 + es};
}

std::string clock_text(const char* day, int seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%s %02d:%02d:%02d", day, seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

TEST_F(Tool, LocateNamesTheRecordingOfAMomentPerChannel) {
  const Placed first = img.recordings(0, 0, 2010, 3, 5, 1).front();
  const std::string name = Images::name(first);
  const auto [start, end] = clock_of(name);
  const std::string path = "/mnt/idea0/2010-03-05/002/" + name;
  struct Case {
    std::string moment;
    std::string answer;
  };
  const Case cases[] = {
      {clock_text("2010-03-05", start), "002\t" + path + "\t0\n"},             // its first second
      {clock_text("2010-03-05", start + 61), "002\t" + path + "\t61\n"},       // inside
      {clock_text("2010-03-05", end) , ""},                                    // its end: not in it
      {clock_text("2010-03-05", start - 1), ""},                               // before
  };
  for (const Case& c : cases) {
    const ToolRun r = krt({"locate", "-c", "2", c.moment});
    EXPECT_EQ(r.status, 0) << r.err;
    if (c.answer.empty()) {
      // Either another recording of the channel holds it, or nothing does.
      EXPECT_EQ(r.out.find(path), std::string::npos) << c.moment << ": " << r.out;
    } else {
      EXPECT_EQ(r.out, c.answer) << c.moment;
    }
  }
  const ToolRun json = krt({"locate", "--json", "-c", "2", clock_text("2010-03-05", start + 61)});
  EXPECT_EQ(json.out, "{\"channel\":2,\"path\":\"" + path + "\",\"offset_s\":61}\n");
  const ToolRun none = krt({"locate", "--json", "-c", "64", clock_text("2010-03-05", start)});
  EXPECT_EQ(none.out, "{\"channel\":64,\"path\":null,\"offset_s\":null}\n");
  const ToolRun text = krt({"locate", "-c", "64", "2010-03-05 08:00:00"});
  EXPECT_EQ(text.out, "064\tnothing recorded at 2010-03-05 08:00:00\n");
  // A recorder clock 20 minutes fast: the true moment 20 minutes before the clock's (the day
  // before, when the recording starts near midnight).
  const int early = start + 61 - 1200;
  const std::string true_moment =
      early >= 0 ? clock_text("2010-03-05", early) : clock_text("2010-03-04", early + 86400);
  std::vector<std::string> fast = {"--clock-offset", "+00:20:00"};
  for (std::string& a : img.args({"locate", "-c", "2", true_moment}))
    fast.push_back(std::move(a));
  EXPECT_EQ(run_tool(fast).out, "002\t" + path + "\t61\n");
}

TEST_F(Tool, LocateFindsARecordingThatBeganTheDayBefore) {
  const Placed late = img.recordings(0, 0, 2010, 3, 4, 4).back();  // runs past midnight
  const std::string name = Images::name(late);
  const auto [start, end] = clock_of(name);
  ASSERT_LT(end, start) << name;
  const ToolRun r = krt({"locate", "-c", "5", clock_text("2010-03-05", 0)});
  EXPECT_EQ(r.out, "005\t/mnt/idea0/2010-03-04/005/" + name + "\t" + std::to_string(86400 - start) + "\n");
}

TEST_F(Tool, LocateRefusesAMomentItCannotRead) {
  for (const char* bad : {"2010-03-05", "2010-13-05 08:00:00", "08:00:00 2010-03-05"})
    EXPECT_EQ(krt({"locate", bad}).status, 2) << bad;
  EXPECT_EQ(krt({"locate", "-c", "65", "2010-03-05 08:00:00"}).status, 2);
}

}  // namespace
}  // namespace tool_test

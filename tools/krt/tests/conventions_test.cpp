// The tool as forensic command-line tools behave: listings for timeline tools, exported files
// dated as the mount dates them, partitions as JSON.
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "tool_support.h"
#include "krt/packed_time.h"
#include "wall_clock.h"

namespace tool_test {
namespace {

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, by);) out.push_back(part);
  return out;
}

// ls -r --csv --hash / --bodyfile: one line per recording with the builder's clusters and
// sizes, the hash of the bytes cat writes, times as the recorder's clock.
TEST(Conventions, RecordingListsForTimelineTools) {
  const Images& img = Images::get();
  const std::vector<Placed> placed = img.recordings(0, 0, 2010, 3, 5, 0);
  const std::string folder = "/mnt/idea0/2010-03-05/001";
  const ToolRun csv = run_tool(img.args({"ls", "-r", "--csv", "--hash", folder}));
  ASSERT_EQ(csv.status, 0) << csv.err;
  const std::vector<std::string> rows = split(csv.out, '\n');
  ASSERT_EQ(rows.size(), placed.size() + 1);
  EXPECT_EQ(rows[0], "start,end,channel,kind,disk,partition,first_cluster,size,path,sha256");
  const std::string path = folder + "/" + Images::name(placed[0]);
  const std::string sha = shell("'" + std::string(KRT_TOOL_PATH) + "' -d '" + img.paths[0] + "' cat '" + path +
                                "' | sha256sum").substr(0, 64);
  EXPECT_EQ(rows[1], "2010-03-05T00:00:00,2010-03-05T00:30:00,001,R,0,idea0," +
                         std::to_string(placed[0].place->clusters[0]) + "," + std::to_string(Images::size(placed[0])) +
                         "," + path + "," + sha);

  const ToolRun body = run_tool(img.args({"ls", "--bodyfile", folder}));
  ASSERT_EQ(body.status, 0) << body.err;
  const std::vector<std::string> fields = split(split(body.out, '\n')[0], '|');
  ASSERT_EQ(fields.size(), 11u) << body.out;
  EXPECT_EQ(fields[1], path);
  EXPECT_EQ(fields[2], std::to_string(placed[0].place->clusters[0]));
  EXPECT_EQ(fields[8], std::to_string(local_time_of(kb::pack_time(2010, 3, 5, 0, 0, 0))));
  EXPECT_EQ(std::stoll(fields[9]) - std::stoll(fields[8]), 1800);

  // -r on a partition: every recording below it, the same ones a CSV lists.
  const ToolRun all = run_tool(img.args({"ls", "-r", "/mnt/idea1"}));
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(split(all.out, '\n').size(), split(run_tool(img.args({"ls", "--csv", "/mnt/idea1"})).out, '\n').size() - 1);
}

// An exported file is dated with its recording's start, as the mount shows it.
TEST(Conventions, ExportedFilesCarryTheRecordingsStart) {
  const Images& img = Images::get();
  const Placed first = img.recordings(0, 0, 2010, 3, 5, 0)[0];
  const std::string relative = "idea0/2010-03-05/001/" + Images::name(first);
  const TempDir out;
  ASSERT_EQ(run_tool(img.args({"export", "/mnt/" + relative, out.path()})).status, 0);
  struct stat st {};
  ASSERT_EQ(::stat((out / relative).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, local_time_of(kb::pack_time(2010, 3, 5, 0, 0, 0)));
}

// --tz reads the recorder's clock in another zone: the exported file's time and the body
// file's moments move by that zone's offset, the CSV's clock text does not; a zone that is
// not one is a usage error.
TEST(Conventions, TimeZoneSetsTheMomentsOfTheRecordersClock) {
  const Images& img = Images::get();
  const Placed first = img.recordings(0, 0, 2010, 3, 5, 0)[0];
  const std::string relative = "idea0/2010-03-05/001/" + Images::name(first);
  const std::time_t as_utc = krt::time_to_time_t(kb::pack_time(2010, 3, 5, 0, 0, 0));
  const struct {
    std::vector<std::string> tz;
    long long offset_s;  // the zone's offset from UTC on that day
  } cases[] = {{{"--tz", "UTC"}, 0}, {{"--tz", "Asia/Tokyo"}, 9 * 3600}, {{"--tz", "-05:30"}, -(5 * 3600 + 1800)}};
  for (const auto& c : cases) {
    const auto with_tz = [&](std::vector<std::string> args) {
      std::vector<std::string> all = c.tz;
      for (std::string& a : img.args(std::move(args))) all.push_back(std::move(a));
      return all;
    };
    const TempDir out;
    ASSERT_EQ(run_tool(with_tz({"export", "/mnt/" + relative, out.path()})).status, 0) << c.tz[1];
    struct stat st {};
    ASSERT_EQ(::stat((out / relative).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, as_utc - c.offset_s) << c.tz[1];
    const ToolRun body = run_tool(with_tz({"ls", "--bodyfile", "/mnt/idea0/2010-03-05/001"}));
    ASSERT_EQ(body.status, 0) << body.err;
    EXPECT_EQ(split(split(body.out, '\n')[0], '|')[8], std::to_string(as_utc - c.offset_s)) << c.tz[1];
    const ToolRun csv = run_tool(with_tz({"ls", "--csv", "/mnt/idea0/2010-03-05/001"}));
    EXPECT_EQ(split(csv.out, '\n')[1].substr(0, 20), "2010-03-05T00:00:00,") << c.tz[1];
  }
  for (const char* wrong : {"Nowhere/Else", "../../etc/passwd", "+25:00", "1:00", ""}) {
    const ToolRun r = run_tool(std::vector<std::string>{"--tz", wrong, "disks"});
    EXPECT_EQ(r.status, 2) << wrong;
    EXPECT_NE(r.err.find("--tz takes a time zone name"), std::string::npos) << wrong << ": " << r.err;
  }
}

TEST(Conventions, PartitionsAsJson) {
  const ToolRun r = run_tool(Images::get().args({"partitions", "--json"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"disk\":1,\"source\":\"" + Images::get().paths[1] + "\",\"version\":\"0.4\",\"partitions\":[{"
                       "\"partition\":0,"),
            std::string::npos) << r.out;
  if (!shell("command -v python3").empty()) {
    EXPECT_EQ(shell("printf '%s' '" + r.out + "' | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))'"),
              "2\n");
  }
}

}  // namespace
}  // namespace tool_test

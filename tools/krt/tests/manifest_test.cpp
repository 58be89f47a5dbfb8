// The manifest.json of an export: the sources, and for each file the clusters of its recording
// as the builder laid them; a later export into the same folder merges with it.
#include <filesystem>
#include <sstream>

#include "tool_support.h"

namespace tool_test {
namespace {

// The line of manifest text that describes file ("" when none does).
std::string file_line(const std::string& manifest, const std::string& file) {
  std::istringstream in(manifest);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("{\"file\":\"" + file + "\"", 0) == 0) return line;
  }
  return "";
}

// The numbers of a JSON array that follows key in line.
std::vector<uint64_t> numbers_after(const std::string& line, const std::string& key) {
  std::vector<uint64_t> out;
  size_t at = line.find("\"" + key + "\":[");
  if (at == std::string::npos) return out;
  at += key.size() + 4;
  uint64_t v = 0;
  bool in_number = false;
  int depth = 1;
  for (; at < line.size() && depth > 0; ++at) {
    const char c = line[at];
    if (c >= '0' && c <= '9') {
      v = v * 10 + uint64_t(c - '0');
      in_number = true;
      continue;
    }
    if (in_number) out.push_back(v);
    v = 0;
    in_number = false;
    depth += c == '[' ? 1 : c == ']' ? -1 : 0;
  }
  return out;
}

TEST(Manifest, NamesTheClustersOfARecordingThatSpansSeveral) {
  const Images& img = Images::get();
  const Placed large = img.recordings(1, 0, 2010, 3, 6, 1)[0];  // 150 clusters
  const Placed small = img.recordings(1, 0, 2010, 3, 6, 0)[0];
  const std::string large_file = "ideb0/2010-03-06/002/" + Images::name(large);
  const std::string small_file = "ideb0/2010-03-06/001/" + Images::name(small);
  const TempDir out;
  ASSERT_EQ(run_tool(img.args({"export", "/mnt/" + large_file, out.path()})).status, 0);
  const ToolRun second = run_tool(img.args({"export", "/mnt/" + small_file, "/mnt/" + large_file, out.path()}));
  ASSERT_EQ(second.status, 0) << second.err;
  const std::string manifest = read_file(out / "manifest.json");

  const std::string line = file_line(manifest, large_file);
  ASSERT_NE(line, "") << manifest;
  const std::vector<uint64_t> clusters = numbers_after(line, "clusters");
  EXPECT_EQ(clusters, std::vector<uint64_t>(large.place->clusters.begin(), large.place->clusters.end()));
  ASSERT_GT(clusters.size(), 100u);
  // [start, count] pairs: the counts add up to the sectors the recording holds.
  const std::vector<uint64_t> sectors = numbers_after(line, "sectors");
  uint64_t total = 0;
  for (size_t i = 1; i < sectors.size(); i += 2) total += sectors[i];
  EXPECT_EQ(total, large.place->size_sectors);
  EXPECT_NE(line.find("\"recording\":\"/mnt/" + large_file + "\",\"source\":\"s2\",\"disk\":1,\"partition\":\"ideb0\""),
            std::string::npos) << line;
  EXPECT_NE(line.find("\"start\":\"2010-03-06T10:00:00\",\"end\":\"2010-03-06T10:30:00\",\"bytes\":" +
                      std::to_string(Images::size(large))),
            std::string::npos) << line;
  EXPECT_NE(line.find(read_file(out / "SHA256SUMS").substr(0, 64)), std::string::npos);

  // Merged: one line per file and per source, whichever export wrote it last.
  EXPECT_NE(file_line(manifest, small_file), "");
  size_t files = 0, sources = 0;
  std::istringstream in(manifest);
  for (std::string l; std::getline(in, l);) {
    files += l.rfind("{\"file\":", 0) == 0;
    sources += l.rfind("{\"path\":", 0) == 0;
  }
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(sources, img.paths.size());
  EXPECT_NE(manifest.find("{\"path\":\"" + img.paths[1] + "\",\"id\":\"s2\",\"disk\":1,\"format\":\"raw\",\"segments\":1"),
            std::string::npos) << manifest;
  if (!shell("command -v python3").empty()) {
    EXPECT_EQ(shell("python3 -c 'import json,sys; json.load(open(sys.argv[1])); print(1)' '" +
                    (out / "manifest.json") + "'"),
              "1\n")
        << "valid JSON";
  }
}

// A recording whose clusters were never written reads as zeros: it is exported as it is, and
// the warning and the manifest say so; a recording with data is not flagged.
TEST(Manifest, FlagsARecordingWhoseBytesAreAllZero) {
  TempDir dir;
  kb::Disk disk = kb::single_partition_disk(200000, 64);
  disk.partitions[0].files = kb::recordings({0, 1}, kb::pack_time(2010, 3, 5, 8, 0, 0),
                                            kb::pack_time(2010, 3, 5, 8, 30, 0), 1800);
  disk.partitions[0].files[0].payload = kb::Payload{kb::Payload::Kind::kNone, "", nullptr};
  ASSERT_TRUE(kb::build_image(disk, dir / "wiped.img").ok);
  const std::string zeros = first_entry(dir / "wiped.img", "/mnt/idea0/2010-03-05/001");
  const std::string data = first_entry(dir / "wiped.img", "/mnt/idea0/2010-03-05/002");
  ASSERT_NE(zeros, "");
  ASSERT_NE(data, "");

  const TempDir out;
  const ToolRun r = krt_on(dir / "wiped.img", {"export", "/mnt/idea0/2010-03-05", out.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: /mnt/idea0/2010-03-05/001/" + zeros + ": every byte reads as zero"),
            std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("/002/" + data + ": every byte"), std::string::npos) << r.err;
  const std::string manifest = read_file(out / "manifest.json");
  const std::string zero_line = file_line(manifest, "idea0/2010-03-05/001/" + zeros);
  const std::string data_line = file_line(manifest, "idea0/2010-03-05/002/" + data);
  EXPECT_NE(zero_line.find(",\"all_zero\":true}"), std::string::npos) << zero_line;
  EXPECT_EQ(data_line.find("all_zero"), std::string::npos) << data_line;
  EXPECT_TRUE(std::filesystem::exists(out / ("idea0/2010-03-05/001/" + zeros))) << "exported all the same";
}

// The byte ranges of every file reproduce its SHA-256 with dd and sha256sum, headers left out
// (channel 004 of the first disk begins each recording with one); the manifest names its
// command line, times, source ids and, with --hash-source, each source's SHA-256.
TEST(Manifest, ByteRangesReproduceTheHashAndSourcesProveThemselves) {
  const Images& img = Images::get();
  const TempDir out;
  const ToolRun r = run_tool(img.args({"export", "--hash-source", "/mnt/idea0/2010-03-05/004",
                                       "/mnt/idea0/2010-03-05/001", out.path()}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("krt: hashing " + img.paths[0]), std::string::npos) << r.err;
  const std::string manifest = read_file(out / "manifest.json");
  size_t checked = 0, headed = 0;
  std::istringstream in(manifest);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("{\"file\":", 0) != 0) continue;
    EXPECT_NE(line.find("\"source\":\"s1\""), std::string::npos) << line;
    const std::vector<uint64_t> ranges = numbers_after(line, "byte_ranges");
    ASSERT_FALSE(ranges.empty()) << line;
    std::string dd;
    for (size_t i = 0; i + 1 < ranges.size(); i += 2) {
      dd += "dd if='" + img.paths[0] + "' iflag=skip_bytes,count_bytes bs=64K status=none skip=" +
            std::to_string(ranges[i]) + " count=" + std::to_string(ranges[i + 1]) + ";";
    }
    const size_t at = line.find("\"sha256\":\"") + 10;
    EXPECT_EQ(shell("(" + dd + ") | sha256sum").substr(0, 64), line.substr(at, 64)) << line;
    headed += line.find("\"header_bytes\":1536") != std::string::npos;
    ++checked;
  }
  EXPECT_GT(checked, 10u);
  EXPECT_EQ(headed, img.recordings(0, 0, 2010, 3, 5, 3).size()) << "channel 004's 3-sector headers";
  const std::string whole = shell("sha256sum '" + img.paths[0] + "'").substr(0, 64);
  EXPECT_NE(manifest.find("\"id\":\"s1\",\"disk\":0,\"format\":\"raw\",\"segments\":1,\"bytes\":" +
                          std::to_string(std::filesystem::file_size(img.paths[0])) + ",\"sha256\":\"" + whole + "\""),
            std::string::npos) << manifest;
  EXPECT_NE(manifest.find("\"command_line\":[\"" + std::string(KRT_TOOL_PATH) + "\",\"-d\""), std::string::npos);
  EXPECT_NE(manifest.find("\"clock_offset\":null,"), std::string::npos);
  for (const char* key : {"\"started\":\"20", "\"ended\":\"20"}) EXPECT_NE(manifest.find(key), std::string::npos) << key;
}

// The recorder clock's offsets given on the command line are the manifest's clock_offset.
TEST(Manifest, RecordsTheClockOffsetsGiven) {
  const Images& img = Images::get();
  const struct {
    std::vector<std::string> options;
    std::string json;
  } cases[] = {{{"--clock-offset", "+00:20:00"}, "\"+00:20:00\""},
               {{"--clock-offset", "-01:00:05", "--clock-offset", "1=+00:00:30"},
                "{\"all\":\"-01:00:05\",\"1\":\"+00:00:30\"}"}};
  for (const auto& c : cases) {
    const TempDir out;
    std::vector<std::string> args = c.options;
    for (std::string& a : img.args({"export", "/mnt/idea0/2010-03-05/001", out.path()})) args.push_back(std::move(a));
    const ToolRun r = run_tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string manifest = read_file(out / "manifest.json");
    EXPECT_NE(manifest.find("\"clock_offset\":" + c.json + ","), std::string::npos) << manifest.substr(0, 400);
  }
}

}  // namespace
}  // namespace tool_test

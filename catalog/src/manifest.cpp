#include "catalog/manifest.h"

#include <cinttypes>
#include <cstring>
#include <mutex>

#include "catalog/json.h"
#include "krt/dir_index.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "catalog/sums.h"
#include "catalog/text.h"

namespace {

constexpr const char* kFileName = "manifest.json";
constexpr const char* kSourceStart = "{\"path\":";
constexpr const char* kFileStart = "{\"file\":";

// The JSON string that opens a line after prefix, quotes included ("" when the line does
// not start so): the key of a source or file line.
std::string line_key(const std::string& line, const char* prefix) {
  const size_t n = std::strlen(prefix);
  if (line.compare(0, n, prefix) != 0 || line.size() <= n || line[n] != '"') return "";
  for (size_t i = n + 1; i < line.size(); ++i) {
    if (line[i] == '\\') ++i;
    else if (line[i] == '"') return line.substr(n, i - n + 1);
  }
  return "";
}

std::string number(uint64_t v) { return std::to_string(v); }

// The chain of a recording from its first cluster, and the disk sectors it covers.
struct Chain {
  std::vector<uint32_t> clusters;
  std::vector<std::pair<uint64_t, uint64_t>> sectors;  // [first sector, count], merged
  uint32_t start = 0, end = 0;                           // packed times of the first item
};

Chain read_chain(const TreePath& p) {
  Chain chain;
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  const krt::DriverParam* pdp = krt::get_pdp(p.partition.disk, p.partition.part);
  const uint32_t first = p.recording.first_cluster;
  krt::DirItem head{};
  if (!pdp || first >= pdp->total_clus || krt::get_dir_item_info(*pdp, first, head) != 0) return chain;
  chain.start = head.start_time;
  chain.end = head.end_time;
  // Follow the links while they stay on the partition and name clusters of this file; a chain
  // never holds more clusters than the partition, so a cycle ends too.
  uint32_t c = first;
  krt::DirItem item = head;
  while (chain.clusters.size() < pdp->total_clus) {
    chain.clusters.push_back(c);
    const uint32_t next = item.down_cluster_no;
    if (next == 0 || next == krt::kNoNextCluster || next >= pdp->total_clus) break;
    if (krt::get_dir_item_info(*pdp, next, item) != 0 || item.first_cluster_no != first) break;
    c = next;
  }
  const uint64_t per = pdp->sector_per_clus;
  for (size_t i = 0; i < chain.clusters.size(); ++i) {
    const uint64_t at = pdp->start_sector + pdp->data_off + uint64_t(chain.clusters[i]) * per;
    const bool last = i + 1 == chain.clusters.size();
    const uint64_t count = last && head.end_length > 0 && head.end_length < per ? head.end_length : per;
    if (!chain.sectors.empty() && chain.sectors.back().first + chain.sectors.back().second == at)
      chain.sectors.back().second += count;
    else
      chain.sectors.emplace_back(at, count);
  }
  return chain;
}

}  // namespace

void Manifest::Lines::set(const std::string& key, const std::string& line) {
  const auto [at, added] = index.try_emplace(key, lines.size());
  if (added) lines.push_back(line);
  else lines[at->second] = line;
}

Manifest::Manifest(const std::string& dir, const std::string& program)
    : path_(concat({dir, "/", kFileName})), program_(program) {}

bool Manifest::load(std::string& error) {
  sources_ = Lines{};
  files_ = Lines{};
  std::vector<std::string> lines;
  if (!read_lines(path_, lines, error)) return false;
  for (std::string& line : lines) {
    if (line.size() > 1 && line.back() == ',') line.pop_back();
    if (const std::string k = line_key(line, kSourceStart); !k.empty()) sources_.set(k, line);
    if (const std::string k = line_key(line, kFileStart); !k.empty()) files_.set(k, line);
  }
  return true;
}

void Manifest::add_sources() {
  const int disks = krt::get_disk_info(nullptr);
  for (int d = 0; d < disks; ++d) {
    const krt::DiskSourceInfo s = krt::disk_source_info(d);
    const std::string key = json_quote(s.path);
    sources_.set(key, concat({kSourceStart, key, ",\"disk\":", std::to_string(d), ",\"format\":",
                              json_quote(s.format), ",\"segments\":", std::to_string(s.segments),
                              ",\"bytes\":", number(s.bytes), "}"}));
  }
}

void Manifest::add_file(const std::string& file, const TreeEntry& rec, const std::string& sha256, uint64_t bytes,
                        const std::string& recorded_sha256, bool all_zero) {
  TreePath p;
  std::string error;
  Chain chain;
  if (parse_tree_path(rec.path, p, error) && p.level == Level::kRecording) chain = read_chain(p);
  std::string clusters, sectors;
  for (uint32_t c : chain.clusters) clusters += concat({clusters.empty() ? "" : ",", std::to_string(c)});
  for (const auto& [at, count] : chain.sectors)
    sectors += concat({sectors.empty() ? "[" : ",[", number(at), ",", number(count), "]"});
  const std::string key = json_quote(file);
  std::string line = concat({kFileStart, key, ",\"recording\":", json_quote(rec.path), ",\"disk\":",
                             std::to_string(p.partition.disk), ",\"partition\":",
                             json_quote(partition_name(p.partition)), ",\"first_cluster\":",
                             std::to_string(p.recording.first_cluster), ",\"clusters\":[", clusters,
                             "],\"sectors\":[", sectors, "],\"start\":", json_time(chain.start),
                             ",\"end\":", json_time(chain.end), ",\"bytes\":", number(bytes),
                             ",\"sha256\":", json_quote(sha256)});
  if (!recorded_sha256.empty()) line += concat({",\"recorded_sha256\":", json_quote(recorded_sha256)});
  if (all_zero) line += ",\"all_zero\":true";
  files_.set(key, line + "}");
}

bool Manifest::save(std::string& error) const {
  std::vector<std::string> out = {"{", concat({"\"tool\":", json_quote(program_), ",\"version\":", json_quote(CATALOG_VERSION), ","}),
                                  "\"sources\":["};
  auto add_group = [&out](const Lines& group) {
    for (size_t i = 0; i < group.lines.size(); ++i)
      out.push_back(group.lines[i] + (i + 1 < group.lines.size() ? "," : ""));
  };
  add_group(sources_);
  out.push_back("],");
  out.push_back("\"files\":[");
  add_group(files_);
  out.push_back("]");
  out.push_back("}");
  return replace_file_with_lines(path_, out, error);
}

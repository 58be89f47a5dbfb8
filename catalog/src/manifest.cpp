#include "catalog/manifest.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "catalog/json.h"
#include "krt/adapter.h"
#include "krt/dir_index.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "catalog/sha256.h"
#include "catalog/sums.h"
#include "catalog/text.h"
#include "catalog/progress.h"

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

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

// [a, b] pairs as a JSON array.
std::string pairs(const Ranges& ranges) {
  std::string out;
  for (const auto& [a, b] : ranges) out += concat({out.empty() ? "[[" : ",[", number(a), ",", number(b), "]"});
  return out.empty() ? "[]" : out + "]";
}

// The byte ranges of the disk that hold a recording's bytes: the sector ranges read as one
// stream, header bytes left out at its start, size bytes taken. Shorter when the sectors end
// first (the recording then does not read whole either).
Ranges byte_ranges(const Ranges& sectors, uint64_t header, uint64_t size) {
  Ranges out;
  uint64_t skip = header;
  for (const auto& [first, count] : sectors) {
    uint64_t at = first * krt::kSectorBytes;
    uint64_t length = count * krt::kSectorBytes;
    const uint64_t skipped = std::min(skip, length);
    at += skipped;
    length -= skipped;
    skip -= skipped;
    length = std::min(length, size);
    if (length == 0) continue;
    out.emplace_back(at, length);
    size -= length;
  }
  return out;
}

// This machine's clock now, UTC: "2026-12-11T06:00:00Z".
std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  struct tm fields {};
  gmtime_r(&now, &fields);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
  return text;
}

// The absolute form of a path (as given when it cannot be resolved).
std::string absolute(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  const std::string out = real ? real : path;
  std::free(real);
  return out;
}

// The SHA-256 of every byte of disk d's image, read through the disk layer in 1 MiB blocks,
// with a progress bar. Returns false with error set when a read fails.
bool hash_disk(int d, std::string& hex, std::string& error) {
  const krt::DiskSourceInfo s = krt::disk_source_info(d);
  ProgressBar bar(s.bytes, 1);
  bar.say(concat({"hashing ", s.path, " (", number(s.bytes), " bytes)"}));
  constexpr uint64_t kBlockSectors = 2048;
  std::vector<uint8_t> block(kBlockSectors * krt::kSectorBytes);
  Sha256 sha;
  const uint64_t sectors = s.bytes / krt::kSectorBytes;
  for (uint64_t at = 0; at < sectors; at += kBlockSectors) {
    const uint64_t count = std::min(kBlockSectors, sectors - at);
    if (krt::disk_read_sectors(uint16_t(d), uint16_t(count), uint32_t(at), uint32_t(at >> 32), block.data()) != 0) {
      error = concat({"cannot hash ", s.path, ": the read of ", number(count), " sectors at sector ", number(at),
                      " failed"});
      return false;
    }
    sha.update(block.data(), count * krt::kSectorBytes);
    bar.add(count * krt::kSectorBytes);
  }
  bar.file_done();
  hex = sha.hex();
  return true;
}

}  // namespace

size_t Manifest::Lines::set(const std::string& key, const std::string& line) {
  const auto [at, added] = index.try_emplace(key, lines.size());
  if (added) lines.push_back(line);
  else lines[at->second] = line;
  return at->second;
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

void Manifest::begin(const std::vector<std::string>& command_line, const std::string* clock_offset) {
  std::string words;
  for (const std::string& w : command_line) words += concat({words.empty() ? "" : ",", json_quote(w)});
  header_ = {concat({"\"command_line\":[", words, "],"}),
             concat({"\"started\":", json_quote(utc_now()), ","}),
             concat({"\"clock_offset\":", clock_offset ? *clock_offset : "null", ","})};
}

bool Manifest::add_sources(bool hash, std::string& error) {
  const int disks = krt::get_disk_info(nullptr);
  std::vector<std::string> sums(size_t(disks > 0 ? disks : 0));
  for (int d = 0; hash && d < disks; ++d) {
    if (!hash_disk(d, sums[size_t(d)], error)) return false;
  }
  for (int d = 0; d < disks; ++d) {
    const krt::DiskSourceInfo s = krt::disk_source_info(d);
    const std::string key = json_quote(absolute(s.path));
    // A source keeps its id when a later export names it again.
    const size_t at = sources_.set(key, "");
    const std::string id = concat({"s", std::to_string(at + 1)});
    source_ids_[d] = id;
    std::string line = concat({kSourceStart, key, ",\"id\":", json_quote(id), ",\"disk\":", std::to_string(d),
                               ",\"format\":", json_quote(s.format), ",\"segments\":", std::to_string(s.segments),
                               ",\"bytes\":", number(s.bytes)});
    if (hash) line += concat({",\"sha256\":", json_quote(sums[size_t(d)])});
    sources_.set(key, line + "}");
  }
  return true;
}

void Manifest::add_failure(const std::string& recording, const std::string& reason) {
  failed_.push_back(concat({"{\"recording\":", json_quote(recording), ",\"reason\":", json_quote(reason), "}"}));
}

void Manifest::add_file(const std::string& file, const TreeEntry& rec, const std::string& sha256, uint64_t bytes,
                        const std::string& recorded_sha256, bool all_zero) {
  TreePath p;
  std::string error;
  Chain chain;
  if (parse_tree_path(rec.path, p, error) && p.level == Level::kRecording) chain = read_chain(p);
  std::string clusters;
  for (uint32_t c : chain.clusters) clusters += concat({clusters.empty() ? "" : ",", std::to_string(c)});
  const uint32_t header = krt::recording_header_bytes(p.partition.disk, p.partition.part, p.recording.first_cluster);
  const auto source = source_ids_.find(p.partition.disk);
  const std::string key = json_quote(file);
  std::string line = concat({kFileStart, key, ",\"recording\":", json_quote(rec.path), ",\"source\":",
                             source == source_ids_.end() ? "null" : json_quote(source->second), ",\"disk\":",
                             std::to_string(p.partition.disk), ",\"partition\":",
                             json_quote(partition_name(p.partition)), ",\"first_cluster\":",
                             std::to_string(p.recording.first_cluster), ",\"clusters\":[", clusters,
                             "],\"sectors\":", pairs(chain.sectors), ",\"header_bytes\":", number(header),
                             ",\"byte_ranges\":", pairs(byte_ranges(chain.sectors, header, rec.size)),
                             ",\"start\":", json_time(chain.start),
                             ",\"end\":", json_time(chain.end), ",\"bytes\":", number(bytes),
                             ",\"sha256\":", json_quote(sha256)});
  if (!recorded_sha256.empty()) line += concat({",\"recorded_sha256\":", json_quote(recorded_sha256)});
  if (all_zero) line += ",\"all_zero\":true";
  files_.set(key, line + "}");
}

bool Manifest::save(std::string& error) const {
  std::vector<std::string> out = {"{", concat({"\"tool\":", json_quote(program_), ",\"version\":", json_quote(CATALOG_VERSION), ","})};
  out.insert(out.end(), header_.begin(), header_.end());
  out.push_back(concat({"\"ended\":", json_quote(utc_now()), ","}));
  out.push_back("\"sources\":[");
  auto add_group = [&out](const Lines& group) {
    for (size_t i = 0; i < group.lines.size(); ++i)
      out.push_back(group.lines[i] + (i + 1 < group.lines.size() ? "," : ""));
  };
  add_group(sources_);
  out.push_back("],");
  out.push_back("\"files\":[");
  add_group(files_);
  out.push_back("],");
  out.push_back("\"failed\":[");
  add_group(Lines{failed_, {}});
  out.push_back("]");
  out.push_back("}");
  return replace_file_with_lines(path_, out, error);
}

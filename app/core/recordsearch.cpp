// The record search tree's levels, copy jobs and synchronous-playback tables, listed with the
// catalog library.
#include "recordsearch.h"

#include <cstdio>

#include <catalog/listing.h>
#include <catalog/reader.h>
#include <krt/disk.h>
#include <krt/mount.h>
#include <krt/recording_path.h>

namespace recordsearch {

namespace {

constexpr Source kSource = Source::kRecordCalendar;
constexpr int kSyncChannels = 32;  // table entries: channels 1-32

// Splits a partition-rooted path at "/".
std::vector<std::string> Split(const std::string& rooted) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t slash; (slash = rooted.find('/', from)) != std::string::npos; from = slash + 1)
    out.push_back(rooted.substr(from, slash - from));
  out.push_back(rooted.substr(from));
  return out;
}

// The tree path of a partition-rooted path whose level is `kind`; false when it does not
// parse or is not of that level.
bool ParseRooted(int kind, const std::string& rooted, TreePath& out) {
  return kind >= kindPartition && kind <= kindFile && parse_tree_components(Split(rooted), out) &&
         int(out.level) == kind;
}

// The recordings of one channel on p's day, in listing order; empty when it has none.
std::vector<TreeEntry> ChannelFiles(const TreePath& day, int channel) {
  TreePath p = day;
  p.level = Level::kChannel;
  p.channel = channel;
  std::vector<TreeEntry> out;
  std::string ignored;
  list_folder(p, out, ignored, kSource);
  return out;
}

// Whether the recording name starts at the clock time of ref.
bool StartsWith(const std::string& name, const krt::RecordingName& ref) {
  krt::RecordingName r{};
  return krt::parse_file_component(name, r) && r.hour == ref.hour && r.minute == ref.minute &&
         r.second == ref.second;
}

// Fills table with each channel's first recording that starts when ref does; returns the
// highest filled entry + 1 (0 when none).
int FillTable(const TreePath& day, const krt::RecordingName& ref, SyncPlayTable& table) {
  table.fill(std::string());
  int n = 0;
  for (int k = 0; k < kSyncChannels; ++k) {
    for (const TreeEntry& e : ChannelFiles(day, k)) {
      if (!StartsWith(e.name, ref)) continue;
      table[size_t(k)] = e.path;
      n = k + 1;
      break;
    }
  }
  return n;
}

}  // namespace

std::vector<std::string> DriveLabels() {
  std::vector<std::string> out;
  const int disks = krt::get_disk_info(nullptr);
  const auto numbers = krt::drive_numbers();
  for (int i = 0; i < disks; ++i) {
    const std::string source = krt::disk_source(i);
    out.push_back("PhysicalDrive" + std::to_string(numbers[size_t(i)]) + " \u2014 " +
                  source.substr(source.find_last_of('/') + 1));
  }
  return out;
}

std::vector<ChildItem> ChildItems(int disk, const std::vector<std::string>& components) {
  std::vector<ChildItem> out;
  for (std::string& label : ChildLabels(disk, components)) {
    ChildItem item;
    if (components.size() == 3) item.tooltip = label;  // a recording's name in full
    item.label = std::move(label);
    out.push_back(std::move(item));
  }
  if (!components.empty()) return out;
  // Partitions that show nothing, or nothing of their own, say why.
  for (int part = 0; part < 4; ++part) {
    const krt::MountReport report = krt::mount_report(disk, part);
    if (report.state != krt::MountState::kReinitialised && report.state != krt::MountState::kNotMounted)
      continue;
    const std::string label = partition_name(krt::PartitionName{disk, part});
    std::string why = krt::mount_state_text(report.state);
    if (report.reason[0] != '\0') why += std::string(": ") + report.reason;
    auto at = out.begin();
    while (at != out.end() && at->label < label) ++at;
    if (at != out.end() && at->label == label) {
      at->unavailable = true;
      at->tooltip = why;
    } else {
      out.insert(at, ChildItem{label, why, true});
    }
  }
  return out;
}

bool RecordingAllZero(const std::string& rooted) {
  TreePath p;
  TreeEntry entry;
  std::string ignored;
  return ParseRooted(kindFile, rooted, p) && find_recording(p, entry, ignored) &&
         recording_reads_all_zero(entry.path, entry.size);
}

std::vector<std::string> ChildLabels(int disk, const std::vector<std::string>& components) {
  std::vector<std::string> out;
  if (components.empty()) {
    for (const krt::PartitionName& p : list_partitions(disk, kSource)) out.push_back(partition_name(p));
    return out;
  }
  TreePath p;
  if (!parse_tree_components(components, p) || p.partition.disk != disk) return out;
  std::vector<TreeEntry> entries;
  std::string ignored;
  if (p.level == Level::kRecording || !list_folder(p, entries, ignored, kSource)) return out;
  for (const TreeEntry& e : entries) out.push_back(e.name);
  return out;
}

CCopyJob BuildCopyJob(int kind, const std::string& rooted) {
  CCopyJob job;
  TreePath p;
  if (!ParseRooted(kind, rooted, p)) return job;
  std::vector<TreeEntry> found;
  std::string ignored;
  if (!collect_recordings(p, found, ignored, kSource)) return job;
  for (const TreeEntry& e : found) job.Add(e.path, e.size);
  return job;
}

int BuildSyncPlayTable(int kind, const std::string& rooted, SyncPlayTable& table) {
  table.fill(std::string());
  TreePath p;
  if ((kind != kindFile && kind != kindDay) || !ParseRooted(kind, rooted, p)) return 0;
  if (kind == kindFile) return FillTable(p, p.recording, table);
  for (const TreeEntry& f : ChannelFiles(p, 0)) {
    krt::RecordingName ref{};
    if (!krt::parse_file_component(f.name, ref)) continue;
    const int n = FillTable(p, ref, table);
    if (n > 1) return n;
  }
  table.fill(std::string());
  return 0;
}

std::vector<std::string> ChannelRecordings(int disk, const std::string& day, int channel) {
  std::vector<std::string> out;
  char ccc[8];
  std::snprintf(ccc, sizeof ccc, "%03d", channel);
  for (const std::string& partition : ChildLabels(disk, {})) {
    for (const std::string& file : ChildLabels(disk, {partition, day, ccc}))
      out.push_back("/mnt/" + partition + "/" + day + "/" + ccc + "/" + file);
  }
  return out;
}

}  // namespace recordsearch

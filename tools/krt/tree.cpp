// The tool's folder tree under "/mnt": parsing its paths and listing its folders.
#include "tree.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string_view>

#include "krt/adapter.h"
#include "krt/dir_index.h"
#include "krt/disk.h"
#include "krt/driver.h"
#include "krt/lock.h"
#include "krt/packed_time.h"
#include "text.h"
#include "vfs/fsfile.h"
#include "vfs/fsfilefind.h"

namespace {

constexpr std::string_view kRoot = "/mnt";
constexpr size_t kShownChars = 40;  // a rejected component is shown up to this length
constexpr int kLevels = 4;          // components below /mnt: partition, day, channel, recording

// What each component below /mnt must look like, for error messages.
constexpr const char* kForms[kLevels] = {
    "a partition: ide, the disk letter and 0..3, e.g. idea0",
    "a day: YYYY-MM-DD, years 2000..2063",
    "a channel: 001..064",
    "a recording: HH.MM.SS-HH.MM.SS[T][@cluster][repeat].h264 or .jpg",
};

// text, shortened for a message.
std::string shown(std::string_view text) {
  if (text.size() <= kShownChars) return std::string(text);
  return concat({text.substr(0, kShownChars), "..."});
}

// A cluster number as the messages write it.
std::string hex_cluster(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", c);
  return text;
}

// Parses the first n components of a path (prefix = "/mnt" and those components) into out,
// each level with the parser of krt/recording_path.h. Returns whether they follow the grammar.
bool parse_levels(const std::string& prefix, int n, TreePath& out) {
  krt::ChannelDirName dir{};
  switch (n) {
    case 0:
      return true;
    case 1:
      return krt::parse_work_directory_path(concat({prefix, "/", krt::kWorkDirectoryName}).c_str(),
                                            out.partition);
    case 2:  // any channel completes a day folder into something the parser reads
      if (!krt::parse_channel_pattern(concat({prefix, "/001/*"}).c_str(), dir)) return false;
      break;
    case 3:
      if (!krt::parse_channel_pattern(concat({prefix, "/*"}).c_str(), dir)) return false;
      break;
    default:
      if (!krt::parse_recording_path(prefix.c_str(), out.recording)) return false;
      dir = out.recording.dir;
      break;
  }
  out.partition = dir.partition;
  out.year = dir.year;
  out.month = dir.month;
  out.day = dir.day;
  out.channel = dir.channel;
  return true;
}

// The folder path of the first `level` components of p ("/mnt", "/mnt/idea0", ...).
std::string folder_path(const TreePath& p, Level level) {
  std::string path(kRoot);
  if (level >= Level::kPartition) path += concat({"/", partition_name(p.partition)});
  if (level >= Level::kDay) path += concat({"/", day_name(p.year, p.month, p.day)});
  if (level >= Level::kChannel) path += concat({"/", channel_name(p.channel)});
  return path;
}

// The mounted partitions of every attached disk, in disk then partition order.
std::vector<krt::PartitionName> mounted_partitions() {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  std::vector<krt::PartitionName> out;
  const int disks = krt::get_disk_info(nullptr);
  for (int d = 0; d < disks; ++d) {
    for (int p = 0; p < krt::kMaxPartitions; ++p) {
      if (krt::get_pdp(d, p)) out.push_back({d, p});
    }
  }
  return out;
}

bool is_mounted(const krt::PartitionName& p, std::string& error) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  if (krt::get_pdp(p.disk, p.part)) return true;
  error = concat({"no mounted partition ", partition_name(p), " (krt ls /mnt lists them)"});
  return false;
}

// The partition's work-directory calendar (kWorkCalendarBytes bytes), read through CFSFile.
bool read_work_calendar(const TreePath& p, std::vector<uint8_t>& block, std::string& error) {
  if (!is_mounted(p.partition, error)) return false;
  const std::string path = concat({folder_path(p, Level::kPartition), "/", krt::kWorkDirectoryName});
  block.assign(krt::kWorkCalendarBytes, 0);
  CFSFile file;
  if (!file.Open(path.c_str(), CFSFile::modeRead) ||
      file.Read(block.data(), uint32_t(block.size())) != block.size()) {
    error = concat({"cannot read the recording calendar of ", partition_name(p.partition)});
    return false;
  }
  return true;
}

// Days of the partition, ascending.
bool list_days(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  std::vector<uint8_t> block;
  if (!read_work_calendar(p, block, error)) return false;
  const std::string base = concat({folder_path(p, Level::kPartition), "/"});
  for (int y = 2000; y < 2000 + krt::kWorkCalendarYears; ++y) {
    for (int m = 1; m <= 12; ++m) {
      const uint32_t days = krt::work_calendar_days(block.data(), y, m);
      for (int d = 1; d <= 31; ++d) {
        if (days & (1u << d)) out.push_back({day_name(y, m, d), base + day_name(y, m, d), 0});
      }
    }
  }
  return true;
}

// Whether the calendar of the day's partition marks the day.
bool day_exists(const TreePath& p, std::string& error) {
  std::vector<uint8_t> block;
  if (!read_work_calendar(p, block, error)) return false;
  if (krt::work_calendar_days(block.data(), p.year, p.month) & (1u << p.day)) return true;
  error = concat({"no recording starts on ", day_name(p.year, p.month, p.day), " in ",
                  partition_name(p.partition)});
  return false;
}

// Channels with a recording on the day, ascending.
bool list_channels(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (!day_exists(p, error)) return false;
  const std::string base = concat({folder_path(p, Level::kDay), "/"});
  CFSFileFind find;
  for (int c = 0; c < krt::kMaxChannels; ++c) {
    const std::string path = concat({base, channel_name(c)});
    if (find.FindFile(concat({path, "/*"}).c_str())) out.push_back({channel_name(c), path, 0});
    find.Close();
  }
  return true;
}

// The recordings of the channel folder, in the order the search gives them (ascending start
// time); empty when it has none. Fails when the listing repeats a name, as a damaged disk
// could make it, rather than going round for ever.
bool search_channel(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (!is_mounted(p.partition, error)) return false;
  const std::string base = concat({folder_path(p, Level::kChannel), "/"});
  CFSFileFind find;
  std::set<std::string> seen;
  for (bool more = find.FindFile(concat({base, "*"}).c_str()); more; more = find.FindNextFile()) {
    if (!seen.insert(find.GetFileName()).second) {
      error = concat({"the listing of ", base, " repeats ", find.GetFileName(), " (damaged disk?)"});
      return false;
    }
    out.push_back({find.GetFileName(), concat({base, find.GetFileName()}), find.GetLength()});
  }
  return true;
}

bool list_recordings(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (!search_channel(p, out, error)) return false;
  if (!out.empty()) return true;
  error = concat({"no recording of channel ", channel_name(p.channel), " starts on ",
                  day_name(p.year, p.month, p.day), " in ", partition_name(p.partition)});
  return false;
}

// The directory item of cluster c when it is the first cluster of a recording of p's
// partition. Returns false with error saying why not.
bool first_cluster_item(const TreePath& p, uint32_t c, krt::DirItem& item, std::string& error) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  const krt::DriverParam* pdp = krt::get_pdp(p.partition.disk, p.partition.part);
  if (!pdp) return is_mounted(p.partition, error);
  if (c >= pdp->total_clus) {
    error = concat({"cluster ", hex_cluster(c), " lies beyond partition ", partition_name(p.partition),
                    " (clusters 0..", hex_cluster(pdp->total_clus ? pdp->total_clus - 1 : 0), ")"});
  } else if (krt::get_dir_item_info(*pdp, c, item) != 0) {
    error = concat({"cannot read the directory item of cluster ", hex_cluster(c)});
  } else if ((item.dir_flag != krt::kDirFlagFirst && item.dir_flag != krt::kDirFlagContinued) ||
             item.first_cluster_no != c) {
    error = concat({"cluster ", hex_cluster(c), " is not the first cluster of a recording"});
  } else {
    return true;
  }
  return false;
}

// Whether the listed entry is the one the name r gives: the same first cluster when r has
// one, else the same start time and repeat number. Sets listed to the entry's parsed name.
bool matches(const krt::RecordingName& r, const TreeEntry& e, krt::RecordingName& listed) {
  if (!krt::parse_recording_path(e.path.c_str(), listed)) return false;
  if (r.first_cluster != 0) return listed.first_cluster == r.first_cluster;
  return listed.start_time == r.start_time && listed.repeat_no == r.repeat_no;
}

}  // namespace

std::string partition_name(const krt::PartitionName& p) {
  return concat({"ide", std::string(1, char('a' + p.disk)), std::to_string(p.part)});
}

std::string day_name(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string channel_name(int channel) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", channel + 1);
  return text;
}

bool parse_tree_path(const std::string& path, TreePath& out, std::string& error) {
  std::string_view rest(path);
  while (rest.size() > 1 && rest.back() == '/') rest.remove_suffix(1);
  if (rest.substr(0, kRoot.size()) != kRoot || (rest.size() > kRoot.size() && rest[kRoot.size()] != '/')) {
    error = concat({"'", shown(path), "' is not a path under /mnt"});
    return false;
  }
  out = TreePath{};
  out.text = std::string(rest);
  std::string prefix(kRoot);
  rest.remove_prefix(kRoot.size());
  int n = 0;
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the "/"
    const std::string_view component = rest.substr(0, rest.find('/'));
    rest.remove_prefix(component.size());
    if (n == kLevels) {
      error = concat({"'", shown(path), "' goes below a recording"});
      return false;
    }
    prefix += concat({"/", component});
    if (!parse_levels(prefix, n + 1, out)) {
      error = concat({"'", shown(component), "' is not ", kForms[n]});
      return false;
    }
    ++n;
  }
  out.level = Level(n);
  return true;
}

bool list_folder(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  out.clear();
  switch (p.level) {
    case Level::kRoot:
      for (const krt::PartitionName& part : mounted_partitions())
        out.push_back({partition_name(part), concat({kRoot, "/", partition_name(part)}), 0});
      if (out.empty()) error = "no mounted partition";
      return !out.empty();
    case Level::kPartition:
      return list_days(p, out, error);
    case Level::kDay:
      return list_channels(p, out, error);
    case Level::kChannel:
      return list_recordings(p, out, error);
    case Level::kRecording:
      break;
  }
  error = concat({"'", shown(p.text), "' is a recording, not a folder"});
  return false;
}

bool find_recording(const TreePath& p, TreeEntry& out, std::string& error) {
  if (p.level != Level::kRecording) {
    error = concat({"'", shown(p.text), "' is a folder, not a recording"});
    return false;
  }
  const uint32_t c = p.recording.first_cluster;
  krt::DirItem item{};
  if (c != 0 && !first_cluster_item(p, c, item, error)) return false;
  std::vector<TreeEntry> listed;
  if (!search_channel(p, listed, error)) return false;
  for (const TreeEntry& e : listed) {
    krt::RecordingName found{};
    if (!matches(p.recording, e, found)) continue;
    if (found.start_time != p.recording.start_time) {
      // The cluster is right but the name is not: a name gives its recording's start.
      error = concat({"the recording at cluster ", hex_cluster(c), " is ", e.path});
      return false;
    }
    out = e;
    return true;
  }
  const std::string folder = folder_path(p, Level::kChannel);
  if (c != 0) {
    // A first cluster, but of a recording listed elsewhere: say where.
    const krt::TimeFields t = krt::unpack_time(item.start_time);
    TreePath home = p;
    home.year = t.year;
    home.month = t.month;
    home.day = t.day;
    home.channel = item.channel;
    const std::string where = folder_path(home, Level::kChannel);
    if (where != folder) {
      error = concat({"the recording at cluster ", hex_cluster(c), " is listed in ", where, ", not in ", folder});
      return false;
    }
  }
  error = concat({"no such recording in ", folder});
  return false;
}

bool collect_recordings(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (p.level == Level::kRecording) {
    TreeEntry e;
    if (!find_recording(p, e, error)) return false;
    out.push_back(e);
    return true;
  }
  std::vector<TreeEntry> children;
  if (!list_folder(p, children, error)) return false;
  if (p.level == Level::kChannel) {
    out.insert(out.end(), children.begin(), children.end());
    return true;
  }
  for (const TreeEntry& child : children) {
    TreePath below;
    if (!parse_tree_path(child.path, below, error) || !collect_recordings(below, out, error)) return false;
  }
  return true;
}

// The folder tree of the recordings under "/mnt": parsing its paths and listing its folders.
#include "catalog/listing.h"

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
#include "krt/volume.h"
#include "catalog/text.h"
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

// Parses component n (0 = partition .. 3 = recording) into out, the components before it
// already read. Returns whether it follows the grammar.
bool parse_level(int n, std::string_view component, TreePath& out) {
  switch (n) {
    case 0:
      return krt::parse_partition_component(component, out.partition);
    case 1:
      return krt::parse_day_component(component, out.year, out.month, out.day);
    case 2:
      return krt::parse_channel_component(component, out.channel);
    default: {
      krt::RecordingName& r = out.recording;
      if (!krt::parse_file_component(component, r)) return false;
      r.dir = {out.partition, out.year, out.month, out.day, out.channel};
      r.start_time = krt::pack_time(krt::TimeFields{out.year, out.month, out.day, r.hour, r.minute, r.second});
      return true;
    }
  }
}

// Whether source takes the levels of partition p from the record calendar (disk 0 only).
bool from_calendar(const krt::PartitionName& p, Source source) {
  return source == Source::kRecordCalendar && p.disk == 0;
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

// Days of the partition in the record calendar, ascending.
bool list_calendar_days(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (!is_mounted(p.partition, error)) return false;
  const std::string base = concat({folder_path(p, Level::kPartition), "/"});
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  for (int y = 2000; y < 2000 + krt::kCalendarYears; ++y) {
    for (int m = 1; m <= krt::kCalendarMonths; ++m) {
      for (int d = 1; d <= krt::kCalendarDays; ++d) {
        if (krt::calendar_day_mask(p.partition.part, y, m, d) != 0)
          out.push_back({day_name(y, m, d), base + day_name(y, m, d), 0});
      }
    }
  }
  return true;
}

// Days of the partition, ascending.
bool list_days(const TreePath& p, std::vector<TreeEntry>& out, std::string& error, Source source) {
  if (from_calendar(p.partition, source)) return list_calendar_days(p, out, error);
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

// Channels the record calendar marks on the day (bits 0..31), ascending.
bool list_calendar_channels(const TreePath& p, std::vector<TreeEntry>& out, std::string& error) {
  if (!is_mounted(p.partition, error)) return false;
  uint32_t bits;
  {
    std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
    bits = krt::calendar_day_mask(p.partition.part, p.year, p.month, p.day);
  }
  if (bits == 0) {
    error = concat({"no recording starts on ", day_name(p.year, p.month, p.day), " in ",
                    partition_name(p.partition)});
    return false;
  }
  const std::string base = concat({folder_path(p, Level::kDay), "/"});
  for (int c = 0; c < 32; ++c) {
    if (bits & (1u << c)) out.push_back({channel_name(c), base + channel_name(c), 0});
  }
  return true;
}

// Channels with a recording on the day, ascending.
bool list_channels(const TreePath& p, std::vector<TreeEntry>& out, std::string& error, Source source) {
  if (from_calendar(p.partition, source)) return list_calendar_channels(p, out, error);
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

// Whether a name given agrees with the listed name of the recording it was matched to in
// every field it carries: start and end clock, record type, repeat number and extension (the
// first cluster was matched already; a name without one names none).
bool same_name(const krt::RecordingName& given, const krt::RecordingName& listed) {
  return given.start_time == listed.start_time && given.end_hour == listed.end_hour &&
         given.end_minute == listed.end_minute && given.end_second == listed.end_second &&
         given.alarm == listed.alarm && given.repeat_no == listed.repeat_no && given.h264 == listed.h264;
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

std::string folder_path(const TreePath& p, Level level) {
  std::string path(kRoot);
  if (level >= Level::kPartition) path += concat({"/", partition_name(p.partition)});
  if (level >= Level::kDay) path += concat({"/", day_name(p.year, p.month, p.day)});
  if (level >= Level::kChannel) path += concat({"/", channel_name(p.channel)});
  return path;
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
    if (!parse_level(n, component, out)) {
      error = concat({"'", shown(component), "' is not ", kForms[n]});
      return false;
    }
    ++n;
  }
  out.level = Level(n);
  return true;
}

bool parse_tree_components(const std::vector<std::string>& components, TreePath& out) {
  if (components.size() > size_t(kLevels)) return false;
  out = TreePath{};
  out.text = std::string(kRoot);
  for (size_t n = 0; n < components.size(); ++n) {
    if (!parse_level(int(n), components[n], out)) return false;
    out.text += concat({"/", components[n]});
  }
  out.level = Level(components.size());
  return true;
}

std::vector<krt::PartitionName> list_partitions(int disk, Source source) {
  std::lock_guard<std::recursive_mutex> hold(krt::library_lock());
  std::vector<krt::PartitionName> out;
  if (disk < 0 || disk >= krt::get_disk_info(nullptr)) return out;
  const uint32_t mask = krt::calendar_partition_mask();
  for (int p = 0; p < krt::kMaxPartitions; ++p) {
    const bool listed = from_calendar({disk, p}, source) ? (mask & (1u << p)) != 0 : krt::get_pdp(disk, p) != nullptr;
    if (listed) out.push_back({disk, p});
  }
  return out;
}

bool list_folder(const TreePath& p, std::vector<TreeEntry>& out, std::string& error, Source source) {
  out.clear();
  switch (p.level) {
    case Level::kRoot:
      for (int disk = 0; disk < krt::kMaxDisks; ++disk) {
        for (const krt::PartitionName& part : list_partitions(disk, source))
          out.push_back({partition_name(part), concat({kRoot, "/", partition_name(part)}), 0});
      }
      if (out.empty()) error = "no mounted partition";
      return !out.empty();
    case Level::kPartition:
      return list_days(p, out, error, source);
    case Level::kDay:
      return list_channels(p, out, error, source);
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
    if (!same_name(p.recording, found)) {
      // The cluster is right but the name is not: every field of a name must be its recording's.
      error = concat({"no such recording: the recording at cluster ", hex_cluster(found.first_cluster), " is ", e.path});
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

namespace {

// The recordings under folder p, a folder below the one the export named: an empty channel
// adds nothing.
bool collect_below(const TreePath& p, std::vector<TreeEntry>& out, std::string& error, Source source) {
  if (p.level == Level::kChannel) return search_channel(p, out, error);
  std::vector<TreeEntry> children;
  if (!list_folder(p, children, error, source)) return false;
  for (const TreeEntry& child : children) {
    TreePath below;
    if (!parse_tree_path(child.path, below, error) || !collect_below(below, out, error, source)) return false;
  }
  return true;
}

}  // namespace

bool collect_recordings(const TreePath& p, std::vector<TreeEntry>& out, std::string& error, Source source) {
  if (p.level == Level::kRecording) {
    TreeEntry e;
    if (!find_recording(p, e, error)) return false;
    out.push_back(e);
    return true;
  }
  if (p.level == Level::kChannel) {
    std::vector<TreeEntry> children;
    if (!list_folder(p, children, error, source)) return false;
    out.insert(out.end(), children.begin(), children.end());
    return true;
  }
  return collect_below(p, out, error, source);
}

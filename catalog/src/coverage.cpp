// Coverage of a day: the recordings of each channel joined into spans (see coverage.h).
#include "catalog/coverage.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <tuple>

#include "catalog/text.h"

namespace {

constexpr int64_t kDaySeconds = 86400;
constexpr int64_t kJoinGap = 1;  // a recording starting this many seconds after a span's end joins it

int64_t clock_seconds(int hour, int minute, int second) {
  return int64_t(hour) * 3600 + int64_t(minute) * 60 + second;
}

// Days since 1970-01-01 of a calendar day.
int64_t day_number(const CalendarDay& d) {
  using namespace std::chrono;
  return sys_days{year{d.year} / month{unsigned(d.month)} / day{unsigned(d.day)}}.time_since_epoch().count();
}

CalendarDay day_of_number(int64_t n) {
  using namespace std::chrono;
  const year_month_day ymd{sys_days{days{n}}};
  return {int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day()))};
}

// Floor division of seconds into days.
int64_t day_of_seconds(int64_t seconds) {
  return seconds >= 0 ? seconds / kDaySeconds : -((-seconds + kDaySeconds - 1) / kDaySeconds);
}

// The recording at entry, listed on the recorder day `listed`, with its times as corrected
// seconds since 1970 (recorder time - clock_offset). False when its name does not parse.
bool covered(const TreeEntry& entry, const krt::PartitionName& partition, int channel, const CalendarDay& listed,
             int64_t clock_offset, CoveredRecording& out) {
  krt::RecordingName name{};
  if (!krt::parse_recording_path(entry.path.c_str(), name)) return false;
  const int64_t start = clock_seconds(name.hour, name.minute, name.second);
  int64_t end = clock_seconds(name.end_hour, name.end_minute, name.end_second);
  if (end < start) end += kDaySeconds;  // the end clock time lies on the next day
  if (end == start) end = start + 1;    // a recording of less than a second
  const int64_t base = day_number(listed) * kDaySeconds - clock_offset;
  out.path = entry.path;
  out.partition = partition;
  out.channel = channel;
  out.start = base + start;
  out.end = base + end;
  out.kind = entry.size == 0 ? RecordingKind::kDamaged : kind_of_type(name.alarm);
  return true;
}

TreePath day_path(const krt::PartitionName& partition, const CalendarDay& d) {
  TreePath p;
  p.level = Level::kDay;
  p.partition = partition;
  p.year = d.year;
  p.month = d.month;
  p.day = d.day;
  p.text = folder_path(p, Level::kDay);
  return p;
}

// Adds the recordings of every channel folder of partition's recorder day d, with corrected
// times since 1970. Folders that do not list go to errors; a day the partition does not list
// adds nothing.
void add_day(const krt::PartitionName& partition, const CalendarDay& d, int64_t clock_offset, Source source,
             std::vector<CoveredRecording>& out, std::vector<std::string>& errors) {
  if (d.year < 2000 || d.year > 2063) return;  // outside what names can hold
  const TreePath day = day_path(partition, d);
  std::vector<TreeEntry> channels;
  std::string error;
  if (!list_folder(day, channels, error, source)) return;  // no recording starts that day here
  for (const TreeEntry& ch : channels) {
    TreePath folder;
    std::vector<TreeEntry> listed;
    if (!parse_tree_path(ch.path, folder, error) || !list_folder(folder, listed, error, source)) {
      errors.push_back(concat({ch.path, ": ", error}));
      continue;
    }
    for (const TreeEntry& e : listed) {
      CoveredRecording r;
      if (covered(e, partition, folder.channel, d, clock_offset, r)) out.push_back(std::move(r));
      else errors.push_back(concat({e.path, ": not a recording name"}));
    }
  }
}

// The coverage of true day n (days since 1970) by recordings with times since 1970: those that
// overlap the day, with times from its midnight.
DayCoverage cover_day(int64_t n, const std::vector<CoveredRecording>& all) {
  DayCoverage out;
  const CalendarDay d = day_of_number(n);
  out.year = d.year;
  out.month = d.month;
  out.day = d.day;
  const int64_t midnight = n * kDaySeconds;
  std::vector<CoveredRecording> of_day;
  for (const CoveredRecording& r : all) {
    if (r.end <= midnight || r.start >= midnight + kDaySeconds) continue;
    CoveredRecording shifted = r;
    shifted.start -= midnight;
    shifted.end -= midnight;
    of_day.push_back(std::move(shifted));
  }
  out.spans = join_spans(std::move(of_day));
  return out;
}

}  // namespace

const char* kind_name(RecordingKind kind) {
  switch (kind) {
    case RecordingKind::kRegular: return "regular";
    case RecordingKind::kAlarm: return "alarm";
    case RecordingKind::kMotion: return "motion";
    case RecordingKind::kTypeC: return "C";
    case RecordingKind::kTypeH: return "H";
    case RecordingKind::kDamaged: return "damaged";
  }
  return "regular";
}

RecordingKind kind_of_type(uint8_t alarm) {
  switch (alarm) {
    case 1: return RecordingKind::kAlarm;
    case 2: return RecordingKind::kMotion;
    case 3: return RecordingKind::kTypeC;
    case 4: return RecordingKind::kTypeH;
    default: return RecordingKind::kRegular;
  }
}

CalendarDay add_days(const CalendarDay& d, int n) { return day_of_number(day_number(d) + n); }

bool CalendarDay::operator<(const CalendarDay& o) const {
  return std::tie(year, month, day) < std::tie(o.year, o.month, o.day);
}

std::vector<CoverageSpan> join_spans(std::vector<CoveredRecording> recordings) {
  std::stable_sort(recordings.begin(), recordings.end(), [](const CoveredRecording& a, const CoveredRecording& b) {
    return std::tie(a.channel, a.start) < std::tie(b.channel, b.start);
  });
  std::vector<CoverageSpan> spans;
  for (CoveredRecording& r : recordings) {
    CoverageSpan* last = spans.empty() ? nullptr : &spans.back();
    if (last && last->channel == r.channel && last->kind == r.kind && r.start <= last->end + kJoinGap) {
      last->end = std::max(last->end, r.end);
      last->recordings.push_back(std::move(r));
      continue;
    }
    CoverageSpan span;
    span.channel = r.channel;
    span.start = r.start;
    span.end = std::max(r.end, r.start);
    span.kind = r.kind;
    span.recordings.push_back(std::move(r));
    spans.push_back(std::move(span));
  }
  return spans;
}

std::vector<CalendarDay> coverage_days(const std::vector<krt::PartitionName>& partitions, Source source) {
  std::set<CalendarDay> days;
  for (const krt::PartitionName& part : partitions) {
    TreePath p;
    p.level = Level::kPartition;
    p.partition = part;
    p.text = folder_path(p, Level::kPartition);
    std::vector<TreeEntry> listed;
    std::string error;
    if (!list_folder(p, listed, error, source)) continue;
    for (const TreeEntry& e : listed) {
      CalendarDay d;
      if (krt::parse_day_component(e.name, d.year, d.month, d.day)) days.insert(d);
    }
  }
  return {days.begin(), days.end()};
}

DayCoverage day_coverage(const std::vector<krt::PartitionName>& partitions, const CalendarDay& day, Source source,
                         int64_t clock_offset) {
  // The true day is recorder time [offset, 86400 + offset) of its date: the recorder's day
  // before (recordings that run past midnight, or a recorder behind), the day itself, and the
  // day after when the recorder is ahead.
  std::vector<CoveredRecording> recordings;
  std::vector<std::string> errors;
  for (int k = -1; k <= (clock_offset > 0 ? 1 : 0); ++k) {
    for (const krt::PartitionName& part : partitions)
      add_day(part, add_days(day, k), clock_offset, source, recordings, errors);
  }
  DayCoverage out = cover_day(day_number(day), recordings);
  out.errors = std::move(errors);
  return out;
}

std::vector<DayCoverage> all_coverage(const std::vector<krt::PartitionName>& partitions, Source source,
                                      int64_t clock_offset) {
  std::vector<CoveredRecording> recordings;
  std::vector<std::string> errors;
  for (const CalendarDay& d : coverage_days(partitions, source)) {
    for (const krt::PartitionName& part : partitions) add_day(part, d, clock_offset, source, recordings, errors);
  }
  std::set<int64_t> days;
  for (const CoveredRecording& r : recordings) {
    for (int64_t n = day_of_seconds(r.start); n <= day_of_seconds(r.end - 1); ++n) days.insert(n);
  }
  std::vector<DayCoverage> out;
  for (int64_t n : days) out.push_back(cover_day(n, recordings));
  if (!errors.empty()) {
    if (out.empty()) out.emplace_back();
    out.front().errors = std::move(errors);
  }
  return out;
}

// krt timeline [--day YYYY-MM-DD] [--json] [PATH]: each channel's recorded spans of a day.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/clock_offset.h"
#include "catalog/coverage.h"
#include "catalog/text.h"
#include "commands.h"
#include "catalog/json.h"
#include "krt/disk.h"
#include "session.h"

namespace {

constexpr int64_t kDaySeconds = 86400;
constexpr int kColumns = 96;                        // a quarter of an hour each
constexpr int64_t kColumnSeconds = kDaySeconds / kColumns;

// What the command was asked to cover.
struct Scope {
  std::vector<std::vector<krt::PartitionName>> disks;  // the partitions to cover, per disk
  std::vector<int> disk_numbers;                       // the disk of each entry of disks
  bool one_day = false;                                // only `day`
  CalendarDay day;
  int channel = -1;                                    // only this channel (0..63), or every one
};

// The mark of a kind in the text grid, and which kind wins a quarter of an hour that holds
// several: damage first, then events, then continuous recording.
char mark(RecordingKind kind) {
  switch (kind) {
    case RecordingKind::kRegular: return '#';
    case RecordingKind::kAlarm: return 'A';
    case RecordingKind::kMotion: return 'M';
    case RecordingKind::kTypeC: return 'C';
    case RecordingKind::kTypeH: return 'H';
    case RecordingKind::kDamaged: return '!';
  }
  return '#';
}

int precedence(RecordingKind kind) {
  switch (kind) {
    case RecordingKind::kDamaged: return 5;
    case RecordingKind::kAlarm: return 4;
    case RecordingKind::kMotion: return 3;
    case RecordingKind::kTypeH: return 2;
    case RecordingKind::kTypeC: return 1;
    case RecordingKind::kRegular: return 0;
  }
  return 0;
}

// Seconds of the day as "HH:MM:SS", clipped to the day (its end reads "24:00:00").
std::string clock_text(int64_t seconds) {
  seconds = std::clamp<int64_t>(seconds, 0, kDaySeconds);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
  return text;
}

std::string day_text(const CalendarDay& d) { return day_name(d.year, d.month, d.day); }

// Reads PATH and --day into scope. Returns kExitOk, or the status after the message.
int read_scope(const CommandArgs& a, Scope& scope) {
  TreePath p;
  std::string error;
  if (!parse_tree_path(a.words.empty() ? "/mnt" : a.words[0], p, error)) return fail(error);
  if (p.level == Level::kRecording) return fail(concat({"'", p.text, "' is a recording; give a disk, partition, day or channel"}));
  for (const auto& [option, value] : a.values) {
    if (option != "--day") continue;
    CalendarDay d;
    if (!krt::parse_day_component(value, d.year, d.month, d.day))
      return usage_error("timeline", concat({"--day takes YYYY-MM-DD, not '", value, "'"}));
    scope.one_day = true;
    scope.day = d;
  }
  if (p.level >= Level::kDay) {
    const CalendarDay d{p.year, p.month, p.day};
    if (scope.one_day && !(scope.day == d))
      return usage_error("timeline", concat({"--day ", day_text(scope.day), " is not the day of ", p.text}));
    scope.one_day = true;
    scope.day = d;
  }
  if (p.level == Level::kChannel) scope.channel = p.channel;
  if (p.level == Level::kRoot) {
    for (int disk = 0; disk < krt::kMaxDisks; ++disk) {
      std::vector<krt::PartitionName> parts = list_partitions(disk);
      if (parts.empty()) continue;
      scope.disks.push_back(std::move(parts));
      scope.disk_numbers.push_back(disk);
    }
    if (scope.disks.empty()) return fail("no mounted partition");
  } else {
    const std::vector<krt::PartitionName> mounted = list_partitions(p.partition.disk);
    const bool found = std::any_of(mounted.begin(), mounted.end(), [&](const krt::PartitionName& m) {
      return m.part == p.partition.part;
    });
    if (!found) return fail(concat({"no mounted partition ", partition_name(p.partition), " (krt ls /mnt lists them)"}));
    scope.disks.push_back({p.partition});
    scope.disk_numbers.push_back(p.partition.disk);
  }
  return kExitOk;
}

void print_json(int disk, const DayCoverage& day) {
  for (const CoverageSpan& s : day.spans) {
    std::printf("{\"disk\":%d,\"partition\":%d,\"day\":%s,\"channel\":%d,\"start\":\"%s\",\"end\":\"%s\","
                "\"kind\":%s,\"recordings\":%zu}\n",
                disk, s.recordings.front().partition.part,
                json_quote(day_name(day.year, day.month, day.day)).c_str(), s.channel + 1,
                clock_text(s.start).c_str(), clock_text(s.end).c_str(), json_quote(kind_name(s.kind)).c_str(),
                s.recordings.size());
  }
}

// One row of 96 quarters of an hour for the spans of one channel.
std::string grid_row(const std::vector<const CoverageSpan*>& spans) {
  std::string row(kColumns, '.');
  std::vector<int> best(kColumns, -1);
  for (const CoverageSpan* s : spans) {
    const int64_t from = std::max<int64_t>(s->start, 0), to = std::min<int64_t>(s->end, kDaySeconds);
    if (to <= from) continue;
    for (int64_t c = from / kColumnSeconds; c < kColumns && c * kColumnSeconds < to; ++c) {
      if (precedence(s->kind) > best[c]) {
        best[c] = precedence(s->kind);
        row[c] = mark(s->kind);
      }
    }
  }
  return row;
}

void print_text(int disk, const DayCoverage& day, int64_t offset) {
  std::printf("disk %d  %s", disk, day_name(day.year, day.month, day.day).c_str());
  if (offset != 0) std::printf("  (times corrected by the clock offset %s)", format_clock_offset(offset).c_str());
  std::printf("\n     ");
  for (int h = 0; h < 24; ++h) std::printf("%02d  ", h);
  std::printf("\n");
  std::vector<int> channels;
  for (const CoverageSpan& s : day.spans) {
    if (channels.empty() || channels.back() != s.channel) channels.push_back(s.channel);
  }
  for (int ch : channels) {
    std::vector<const CoverageSpan*> of;
    for (const CoverageSpan& s : day.spans) {
      if (s.channel == ch) of.push_back(&s);
    }
    std::printf("%s  %s\n", channel_name(ch).c_str(), grid_row(of).c_str());
  }
  for (const CoverageSpan& s : day.spans) {
    std::printf("  %s  %s-%s  %-7s  %zu recording%s\n", channel_name(s.channel).c_str(), clock_text(s.start).c_str(),
                clock_text(s.end).c_str(), kind_name(s.kind), s.recordings.size(), s.recordings.size() == 1 ? "" : "s");
  }
  std::printf("  # regular  M motion  A alarm  C type C  H type H  ! damaged  . nothing\n\n");
}

}  // namespace

int cmd_timeline(const CommandArgs& a) {
  if (!bring_up_volume()) return kExitFailed;
  Scope scope;
  if (const int r = read_scope(a, scope); r != kExitOk) return r;
  int status = kExitOk;
  for (size_t k = 0; k < scope.disks.size(); ++k) {
    const int disk = scope.disk_numbers[k];
    const int64_t offset = clock_offset_of(disk);
    std::vector<DayCoverage> days;
    if (scope.one_day) days.push_back(day_coverage(scope.disks[k], scope.day, Source::kWorkDirectory, offset));
    else days = all_coverage(scope.disks[k], Source::kWorkDirectory, offset);
    for (DayCoverage& day : days) {
      if (scope.channel >= 0) {
        std::erase_if(day.spans, [&](const CoverageSpan& s) { return s.channel != scope.channel; });
      }
      for (const std::string& e : day.errors) {
        std::fprintf(stderr, "krt: %s\n", e.c_str());
        status = kExitFailed;
      }
      if (day.spans.empty() && !scope.one_day) continue;  // only the errors of the walk
      if (a.json) print_json(disk, day);
      else print_text(disk, day, offset);
    }
  }
  if (std::fflush(stdout) != 0) return fail("cannot write the timeline");
  return status;
}

// Coverage of a day: for each channel, the stretches of time its recordings cover.
//
// A recorder cuts a channel's stream into recordings of a few minutes each; an examiner asks
// which hours a camera covered, where the gaps are and which stretches were event recordings.
// This unit answers from the same listing the tree and the export use (listing.h): it lists the
// day's channel folders of the chosen partitions once, reads each recording's start, end and
// type letter from its name, and joins consecutive recordings of one channel into spans.
//
// Times are seconds from the day's midnight on the recorder's own clock (the clock of the
// names), or corrected by a clock offset the examiner gives (day_coverage). A recording whose end clock time is not after its start ends on the next day; a
// recording that began the day before and runs past midnight counts on both days, so a day's
// coverage also looks at the previous day's folders (its start is then negative).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/listing.h"

// The kind of a recording: the type letter of its name, or kDamaged for a recording whose
// listing delivered nothing to read.
enum class RecordingKind : uint8_t {
  kRegular,  // R: continuous recording
  kAlarm,    // A: an alarm input fired
  kMotion,   // M: motion detection
  kTypeC,    // C
  kTypeH,    // H
  kDamaged,  // listed, but with nothing a read reaches
};

// The kind's word in the tool's output: "regular", "alarm", "motion", "C", "H", "damaged".
const char* kind_name(RecordingKind kind);

// The kind of a name's record type (krt::RecordingName::alarm: 0 R, 1 A, 2 M, 3 C, 4 H; any
// other value reads as regular, as the name does).
RecordingKind kind_of_type(uint8_t alarm);

// One recording as coverage sees it.
struct CoveredRecording {
  std::string path;              // its full path under /mnt
  krt::PartitionName partition{};  // where it is listed
  int channel = 0;               // 0..63
  int64_t start = 0;             // seconds from the covered day's midnight (negative: the day before)
  int64_t end = 0;               // seconds from the day's midnight, after start (> 86400: next day)
  RecordingKind kind = RecordingKind::kRegular;
};

// Consecutive recordings of one channel and one kind.
struct CoverageSpan {
  int channel = 0;
  int64_t start = 0;  // the first recording's start
  int64_t end = 0;    // the latest end of its recordings (never before start)
  RecordingKind kind = RecordingKind::kRegular;
  std::vector<CoveredRecording> recordings;  // in start order
};

// Joins recordings into spans: per channel in ascending channel order, recordings in ascending
// start time (ties keep their given order); a recording joins the span before it when it has the
// same channel and kind and starts no later than one second after the span's end. Recordings of
// a clock set back overlap the span before them and join it; a span's end is the latest end of
// its recordings, so spans never run backwards. Returns the spans, channel by channel, each
// channel's in start order.
std::vector<CoverageSpan> join_spans(std::vector<CoveredRecording> recordings);

// The coverage of one day.
struct DayCoverage {
  int year = 0, month = 0, day = 0;
  std::vector<CoverageSpan> spans;  // join_spans of every recording that covers part of the day
  std::vector<std::string> errors;  // folders that did not list, with the reason
};

// A calendar day.
struct CalendarDay {
  int year = 0, month = 0, day = 0;
  bool operator<(const CalendarDay& o) const;
  bool operator==(const CalendarDay& o) const = default;
};

// d moved by n days (calendar arithmetic).
CalendarDay add_days(const CalendarDay& d, int n);

// The days on which any of partitions has a recording starting, ascending, as source lists them
// (a day of several partitions once): the recorder's days. Partitions that do not list are
// passed over.
std::vector<CalendarDay> coverage_days(const std::vector<krt::PartitionName>& partitions,
                                       Source source = Source::kWorkDirectory);

// The coverage of the day by the recordings of partitions (usually every partition of one
// disk): the day's channel folders of each partition, and those of the day before for
// recordings that run past midnight.
//
// clock_offset is the recorder's clock minus the true time, in seconds (an examiner measures
// it; |offset| <= 86400). Coverage is then of the true day: every time is corrected (recorder
// time - offset), recordings are taken from the recorder days the true day reaches into, and
// names and paths stay the recorder's own. 0 keeps the recorder's clock.
//
// Never fails: a folder that does not list is named in errors and the rest is still covered.
DayCoverage day_coverage(const std::vector<krt::PartitionName>& partitions, const CalendarDay& day,
                         Source source = Source::kWorkDirectory, int64_t clock_offset = 0);

// The coverage of every day that partitions' recordings touch (a recording running past
// midnight touches the next day too; with a clock offset, the true days), ascending, each
// recorder day listed once. Folders that do not list are named in the errors of the first day
// returned (an entry with no spans when nothing else is covered).
std::vector<DayCoverage> all_coverage(const std::vector<krt::PartitionName>& partitions,
                                      Source source = Source::kWorkDirectory, int64_t clock_offset = 0);

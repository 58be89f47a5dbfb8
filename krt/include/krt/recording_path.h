// Recording path names: how the recordings of a recorder disk are named as files.
//
// Every mounted KRT partition appears as a folder "ide" + letter + number under "/mnt", the
// letter being 'a' + disk index and the number the partition number:
//
//   /mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264
//        |     |          |   |        |        |  |      |   |
//        |     |          |   start    end      |  |      |   "h264" (AV value non-zero) or "jpg"
//        |     |          |   clock    clock    |  |      repeat number, decimal (0..255)
//        |     |          channel + 1 (001..064)|  first cluster, hexadecimal, no leading zeros
//        |     day of the file's start          type letter: R regular, A, M, C, H
//        partition: disk 0, partition 0
//
// The end clock time may lie on the next day. The repeat number tells apart files of one
// channel that start in the same second. A name without the cluster field names first cluster
// 0 (the file is then found by its start time); a missing repeat number counts as 0.
//
// Beside the recordings, each partition folder holds one special entry, "WorkDirectory": a
// 3,328-byte calendar of the days on which the partition recorded (see adapter.h).
//
// Paths are parsed from their end backwards: whatever stands before the partition component
// ("/mnt", or nothing) is ignored. Parsing is strict: each component must have exactly the
// shape above (numbers of at most the printed width; year 2000..2063, month 1..12, day 1..31,
// channel 1..64, partition 0..3, repeat 0..255, cluster at most 8 hex digits; clock values as
// wide as their packed-time fields, hour 0..31 and minute and second 0..63, so that any name the
// library writes reads back), so a malformed or overlong path is refused rather than read loosely.
//
// These functions are pure: they touch no library state and take no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "krt/disk.h"

namespace krt {

constexpr int kMaxChannels = 64;           // channels 0..63, written 001..064
constexpr size_t kRecordingNameBytes = 48; // a file component with its NUL fits in this
constexpr const char* kWorkDirectoryName = "WorkDirectory";

// A partition component "ide%c%d".
struct PartitionName {
  int disk;  // 0..kMaxDisks-1 (letter - 'a')
  int part;  // 0..3
};

// A channel folder: partition, day and channel components.
struct ChannelDirName {
  PartitionName partition;
  int year;     // 2000..2063
  int month;    // 1..12
  int day;      // 1..31
  int channel;  // 0..63 (the written number minus 1)
};

// A recording path: the channel folder and the file component.
struct RecordingName {
  ChannelDirName dir;
  int hour;                // start clock time
  int minute;              //
  int second;              //
  uint8_t alarm;           // record type from the letter: A 1, M 2, C 3, H 4, any other 0
  uint32_t first_cluster;  // 0 when the name has no cluster field
  uint8_t repeat_no;       // 0 when the name has no repeat field
  bool h264;               // extension "h264" (else "jpg")
  uint32_t start_time;     // packed start time: day component + start clock time
  int end_hour;            // end clock time (may lie on the next day)
  int end_minute;          //
  int end_second;          //
};

// The type letter of a record type: "R" 0, "A" 1, "M" 2, "C" 3, "H" 4, "R" for any other value.
char type_letter(uint8_t alarm);

// The record type of a type letter: 'A' 1, 'M' 2, 'C' 3, 'H' 4, any other letter 0.
uint8_t alarm_of_letter(char letter);

// True when path names a recording: it ends in ".h264" or ".jpg".
bool is_recording_path(const char* path);

// Parses a recording path (see the top of this file). Returns true and fills out; false for a
// null path or one that does not follow the grammar (out is then unspecified).
bool parse_recording_path(const char* path, RecordingName& out);

// Parses a find pattern: a channel folder followed by one more component, which is ignored
// ("/mnt/idea0/2010-03-05/002/*"). Returns true and fills out; false otherwise.
bool parse_channel_pattern(const char* pattern, ChannelDirName& out);

// Parses a work-directory path: ".../ide%c%d/WorkDirectory". Returns true and fills out;
// false otherwise (also for a path whose last component is not exactly "WorkDirectory").
bool parse_work_directory_path(const char* path, PartitionName& out);

// ---- One component at a time (no "/" inside) ---------------------------------------------

// Parses a partition component ("idea0"). Returns true and fills out; false otherwise.
bool parse_partition_component(std::string_view component, PartitionName& out);

// Parses a day component ("2010-03-05"). Returns true and sets year, month and day; false
// otherwise (they are then unspecified).
bool parse_day_component(std::string_view component, int& year, int& month, int& day);

// Parses a channel component ("002"). Returns true and sets channel to the written number
// minus 1 (0..63); false otherwise.
bool parse_channel_component(std::string_view component, int& channel);

// Parses a file component ("08.00.00-08.15.00[R][@1a2f][0].h264") into the clock, type,
// cluster, repeat and extension fields of out; out.dir and out.start_time are left as they
// are. Returns true when it follows the grammar; false otherwise.
bool parse_file_component(std::string_view component, RecordingName& out);

// Finds the first partition component of path (the first "/ide" followed by a letter, a
// partition number and then "/" or the end) and parses it. Returns true and fills out; false
// when there is none.
bool find_partition_component(const char* path, PartitionName& out);

// Writes the file component of a recording into out (size bytes, NUL included):
// "%02d.%02d.%02d-%02d.%02d.%02d[%c][@%x][%d].%s" from the start and end clock times, the
// record type, first cluster, repeat number and extension (h264 / jpg). Returns the length
// written, or -1 when it does not fit (out then holds an empty text when size > 0).
int format_recording_name(char* out, size_t size, uint32_t start_time, uint32_t end_time,
                          uint8_t alarm, uint32_t first_cluster, uint8_t repeat_no, bool h264);

}  // namespace krt

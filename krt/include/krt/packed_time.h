// Packed time: the one time format of a KRT disk.
//
// A packed time is a uint32 holding a calendar date and a clock time in bit fields, from the
// year down to the second, so two packed times compare correctly as unsigned integers:
//
//   bits 26-31  year - 2000   0..63
//   bits 22-25  month         1..12
//   bits 17-21  day           1..31
//   bits 12-16  hour          0..23
//   bits  6-11  minute        0..59
//   bits  0- 5  second        0..59
//
// 0 means "no time". The fields are the recorder's wall clock: they carry no time zone, and
// every conversion here is plain calendar arithmetic (the proleptic Gregorian calendar, no time
// zones, no daylight saving), so results never depend on the machine's settings, and
// nothing here reads a clock: the library clock does (time_now() and clock_now() of clock.h).
#pragma once

#include <cstdint>
#include <ctime>

namespace krt {

// The fields of a packed time, year as the calendar year (2000..2063).
struct TimeFields {
  int year;    // calendar year, 2000..2063
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
};

// Seconds in the packed range: 2000-01-01 00:00:00 .. 2063-12-31 23:59:59.
constexpr int32_t kLastPackedSecond = 2019686399;

// Packs the fields. Each field is masked to its bit width; a year outside 2000..2063 is
// clamped into that range. Returns the packed time.
uint32_t pack_time(const TimeFields& f);

// Unpacks the bit fields as stored (no range checks). Returns the fields.
TimeFields unpack_time(uint32_t t);

// Seconds from 2000-01-01 00:00:00 to t. A month of 0 counts as 1 and one above 12 as 12; a day
// of 0 counts as 1; a day past the month's end simply runs on into the next month. Returns a
// value in 0..kLastPackedSecond for every valid date and clock time; never fails or overflows.
int32_t time_to_seconds(uint32_t t);

// The packed time s seconds after 2000-01-01 00:00:00: the exact inverse of time_to_seconds for
// s in 0..kLastPackedSecond. Seconds below 0 give 2000-01-01 00:00:00, seconds beyond the range
// give 2063-12-31 23:59:59 (the format has no other values).
uint32_t seconds_to_time(int32_t s);

// time_to_seconds(a) - time_to_seconds(b).
int32_t time_diff(uint32_t a, uint32_t b);

// t moved by n seconds (may be negative), kept inside the packed range.
uint32_t time_add(uint32_t t, int32_t n);

// 0 when equal, 1 when a is later, -1 when a is earlier (unsigned comparison).
int time_compare(uint32_t a, uint32_t b);

// Seconds since 1970-01-01 00:00:00 of the wall-clock time t, counted as if t were UTC (no time
// zone is applied, so the value round-trips through gmtime). 0 for a zero time.
std::time_t time_to_time_t(uint32_t t);

}  // namespace krt

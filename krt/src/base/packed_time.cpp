// Packed time: packing, calendar arithmetic and the clock.
//
// Day counts run from 2000-01-01. Every year of the packed range (2000..2063) that is divisible
// by four is a leap year (2000 included, as the Gregorian calendar has it).
#include "krt/packed_time.h"

#include <algorithm>


namespace krt {
namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kFirstYear = 2000;
constexpr int kLastYearOffset = 63;
constexpr std::time_t kUnixSecondsAt2000 = 946684800;

// Days before the first of each month in a year that is not a leap year.
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Leap days in the years 2000 .. 2000 + years_since_2000 - 1.
int leap_days_before(int years_since_2000) {
  int count = 0;
  for (int y = 0; y < years_since_2000; ++y) count += is_leap(kFirstYear + y) ? 1 : 0;
  return count;
}

int year_length(int year) { return is_leap(year) ? 366 : 365; }

int month_length(int year, int month) {
  return kDaysInMonth[month - 1] + ((month == 2 && is_leap(year)) ? 1 : 0);
}

}  // namespace

uint32_t pack_time(const TimeFields& f) {
  const uint32_t y = uint32_t(std::clamp(f.year - kFirstYear, 0, kLastYearOffset));
  return (y << 26) | ((uint32_t(f.month) & 0xF) << 22) | ((uint32_t(f.day) & 0x1F) << 17) |
         ((uint32_t(f.hour) & 0x1F) << 12) | ((uint32_t(f.minute) & 0x3F) << 6) |
         (uint32_t(f.second) & 0x3F);
}

TimeFields unpack_time(uint32_t t) {
  return TimeFields{int(t >> 26) + kFirstYear, int((t >> 22) & 0xF), int((t >> 17) & 0x1F),
                    int((t >> 12) & 0x1F),     int((t >> 6) & 0x3F),  int(t & 0x3F)};
}

int32_t time_to_seconds(uint32_t t) {
  const TimeFields f = unpack_time(t);
  const int month = std::clamp(f.month, 1, 12);
  const int day = f.day == 0 ? 1 : f.day;
  const int years = f.year - kFirstYear;
  int days = years * 365 + leap_days_before(years) + kDaysBeforeMonth[month - 1] + day - 1;
  if (month > 2 && is_leap(f.year)) days += 1;
  return days * kSecondsPerDay + f.hour * 3600 + f.minute * 60 + f.second;
}

uint32_t seconds_to_time(int32_t s) {
  s = std::clamp(s, int32_t(0), kLastPackedSecond);
  int days = s / kSecondsPerDay;
  const int in_day = s % kSecondsPerDay;
  TimeFields f{kFirstYear, 1, 1, in_day / 3600, in_day % 3600 / 60, in_day % 60};
  while (days >= year_length(f.year)) {
    days -= year_length(f.year);
    ++f.year;
  }
  while (days >= month_length(f.year, f.month)) {
    days -= month_length(f.year, f.month);
    ++f.month;
  }
  f.day = days + 1;
  return pack_time(f);
}

int32_t time_diff(uint32_t a, uint32_t b) { return time_to_seconds(a) - time_to_seconds(b); }

uint32_t time_add(uint32_t t, int32_t n) {
  const int64_t s = int64_t(time_to_seconds(t)) + n;
  return seconds_to_time(int32_t(std::clamp<int64_t>(s, 0, kLastPackedSecond)));
}

int time_compare(uint32_t a, uint32_t b) { return a == b ? 0 : (a > b ? 1 : -1); }

std::time_t time_to_time_t(uint32_t t) {
  if (t == 0) return 0;
  return kUnixSecondsAt2000 + time_to_seconds(t);
}

}  // namespace krt

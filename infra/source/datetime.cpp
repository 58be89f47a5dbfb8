// DateTime, the packed time and their conversions.
//
// DateTime values are normalised with calendar arithmetic (timegm/gmtime_r on the wall-clock
// fields): the same as a round trip through the local zone with daylight saving off, without
// the hour that a daylight-saving change would otherwise add or take.
#include "infra/datetime.h"

#include <algorithm>
#include <ctime>

namespace infra {
namespace {

// Days before each month in a year that is not a leap year.
constexpr int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2063;  // the six bits of the packed year

uint32_t Field(PackedTime p, int shift, uint32_t mask) { return (p >> shift) & mask; }

// The broken-down C time of the fields of t (weekday and daylight saving not set).
std::tm ToTm(const DateTime &t) {
  std::tm tm{};
  tm.tm_year = t.m_nYear - 1900;
  tm.tm_mon = t.m_nMonth - 1;
  tm.tm_mday = t.m_nDay;
  tm.tm_hour = t.m_nHour;
  tm.tm_min = t.m_nMinute;
  tm.tm_sec = t.m_nSecond;
  return tm;
}

// The DateTime of a broken-down C time, weekday included.
DateTime FromTm(const std::tm &tm) {
  DateTime d;
  d.m_nYear = tm.tm_year + 1900;
  d.m_nMonth = tm.tm_mon + 1;
  d.m_nDay = tm.tm_mday;
  d.m_nWeekDay = tm.tm_wday;
  d.m_nHour = tm.tm_hour;
  d.m_nMinute = tm.tm_min;
  d.m_nSecond = tm.tm_sec;
  return d;
}

}  // namespace

const DateTime kDateTimeMin(2000, 1, 1, 0, 0, 0);
const DateTime kDateTimeMax(2032, 1, 1, 0, 0, 0);

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second)
    : m_nYear(year), m_nMonth(month), m_nDay(day), m_nHour(hour), m_nMinute(minute),
      m_nSecond(second) {
  *this = FromCalendarTime(ToCalendarTime());
}

int64_t DateTime::ToCalendarTime() const {
  std::tm tm = ToTm(*this);
  return static_cast<int64_t>(timegm(&tm));
}

DateTime DateTime::FromCalendarTime(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return FromTm(tm);
}

DateTime &DateTime::operator+=(int64_t seconds) {
  return *this = FromCalendarTime(ToCalendarTime() + seconds);
}

DateTime &DateTime::operator-=(int64_t seconds) { return *this += -seconds; }

DateTime DateTime::operator+(int64_t seconds) const { return DateTime(*this) += seconds; }

DateTime DateTime::operator-(int64_t seconds) const { return DateTime(*this) += -seconds; }

int64_t DateTime::operator-(const DateTime &other) const {
  return ToCalendarTime() - other.ToCalendarTime();
}

PackedTime ToPackedTime(const DateTime &t) {
  if (t.m_nYear < kFirstYear || t.m_nYear > kLastYear) return 0;
  return static_cast<uint32_t>(t.m_nYear - kFirstYear) << 26 |
         (static_cast<uint32_t>(t.m_nMonth) & 0xF) << 22 |
         (static_cast<uint32_t>(t.m_nDay) & 0x1F) << 17 |
         (static_cast<uint32_t>(t.m_nHour) & 0x1F) << 12 |
         (static_cast<uint32_t>(t.m_nMinute) & 0x3F) << 6 |
         (static_cast<uint32_t>(t.m_nSecond) & 0x3F);
}

DateTime FromPackedTime(PackedTime p) {
  const int month = static_cast<int>(std::clamp<uint32_t>(Field(p, 22, 0xF), 1, 12));
  const int day = static_cast<int>(std::max<uint32_t>(Field(p, 17, 0x1F), 1));
  return DateTime(kFirstYear + static_cast<int>(Field(p, 26, 0x3F)), month, day,
                  static_cast<int>(Field(p, 12, 0x1F)), static_cast<int>(Field(p, 6, 0x3F)),
                  static_cast<int>(Field(p, 0, 0x3F)));
}

DateTime GetLocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return FromTm(tm);
}

PackedTime GetLocalPackedTime() { return ToPackedTime(GetLocalDateTime()); }

bool SetLocalDateTime(const DateTime &t) {
  std::tm tm = ToTm(t);
  tm.tm_isdst = -1;  // as the local clock shows it
  const std::time_t when = std::mktime(&tm);
  if (when == static_cast<std::time_t>(-1)) return false;
  const timespec ts{when, 0};
  return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

uint32_t TimeToSeconds(PackedTime p) {
  const uint32_t year = Field(p, 26, 0x3F);
  const uint32_t month = std::clamp<uint32_t>(Field(p, 22, 0xF), 1, 12);
  const uint32_t day = std::max<uint32_t>(Field(p, 17, 0x1F), 1);
  // With "+ day - 1" the sum counts whole days in January and February of a leap year. In
  // every other case one leap day more has passed that year / 4 does not count: the year's
  // own 29 February, or, in the three years after a leap year, that year's 29 February.
  uint32_t days = kDaysBeforeMonth[month - 1] + 365 * year + year / 4 + day;
  if (IsLeapYear(kFirstYear + static_cast<int>(year)) && month <= 2) days -= 1;
  return days * 86400 + Field(p, 12, 0x1F) * 3600 + Field(p, 6, 0x3F) * 60 + Field(p, 0, 0x3F);
}

PackedTime SecondsToTime(uint32_t seconds) {
  static const uint32_t kLast = TimeToSeconds(ToPackedTime(DateTime(kLastYear, 12, 31, 23, 59, 59)));
  seconds = std::min(seconds, kLast);
  uint32_t days = seconds / 86400;
  const uint32_t rest = seconds % 86400;
  int year = kFirstYear;
  for (uint32_t len; days >= (len = IsLeapYear(year) ? 366 : 365); ++year) days -= len;
  int month = 1;
  for (uint32_t len; days >= (len = static_cast<uint32_t>(DaysInMonth(year, month))); ++month)
    days -= len;
  return ToPackedTime(DateTime(year, month, static_cast<int>(days) + 1, static_cast<int>(rest / 3600),
                               static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)));
}

int CompareTime(const DateTime &a, const DateTime &b) {
  const PackedTime pa = ToPackedTime(a);
  const PackedTime pb = ToPackedTime(b);
  return pa == pb ? 0 : (pa > pb ? 1 : -1);
}

int CheckTimeRange(PackedTime t, PackedTime lo, PackedTime hi) {
  if (t < lo) return -1;
  if (t > hi) return 1;
  return 0;
}

DateTime AddSeconds(const DateTime &t, int64_t seconds) {
  const int64_t moved = static_cast<int64_t>(TimeToSeconds(ToPackedTime(t))) + seconds;
  return FromPackedTime(SecondsToTime(static_cast<uint32_t>(std::clamp<int64_t>(moved, 0, UINT32_MAX))));
}

int64_t DiffSeconds(const DateTime &a, const DateTime &b) {
  return static_cast<int64_t>(TimeToSeconds(ToPackedTime(a))) -
         static_cast<int64_t>(TimeToSeconds(ToPackedTime(b)));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
      return 31;
    case 2:
      return IsLeapYear(year) ? 29 : 28;
    default:
      return 30;
  }
}

int To24Hour(int hour, bool pm) {
  if (pm) return hour == 12 ? 12 : hour + 12;
  return hour == 12 ? 0 : hour;
}

int To12Hour(int hour) {
  if (hour > 12) return hour - 12;
  return hour == 0 ? 12 : hour;
}

bool IsPM(int hour) { return hour > 11; }

}  // namespace infra

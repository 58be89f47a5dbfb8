// Date-time utilities: a broken-down date-time value, the 32-bit packed time, conversions
// and text formatting under three process-wide format settings.
//
// Packed time, one uint32 (0 = no time; two packed times compare as unsigned integers):
//
//   bits 31..26  year - 2000 (0-63)     bits 16..12  hour (0-23)
//   bits 25..22  month (1-12)           bits 11..6   minute (0-59)
//   bits 21..17  day (1-31)             bits  5..0   second (0-59)
//
// Seconds counts start at 2000-01-01 00:00:00 local time. DateTime arithmetic is calendar
// arithmetic on the wall-clock fields: the local zone with daylight saving off, whose offset
// cancels out, so no result shifts by an hour across a daylight-saving change.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace infra {

using PackedTime = uint32_t;

// A broken-down date-time, always normalised (constructed values that run over, such as
// 2011-02-30, roll into the next month) and with its weekday filled.
struct DateTime {
  int32_t m_nYear = 2000;    // four digits
  int32_t m_nMonth = 1;      // 1-12
  int32_t m_nDay = 1;        // 1-31
  int32_t m_nWeekDay = 6;    // 0 = Sunday (2000-01-01 was a Saturday)
  int32_t m_nHour = 0;       // 0-23
  int32_t m_nMinute = 0;     // 0-59
  int32_t m_nSecond = 0;     // 0-59
  int32_t m_nReserved = 0;   // 0

  // 2000-01-01 00:00:00.
  DateTime() = default;
  // The given fields, normalised, with the weekday filled.
  DateTime(int year, int month, int day, int hour, int minute, int second);

  // Seconds from 1970-01-01 00:00:00 to this wall-clock time (the calendar time).
  int64_t ToCalendarTime() const;
  // The DateTime of a calendar time.
  static DateTime FromCalendarTime(int64_t seconds);

  DateTime &operator+=(int64_t seconds);
  DateTime &operator-=(int64_t seconds);
  DateTime operator+(int64_t seconds) const;
  DateTime operator-(int64_t seconds) const;
  // Seconds from other to this (positive when this is later).
  int64_t operator-(const DateTime &other) const;
  bool operator==(const DateTime &other) const { return ToCalendarTime() == other.ToCalendarTime(); }
  std::strong_ordering operator<=>(const DateTime &other) const {
    return ToCalendarTime() <=> other.ToCalendarTime();
  }
};

// 2000-01-01 00:00:00 and 2032-01-01 00:00:00.
extern const DateTime kDateTimeMin;
extern const DateTime kDateTimeMax;

// The packed form of t; 0 when its year is outside 2000-2063.
PackedTime ToPackedTime(const DateTime &t);
// The DateTime of a packed time (a month of 0 or a day of 0 read as 1, a month above 12 as
// 12); 0 gives 2000-01-01 00:00:00.
DateTime FromPackedTime(PackedTime p);

// The current local time (daylight saving applied, as the clock on the wall shows it).
DateTime GetLocalDateTime();
PackedTime GetLocalPackedTime();
// Sets the machine's clock to the local time t. Returns false when the system refuses (this
// needs the right to set the clock).
bool SetLocalDateTime(const DateTime &t);

// Seconds from 2000-01-01 00:00:00 to p (month 0 read as 1, above 12 as 12, day 0 as 1).
uint32_t TimeToSeconds(PackedTime p);
// The packed time of a seconds count; counts past 2063-12-31 23:59:59 give that time.
PackedTime SecondsToTime(uint32_t seconds);

// 0 when a and b are the same second, 1 when a is later, -1 when earlier (packed compare).
int CompareTime(const DateTime &a, const DateTime &b);
// -1 when t < lo, 1 when t > hi, else 0.
int CheckTimeRange(PackedTime t, PackedTime lo, PackedTime hi);
// t moved by seconds through the packed form, held within 2000-01-01 00:00:00 and
// 2063-12-31 23:59:59.
DateTime AddSeconds(const DateTime &t, int64_t seconds);
// Seconds from b to a through the packed form (positive when a is later).
int64_t DiffSeconds(const DateTime &a, const DateTime &b);

// 28-31; a month outside 1-12 gives 30.
int DaysInMonth(int year, int month);
bool IsLeapYear(int year);
// The 24-hour hour of a 12-hour clock reading (12 AM is 0, 12 PM is 12).
int To24Hour(int hour, bool pm);
// The 12-hour clock hour of a 24-hour hour (0 is 12).
int To12Hour(int hour);
bool IsPM(int hour);

// The format settings, process-wide. order: 0 year-month-day (initial), 1 month-day-year,
// 2 day-month-year. hourMode: 1 = 12-hour with "AM"/"PM", else 24-hour (initial 0).
// separator: 0 gives '.', 2 gives '/', anything else '-' (initial 58).
void SetTimeFormat(int order, int hourMode, int separator);

// FormatTime flags; the first of 0x10, 0x01, 0x04, 0x08 that is set picks the form.
enum : int {
  kFmtShortYear = 0x01,   // two-digit year: "11-03-05 14:07:09"
  kFmtNoSeconds = 0x02,   // drop the seconds: "2011-03-05 14:07"
  kFmtCompact = 0x04,     // no separators: "20110305140709"
  kFmtDateOnly = 0x08,    // "2011-03-05" (no "AM"/"PM" either)
  kFmtTimeOnly = 0x10,    // "14:07:09"
};
// The text of t under the format settings; "" for a date form when the order is not 0-2.
// In 12-hour mode the hour 0 shows as 12, 13-23 as 1-11, followed by "AM" or "PM".
std::string FormatTime(const DateTime &t, int flags);
std::string FormatTime(PackedTime p, int flags);

}  // namespace infra

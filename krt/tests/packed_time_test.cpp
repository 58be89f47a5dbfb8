// Packed time: fields, the day count from 2000-01-01 and its inverse.
#include "krt/packed_time.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return pack_time(TimeFields{y, mo, d, h, mi, s});
}

TEST(PackedTime, FieldsSitInTheirBits) {
  EXPECT_EQ(at(2010, 3, 5, 8, 0, 1), (10u << 26) | (3u << 22) | (5u << 17) | (8u << 12) | 1u);
  const TimeFields f = unpack_time(at(2063, 12, 31, 23, 59, 58));
  EXPECT_EQ(f.year, 2063);
  EXPECT_EQ(f.month, 12);
  EXPECT_EQ(f.day, 31);
  EXPECT_EQ(f.hour, 23);
  EXPECT_EQ(f.minute, 59);
  EXPECT_EQ(f.second, 58);
  EXPECT_EQ(unpack_time(at(1999, 1, 1)).year, 2000);  // clamped into the format's range
  EXPECT_EQ(unpack_time(at(2070, 1, 1)).year, 2063);
}

TEST(PackedTime, SecondsCountFromTheStartOf2000) {
  EXPECT_EQ(time_to_seconds(at(2000, 1, 1)), 0);
  EXPECT_EQ(time_to_seconds(at(2000, 1, 1, 1, 2, 3)), 3723);
  EXPECT_EQ(time_to_seconds(at(2000, 3, 1)), 60 * 86400);  // 2000 is a leap year
  EXPECT_EQ(time_to_seconds(at(2001, 1, 1)), 366 * 86400);
  EXPECT_EQ(time_to_seconds(at(2004, 3, 1)), 1521 * 86400);
  EXPECT_EQ(time_to_seconds(at(2063, 12, 31, 23, 59, 59)), kLastPackedSecond);
}

TEST(PackedTime, OutOfRangeMonthsAndDaysAreClamped) {
  EXPECT_EQ(time_to_seconds(at(2010, 0, 5)), time_to_seconds(at(2010, 1, 5)));
  EXPECT_EQ(time_to_seconds(at(2010, 13, 5)), time_to_seconds(at(2010, 12, 5)));
  EXPECT_EQ(time_to_seconds(at(2010, 4, 0)), time_to_seconds(at(2010, 4, 1)));
  EXPECT_EQ(time_to_seconds(at(2010, 2, 30)), time_to_seconds(at(2010, 3, 2)));  // runs on
}

TEST(PackedTime, EveryDayFrom2000To2063RoundTripsAndMatchesTheCivilCalendar) {
  const int days = kLastPackedSecond / 86400 + 1;
  uint32_t previous = 0;
  for (int day = 0; day < days; ++day) {
    const int32_t s = day * 86400 + (day * 7919) % 86400;
    const uint32_t t = seconds_to_time(s);
    ASSERT_EQ(time_to_seconds(t), s) << day;
    ASSERT_GT(t, previous) << day;
    previous = t;
    // The calendar of the C library, with no time zone, agrees with the packed fields.
    const std::time_t unix_time = time_to_time_t(t);
    std::tm utc{};
    gmtime_r(&unix_time, &utc);
    const TimeFields f = unpack_time(t);
    ASSERT_EQ(utc.tm_year + 1900, f.year) << day;
    ASSERT_EQ(utc.tm_mon + 1, f.month) << day;
    ASSERT_EQ(utc.tm_mday, f.day) << day;
    ASSERT_EQ(utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec, f.hour * 3600 + f.minute * 60 + f.second);
  }
  EXPECT_EQ(days, 23376);
}

TEST(PackedTime, ArithmeticStaysInsideTheFormat) {
  EXPECT_EQ(time_add(at(2004, 2, 28, 23, 59, 59), 1), at(2004, 2, 29));
  EXPECT_EQ(time_add(at(2003, 12, 31, 23, 59, 59), 1), at(2004, 1, 1));
  EXPECT_EQ(time_add(at(2000, 1, 1, 0, 0, 5), -10), at(2000, 1, 1));
  EXPECT_EQ(time_add(at(2063, 12, 31, 23, 59, 50), 3600), at(2063, 12, 31, 23, 59, 59));
  EXPECT_EQ(seconds_to_time(-1), at(2000, 1, 1));
  EXPECT_EQ(time_diff(at(2010, 3, 5, 8, 0, 0), at(2010, 3, 4, 8, 0, 11)), 86400 - 11);
  EXPECT_EQ(time_compare(at(2010, 1, 1), at(2009, 12, 31)), 1);
  EXPECT_EQ(time_compare(at(2009, 12, 31), at(2010, 1, 1)), -1);
  EXPECT_EQ(time_compare(5, 5), 0);
}

TEST(PackedTime, UnixTimeIgnoresTimeZones) {
  EXPECT_EQ(time_to_time_t(0), 0);
  EXPECT_EQ(time_to_time_t(at(2000, 1, 1)), 946684800);
  EXPECT_EQ(time_to_time_t(at(2010, 3, 5, 8, 0, 0)), 1267776000);
}

}  // namespace
}  // namespace krt

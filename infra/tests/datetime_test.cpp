// DateTime, the packed time, seconds counts and FormatTime.
#include <gtest/gtest.h>

#include "infra/datetime.h"

namespace infra {
namespace {

class TimeFormat : public testing::Test {
 protected:
  void TearDown() override { SetTimeFormat(0, 0, 58); }  // the initial settings
};

TEST_F(TimeFormat, FormsOrdersSeparatorsAndClock) {
  struct Case {
    int order, hourMode, separator, flags;
    const char *text;
  };
  const Case cases[] = {
      {0, 0, 58, 0, "2011-03-05 14:07:09"},
      {0, 0, 58, kFmtNoSeconds, "2011-03-05 14:07"},
      {0, 1, 58, 0, "2011-03-05 02:07:09PM"},
      {2, 0, 2, kFmtDateOnly, "05/03/2011"},
      {2, 1, 2, kFmtDateOnly, "05/03/2011"},  // no AM/PM on a date alone
      {1, 0, 0, 0, "03.05.2011 14:07:09"},
      {0, 0, 58, kFmtShortYear, "11-03-05 14:07:09"},
      {1, 0, 58, kFmtShortYear, "03-05-11 14:07:09"},
      {0, 0, 58, kFmtCompact, "20110305140709"},
      {2, 0, 58, kFmtCompact | kFmtNoSeconds, "050320111407"},
      {0, 1, 58, kFmtTimeOnly | kFmtNoSeconds, "02:07PM"},
      {0, 0, 58, kFmtTimeOnly | kFmtShortYear, "14:07:09"},  // time-only wins
      {0, 0, 58, kFmtDateOnly | kFmtNoSeconds, "2011-03-05"},  // no seconds to drop
      {7, 0, 58, 0, ""},
      {7, 0, 58, kFmtTimeOnly, "14:07:09"},
  };
  const DateTime t(2011, 3, 5, 14, 7, 9);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    SetTimeFormat(c.order, c.hourMode, c.separator);
    EXPECT_EQ(FormatTime(t, c.flags), c.text);
    EXPECT_EQ(FormatTime(ToPackedTime(t), c.flags), c.text);
  }
  SetTimeFormat(0, 1, 58);
  EXPECT_EQ(FormatTime(DateTime(2011, 3, 5, 0, 30, 0), 0), "2011-03-05 12:30:00AM");
  EXPECT_EQ(FormatTime(DateTime(2011, 3, 5, 12, 30, 0), 0), "2011-03-05 12:30:00PM");
}

TEST(DateTime, NormalisesFillsTheWeekdayAndCounts) {
  const DateTime start;
  EXPECT_EQ(start, DateTime(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(start.m_nWeekDay, 6);  // Saturday
  EXPECT_EQ(kDateTimeMin, start);
  EXPECT_EQ(kDateTimeMax, DateTime(2032, 1, 1, 0, 0, 0));

  const DateTime rolled(2011, 2, 30, 25, 0, 0);  // 30 February, hour 25
  EXPECT_EQ(rolled.m_nMonth, 3);
  EXPECT_EQ(rolled.m_nDay, 3);
  EXPECT_EQ(rolled.m_nHour, 1);
  EXPECT_EQ(rolled.m_nWeekDay, 4);  // 2011-03-03 was a Thursday

  DateTime t(2011, 12, 31, 23, 59, 59);
  t += 1;
  EXPECT_EQ(t, DateTime(2012, 1, 1, 0, 0, 0));
  EXPECT_EQ(t - 86400, DateTime(2011, 12, 31, 0, 0, 0));
  EXPECT_EQ(DateTime(2012, 3, 1, 0, 0, 0) - DateTime(2012, 2, 28, 0, 0, 0), 2 * 86400);
  EXPECT_LT(DateTime(2012, 2, 28, 0, 0, 0), DateTime(2012, 2, 29, 0, 0, 0));
  EXPECT_GE(t, t);
}

TEST(PackedTime, LayoutAndRoundTrip) {
  const DateTime t(2010, 3, 5, 8, 15, 30);
  const PackedTime p = ToPackedTime(t);
  EXPECT_EQ(p, 10u << 26 | 3u << 22 | 5u << 17 | 8u << 12 | 15u << 6 | 30u);
  EXPECT_EQ(FromPackedTime(p), t);
  EXPECT_EQ(FromPackedTime(p).m_nWeekDay, 5);  // a Friday
  EXPECT_EQ(ToPackedTime(DateTime(1999, 12, 31, 0, 0, 0)), 0u);
  EXPECT_EQ(ToPackedTime(DateTime(2064, 1, 1, 0, 0, 0)), 0u);
  EXPECT_EQ(FromPackedTime(0), DateTime());
}

TEST(PackedTime, SecondsCountsMatchTheCalendar) {
  EXPECT_EQ(TimeToSeconds(ToPackedTime(DateTime(2000, 1, 1, 0, 0, 0))), 0u);
  EXPECT_EQ(TimeToSeconds(ToPackedTime(DateTime(2004, 3, 1, 0, 0, 0))), 131414400u);
  EXPECT_EQ(TimeToSeconds(0), 0u);  // month 0 and day 0 read as 1
  // Against calendar arithmetic across the whole packed range, leap days included.
  const DateTime origin;
  for (uint32_t s = 0; s < 2000000000u; s += 86400 * 37 + 3671) {
    const PackedTime p = SecondsToTime(s);
    ASSERT_EQ(TimeToSeconds(p), s);
    ASSERT_EQ(FromPackedTime(p) - origin, static_cast<int64_t>(s));
  }
  const PackedTime last = ToPackedTime(DateTime(2063, 12, 31, 23, 59, 59));
  EXPECT_EQ(SecondsToTime(UINT32_MAX), last);
}

TEST(PackedTime, CompareRangeAndArithmetic) {
  const DateTime a(2011, 3, 5, 14, 7, 9), b(2011, 3, 5, 14, 7, 10);
  EXPECT_EQ(CompareTime(a, a), 0);
  EXPECT_EQ(CompareTime(b, a), 1);
  EXPECT_EQ(CompareTime(a, b), -1);
  const PackedTime lo = ToPackedTime(a), hi = ToPackedTime(b);
  EXPECT_EQ(CheckTimeRange(lo - 1, lo, hi), -1);
  EXPECT_EQ(CheckTimeRange(lo, lo, hi), 0);
  EXPECT_EQ(CheckTimeRange(hi + 1, lo, hi), 1);
  EXPECT_EQ(AddSeconds(DateTime(2012, 2, 28, 23, 0, 0), 3600 * 25), DateTime(2012, 3, 1, 0, 0, 0));
  EXPECT_EQ(AddSeconds(DateTime(2000, 1, 1, 0, 0, 5), -10), DateTime());  // held at the start
  EXPECT_EQ(DiffSeconds(b, a), 1);
  EXPECT_EQ(DiffSeconds(a, b), -1);
}

TEST(Calendar, MonthsLeapYearsAndClockHours) {
  EXPECT_EQ(DaysInMonth(2011, 1), 31);
  EXPECT_EQ(DaysInMonth(2011, 4), 30);
  EXPECT_EQ(DaysInMonth(2011, 2), 28);
  EXPECT_EQ(DaysInMonth(2012, 2), 29);
  EXPECT_EQ(DaysInMonth(2011, 13), 30);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2012));
  EXPECT_FALSE(IsLeapYear(2011));
  EXPECT_EQ(To24Hour(12, false), 0);
  EXPECT_EQ(To24Hour(3, false), 3);
  EXPECT_EQ(To24Hour(12, true), 12);
  EXPECT_EQ(To24Hour(3, true), 15);
  EXPECT_EQ(To12Hour(0), 12);
  EXPECT_EQ(To12Hour(12), 12);
  EXPECT_EQ(To12Hour(15), 3);
  EXPECT_FALSE(IsPM(11));
  EXPECT_TRUE(IsPM(12));
}

TEST(DateTime, LocalTimeIsInTheCurrentEra) {
  const DateTime now = GetLocalDateTime();
  EXPECT_GE(now.m_nYear, 2020);
  EXPECT_EQ(now, DateTime(now.m_nYear, now.m_nMonth, now.m_nDay, now.m_nHour, now.m_nMinute, now.m_nSecond));
  EXPECT_NE(GetLocalPackedTime(), 0u);
}

}  // namespace
}  // namespace infra

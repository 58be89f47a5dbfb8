// Time in recordings: which recording holds a moment and where, and the texts for time.
#include <gtest/gtest.h>

#include "recordingtime.h"

namespace {

const std::string kEvening = "/mnt/idea0/2010-03-05/002/23.50.00-00.10.00[R][@1a2f][0].h264";
const std::string kMorning = "/mnt/idea1/2010-03-06/002/08.00.00-08.15.00[R][@1b2f][0].h264";
const std::string kOtherChannel = "/mnt/idea0/2010-03-06/003/08.00.00-08.15.00[R][@1c2f][0].h264";

TEST(RecordingTime, TheRecordingHoldingAMomentAndTheOffsetIntoIt) {
  struct Case {
    QDateTime moment;
    int channel;
    std::string path;  // "" none
    int64_t offsetMs;
  };
  const QDate day(2010, 3, 5), next(2010, 3, 6);
  const Case cases[] = {
      {QDateTime(day, QTime(23, 50, 0)), 2, kEvening, 0},           // the first picture
      {QDateTime(next, QTime(0, 5, 0)), 2, kEvening, 900'000},      // past midnight
      {QDateTime(next, QTime(0, 10, 0)), 2, "", -1},                // the end is not in it
      {QDateTime(next, QTime(8, 14, 59)), 2, kMorning, 899'000},    // another partition
      {QDateTime(next, QTime(4, 0, 0)), 2, "", -1},                 // a gap
      {QDateTime(next, QTime(8, 1, 0)), 3, kOtherChannel, 60'000},  // the channel asked for
      {QDateTime(next, QTime(8, 1, 0)), 4, "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.moment.toString().toStdString());
    int64_t offset = -1;
    EXPECT_EQ(RecordingAt({kEvening, kMorning, kOtherChannel}, c.channel, c.moment, &offset),
              c.path);
    EXPECT_EQ(offset, c.offsetMs);
  }
}

TEST(RecordingTime, Texts) {
  RecordingName name;
  ASSERT_TRUE(ParseRecordingPath(kEvening, &name));
  EXPECT_EQ(BarTimeText(name, 612'400), "2010-03-06 00:00:12  10:12 / 20:00");
  EXPECT_EQ(WindowTimeText(name, 0, 0), "CH 02  2010-03-05 23:50:00");
  EXPECT_EQ(WindowTimeText(name, 1'000, -3), "CH 02  2010-03-05 23:50:01  ×1/8");
  EXPECT_EQ(FormatSpan(3 * 3600 + 5), "03:00:05");
}

}  // namespace

// The timeline panel: where times and channels lie, zoom and pan, clicks, the tooltip and the
// saved picture.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "timelinepanel.h"

namespace {

CoverageSpan span(int channel, int64_t start, int64_t end, RecordingKind kind, int recordings = 1) {
  CoverageSpan s;
  s.channel = channel;
  s.start = start;
  s.end = end;
  s.kind = kind;
  s.recordings.resize(size_t(recordings));
  return s;
}

// Channels 001 (regular 08:00-10:00, then a 10-s alarm at 12:00:00) and 005 (motion 09:00-09:02).
DayCoverage sampleDay() {
  DayCoverage day;
  day.year = 2024;
  day.month = 3;
  day.day = 5;
  day.spans = {span(0, 8 * 3600, 10 * 3600, RecordingKind::kRegular, 8), span(0, 12 * 3600, 12 * 3600 + 10, RecordingKind::kAlarm),
               span(4, 9 * 3600, 9 * 3600 + 120, RecordingKind::kMotion)};
  return day;
}

class TimelinePanelTest : public testing::Test {
 protected:
  TimelinePanelTest() {
    m_panel.SetDay(sampleDay(), "idea0 — 2024-03-05");
    m_panel.resize(56 + 960, m_panel.sizeHint().height());  // 100 seconds a pixel at the whole day
  }
  // The middle of channel row r (0-based row, not channel).
  static int rowY(int r) { return 20 + r * 14 + 7; }
  static int xOf(int64_t seconds) { return 56 + int(seconds / 90); }  // 86400 s over 960 px
  CTimelinePanel m_panel;
};

TEST_F(TimelinePanelTest, RowsAreTheChannelsWithSpansAndPixelsAreTimes) {
  EXPECT_EQ(m_panel.ChannelAt(rowY(0)), 0);
  EXPECT_EQ(m_panel.ChannelAt(rowY(1)), 4);
  EXPECT_EQ(m_panel.ChannelAt(5), -1);          // the ruler
  EXPECT_EQ(m_panel.ChannelAt(rowY(2)), -1);    // the legend
  EXPECT_EQ(m_panel.TimeAt(56), 0);
  EXPECT_EQ(m_panel.TimeAt(56 + 480), 43200);
  EXPECT_EQ(m_panel.TimeAt(10'000), 86399);     // clamped into the day
}

TEST_F(TimelinePanelTest, ZoomKeepsThePointedTimeAndStopsAtAMinute) {
  const int x = xOf(9 * 3600);
  const int64_t before = m_panel.TimeAt(x);
  m_panel.ZoomAt(x, 4.0);
  EXPECT_EQ(m_panel.ViewEnd() - m_panel.ViewStart(), 86400 / 4);
  EXPECT_NEAR(double(m_panel.TimeAt(x)), double(before), 30.0);
  for (int i = 0; i < 40; ++i) m_panel.ZoomAt(x, 4.0);
  EXPECT_EQ(m_panel.ViewEnd() - m_panel.ViewStart(), 60);
  for (int i = 0; i < 40; ++i) m_panel.ZoomAt(x, 0.25);
  EXPECT_EQ(m_panel.ViewStart(), 0);
  EXPECT_EQ(m_panel.ViewEnd(), 86400);
}

TEST_F(TimelinePanelTest, ClicksAskForAMomentAndDragsPan) {
  QSignalSpy channel(&m_panel, &CTimelinePanel::channelMomentClicked);
  QSignalSpy ruler(&m_panel, &CTimelinePanel::momentClicked);
  QTest::mouseClick(&m_panel, Qt::LeftButton, {}, QPoint(xOf(9 * 3600), rowY(1)));
  ASSERT_EQ(channel.count(), 1);
  EXPECT_EQ(channel[0][0].toInt(), 4);
  EXPECT_NEAR(double(channel[0][1].toLongLong()), 9 * 3600.0, 90.0);
  QTest::mouseClick(&m_panel, Qt::LeftButton, {}, QPoint(xOf(14 * 3600), 8));
  ASSERT_EQ(ruler.count(), 1);
  EXPECT_NEAR(double(ruler[0][0].toLongLong()), 14 * 3600.0, 90.0);

  // A drag to the left moves the view later and clicks nothing.
  m_panel.SetView(6 * 3600, 12 * 3600);
  QTest::mousePress(&m_panel, Qt::LeftButton, {}, QPoint(600, rowY(0)));
  QTest::mouseMove(&m_panel, QPoint(500, rowY(0)));
  QTest::mouseRelease(&m_panel, Qt::LeftButton, {}, QPoint(500, rowY(0)));
  EXPECT_GT(m_panel.ViewStart(), 6 * 3600);
  EXPECT_EQ(m_panel.ViewEnd() - m_panel.ViewStart(), 6 * 3600);
  EXPECT_EQ(channel.count(), 1);
}

TEST_F(TimelinePanelTest, TooltipNamesTheSpanEvenWhenNarrowerThanAPixel) {
  const QString regular = m_panel.SpanTextAt(QPoint(xOf(9 * 3600), rowY(0)));
  EXPECT_TRUE(regular.startsWith("CH 01  08:00:00 – 10:00:00")) << regular.toStdString();
  EXPECT_TRUE(regular.contains(" 8 ")) << regular.toStdString();
  // Ten seconds at 90 s a pixel.
  EXPECT_TRUE(m_panel.SpanTextAt(QPoint(xOf(12 * 3600), rowY(0))).contains("12:00:10"));
  EXPECT_EQ(m_panel.SpanTextAt(QPoint(xOf(15 * 3600), rowY(0))), "");
}

TEST_F(TimelinePanelTest, SavedPictureShowsTheWholeDayInTheKindsColours) {
  m_panel.SetView(8 * 3600, 8 * 3600 + 60);  // the saved picture is the whole day whatever the view
  QTemporaryDir dir;
  const QString path = dir.filePath("day.png");
  ASSERT_TRUE(m_panel.SavePicture(path));
  const QImage picture(path);
  ASSERT_FALSE(picture.isNull());
  const auto at = [&](int64_t seconds, int row) {
    const int x = 56 + int(seconds * (picture.width() - 56) / 86400);
    return picture.pixelColor(x, rowY(row)).name().toStdString();
  };
  EXPECT_EQ(at(9 * 3600, 0), "#3c8dde");           // regular: the accent
  EXPECT_EQ(at(9 * 3600 + 60, 1), "#e0a030");      // motion
  EXPECT_EQ(at(12 * 3600, 0), "#d9534f");          // a 10-s alarm is still a pixel
  EXPECT_NE(at(15 * 3600, 0), "#3c8dde");          // nothing recorded
}

}  // namespace

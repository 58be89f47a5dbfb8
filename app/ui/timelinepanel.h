// CTimelinePanel: a day at a glance — one row per channel with its recorded spans.
//
// The panel under the video grid shows the coverage of one day (catalog/coverage.h): a time
// ruler with hour ticks on top, one row per channel with a coloured bar per span (a colour per
// recording kind, explained by the legend at the bottom), and a cursor line at the picture time
// of the focused window. The mouse wheel zooms around the pointer from the whole day down to one
// minute; dragging pans. A click on a channel row asks for that channel at that moment
// (channelMomentClicked); a click on the ruler asks for that moment in every window
// (momentClicked). The tooltip over a span gives its times, kind and number of recordings.
//
// Times are seconds from the day's midnight on the clock the coverage was made with (the
// recorder's, or corrected by a clock offset). Texts come from the language files.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "catalog/coverage.h"

class CTimelinePanel : public QWidget {
  Q_OBJECT

 public:
  explicit CTimelinePanel(QWidget* parent = nullptr);

  // Shows day (its spans) under the title ("idea — 2024-03-05"); the view goes back to the
  // whole day and the cursor is hidden. Channels are the rows: those with a span, ascending.
  void SetDay(const DayCoverage& day, const QString& title);

  // The day shown (empty spans before the first SetDay).
  const DayCoverage& Day() const { return m_day; }

  // Puts the cursor line at seconds from midnight; a negative value hides it.
  void SetCursorTime(int64_t seconds);
  int64_t CursorTime() const { return m_cursor; }

  // The part of the day shown, in seconds from midnight: [start, end), at least a minute long,
  // inside the day. SetView clamps what it is given.
  void SetView(int64_t start, int64_t end);
  int64_t ViewStart() const { return m_viewStart; }
  int64_t ViewEnd() const { return m_viewEnd; }

  // Zooms by factor (> 1 in, < 1 out) keeping the time at x (a pixel of the panel) in place.
  void ZoomAt(int x, double factor);

  // The time under x, in seconds from midnight (clamped to the view); the channel of the row
  // under y (0..63), or -1 on the ruler, the legend or below the rows.
  int64_t TimeAt(int x) const;
  int ChannelAt(int y) const;

  // The tooltip text of the span under the point, or "" when there is none.
  QString SpanTextAt(const QPoint& point) const;

  // The whole day drawn at width x the panel's height for its rows, for a report.
  QImage DayPicture(int width = 1440) const;

  // Writes DayPicture() as a PNG file. Returns whether it was written.
  bool SavePicture(const QString& path) const;

  // The height the panel wants for its rows (ruler + one row per channel + legend).
  QSize sizeHint() const override;

 signals:
  // A click on the row of channel (0..63) at seconds from midnight.
  void channelMomentClicked(int channel, qint64 seconds);
  // A click on the ruler at seconds from midnight.
  void momentClicked(qint64 seconds);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Draws the panel into painter over size, showing [viewStart, viewEnd).
  void Draw(QPainter& painter, QSize size, int64_t viewStart, int64_t viewEnd) const;
  int RowCount() const;
  void UpdateDescription();

  DayCoverage m_day;
  QString m_title;
  std::vector<int> m_channels;  // the rows, ascending
  int64_t m_viewStart = 0;
  int64_t m_viewEnd = 86400;
  int64_t m_cursor = -1;
  bool m_pressed = false;
  bool m_dragged = false;
  QPoint m_pressAt;
  int64_t m_pressViewStart = 0;
};

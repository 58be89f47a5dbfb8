// CTimelinePanel: a day at a glance (see timelinepanel.h).
#include "timelinepanel.h"

#include <QEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "initlanguage.h"

namespace {

constexpr int64_t kDaySeconds = 86400;
constexpr int64_t kMinView = 60;     // the deepest zoom shows one minute
constexpr int kGutter = 56;          // channel names
constexpr int kRuler = 20;           // the time ruler
constexpr int kRow = 14;             // one channel
constexpr int kLegend = 20;          // title and legend
constexpr int kDragPixels = 4;       // a press that moves less is a click

// The program's look (the bar's art): backgrounds, glyph text and the accent.
const QColor kBackground("#22272D");
const QColor kRowBackground("#2E343B");
const QColor kRowAlternate("#2A3036");
const QColor kLine("#3E464F");
const QColor kText("#E6EAEE");
const QColor kDimText("#7A838C");
const QColor kCursor("#FFFFFF");

struct KindLook {
  RecordingKind kind;
  QColor colour;
  const char* key;  // language key of its legend word
};
const KindLook kKinds[] = {
    {RecordingKind::kRegular, QColor("#3C8DDE"), "TimelineRegular"},
    {RecordingKind::kMotion, QColor("#E0A030"), "TimelineMotion"},
    {RecordingKind::kAlarm, QColor("#D9534F"), "TimelineAlarm"},
    {RecordingKind::kTypeC, QColor("#8E6CC8"), "TimelineTypeC"},
    {RecordingKind::kTypeH, QColor("#4CAF7A"), "TimelineTypeH"},
    {RecordingKind::kDamaged, QColor("#7A838C"), "TimelineDamaged"},
};

const KindLook& look(RecordingKind kind) {
  for (const KindLook& k : kKinds) {
    if (k.kind == kind) return k;
  }
  return kKinds[0];
}

QString text(const char* key) { return CInitLanguage::Instance()->GetString(key); }

QString clock(int64_t seconds, bool withSeconds) {
  seconds = std::clamp<int64_t>(seconds, 0, kDaySeconds);
  const QString hm = QStringLiteral("%1:%2").arg(seconds / 3600, 2, 10, QChar('0')).arg(seconds / 60 % 60, 2, 10, QChar('0'));
  return withSeconds ? hm + QStringLiteral(":%1").arg(seconds % 60, 2, 10, QChar('0')) : hm;
}

// x of time t in a track of `width` pixels after the gutter showing [start, end).
double xOf(int64_t t, int64_t start, int64_t end, int width) {
  return kGutter + double(t - start) * (width - kGutter) / double(end - start);
}

// The ruler's step: the smallest of these that leaves 56 pixels between labels.
int64_t tickStep(int64_t span, int width) {
  static const int64_t steps[] = {5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600};
  for (int64_t s : steps) {
    if (double(s) * (width - kGutter) / double(span) >= 56) return s;
  }
  return 21600;
}

}  // namespace

CTimelinePanel::CTimelinePanel(QWidget* parent) : QWidget(parent) {
  setObjectName("TimelinePanel");
  setAccessibleName(text("Timeline"));
  setMouseTracking(true);
  setMinimumHeight(kRuler + kRow + kLegend);
  UpdateDescription();
}

void CTimelinePanel::SetDay(const DayCoverage& day, const QString& title) {
  m_day = day;
  m_title = title;
  m_channels.clear();
  for (const CoverageSpan& s : m_day.spans) {
    if (m_channels.empty() || m_channels.back() != s.channel) m_channels.push_back(s.channel);
  }
  std::sort(m_channels.begin(), m_channels.end());
  m_channels.erase(std::unique(m_channels.begin(), m_channels.end()), m_channels.end());
  m_viewStart = 0;
  m_viewEnd = kDaySeconds;
  m_cursor = -1;
  updateGeometry();
  UpdateDescription();
  update();
}

void CTimelinePanel::SetCursorTime(int64_t seconds) {
  if (seconds == m_cursor) return;
  m_cursor = seconds;
  update();
}

void CTimelinePanel::SetView(int64_t start, int64_t end) {
  int64_t span = std::clamp<int64_t>(end - start, kMinView, kDaySeconds);
  start = std::clamp<int64_t>(start, 0, kDaySeconds - span);
  m_viewStart = start;
  m_viewEnd = start + span;
  update();
}

void CTimelinePanel::ZoomAt(int x, double factor) {
  if (factor <= 0) return;
  const int64_t at = TimeAt(x);
  const double span = double(m_viewEnd - m_viewStart) / factor;
  const double share = width() > kGutter ? std::clamp(double(x - kGutter) / double(width() - kGutter), 0.0, 1.0) : 0.5;
  const int64_t start = at - int64_t(std::llround(span * share));
  SetView(start, start + int64_t(std::llround(span)));
}

int64_t CTimelinePanel::TimeAt(int x) const {
  const int track = std::max(1, width() - kGutter);
  const double share = std::clamp(double(x - kGutter) / double(track), 0.0, 1.0);
  return std::min<int64_t>(m_viewStart + int64_t(share * double(m_viewEnd - m_viewStart)), kDaySeconds - 1);
}

int CTimelinePanel::ChannelAt(int y) const {
  if (y < kRuler) return -1;
  const int row = (y - kRuler) / kRow;
  return row < int(m_channels.size()) ? m_channels[size_t(row)] : -1;
}

QString CTimelinePanel::SpanTextAt(const QPoint& point) const {
  const int channel = ChannelAt(point.y());
  if (channel < 0 || point.x() < kGutter) return {};
  const int64_t t = TimeAt(point.x());
  // A span narrower than a pixel still answers to the pixel it is drawn on.
  const int64_t slack = std::max<int64_t>(1, (m_viewEnd - m_viewStart) / std::max(1, width() - kGutter));
  for (const CoverageSpan& s : m_day.spans) {
    if (s.channel != channel || t + slack < s.start || t - slack >= s.end) continue;
    return QStringLiteral("CH %1  %2 – %3  %4  %5 %6")
        .arg(channel + 1, 2, 10, QChar('0'))
        .arg(clock(s.start, true), clock(s.end, true), text(look(s.kind).key))
        .arg(s.recordings.size())
        .arg(text("TimelineRecordings"));
  }
  return {};
}

int CTimelinePanel::RowCount() const { return std::max<int>(1, int(m_channels.size())); }

QSize CTimelinePanel::sizeHint() const { return {720, kRuler + RowCount() * kRow + kLegend}; }

QImage CTimelinePanel::DayPicture(int width) const {
  const QSize size(std::max(width, kGutter + 96), kRuler + RowCount() * kRow + kLegend);
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  Draw(painter, size, 0, kDaySeconds);
  return image;
}

bool CTimelinePanel::SavePicture(const QString& path) const { return DayPicture().save(path, "PNG"); }

void CTimelinePanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Draw(painter, size(), m_viewStart, m_viewEnd);
}

void CTimelinePanel::Draw(QPainter& painter, QSize size, int64_t viewStart, int64_t viewEnd) const {
  const int w = size.width(), h = size.height();
  painter.fillRect(0, 0, w, h, kBackground);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);

  // Rows, ruler lines, spans and cursor stay above the legend when the panel is kept lower
  // than its rows want.
  painter.setClipRect(0, 0, w, std::max(kRuler, h - kLegend));

  // Rows.
  for (int r = 0; r < RowCount(); ++r) {
    const int y = kRuler + r * kRow;
    painter.fillRect(kGutter, y, w - kGutter, kRow, r % 2 ? kRowAlternate : kRowBackground);
    if (r < int(m_channels.size())) {
      painter.setPen(kText);
      painter.drawText(QRect(4, y, kGutter - 8, kRow), Qt::AlignVCenter | Qt::AlignLeft,
                       QStringLiteral("CH %1").arg(m_channels[size_t(r)] + 1, 2, 10, QChar('0')));
    }
  }
  if (m_channels.empty()) {
    painter.setPen(kDimText);
    painter.drawText(QRect(kGutter, kRuler, w - kGutter, kRow), Qt::AlignCenter, text("TimelineEmpty"));
  }

  // Ruler: ticks and labels at a step that leaves room for them, lines down through the rows
  // under the spans.
  const int64_t step = tickStep(viewEnd - viewStart, w);
  const bool seconds = step < 60;
  for (int64_t t = (viewStart + step - 1) / step * step; t <= viewEnd; t += step) {
    const int x = int(std::lround(xOf(t, viewStart, viewEnd, w)));
    painter.setPen(kLine);
    painter.drawLine(x, kRuler - 4, x, kRuler + RowCount() * kRow - 1);
    if (x + 28 > w) continue;  // no label cut by the panel's edge
    painter.setPen(kText);
    painter.drawText(QRect(x - 28, 2, 56, kRuler - 6), Qt::AlignCenter, clock(t, seconds));
  }
  painter.setPen(kLine);
  painter.drawLine(kGutter, kRuler - 1, w, kRuler - 1);

  // Spans: at least a pixel wide, so a ten-second alarm stays visible at the whole day.
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (const CoverageSpan& s : m_day.spans) {
    const auto row = std::find(m_channels.begin(), m_channels.end(), s.channel) - m_channels.begin();
    const int64_t from = std::max(s.start, viewStart), to = std::min(s.end, viewEnd);
    if (to <= from) continue;
    const int x0 = int(std::floor(xOf(from, viewStart, viewEnd, w)));
    const int x1 = std::max(x0 + 1, int(std::ceil(xOf(to, viewStart, viewEnd, w))));
    const QRect bar(x0, kRuler + int(row) * kRow + 2, x1 - x0, kRow - 4);
    painter.fillRect(bar, look(s.kind).colour);
    if (s.kind == RecordingKind::kDamaged) painter.fillRect(bar, QBrush(kBackground, Qt::BDiagPattern));
  }

  // Cursor.
  if (m_cursor >= viewStart && m_cursor < viewEnd) {
    const int x = int(std::lround(xOf(m_cursor, viewStart, viewEnd, w)));
    painter.setPen(kCursor);
    painter.drawLine(x, 0, x, kRuler + RowCount() * kRow - 1);
  }

  // Title and legend.
  painter.setClipping(false);
  const int y = h - kLegend;
  painter.setPen(kText);
  painter.drawText(QRect(4, y, w / 3, kLegend), Qt::AlignVCenter | Qt::AlignLeft, m_title);
  int x = std::max(w / 3, 120);
  for (const KindLook& k : kKinds) {
    painter.fillRect(x, y + 5, 10, 10, k.colour);
    if (k.kind == RecordingKind::kDamaged) painter.fillRect(x, y + 5, 10, 10, QBrush(kBackground, Qt::BDiagPattern));
    const QString word = text(k.key);
    painter.setPen(kText);
    painter.drawText(QRect(x + 14, y, 200, kLegend), Qt::AlignVCenter | Qt::AlignLeft, word);
    x += 14 + painter.fontMetrics().horizontalAdvance(word) + 14;
  }
}

void CTimelinePanel::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0) ZoomAt(int(event->position().x()), std::pow(1.25, steps));
  event->accept();
}

void CTimelinePanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  m_pressed = true;
  m_dragged = false;
  m_pressAt = event->position().toPoint();
  m_pressViewStart = m_viewStart;
}

void CTimelinePanel::mouseMoveEvent(QMouseEvent* event) {
  if (!m_pressed) return;
  const int dx = event->position().toPoint().x() - m_pressAt.x();
  if (!m_dragged && std::abs(dx) < kDragPixels) return;
  m_dragged = true;
  const int64_t span = m_viewEnd - m_viewStart;
  const int64_t shift = int64_t(double(dx) * double(span) / double(std::max(1, width() - kGutter)));
  SetView(m_pressViewStart - shift, m_pressViewStart - shift + span);
}

void CTimelinePanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !m_pressed) return QWidget::mouseReleaseEvent(event);
  m_pressed = false;
  if (m_dragged) return;
  const QPoint at = event->position().toPoint();
  if (at.x() < kGutter) return;
  const int64_t t = TimeAt(at.x());
  if (at.y() < kRuler) {
    emit momentClicked(t);
    return;
  }
  const int channel = ChannelAt(at.y());
  if (channel >= 0) emit channelMomentClicked(channel, t);
}

bool CTimelinePanel::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = SpanTextAt(help->pos());
    if (tip.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(event);
}

void CTimelinePanel::UpdateDescription() {
  // For people who cannot see the bars: the spans as text.
  QStringList lines{m_title};
  for (const CoverageSpan& s : m_day.spans) {
    lines << QStringLiteral("CH %1 %2-%3 %4").arg(s.channel + 1, 2, 10, QChar('0')).arg(clock(s.start, true), clock(s.end, true), text(look(s.kind).key));
  }
  setAccessibleDescription(lines.join(QStringLiteral("; ")));
}

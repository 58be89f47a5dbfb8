#include "replayerslider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QtDebug>

#include <algorithm>
#include <cmath>

CReplayerSlider::CReplayerSlider(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::ClickFocus);
}

void CReplayerSlider::SetRange(int min, int max, bool redraw) {
  m_nMin = min;
  m_nMax = max;
  m_nPos = std::clamp(m_nPos, m_nMin, std::max(m_nMin, m_nMax));
  if (redraw) update();
}

void CReplayerSlider::SetPos(int pos) {
  m_nPos = std::clamp(pos, m_nMin, std::max(m_nMin, m_nMax));
  update();
}

namespace {
// Reads a picture; a null image when the file cannot be read.
QImage Load(const QString& file) {
  QImage image(file);
  return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Reads a picture and, when pressedFile is not empty, its pressed partner of the same size
// into *picture and *pressed; false (nothing changed, a warning in the log) when that fails.
bool LoadPair(const char* what, const QString& file, const QString& pressedFile, QImage* picture,
              QImage* pressed) {
  QImage a = Load(file);
  QImage b = pressedFile.isEmpty() ? QImage() : Load(pressedFile);
  if (a.isNull() || (!pressedFile.isEmpty() && b.size() != a.size())) {
    qWarning("slider: %s picture %s%s%s unusable", what, qPrintable(file),
             pressedFile.isEmpty() ? "" : " / ", qPrintable(pressedFile));
    return false;
  }
  *picture = a;
  *pressed = b;
  return true;
}
}  // namespace

bool CReplayerSlider::SetBitmapChannel(const QString& file, const QString& pressedFile) {
  if (!LoadPair("channel", file, pressedFile, &m_channel, &m_channelPressed)) return false;
  resize(m_channel.size());
  update();
  return true;
}

bool CReplayerSlider::SetBitmapThumb(const QString& file, const QString& pressedFile) {
  if (!LoadPair("thumb", file, pressedFile, &m_thumb, &m_thumbPressed)) return false;
  m_nWarnedWidth = -1;
  ThumbFits();
  update();
  return true;
}

void CReplayerSlider::Enable(bool on) {
  m_bEnable = on;
  if (!on && m_bDragging) {
    m_bDragging = false;
    releaseMouse();
  }
  update();
}

bool CReplayerSlider::ThumbFits() const {
  if (m_thumb.isNull()) return false;
  if (m_thumb.width() < width()) return true;
  if (m_nWarnedWidth != width()) {
    qWarning("slider: the thumb (%d pixels) is as wide as the slider (%d pixels) or wider; "
             "it is not used",
             m_thumb.width(), width());
    m_nWarnedWidth = width();
  }
  return false;
}

int CReplayerSlider::ThumbWidth() const { return ThumbFits() ? m_thumb.width() : 0; }

int CReplayerSlider::Pos2Pixel(int pos) const {
  const int tw = ThumbWidth();
  const int room = width() - tw;
  const int range = m_nMax - m_nMin;
  if (room <= 0 || range <= 0) return tw / 2;
  return static_cast<int>(static_cast<long long>(room) * (pos - m_nMin) / range) + tw / 2;
}

int CReplayerSlider::Pixel2Pos(int x) const {
  const int tw = ThumbWidth();
  const int room = width() - tw;
  if (room <= 0) return m_nMin;
  const double pos =
      m_nMin + static_cast<double>(x - tw / 2) / room * static_cast<double>(m_nMax - m_nMin);
  return static_cast<int>(std::trunc(pos));
}

int CReplayerSlider::Id() const { return objectName().toInt(); }

void CReplayerSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int w = width();
  const int centre = Pos2Pixel(m_nPos);
  // One channel picture from x0 to x1: drawn as it is, its last two columns stretched on.
  auto channel = [&](const QImage& picture, int x0, int x1) {
    if (picture.isNull() || x1 <= x0) return;
    painter.save();
    painter.setClipRect(QRect(x0, 0, x1 - x0, height()));
    painter.drawImage(0, 0, picture);
    const int tail = std::min(2, picture.width());
    for (int x = picture.width(); x < x1; x += tail)
      painter.drawImage(QPoint(x, 0), picture, QRect(picture.width() - tail, 0, tail, picture.height()));
    painter.restore();
  };
  if (m_channelPressed.isNull()) {
    channel(m_channel, 0, w);
  } else {
    channel(m_channelPressed, 0, centre);
    channel(m_channel, centre, w);
  }
  if (ThumbFits()) {
    const QImage& thumb = m_bDragging && !m_thumbPressed.isNull() ? m_thumbPressed : m_thumb;
    painter.drawImage(centre - thumb.width() / 2, (height() - thumb.height()) / 2, thumb);
  }
}

void CReplayerSlider::mousePressEvent(QMouseEvent* event) {
  if (!m_bEnable || event->button() != Qt::LeftButton) return;
  grabMouse();
  setFocus(Qt::MouseFocusReason);
  m_bDragging = true;
  const int x = static_cast<int>(event->position().x());
  const int centre = Pos2Pixel(m_nPos);
  const int half = ThumbWidth() / 2;
  m_nGrabOffset = std::abs(x - centre) > half ? 0 : x - centre;
  DragTo(x);
  update();
}

void CReplayerSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bEnable || !m_bDragging) return;
  DragTo(static_cast<int>(event->position().x()));
}

void CReplayerSlider::DragTo(int cursor) {
  const int tw = ThumbWidth();
  const int x = std::clamp(cursor - m_nGrabOffset, tw / 2, std::max(tw / 2, width() - tw / 2));
  if (x == Pos2Pixel(m_nPos)) return;
  m_nPos = std::clamp(Pixel2Pos(x), m_nMin, std::max(m_nMin, m_nMax));
  update();
  emit sliderMoving(Id(), m_nPos);
}

void CReplayerSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_bEnable || !m_bDragging || event->button() != Qt::LeftButton) return;
  releaseMouse();
  m_bDragging = false;
  update();
  emit sliderMoved(Id(), m_nPos);
}

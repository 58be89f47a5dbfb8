// One video window of the grid: thread-safe frame entry and painting.
#include "lumenpane/videopane.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainterPath>

#include <cstdlib>

namespace lumenpane {
namespace {

constexpr int kTextMargin = 4;  // distance of the status text and the sound mark from the edge
constexpr int kMarkSize = 14;   // side of the sound mark's square

// A rectangle of the given size centred in area.
QRect centred(QSize size, const QRect& area) {
  return QRect(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
               size.width(), size.height());
}

// A loudspeaker with two sound waves, drawn in the square box.
void drawSpeaker(QPainter& painter, const QRect& box) {
  const qreal x = box.x(), y = box.y(), s = box.width();
  QPainterPath speaker;
  speaker.moveTo(x, y + s * 0.35);
  speaker.lineTo(x + s * 0.25, y + s * 0.35);
  speaker.lineTo(x + s * 0.5, y + s * 0.1);
  speaker.lineTo(x + s * 0.5, y + s * 0.9);
  speaker.lineTo(x + s * 0.25, y + s * 0.65);
  speaker.lineTo(x, y + s * 0.65);
  speaker.closeSubpath();
  painter.fillPath(speaker, painter.pen().color());
  painter.drawArc(QRectF(x + s * 0.3, y + s * 0.3, s * 0.4, s * 0.4), -50 * 16, 100 * 16);
  painter.drawArc(QRectF(x + s * 0.2, y + s * 0.1, s * 0.8, s * 0.8), -50 * 16, 100 * 16);
}

}  // namespace

CVideoPane::CVideoPane(int index, QWidget* parent) : QWidget(parent), m_nIndex(index), m_bRepaintQueued(false) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(0, 0);
}

void CVideoPane::presentFrame(QImage frame) {
  {
    QMutexLocker lock(&m_mutex);
    m_frame = std::move(frame);
  }
  // Only the first frame after a repaint posts a request; later ones just replace the picture.
  if (!m_bRepaintQueued.exchange(true)) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          m_bRepaintQueued = false;
          update();
        },
        Qt::QueuedConnection);
  }
}

QSize CVideoPane::targetSize() const {
  QMutexLocker lock(&m_mutex);
  return m_targetSize;
}

QSize CVideoPane::fitSize(QSize source) const {
  const QSize target = targetSize();
  if (source.isEmpty() || target.isEmpty()) return source;
  return source.scaled(target, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

bool CVideoPane::hasFrame() const {
  QMutexLocker lock(&m_mutex);
  return !m_frame.isNull();
}

void CVideoPane::setStatusText(const QString& text) { setAndRepaint(m_strStatus, text); }
void CVideoPane::setTimeLabel(const QString& text) { setAndRepaint(m_strTime, text); }
void CVideoPane::setSoundMark(bool on) { setAndRepaint(m_bSoundMark, on); }
void CVideoPane::setCaption(const QString& caption) { setAndRepaint(m_strCaption, caption); }
void CVideoPane::setFocusFrame(bool focused) { setAndRepaint(m_bFocused, focused); }
void CVideoPane::setStretch(bool stretch) { setAndRepaint(m_bStretch, stretch); }

void CVideoPane::setLogo(const QImage& logo) {
  m_logo = logo;
  update();
}

QColor CVideoPane::focusColor() { return QColor(40, 220, 60); }
QColor CVideoPane::plainColor() { return QColor(60, 60, 60); }

QRect CVideoPane::pictureRect() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }

void CVideoPane::paintEvent(QPaintEvent*) {
  QImage frame;
  {
    QMutexLocker lock(&m_mutex);
    frame = m_frame;  // shared, not copied: the engine's next frame is a new image
  }
  QPainter painter(this);
  const QRect area = pictureRect();
  painter.fillRect(rect(), m_bFocused ? focusColor() : plainColor());
  if (area.isEmpty()) return;
  painter.fillRect(area, Qt::black);
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!frame.isNull()) {
    QSize size = m_bStretch ? area.size() : frame.size().scaled(area.size(), Qt::KeepAspectRatio);
    // The engine makes pictures at the size the pane asked for, at times a pixel narrower:
    // such a picture is drawn as it is, since scaling it by a pixel would blur every line.
    if (std::abs(size.width() - frame.width()) <= 1 && std::abs(size.height() - frame.height()) <= 1)
      size = frame.size();
    painter.drawImage(centred(size, area), frame);
  } else if (!m_logo.isNull()) {
    QSize size = m_logo.size();
    if (size.width() > area.width() || size.height() > area.height())
      size.scale(area.size(), Qt::KeepAspectRatio);
    painter.drawImage(centred(size, area), m_logo);
  } else if (!m_strCaption.isEmpty()) {
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(area, Qt::AlignCenter, m_strCaption);
  }
  paintOverlays(painter, area);
}

void CVideoPane::paintOverlays(QPainter& painter, const QRect& area) const {
  const QRect inner = area.adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin);
  if (!m_strStatus.trimmed().isEmpty()) {
    // A dark shadow keeps the text readable on any picture.
    painter.setPen(Qt::black);
    painter.drawText(inner.translated(1, 1), Qt::AlignLeft | Qt::AlignTop, m_strStatus);
    painter.setPen(Qt::white);
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop, m_strStatus);
  }
  if (!m_strTime.isEmpty()) {
    // White on a dark strip fitted to the text: readable on any picture, hiding little of it.
    const QRect text = painter.fontMetrics().boundingRect(m_strTime).adjusted(-3, -1, 3, 1);
    QRect strip(inner.left(), inner.bottom() + 1 - text.height(), text.width(), text.height());
    strip = strip.intersected(area);
    painter.fillRect(strip, QColor(0, 0, 0, 170));
    painter.setPen(Qt::white);
    painter.drawText(strip, Qt::AlignCenter, m_strTime);
  }
  if (m_bSoundMark) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 210, 0), 1.5));
    drawSpeaker(painter, QRect(inner.right() + 1 - kMarkSize, inner.top(), kMarkSize, kMarkSize));
  }
}

void CVideoPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize size = (QSizeF(pictureRect().size().expandedTo(QSize(0, 0))) * devicePixelRatioF()).toSize();
  QMutexLocker lock(&m_mutex);
  m_targetSize = size;
}

void CVideoPane::mousePressEvent(QMouseEvent* event) {
  event->accept();
  emit pressed(m_nIndex);
}

void CVideoPane::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  emit pressed(m_nIndex);
  if (event->button() == Qt::LeftButton) emit doubleClicked(m_nIndex);
}

void CVideoPane::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  emit contextMenuRequested(m_nIndex, event->globalPos());
}

}  // namespace lumenpane

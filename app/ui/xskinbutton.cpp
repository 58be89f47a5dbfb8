#include "xskinbutton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

#include <algorithm>

CxSkinButton::CxSkinButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
}

void CxSkinButton::SetSkin(const QPixmap& normal, const QPixmap& pressed, const QPixmap& over,
                           const QPixmap& disabled, int borderStyle, int focusMargin,
                           bool hand) {
  m_normal = normal;
  m_pressed = pressed;
  m_over = over;
  m_disabled = disabled;
  m_nBorder = std::clamp(borderStyle, 0, 2);
  m_nFocusMargin = std::max(focusMargin, 0);
  if (hand) setCursor(Qt::PointingHandCursor);
  else unsetCursor();
  update();
}

int CxSkinButton::ShownPicture() const {
  if (!isEnabled()) return 3;
  if (isDown()) return 1;
  if (m_bOver && !m_over.isNull()) return 2;
  return 0;
}

QSize CxSkinButton::sizeHint() const {
  return m_normal.isNull() ? QSize(28, 28) : m_normal.size() / m_normal.devicePixelRatio();
}

void CxSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect r = rect();
  const int shown = ShownPicture();
  const QPixmap* pictures[] = {&m_normal, &m_pressed, &m_over, &m_disabled};
  const QPixmap& picture = *pictures[shown];
  if (picture.isNull()) painter.fillRect(r, palette().button());
  else painter.drawPixmap(0, 0, picture);
  if (m_nBorder > 0) qDrawWinButton(&painter, r, palette(), shown == 1);
  if (hasFocus() && m_nFocusMargin > 0 && shown != 3) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = r.adjusted(m_nFocusMargin, m_nFocusMargin, -m_nFocusMargin, -m_nFocusMargin);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
  if (text().isEmpty()) return;
  if (shown == 3) {  // embossed: highlight one pixel down-right, then the grey text
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(r.translated(1, 1), Qt::AlignCenter, text());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::ButtonText));
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
  }
  painter.drawText(r, Qt::AlignCenter, text());
}

void CxSkinButton::enterEvent(QEnterEvent* event) {
  m_bOver = true;
  update();
  QAbstractButton::enterEvent(event);
}

void CxSkinButton::leaveEvent(QEvent* event) {
  m_bOver = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void CxSkinButton::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bOver && rect().contains(event->position().toPoint())) {
    m_bOver = true;
    update();
  }
  QAbstractButton::mouseMoveEvent(event);
}

void CxSkinButton::mousePressEvent(QMouseEvent* event) {
  m_bOver = false;  // pressing ends the mouse-over look until the mouse moves again
  QAbstractButton::mousePressEvent(event);
}

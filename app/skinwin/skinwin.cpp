// The painted window frame: painting, the window's shape, the mouse on the frame, the system
// menu.
#include "skinwin.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace skinwin {
namespace {

// The window edges a border hit code moves.
Qt::Edges EdgesOf(int code) {
  switch (code) {
    case kHitLeft: return Qt::LeftEdge;
    case kHitRight: return Qt::RightEdge;
    case kHitTop: return Qt::TopEdge;
    case kHitBottom: return Qt::BottomEdge;
    case kHitTopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case kHitTopRight: return Qt::TopEdge | Qt::RightEdge;
    case kHitBottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case kHitBottomRight: return Qt::BottomEdge | Qt::RightEdge;
    default: return {};
  }
}

Qt::CursorShape CursorOf(int code) {
  switch (code) {
    case kHitLeft:
    case kHitRight: return Qt::SizeHorCursor;
    case kHitTop:
    case kHitBottom: return Qt::SizeVerCursor;
    case kHitTopLeft:
    case kHitBottomRight: return Qt::SizeFDiagCursor;
    default: return Qt::SizeBDiagCursor;  // top-right, bottom-left
  }
}

// A copy of picture whose pixels of colour key are fully transparent.
QImage Keyed(const QImage& picture, QColor key) {
  if (picture.isNull()) return {};
  QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  const QRgb k = key.rgb();
  for (int y = 0; y < image.height(); ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((line[x] | 0xFF000000u) == k) line[x] = 0;
  }
  return image;
}

}  // namespace

CSkinWin::CSkinWin() = default;

CSkinWin::~CSkinWin() {
  Release();
  delete m_menu;
}

bool CSkinWin::LoadTheme(const std::string& path) {
  m_loaded = false;
  m_keyedButtons = {};
  m_error.clear();
  if (!skinwin::LoadTheme(path, &m_theme, &m_error)) {
    m_theme = SkinTheme();
    return false;
  }
  for (int slot = 0; slot < kSlotCount; ++slot)
    m_keyedButtons[slot] = m_theme.usesTran ? Keyed(m_theme.buttons[slot].picture, m_theme.transColor)
                                            : m_theme.buttons[slot].picture;
  m_loaded = true;
  if (m_window) {
    UpdateShape();
    m_window->update();
  }
  return true;
}

bool CSkinWin::InstallSkin(QWidget* window) {
  if (!window || !window->isWindow() || !m_loaded) return false;
  Release();
  m_window = window;

  const Qt::WindowFlags flags = window->windowFlags();
  m_thickFrame = window->minimumSize() != window->maximumSize() &&
                 !flags.testFlag(Qt::MSWindowsFixedSizeDialogHint);
  m_minBox = flags.testFlag(Qt::WindowMinimizeButtonHint);
  m_maxBox = flags.testFlag(Qt::WindowMaximizeButtonHint);
  m_border = !flags.testFlag(Qt::FramelessWindowHint);
  m_state = kNormal;
  m_active = window->isActiveWindow();
  m_pressed = m_hover = m_downCode = m_dragCode = kHitNone;

  // The frame is ours now: no frame and no buttons from the platform.
  const bool visible = window->isVisible();
  window->setWindowFlags((flags | Qt::FramelessWindowHint) &
                         ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                           Qt::WindowSystemMenuHint));

  const QSize client = window->size();
  if (m_border) {
    const int lw = m_theme.leftWidth, th = m_theme.titleHeight;
    window->setContentsMargins(lw, th, m_theme.rightWidth, m_theme.bottomHeight);
    if (!window->layout()) {
      for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow()) child->move(child->pos() + QPoint(lw, th));
    }
    const QSize framed = (client + QSize(m_theme.FrameWidth(), m_theme.FrameHeight()))
                             .expandedTo(m_theme.MinimumSize());
    if (m_thickFrame) {
      window->setMinimumSize(window->minimumSize().expandedTo(m_theme.MinimumSize()));
      window->resize(framed);
    } else {
      window->setFixedSize(framed);
    }
  }
  window->setMouseTracking(true);
  window->installEventFilter(this);
  // A border cursor must not stay on when the mouse goes from the border straight into a
  // child: the children tell when the mouse enters them.
  for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    child->installEventFilter(this);
  UpdateShape();
  if (visible) window->show();
  window->update();
  return true;
}

void CSkinWin::Release() {
  if (!m_window) return;
  m_window->removeEventFilter(this);
  for (QWidget* child : m_window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    child->removeEventFilter(this);
  if (m_cursorSet) m_window->unsetCursor();
  m_cursorSet = false;
  m_window = nullptr;
}

int CSkinWin::IconSize() const {
  const QStyle* style = m_window ? m_window->style() : QApplication::style();
  return style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_window);
}

int CSkinWin::HitTest(QPoint p) const {
  if (!m_window || !m_loaded) return kHitNone;
  return skinwin::HitTest(m_theme, m_window->size(), p, m_thickFrame, m_minBox, m_maxBox,
                          IconSize());
}

// ---- Painting -------------------------------------------------------------------------------

void CSkinWin::DrawFrameSide(QPainter& p, const QImage& picture, const SliceMetrics& m,
                             bool vertical, QPoint at, int length, int thickness) const {
  // The active look is the first half (left for vertical pictures, upper for horizontal ones).
  const int half = m_active ? 0 : thickness;
  for (const Slice& s : ThreeSlices(m, length)) {
    if (vertical)
      p.drawImage(QRect(at.x(), at.y() + s.dst, thickness, s.length), picture,
                  QRect(half, s.src, thickness, s.length));
    else
      p.drawImage(QRect(at.x() + s.dst, at.y(), s.length, thickness), picture,
                  QRect(s.src, half, s.length, thickness));
  }
}

QImage CSkinWin::ComposeTitleBar(int w, bool buttons) const {
  const SkinTheme& t = m_theme;
  QImage bar(std::max(w, 1), std::max(t.titleHeight, 1), QImage::Format_ARGB32);
  bar.fill(t.transColor);
  if (!m_window) return bar;
  const int h = m_window->height();
  QPainter p(&bar);
  DrawFrameSide(p, t.top, t.topSlices, false, QPoint(t.leftWidth, 0), w - t.leftWidth - t.rightWidth,
                t.titleHeight);
  DrawFrameSide(p, t.left, t.leftSlices, true, QPoint(0, 0), h, t.leftWidth);
  DrawFrameSide(p, t.right, t.rightSlices, true, QPoint(w - t.rightWidth, 0), h, t.rightWidth);
  if (!buttons) return bar;

  auto drawButton = [&](ButtonSlot slot, int code, ButtonSlot place) {
    const QRect r = t.ButtonRect(place, w);
    if (r.isEmpty() || m_keyedButtons[slot].isNull()) return;
    const int state = m_pressed == code ? 1 : m_hover == code ? 2 : 0;
    p.drawImage(r.topLeft(), m_keyedButtons[slot], t.ButtonState(slot, state));
  };
  drawButton(kSlotClose, kHitClose, kSlotClose);
  if (m_maxBox) {
    const bool restore = m_state == kMaximized && !m_keyedButtons[kSlotRestore].isNull();
    drawButton(restore ? kSlotRestore : kSlotMaximize, kHitMaxButton, kSlotMaximize);
  }
  if (m_minBox) drawButton(kSlotMinimize, kHitMinButton, kSlotMinimize);

  const int icon = IconSize();
  const QIcon windowIcon = m_window->windowIcon();
  if (!windowIcon.isNull()) windowIcon.paint(&p, QRect(t.leftWidth, 5, icon, icon));

  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  p.setFont(font);
  p.setPen(m_active ? t.titleText : t.inactiveTitleText);
  const QRect text(QPoint(t.textShift, t.textShiftVert),
                   QPoint(w - (t.topSlices.length - t.topSlices.tailStart) - 1, t.titleHeight - 1));
  const QString title =
      QFontMetrics(font).elidedText(m_window->windowTitle(), Qt::ElideRight, std::max(text.width(), 0));
  p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
  return bar;
}

void CSkinWin::Paint(QPainter& p) const {
  const SkinTheme& t = m_theme;
  const int w = m_window->width(), h = m_window->height();
  const QRect client(t.leftWidth, t.titleHeight, w - t.FrameWidth(), h - t.FrameHeight());
  if (!m_border) {
    p.drawTiledPixmap(m_window->rect(), QPixmap::fromImage(t.repeate));
    return;
  }
  if (client.isValid()) p.drawTiledPixmap(client, QPixmap::fromImage(t.repeate));
  p.save();
  p.setClipRect(0, t.titleHeight, w, h - t.titleHeight);
  DrawFrameSide(p, t.left, t.leftSlices, true, QPoint(0, 0), h, t.leftWidth);
  DrawFrameSide(p, t.right, t.rightSlices, true, QPoint(w - t.rightWidth, 0), h, t.rightWidth);
  DrawFrameSide(p, t.bottom, t.bottomSlices, false, QPoint(t.leftWidth, h - t.bottomHeight),
                w - t.FrameWidth(), t.bottomHeight);
  p.restore();
  p.drawImage(0, 0, ComposeTitleBar(w, true));
}

void CSkinWin::UpdateShape() {
  if (!m_window || !m_border) return;
  if (!m_theme.usesTran) {
    m_window->clearMask();
    return;
  }
  const int w = m_window->width(), h = m_window->height();
  const QImage bar = ComposeTitleBar(w, false);
  // The bitmap's set pixels are those of the transparent colour; its region is the rest.
  const QRegion title(QBitmap::fromImage(bar.createMaskFromColor(m_theme.transColor.rgb(),
                                                                 Qt::MaskInColor)));
  m_window->setMask(QRegion(0, m_theme.titleHeight, w, h - m_theme.titleHeight).xored(title));
}

// ---- Mouse ------------------------------------------------------------------------------------

void CSkinWin::SetHover(int code) {
  if (code == m_hover) return;
  m_hover = code;
  m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
}

void CSkinWin::UpdateCursor(int code) {
  if (IsBorderHit(code)) {
    m_window->setCursor(CursorOf(code));
    m_cursorSet = true;
  } else if (m_cursorSet) {
    m_window->unsetCursor();
    m_cursorSet = false;
  }
}

void CSkinWin::StartDrag(int code, QPoint globalPos) {
  QWindow* handle = m_window->windowHandle();
  const bool system = handle && (code == kHitCaption ? handle->startSystemMove()
                                                     : handle->startSystemResize(EdgesOf(code)));
  if (system) return;
  m_dragCode = code;
  m_dragStart = globalPos;
  m_dragRect = m_window->geometry();
}

void CSkinWin::DragTo(QPoint globalPos) {
  const QPoint d = globalPos - m_dragStart;
  QRect r = m_dragRect;
  if (m_dragCode == kHitCaption) {
    m_window->move(m_window->pos() + (r.topLeft() + d - m_window->geometry().topLeft()));
    return;
  }
  const Qt::Edges edges = EdgesOf(m_dragCode);
  const QSize min = m_window->minimumSize(), max = m_window->maximumSize();
  if (edges & Qt::LeftEdge) r.setLeft(std::clamp(r.left() + d.x(), r.right() - max.width() + 1, r.right() - min.width() + 1));
  if (edges & Qt::RightEdge) r.setRight(std::clamp(r.right() + d.x(), r.left() + min.width() - 1, r.left() + max.width() - 1));
  if (edges & Qt::TopEdge) r.setTop(std::clamp(r.top() + d.y(), r.bottom() - max.height() + 1, r.bottom() - min.height() + 1));
  if (edges & Qt::BottomEdge) r.setBottom(std::clamp(r.bottom() + d.y(), r.top() + min.height() - 1, r.top() + max.height() - 1));
  m_window->setGeometry(r);
}

bool CSkinWin::MouseMove(QMouseEvent* e) {
  if (m_dragCode != kHitNone) {
    DragTo(e->globalPosition().toPoint());
    return true;
  }
  const int code = HitTest(e->position().toPoint());
  UpdateCursor(code);
  // While the left button is held on a caption button, it shows pressed as long as the mouse
  // stays on it.
  const bool held = (e->buttons() & Qt::LeftButton) && code == m_downCode && m_downCode != kHitNone;
  const int pressed = held ? code : kHitNone;
  if (pressed != m_pressed) {
    m_pressed = pressed;
    m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
  }
  SetHover(code);
  return code != kHitClient;
}

bool CSkinWin::MousePress(QMouseEvent* e) {
  const int code = HitTest(e->position().toPoint());
  if (code == kHitClient || code == kHitNone) return false;
  if (e->button() == Qt::RightButton) {
    if (code == kHitCaption) ShowSystemMenu(e->globalPosition().toPoint());
    return true;
  }
  if (e->button() != Qt::LeftButton) return true;
  UpdateCursor(code);
  m_pressed = m_hover = m_downCode = code;
  m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
  if (IsBorderHit(code) || (code == kHitCaption && m_state != kMaximized)) {
    StartDrag(code, e->globalPosition().toPoint());
  } else if (code == kHitSysMenu) {
    m_pressed = m_downCode = kHitNone;
    ShowSystemMenu(e->globalPosition().toPoint());
  }
  return true;
}

bool CSkinWin::MouseRelease(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return HitTest(e->position().toPoint()) != kHitClient;
  const int code = HitTest(e->position().toPoint());
  const int down = m_downCode;
  const bool dragged = m_dragCode != kHitNone;
  m_downCode = m_dragCode = kHitNone;
  if (m_pressed != kHitNone) {
    m_pressed = kHitNone;
    m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
  }
  if (dragged || down == kHitNone) return code != kHitClient;
  if (code != down) return true;  // released away from where it went down: nothing happens
  switch (code) {
    case kHitClose:
      m_window->close();
      return true;
    case kHitMinButton:
      Minimize();
      break;
    case kHitMaxButton:
      if (m_state == kMaximized)
        Restore();
      else
        Maximize();
      break;
    default: return true;
  }
  m_pressed = m_hover = kHitNone;
  m_window->update();
  return true;
}

bool CSkinWin::eventFilter(QObject* watched, QEvent* event) {
  if (!m_window) return false;
  if (watched != m_window) {
    if (event->type() == QEvent::Enter) {
      UpdateCursor(kHitClient);
      SetHover(kHitNone);
    }
    return false;
  }
  switch (event->type()) {
    case QEvent::Paint: {
      QPainter p(m_window);
      Paint(p);
      return false;  // the window paints its own things over the skin
    }
    case QEvent::Resize:
      UpdateShape();
      m_window->update();
      return false;
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ActivationChange:
      m_active = m_window->isActiveWindow();
      UpdateShape();
      m_window->update();
      return false;
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
      m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
      return false;
    case QEvent::WindowStateChange:
      if (m_state == kMinimized && !(m_window->windowState() & Qt::WindowMinimized)) {
        m_state = m_stateBeforeMin;
        m_window->update();
      }
      return false;
    case QEvent::ChildAdded: {
      auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
      if (child && !child->isWindow()) child->installEventFilter(this);
      return false;
    }
    case QEvent::MouseMove: return MouseMove(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonPress: return MousePress(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonRelease: return MouseRelease(static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonDblClick: {
      auto* e = static_cast<QMouseEvent*>(event);
      const int code = HitTest(e->position().toPoint());
      if (code == kHitClient) return false;
      if (e->button() == Qt::LeftButton && code == kHitCaption && m_thickFrame) {
        if (m_state == kMaximized)
          Restore();
        else
          Maximize();
        m_pressed = m_hover = m_downCode = kHitNone;
        m_window->update();
      }
      return true;
    }
    case QEvent::Leave:
      if (m_dragCode == kHitNone) {
        UpdateCursor(kHitNone);
        SetHover(kHitNone);
        if (m_pressed != kHitNone) {
          m_pressed = kHitNone;
          m_window->update(0, 0, m_window->width(), m_theme.titleHeight);
        }
      }
      return false;
    default: return false;
  }
}

// ---- Window state ---------------------------------------------------------------------------

void CSkinWin::Maximize() {
  if (!m_window || m_state == kMaximized) return;
  m_normalRect = m_window->geometry();
  m_state = kMaximized;
  const QScreen* screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
  if (screen) m_window->setGeometry(screen->availableGeometry());
  m_window->update();
}

void CSkinWin::Restore() {
  if (!m_window) return;
  if (m_state == kMaximized) {
    m_window->setGeometry(m_normalRect);
    m_state = kNormal;
  } else if (m_state == kMinimized) {
    m_state = m_stateBeforeMin;
    m_window->showNormal();
  }
  m_window->update();
}

void CSkinWin::Minimize() {
  if (!m_window || m_state == kMinimized) return;
  m_stateBeforeMin = m_state;
  m_state = kMinimized;
  m_window->showMinimized();
}

// ---- System menu ------------------------------------------------------------------------------

QMenu* CSkinWin::SystemMenu() {
  if (m_menu) return m_menu;
  m_menu = new QMenu;
  m_restoreAction = m_menu->addAction(QStringLiteral("Restore"), this, [this] { Restore(); });
  m_minimizeAction = m_menu->addAction(QStringLiteral("Minimize"), this, [this] { Minimize(); });
  m_maximizeAction = m_menu->addAction(QStringLiteral("Maximize"), this, [this] { Maximize(); });
  m_menu->addSeparator();
  m_closeAction = m_menu->addAction(QStringLiteral("Close"), this, [this] {
    if (m_window) m_window->close();
  });
  return m_menu;
}

void CSkinWin::SetSystemMenuTexts(const QString& restore, const QString& minimize,
                                  const QString& maximize, const QString& close) {
  SystemMenu();
  m_restoreAction->setText(restore);
  m_minimizeAction->setText(minimize);
  m_maximizeAction->setText(maximize);
  m_closeAction->setText(close);
}

void CSkinWin::AddSystemMenuAction(QAction* action) {
  QMenu* menu = SystemMenu();
  if (!m_extraSeparator) m_extraSeparator = menu->addSeparator();
  menu->addAction(action);
}

void CSkinWin::ShowSystemMenu(QPoint globalPos) {
  QMenu* menu = SystemMenu();
  m_restoreAction->setEnabled(m_state != kNormal);
  m_minimizeAction->setEnabled(m_minBox && m_state != kMinimized);
  m_maximizeAction->setEnabled(m_maxBox && m_thickFrame && m_state != kMaximized);
  menu->popup(globalPos);
}

}  // namespace skinwin

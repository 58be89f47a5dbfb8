// CVideoWindow: layouts, focus, display modes and the per-window settings of the grid.
#include "lumenpane/videowindow.h"

#include "profile/profile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>

namespace lumenpane {

CVideoWindow::CVideoWindow(QWidget* parent) : QWidget(parent), m_texts(std::make_unique<profile::Document>()) {
  setAutoFillBackground(false);
  for (int i = 0; i < kPaneCount; ++i) {
    auto* pane = new CVideoPane(i, this);
    connect(pane, &CVideoPane::pressed, this, [this](int wnd) { SetCurWnd(wnd); });
    connect(pane, &CVideoPane::doubleClicked, this, &CVideoWindow::wndDoubleClicked);
    connect(pane, &CVideoPane::contextMenuRequested, this, [this](int wnd, QPoint globalPos) {
      SetCurWnd(wnd);
      emit contextMenuRequested(wnd, globalPos);
    });
    m_panes[i] = pane;
  }
  m_panes[m_nCurWnd]->setFocusFrame(true);
  refreshCaptions();
  relayout();
}

CVideoWindow::~CVideoWindow() = default;

bool CVideoWindow::SetWndCount(int n) {
  if (!isValidWndCount(n)) return false;
  const bool changed = n != m_nCount;
  m_nCount = n;
  m_mode = kGridMode;
  relayout();
  if (m_nCurWnd >= n) SetCurWnd(0);
  if (changed) emit layoutChanged(n);
  return true;
}

bool CVideoWindow::SetWndStatus(int wnd, const QString& text) {
  if (!validWnd(wnd)) return false;
  m_panes[wnd]->setStatusText(text);
  return true;
}

bool CVideoWindow::SetWndMark(int wnd, int kind, short flag) {
  if (!validWnd(wnd) || kind != kMarkSound) return false;
  m_panes[wnd]->setSoundMark(flag != 0);
  return true;
}

void CVideoWindow::SetDisplaySwitch(bool full) {
  const DisplayMode mode = full ? kFullMode : kGridMode;
  if (mode == m_mode) return;
  m_mode = mode;
  relayout();
}

void CVideoWindow::GetDisplayState(short* mode, short* count) const {
  if (mode) *mode = m_mode;
  if (count) *count = short(m_nCount);
}

bool CVideoWindow::SetCurWnd(int wnd) {
  if (wnd < 0 || wnd >= m_nCount) return false;
  if (wnd == m_nCurWnd) return true;
  m_panes[m_nCurWnd]->setFocusFrame(false);
  m_nCurWnd = wnd;
  m_panes[wnd]->setFocusFrame(true);
  if (m_mode == kFullMode) relayout();
  emit curWndChanged(wnd);
  return true;
}

CVideoPane* CVideoWindow::GetWndHandle(int wnd) const { return validWnd(wnd) ? m_panes[wnd] : nullptr; }

bool CVideoWindow::SetLanguageFile(const QString& path) {
  bool loaded = false;
  *m_texts = profile::Document::Read(path.toStdString(), &loaded);
  refreshCaptions();
  return loaded;
}

bool CVideoWindow::SetMode(int kind, bool on) {
  switch (kind) {
    case kModeCaptions:
      m_bCaptions = on;
      refreshCaptions();
      return true;
    case kModeStretch:
      for (CVideoPane* pane : m_panes) pane->setStretch(on);
      return true;
    default:
      return false;
  }
}

bool CVideoWindow::ClearWnd(int wnd) {
  if (!validWnd(wnd)) return false;
  m_panes[wnd]->clearFrame();
  return true;
}

bool CVideoWindow::SetWndLogo(int wnd, const QString& path) {
  if (!validWnd(wnd)) return false;
  const QImage logo = logoImage(path);
  m_panes[wnd]->setLogo(logo);
  return !logo.isNull();
}

QImage CVideoWindow::logoImage(const QString& path) {
  // The main window sets the same logo on every window of each new layout: read it once.
  const QFileInfo info(path);
  const QString key = info.absoluteFilePath() + QLatin1Char('|') +
                      QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('|') +
                      QString::number(info.size());
  if (key != m_strLogoKey) {
    m_logo = info.isFile() ? QImageReader(path).read() : QImage();
    m_strLogoKey = key;
  }
  return m_logo;
}

void CVideoWindow::refreshCaptions() {
  const QString word = QString::fromStdString(profile::LanguageText(*m_texts, "Window"));
  for (CVideoPane* pane : m_panes) {
    const QString name = QStringLiteral("%1 %2").arg(word).arg(pane->index() + 1);
    pane->setCaption(m_bCaptions ? name : QString());
    pane->setAccessibleName(name);  // "Window 3" for screen readers and tests
  }
}

void CVideoWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout();
}

void CVideoWindow::relayout() {
  if (m_mode == kFullMode) {
    for (CVideoPane* pane : m_panes) pane->setVisible(pane->index() == m_nCurWnd);
    m_panes[m_nCurWnd]->setGeometry(rect());
    return;
  }
  const QList<QRect> rects = paneRects(m_nCount, size());
  for (CVideoPane* pane : m_panes) {
    const int i = pane->index();
    if (i < rects.size()) pane->setGeometry(rects[i]);
    pane->setVisible(i < rects.size());
  }
}

}  // namespace lumenpane

// CSkinWin: the painted window frame of one top-level window.
//
// A skinned window is a frameless top-level window whose frame -- title bar, borders and
// caption buttons -- is painted by CSkinWin from the pictures of a skin file (skintheme.h).
// CSkinWin watches the window through an event filter (Qt's chain of hooks on one object):
//
//   paint             the borders, the title bar with its small icon, title text and caption
//                     buttons, and the "Repeate" picture tiled over the client area
//   resize            the window's shape (QWidget::setMask) from the title bar's pixels when
//                     the skin uses a transparent colour
//   activation        the active or the inactive half of every frame picture
//   title change      the title bar is painted again
//   mouse             hit codes (skintheme.h HitTest): borders resize and the caption moves the
//                     window through QWindow::startSystemResize / startSystemMove (by hand
//                     where the platform has no window manager that does it); caption buttons
//                     show their pressed and mouse-over states and close, minimise, maximise
//                     or restore the window; a double click on the caption maximises or
//                     restores; the small icon and a right click on the caption open the
//                     system menu
//
// The client area is the window less the frame: InstallSkin sets the window's contents
// margins to the frame, so a layout keeps its widgets inside it, and moves children that no
// layout places by the frame's top-left. Code that places children by hand should place them
// in contentsRect(). Maximising moves the window to its screen's available area; restoring
// moves it back.
#pragma once

#include "skintheme.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <string>

class QAction;
class QMenu;
class QMouseEvent;
class QPainter;
class QWidget;

namespace skinwin {

class CSkinWin : public QObject {
  Q_OBJECT

 public:
  // Window states.
  enum State : int { kNormal = 0, kMaximized = 1, kMinimized = 2 };

  CSkinWin();
  ~CSkinWin() override;

  // Loads the skin file at path (skintheme.h LoadTheme); a skin loaded before is dropped
  // first. Returns false, leaving the skin unloaded, when the file is missing or unusable;
  // LastError() says why.
  bool LoadTheme(const std::string& path);

  // Whether a skin is loaded.
  bool IsLoaded() const { return m_loaded; }
  const SkinTheme& Theme() const { return m_theme; }
  QString LastError() const { return m_error; }

  // Skins the top-level window: remembers whether it can be resized (its minimum and maximum
  // sizes differ), has minimise and maximise buttons and has a frame at all, makes it
  // frameless, sets its contents margins to the frame and grows it by the frame so its client
  // area keeps its size (a window that cannot be resized gets a fixed size), never smaller
  // than the skin's minimum size. A window skinned before is released first. Returns false,
  // changing nothing, when window is null, not a top-level window, or no skin is loaded.
  bool InstallSkin(QWidget* window);

  // The hit code of a point in window coordinates (skintheme.h HitTest) for the skinned
  // window; kHitNone when no window is skinned.
  int HitTest(QPoint p) const;

  // Window state and the commands of the caption buttons and the system menu.
  State WindowState() const { return m_state; }
  void Maximize();  // saves the window rectangle, fills the screen's available area
  void Restore();   // back to the saved rectangle (from maximised) or shown again (minimised)
  void Minimize();  // remembers the state, minimises

  // Whether the window counts as active (the active half of the pictures is drawn).
  bool IsActive() const { return m_active; }
  // The hit codes under the pressed mouse button and under the mouse (kHitNone for none).
  int PressedCode() const { return m_pressed; }
  int HoverCode() const { return m_hover; }

  // The style the window had when it was skinned.
  bool HasThickFrame() const { return m_thickFrame; }
  bool HasMinBox() const { return m_minBox; }
  bool HasMaxBox() const { return m_maxBox; }
  bool HasBorder() const { return m_border; }

  // The system menu: "Restore", "Minimize", "Maximize", a separator and "Close", then the
  // actions given by AddSystemMenuAction after another separator. The texts are English until
  // SetSystemMenuTexts gives others.
  QMenu* SystemMenu();
  void SetSystemMenuTexts(const QString& restore, const QString& minimize, const QString& maximize,
                          const QString& close);
  // Adds an action of the window's own to the end of the system menu (the window keeps it).
  void AddSystemMenuAction(QAction* action);
  // Opens the system menu at a global position, with its items enabled as the state allows.
  void ShowSystemMenu(QPoint globalPos);

  // The title bar of a window of width w as painted (without the window's shape applied);
  // buttons: whether the caption buttons are drawn on it.
  QImage ComposeTitleBar(int w, bool buttons) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Release();
  void Paint(QPainter& p) const;
  void DrawFrameSide(QPainter& p, const QImage& picture, const SliceMetrics& m, bool vertical,
                     QPoint at, int length, int thickness) const;
  void UpdateShape();
  void SetHover(int code);
  void UpdateCursor(int code);
  void StartDrag(int code, QPoint globalPos);
  void DragTo(QPoint globalPos);
  bool MousePress(QMouseEvent* e);
  bool MouseRelease(QMouseEvent* e);
  bool MouseMove(QMouseEvent* e);
  int IconSize() const;

  // Configuration: the skin.
  SkinTheme m_theme;                   // pictures, metrics, colours
  std::array<QImage, kSlotCount> m_keyedButtons;  // button pictures with the transparent
                                                  // colour made transparent
  bool m_loaded = false;               // a skin is loaded
  QString m_error;                     // why the last LoadTheme failed

  // The skinned window and the style it had.
  QPointer<QWidget> m_window;
  bool m_thickFrame = false;           // it could be resized
  bool m_minBox = false;               // it had a minimise button
  bool m_maxBox = false;               // it had a maximise button
  bool m_border = false;               // it had a frame

  // State.
  State m_state = kNormal;
  State m_stateBeforeMin = kNormal;    // restored when the minimised window comes back
  QRect m_normalRect;                  // the rectangle saved by Maximize
  bool m_active = false;
  int m_pressed = kHitNone;            // shown pressed
  int m_hover = kHitNone;              // under the mouse
  int m_downCode = kHitNone;           // where the left button went down (acts on release there)
  bool m_cursorSet = false;            // a border cursor is set on the window

  // Moving or sizing by hand, where the platform does not do it.
  int m_dragCode = kHitNone;           // caption or border code being dragged; none
  QPoint m_dragStart;                  // global mouse position at the start
  QRect m_dragRect;                    // window geometry at the start

  // The system menu.
  QMenu* m_menu = nullptr;             // owned
  QAction* m_restoreAction = nullptr;
  QAction* m_minimizeAction = nullptr;
  QAction* m_maximizeAction = nullptr;
  QAction* m_closeAction = nullptr;
  QAction* m_extraSeparator = nullptr;
};

}  // namespace skinwin

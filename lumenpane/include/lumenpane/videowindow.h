// CVideoWindow: the grid of video windows of the main window.
//
// The grid owns 64 panes (CVideoPane), made once with the grid and kept until it is destroyed,
// so the handle of a window never changes. A layout shows the first n of them: a k × k grid
// for n = 1, 4, 9, 16, 25, 36 (and 49, 64), or for n = 6 one large pane with five small ones
// (see panelayout.h). Exactly one window is focused; a click with any mouse button focuses
// the window under the cursor, and the focused window wears a frame in the focus colour.
//
// Two display modes: the grid (mode 0) and the full view (mode 1), in which the focused
// window alone fills the whole grid. The full view ends when the layout is set again.
//
// The member functions named after the control's methods keep their names and argument
// order; a "long" argument is an int. Events are Qt signals. Everything here belongs to the
// user-interface thread; only the panes' frame entry (CVideoPane::presentFrame) is for
// other threads.
#pragma once

#include "lumenpane/panelayout.h"
#include "lumenpane/videopane.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>

namespace profile {
class Document;
}

namespace lumenpane {

class CVideoWindow : public QWidget {
  Q_OBJECT

 public:
  // Display modes reported by GetDisplayState.
  enum DisplayMode : short {
    kGridMode = 0,  // the windows of the layout side by side
    kFullMode = 1,  // the focused window alone, over the whole grid
  };

  // Mode switches of SetMode.
  enum ModeKind : int {
    kModeCaptions = 0,  // idle windows without a logo show their caption ("Window" and number)
    kModeStretch = 1,   // pictures fill their pane instead of keeping their aspect ratio
  };

  // Mark kinds of SetWndMark.
  static constexpr int kMarkSound = 1;

  // A grid showing one window, window 0 focused, grid mode, no captions, aspect ratio kept.
  explicit CVideoWindow(QWidget* parent = nullptr);
  ~CVideoWindow() override;

  // Shows n windows (1, 4, 6, 9, 16, 25, 36, 49 or 64) in grid mode. When the focused window
  // is not among them, window 0 becomes the focused window (curWndChanged). Emits
  // layoutChanged(n) when the count changed; setting the current count again emits
  // nothing, so a handler of layoutChanged may call SetWndCount with the same n.
  // Returns false and changes nothing for any other n.
  bool SetWndCount(int n);

  // The number of windows of the current layout.
  int GetWndCount() const { return m_nCount; }

  // Shows text in the top-left corner of window wnd (blank text shows nothing).
  // Returns false when wnd is outside 0-63.
  bool SetWndStatus(int wnd, const QString& text);

  // Turns mark `kind` of window wnd on (flag non-zero) or off. Kind 1 is the sound mark,
  // drawn in the top-right corner. Returns false for another kind or a wnd outside 0-63.
  bool SetWndMark(int wnd, int kind, short flag);

  // Full view of the focused window (true) or the grid (false).
  void SetDisplaySwitch(bool full);

  // Stores the display mode (a DisplayMode) in *mode and the window count of the layout in
  // *count; either pointer may be null.
  void GetDisplayState(short* mode, short* count) const;

  // Index of the focused window.
  int GetCurWnd() const { return m_nCurWnd; }

  // Makes wnd the focused window (an extra to the control's methods, for keyboard handling
  // and tests). Emits curWndChanged when the focus moved. In full view the new window is
  // the one shown. Returns false, changing nothing, when wnd is not in the current layout.
  bool SetCurWnd(int wnd);

  // The handle of window wnd: its pane, the same object for the life of the grid whatever
  // the layout. Null when wnd is outside 0-63.
  CVideoPane* GetWndHandle(int wnd) const;

  // Takes the grid's own texts (the caption "Window") from the "String" section of the
  // language file at path. Returns false when the file cannot be read; the texts then fall
  // back to their keys.
  bool SetLanguageFile(const QString& path);

  // Turns a mode switch (ModeKind) on or off. Returns false for an unknown kind.
  bool SetMode(int kind, bool on);

  // Window wnd shows no picture (its logo, if any). Its status text and marks stay.
  // Returns false when wnd is outside 0-63.
  bool ClearWnd(int wnd);

  // The picture shown in window wnd while it has no frame, read from the image file at
  // path (any format Qt reads, BMP among them). Returns false, leaving the window without a
  // logo, when the file cannot be read, or changing nothing when wnd is outside 0-63.
  bool SetWndLogo(int wnd, const QString& path);

 signals:
  // A context menu was asked for over window wnd (already the focused window) at globalPos.
  void contextMenuRequested(int wnd, QPoint globalPos);
  // The layout became count windows.
  void layoutChanged(int count);
  // Window wnd (already the focused window) was double-clicked with the left button.
  void wndDoubleClicked(int wnd);
  // The focused window changed to wnd.
  void curWndChanged(int wnd);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Puts the panes of the current layout and display mode in place and hides the others.
  void relayout();
  // Sets every pane's caption from the texts and the captions switch.
  void refreshCaptions();
  // The logo picture of the file at path, read once per path and modification time.
  QImage logoImage(const QString& path);
  static bool validWnd(int wnd) { return wnd >= 0 && wnd < kPaneCount; }

  std::array<CVideoPane*, kPaneCount> m_panes{};  // children, made once, owned by Qt
  std::unique_ptr<profile::Document> m_texts;     // the language file of the grid's own texts
  int m_nCount = 1;                                // windows of the layout
  int m_nCurWnd = 0;                               // focused window
  DisplayMode m_mode = kGridMode;                  // grid or full view
  bool m_bCaptions = false;                        // mode switch kModeCaptions
  QString m_strLogoKey;                            // path and time of m_logo
  QImage m_logo;                                   // last logo read
};

}  // namespace lumenpane

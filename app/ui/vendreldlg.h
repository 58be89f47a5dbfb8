// CVendrelDlg: the viewer's main window.
//
// A top-level dialog holding, side by side, the grid of video windows (lumenpane::CVideoWindow,
// control 1000) at the left with the playback control bar (CReplayerView, 131) under it, and
// the area of the record search tree (control 130) at the right, under a menu bar: "Setting" ->
// "ModifyPwd" (command 32773), "OpenImage" (32774, Ctrl+O), "Folders" (32775), "Exit" (command 2,
// Ctrl+Q), and
// the about entry (command 16). Commands are QAction data; every command goes through OnCommand.
// Image files dropped onto the window are opened as "OpenImage" opens them: each becomes a
// drive of the tree, or its reason for not becoming one is shown.
//
// Remembered (viewersettings.h): the window's geometry and maximised state and the layout,
// restored at the start (Qt keeps a restored window on a screen that is there) and saved as
// the window ends; the folders of snapshots and local recordings, chosen once with "Folders"
// and used from then on without asking.
//
// The window owns the 64 players (one per video window, through the player manager) and the
// playback commands (playbackcommands.h): the tree plays recordings through Playback(), the
// bar and the keys act through it, the grid's events (context menu, layout, double click) go
// to it, and once a second while some window is busy its status pass writes each window's
// status and the focused window's progress to the bar. As it is destroyed it releases every window and deletes the
// player manager, which closes every active player, before its children go.
//
// Placement (OnSize), in the client area below the menu bar, width w and height h, with the
// tree's width t (255 unless the user dragged it):
//   grid         (0, 0) - (w - t, h - 35)
//   control bar  (0, h - 35) - (w - t, h)
//   tree area    (w - t, 0) - (w, h)
// A handle on the tree's left edge ("TreeSplitter", with the resize cursor) drags t; the width
// is kept in the user's Config.ini ([Layout] TreeWidth) and read back at the next start. The
// timeline panel, when shown, takes its rows from the grid's bottom.
// Without remembered settings the dialog starts at (0, 0) with a size of 970 x 630 pixels.
// "Exit" and the close box end it (reject); while local recordings are being written it asks
// first, and OK finishes each file before the window goes. Enter never ends it. Escape leaves
// full screen, else the full-pane view, else does nothing; F11 switches full screen.
#pragma once

#include "skinwin/skininterface.h"

#include <QDialog>
#include <QRect>
#include <QStringList>

#include <memory>

class CTimelineHost;

class CPlaybackCommands;
class CRecordSearchDlg;
class CReplayerView;
class QAction;
class QMenuBar;

namespace lumenpane {
class CVideoWindow;
}

class CVendrelDlg : public QDialog {
  Q_OBJECT

 public:
  // Command ids (QAction data).
  static constexpr int kCmdCancel = 2;          // "Exit"
  static constexpr int kCmdAbout = 16;          // the about box
  static constexpr int kCmdModifyPwd = 32773;   // the password change dialog
  static constexpr int kCmdOpenImage = 32774;   // images as drives of the tree
  static constexpr int kCmdFolders = 32775;     // the folders of snapshots and local recordings
  static constexpr int kCmdShowTimeline = 1650;  // the timeline panel on / off (saved)
  static constexpr int kCmdSaveTimeline = 1651;  // "Save Timeline as Picture..."
  // The right-hand column of the tree and the strip of the control bar, in pixels.
  static constexpr int kTreeWidth = 255;
  static constexpr int kBarHeight = 35;
  static constexpr int kMinTreeWidth = 120;  // the narrowest tree, and the narrowest grid
  static constexpr int kSplitterWidth = 5;   // the drag handle over the tree's left edge

  explicit CVendrelDlg(QWidget* parent = nullptr);
  // Releases every video window and deletes the player manager (closing every active player),
  // then the children.
  ~CVendrelDlg() override;

  // The grid of video windows (object name "1000").
  lumenpane::CVideoWindow* VideoWindow() const { return m_pVideoWnd; }
  // The record search tree (object name "130", a CRecordSearchDlg).
  QWidget* TreeArea() const { return m_pTreeArea; }
  CRecordSearchDlg* Tree() const { return m_pTree; }

  // Opens image files as drives of the tree; shows the reasons of those that did not become
  // one (ShowRefusals). Returns the refusal lines.
  QStringList OpenImages(const QStringList& paths);
  // The playback control bar (object name "131").
  CReplayerView* ReplayerView() const { return m_pReplayerView; }
  // What the window does with its video windows and players: playing recordings (the tree's
  // IRecordSearchParent), the bar's and the context menu's commands, the status pass.
  CPlaybackCommands* Playback() const { return m_pPlayback.get(); }
  // The menu bar.
  QMenuBar* MenuBar() const { return m_pMenuBar; }
  // The timeline under the grid (its panel is control "Timeline").
  CTimelineHost* Timeline() const { return m_pTimeline; }
  // Shows or hides the timeline panel (the menu entry's check follows).
  void SetTimelineVisible(bool on);
  bool TimelineVisible() const;
  // The window's skin (its frame and system menu when FrameApplied(), else unused).
  skinwin::CSkinInterface* Skin() const { return m_skin.get(); }
  // The tree's width, and setting it (kept within kMinTreeWidth and the client width less
  // kMinTreeWidth; the children are placed again). Store: also written to the user's settings.
  int TreeWidth() const { return m_nTreeWidth; }
  void SetTreeWidth(int width, bool store = false);
  // The drag handle (object name "TreeSplitter").
  QWidget* Splitter() const { return m_pSplitter; }

  // The client area below the menu bar and inside the skin's frame (when the window wears a
  // skin), in the dialog's coordinates.
  QRect ClientRect() const;

  // Carries out command id (a menu entry's QAction data): 32773 the password change dialog,
  // 32774 the image chooser, 32775 the folders dialog, 2 closes the dialog (reject), 16 the
  // about box. Returns false for an unknown id.
  virtual bool OnCommand(int id);

  // Saves what the window remembers (viewersettings.h) now.
  void SaveSettings();

  // Ends the dialog unless local recordings are being written and the user keeps them running
  // (ConfirmEnd).
  void reject() override;
  // True when the window may end: no local recording is being written, or the user chose OK,
  // which ends every one of them properly.
  bool ConfirmEnd();
  // Escape: leaves full screen, else the full-pane view. False when there was neither.
  bool LeaveOneLevel();

  // The about box's text: the program's name and its version.
  static QString AboutText();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Timer 1: the status pass.
  void timerEvent(QTimerEvent* event) override;

  // Places the children in the client area (see the top of this file).
  virtual void OnSize();
  // Shows the about box (dialog 100), modally.
  virtual void ShowAbout();
  // Shows the password change dialog, modally.
  virtual void ShowModifyPwd();
  // Asks for image files to open (a file dialog); empty when cancelled.
  virtual QStringList ChooseImages();
  // Shows why images were not added (one line each), modally.
  virtual void ShowRefusals(const QStringList& lines);
  // The folders dialog: the folders of snapshots and local recordings, saved on OK.
  virtual void ShowFolders();
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // OnInitDialog, step by step in this order.
  void OnInitDialog();
  void CreateMenuBar();       // 2: "Setting" with "ModifyPwd" and "Exit"
  void TranslateDialog();     // 3: Translate over the dialog
  void AddAboutEntry();       // 4: the about entry (command 16)
  void SetIcons();            // 5: the program mark
  void ApplySkin();           // 6: the skin of the main window
  void CreateChildren();      // 7: control bar and tree area
  void InitVideoWindow();     // 8: the grid: language, modes, one window
  void ClearWindowFlags();    // 9: no sound, no local record anywhere
  void CreatePlayers();       // 10: one player per video window
  void ShowFirstLayout();     // 11: four windows, sound as wanted
  void PlaceWindow();         // 12: (0, 0), 970 x 630
  void StartStatusTimer();    // 13: the status pass every second (while a window is busy)
  // Tear-down: every window released, the players closed and deleted.
  void OnDestroy();

  std::unique_ptr<skinwin::CSkinInterface> m_skin;  // the window's skin (frame, system menu)
  QMenuBar* m_pMenuBar = nullptr;               // owned by Qt
  lumenpane::CVideoWindow* m_pVideoWnd = nullptr;  // control 1000, owned by Qt
  QWidget* m_pTreeArea = nullptr;               // control 130, owned by Qt
  CReplayerView* m_pReplayerView = nullptr;     // control 131, owned by Qt
  std::unique_ptr<CPlaybackCommands> m_pPlayback;  // the window's playback commands
  CRecordSearchDlg* m_pTree = nullptr;          // the same as m_pTreeArea
  QString m_strSnapshotFolder;                  // where snapshots go
  QString m_strRecordFolder;                    // where local recordings go
  CTimelineHost* m_pTimeline = nullptr;         // owned by Qt
  QAction* m_pTimelineAction = nullptr;         // "Show Timeline", checkable
  int m_nStatusTimer = 0;                       // id of the one-second timer
  int m_nTreeWidth = kTreeWidth;                // the tree's width (see the top)
  QWidget* m_pSplitter = nullptr;               // the drag handle, owned by Qt
};

// CPlaybackCommands -- what the main window does with its video windows and their players.
//
// The main window turns the user's requests into commands on the players of the player
// manager (playermanager.h) and keeps, per video window, whether sound and a local record are
// on. This class is that part of the main window, kept apart from its widgets so that it can
// be driven by the control bar, the record tree, the context menu and the keyboard alike, and
// tested against an engine stand-in:
//   - play one recording in the focused window (PlayFile), a set of recordings in windows
//     0, 1, 2, ... (PlayFiles), and choose a layout for a set (SetLayoutForCount);
//   - the control bar's commands on every busy window (PauseAll ... ResumeAll);
//   - the focused window's commands of the context menu (ids 1624-1628, 1634 snapshot as PNG,
//     1640 time label, 1641 Go to Time), its layout entries
//     (1629-1633 for six and nine windows, 1642-1646 for 1, 4, 16, 25 and 36) and full screen
//     (1639);
//   - windows a smaller layout hides are paused and their sound turned off: nothing plays or
//     sounds unseen; shown again, they stay paused where they were;
//   - the once-a-second status pass: each window's status text, the focused window's progress.
//
// The focused window is the one the video control reports (CVideoWindow::GetCurWnd). Texts
// come from the language lookup given to the constructor. Everything runs on the
// user-interface thread.
#pragma once

#include <QPoint>
#include <QString>

#include <QDateTime>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recordsearchparent.h"
#include "snapshotfile.h"

class CPlayerManager;
class QMenu;
class QWidget;
namespace lumenpane {
class CVideoWindow;
}

class CPlaybackCommands : public IRecordSearchParent {
 public:
  // Command ids of the video context menu.
  enum : int {
    kCmdCloseWindow = 1624,
    kCmdCloseAllWindow = 1625,
    kCmdAudio = 1626,
    kCmdLocalRecord = 1627,
    kCmdSnapshot = 1628,
    kCmdSixSpliter1 = 1629,
    kCmdSixSpliter2 = 1630,
    kCmdNineSpliter1 = 1631,
    kCmdNineSpliter2 = 1632,
    kCmdNineSpliter3 = 1633,
    kCmdSnapshotPng = 1634,  // the snapshot as lossless PNG instead of BMP
    kCmdFullScreen = 1639,
    kCmdTimeLabel = 1640,    // the windows' time label on / off
    kCmdGoToTime = 1641,     // "Go to Time..." (carried out by the owner's hook)
    kCmdLayout1 = 1642,
    kCmdLayout4 = 1643,
    kCmdLayout16 = 1644,
    kCmdLayout25 = 1645,
    kCmdLayout36 = 1646,
  };
  static constexpr int kWindowCount = 64;
  static constexpr int64_t kJumpShortMs = 10'000;  // Shift+arrow
  static constexpr int64_t kJumpLongMs = 60'000;   // Ctrl+arrow

  // The text of a language key ("Pause", "Window", ...).
  using TextLookup = std::function<QString(const char* key)>;
  // Asks the user for a folder (the "save to" dialog). True with the folder in *folder on OK.
  using FolderChooser = std::function<bool(std::string* folder)>;
  // The tree's selected recording, partition-rooted ("idea0/2010-03-05/002/..."). True when a
  // recording is selected.
  using SelectedFile = std::function<bool(std::string* rooted)>;
  // Shows a message with only an OK button (text, caption).
  using MessageBox = std::function<void(const QString& text, const QString& caption)>;
  // Receives the focused window's progress (window, per cent 0-99) each second.
  using ProgressSink = std::function<void(int window, int percent)>;
  // Receives the time text beside the bar's slider each second ("" when the focused window
  // is idle).
  using TimeSink = std::function<void(const QString& text)>;
  // The recordings of `channel` (1-64 as written) that may hold `moment`, as full recording
  // paths, on the disk of the recording `like` (a full path). The default lists the moment's
  // day and the day before in every partition of that disk.
  using RecordingLister =
      std::function<std::vector<std::string>(const std::string& like, int channel,
                                             const QDateTime& moment)>;

  // Commands for the windows of `video` and the players of `manager`; both must outlive this
  // object. owner: the window that owns menus and messages (may be null). All sound and
  // record flags are off; the layout is the video control's.
  CPlaybackCommands(lumenpane::CVideoWindow* video, CPlayerManager* manager, QWidget* owner,
                    TextLookup texts);

  // Hooks; each may be left unset: no folder chooser cancels local records and snapshots, no
  // tree makes PlayFile() do nothing, the default message box is a modal QMessageBox, no
  // progress sink drops the progress.
  void SetFolderChooser(FolderChooser chooser) { m_chooser = std::move(chooser); }
  // The folder for snapshots when it differs from the local records' (unset: the chooser above).
  void SetSnapshotFolderChooser(FolderChooser chooser) { m_snapshotChooser = std::move(chooser); }
  void SetSelectedFile(SelectedFile selected) { m_selected = std::move(selected); }
  void SetMessageBox(MessageBox box) { m_message = std::move(box); }
  void SetProgressSink(ProgressSink sink) { m_progress = std::move(sink); }
  // Called after a command started a player (the owner starts its status pass again).
  void SetPlayStarted(std::function<void()> started) { m_started = std::move(started); }
  void SetTimeSink(TimeSink sink) { m_time = std::move(sink); }
  void SetRecordingLister(RecordingLister lister) { m_lister = std::move(lister); }

  // Follows the video control's events: a context menu request opens the context menu, a new
  // layout is applied with SetLayout, a double click switches the full-pane view.
  void ConnectVideoEvents();

  // ---- the record tree's requests (IRecordSearchParent) ----

  // Plays path in the focused window, closing what it played. Returns 0 for an empty path,
  // else the player's Open result.
  int PlayFile(const std::string& path) override;
  // PlayFile from ms after the recording's first picture (0: from its start).
  int PlayFileAt(const std::string& path, int64_t ms);
  // Plays the recording selected in the tree in the focused window (the bar's Play button);
  // 0 when none is selected.
  int PlayFile();
  // Plays table entry i in window i for i < n (empty entries skipped). Returns 1.
  int PlayFiles(const SyncPlayTable& table, int n) override;
  // The smallest layout of 4, 9, 16, 25, 36 windows that holds n (36 for more).
  void SetLayoutForCount(int n) override;

  // n windows in the video control, each with the idle-window logo (Skin/logo.bmp of the
  // resource folder) when that file exists. Windows from n on that play are paused and lose
  // their sound.
  void SetLayout(int n);
  // The number of windows of the current layout.
  int Layout() const { return m_nLayout; }

  // ---- the control bar's commands: each acts on every busy window and returns 1 ----

  int GetFocusedState() const;  // state of the focused window's player
  int PauseAll();               // playing windows pause, paused ones play on
  int StopAll();                // busy windows stop and are reset
  // The Space key: when any window plays, every playing window pauses; else every paused or
  // single-frame window plays on.
  int TogglePauseAll();
  int SlowAll(int level);
  int FastAll(int level);
  int StepFrontAll();
  int StepNextAll();
  int ResumeAll();

  // ---- time (playbacktime.cpp) ----

  // Positions window i at ms from its recording's first picture (the picture due then is shown
  // at once; playing, paused or single frame stay so). Returns the player's result; 0 idle.
  int SeekWindow(int i, int64_t ms);
  // The bar's slider released at percent (0-100): the focused window at that part of its
  // recording. Returns SeekWindow's result.
  int SeekFocusedPercent(int percent);
  // Every busy window deltaMs from the picture it shows (negative: back; not before the
  // first picture). Returns the number of windows moved.
  int JumpAll(int64_t deltaMs);
  // Every busy window to its first (end = false) or last picture. Returns the windows moved.
  int SeekAllToEdge(bool end);
  // Positions every busy window at `moment` in its own channel: the channel's recording that
  // holds the moment is opened there when it is not the one playing (same disk, any partition);
  // a window whose channel recorded nothing then is closed and says "no recording at
  // HH:MM:SS" until it plays again. With every window idle, every channel of the disk played
  // last that recorded at the moment opens there (OpenChannelsAt). The one function behind
  // "Go to Time". Returns the number of windows showing the moment.
  int PositionAllAt(const QDateTime& moment);
  // The moment of the focused window's picture (the dialog's start), or now when it is idle.
  QDateTime FocusedMoment();
  // The recording path the focused window plays into path. Returns false (path untouched) when
  // the window is idle.
  bool FocusedPath(std::string* path) const;
  // The label of window i ("CH 02  2024-03-05 14:05:30  ×4"; "" when idle).
  QString WindowLabel(int i);
  // The accessible description of window i: its label, "idle", or "no recording at ...".
  QString WindowDescription(int i);
  // Whether windows draw their time label (the T key and the context menu turn it over).
  bool TimeLabels() const { return m_bTimeLabels; }
  void SetTimeLabels(bool on);

  // ---- windows ----

  // Turns window i's sound and local record off (when on) and clears its picture.
  void ReleaseWindow(int i);
  // ReleaseWindow(i), then clears the picture once more.
  void ResetWindow(int i);
  // Sound on for the focused window when it is wanted there, else off where it was; shows the
  // focused window's sound mark.
  void UpdateAudio();
  // Sound / local record flags of window i (false for a bad index).
  bool IsAudio(int i) const;
  bool IsRecord(int i) const;
  // The window whose sound was turned on last, or -1.
  int AudioWnd() const { return m_nAudioWnd; }
  // Whether a local record is being written in any window (ended players forgotten first).
  bool AnyRecording();
  // Ends every local record being written; each file is finished by the engine.
  void StopAllRecords();
  // Whether the program may end now: true when no local record is being written; else
  // ask() decides, and on true every record is ended properly first (StopAllRecords).
  bool MayEnd(const std::function<bool()>& ask);

  // Runs a command of the context menu (1624-1646). Returns false for another id. A window
  // whose recording has ended keeps its last picture: Close Window, Close All Windows and the
  // bar's Stop clear it, and Snapshot takes it.
  bool OnCommand(int id);

  // The context menu of the focused window, with its grey and check states; the caller owns
  // it. Its actions run OnCommand when triggered.
  QMenu* MakeContextMenu(QWidget* parent);
  // Shows the context menu at globalPos and runs the chosen command.
  void ShowContextMenu(const QPoint& globalPos);

  // The full-pane view of the focused window on, or off when it is on (double click).
  void ToggleDisplay();
  // Whether the full-pane view is on.
  bool IsFullPane() const;
  // The owner's top-level window in full screen, or back to how it was (F11, 1639).
  void ToggleFullScreen();

  // The once-a-second status pass over the windows of the layout. Returns whether some
  // window is still busy (its player playing, paused, on a single frame, or still starting or
  // ending): when none is, the owner stops the passes until the next play starts.
  bool StatusPass();

  // Runs "Go to Time..." (the main window's dialog); unset: the command does nothing.
  void SetGoToTime(std::function<void()> run) { m_goToTime = std::move(run); }

  // The status text a window in `state` shows ("Pause" and "SingleFrame" with 12 spaces after
  // them, 11 spaces for an idle window, nothing while playing). An idle window whose recording
  // ended (ended: CPlayer::endPicture / endNoPicture) shows "WndEnded" ("end") or "NoPicture".
  QString StatusText(int state, int ended = 0) const;

 private:
  bool ValidWnd(int i) const { return i >= 0 && i < kWindowCount; }
  int FocusedWnd() const;
  // Runs action(i) on every window whose player is busy (playing, paused or single frame).
  void ForBusy(const std::function<void(int)>& action);
  // Closes window i's player when busy, forgetting its local record (which ends with it).
  void CloseIfBusy(int i);
  // True while window i is busy or shows the end of its recording.
  bool HasContent(int i) const;
  // Clears the local-record flag of every window whose player has ended.
  void ForgetEndedRecords();
  void ToggleAudio(int w);
  // Sound off in window w when it is on there.
  void MuteWindow(int w);
  void ToggleLocalRecord(int w);
  void TakeSnapshot(int w, SnapshotFormat format);
  // Go to Time with every window idle: each channel of the disk played last that has a
  // recording at the moment opens there, in windows 0, 1, 2, ... Returns the windows opened.
  int OpenChannelsAt(const QDateTime& moment, const RecordingLister& lister);
  // The time part of the status pass for window i: label and accessible description.
  void ShowTime(int i);

  lumenpane::CVideoWindow* const m_pVideo;
  CPlayerManager* const m_pManager;
  QWidget* const m_pOwner;
  TextLookup m_texts;
  FolderChooser m_chooser;
  FolderChooser m_snapshotChooser;
  SelectedFile m_selected;
  MessageBox m_message;
  ProgressSink m_progress;
  std::function<void()> m_started;
  TimeSink m_time;
  RecordingLister m_lister;
  std::function<void()> m_goToTime;
  bool m_bTimeLabels = true;
  std::array<QString, kWindowCount> m_strNoRecording;  // "no recording at ..." per window
  std::array<int64_t, kWindowCount> m_nOpenAt{};        // where Go to Time opens window i
  std::string m_strLastPath;  // the recording played last (the disk Go to Time searches)

  int m_nLayout;                          // windows of the current layout
  std::array<bool, kWindowCount> m_bAudio{};   // sound wanted for window i
  int m_nAudioWnd = -1;                   // window whose sound is on, or -1
  std::array<bool, kWindowCount> m_bRecord{};  // local record running for window i
};

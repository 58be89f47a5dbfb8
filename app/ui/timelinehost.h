// CTimelineHost: the timeline panel in the main window — which day it shows, where its cursor
// is, what its clicks do.
//
// The panel shows the day of the item selected in the record tree (a day, channel or recording
// of a disk: the coverage of every partition of that disk, listed as the tree lists them), or,
// when the focused window plays a recording of another day, that day. Once a second (the
// status pass) the cursor follows the focused window's picture. A click on a channel row plays
// the recording of that channel holding the moment in the focused window, from that moment; a
// click on the ruler goes to that moment in every window (Go to Time).
#pragma once

#include <QDate>
#include <QObject>

#include <functional>
#include <string>

class CPlaybackCommands;
class CTimelinePanel;
class QTreeWidget;
class QWidget;

class CTimelineHost : public QObject {
  Q_OBJECT

 public:
  // The panel is made as a child of parent; tree is the record tree's control (may be null).
  CTimelineHost(CPlaybackCommands* playback, QTreeWidget* tree, QWidget* parent);

  CTimelinePanel* Panel() const { return m_pPanel; }

  // Shows the coverage of day on disk (every partition the tree lists for it). Returns whether
  // the day differs from the one shown before.
  bool ShowDay(int disk, const QDate& day);
  int Disk() const { return m_nDisk; }
  QDate Day() const { return m_day; }

  // Follows the tree's item at rooted path ("idea0/2024-03-05/002/..."): shows its day.
  void FollowTreePath(const std::string& rooted);

  // The status pass: the cursor at the focused window's picture (its day shown first when it
  // differs and the window is busy).
  void Tick();

  // Plays channel (0..63) from seconds after the shown day's midnight in the focused window.
  // Returns the player's result; 0 when no recording of the channel holds the moment.
  int PlayChannelAt(int channel, qint64 seconds);

  // "Save Timeline as Picture...": asks for a file (chooser, replaceable for tests) and writes
  // the day's picture there. Returns whether a picture was written.
  bool SavePicture();
  using FileChooser = std::function<QString(const QString& suggested)>;
  void SetFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

  // Called after a new day changed the rows the panel wants (the owner places it again).
  void SetRelayout(std::function<void()> relayout) { m_relayout = std::move(relayout); }

 private:
  CPlaybackCommands* m_pPlayback;
  CTimelinePanel* m_pPanel;
  FileChooser m_chooser;
  std::function<void()> m_relayout;
  int m_nDisk = -1;
  QDate m_day;
};

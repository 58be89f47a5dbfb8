// CRecordSearchDlg -- the browser of the recordings, in the main window's right-hand area.
//
// One tree control (1002) fills the widget: a root per attached recorder disk, and below it
// partitions, recording days, channels and recordings (recordsearch.h says what each level
// lists). Each item carries its kind (0-4) as data (Qt::UserRole). A drive root starts with
// one placeholder child "text" so that it shows an expand button; expanding an item rebuilds
// its children and fills each new child one level deep, so the expand buttons are always right.
//
// What the user does here:
//   - tooltips: a drive root names its image path, a recording its full name; a partition the
//     start-up refused or re-initialised is greyed with the reason; a recording whose bytes all
//     read as zero carries a warning mark once its channel is opened;
//   - double click on a recording, or Enter on it: the parent plays its "/mnt/..." path
//     (PlayFile); Enter on another item opens or closes it, and never reaches the window;
//   - right click on a partition: a menu with "CopyTo" (1025); on a day, a channel or a
//     recording: "CopyTo" and "SyncPlay" (1026); on the drive root of an image the user opened
//     (OpenImages): "CloseImage" (1027); other drive roots and greyed partitions have no menu;
//   - CopyTo: asks for a folder (CDialogSaveTo) and exports every recording under the item
//     (CDialogCpFile);
//   - SyncPlay: plays the recordings of every channel that start with the right-clicked one
//     (recording) or with the first recording of channel 1 that has partners (day), entry k in
//     window k.
//
// With no recorder disk found, a line of help (1003) stands above the empty tree: what was
// tried, why each candidate was not shown (the words of `krt disks`), and what to do.
//
// Hot-plug: a CHotPlugWatch waits for the kernel's notice of a block device added, removed or
// changed and for changes of the folders images are taken from (krt::disk_image_folders). After
// such a notice settles (kHotPlugSettleMs), a CTimer "HotPlug" counts the recorder disks on a
// pooled thread (count_attached_disks, which changes nothing); only where the system refuses a
// notification does the timer count every kHotPlugMs instead. When the count differs from the
// tree's, it hands the rebuild to the user-interface thread as a queued call: LoadDisks reruns
// the volume start-up and rebuilds the tree there, so the tree and the library tables are never
// touched from another thread. Files that players or a copy hold open fail cleanly afterwards
// (the library refuses handles of an earlier start-up).
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <infra/timer.h>
#include <krt/disk.h>

#include "hotplugwatch.h"
#include "recordsearchparent.h"

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

class CRecordSearchDlg : public QWidget {
  Q_OBJECT

 public:
  // Menu command ids (QAction data and object names).
  static constexpr int kCopyToId = 1025;
  static constexpr int kSyncPlayId = 1026;
  static constexpr int kCloseImageId = 1027;
  // Period of the hot-plug count where notifications are refused.
  static constexpr uint32_t kHotPlugMs = 5000;
  // Delay of the count after a notification (a copied image or a plugged disk settles).
  static constexpr uint32_t kHotPlugSettleMs = 250;

  // Builds the tree (LoadDisks) and starts the hot-plug timer. owner receives the playback
  // calls and must outlive the dialog (null: they are dropped); parent is the widget that
  // holds it (may be null).
  explicit CRecordSearchDlg(IRecordSearchParent* owner, QWidget* parent = nullptr);
  // Stops the hot-plug watch and timer and waits for a check in progress.
  ~CRecordSearchDlg() override;

  // Rebuilds the tree: deletes every item, reruns the volume start-up, and adds a root per
  // attached disk. Every expansion is lost.
  void LoadDisks();

  // Adds image files (raw, split raw from its first segment, E01) as candidates and rebuilds
  // the tree. Returns one line per image that did not become a drive, with its reason
  // ("PATH: not a recorder disk", "PATH: refused: ..."); such images are not kept.
  QStringList OpenImages(const QStringList& paths);
  // Removes an image OpenImages added and rebuilds the tree. False when path is not one.
  bool CloseImage(const QString& path);
  // The images OpenImages added and CloseImage did not remove, in order.
  const QStringList& OpenedImages() const { return m_openedImages; }
  // The help shown when no recorder disk is found (null text while disks are shown).
  QString HelpText() const;
  // The help for the candidates of an attach that found no disk.
  static QString EmptyTreeHelp(const std::vector<krt::CandidateReport>& reports);

  // The partition-rooted path of the selected item when it is a recording (kind 4): returns 1
  // and sets path; otherwise returns 0 and clears path.
  int GetSelectedFilePath(std::string& path) const;

  // The tree control (1002).
  QTreeWidget* Tree() const { return m_pTree; }
  // The number of disks the last LoadDisks found.
  int DriveCount() const { return m_nDriveCount; }
  // How many times LoadDisks ran (tests watch the hot-plug rebuild with it).
  int LoadCount() const { return m_nLoadCount; }
  // True when new disks are noticed by notification; false: the slow count of kHotPlugMs.
  bool HotPlugNotifying() const;

  // The labels from the root down to item joined with "/" ("PhysicalDrive1/idea0/...").
  static QString GetItemPath(const QTreeWidgetItem* item);
  // The labels from the partition down to item ("idea0/2010-03-05/002"); empty for a drive
  // root or the placeholder.
  static std::string RootedPath(const QTreeWidgetItem* item);
  // The kind an item carries.
  static int Kind(const QTreeWidgetItem* item);

  // Rebuilds item's children (see the top of this file); a channel's recordings are checked
  // for all-zero bytes instead (MarkDamage). Returns false for a recording.
  bool ExpandItem(QTreeWidgetItem* item);
  // Whether item is a recording whose every byte reads as zero (marked by MarkDamage).
  static bool IsAllZero(const QTreeWidgetItem* item);
  // Double click on item: plays it when it is a recording.
  void OnDblclkItem(QTreeWidgetItem* item);
  // Enter on item: plays it when it is a recording, else opens or closes it.
  void OnEnter(QTreeWidgetItem* item);
  // Right click on item: remembers it for the commands and returns its menu, or null for a
  // drive root or no item.
  std::unique_ptr<QMenu> MakeContextMenu(QTreeWidgetItem* item);
  // The menu commands, for the item the last MakeContextMenu remembered.
  void OnCopyTo();
  void OnSyncPlay();
  void OnCloseImage();

 protected:
  // Keeps Enter in the tree (OnEnter).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Timer callback on a pooled thread: counts the disks, queues LoadDisks on a change.
  void CheckHotPlug(uint32_t);
  // Schedules the count: after a notification, or every kHotPlugMs where there are none.
  void ScheduleHotPlug(uint32_t delayMs);
  // Adds a root for one disk with its placeholder child.
  void AddDriveRoot(const QString& label, int disk);
  // Adds a child of kind under parent, images by kind.
  QTreeWidgetItem* AddChild(QTreeWidgetItem* parent, const QString& label, int kind);
  // Fills a just-added item one level deep.
  void FillChildren(QTreeWidgetItem* item);
  // Adds the labels below item as children of kind, each filled one level deep when fill.
  void AddChildren(QTreeWidgetItem* item, int kind, bool fill);
  // Checks each recording below a channel once: one whose every byte reads as zero gets a
  // warning mark and a tooltip saying so (it is still played and exported as it is).
  void MarkDamage(QTreeWidgetItem* channel);
  // The context menu at a point of the tree.
  void OnContextMenu(const QPoint& pos);

  // Shows the help above the tree when no disk was found, hides it otherwise.
  void UpdateHelp();

  IRecordSearchParent* m_pOwner;             // receives the playback calls
  QTreeWidget* m_pTree;                      // 1002
  QLabel* m_pHelp;                           // 1003
  QStringList m_openedImages;                // images the user opened
  QString m_strMenuImage;                    // the right-clicked drive's image (CloseImage)
  int m_nDriveCount = 0;                     // disks found by the last LoadDisks
  std::atomic<int> m_nCountedDisks{0};       // the same, for the timer's thread
  std::atomic<bool> m_bRebuildQueued{false}; // a LoadDisks is queued and has not run yet
  int m_nLoadCount = 0;                      // LoadDisks runs
  std::string m_strMenuPath;                 // partition-rooted path of the right-clicked item
  int m_nMenuKind = 0;                       // its kind (1-4)
  std::unique_ptr<infra::CTimer> m_pHotPlugTimer;
  std::unique_ptr<CHotPlugWatch> m_pHotPlugWatch;  // made after the timer, goes before it
  // Whether the watch notifies (as LoadDisks found): read by the watch's own callback, which
  // may run while the watch is being destroyed.
  std::atomic<bool> m_bNotifying{true};
};

// CVendrelDlg: the frame of the main window -- children, placement, menus, commands.
#include "replayerview.h"
#include "vendreldlg.h"

#include "lumenpane/videowindow.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QDir>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <fstream>

#include <krt/disk.h>
#include <krt_testing/scratch.h>

#include "playbackcommands.h"
#include "recordtree.h"
#include "twodisks.h"
#include "viewersettings.h"

#include <gtest/gtest.h>

namespace {

// Makes window the active window, as a click into it does on a desktop.
void QApplicationPrivateActivate(QWidget* window) {
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
}

// Records the modal steps instead of showing them.
class RecordingDlg : public CVendrelDlg {
 public:
  int about = 0;
  int modifyPwd = 0;
  QStringList chosen;                 // what the image chooser answers
  std::vector<QStringList> refusals;  // what the refusal box showed

 protected:
  void ShowAbout() override { ++about; }
  void ShowModifyPwd() override { ++modifyPwd; }
  QStringList ChooseImages() override { return chosen; }
  void ShowRefusals(const QStringList& lines) override { refusals.push_back(lines); }
};

// "Open Image" and a drop add drives to the tree; a refused image's reason is shown.
TEST(VendrelDlg, OpenImageAndDropAddDrivesAndShowRefusals) {
  krt_testing::ScratchDir scratch;
  const std::string other = scratch.path("notes.img");
  std::ofstream(other) << std::string(2048, 'n');
  const QString image = QString::fromStdString(apptest::CTwoDisks::Get().m_paths[0]);
  krt::set_disk_sources(krt::DiskSources{{}, false, false, false});
  RecordingDlg dialog;
  ASSERT_EQ(dialog.Tree()->DriveCount(), 0);
  dialog.chosen = {image};
  EXPECT_TRUE(dialog.OnCommand(CVendrelDlg::kCmdOpenImage));
  EXPECT_EQ(dialog.Tree()->DriveCount(), 1);
  EXPECT_TRUE(dialog.refusals.empty());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(image), QUrl::fromLocalFile(QString::fromStdString(other)),
                QUrl::fromLocalFile(QString::fromStdString(apptest::CTwoDisks::Get().m_paths[1]))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &drop);
  QTRY_COMPARE(dialog.Tree()->DriveCount(), 2);
  ASSERT_EQ(dialog.refusals.size(), 1u);
  EXPECT_EQ(dialog.refusals[0], QStringList{QString::fromStdString(other + ": not a recorder disk")});
  krt::set_disk_sources(krt::DiskSources{});
}

// The desktop's keys reach the window from the video grid: Ctrl+O opens images, F11 full
// screen, Ctrl+Q ends it.
TEST(VendrelDlg, DesktopKeysWorkFromTheGrid) {
  RecordingDlg dialog;
  dialog.show();
  QApplicationPrivateActivate(&dialog);
  dialog.VideoWindow()->setFocus();
  QTest::keyClick(dialog.VideoWindow(), Qt::Key_F11);
  EXPECT_TRUE(dialog.windowState() & Qt::WindowFullScreen);
  QTest::keyClick(dialog.VideoWindow(), Qt::Key_Escape);
  EXPECT_FALSE(dialog.windowState() & Qt::WindowFullScreen);
  krt::set_disk_sources(krt::DiskSources{{}, false, false, false});
  dialog.chosen = {QString::fromStdString(apptest::CTwoDisks::Get().m_paths[0])};
  QTest::keyClick(dialog.VideoWindow(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(dialog.Tree()->DriveCount(), 1);
  QTest::keyClick(dialog.VideoWindow(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(dialog.isVisible());
  krt::set_disk_sources(krt::DiskSources{});
  QFile::remove(vendrel::ViewerSettingsPath());
}

// Folders...: the folders chosen once are where captures go from then on, and are remembered.
TEST(VendrelDlg, FoldersAreChosenOnceAndRemembered) {
  krt_testing::ScratchDir scratch;
  const QString shots = QString::fromStdString(scratch.path("shots"));
  const QString records = QString::fromStdString(scratch.path("records"));
  {
    CVendrelDlg dialog;
    QTimer::singleShot(0, [&] {
      auto* folders = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(folders, nullptr);
      const QList<QLineEdit*> edits = folders->findChildren<QLineEdit*>();
      ASSERT_EQ(edits.size(), 2);
      edits[0]->setText(shots);
      edits[1]->setText(records);
      folders->accept();
    });
    ASSERT_TRUE(dialog.OnCommand(CVendrelDlg::kCmdFolders));
  }
  const vendrel::ViewerSettings settings = vendrel::LoadViewerSettings();
  EXPECT_EQ(settings.snapshotFolder, shots);
  EXPECT_EQ(settings.recordFolder, records);
  QFile::remove(vendrel::ViewerSettingsPath());
}

// The window's place, its layout, the time labels and the capture folders come back after a
// restart.
TEST(VendrelDlg, RemembersPlaceAndLayoutAcrossARestart) {
  const vendrel::ViewerSettings fresh = vendrel::LoadViewerSettings();
  EXPECT_TRUE(fresh.snapshotFolder.endsWith("/Vendrel")) << fresh.snapshotFolder.toStdString();
  EXPECT_TRUE(fresh.recordFolder.endsWith("/Vendrel")) << fresh.recordFolder.toStdString();
  EXPECT_NE(fresh.snapshotFolder, fresh.recordFolder);
  {
    CVendrelDlg dialog;
    dialog.show();
    dialog.move(40, 30);
    dialog.resize(820, 540);
    ASSERT_TRUE(dialog.Playback()->OnCommand(1644));  // 16 windows
    ASSERT_TRUE(dialog.Playback()->TimeLabels());
    ASSERT_TRUE(dialog.Playback()->OnCommand(CPlaybackCommands::kCmdTimeLabel));  // labels off
    dialog.OnCommand(CVendrelDlg::kCmdCancel);        // Exit
  }
  CVendrelDlg again;
  again.show();
  EXPECT_EQ(again.size(), QSize(820, 540));
  EXPECT_EQ(again.pos(), QPoint(40, 30));
  EXPECT_EQ(again.Playback()->Layout(), 16);
  EXPECT_EQ(again.VideoWindow()->GetWndCount(), 16);
  EXPECT_FALSE(again.Playback()->TimeLabels());
  QFile::remove(vendrel::ViewerSettingsPath());  // the next test starts fresh
}

TEST(VendrelDlg, StartsAtTheOriginWithTheGridAtOneWindowAndTheTreeArea) {
  CVendrelDlg dialog;
  EXPECT_EQ(dialog.pos(), QPoint(0, 0));
  EXPECT_EQ(dialog.size(), QSize(970, 630));
  lumenpane::CVideoWindow* grid = dialog.findChild<lumenpane::CVideoWindow*>("1000");
  ASSERT_EQ(grid, dialog.VideoWindow());
  EXPECT_EQ(grid->GetWndCount(), 4);  // one at its start, four when the window is made
  ASSERT_NE(dialog.findChild<QWidget*>("130"), nullptr);
  EXPECT_EQ(dialog.findChild<QWidget*>("130"), dialog.TreeArea());
}

TEST(VendrelDlg, PlacesTheChildrenInTheClientArea) {
  CVendrelDlg dialog;
  dialog.show();  // a hidden widget gets its resize events only when shown
  EXPECT_GT(dialog.ClientRect().top(), dialog.contentsRect().top());  // the menu bar is above it
  // The menu bar and a skin's frame, if the window wears one, around the client area.
  const QSize extra = dialog.size() - dialog.ClientRect().size();
  dialog.resize(QSize(1000, 700) + extra);
  const QRect client = dialog.ClientRect();
  EXPECT_EQ(client.size(), QSize(1000, 700));
  const QPoint origin = client.topLeft();
  EXPECT_EQ(dialog.VideoWindow()->geometry(), QRect(QPoint(0, 0) + origin, QPoint(744, 664) + origin));
  EXPECT_EQ(dialog.TreeArea()->geometry(), QRect(QPoint(745, 0) + origin, QPoint(999, 699) + origin));
  dialog.resize(QSize(200, 20) + extra);  // smaller than the fixed parts: nothing negative
  EXPECT_EQ(dialog.VideoWindow()->width(), 0);
  EXPECT_EQ(dialog.VideoWindow()->height(), 0);
}

// The user's settings in a temporary folder while it lives.
class ScopedConfigHome {
 public:
  ScopedConfigHome() : m_saved(qgetenv("XDG_CONFIG_HOME")), m_had(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    QDir(m_dir.path()).mkpath(QStringLiteral("vendrel"));  // as the start-up leaves it
  }
  ~ScopedConfigHome() {
    if (m_had) qputenv("XDG_CONFIG_HOME", m_saved);
    else qunsetenv("XDG_CONFIG_HOME");
  }

 private:
  QTemporaryDir m_dir;
  QByteArray m_saved;
  bool m_had;
};

TEST(VendrelDlg, TimelineTakesItsRowsFromTheGridWhenShownAndStaysAsLeft) {
  ScopedConfigHome home;
  RecordingDlg dialog;
  EXPECT_FALSE(dialog.TimelineVisible());  // hidden until the user asks for it
  const int grid = dialog.VideoWindow()->height();
  ASSERT_TRUE(dialog.OnCommand(CVendrelDlg::kCmdShowTimeline));
  ASSERT_TRUE(dialog.TimelineVisible());
  const QWidget* panel = dialog.findChild<QWidget*>(QStringLiteral("Timeline"));
  ASSERT_NE(panel, nullptr);
  EXPECT_GT(panel->height(), 0);
  EXPECT_EQ(dialog.VideoWindow()->height(), grid - panel->height());
  EXPECT_EQ(panel->geometry().bottom() + 1, dialog.ReplayerView()->geometry().top());
  {
    RecordingDlg next;  // the next start shows it as it was left
    EXPECT_TRUE(next.TimelineVisible());
  }
  ASSERT_TRUE(dialog.OnCommand(CVendrelDlg::kCmdShowTimeline));
  EXPECT_EQ(dialog.VideoWindow()->height(), grid);
  RecordingDlg last;
  EXPECT_FALSE(last.TimelineVisible());
}

// The tree and the grid share a border the user drags; the width comes back at the next start.
TEST(VendrelDlg, TreeWidthIsDraggedAndRemembered) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QDir(config.path()).mkpath("vendrel");  // the start-up makes the user's settings folder
  {
    CVendrelDlg dialog;
    dialog.show();
    QWidget* handle = dialog.Splitter();
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(handle->accessibleName().isEmpty());
    EXPECT_EQ(handle->geometry().left(), dialog.TreeArea()->geometry().left());
    const QPoint grip(2, 100);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip - QPoint(100, 0)),
                     QPointF(handle->mapToGlobal(grip - QPoint(100, 0))), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(100, 0));
    EXPECT_EQ(dialog.TreeWidth(), CVendrelDlg::kTreeWidth + 100);
    EXPECT_EQ(dialog.TreeArea()->width(), CVendrelDlg::kTreeWidth + 100);
    EXPECT_EQ(dialog.VideoWindow()->geometry().right() + 1, dialog.TreeArea()->geometry().left());
    dialog.SetTreeWidth(100000);
    EXPECT_EQ(dialog.VideoWindow()->width(), CVendrelDlg::kMinTreeWidth) << "the grid never vanishes";
  }
  {
    CVendrelDlg again;
    EXPECT_EQ(again.TreeWidth(), CVendrelDlg::kTreeWidth + 100);
  }
  if (saved.isNull()) qunsetenv("XDG_CONFIG_HOME");
  else qputenv("XDG_CONFIG_HOME", saved);
}

TEST(VendrelDlg, MenuEntriesCarryTheirCommands) {
  RecordingDlg dialog;
  QList<QAction*> top = dialog.MenuBar()->actions();
  ASSERT_FALSE(top.isEmpty());
  QMenu* setting = top.front()->menu();
  ASSERT_NE(setting, nullptr);
  EXPECT_EQ(top.front()->text(), "Setting");  // no language loaded: the key
  QList<int> ids;
  for (QAction* action : setting->actions()) ids << action->data().toInt();
  // password, Open Image, Folders, Go to Time, timeline on/off and saved as a picture, exit
  EXPECT_EQ(ids, (QList<int>{32773, 32774, 32775, 1641, 1650, 1651, 2}));
  QAction* about = nullptr;
  for (QAction* action : top)
    if (action->data().toInt() == 16) about = action;
  ASSERT_NE(about, nullptr);
  about->trigger();
  EXPECT_EQ(dialog.about, 1);
  setting->actions().front()->trigger();
  EXPECT_EQ(dialog.modifyPwd, 1);
  EXPECT_FALSE(dialog.OnCommand(12345));
  dialog.show();
  setting->actions().back()->trigger();  // Exit
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_FALSE(dialog.isVisible());
}

// Enter and Escape never end the main window, wherever the focus is.
TEST(VendrelDlg, EnterAndEscapeNeverEndTheWindow) {
  CVendrelDlg dialog;
  dialog.show();
  for (QWidget* target : {static_cast<QWidget*>(&dialog), static_cast<QWidget*>(dialog.VideoWindow()), dialog.TreeArea()})
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QTest::keyClick(target, key);
      EXPECT_TRUE(dialog.isVisible()) << key << " on " << target->objectName().toStdString();
    }
}

// Escape leaves full screen first, then the full-pane view, then does nothing; F11 and the
// context menu's entry switch full screen.
TEST(VendrelDlg, EscapeLeavesFullScreenThenTheFullPaneView) {
  CVendrelDlg dialog;
  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_F11);
  EXPECT_TRUE(dialog.windowState() & Qt::WindowFullScreen);
  dialog.Playback()->ToggleDisplay();
  ASSERT_TRUE(dialog.Playback()->IsFullPane());
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.windowState() & Qt::WindowFullScreen);
  EXPECT_TRUE(dialog.Playback()->IsFullPane());
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.Playback()->IsFullPane());
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(dialog.Playback()->OnCommand(1639));
  EXPECT_TRUE(dialog.windowState() & Qt::WindowFullScreen);
  EXPECT_TRUE(dialog.Playback()->OnCommand(1639));
  EXPECT_FALSE(dialog.windowState() & Qt::WindowFullScreen);
}

TEST(VendrelDlg, AboutNamesTheProgramAndItsVersion) {
  const QString text = CVendrelDlg::AboutText();
  EXPECT_TRUE(text.startsWith("Vendrel\n")) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral(VENDREL_VERSION))) << text.toStdString();
}

}  // namespace

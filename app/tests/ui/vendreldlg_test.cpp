// CVendrelDlg: the frame of the main window -- children, placement, menus, commands.
#include "replayerview.h"
#include "vendreldlg.h"

#include "lumenpane/videowindow.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Records the modal steps instead of showing them.
class RecordingDlg : public CVendrelDlg {
 public:
  int about = 0;
  int modifyPwd = 0;

 protected:
  void ShowAbout() override { ++about; }
  void ShowModifyPwd() override { ++modifyPwd; }
};

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
  // password, Go to Time, timeline on/off and saved as a picture, exit
  EXPECT_EQ(ids, (QList<int>{32773, 1641, 1650, 1651, 2}));
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

TEST(VendrelDlg, EnterAndEscapeEndTheDialog) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    CVendrelDlg dialog;
    dialog.show();
    QTest::keyClick(&dialog, key);
    EXPECT_FALSE(dialog.isVisible()) << key;
    EXPECT_EQ(dialog.result(), key == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected);
  }
}

TEST(VendrelDlg, AboutNamesTheProgramAndItsVersion) {
  const QString text = CVendrelDlg::AboutText();
  EXPECT_TRUE(text.startsWith("Vendrel\n")) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral(VENDREL_VERSION))) << text.toStdString();
}

}  // namespace

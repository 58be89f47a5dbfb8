// The skin on the viewer's windows: the login dialog framed by the shipped skin, and left
// with its normal frame when the skin folder is missing.
#include "login.h"
#include "vendreldlg.h"

#include "accountfixture.h"
#include "lumenpane/videowindow.h"
#include "windowskin.h"

#include <QDir>
#include <QFileInfo>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

namespace {

// Points the viewer's resources at dir while it lives.
class ResourcesAt {
 public:
  explicit ResourcesAt(const QString& dir) { qputenv("VENDREL_RESOURCES", dir.toUtf8()); }
  ~ResourcesAt() { qunsetenv("VENDREL_RESOURCES"); }
};

// The resources of the source tree, with the shipped skin.
QString SourceResources() {
  return QFileInfo(QStringLiteral(__FILE__)).dir().absoluteFilePath(QStringLiteral("../../resources/"));
}

using WindowSkinTest = apptest::AccountTest;

TEST_F(WindowSkinTest, LoginDialogWearsTheSkin) {
  ResourcesAt resources(SourceResources());
  CLogin dialog(nullptr, m_config);
  EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
  // The client area keeps the dialog's size; the frame goes around it.
  EXPECT_EQ(dialog.contentsRect().size(), QSize(279, 146));
  EXPECT_GT(dialog.width(), 279);
  EXPECT_GT(dialog.height(), 146);
  // Controls stay inside the client area and keep their ids.
  for (const char* id : {"1", "2", "1009", "1010", "1011"}) {
    QWidget* control = dialog.findChild<QWidget*>(id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_TRUE(dialog.contentsRect().contains(control->geometry())) << id;
  }
  // The two labels were made skinned labels, the two edits skinned edits.
  int skinned = 0;
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    skinned += child->property("skinAttached").toBool();
  EXPECT_EQ(skinned, 4);
}

TEST_F(WindowSkinTest, WithoutTheSkinFolderTheFrameStaysNormal) {
  QTemporaryDir empty;
  ResourcesAt resources(empty.path() + '/');
  EXPECT_EQ(vendrel::SkinFilePath(), (empty.path() + "/Skin/theme.ini").toStdString());
  CLogin dialog(nullptr, m_config);
  EXPECT_FALSE(dialog.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dialog.size(), QSize(279, 146));
  for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    EXPECT_FALSE(child->property("skinAttached").toBool());
}

// A main window that counts its about boxes instead of showing them.
class AboutCountingDlg : public CVendrelDlg {
 public:
  int about = 0;

 protected:
  void ShowAbout() override { ++about; }
};

TEST_F(WindowSkinTest, MainWindowWearsTheSkin) {
  ResourcesAt resources(SourceResources());
  AboutCountingDlg dialog;
  EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dialog.size(), QSize(970, 630));  // the whole window, frame included
  const QRect inner = dialog.contentsRect();
  EXPECT_GT(inner.left(), 0);
  EXPECT_GT(inner.top(), 0);
  // Menu bar, grid and tree area inside the frame.
  for (QWidget* child : {static_cast<QWidget*>(dialog.MenuBar()),
                         static_cast<QWidget*>(dialog.VideoWindow()), dialog.TreeArea()})
    EXPECT_TRUE(inner.contains(child->geometry())) << child->objectName().toStdString();
  EXPECT_EQ(dialog.MenuBar()->geometry().topLeft(), inner.topLeft());
  // The system menu ends with the about entry.
  ASSERT_NE(dialog.Skin(), nullptr);
  EXPECT_TRUE(dialog.Skin()->FrameApplied());
  const QList<QAction*> items = dialog.Skin()->SkinWin().SystemMenu()->actions();
  ASSERT_FALSE(items.isEmpty());
  items.last()->trigger();
  EXPECT_EQ(dialog.about, 1);
  EXPECT_TRUE(dialog.Skin()->SkinWin().HasMaxBox() && dialog.Skin()->SkinWin().HasMinBox());
  EXPECT_TRUE(dialog.Skin()->SkinWin().HasThickFrame());
}

}  // namespace

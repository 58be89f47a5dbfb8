// The main window's playback side: start-up (64 players, four windows, the control bar, the
// window's place), the placement of grid, bar and tree area, and the tear-down that deletes
// the players.
#include <gtest/gtest.h>

#include <infra/infra.h>
#include <lumenpane/videowindow.h>

#include <memory>

#include "playbackcommands.h"
#include "playermanager.h"
#include "replayerview.h"
#include "vendreldlg.h"
#include "xskinbutton.h"

namespace {

// The record tree's hot-plug check is a timer of the runtime support library.
class InfraStarted : public testing::Environment {
 public:
  void SetUp() override {
    infra::CInfra::Instance()->start();
    qputenv("VENDREL_RESOURCES", VENDREL_TEST_RESOURCES);  // the default skin
    qputenv("VENDREL_DISKS", "");
  }
};
[[maybe_unused]] testing::Environment* const g_infra =
    testing::AddGlobalTestEnvironment(new InfraStarted);

// Geometry of child relative to the dialog's client area.
QRect InClient(const CVendrelDlg& dialog, const QWidget* child) {
  return child->geometry().translated(-dialog.ClientRect().topLeft());
}

TEST(VendrelDlgPlaybackTest, StartsWithFourWindowsSixtyFourPlayersAndTheBar) {
  auto dialog = std::make_unique<CVendrelDlg>();
  EXPECT_EQ(dialog->pos(), QPoint(0, 0));
  EXPECT_EQ(dialog->size(), QSize(970, 630));
  EXPECT_EQ(dialog->VideoWindow()->GetWndCount(), 4);
  EXPECT_EQ(dialog->Playback()->Layout(), 4);
  for (int j = 0; j < CPlayerManager::kPlayerCount; ++j) {
    ASSERT_NE(CPlayerManager::Instance().Player(j), nullptr) << j;
    EXPECT_FALSE(dialog->Playback()->IsAudio(j));
  }
  EXPECT_EQ(dialog->Playback()->AudioWnd(), -1);
  ASSERT_NE(dialog->ReplayerView(), nullptr);
  EXPECT_EQ(dialog->ReplayerView()->objectName(), "131");
  for (int id = 5028; id <= 5034; ++id)
    EXPECT_NE(dialog->ReplayerView()->findChild<CxSkinButton*>(QString::number(id)), nullptr) << id;
  // Tear-down deletes the players with the manager.
  dialog.reset();
  EXPECT_EQ(CPlayerManager::Instance().Player(0), nullptr);
  CPlayerManager::DestroyInstance();
}

// A client area of 1000 x 700: grid (0, 0)-(745, 665), bar (0, 665)-(745, 700),
// tree (745, 0)-(1000, 700).
TEST(VendrelDlgPlaybackTest, OnSizePlacesGridBarAndTree) {
  CVendrelDlg dialog;
  dialog.resize(QSize(1000, 700) + dialog.size() - dialog.ClientRect().size());  // menu bar, skin frame
  dialog.show();
  ASSERT_EQ(dialog.ClientRect().size(), QSize(1000, 700));
  EXPECT_EQ(InClient(dialog, dialog.VideoWindow()), QRect(QPoint(0, 0), QPoint(744, 664)));
  EXPECT_EQ(InClient(dialog, dialog.ReplayerView()), QRect(QPoint(0, 665), QPoint(744, 699)));
  EXPECT_EQ(InClient(dialog, dialog.TreeArea()), QRect(QPoint(745, 0), QPoint(999, 699)));
  EXPECT_TRUE(dialog.ReplayerView()->isVisible());
}

}  // namespace

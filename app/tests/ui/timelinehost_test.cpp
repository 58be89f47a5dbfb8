// The timeline in the main window: the day of the tree's selection, as the builder laid it,
// and a click on a channel row playing that channel's recording from the moment clicked.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <lumenpane/videowindow.h>

#include "playbackcommands.h"
#include "playermanager.h"
#include "recordtree.h"
#include "support.h"
#include "timelinehost.h"
#include "timelinepanel.h"
#include "twodisks.h"

namespace {

using apptest::CEngineStandIn;
using apptest::CTwoDisks;
using apptest::Eventually;

class TimelineHostTest : public testing::Test {
 protected:
  TimelineHostTest() {
    CTwoDisks::Get().Attach();
    for (int j = 0; j < CPlayerManager::kPlayerCount; ++j) m_manager.CreatePlayer(m_video.GetWndHandle(j), j);
    m_manager.SetFileViewer([](const std::string&) {});
    m_commands.SetLayout(4);
    m_engine.refuseInput = -1;  // a run keeps offering its first block: the window stays busy
    m_tree.LoadDisks();         // the tree was made before the disks were attached
  }
  ~TimelineHostTest() override {
    m_engine.refuseInput = 0;
    for (int j = 0; j < 4; ++j) m_manager.Close(j);
  }

  // The tree item at the labels below the drive root of disk ("idea0", "2010-03-05", ...).
  QTreeWidgetItem* Item(int disk, const QStringList& labels) {
    QTreeWidgetItem* item = m_tree.Tree()->topLevelItem(disk);
    if (!item) return nullptr;
    for (const QString& label : labels) {
      m_tree.ExpandItem(item);
      QTreeWidgetItem* next = nullptr;
      for (int k = 0; k < item->childCount() && !next; ++k) {
        if (item->child(k)->text(0) == label) next = item->child(k);
      }
      if (!next) return nullptr;
      item = next;
    }
    return item;
  }

  CEngineStandIn m_engine;
  CPlayerManager m_manager{&m_engine};
  lumenpane::CVideoWindow m_video;
  CPlaybackCommands m_commands{&m_video, &m_manager, nullptr, [](const char* key) { return QString::fromUtf8(key); }};
  QWidget m_window;
  CRecordSearchDlg m_tree{&m_commands, &m_window};
  CTimelineHost m_host{&m_commands, m_tree.Tree(), &m_window};
};

TEST_F(TimelineHostTest, FollowsTheTreesDayAndPlaysAChannelFromTheMomentClicked) {
  QTreeWidgetItem* channel = Item(0, {"idea0", "2010-03-05", "002"});
  ASSERT_NE(channel, nullptr);
  m_tree.Tree()->setCurrentItem(channel);
  EXPECT_EQ(m_host.Disk(), 0);
  EXPECT_EQ(m_host.Day(), QDate(2010, 3, 5));

  // Channels 1, 2, 3 and 32, hourly files 08:00-11:00: one regular span each.
  const DayCoverage& day = m_host.Panel()->Day();
  std::vector<int> channels;
  for (const CoverageSpan& s : day.spans) {
    channels.push_back(s.channel + 1);
    EXPECT_EQ(s.start, 8 * 3600);
    EXPECT_EQ(s.end, 11 * 3600);
    EXPECT_EQ(s.kind, RecordingKind::kRegular);
    EXPECT_EQ(s.recordings.size(), 3u);
  }
  EXPECT_EQ(channels, (std::vector<int>{1, 2, 3, 32}));

  // 09:30 on channel 003: its 09:00 recording, half an hour in.
  EXPECT_EQ(m_host.PlayChannelAt(2, 9 * 3600 + 1800), 1);
  ASSERT_TRUE(Eventually([&] { return m_manager.GetState(0) == 1; }));
  const std::string names = CTwoDisks::Get().Names(0, 0, 2010, 3, 5, 3)[1];
  EXPECT_EQ(m_manager.Player(0)->GetPath(), "/mnt/idea0/2010-03-05/003/" + names);
  // Nothing recorded at 12:00.
  EXPECT_EQ(m_host.PlayChannelAt(2, 12 * 3600), 0);

  // Another disk's day.
  QTreeWidgetItem* other = Item(1, {"ideb0", "2010-04-01"});
  ASSERT_NE(other, nullptr);
  m_tree.Tree()->setCurrentItem(other);
  EXPECT_EQ(m_host.Disk(), 1);
  EXPECT_EQ(m_host.Day(), QDate(2010, 4, 1));
}

}  // namespace

// The main window's playback commands against the engine stand-in, on a real video grid:
// the all-window commands on windows in mixed states, the focused window's commands on idle
// and busy windows, the context menu's grey and check states, layouts for a count, the status
// pass, and the local-record flag of a window whose player has closed.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include <lumenpane/videowindow.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "playbackcommands.h"
#include "playermanager.h"
#include "support.h"

namespace {

using apptest::CEngineStandIn;
using apptest::CMountedFolder;
using apptest::Eventually;
using Calls = std::vector<std::string>;

const char* const kNames[] = {
    "idea0/2010-03-05/001/08.00.00-08.15.00[R][@1a2f][0].h264",
    "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1b2f][0].h264",
    "idea0/2010-03-05/003/08.00.00-08.15.00[R][@1c2f][0].h264",
    "idea0/2010-03-05/004/08.00.00-08.15.00[R][@1d2f][0].h264",
};

class PlaybackCommandsTest : public testing::Test {
 protected:
  PlaybackCommandsTest() {
    for (int j = 0; j < CPlayerManager::kPlayerCount; ++j)
      m_manager.CreatePlayer(m_video.GetWndHandle(j), j);
    m_manager.SetFileViewer([](const std::string&) {});
    m_commands.SetLayout(4);
    m_commands.SetMessageBox([this](const QString& text, const QString& caption) {
      m_messages.push_back(caption.toStdString() + ": " + text.toStdString());
    });
    m_engine.refuseInput = -1;  // runs keep offering their first block: they stay busy
  }
  ~PlaybackCommandsTest() override { m_engine.refuseInput = 0; }

  // Puts window i into `state` (1 playing, 2 paused, 4 single frame; 0 leaves it idle).
  void Make(int i, int state) {
    if (state == 0) return;
    ASSERT_EQ(m_manager.Open(i, m_mnt.Put(kNames[i % 4], std::string(1000, 'x'))), 1);
    ASSERT_TRUE(Eventually([&] { return m_manager.GetState(i) == 1; }));
    if (state == 2) {
      ASSERT_EQ(m_manager.Pause(i, 1), 1);
    }
    if (state == 4) {
      ASSERT_EQ(m_manager.StepNext(i), 1);
    }
  }
  void MakeAll(const std::vector<int>& states) {
    for (size_t i = 0; i < states.size(); ++i) Make(static_cast<int>(i), states[i]);
    m_engine.ClearCalls();
  }
  std::vector<int> States(int n) const {
    std::vector<int> s;
    for (int i = 0; i < n; ++i) s.push_back(m_manager.GetState(i));
    return s;
  }
  // The commands' calls (no polling of buffers and progress, no feeding).
  Calls Commands() const {
    return m_engine.CallsOf({"Play", "Pause", "Faster", "Slower", "StepNext", "StepFront",
                             "CloseStream", "SoundOn", "SoundOff", "GrabPicture", "StartRecord",
                             "StopRecord"});
  }
  QString Status(int i) const { return m_video.GetWndHandle(i)->statusText(); }

  CEngineStandIn m_engine;
  CMountedFolder m_mnt;
  CPlayerManager m_manager{&m_engine};
  lumenpane::CVideoWindow m_video;
  CPlaybackCommands m_commands{&m_video, &m_manager, nullptr,
                               [](const char* key) { return QString::fromUtf8(key); }};
  std::vector<std::string> m_messages;
};

// ---------------------------------------------------------------------------------------------
// All-window commands
// ---------------------------------------------------------------------------------------------

TEST_F(PlaybackCommandsTest, PauseAllTogglesEachWindow) {
  MakeAll({1, 2, 0, 4});
  EXPECT_EQ(m_commands.PauseAll(), 1);
  EXPECT_EQ(States(4), (std::vector<int>{2, 1, 0, 4}));
  EXPECT_EQ(Commands(), (Calls{"Pause(0,1)", "Pause(1,0)"}));
}

TEST_F(PlaybackCommandsTest, StopAllStopsAndResetsOnlyBusyWindows) {
  MakeAll({1, 2, 0, 4});
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));  // window 0 has sound
  m_engine.ClearCalls();
  EXPECT_EQ(m_commands.StopAll(), 1);
  EXPECT_EQ(States(4), (std::vector<int>{0, 0, 0, 0}));
  // Window 0's sound goes off as its window is released; idle window 2 is left alone.
  const Calls calls = Commands();
  for (const char* call : {"CloseStream(0)", "CloseStream(1)", "CloseStream(3)", "SoundOff(0)"})
    EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
  EXPECT_EQ(std::find(calls.begin(), calls.end(), "CloseStream(2)"), calls.end());
  EXPECT_FALSE(m_commands.IsAudio(0));
}

struct AllCase {
  const char* name;
  int (*run)(CPlaybackCommands&);
  Calls expected;  // for window 0 playing, 1 paused, 2 idle
};

void PrintTo(const AllCase& c, std::ostream* os) { *os << c.name; }

class AllWindowCommand : public PlaybackCommandsTest,
                         public testing::WithParamInterface<AllCase> {};

TEST_P(AllWindowCommand, ActsOnBusyWindowsOnly) {
  MakeAll({1, 2, 0});
  EXPECT_EQ(GetParam().run(m_commands), 1);
  EXPECT_EQ(Commands(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AllWindowCommand,
    testing::Values(
        AllCase{"SlowAll2", [](CPlaybackCommands& c) { return c.SlowAll(2); },
                {"Slower(0)", "Slower(0)", "Slower(1)", "Slower(1)"}},
        AllCase{"FastAll1", [](CPlaybackCommands& c) { return c.FastAll(1); },
                {"Faster(0)", "Faster(1)"}},
        AllCase{"StepFrontAll", [](CPlaybackCommands& c) { return c.StepFrontAll(); },
                {"StepFront(0)", "StepFront(1)"}},
        AllCase{"StepNextAll", [](CPlaybackCommands& c) { return c.StepNextAll(); },
                {"StepNext(0)", "StepNext(1)"}},
        AllCase{"ResumeAll", [](CPlaybackCommands& c) { return c.ResumeAll(); },
                {"Play(0,wnd)", "Pause(1,0)"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Focused-window commands and the context menu
// ---------------------------------------------------------------------------------------------

struct FocusedCase {
  int id;
  bool busy;
  bool chooserOk;
  Calls expected;
};

class FocusedWindowCommand : public PlaybackCommandsTest,
                             public testing::WithParamInterface<FocusedCase> {};

TEST_P(FocusedWindowCommand, RunsOnBusyWindowAndDoesNothingOnIdleOne) {
  const FocusedCase& c = GetParam();
  m_commands.SetFolderChooser([&](std::string* folder) {
    *folder = "/shots";
    return c.chooserOk;
  });
  MakeAll({0, c.busy ? 1 : 0});
  ASSERT_TRUE(m_video.SetCurWnd(1));
  EXPECT_TRUE(m_commands.OnCommand(c.id));
  Calls calls = Commands();
  for (std::string& call : calls)  // the snapshot's and the record's names hold the time
    call = call.substr(0, call.find(','));
  EXPECT_EQ(calls, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FocusedWindowCommand,
    testing::Values(FocusedCase{1624, false, true, {}},
                    FocusedCase{1626, false, true, {}},
                    FocusedCase{1627, false, true, {}},
                    FocusedCase{1628, false, true, {}},
                    FocusedCase{1624, true, true, {"CloseStream(1)"}},
                    FocusedCase{1626, true, true, {"SoundOn(1)"}},
                    FocusedCase{1627, true, true, {"StartRecord(1"}},
                    FocusedCase{1627, true, false, {}},
                    FocusedCase{1628, true, true, {"GrabPicture(1)"}},
                    FocusedCase{1634, true, true, {"GrabPicture(1)"}},
                    FocusedCase{1628, true, false, {}}),
    [](const auto& info) {
      return std::to_string(info.param.id) + (info.param.busy ? "_busy" : "_idle") +
             (info.param.chooserOk ? "" : "_cancelled");
    });

// Grey and check states of each entry, by object name (the command id).
std::map<std::string, std::pair<bool, bool>> MenuStates(QMenu* menu) {
  std::map<std::string, std::pair<bool, bool>> states;
  for (QAction* action : menu->actions())
    if (!action->objectName().isEmpty())
      states[action->objectName().toStdString()] = {action->isEnabled(), action->isChecked()};
  return states;
}

// A recording played to its end leaves its last picture in the window, marked as ended: the
// menu offers Close Window and Snapshot for it, and Close Window, Close All Windows and the
// bar's Stop take the picture away, back to the idle window.
TEST_F(PlaybackCommandsTest, EndedWindowIsMarkedAndClearedByEachClosingCommand) {
  const std::filesystem::path shots = m_mnt.Root() / "shots";
  std::filesystem::create_directories(shots);
  m_commands.SetFolderChooser([&](std::string* folder) {
    *folder = shots.string();
    return true;
  });
  using Close = std::function<void(CPlaybackCommands&)>;
  const std::pair<const char*, Close> closers[] = {
      {"Close Window", [](CPlaybackCommands& c) { c.OnCommand(CPlaybackCommands::kCmdCloseWindow); }},
      {"Close All Windows",
       [](CPlaybackCommands& c) { c.OnCommand(CPlaybackCommands::kCmdCloseAllWindow); }},
      {"Stop", [](CPlaybackCommands& c) { c.StopAll(); }},
  };
  m_engine.refuseInput = 0;  // runs end by themselves
  for (const auto& [name, close] : closers) {
    SCOPED_TRACE(name);
    ASSERT_EQ(m_manager.Open(0, m_mnt.Put(kNames[0], std::string(1000, 'x'))), 1);
    ASSERT_TRUE(Eventually([&] { return m_manager.GetEnded(0) == CPlayer::endPicture; }));
    m_video.GetWndHandle(0)->presentFrame(QImage(8, 8, QImage::Format_RGB32));  // the last picture
    m_commands.StatusPass();
    EXPECT_EQ(Status(0), "WndEnded");
    std::unique_ptr<QMenu> menu(m_commands.MakeContextMenu(nullptr));
    const auto states = MenuStates(menu.get());
    EXPECT_TRUE(states.at("1624").first) << "Close Window is offered";
    EXPECT_TRUE(states.at("1628").first) << "Snapshot is offered";

    close(m_commands);
    EXPECT_FALSE(m_video.GetWndHandle(0)->hasFrame()) << "the last picture stays";
    EXPECT_EQ(m_manager.GetEnded(0), CPlayer::endNone);
    m_commands.StatusPass();
    EXPECT_EQ(Status(0).trimmed(), "");
  }

  // Snapshot of the ended window, from its kept picture: the port itself has nothing now.
  ASSERT_EQ(m_manager.Open(0, m_mnt.Put(kNames[0], std::string(1000, 'x'))), 1);
  ASSERT_TRUE(Eventually([&] { return m_manager.GetEnded(0) == CPlayer::endPicture; }));
  m_engine.grabResult = 0;
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdSnapshot));
  EXPECT_TRUE(m_messages.empty());
  EXPECT_TRUE(std::filesystem::exists(shots / "CH01_2010-03-05_08-00-00.000.bmp"));

  // A recording of which no picture could be decoded says so.
  ASSERT_EQ(m_manager.Open(0, m_mnt.Put(kNames[0], std::string(1000, 'x'))), 1);
  ASSERT_TRUE(Eventually([&] { return m_manager.GetEnded(0) == CPlayer::endNoPicture; }));
  m_commands.StatusPass();
  EXPECT_EQ(Status(0), "NoPicture");
}

TEST_F(PlaybackCommandsTest, CloseAllWindowClosesEveryBusyWindow) {
  MakeAll({1, 0, 2});
  EXPECT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdCloseAllWindow));
  EXPECT_EQ(States(3), (std::vector<int>{0, 0, 0}));
}

TEST_F(PlaybackCommandsTest, AudioOnASecondWindowKeepsBothFlags) {
  MakeAll({1, 1});
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  ASSERT_TRUE(m_video.SetCurWnd(1));
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  EXPECT_TRUE(m_commands.IsAudio(0));
  EXPECT_TRUE(m_commands.IsAudio(1));
  EXPECT_EQ(m_commands.AudioWnd(), 1);
  EXPECT_TRUE(m_video.GetWndHandle(1)->soundMark());
  // Off again on window 1; a refused change leaves the flags alone.
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  EXPECT_FALSE(m_commands.IsAudio(1));
  EXPECT_EQ(m_commands.AudioWnd(), -1);
  m_engine.soundResult = 0;
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  EXPECT_FALSE(m_commands.IsAudio(1));
}

TEST_F(PlaybackCommandsTest, FailedSnapshotShowsTheMessage) {
  MakeAll({1});
  m_commands.SetFolderChooser([](std::string* folder) {
    *folder = "/shots";
    return true;
  });
  m_engine.grabResult = 0;
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdSnapshot));
  EXPECT_EQ(m_messages, (std::vector<std::string>{"Prompt: SnapshotFail"}));
}

TEST_F(PlaybackCommandsTest, ContextMenuGreysTheFocusedWindowsCommandsWhenIdle) {
  ASSERT_TRUE(m_video.SetCurWnd(2));
  std::unique_ptr<QMenu> menu(m_commands.MakeContextMenu(nullptr));
  EXPECT_EQ(menu->actions().front()->text(), "Window:3");
  using S = std::pair<bool, bool>;  // enabled, checked
  EXPECT_EQ(MenuStates(menu.get()),
            (std::map<std::string, S>{{"0", S{true, false}},
                                      {"1624", S{false, false}},
                                      {"1625", S{true, false}},
                                      {"1626", S{false, false}},
                                      {"1627", S{false, false}},
                                      {"1628", S{false, false}},
                                      {"1634", S{false, false}},
                                      {"1639", S{true, false}},
                                      {"1640", S{true, true}},     // time label, on
                                      {"1641", S{true, false}}}));  // Go to Time
  // The layout pop-up: WndSpliter > 1 (1642), 4 (1643, checked), 6WndSpliter (1629, 1630),
  // 9WndSpliter (1631-1633), 16, 25, 36 (1644-1646); then full screen (1639).
  EXPECT_EQ(menu->actions().back()->objectName(), "1639");
  QMenu* split = menu->actions().at(menu->actions().size() - 2)->menu();
  ASSERT_NE(split, nullptr);
  std::vector<std::string> entries;
  for (QAction* a : split->actions())
    entries.push_back(a->menu() ? std::to_string(a->menu()->actions().size()) + " entries"
                                : a->objectName().toStdString() + (a->isChecked() ? "*" : ""));
  EXPECT_EQ(entries, (std::vector<std::string>{"1642", "1643*", "2 entries", "3 entries", "1644", "1645", "1646"}));
}

TEST_F(PlaybackCommandsTest, ContextMenuChecksSoundAndRecordOfABusyWindow) {
  MakeAll({1});
  m_commands.SetFolderChooser([](std::string* folder) {
    *folder = "/rec";
    return true;
  });
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdLocalRecord));
  std::unique_ptr<QMenu> menu(m_commands.MakeContextMenu(nullptr));
  auto states = MenuStates(menu.get());
  EXPECT_EQ(states["1624"], std::make_pair(true, false));
  EXPECT_EQ(states["1626"], std::make_pair(true, true));
  EXPECT_EQ(states["1627"], std::make_pair(true, true));
}

// The engine ends a local record with its stream: once the window's player has closed, the
// record flag is off again and the menu no longer checks it.
TEST_F(PlaybackCommandsTest, LocalRecordFlagClearedWhenThePlayerCloses) {
  MakeAll({1});
  m_commands.SetFolderChooser([](std::string* folder) {
    *folder = "/rec";
    return true;
  });
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdLocalRecord));
  ASSERT_TRUE(m_commands.IsRecord(0));
  m_engine.refuseInput = 0;  // the recording plays to its end and the run closes
  ASSERT_TRUE(Eventually([&] { return m_manager.GetState(0) == 0; }));
  m_commands.StatusPass();
  EXPECT_FALSE(m_commands.IsRecord(0));
  std::unique_ptr<QMenu> menu(m_commands.MakeContextMenu(nullptr));
  EXPECT_FALSE(MenuStates(menu.get())["1627"].second);
}

TEST_F(PlaybackCommandsTest, ReplacingAWindowsRecordingForgetsItsLocalRecord) {
  MakeAll({1});
  m_commands.SetFolderChooser([](std::string* folder) {
    *folder = "/rec";
    return true;
  });
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdLocalRecord));
  EXPECT_EQ(m_commands.PlayFile(m_mnt.Put(kNames[1], "y")), 1);
  EXPECT_FALSE(m_commands.IsRecord(0));
  EXPECT_EQ(m_manager.Player(0)->GetPath(), "/mnt/" + std::string(kNames[1]));
}

// Ending the program while local records are written: Cancel keeps them running, OK ends each
// one properly (the engine's StopRecord finishes the file) before the program goes.
TEST_F(PlaybackCommandsTest, EndingWhileRecordingAsksAndFinishesEachFile) {
  int asked = 0;
  EXPECT_TRUE(m_commands.MayEnd([&] { return ++asked, false; }));
  EXPECT_EQ(asked, 0) << "nothing recording: nothing to ask";
  MakeAll({1, 1});
  m_commands.SetFolderChooser([](std::string* folder) {
    *folder = "/rec";
    return true;
  });
  for (int w : {0, 1}) {
    ASSERT_TRUE(m_video.SetCurWnd(w));
    ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdLocalRecord));
  }
  m_engine.ClearCalls();
  EXPECT_FALSE(m_commands.MayEnd([&] { return ++asked, false; }));
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(m_commands.IsRecord(0) && m_commands.IsRecord(1));
  EXPECT_EQ(Commands(), Calls{});
  EXPECT_TRUE(m_commands.MayEnd([&] { return ++asked, true; }));
  EXPECT_EQ(Commands(), (Calls{"StopRecord(0)", "StopRecord(1)"}));
  EXPECT_FALSE(m_commands.IsRecord(0) || m_commands.IsRecord(1));
}

// A window a smaller layout hides stops playing and sounding; shown again it is still paused.
TEST_F(PlaybackCommandsTest, WindowsASmallerLayoutHidesArePausedAndMuted) {
  m_commands.SetLayout(9);
  MakeAll({1, 0, 0, 0, 0, 0, 1, 2});
  ASSERT_TRUE(m_video.SetCurWnd(6));
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdAudio));
  m_engine.ClearCalls();
  ASSERT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdLayout4));
  EXPECT_EQ(States(8), (std::vector<int>{1, 0, 0, 0, 0, 0, 2, 2}));
  EXPECT_EQ(Commands(), (Calls{"Pause(6,1)", "SoundOff(6)"}));
  EXPECT_FALSE(m_commands.IsAudio(6));
  EXPECT_EQ(m_commands.AudioWnd(), -1);
  m_commands.SetLayout(9);
  EXPECT_EQ(States(8), (std::vector<int>{1, 0, 0, 0, 0, 0, 2, 2}));
}

TEST_F(PlaybackCommandsTest, LayoutEntriesOfTheMenu) {
  for (auto [id, layout] : {std::pair{1630, 6}, {1633, 9}, {1629, 6}, {1631, 9}, {1632, 9}, {1642, 1},
                            {1643, 4}, {1644, 16}, {1645, 25}, {1646, 36}}) {
    EXPECT_TRUE(m_commands.OnCommand(id));
    EXPECT_EQ(m_video.GetWndCount(), layout) << id;
    EXPECT_EQ(m_commands.Layout(), layout) << id;
  }
  EXPECT_FALSE(m_commands.OnCommand(0));
}

// ---------------------------------------------------------------------------------------------
// Playing, layouts, status
// ---------------------------------------------------------------------------------------------

TEST_F(PlaybackCommandsTest, PlayFileWithoutPathPlaysTheTreesSelection) {
  std::string selected;
  m_commands.SetSelectedFile([&](std::string* rooted) {
    *rooted = selected;
    return !selected.empty();
  });
  EXPECT_EQ(m_commands.PlayFile(), 0);
  EXPECT_EQ(m_commands.PlayFile(std::string()), 0);
  m_mnt.Put(kNames[2], "z");
  selected = kNames[2];
  ASSERT_TRUE(m_video.SetCurWnd(3));
  EXPECT_EQ(m_commands.PlayFile(), 1);
  EXPECT_EQ(m_manager.Player(3)->GetPath(), "/mnt/" + selected);
}

TEST_F(PlaybackCommandsTest, PlayFilesOpensEntriesBelowNInTheirWindows) {
  SyncPlayTable table;
  table[0] = m_mnt.Put(kNames[0], "a");
  table[2] = m_mnt.Put(kNames[2], "c");
  table[3] = m_mnt.Put(kNames[3], "d");
  EXPECT_EQ(m_commands.PlayFiles(table, 3), 1);
  EXPECT_TRUE(Eventually([&] { return States(4) == std::vector<int>{1, 0, 1, 0}; }));
}

TEST_F(PlaybackCommandsTest, SetLayoutForCountTakesTheSmallestSquareThatHolds) {
  for (auto [n, layout] : {std::pair{1, 4}, {4, 4}, {5, 9}, {9, 9}, {10, 16}, {17, 25},
                           {25, 25}, {26, 36}, {31, 36}}) {
    m_commands.SetLayoutForCount(n);
    EXPECT_EQ(m_video.GetWndCount(), layout) << n;
  }
}

TEST_F(PlaybackCommandsTest, StatusPassWritesTextsAndTheFocusedProgress) {
  std::vector<std::pair<int, int>> progress;
  m_commands.SetProgressSink([&](int w, int p) { progress.emplace_back(w, p); });
  MakeAll({1, 2, 4, 0});
  m_engine.playedSeconds = 450;  // of 900 s
  EXPECT_TRUE(m_commands.StatusPass()) << "windows are busy";
  EXPECT_EQ(Status(0), "");
  EXPECT_EQ(Status(1), "Pause            ");
  EXPECT_EQ(Status(2), "SingleFrame            ");
  EXPECT_EQ(Status(3), "           ");
  EXPECT_EQ(m_engine.CallsOf({"PausedTick"}), (Calls{"PausedTick(1)", "PausedTick(2)"}));
  // 100 per cent or more is reported as 0; an idle focused window reports 0; a paused one
  // nothing.
  m_engine.playedSeconds = 900;
  m_commands.StatusPass();
  ASSERT_TRUE(m_video.SetCurWnd(3));
  m_commands.StatusPass();
  ASSERT_TRUE(m_video.SetCurWnd(1));
  m_commands.StatusPass();
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 50}, {0, 0}, {3, 0}}));
}

TEST_F(PlaybackCommandsTest, PlayingStartsTheStatusPassesAndTheLastIdlePassEndsThem) {
  int started = 0;
  m_commands.SetPlayStarted([&] { ++started; });
  EXPECT_FALSE(m_commands.StatusPass()) << "nothing plays: no more passes";
  EXPECT_EQ(Status(0), "           ");
  ASSERT_EQ(m_commands.PlayFile(m_mnt.Put(kNames[0], std::string(1000, 'x'))), 1);
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(m_commands.StatusPass()) << "starting counts as busy";
  ASSERT_TRUE(Eventually([&] { return m_manager.GetState(0) == 1; }));
  EXPECT_TRUE(m_commands.StatusPass());
  SyncPlayTable table;
  table[1] = m_mnt.Put(kNames[1], "b");
  m_commands.PlayFiles(table, 2);
  EXPECT_EQ(started, 2);
  m_manager.Close(0);
  m_manager.Close(1);
  EXPECT_FALSE(m_commands.StatusPass());
}

TEST_F(PlaybackCommandsTest, DoubleClickSwitchesTheFullPaneView) {
  short mode = -1;
  m_commands.ToggleDisplay();
  m_video.GetDisplayState(&mode, nullptr);
  EXPECT_EQ(mode, 1);
  m_commands.ToggleDisplay();
  m_video.GetDisplayState(&mode, nullptr);
  EXPECT_EQ(mode, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Time: seeks, jumps, going to a moment, the time on screen
// ---------------------------------------------------------------------------------------------

namespace {

Calls Seeks(const CEngineStandIn& engine) { return engine.CallsOf({"Seek"}); }

TEST_F(PlaybackCommandsTest, SliderReleaseSeeksTheFocusedWindowAndKeysJumpEveryBusyWindow) {
  MakeAll({1, 2, 0, 4});
  ASSERT_TRUE(m_video.SetCurWnd(1));
  // 15-minute recordings: 40 % is 6 minutes.
  EXPECT_EQ(m_commands.SeekFocusedPercent(40), 1);
  EXPECT_EQ(Seeks(m_engine), (Calls{"Seek(1,360000)"}));
  m_engine.ClearCalls();
  m_engine.pictureTime = 5'000;
  EXPECT_EQ(m_commands.JumpAll(-CPlaybackCommands::kJumpShortMs), 3);  // idle window 2 left out
  EXPECT_EQ(m_commands.JumpAll(CPlaybackCommands::kJumpLongMs), 3);
  EXPECT_EQ(Seeks(m_engine), (Calls{"Seek(0,0)", "Seek(1,0)", "Seek(3,0)", "Seek(0,65000)",
                                    "Seek(1,65000)", "Seek(3,65000)"}));
  m_engine.ClearCalls();
  EXPECT_EQ(m_commands.SeekAllToEdge(false), 3);
  EXPECT_EQ(Seeks(m_engine).front(), "Seek(0,0)");
  // Space: a window plays, so only playing windows pause; then everything plays on, the
  // single-frame window included.
  m_engine.ClearCalls();
  m_commands.TogglePauseAll();
  EXPECT_EQ(States(4), (std::vector<int>{2, 2, 0, 4}));
  m_commands.TogglePauseAll();
  EXPECT_EQ(States(4), (std::vector<int>{1, 1, 0, 1}));
}

TEST_F(PlaybackCommandsTest, GoingToAMomentSeeksOpensOrSaysNothingWasRecorded) {
  MakeAll({1, 1, 1, 0});
  // Channel 2 recorded on to 08:30 in another partition; channel 3 stopped at 08:15.
  const std::string later = m_mnt.Put("idea1/2010-03-05/002/08.15.00-08.30.00[R][@2b2f][0].h264",
                                      std::string(1000, 'x'));
  m_commands.SetRecordingLister([&](const std::string&, int channel, const QDateTime&) {
    return channel == 2 ? std::vector<std::string>{later} : std::vector<std::string>{};
  });
  m_engine.ClearCalls();
  const QDateTime inside(QDate(2010, 3, 5), QTime(8, 5, 30));
  EXPECT_EQ(m_commands.PositionAllAt(inside), 3);
  EXPECT_EQ(Seeks(m_engine), (Calls{"Seek(0,330000)", "Seek(1,330000)", "Seek(2,330000)"}));

  m_engine.ClearCalls();
  EXPECT_EQ(m_commands.PositionAllAt(QDateTime(QDate(2010, 3, 5), QTime(8, 20, 0))), 1);
  ASSERT_TRUE(Eventually([&] { return m_manager.GetState(1) == 1; }));
  EXPECT_EQ(m_manager.Player(1)->GetPath(), later);
  EXPECT_EQ(Seeks(m_engine), Calls{});  // the stand-in is fed: the player starts at 0
  for (int i : {0, 2}) {
    EXPECT_EQ(m_manager.GetState(i), 0) << i;
    // The texts are the language keys here: "no recording at 08:20:00" in English.
    EXPECT_EQ(m_commands.WindowDescription(i), "NoRecordingAt") << i;
  }
}

TEST_F(PlaybackCommandsTest, WindowsCarryTheirTimeAsLabelAndDescription) {
  MakeAll({1, 0});
  m_engine.pictureTime = 192'000;
  ASSERT_EQ(m_manager.SetFast(0, 2), 1);
  std::vector<QString> bar;
  m_commands.SetTimeSink([&](const QString& text) { bar.push_back(text); });
  m_commands.StatusPass();
  lumenpane::CVideoPane* busy = m_video.GetWndHandle(0);
  EXPECT_EQ(busy->timeLabel(), "CH 01  2010-03-05 08:03:12  ×4");
  EXPECT_EQ(busy->accessibleDescription(), busy->timeLabel());
  EXPECT_EQ(m_video.GetWndHandle(1)->accessibleDescription(), "Idle");
  EXPECT_EQ(m_video.GetWndHandle(1)->timeLabel(), "");
  ASSERT_FALSE(bar.empty());
  EXPECT_EQ(bar.back(), "2010-03-05 08:03:12  03:12 / 15:00");  // window 0 has the focus
  // T turns the labels off; the description stays for screen readers.
  EXPECT_TRUE(m_commands.OnCommand(CPlaybackCommands::kCmdTimeLabel));
  EXPECT_EQ(busy->timeLabel(), "");
  EXPECT_EQ(busy->accessibleDescription(), "CH 01  2010-03-05 08:03:12  ×4");
}

}  // namespace

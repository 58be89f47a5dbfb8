// CPlayer against an engine stand-in that logs its calls: the feeding loop's order of calls and
// its failures, the speed steps table, single frames, the commands' states, progress, snapshot
// and record file names.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <catalog/sha256.h>

#include "krt_testing/scratch.h"
#include "player.h"
#include "support.h"

namespace {

using apptest::CEngineStandIn;
using apptest::CMountedFolder;
using apptest::CNullSink;
using apptest::Eventually;

using Calls = std::vector<std::string>;

constexpr int kPort = 3;
const std::string kName = "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264";

std::string Bytes(size_t n) {
  std::mt19937 random(static_cast<unsigned>(n));
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

class PlayerTest : public testing::Test {
 protected:
  // A player on a port with a window, or without one.
  std::unique_ptr<CPlayer> MakePlayer(bool window) {
    return std::make_unique<CPlayer>(window ? &m_sink : nullptr, kPort, &m_engine);
  }

  // Starts a run of kName that keeps offering its first block (the engine refuses every
  // offer) and waits until it plays.
  void StartHeldRun() {
    m_engine.refuseInput = -1;
    ASSERT_EQ(m_player->Open(m_mnt.Put(kName, Bytes(1000))), 1);
    ASSERT_TRUE(Eventually([&] {
      return m_player->GetState() == CPlayer::statePlaying && m_engine.Count("InputData") > 0;
    }));
  }

  // Waits until a run has ended by itself.
  void WaitForRunEnd() {
    ASSERT_TRUE(Eventually([&] {
      return m_player->IsStopped() && m_player->GetState() == CPlayer::stateIdle;
    }));
  }

  // The calls of one run, without the polls of the buffered data and progress.
  Calls RunCalls() const {
    return m_engine.CallsOf({"Prepare", "OpenStream", "SetStreamMode", "Play", "InputData",
                             "Stop", "CloseStream"});
  }

  CEngineStandIn m_engine;
  CNullSink m_sink;
  CMountedFolder m_mnt;
  std::unique_ptr<CPlayer> m_player = MakePlayer(true);
};

// ---------------------------------------------------------------------------------------------
// The feeding loop
// ---------------------------------------------------------------------------------------------

TEST_F(PlayerTest, RunFeedsTheWholeFileInBlocksThenWaitsUntilShownAndCloses) {
  const std::string content = Bytes(3 * CPlayer::kBlockSize + 1696);
  m_engine.holdDrain = true;
  m_engine.buffered = 0;
  ASSERT_EQ(m_player->Open(m_mnt.Put(kName, content)), 1);
  ASSERT_TRUE(Eventually([&] { return m_engine.Count("GetBufferedData") > 0; }));

  // Everything was fed; the engine still shows: the player plays on and waits.
  EXPECT_EQ(m_engine.Taken(), content);
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);
  // Fed and (as the user-interface thread is told) all shown: complete.
  EXPECT_EQ(m_player->GetProgress(), 100);

  m_engine.holdDrain = false;
  WaitForRunEnd();
  EXPECT_EQ(RunCalls(), (Calls{"Prepare()", "OpenStream(3,header,1,2048000)", "SetStreamMode(3,1)",
                               "Play(3,wnd)", "InputData(3,32768)", "InputData(3,32768)",
                               "InputData(3,32768)", "InputData(3,1696)", "Stop(3)",
                               "CloseStream(3)"}));
  EXPECT_EQ(m_player->GetProgress(), 0) << "the fed mark belongs to the run that ended";
}

TEST_F(PlayerTest, RefusedBlockIsOfferedAgainUntilTaken) {
  const std::string content = Bytes(CPlayer::kBlockSize + 7232);
  m_engine.refuseInput = 2;
  ASSERT_EQ(m_player->Open(m_mnt.Put(kName, content)), 1);
  WaitForRunEnd();
  EXPECT_EQ(m_engine.CallsOf({"InputData"}),
            (Calls{"InputData(3,32768)", "InputData(3,32768)", "InputData(3,32768)",
                   "InputData(3,7232)"}));
  EXPECT_EQ(m_engine.Taken(), content);
}

struct FailureCase {
  const char* name;
  int openStream;
  int play;
  bool fileExists;
  Calls calls;
};

TEST_F(PlayerTest, FailedStartOfARunClosesTheStreamAndLeavesThePlayerIdle) {
  const FailureCase cases[] = {
      {"stream does not open", 0, 1, true,
       {"Prepare()", "OpenStream(3,header,1,2048000)", "CloseStream(3)"}},
      {"display does not start", 1, 0, true,
       {"Prepare()", "OpenStream(3,header,1,2048000)", "SetStreamMode(3,1)", "Play(3,wnd)",
        "CloseStream(3)"}},
      {"file does not open", 1, 1, false,
       {"Prepare()", "OpenStream(3,header,1,2048000)", "SetStreamMode(3,1)", "Play(3,wnd)",
        "Stop(3)", "CloseStream(3)"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    m_engine.ClearCalls();
    m_engine.openStreamResult = c.openStream;
    m_engine.playResult = c.play;
    const std::string path =
        c.fileExists ? m_mnt.Put(kName, Bytes(100)) : "/mnt/idea1/2010-03-05/002/08.00.00-08.15.00[R].h264";
    ASSERT_EQ(m_player->Open(path), 1);
    ASSERT_TRUE(Eventually([&] { return m_engine.Count("CloseStream") == 1; }));
    WaitForRunEnd();
    EXPECT_EQ(RunCalls(), c.calls);
  }
}

// ---------------------------------------------------------------------------------------------
// Open, Close, Stop
// ---------------------------------------------------------------------------------------------

TEST_F(PlayerTest, OpenOfAPathThatDoesNotReadLeavesTheRunningPlaybackAlone) {
  StartHeldRun();
  const std::string playing = m_player->GetPath();
  for (const char* bad : {"/mnt/idea0/garbage", "/home/user/08.00.00-08.15.00.h264", "",
                          "/mnt/idea0/2010-03-05/002/32.00.00-08.15.00[R][@1a2f][0].h264"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(m_player->Open(bad), 0);
  }
  EXPECT_EQ(m_player->GetPath(), playing);
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);
  const size_t offers = m_engine.Count("InputData");
  EXPECT_TRUE(Eventually([&] { return m_engine.Count("InputData") > offers; }))
      << "the feeding loop stopped";
  EXPECT_EQ(m_engine.Count("Stop") + m_engine.Count("CloseStream"), 0u);

  EXPECT_EQ(m_player->Close(), 1);
  EXPECT_EQ(m_player->GetState(), CPlayer::stateIdle);
  const Calls calls = m_engine.Calls();
  EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"Stop(3)", "CloseStream(3)"}));
}

TEST_F(PlayerTest, OpenOnAPlayingPlayerEndsTheOldRunBeforeTheNewOneStartsAtNormalSpeed) {
  StartHeldRun();
  ASSERT_EQ(m_player->SetFast(2), 1);
  m_engine.ClearCalls();
  const std::string next = m_mnt.Put("idea0/2010-03-05/003/09.00.00-09.30.00[R][@2b][0].h264",
                                     Bytes(100));
  ASSERT_EQ(m_player->Open(next), 1);
  EXPECT_EQ(m_player->GetPath(), next);
  EXPECT_EQ(m_player->GetPlayStatus(), CPlayer::speedNormal);
  ASSERT_TRUE(Eventually([&] { return m_engine.Count("Prepare") == 1; }));
  const Calls calls = RunCalls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(Calls(calls.begin(), calls.begin() + 3), (Calls{"Stop(3)", "CloseStream(3)", "Prepare()"}));
}

TEST_F(PlayerTest, StopOnAnIdlePlayerClosesTheStreamAndSucceeds) {
  EXPECT_EQ(m_player->Stop(), 1);
  EXPECT_EQ(m_engine.Calls(), Calls{"CloseStream(3)"});
  EXPECT_EQ(m_player->GetState(), CPlayer::stateIdle);

  m_engine.closeStreamResult = 0;
  EXPECT_EQ(m_player->Stop(), 1);
}

TEST_F(PlayerTest, StopEndsARunningLoopThenClosesTheStream) {
  StartHeldRun();
  EXPECT_EQ(m_player->Stop(), 1);
  EXPECT_TRUE(m_player->IsStopped());
  EXPECT_EQ(m_player->GetState(), CPlayer::stateIdle);
  const Calls calls = m_engine.Calls();
  EXPECT_EQ(Calls(calls.end() - 3, calls.end()),
            (Calls{"Stop(3)", "CloseStream(3)", "CloseStream(3)"}));
}

TEST_F(PlayerTest, DestroyingAPlayingPlayerEndsItsRun) {
  StartHeldRun();
  m_player.reset();
  const Calls calls = m_engine.Calls();
  EXPECT_EQ(calls.back(), "CloseStream(3)");
}

// ---------------------------------------------------------------------------------------------
// Speed, single frame, pause
// ---------------------------------------------------------------------------------------------

// The engine calls of a move between speed levels (rows: from, columns: to; 0 normal, 1-3 slow,
// 4-6 fast; P = Play, S = Slower, F = Faster).
const char* const kSpeedCalls[7][7] = {
    {"", "S", "S S", "S S S", "F", "F F", "F F F"},
    {"P", "", "S", "S S", "P F", "P F F", "P F F F"},
    {"P", "F", "", "S", "P F", "P F F", "P F F F"},
    {"P", "F F", "F", "", "P F", "P F F", "P F F F"},
    {"P", "P S", "P S S", "P S S S", "", "F", "F F"},
    {"P", "P S", "P S S", "P S S S", "S", "", "F"},
    {"P", "P S", "P S S", "P S S S", "S S", "S", ""},
};

int GoToLevel(CPlayer& player, int level) {
  if (level >= 1 && level <= 3) return player.SetSlow(level);
  return player.SetFast(level == 0 ? 0 : level - 3);
}

// The calls as letters; any call other than Play, Slower and Faster shows under its own name.
std::string Letters(const Calls& calls) {
  std::string out;
  for (const std::string& call : calls) {
    if (!out.empty()) out += ' ';
    const std::string name = call.substr(0, call.find('('));
    out += name == "Play" ? "P" : name == "Slower" ? "S" : name == "Faster" ? "F" : call;
  }
  return out;
}

TEST_F(PlayerTest, SpeedStepsTable) {
  for (bool window : {true, false}) {
    for (int from = 0; from < 7; ++from) {
      for (int to = 0; to < 7; ++to) {
        SCOPED_TRACE(testing::Message() << (window ? "window" : "no window") << ", level "
                                        << from << " -> " << to);
        auto player = MakePlayer(window);
        ASSERT_EQ(GoToLevel(*player, from), 1);
        m_engine.ClearCalls();
        EXPECT_EQ(GoToLevel(*player, to), 1);
        // Without a window a move between the slow and the fast side makes no call at all.
        const bool across = (from >= 1 && from <= 3 && to >= 4) || (from >= 4 && to >= 1 && to <= 3);
        EXPECT_EQ(Letters(m_engine.Calls()), !window && across ? "" : kSpeedCalls[from][to]);
        EXPECT_EQ(player->GetPlayStatus(), to);
      }
    }
  }
}

TEST_F(PlayerTest, SpeedLevelOutOfRangeChangesNoSpeed) {
  ASSERT_EQ(m_player->SetSlow(2), 1);
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->SetSlow(0), 0);
  EXPECT_EQ(m_player->SetSlow(4), 0);
  EXPECT_EQ(m_player->SetFast(4), 0);
  EXPECT_EQ(m_player->SetFast(-1), 0);
  EXPECT_EQ(m_engine.Calls(), Calls{});
  EXPECT_EQ(m_player->GetPlayStatus(), 2);
}

TEST_F(PlayerTest, StepFromFastSpeedReturnsToNormalFirst) {
  StartHeldRun();
  ASSERT_EQ(m_player->SetFast(2), 1);
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->StepNext(), 1);
  EXPECT_EQ(Letters(m_engine.Calls()), "P StepNext(3)");
  EXPECT_EQ(m_player->GetPlayStatus(), CPlayer::speedNormal);
  EXPECT_EQ(m_player->GetState(), CPlayer::stateSingleFrame);

  m_engine.ClearCalls();
  m_engine.stepResult = 0;
  EXPECT_EQ(m_player->StepFront(), 0);
  EXPECT_EQ(m_engine.Calls(), Calls{"StepFront(3)"});
}

TEST_F(PlayerTest, SpeedChangeEndsSingleFrameModeUnlessPlayFails) {
  StartHeldRun();
  ASSERT_EQ(m_player->StepNext(), 1);

  m_engine.playResult = 0;
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->SetSlow(2), 0);
  EXPECT_EQ(m_engine.Calls(), Calls{"Play(3,wnd)"});
  EXPECT_EQ(m_player->GetState(), CPlayer::stateSingleFrame);
  EXPECT_EQ(m_player->GetPlayStatus(), CPlayer::speedNormal);

  m_engine.playResult = 1;
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->SetSlow(4), 0);  // out of range: single-frame mode still ends
  EXPECT_EQ(m_engine.Calls(), Calls{"Play(3,wnd)"});
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);
  EXPECT_EQ(m_player->GetPlayStatus(), CPlayer::speedNormal);
}

TEST_F(PlayerTest, PauseAndResume) {
  StartHeldRun();
  EXPECT_EQ(m_player->Pause(1), 1);
  EXPECT_EQ(m_player->GetState(), CPlayer::statePaused);
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->Resume(), 1);
  EXPECT_EQ(m_engine.Calls(), Calls{"Pause(3,0)"});
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);

  m_engine.pauseResult = 0;
  EXPECT_EQ(m_player->Pause(1), 0);
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);

  // Resuming a playing player at another speed plays at normal speed.
  ASSERT_EQ(m_player->SetSlow(3), 1);
  m_engine.ClearCalls();
  m_engine.playResult = 0;
  EXPECT_EQ(m_player->Resume(), 1);
  EXPECT_EQ(m_engine.Calls(), Calls{"Play(3,wnd)"});
  EXPECT_EQ(m_player->GetPlayStatus(), CPlayer::speedNormal);
  EXPECT_EQ(m_player->GetState(), CPlayer::statePlaying);
}

TEST_F(PlayerTest, CommandsNeverWakeAnIdlePlayer) {
  EXPECT_EQ(m_player->Pause(1), 1);
  EXPECT_EQ(m_player->StepNext(), 1);
  EXPECT_EQ(m_player->Resume(), 1);
  EXPECT_EQ(m_player->GetState(), CPlayer::stateIdle);
}

// ---------------------------------------------------------------------------------------------
// Progress
// ---------------------------------------------------------------------------------------------

struct ProgressCase {
  const char* times;   // the clock times of the recording's name
  unsigned played;     // seconds the engine reports
  int progress;
};

TEST_F(PlayerTest, ProgressStaysWithinZeroToHundred) {
  const ProgressCase cases[] = {
      {"08.00.00-08.15.00", 0, 0},     {"08.00.00-08.15.00", 450, 50},
      {"08.00.00-08.15.00", 899, 99},  {"08.00.00-08.15.00", 2000, 100},
      {"23.50.00-00.10.00", 600, 50},  // past midnight: 20 minutes
      {"23.59.59-00.00.00", 1, 100},   {"10.00.00-10.00.00", 30, 0},
  };
  m_engine.openStreamResult = 0;  // each run ends at once; the duration stays
  for (const ProgressCase& c : cases) {
    SCOPED_TRACE(c.times);
    ASSERT_EQ(m_player->Open(std::string("/mnt/idea0/2010-03-05/002/") + c.times + "[R].h264"), 1);
    WaitForRunEnd();
    m_engine.playedSeconds = c.played;
    EXPECT_EQ(m_player->GetProgress(), c.progress);
  }
  EXPECT_EQ(m_player->Close(), 1);
  EXPECT_EQ(m_player->GetProgress(), 0);
}

// ---------------------------------------------------------------------------------------------
// Snapshot and local record
// ---------------------------------------------------------------------------------------------

TEST(PlayerFileNames, SnapshotIsNamedAfterChannelAndPictureTime) {
  struct Case {
    const char* path;
    int64_t positionUs;
    SnapshotFormat format;
    const char* name;
  };
  const Case cases[] = {
      {"/mnt/idea0/2024-03-05/002/14.05.00-14.15.00[R][@bc][0].h264", 30'040'000,
       SnapshotFormat::Bmp, "CH02_2024-03-05_14-05-30.040.bmp"},
      // Two pictures of one second differ by their milliseconds.
      {"/mnt/idea0/2024-03-05/002/14.05.00-14.15.00[R][@bc][0].h264", 30'080'000,
       SnapshotFormat::Png, "CH02_2024-03-05_14-05-30.080.png"},
      // Past midnight the picture lies on the next day.
      {"/mnt/ideb1/2010-12-31/064/23.59.59-00.10.00[R][@1][0].h264", 2'000'999,
       SnapshotFormat::Bmp, "CH64_2011-01-01_00-00-01.000.bmp"},
  };
  for (const Case& c : cases) {
    RecordingName r;
    ASSERT_TRUE(ParseRecordingPath(c.path, &r)) << c.path;
    EXPECT_EQ(SnapshotFileName(r, c.positionUs, c.format), c.name);
  }
}

TEST(PlayerFileNames, RecordIsNamedAfterChannelDayAndRecording) {
  RecordingName r;
  ASSERT_TRUE(ParseRecordingPath("/mnt/" + kName, &r));
  EXPECT_EQ(RecordFilePath("/home/user/rec", r),
            "/home/user/rec/002_20100305_08.00.00-08.15.00[R][@1a2f][0].h264");
}

// A capture never replaces an earlier file: the first free numbered name beside it.
TEST(PlayerFileNames, UnusedFilePathNumbersPastExistingFiles) {
  krt_testing::ScratchDir scratch;
  for (const char* name : {"a.bmp", "a_2.bmp", "plain", "x.tar.gz"}) std::ofstream(scratch.path(name)) << "x";
  const struct {
    const char* name;
    const char* unused;
  } cases[] = {
      {"new.bmp", "new.bmp"}, {"a.bmp", "a_3.bmp"}, {"plain", "plain_2"}, {"x.tar.gz", "x.tar_2.gz"},
  };
  for (const auto& c : cases) EXPECT_EQ(UnusedFilePath(scratch.path(c.name)), scratch.path(c.unused)) << c.name;
}

std::string FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(PlayerTest, SnapshotWritesThePictureAndASidecarThenShowsIt) {
  std::vector<std::string> shown;
  m_player->SetFileViewer([&](const std::string& path) { shown.push_back(path); });
  const std::filesystem::path folder = m_mnt.Root() / "shots";
  std::filesystem::create_directories(folder);
  EXPECT_EQ(m_player->Snapshot(folder.string()), 0) << "nothing played yet";
  StartHeldRun();
  m_engine.grabPositionUs = 1'500'000;
  m_engine.grabIndex = 37;

  for (const SnapshotFormat format : {SnapshotFormat::Bmp, SnapshotFormat::Png}) {
    const bool png = format == SnapshotFormat::Png;
    ASSERT_EQ(m_player->Snapshot(folder.string(), format), 1);
    const std::filesystem::path image =
        folder / (png ? "CH02_2010-03-05_08-00-01.500.png" : "CH02_2010-03-05_08-00-01.500.bmp");
    ASSERT_EQ(shown.back(), image.string());
    const std::string bytes = FileBytes(image);
    EXPECT_EQ(bytes.substr(0, png ? 4 : 2), png ? "\x89PNG" : "BM");
    // Lossless either way: the picture reads back exactly.
    QImage back(QString::fromStdString(image.string()));
    QImage expected(4, 4, QImage::Format_RGB888);
    expected.fill(Qt::gray);
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB888), expected);

    QFile json(QString::fromStdString(image.string() + ".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject sidecar = QJsonDocument::fromJson(json.readAll()).object();
    Sha256 digest;
    digest.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(sidecar["sha256"].toString().toStdString(), digest.hex());
    EXPECT_EQ(sidecar["recording"].toString().toStdString(), "/mnt/" + kName);
    EXPECT_EQ(sidecar["disk"].toInt(), 0);
    EXPECT_EQ(sidecar["partition"].toInt(), 0);
    EXPECT_EQ(sidecar["picture_time"].toString(), "2010-03-05T08:00:01.500");
    EXPECT_EQ(sidecar["picture_index"].toInt(), 37);
    EXPECT_TRUE(sidecar["source"].toString().contains("4x4")) << sidecar["source"].toString().toStdString();
  }

  // The same picture again: a numbered name beside the first, which is never replaced.
  ASSERT_EQ(m_player->Snapshot(folder.string(), SnapshotFormat::Bmp), 1);
  EXPECT_EQ(shown.back(), (folder / "CH02_2010-03-05_08-00-01.500_2.bmp").string());
  EXPECT_TRUE(std::filesystem::exists(folder / "CH02_2010-03-05_08-00-01.500_2.bmp.json"));

  m_engine.grabResult = 0;
  EXPECT_EQ(m_player->Snapshot(folder.string()), 0);
  EXPECT_EQ(shown.size(), 3u) << "a snapshot that was not written is not shown";
}

TEST_F(PlayerTest, RunPlayedToItsEndKeepsItsLastPictureForASnapshot) {
  const std::filesystem::path folder = m_mnt.Root() / "shots";
  std::filesystem::create_directories(folder);
  m_player->SetFileViewer([](const std::string&) {});
  m_engine.grabPositionUs = 9'000'000;
  ASSERT_EQ(m_player->Open(m_mnt.Put(kName, Bytes(1000))), 1);
  WaitForRunEnd();
  EXPECT_EQ(m_player->GetEnded(), CPlayer::endPicture);
  m_engine.grabResult = 0;  // the port is closed: only the kept picture is left
  EXPECT_EQ(m_player->Snapshot(folder.string()), 1);
  EXPECT_TRUE(std::filesystem::exists(folder / "CH02_2010-03-05_08-00-09.000.bmp"));
  EXPECT_EQ(m_player->Close(), 1);
  EXPECT_EQ(m_player->GetEnded(), CPlayer::endNone) << "a closed window forgets its picture";
  EXPECT_EQ(m_player->Snapshot(folder.string()), 0);

  // A run that showed nothing says so.
  ASSERT_EQ(m_player->Open("/mnt/" + kName), 1);
  WaitForRunEnd();
  EXPECT_EQ(m_player->GetEnded(), CPlayer::endNoPicture);
  // A stopped run has not ended by itself.
  StartHeldRun();
  EXPECT_EQ(m_player->Stop(), 1);
  EXPECT_EQ(m_player->GetEnded(), CPlayer::endNone);
}

TEST_F(PlayerTest, LocalRecordGoesToTheEngineUnderTheRecordingsName) {
  EXPECT_EQ(m_player->StartRecord("/home/user/rec", 0), 0) << "nothing opened yet";
  EXPECT_EQ(m_engine.Calls(), Calls{});

  m_engine.openStreamResult = 0;
  ASSERT_EQ(m_player->Open("/mnt/" + kName), 1);
  WaitForRunEnd();
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->StartRecord("/home/user/rec", 0), 1);
  EXPECT_EQ(m_engine.Calls(),
            Calls{"StartRecord(3,/home/user/rec/002_20100305_08.00.00-08.15.00[R][@1a2f][0].h264,0)"});
  m_engine.startRecordResult = 0;
  EXPECT_EQ(m_player->StartRecord("/home/user/rec", 0), 0);
}

TEST_F(PlayerTest, LocalRecordNeverReplacesAnEarlierFile) {
  krt_testing::ScratchDir scratch;
  ASSERT_EQ(m_player->Open("/mnt/" + kName), 1);
  WaitForRunEnd();
  RecordingName r;
  ASSERT_TRUE(ParseRecordingPath("/mnt/" + kName, &r));
  std::ofstream(RecordFilePath(scratch.dir(), r)) << "an earlier record";
  m_engine.ClearCalls();
  EXPECT_EQ(m_player->StartRecord(scratch.dir(), 0), 1);
  EXPECT_EQ(m_engine.Calls(), Calls{"StartRecord(3," + scratch.path("002_20100305_08.00.00-08.15.00[R][@1a2f][0]_2.h264") + ",0)"});
}

}  // namespace

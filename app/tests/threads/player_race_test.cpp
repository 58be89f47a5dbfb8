// Many players on the real engine at once, each driven by its own controlling thread as the
// user-interface thread would drive it: open, play, pause, step both ways, change speed, ask for
// progress, close — while the other threads do the same on their ports. Built with
// ThreadSanitizer, a data race between the players, their feeding loops and the engine's
// threads fails the run; in every build the players must stay responsive and end idle.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "player.h"
#include "streams.h"
#include "support.h"

namespace {

using apptest::CMountedFolder;
using apptest::CNullSink;
using apptest::Eventually;

constexpr int kThreads = 4;
constexpr int kPlayersPerThread = 3;  // 12 ports in all
constexpr int kRounds = 6;

// One controlling thread: its players, their windows, and a fixed random series of commands.
void DriveRounds(int first_port, const std::vector<std::string>& paths, unsigned seed) {
  std::array<CNullSink, kPlayersPerThread> sinks;
  std::array<std::unique_ptr<CPlayer>, kPlayersPerThread> players;
  for (int k = 0; k < kPlayersPerThread; ++k)
    players[k] = std::make_unique<CPlayer>(&sinks[k], first_port + k);
  std::mt19937 random(seed);
  auto nap = [&] { std::this_thread::sleep_for(std::chrono::milliseconds(random() % 30)); };

  for (int round = 0; round < kRounds; ++round) {
    for (int k = 0; k < kPlayersPerThread; ++k)
      EXPECT_EQ(players[k]->Open(paths[(first_port + k + round) % paths.size()]), 1);
    for (int step = 0; step < 8; ++step) {
      CPlayer& p = *players[random() % kPlayersPerThread];
      switch (random() % 9) {
        case 0: p.Pause(1); break;
        case 1: p.Pause(0); break;
        case 2: p.StepNext(); break;
        case 3: p.StepFront(); break;
        case 4: p.SetFast(int(random() % 4)); break;
        case 5: p.SetSlow(int(random() % 3) + 1); break;
        case 6: p.Resume(); break;
        case 7: p.PausedTick(); (void)p.GetProgress(); break;
        case 8: p.SoundOn(); p.SoundOff(); break;
      }
      nap();
    }
    // Half the rounds close every player at once; the others close one and let the rest be
    // closed by the next Open, which ends a run in progress first.
    if (round % 2 == 0) {
      for (auto& p : players) {
        EXPECT_EQ(p->Close(), 1);
        EXPECT_EQ(p->GetState(), CPlayer::stateIdle);
      }
    } else {
      EXPECT_EQ(players[round % kPlayersPerThread]->Close(), 1);
    }
  }
  // After all that, every port still plays a recording to its end by itself.
  for (int k = 0; k < kPlayersPerThread; ++k)
    EXPECT_EQ(players[k]->Open(paths[(first_port + k) % paths.size()]), 1);
  for (auto& p : players) {
    EXPECT_TRUE(Eventually([&] { return p->IsStopped() && p->GetState() == CPlayer::stateIdle; }))
        << "a run did not end by itself";
  }
}

TEST(PlayerRaces, ManyPortsPlayPauseStepChangeSpeedAndCloseFromSeveralThreads) {
  CMountedFolder mnt;
  const std::vector<std::string> paths = apptest::MakeSmallRecordings(mnt, 4);
  if (paths.empty()) GTEST_SKIP() << "ffmpeg command line with libx264 not available";

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back(DriveRounds, t * kPlayersPerThread, std::cref(paths), 1000u + unsigned(t));
  for (auto& t : threads) t.join();
}

}  // namespace

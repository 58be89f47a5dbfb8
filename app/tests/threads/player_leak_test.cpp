// Many players made, played a little and destroyed, one after another and a few at a time: the
// process must hold no more descriptors, threads or heap afterwards than before.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <krt_testing/process_usage.h>

#include "player.h"
#include "streams.h"
#include "support.h"

namespace {

using apptest::CMountedFolder;
using apptest::CNullSink;
using apptest::Eventually;
using krt_testing::process_usage;
using krt_testing::ProcessUsage;

// Makes `count` players in groups of four (ports 0-3), each opened, played until its engine
// shows pictures or for a short while, and closed or left to be destroyed while it plays.
void PlayAndClose(const std::vector<std::string>& paths, int count) {
  CNullSink sink;
  for (int i = 0; i < count; i += 4) {
    std::vector<std::unique_ptr<CPlayer>> group;
    for (int port = 0; port < 4; ++port) {
      group.push_back(std::make_unique<CPlayer>(&sink, port));
      ASSERT_EQ(group.back()->Open(paths[size_t(i + port) % paths.size()]), 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    group[0]->Pause(1);
    group[1]->StepNext();
    group[2]->SetFast(1);
    for (size_t k = 0; k < group.size(); k += 2) EXPECT_EQ(group[k]->Close(), 1);
    // The odd ones are destroyed while they play.
  }
}

TEST(PlayerLeaks, TwoHundredPlayersOpenedPlayedAndClosedDoNotGrow) {
  CMountedFolder mnt;
  const std::vector<std::string> paths = apptest::MakeSmallRecordings(mnt, 4);
  if (paths.empty()) GTEST_SKIP() << "ffmpeg command line with libx264 not available";

  PlayAndClose(paths, 8);  // warm-up: the engine's threads and tables, FFmpeg's lazy tables
  // The engine ends a closed port's threads in its own time; wait until they are gone.
  const auto settled = [] {
    const int threads = process_usage().threads;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return process_usage().threads == threads;
  };
  ASSERT_TRUE(Eventually(settled));
  const ProcessUsage before = process_usage();

  PlayAndClose(paths, 200);
  ASSERT_TRUE(Eventually(settled));

  const ProcessUsage after = process_usage();
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_LE(after.heap, before.heap + 16 * 1024)
      << "live heap grew from " << before.heap << " to " << after.heap;
}

}  // namespace

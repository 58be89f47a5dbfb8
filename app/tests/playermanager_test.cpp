// CPlayerManager against the engine stand-in: slots, forwarders on bad indices and empty
// slots, and the tear-down that closes active players.
#include <gtest/gtest.h>

#include <string>

#include "playermanager.h"
#include "support.h"

namespace {

using apptest::CEngineStandIn;
using apptest::CMountedFolder;
using apptest::CNullSink;
using apptest::Eventually;

const std::string kName = "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264";

TEST(PlayerManagerTest, CreatePlayerTakesOnlyWindowIndices0To63) {
  CEngineStandIn engine;
  CPlayerManager manager(&engine);
  EXPECT_EQ(manager.CreatePlayer(nullptr, -1), 0);
  EXPECT_EQ(manager.CreatePlayer(nullptr, 64), 0);
  EXPECT_EQ(manager.CreatePlayer(nullptr, 0), 1);
  EXPECT_EQ(manager.CreatePlayer(nullptr, 63), 1);
  EXPECT_NE(manager.Player(63), nullptr);
  EXPECT_EQ(manager.Player(1), nullptr);
}

// Every forwarder answers 0 for an index outside 0-63 and for an empty slot, without calling
// the engine; with a player in the slot it is the player's result on the slot's own port.
TEST(PlayerManagerTest, ForwardersAnswer0ForBadIndexOrEmptySlot) {
  CEngineStandIn engine;
  CPlayerManager manager(&engine);
  ASSERT_EQ(manager.CreatePlayer(nullptr, 5), 1);
  for (int index : {-1, 64, 1000, 4}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(manager.Open(index, "/mnt/" + kName), 0);
    EXPECT_EQ(manager.Close(index), 0);
    EXPECT_EQ(manager.GetState(index), 0);
    EXPECT_EQ(manager.SoundOn(index), 0);
    EXPECT_EQ(manager.SoundOff(index), 0);
    EXPECT_EQ(manager.StartRecord(index, "/tmp", 0), 0);
    EXPECT_EQ(manager.StopRecord(index), 0);
    EXPECT_EQ(manager.Snapshot(index, "/tmp"), 0);
    EXPECT_EQ(manager.Pause(index, 1), 0);
    EXPECT_EQ(manager.Stop(index), 0);
    EXPECT_EQ(manager.SetSlow(index, 1), 0);
    EXPECT_EQ(manager.SetFast(index, 1), 0);
    EXPECT_EQ(manager.StepFront(index), 0);
    EXPECT_EQ(manager.StepNext(index), 0);
    EXPECT_EQ(manager.Resume(index), 0);
    EXPECT_EQ(manager.PausedTick(index), 0);
    EXPECT_EQ(manager.GetProgress(index), 0);
  }
  EXPECT_TRUE(engine.Calls().empty());
  // The slot's player answers on port 5.
  EXPECT_EQ(manager.Stop(5), 1);
  EXPECT_EQ(manager.SoundOn(5), 1);
  EXPECT_EQ(engine.Calls(), (std::vector<std::string>{"CloseStream(5)", "SoundOn(5)"}));
}

TEST(PlayerManagerTest, TearDownClosesActivePlayers) {
  CEngineStandIn engine;
  CMountedFolder mnt;
  engine.refuseInput = -1;  // the run keeps offering its first block
  auto manager = std::make_unique<CPlayerManager>(&engine);
  CNullSink sink;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(manager->CreatePlayer(&sink, i), 1);
  ASSERT_EQ(manager->Open(1, mnt.Put(kName, std::string(1000, 'x'))), 1);
  ASSERT_TRUE(Eventually([&] { return manager->GetState(1) == CPlayer::statePlaying; }));
  manager.reset();
  // Only the busy player's stream was closed, by its own run as it ended.
  EXPECT_EQ(engine.CallsOf({"CloseStream"}), (std::vector<std::string>{"CloseStream(1)"}));
}

}  // namespace

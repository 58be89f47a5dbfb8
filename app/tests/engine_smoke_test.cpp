// Players on the real engine: a recording is fed, shown in full and closed by the run itself;
// bytes the engine cannot decode still end the run and free the port.
#include <gtest/gtest.h>

#include <tarnvox/tarnvox.h>

#include <atomic>

#include "player.h"
#include "support.h"

namespace {

// Counts the pictures it is given.
class CCountingSink : public TvxFrameSink {
 public:
  QSize frameSize(QSize) const override { return QSize(88, 72); }
  void present(const QImage&) override { ++pictures; }
  std::atomic<int> pictures{0};
};

TEST(PlayerOnTarnvox, RecordingIsShownInFullAndTheRunEndsByItself) {
  apptest::CMountedFolder mnt;
  const std::string rooted = "idea0/2010-03-05/001/23.59.59-00.00.00[R][@1][0].h264";
  const std::string path = mnt.Put(rooted, "");
  // One second of raw H.264 at 25 pictures a second.
  if (!apptest::MakeWithFfmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 -t 1 -c:v libx264 "
                               "-preset ultrafast -f h264",
                               mnt.Root() / rooted))
    GTEST_SKIP() << "ffmpeg command line with libx264 not available";

  CCountingSink sink;
  CPlayer player(&sink, 60);
  ASSERT_EQ(player.Open(path), 1);
  ASSERT_TRUE(apptest::Eventually([&] { return player.IsStopped(); }));
  ASSERT_TRUE(apptest::Eventually([&] { return player.GetState() == CPlayer::stateIdle; }));
  EXPECT_EQ(sink.pictures.load(), 25);
  EXPECT_EQ(TvxOpenStream(60, nullptr, 0, 0), 1) << "the run left the port open";
  EXPECT_EQ(TvxCloseStream(60), 1);
}

TEST(PlayerOnTarnvox, UndecodableRecordingEndsByItselfAndFreesThePort) {
  apptest::CMountedFolder mnt;
  CPlayer player(nullptr, 61);
  const std::string path =
      mnt.Put("idea0/2010-03-05/001/08.00.00-08.00.10[R][@1][0].h264", std::string(100000, '\0'));
  ASSERT_EQ(player.Open(path), 1);
  ASSERT_TRUE(apptest::Eventually([&] { return player.IsStopped(); }));
  ASSERT_TRUE(apptest::Eventually([&] { return player.GetState() == CPlayer::stateIdle; }));
  EXPECT_EQ(TvxOpenStream(61, nullptr, 0, 0), 1) << "the run left the port open";
  EXPECT_EQ(TvxCloseStream(61), 1);
}

}  // namespace

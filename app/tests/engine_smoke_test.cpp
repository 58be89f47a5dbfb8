// Players on the real engine: a recording is fed, shown in full and closed by the run itself;
// bytes the engine cannot decode still end the run and free the port.
#include <gtest/gtest.h>

#include <tarnvox/tarnvox.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

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

std::string ReadWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A local record started while a recording plays holds the recording's own bytes from about the
// picture on screen on: one contiguous stretch of the file, up to the end when the run ends
// with the record still on, and closed complete when it is stopped.
TEST(PlayerOnTarnvox, LocalRecordHoldsTheRecordingsBytesFromItsStart) {
  struct Case {
    const char* name;
    bool stopEarly;  // StopRecord after the picture 75 instead of running to the end
  };
  for (const Case& c : {Case{"to the end", false}, Case{"stopped", true}}) {
    SCOPED_TRACE(c.name);
    apptest::CMountedFolder mnt;
    const std::string rooted = "idea0/2010-03-05/002/14.05.00-14.05.06[R][@9][0].h264";
    const std::string path = mnt.Put(rooted, "");
    if (!apptest::MakeWithFfmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 -t 6 -c:v libx264 "
                                 "-preset ultrafast -f h264",
                                 mnt.Root() / rooted))
      GTEST_SKIP() << "ffmpeg command line with libx264 not available";
    const std::string source = ReadWhole(mnt.Root() / rooted);

    CCountingSink sink;
    CPlayer player(&sink, 59);
    const std::filesystem::path folder = mnt.Root() / "records";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(player.Open(path), 1);
    // Recording starts with a picture on screen, when the player has long fed the whole file.
    ASSERT_TRUE(apptest::Eventually([&] { return sink.pictures.load() > 0; }));
    ASSERT_EQ(player.StartRecord(folder.string(), 0), 1);
    if (c.stopEarly) {
      ASSERT_TRUE(apptest::Eventually([&] { return sink.pictures.load() >= 75; }));
      EXPECT_EQ(player.StopRecord(), 1);
    }
    ASSERT_TRUE(apptest::Eventually([&] { return player.GetState() == CPlayer::stateIdle; }));

    const std::string record = ReadWhole(folder / "002_20100305_14.05.00-14.05.06[R][@9][0].h264");
    ASSERT_FALSE(record.empty()) << "the record file holds nothing";
    EXPECT_LT(record.size(), source.size()) << "the record began before the picture on screen";
    const size_t at = source.find(record);
    ASSERT_NE(at, std::string::npos) << "the record is not one stretch of the recording";
    if (!c.stopEarly) {
      EXPECT_EQ(at + record.size(), source.size()) << "the record stops short";
    }
  }
}

}  // namespace

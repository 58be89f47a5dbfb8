// Reading recording path names: the fields a player needs, and the names that do not read.
#include <gtest/gtest.h>

#include <string>

#include "recordingpath.h"

namespace {

TEST(RecordingPath, ReadsEveryFieldOfAFullPath) {
  RecordingName r;
  ASSERT_TRUE(ParseRecordingPath("/mnt/ideb2/2010-03-05/017/08.01.02-09.15.30[A][@1a2f][3].jpg", &r));
  EXPECT_EQ(r.disk, 1);
  EXPECT_EQ(r.partition, 2);
  EXPECT_EQ(r.year, 2010);
  EXPECT_EQ(r.month, 3);
  EXPECT_EQ(r.day, 5);
  EXPECT_EQ(r.channel, 17);
  EXPECT_EQ(r.startSeconds, 8 * 3600 + 1 * 60 + 2);
  EXPECT_EQ(r.endSeconds, 9 * 3600 + 15 * 60 + 30);
  EXPECT_EQ(r.fileName, "08.01.02-09.15.30[A][@1a2f][3].jpg");
}

TEST(RecordingPath, PartitionRootedNameReadsWithoutTheMountPrefix) {
  RecordingName r;
  ASSERT_TRUE(ParseRecordingName("idea0/2063-12-31/064/23.59.59-00.00.00[R][@0][0].h264", &r));
  EXPECT_EQ(r.year, 2063);
  EXPECT_EQ(r.channel, 64);
  EXPECT_EQ(r.fileName, "23.59.59-00.00.00[R][@0][0].h264");
  EXPECT_FALSE(ParseRecordingPath("idea0/2063-12-31/064/23.59.59-00.00.00[R][@0][0].h264", &r));
}

struct NameCase {
  const char* path;
  bool reads;
};

class RecordingPathCases : public testing::TestWithParam<NameCase> {};

TEST_P(RecordingPathCases, ReadsOrRefusesWithOutputUntouched) {
  RecordingName r;
  r.channel = -7;
  EXPECT_EQ(ParseRecordingPath(GetParam().path, &r), GetParam().reads) << GetParam().path;
  if (!GetParam().reads) {
    EXPECT_EQ(r.channel, -7) << "a refused name left fields behind";
  }
}

// The library's grammar: every name the adapter lists reads (hours up to 31, as the disk
// stores them), and a name without its type letter or extension does not.
INSTANTIATE_TEST_SUITE_P(
    Names, RecordingPathCases,
    testing::Values(
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264", true},
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R].jpg", true},  // no cluster
        NameCase{"/mnt/idea0/2010-03-05/002/24.00.00-31.15.00[R][@1a2f][0].h264", true},
        NameCase{"/mnt/idea0/2010-03-05/002/31.63.63-00.00.00[H][@2][1].h264", true},
        NameCase{"/mnt/idea0/2010-03-05/002/32.00.00-08.15.00[R][@1a2f][0].h264", false},
        NameCase{"/mnt/idea0/2010-03-05/002/08.64.00-08.15.00[R][@1a2f][0].h264", false},
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00", false},  // no type, extension
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].avi", false},
        NameCase{"/mnt/idea0/2010-03-05/002/", false},  // no file component
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R].h264/x", false},
        NameCase{"/mnt/idea4/2010-03-05/002/08.00.00-08.15.00[R].h264", false},  // partition 0-3
        NameCase{"/mnt/ideA0/2010-03-05/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0/1999-03-05/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0/2010-13-05/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0/2010-03-00/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0/2010-03-05/000/08.00.00-08.15.00[R].h264", false},  // channel 1-64
        NameCase{"/mnt/idea0/2010-03-05/065/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0/2010-03-05/0002/08.00.00-08.15.00[R].h264", false},  // too wide
        NameCase{"/mnt/x/idea0/2010-03-05/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mnt/idea0", false}, NameCase{"", false},
        NameCase{"/home/user/2010-03-05/002/08.00.00-08.15.00[R].h264", false},
        NameCase{"/mntidea0/2010-03-05/002/08.00.00-08.15.00[R].h264", false}));

TEST(RecordingPath, DurationRunsIntoTheNextDayPastMidnight) {
  RecordingName r;
  const struct {
    const char* times;
    int seconds;
  } cases[] = {{"08.00.00-08.15.00", 900},  {"23.50.00-00.10.00", 1200}, {"10.00.00-10.00.00", 0},
               {"00.00.01-00.00.00", 86399}, {"23.00.00-25.00.00", 7200},  // hours past 23 stay
               {"00.00.00-31.63.63", 115443 - 86400}};                  // within one day
  for (const auto& c : cases) {
    ASSERT_TRUE(ParseRecordingPath(std::string("/mnt/idea0/2010-03-05/002/") + c.times + "[R].h264", &r)) << c.times;
    EXPECT_EQ(RecordingDuration(r), c.seconds) << c.times;
  }
}

}  // namespace

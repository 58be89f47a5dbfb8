// Reading recording path names: the fields a player needs, and the names that do not read.
#include <gtest/gtest.h>

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

INSTANTIATE_TEST_SUITE_P(
    Names, RecordingPathCases,
    testing::Values(
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264", true},
        NameCase{"/mnt/idea0/2010-3-5/2/8.0.0-8.15.0", true},   // short numbers, no tail
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00", true},
        NameCase{"/mnt/idea0/2010-03-05/002/", false},          // no file component
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15", false},
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.00/x", false},  // not the last
        NameCase{"/mnt/idea4/2010-03-05/002/08.00.00-08.15.00", false},  // partition 0-3
        NameCase{"/mnt/ideA0/2010-03-05/002/08.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/1999-03-05/002/08.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-13-05/002/08.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-03-00/002/08.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-03-05/000/08.00.00-08.15.00", false},  // channel 1-64
        NameCase{"/mnt/idea0/2010-03-05/065/08.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-03-05/0002/08.00.00-08.15.00", false},  // too many digits
        NameCase{"/mnt/idea0/2010-03-05/002/24.00.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-03-05/002/08.60.00-08.15.00", false},
        NameCase{"/mnt/idea0/2010-03-05/002/08.00.00-08.15.-1", false},
        NameCase{"/mnt/idea0", false}, NameCase{"", false},
        NameCase{"/home/user/2010-03-05/002/08.00.00-08.15.00.h264", false},
        NameCase{"/mntidea0/2010-03-05/002/08.00.00-08.15.00", false}));

TEST(RecordingPath, DurationRunsIntoTheNextDayPastMidnight) {
  RecordingName r;
  ASSERT_TRUE(ParseRecordingPath("/mnt/idea0/2010-03-05/002/08.00.00-08.15.00", &r));
  EXPECT_EQ(RecordingDuration(r), 900);
  ASSERT_TRUE(ParseRecordingPath("/mnt/idea0/2010-03-05/002/23.50.00-00.10.00", &r));
  EXPECT_EQ(RecordingDuration(r), 1200);
  ASSERT_TRUE(ParseRecordingPath("/mnt/idea0/2010-03-05/002/10.00.00-10.00.00", &r));
  EXPECT_EQ(RecordingDuration(r), 0);
  ASSERT_TRUE(ParseRecordingPath("/mnt/idea0/2010-03-05/002/00.00.01-00.00.00", &r));
  EXPECT_EQ(RecordingDuration(r), 86399);
}

}  // namespace

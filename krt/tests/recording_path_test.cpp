// Recording path names: the grammar read back strictly, and the file component as written.
#include "krt/recording_path.h"

#include <gtest/gtest.h>

#include <string>

#include "krt/packed_time.h"

namespace krt {
namespace {

uint32_t at(int y, int mo, int d, int h, int mi, int s) { return pack_time(TimeFields{y, mo, d, h, mi, s}); }

TEST(RecordingPath, AFullNameGivesEveryField) {
  RecordingName n{};
  ASSERT_TRUE(parse_recording_path("/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264", n));
  EXPECT_EQ(n.dir.partition.disk, 0);
  EXPECT_EQ(n.dir.partition.part, 0);
  EXPECT_EQ(n.dir.channel, 1);
  EXPECT_EQ(n.first_cluster, 0x1a2fu);
  EXPECT_EQ(n.repeat_no, 0);
  EXPECT_EQ(n.alarm, 0);
  EXPECT_TRUE(n.h264);
  EXPECT_EQ(n.start_time, at(2010, 3, 5, 8, 0, 0));

  // Whatever stands before the partition is ignored; the optional fields may be left out.
  ASSERT_TRUE(parse_recording_path("/idec3/2063-12-31/064/23.59.58-00.10.00[Alarm][@FFFFFFFF][255].jpg", n));
  EXPECT_EQ(n.dir.partition.disk, 2);
  EXPECT_EQ(n.dir.partition.part, 3);
  EXPECT_EQ(n.dir.channel, 63);
  EXPECT_EQ(n.alarm, 1);
  EXPECT_EQ(n.first_cluster, 0xFFFFFFFFu);
  EXPECT_EQ(n.repeat_no, 255);
  EXPECT_FALSE(n.h264);
  EXPECT_EQ(n.start_time, at(2063, 12, 31, 23, 59, 58));
  ASSERT_TRUE(parse_recording_path("/x/idea1/2010-3-5/1/8.0.0-8.15.0[H].h264", n));
  EXPECT_EQ(n.first_cluster, 0u);
  EXPECT_EQ(n.repeat_no, 0);
  EXPECT_EQ(n.alarm, 4);
  ASSERT_TRUE(parse_recording_path("/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[M][@10].h264", n));
  EXPECT_EQ(n.first_cluster, 0x10u);
  EXPECT_EQ(n.alarm, 2);
}

TEST(RecordingPath, TypeLettersOtherThanAMCHMeanRegular) {
  const struct { const char* letter; uint8_t alarm; } cases[] = {
      {"R", 0}, {"A", 1}, {"M", 2}, {"C", 3}, {"H", 4}, {"X", 0}, {"a", 0}, {"?", 0}};
  for (const auto& c : cases) {
    RecordingName n{};
    const std::string path = std::string("/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[") + c.letter + "][@1][0].h264";
    ASSERT_TRUE(parse_recording_path(path.c_str(), n)) << path;
    EXPECT_EQ(n.alarm, c.alarm) << path;
  }
  EXPECT_EQ(type_letter(3), 'C');
  EXPECT_EQ(type_letter(9), 'R');
}

TEST(RecordingPath, MalformedAndOverlongPathsAreRefused) {
  const char* bad[] = {
      nullptr,
      "",
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].avi",
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1a2f][0].h264x",
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00.h264",            // no type field
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[][@1][0].h264",    // empty type field
      "/mnt/idea0/2010-03-05/002/08.00.00[R][@1][0].h264",            // no end time
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@][0].h264",
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@123456789][0].h264",  // 9 hex digits
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1][256].h264",
      "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[R][@1][0]junk.h264",
      "/mnt/idea0/2010-03-05/002/32.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2010-03-05/002/008.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2010-03-05/000/08.00.00-08.15.00[R][@1][0].h264",   // channel 0
      "/mnt/idea0/2010-03-05/065/08.00.00-08.15.00[R][@1][0].h264",   // channel 65
      "/mnt/idea0/2010-03-05/0002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2010-13-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2010-03-32/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/1999-03-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2064-03-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/02010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea4/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",   // partition 4
      "/mnt/idea00/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/ide`0/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",   // disk -1
      "/mnt/hda0/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",
      "/mnt/idea0/2010-03-05/08.00.00-08.15.00[R][@1][0].h264",       // no channel
      "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264",        // no slash before the partition
      "/mnt/idea0/2010-03-05/99999999999999999999/08.00.00-08.15.00[R][@1][0].h264",
  };
  for (const char* path : bad) {
    RecordingName n{};
    EXPECT_FALSE(parse_recording_path(path, n)) << (path ? path : "null");
  }
  const std::string long_type = "/mnt/idea0/2010-03-05/002/08.00.00-08.15.00[" + std::string(100, 'R') + "][@1][0].h264";
  RecordingName n{};
  EXPECT_FALSE(parse_recording_path(long_type.c_str(), n));
  const std::string long_prefix = std::string(100000, '/') + "idea0/2010-03-05/002/08.00.00-08.15.00[R][@1][0].h264";
  EXPECT_TRUE(parse_recording_path(long_prefix.c_str(), n));
}

TEST(RecordingPath, PatternsWorkDirectoriesAndPartitionComponents) {
  ChannelDirName d{};
  ASSERT_TRUE(parse_channel_pattern("/mnt/ideb2/2012-02-29/034/*", d));
  EXPECT_EQ(d.partition.disk, 1);
  EXPECT_EQ(d.partition.part, 2);
  EXPECT_EQ(d.year, 2012);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 29);
  EXPECT_EQ(d.channel, 33);
  EXPECT_FALSE(parse_channel_pattern("/mnt/ideb2/2012-02-29/034", d));  // the last part is the channel
  EXPECT_FALSE(parse_channel_pattern("/mnt/ideb2/2012-02-29/*", d));

  PartitionName p{};
  ASSERT_TRUE(parse_work_directory_path("/mnt/idea3/WorkDirectory", p));
  EXPECT_EQ(p.disk, 0);
  EXPECT_EQ(p.part, 3);
  EXPECT_FALSE(parse_work_directory_path("/mnt/idea3/WorkDirectoryX", p));
  EXPECT_FALSE(parse_work_directory_path("/mnt/WorkDirectory", p));

  ASSERT_TRUE(find_partition_component("/mnt/idec1/2010-03-05", p));
  EXPECT_EQ(p.disk, 2);
  EXPECT_EQ(p.part, 1);
  ASSERT_TRUE(find_partition_component("/mnt/ideas/idea2", p));  // the first well-formed one
  EXPECT_EQ(p.part, 2);
  EXPECT_FALSE(find_partition_component("/mnt", p));
  EXPECT_FALSE(find_partition_component("/mnt/idea9", p));
}

TEST(RecordingPath, WrittenNamesReadBack) {
  char name[kRecordingNameBytes];
  ASSERT_EQ(format_recording_name(name, sizeof name, at(2010, 3, 5, 8, 0, 0), at(2010, 3, 5, 8, 15, 0), 0,
                                  0x1a2f, 0, true),
            35);
  EXPECT_STREQ(name, "08.00.00-08.15.00[R][@1a2f][0].h264");
  // The widest name: every field at its largest.
  ASSERT_GT(format_recording_name(name, sizeof name, 0xFFFFFFFF, 0xFFFFFFFF, 3, 0xFFFFFFFF, 255, false), 0);
  EXPECT_STREQ(name, "31.63.63-31.63.63[C][@ffffffff][255].jpg");
  RecordingName n{};
  EXPECT_TRUE(parse_recording_path((std::string("/mnt/idea0/2010-03-05/002/") + name).c_str(), n));
  EXPECT_EQ(format_recording_name(name, 10, 0, 0, 0, 1, 0, true), -1);
  EXPECT_STREQ(name, "");
}

}  // namespace
}  // namespace krt

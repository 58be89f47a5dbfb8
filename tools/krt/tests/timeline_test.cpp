// Coverage of a day: recordings joined into spans, and `krt timeline` against the image
// builder's placement, with and without a clock offset.
#include <sstream>

#include "catalog/clock_offset.h"
#include "catalog/coverage.h"
#include "tool_support.h"

namespace tool_test {
namespace {

using kb::pack_time;

CoveredRecording rec(int channel, int64_t start, int64_t end, RecordingKind kind = RecordingKind::kRegular) {
  CoveredRecording r;
  r.channel = channel;
  r.start = start;
  r.end = end;
  r.kind = kind;
  r.path = std::to_string(start);
  return r;
}

struct JoinCase {
  const char* what;
  std::vector<CoveredRecording> in;
  std::vector<std::tuple<int, int64_t, int64_t, RecordingKind, size_t>> spans;  // channel, start, end, kind, count
};

TEST(Coverage, JoinsRecordingsIntoSpans) {
  using K = RecordingKind;
  const JoinCase cases[] = {
      {"touching", {rec(0, 100, 200), rec(0, 200, 300)}, {{0, 100, 300, K::kRegular, 2}}},
      {"1 s gap joins", {rec(0, 100, 200), rec(0, 201, 300)}, {{0, 100, 300, K::kRegular, 2}}},
      {"2 s gap splits", {rec(0, 100, 200), rec(0, 202, 300)}, {{0, 100, 200, K::kRegular, 1}, {0, 202, 300, K::kRegular, 1}}},
      {"kind change splits", {rec(0, 100, 200), rec(0, 200, 250, K::kMotion), rec(0, 250, 300)},
       {{0, 100, 200, K::kRegular, 1}, {0, 200, 250, K::kMotion, 1}, {0, 250, 300, K::kRegular, 1}}},
      {"channels apart, given out of order", {rec(1, 0, 50), rec(0, 100, 200), rec(1, 50, 80)},
       {{0, 100, 200, K::kRegular, 1}, {1, 0, 80, K::kRegular, 2}}},
      {"damaged is its own kind", {rec(0, 0, 100), rec(0, 100, 200, K::kDamaged), rec(0, 200, 300)},
       {{0, 0, 100, K::kRegular, 1}, {0, 100, 200, K::kDamaged, 1}, {0, 200, 300, K::kRegular, 1}}},
      // A clock set back: the next recording starts before the last one ended. It joins, and the
      // span keeps the later end instead of running backwards.
      {"clock set back", {rec(0, 1000, 2000), rec(0, 1500, 1800)}, {{0, 1000, 2000, K::kRegular, 2}}},
      {"past midnight", {rec(0, -600, 600), rec(0, 600, 900)}, {{0, -600, 900, K::kRegular, 2}}},
  };
  for (const JoinCase& c : cases) {
    const std::vector<CoverageSpan> spans = join_spans(c.in);
    ASSERT_EQ(spans.size(), c.spans.size()) << c.what;
    for (size_t i = 0; i < spans.size(); ++i) {
      const auto& [channel, start, end, kind, count] = c.spans[i];
      EXPECT_EQ(spans[i].channel, channel) << c.what << " span " << i;
      EXPECT_EQ(spans[i].start, start) << c.what << " span " << i;
      EXPECT_EQ(spans[i].end, end) << c.what << " span " << i;
      EXPECT_EQ(spans[i].kind, kind) << c.what << " span " << i;
      EXPECT_EQ(spans[i].recordings.size(), count) << c.what << " span " << i;
      EXPECT_GE(spans[i].end, spans[i].start) << c.what;
    }
  }
}

TEST(Coverage, ClockOffsetsReadAndWriteTheirText) {
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      {"+00:03:20", 200}, {"-01:00:00", -3600}, {"00:00:05", 5}, {"+24:00:00", 86400},
      {"+24:00:01", std::nullopt}, {"+00:60:00", std::nullopt}, {"+0:03:20", std::nullopt},
      {"3 min", std::nullopt}, {"", std::nullopt}};
  for (const auto& [text, seconds] : cases) {
    EXPECT_EQ(parse_clock_offset(text), seconds) << text;
    if (seconds) {
      EXPECT_EQ(parse_clock_offset(format_clock_offset(*seconds)), seconds) << text;
    }
  }
  EXPECT_EQ(format_clock_offset(-200), "-00:03:20");
}

// A disk of two partitions laid out for the timeline:
//   partition 0, 2024-03-05: channel 001 regular 08:00-09:00 (four files back to back), then
//     09:00:01-09:10:00 (a 1-s gap: joins) and 09:10:02-09:20:00 (2 s: a new span);
//     channel 002 regular 10:00-10:10, motion 10:10-10:11, regular 10:11-10:20;
//     channel 003 alarm 23:50:00 - 00:10:00 the next day.
//   partition 1, 2024-03-05: channel 001 regular 09:20:00-09:30:00 (a partition change: joins
//     the span of partition 0).
class TimelineImage {
 public:
  static const TimelineImage& get() {
    static const TimelineImage image;
    return image;
  }
  std::string image;

 private:
  TempDir dir_;
  TimelineImage() {
    kb::Disk disk = kb::multi_partition_disk({400'000, 400'000}, 64);
    disk.payload.kind = kb::Payload::Kind::kNone;
    auto file = [](uint8_t ch, uint32_t start, uint32_t end, uint8_t type = 0) {
      kb::File f;
      f.channel = ch;
      f.start = start;
      f.end = end;
      f.type = type;
      f.clusters = 2;
      return f;
    };
    std::vector<kb::File>& p0 = disk.partitions[0].files;
    for (int q = 0; q < 4; ++q) {
      const int end = 8 * 60 + (q + 1) * 15;  // minutes of the day
      p0.push_back(file(0, pack_time(2024, 3, 5, 8, q * 15, 0), pack_time(2024, 3, 5, end / 60, end % 60, 0)));
    }
    p0.push_back(file(0, pack_time(2024, 3, 5, 9, 0, 1), pack_time(2024, 3, 5, 9, 10, 0)));
    p0.push_back(file(0, pack_time(2024, 3, 5, 9, 10, 2), pack_time(2024, 3, 5, 9, 20, 0)));
    p0.push_back(file(1, pack_time(2024, 3, 5, 10, 0, 0), pack_time(2024, 3, 5, 10, 10, 0)));
    p0.push_back(file(1, pack_time(2024, 3, 5, 10, 10, 0), pack_time(2024, 3, 5, 10, 11, 0), 2));
    p0.push_back(file(1, pack_time(2024, 3, 5, 10, 11, 0), pack_time(2024, 3, 5, 10, 20, 0)));
    p0.push_back(file(2, pack_time(2024, 3, 5, 23, 50, 0), pack_time(2024, 3, 6, 0, 10, 0), 1));
    std::sort(p0.begin(), p0.end(), [](const kb::File& a, const kb::File& b) { return a.start < b.start; });
    disk.partitions[1].files.push_back(file(0, pack_time(2024, 3, 5, 9, 20, 0), pack_time(2024, 3, 5, 9, 30, 0)));
    image = dir_ / "timeline.img";
    const kb::BuildResult built = kb::build_image(disk, image);
    EXPECT_TRUE(built.ok) << built.error;
  }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string span(int partition, const char* day, int channel, const char* start, const char* end, const char* kind, int n) {
  std::ostringstream o;
  o << "{\"disk\":0,\"partition\":" << partition << ",\"day\":\"" << day << "\",\"channel\":" << channel
    << ",\"start\":\"" << start << "\",\"end\":\"" << end << "\",\"kind\":\"" << kind << "\",\"recordings\":" << n << "}";
  return o.str();
}

TEST(Timeline, JsonSpansFollowTheBuildersPlacement) {
  const TimelineImage& img = TimelineImage::get();
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // Every day of the disk: the alarm recording past midnight counts on both days.
      {{"timeline", "--json"},
       {span(0, "2024-03-05", 1, "08:00:00", "09:10:00", "regular", 5),
        span(0, "2024-03-05", 1, "09:10:02", "09:30:00", "regular", 2),
        span(0, "2024-03-05", 2, "10:00:00", "10:10:00", "regular", 1),
        span(0, "2024-03-05", 2, "10:10:00", "10:11:00", "motion", 1),
        span(0, "2024-03-05", 2, "10:11:00", "10:20:00", "regular", 1),
        span(0, "2024-03-05", 3, "23:50:00", "24:00:00", "alarm", 1),
        span(0, "2024-03-06", 3, "00:00:00", "00:10:00", "alarm", 1)}},
      // A channel folder narrows to its channel; --day to one day.
      {{"timeline", "--json", "/mnt/idea0/2024-03-05/002"},
       {span(0, "2024-03-05", 2, "10:00:00", "10:10:00", "regular", 1),
        span(0, "2024-03-05", 2, "10:10:00", "10:11:00", "motion", 1),
        span(0, "2024-03-05", 2, "10:11:00", "10:20:00", "regular", 1)}},
      // One partition: partition 1 alone holds one recording of channel 001.
      {{"timeline", "--json", "--day", "2024-03-05", "/mnt/idea1"},
       {span(1, "2024-03-05", 1, "09:20:00", "09:30:00", "regular", 1)}},
      // The recorder 20 minutes ahead: every time 20 minutes earlier, and the alarm recording
      // no longer reaches the next day.
      {{"--clock-offset", "+00:20:00", "timeline", "--json", "/mnt/idea0/2024-03-05/003"},
       {span(0, "2024-03-05", 3, "23:30:00", "23:50:00", "alarm", 1)}},
      // The recorder 10 hours behind: 23:50 is 09:50 of the next true day.
      {{"--clock-offset", "0=-10:00:00", "timeline", "--json", "--day", "2024-03-06", "/mnt/idea0"},
       {span(0, "2024-03-06", 3, "09:50:00", "10:10:00", "alarm", 1)}},
  };
  for (const Case& c : cases) {
    const ToolRun r = krt_on(img.image, c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), c.expected) << c.args.back();
  }
}

TEST(Timeline, TextShowsQuartersOfAnHourByKind) {
  const ToolRun r = krt_on(TimelineImage::get().image, {"timeline", "/mnt/idea0/2024-03-05"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> out = lines(r.out);
  ASSERT_GE(out.size(), 5u) << r.out;
  EXPECT_EQ(out[0], "disk 0  2024-03-05");
  // 08:00-09:30 is quarters 32..37 (09:10:00-09:10:02 is not a gap a quarter can show).
  EXPECT_EQ(out[2], "001  " + std::string(32, '.') + std::string(6, '#') + std::string(58, '.'));
  // Channel 002: the motion minute wins its quarter (10:00 is quarter 40); 10:15 is regular.
  EXPECT_EQ(out[3], "002  " + std::string(40, '.') + "M#" + std::string(54, '.'));
  EXPECT_EQ(out[4].substr(0, 5 + 95), "003  " + std::string(95, '.'));
  EXPECT_EQ(out[4].back(), 'A');
}

TEST(Timeline, RefusesWhatItCannotCover) {
  const std::string image = TimelineImage::get().image;
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"timeline", "--day", "yesterday"}, 2},
      {{"timeline", "--day", "2024-03-06", "/mnt/idea0/2024-03-05"}, 2},
      {{"timeline", "/mnt/idea3"}, 1},
      {{"--clock-offset", "+25:00:00", "timeline"}, 2},
  };
  for (const auto& [args, status] : cases) {
    const ToolRun r = krt_on(image, args);
    EXPECT_EQ(r.status, status) << args.back() << ": " << r.err;
    EXPECT_NE(r.err, "") << args.back();
  }
}

}  // namespace
}  // namespace tool_test

// `krt frames` agrees with FFmpeg picture for picture: on recordings of a disk image whose files
// carry real streams (made with the ffmpeg command line at test time) and on the recordings of
// the demo disk (`krt mkdemo`), the tool's framemd5 lines equal those of `ffmpeg -f framemd5`
// over what `krt cat` gives; on a local file, those of ffmpeg over the same file. Skipped when
// the ffmpeg command line (with libx264 for the streams it makes) is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "krt_testing/demo_disk.h"
#include "tool_support.h"

namespace tool_test {
namespace {

// FFmpeg's framemd5 of the first video stream of a local file.
std::string ffmpeg_framemd5(const std::string& file) {
  return shell("ffmpeg -nostdin -hide_banner -loglevel error -i '" + file +
               "' -map 0:v:0 -f framemd5 - 2>/dev/null");
}

// The lines of a text, without their newlines.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Picture lines (those not starting with '#') of framemd5 text.
int picture_lines(const std::string& text) {
  int n = 0;
  for (const std::string& line : lines(text)) n += !line.empty() && line[0] != '#';
  return n;
}

// Runs `krt frames` on the recording at path and FFmpeg over what `krt cat` gives for it
// (written to scratch/cat.bin), expects the two texts to be equal and returns the number of
// pictures FFmpeg decoded (-1 when cat failed).
int expect_frames_agree(const std::string& image, const std::string& path, const TempDir& scratch) {
  SCOPED_TRACE(path);
  const ToolRun cat = krt_on(image, {"cat", path});
  EXPECT_EQ(cat.status, 0) << cat.err;
  if (cat.status != 0) return -1;
  const std::string copy = scratch / "cat.bin";
  std::ofstream(copy, std::ios::binary) << cat.out;
  const std::string reference = ffmpeg_framemd5(copy);
  const ToolRun frames = krt_on(image, {"frames", path});
  EXPECT_EQ(frames.status, 0) << frames.err;
  EXPECT_EQ(frames.out, reference);
  return picture_lines(reference);
}

// The shared image of recordings with real streams.
class Frames : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!StreamImage::get().ready) GTEST_SKIP() << "ffmpeg command line with libx264 not available";
  }
  const std::string s_image = StreamImage::get().image;
  const TempDir& scratch = StreamImage::get().dir();
  static std::string recording_path(int channel) { return StreamImage::get().recording_path(channel); }
};

TEST_F(Frames, AgreeWithFfmpegOverWhatCatGivesForEveryRecording) {
  for (const StreamRecording& rec : kStreamRecordings) {
    SCOPED_TRACE(rec.name);
    EXPECT_EQ(expect_frames_agree(s_image, recording_path(rec.channel), scratch), rec.pictures);
  }
}

// The demo disk as `krt mkdemo --short` records it (every recording cut to ten seconds).
class FramesOnTheDemoDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (run_tool({"mkdemo", "--help"}).status != 0) return;
    dir_ = new TempDir;
    image_ = new std::string(*dir_ / "demo.img");
    const ToolRun made = run_tool({"mkdemo", "--short", *image_});
    if (made.status != 0) error_ = new std::string(made.err);
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete image_;
    delete error_;
  }
  void SetUp() override {
    if (!image_) GTEST_SKIP() << "this krt has no mkdemo";
    ASSERT_EQ(error_, nullptr) << *error_;
  }
  static TempDir* dir_;
  static std::string* image_;
  static std::string* error_;
};
TempDir* FramesOnTheDemoDisk::dir_ = nullptr;
std::string* FramesOnTheDemoDisk::image_ = nullptr;
std::string* FramesOnTheDemoDisk::error_ = nullptr;

// Every partition, every channel folder of its first day, its first recording (a program
// stream behind a "DHII" header on channel 001, with sound on 001 and 002, raw H.264 on 006).
TEST_F(FramesOnTheDemoDisk, AgreeWithFfmpegOverWhatCatGives) {
  if (shell("ffmpeg -hide_banner -decoders 2>/dev/null").find("h264") == std::string::npos)
    GTEST_SKIP() << "ffmpeg command line not available";
  const std::string& image = *image_;
  int recordings = 0;
  for (const std::string& part : lines(krt_on(image, {"ls", "/mnt"}).out)) {
    const std::string day = "/mnt/" + part + "/" + first_entry(image, "/mnt/" + part);
    for (const std::string& channel : lines(krt_on(image, {"ls", day}).out)) {
      const std::string folder = day + "/" + channel;
      EXPECT_GT(expect_frames_agree(image, folder + "/" + first_entry(image, folder), *dir_), 0);
      ++recordings;
    }
  }
  EXPECT_EQ(recordings, 12);  // idea0 and idea1: channels 001-006 each
}

// Every recording the demo's day keeps holds a steady run of pictures from its start to its
// end, as the player decodes them: its first picture at time 0, its last within a second of
// the end its name gives, rate x seconds of them.
TEST_F(FramesOnTheDemoDisk, EveryRecordingHoldsPicturesFromItsStartToItsEnd) {
  const std::vector<krt_testing::DemoRecording> day = krt_testing::demo_recordings(true);
  const krt_testing::BuildResult plan = krt_testing::plan_image(krt_testing::demo_disk({}, true));
  ASSERT_TRUE(plan.ok) << plan.error;
  const auto placed = krt_testing::demo_placements(plan, day);
  int checked = 0;
  for (size_t i = 0; i < day.size(); ++i) {
    // Older-lap recordings below the older lap's start (start_cluster2) are gone too.
    const uint32_t older_start = plan.partitions[size_t(day[i].partition)].params.start_cluster2;
    if (placed[i]->overwritten || (day[i].older_lap && (older_start == 0 || placed[i]->first_cluster < older_start)))
      continue;
    // The listed name of the recording's first cluster (the listing numbers repeats itself).
    const std::string named = krt_testing::demo_path(day[i], *placed[i]);
    const std::string folder = named.substr(0, named.rfind('/'));
    const std::string cluster = named.substr(named.find("[@"), named.find(']', named.find("[@")) - named.find("[@") + 1);
    std::string path;
    for (const std::string& line : lines(krt_on(*image_, {"ls", folder}).out))
      if (line.find(cluster) != std::string::npos) path = folder + "/" + line.substr(0, line.find('\t'));
    SCOPED_TRACE(named);
    ASSERT_FALSE(path.empty()) << folder << " lists no recording at " << cluster;
    const ToolRun r = krt_on(*image_, {"frames", path});
    ASSERT_EQ(r.status, 0) << r.err;
    int tb_num = 0, tb_den = 0;
    std::vector<long> pts;
    for (const std::string& line : lines(r.out)) {
      if (std::sscanf(line.c_str(), "#tb 0: %d/%d", &tb_num, &tb_den) == 2) continue;
      long stream = 0, p = 0;
      if (!line.empty() && line[0] != '#' && std::sscanf(line.c_str(), "%ld, %ld", &stream, &p) == 2) pts.push_back(p);
    }
    ASSERT_GT(tb_den, 0);
    const double seconds = krt_testing::demo_seconds(day[i]);
    EXPECT_EQ(pts.size(), size_t(seconds) * size_t(krt_testing::demo_rate(day[i].picture)));
    ASSERT_FALSE(pts.empty());
    EXPECT_EQ(pts.front(), 0);
    const double last = double(pts.back()) * tb_num / tb_den;
    EXPECT_TRUE(last < seconds && seconds - last <= 1.0) << last << " s of " << seconds;
    ++checked;
  }
  EXPECT_GT(checked, 30);
}

TEST_F(Frames, AgreeWithFfmpegOnALocalFile) {
  const std::string local = StreamImage::get().stream(0);  // the program stream, as ffmpeg wrote it
  const std::string reference = ffmpeg_framemd5(local);
  ASSERT_EQ(picture_lines(reference), kStreamRecordings[0].pictures);
  const ToolRun r = run_tool({"frames", local});  // no disk needed
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reference);
}

TEST_F(Frames, FailWithAClearMessage) {
  std::ofstream(scratch / "zeros.bin", std::ios::binary) << std::string(100000, '\0');
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"-d", s_image, "frames", "/mnt/idea0/2010-03-05"}, "is a folder, not a recording"},
      {{"-d", s_image, "frames", "/mnt/idea0/2010-03-05/001/09.00.00-09.00.02[R].h264"},
       "no such recording"},
      {{"frames", scratch / "missing.mpg"}, "cannot open"},
      {{"frames", scratch / "zeros.bin"}, "no video picture could be decoded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ToolRun r = run_tool(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(picture_lines(r.out), 0);
  }
}

}  // namespace
}  // namespace tool_test

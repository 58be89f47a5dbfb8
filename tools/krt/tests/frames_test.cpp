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

#include "tool_support.h"

namespace tool_test {
namespace {

// Output of a shell command; empty when it fails.
std::string shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  return ::pclose(p) == 0 ? out : std::string();
}

// Makes a stream with the ffmpeg command line (`ffmpeg -y ARGS FILE`). False when that failed.
bool ffmpeg_make(const std::string& args, const std::string& file) {
  return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + file +
                      "' >/dev/null 2>&1").c_str()) == 0;
}

// Recorders write whole kilobytes and the adapter reads recordings in whole kilobytes: pads the
// stream with zeros so that it and its header end on a kilobyte.
void pad_to_whole_kilobytes(const std::string& file, uint32_t header_sectors) {
  const uint64_t size = std::filesystem::file_size(file) + header_sectors * 512;
  std::ofstream(file, std::ios::binary | std::ios::app) << std::string((1024 - size % 1024) % 1024, '\0');
}

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

// `krt -d IMAGE args...`
ToolRun krt_on(const std::string& image, std::vector<std::string> args) {
  args.insert(args.begin(), {"-d", image});
  return run_tool(args);
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

// The first entry of a folder's listing ("" when it lists nothing).
std::string first_entry(const std::string& image, const std::string& folder) {
  const ToolRun r = krt_on(image, {"ls", folder});
  EXPECT_EQ(r.status, 0) << folder << ": " << r.err;
  return r.out.substr(0, r.out.find_first_of("\t\n"));
}

// One recording of the image: what it carries.
struct Recording {
  const char* name;       // for messages
  const char* ffmpeg;     // ffmpeg arguments that make its stream
  int channel;            // 0-based channel it is recorded on
  uint32_t header_sectors;  // "DHII" header before the stream
  int pictures;           // pictures in the stream
};

const Recording kRecordings[] = {
    // A program stream as recorders write it: H.264 with B pictures and MP2 sound.
    {"program stream", "-f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi -i sine=sample_rate=32000 "
     "-t 2 -c:v libx264 -preset ultrafast -bf 2 -g 25 -c:a mp2 -f mpeg", 0, 0, 50},
    // A raw H.264 elementary stream without sound.
    {"raw H.264", "-f lavfi -i testsrc2=size=176x144:rate=25 -t 1 -c:v libx264 -preset ultrafast "
     "-f h264", 1, 0, 25},
    // A program stream behind a recorder's header, which the adapter hides.
    {"behind a header", "-f lavfi -i testsrc=size=176x144:rate=25 -t 1 -c:v libx264 -preset ultrafast "
     "-bf 2 -f mpeg", 2, 3, 25},
};

// The streams and a one-partition image holding each of them as a recording of 2010-03-05.
class Frames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<TempDir>();
    s_image = *s_dir / "streams.img";
    kb::Disk disk = kb::single_partition_disk(200000, 64);
    for (const Recording& r : kRecordings) {
      const std::string stream = *s_dir / ("ch" + std::to_string(r.channel));
      if (!ffmpeg_make(r.ffmpeg, stream)) return;
      pad_to_whole_kilobytes(stream, r.header_sectors);
      kb::File f;
      f.channel = static_cast<uint8_t>(r.channel);
      f.start = kb::pack_time(2010, 3, 5, 8, 0, 0);
      f.end = kb::pack_time(2010, 3, 5, 8, 0, 2);
      f.header_sectors = r.header_sectors;
      if (!kb::fit_to_stream(f, stream, 64)) return;
      disk.partitions[0].files.push_back(f);
    }
    const kb::BuildResult built = kb::build_image(disk, s_image);
    ASSERT_TRUE(built.ok) << built.error;
    s_ready = true;
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  void SetUp() override {
    if (!s_ready) GTEST_SKIP() << "ffmpeg command line with libx264 not available";
  }

  // The /mnt path of the recording on channel `channel` (from the tool's own listing).
  static std::string recording_path(int channel) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "/mnt/idea0/2010-03-05/%03d", channel + 1);
    return std::string(folder) + "/" + first_entry(s_image, folder);
  }

  static std::unique_ptr<TempDir> s_dir;
  static std::string s_image;
  static bool s_ready;
};

std::unique_ptr<TempDir> Frames::s_dir;
std::string Frames::s_image;
bool Frames::s_ready = false;

TEST_F(Frames, AgreeWithFfmpegOverWhatCatGivesForEveryRecording) {
  for (const Recording& rec : kRecordings) {
    SCOPED_TRACE(rec.name);
    EXPECT_EQ(expect_frames_agree(s_image, recording_path(rec.channel), *s_dir), rec.pictures);
  }
}

// The demo disk as `krt mkdemo` records it, one day of two channels with short clips: every
// partition, every channel folder, its first recording (a program stream behind a "DHII"
// header on channel 001, raw H.264 on channel 002, the mirror of channel 002 on idea1).
TEST(FramesOnTheDemoDisk, AgreeWithFfmpegOverWhatCatGives) {
  if (run_tool({"mkdemo", "--help"}).status != 0) GTEST_SKIP() << "this krt has no mkdemo";
  if (shell("ffmpeg -hide_banner -decoders 2>/dev/null").find("h264") == std::string::npos)
    GTEST_SKIP() << "ffmpeg command line not available";
  const TempDir dir;
  const std::string image = dir / "demo.img";
  const ToolRun made = run_tool({"mkdemo", "--days", "1", "--channels", "2", "--clip-pictures", "10", image});
  ASSERT_EQ(made.status, 0) << made.err;
  int recordings = 0;
  for (const std::string& part : lines(krt_on(image, {"ls", "/mnt"}).out)) {
    const std::string day = "/mnt/" + part + "/" + first_entry(image, "/mnt/" + part);
    for (const std::string& channel : lines(krt_on(image, {"ls", day}).out)) {
      const std::string folder = day + "/" + channel;
      EXPECT_GT(expect_frames_agree(image, folder + "/" + first_entry(image, folder), dir), 0);
      ++recordings;
    }
  }
  EXPECT_EQ(recordings, 3);  // idea0: channels 001 and 002; idea1: the mirror of 002
}

TEST_F(Frames, AgreeWithFfmpegOnALocalFile) {
  const std::string local = *s_dir / "ch0";  // the program stream, as ffmpeg wrote it
  const std::string reference = ffmpeg_framemd5(local);
  ASSERT_EQ(picture_lines(reference), kRecordings[0].pictures);
  const ToolRun r = run_tool({"frames", local});  // no disk needed
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, reference);
}

TEST_F(Frames, FailWithAClearMessage) {
  std::ofstream(*s_dir / "zeros.bin", std::ios::binary) << std::string(100000, '\0');
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"-d", s_image, "frames", "/mnt/idea0/2010-03-05"}, "is a folder, not a recording"},
      {{"-d", s_image, "frames", "/mnt/idea0/2010-03-05/001/09.00.00-09.00.02[R].h264"},
       "no such recording"},
      {{"frames", *s_dir / "missing.mpg"}, "cannot open"},
      {{"frames", *s_dir / "zeros.bin"}, "no video picture could be decoded"},
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

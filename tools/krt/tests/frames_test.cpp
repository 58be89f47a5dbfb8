// `krt frames` agrees with FFmpeg picture for picture: on recordings of a disk image whose files
// carry real streams (made with the ffmpeg command line at test time), the tool's framemd5 lines
// equal those of `ffmpeg -f framemd5` over what `krt cat` gives; on a local file, those of
// ffmpeg over the same file. Skipped when the ffmpeg command line with libx264 is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

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

// Picture lines (those not starting with '#') of framemd5 text.
int picture_lines(const std::string& text) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += !line.empty() && line[0] != '#';
  return n;
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

  // `krt -d IMAGE args...`
  static ToolRun krt(std::vector<std::string> args) {
    args.insert(args.begin(), {"-d", s_image});
    return run_tool(args);
  }

  // The /mnt path of the recording on channel `channel` (from the tool's own listing).
  static std::string recording_path(int channel) {
    char folder[48];
    std::snprintf(folder, sizeof folder, "/mnt/idea0/2010-03-05/%03d", channel + 1);
    const ToolRun r = krt({"ls", folder});
    EXPECT_EQ(r.status, 0) << r.err;
    return std::string(folder) + "/" + r.out.substr(0, r.out.find('\t'));
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
    const std::string path = recording_path(rec.channel);
    const ToolRun cat = krt({"cat", path});
    ASSERT_EQ(cat.status, 0) << cat.err;
    const std::string copy = *s_dir / "cat.bin";
    std::ofstream(copy, std::ios::binary) << cat.out;
    const std::string reference = ffmpeg_framemd5(copy);
    ASSERT_EQ(picture_lines(reference), rec.pictures);

    const ToolRun frames = krt({"frames", path});
    EXPECT_EQ(frames.status, 0) << frames.err;
    EXPECT_EQ(frames.out, reference);
  }
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

// `krt export --mp4`: recordings with real streams become MP4 files FFmpeg opens with their
// streams, every picture, time stamps from zero and the recording's start as creation time; a
// recording that cannot be remuxed is reported and leaves no file.
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tool_support.h"

namespace tool_test {
namespace {

namespace fs = std::filesystem;

class Mp4 : public ::testing::Test {
 protected:
  void SetUp() override {
    // The recorder's clock is read as this machine's local time: make that UTC.
    ::setenv("TZ", "UTC", 1);
    if (run_tool({"export", "--mp4", "--help"}).out.find("--mp4") == std::string::npos)
      GTEST_SKIP() << "this krt has no MP4 export";
    if (!StreamImage::get().ready) GTEST_SKIP() << "ffmpeg command line with libx264 not available";
  }

  // ffprobe's value of one entry (e.g. "format=start_time", "stream=nb_read_frames") of a file.
  static std::string probe(const std::string& file, const std::string& entry, const std::string& select = "") {
    std::string out = shell("ffprobe -v error " + select + " -count_frames -show_entries " + entry +
                            " -of default=noprint_wrappers=1:nokey=1 '" + file + "'");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  // The files under a folder, relative to it, hidden ones too.
  static std::vector<std::string> files_under(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file()) out.push_back(fs::relative(it->path(), dir).string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // Where `export --mp4` puts the MP4 of the recording at path in dir.
  static std::string mp4_of(const std::string& dir, const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash + 1);
    return dir + "/" + path.substr(5, slash - 4) + name.substr(0, name.rfind('.')) + ".mp4";
  }

  // The pictures `krt frames` decodes from a recording (framemd5 lines not starting with '#').
  static int frames_of(const std::string& image, const std::string& path) {
    int pictures = 0;
    std::istringstream lines(krt_on(image, {"frames", path}).out);
    for (std::string line; std::getline(lines, line);) pictures += !line.empty() && line[0] != '#';
    return pictures;
  }

  TempDir out;
};

TEST_F(Mp4, RemuxesEveryStreamWithItsPicturesTimesAndStart) {
  const StreamImage& s = StreamImage::get();
  const ToolRun r = krt_on(s.image, {"export", "--mp4", "/mnt/idea0/2010-03-05", out.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const bool frames = run_tool({"frames", "--help"}).status == 0;
  for (const StreamRecording& rec : kStreamRecordings) {
    SCOPED_TRACE(rec.name);
    const std::string path = s.recording_path(rec.channel);
    const std::string mp4 = mp4_of(out.path(), path);
    ASSERT_TRUE(fs::exists(mp4)) << mp4;
    // As many pictures as the tool's own decoding counts.
    const int pictures = frames ? frames_of(s.image, path) : rec.pictures;
    EXPECT_EQ(pictures, rec.pictures);
    EXPECT_EQ(probe(mp4, "stream=nb_read_frames", "-select_streams v:0"), std::to_string(pictures));
    EXPECT_EQ(probe(mp4, "stream=codec_name", "-select_streams v:0"), "h264");
    // MP2 sound is copied (MP4 labels MPEG-1 audio as a whole "mp3"); raw H.264 has none.
    EXPECT_EQ(probe(mp4, "stream=codec_type", "-select_streams a"), rec.channel == 0 ? "audio" : "");
    EXPECT_EQ(probe(mp4, "format=start_time"), "0.000000");
    const double seconds = std::atof(probe(mp4, "format=duration").c_str());
    EXPECT_NEAR(seconds, rec.pictures / 25.0, 0.1);
    EXPECT_EQ(probe(mp4, "format_tags=creation_time"), "2010-03-05T08:00:00.000000Z");
    EXPECT_NE(read_file(out / "SHA256SUMS").find(shell("sha256sum '" + mp4 + "' | cut -c1-64").substr(0, 64) + "  " +
                                                  fs::relative(mp4, out.path()).string()),
              std::string::npos);
  }
}

// The demo disk as `krt mkdemo --short` makes it (every recording ten seconds): the MP4 of
// each channel's first recording holds as many pictures as `krt frames` decodes from it.
TEST_F(Mp4, DemoRecordingsKeepEveryPicture) {
  if (run_tool({"mkdemo", "--help"}).status != 0 || run_tool({"frames", "--help"}).status != 0)
    GTEST_SKIP() << "this krt has no mkdemo or no frames";
  const std::string image = out / "demo.img";
  const ToolRun made = run_tool({"mkdemo", "--short", image});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string day = "/mnt/idea0/" + first_entry(image, "/mnt/idea0");
  int checked = 0;
  for (const char* channel : {"/001", "/002"}) {
    const std::string path = day + channel + "/" + first_entry(image, day + channel);
    SCOPED_TRACE(path);
    ASSERT_EQ(krt_on(image, {"export", "--mp4", path, out / "mp4"}).status, 0);
    const int pictures = frames_of(image, path);
    EXPECT_GT(pictures, 0);
    EXPECT_EQ(probe(mp4_of(out / "mp4", path), "stream=nb_read_frames", "-select_streams v:0"),
              std::to_string(pictures));
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

TEST_F(Mp4, ARecordingThatCannotBeRemuxedLeavesNoFile) {
  // The shared images carry no media: one of their recordings, and the one whose read fails.
  const Placed plain = Images::get().recordings(1, 0, 2010, 3, 6, 0)[0];
  const std::string first = "/mnt/ideb0/2010-03-06/001/" + Images::name(plain);
  const ToolRun r = run_tool(Images::get().args({"export", "--mp4", first, "/mnt/ideb0/2010-03-07/003", out.path()}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(first + " cannot be remuxed into MP4: no stream found"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 of 2 recordings not copied: " + first + " cannot be remuxed"), std::string::npos) << r.err;
  EXPECT_EQ(files_under(out.path()), (std::vector<std::string>{"SHA256SUMS", "manifest.json"}));
}

}  // namespace
}  // namespace tool_test

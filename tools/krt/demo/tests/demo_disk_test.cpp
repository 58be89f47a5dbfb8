// The demo disk: every recording reads back through the read side as the maker wrote it, holds
// a steady run of pictures for its whole named span, and each picture's burned-in clock,
// read back from the decoded pixels with the display's own font, shows the recording's start
// plus the picture's time. The display itself draws and reads back every glyph.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "demo_disk.h"
#include "krt/disk.h"
#include "krt/packed_time.h"
#include "krt/volume.h"
#include "osd.h"
#include "vfs/fsfile.h"

namespace krtdemo {
namespace {

using krt_testing::DemoRecording;

std::string temp_dir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/krt-demo-XXXXXX";
  return ::mkdtemp(t.data()) ? t : std::string();
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> out;
  CFSFile f;
  if (!f.Open(path.c_str(), CFSFile::modeRead)) return out;
  std::vector<uint8_t> buf(1 << 20);
  for (;;) {
    const uint32_t n = f.Read(buf.data(), uint32_t(buf.size()));
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    if (n < buf.size()) break;
  }
  return out;
}

// Decodes every video picture of a stream held in memory and hands each to `picture`.
// Returns false when the stream cannot be opened or decoded.
bool decode(const uint8_t* data, size_t size, const std::function<void(const AVFrame*)>& picture) {
  struct Source {
    const uint8_t* data;
    size_t size, at;
  } src{data, size, 0};
  auto read = [](void* opaque, uint8_t* buf, int n) -> int {
    auto* s = static_cast<Source*>(opaque);
    const size_t take = std::min(size_t(n), s->size - s->at);
    if (take == 0) return AVERROR_EOF;
    std::memcpy(buf, s->data + s->at, take);
    s->at += take;
    return int(take);
  };
  auto* io_buffer = static_cast<uint8_t*>(av_malloc(65536));
  AVIOContext* io = avio_alloc_context(io_buffer, 65536, 0, &src, read, nullptr, nullptr);
  AVFormatContext* fmt = avformat_alloc_context();
  fmt->pb = io;
  bool ok = avformat_open_input(&fmt, nullptr, nullptr, nullptr) == 0 && avformat_find_stream_info(fmt, nullptr) >= 0;
  const int stream = ok ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
  AVCodecContext* dec = nullptr;
  if (stream >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    dec = avcodec_alloc_context3(codec);
    ok = dec && avcodec_parameters_to_context(dec, fmt->streams[stream]->codecpar) >= 0 &&
         avcodec_open2(dec, codec, nullptr) == 0;
  } else {
    ok = false;
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(dec, frame) == 0) picture(frame);
  };
  while (ok && av_read_frame(fmt, packet) >= 0) {
    if (packet->stream_index == stream) ok = avcodec_send_packet(dec, packet) >= 0;
    av_packet_unref(packet);
    if (ok) drain();
  }
  if (ok) ok = avcodec_send_packet(dec, nullptr) >= 0;
  if (ok) drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&dec);
  avformat_close_input(&fmt);
  if (io) av_freep(&io->buffer);
  avio_context_free(&io);
  return ok;
}

// The clocks of the pictures of GOP `g` of a recording's stream, read from their pixels.
std::vector<std::string> clocks_of_gop(const DemoRecording& r, const std::vector<uint8_t>& stream, uint32_t g) {
  const size_t gop = krt_testing::demo_gop_bytes(r);
  std::vector<std::string> clocks;
  const size_t text = osd_text(r.channel, r.start).size();
  EXPECT_TRUE(decode(stream.data() + g * gop, gop, [&](const AVFrame* f) {
    clocks.push_back(read_osd(f->data[0], f->linesize[0], f->width, f->height, text));
  })) << "GOP " << g;
  return clocks;
}

class DemoDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(temp_dir());
    image_ = new std::string(*dir_ + "/demo.img");
    result_ = new DemoResult(make_demo_disk(*image_, DemoOptions{}));
  }
  static void TearDownTestSuite() {
    krt::detach_disks();
    std::remove(image_->c_str());
    ::rmdir(dir_->c_str());
    delete result_;
    delete image_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(result_->ok) << result_->error;
    krt::DiskSources sources;
    sources.images = {*image_};
    sources.environment = sources.program_folder = sources.block_devices = false;
    krt::set_disk_sources(sources);
    krt::volume_startup();
  }

  static std::string* dir_;
  static std::string* image_;
  static DemoResult* result_;
};
std::string* DemoDisk::dir_ = nullptr;
std::string* DemoDisk::image_ = nullptr;
DemoResult* DemoDisk::result_ = nullptr;

// Every recording that is still there reads back as written; its stream is whole GOPs of a
// steady number of pictures; the first, middle and last GOP show the clock of each picture.
TEST_F(DemoDisk, EveryRecordingHoldsItsWholeSpanWithItsClockBurnedIn) {
  const DemoResult& r = *result_;
  const auto placed = krt_testing::demo_placements(r.built, r.recordings);
  size_t checked = 0;
  for (size_t i = 0; i < r.recordings.size(); ++i) {
    const DemoRecording& rec = r.recordings[i];
    if (placed[i]->overwritten) continue;
    const std::string path = krt_testing::demo_path(rec, *placed[i]);
    SCOPED_TRACE(path);
    const std::vector<uint8_t> back = read_file(path);
    const std::vector<uint8_t> written = krt_testing::expected_bytes(*placed[i]);
    const size_t header = size_t(placed[i]->header_sectors) * krt_testing::kSectorBytes;
    ASSERT_EQ(back.size() + header, written.size());
    ASSERT_TRUE(std::equal(back.begin(), back.end(), written.begin() + long(header)));
    ASSERT_EQ(back.size(), krt_testing::demo_stream_bytes(rec));

    const int rate = krt_testing::demo_rate(rec.picture);
    const uint32_t gops = krt_testing::demo_seconds(rec) / krt_testing::kDemoGopSeconds;
    for (const uint32_t g : {0u, gops / 2, gops - 1}) {
      const std::vector<std::string> clocks = clocks_of_gop(rec, back, g);
      ASSERT_EQ(clocks.size(), size_t(rate) * krt_testing::kDemoGopSeconds) << "GOP " << g;
      for (size_t k = 0; k < clocks.size(); ++k) {
        const uint32_t second = g * krt_testing::kDemoGopSeconds + uint32_t(k) / uint32_t(rate);
        ASSERT_EQ(clocks[k], osd_text(rec.channel, krt_testing::add_seconds(rec.start, second)))
            << "picture " << k << " of GOP " << g;
      }
    }
    ++checked;
  }
  EXPECT_EQ(checked, r.recordings.size() - r.overwritten);
  EXPECT_GT(r.reused, 0u) << "the quarter hour recorded twice";

  struct stat st {};
  ASSERT_EQ(::stat(image_->c_str(), &st), 0);
  EXPECT_LE(uint64_t(st.st_size), uint64_t(2) << 30);
  EXPECT_LE(uint64_t(st.st_blocks) * 512, uint64_t(400) << 20) << "a sparse image";
}

TEST(Osd, EveryGlyphReadsBackAsDrawnAndNothingElseReadsAsAGlyph) {
  const std::string text = "CH 07  2019-12-31 23:58:46";
  for (const int width : {352, 704}) {
    const int height = width * 9 / 11;
    std::vector<uint8_t> luma(size_t(width) * size_t(height), 128);
    draw_osd(luma.data(), width, width, height, text);
    EXPECT_EQ(read_osd(luma.data(), width, width, height, text.size()), text);
    std::fill(luma.begin(), luma.end(), 255);
    EXPECT_EQ(read_osd(luma.data(), width, width, height, 3), "???");
  }
  EXPECT_EQ(osd_text(1, krt::pack_time({2024, 3, 5, 14, 5, 30})), "CH 02  2024-03-05 14:05:30");
}

TEST(MakeDemoDisk, RefusesWhatIsNotARegularFileOfThisUserBeforeEncoding) {
  const std::string dir = temp_dir();
  const std::string target = dir + "/target", link = dir + "/link";
  std::fclose(std::fopen(target.c_str(), "w"));
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  for (const std::string& path : {dir, link}) {
    const DemoResult r = make_demo_disk(path, DemoOptions{});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("not a regular file of this user"), std::string::npos) << r.error;
    EXPECT_EQ(r.encoded, 0u);
  }
  const DemoResult r = make_demo_disk(dir + "/no-such-folder/x.img", DemoOptions{});
  EXPECT_NE(r.error.find("No such file or directory"), std::string::npos) << r.error;
  std::remove(link.c_str());
  std::remove(target.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace krtdemo

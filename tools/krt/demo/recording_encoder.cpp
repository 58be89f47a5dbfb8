// Demo recordings: pictures drawn in YUV, encoded with libx264 (and MP2 sound), muxed with
// libavformat into memory GOP by GOP, each GOP padded to its fixed size.
#include "recording_encoder.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "osd.h"

namespace krtdemo {
namespace {

using krt_testing::DemoPicture;
using krt_testing::DemoRecording;
using krt_testing::DemoStream;

constexpr int kSampleRate = 32000;
constexpr int kAudioBitRate = 32000;  // the smallest MP2 rate
constexpr size_t kMinPadding = 6;     // the smallest padding packet or filler unit
constexpr size_t kMaxPaddingPacket = 6 + 65535;
// Timestamps start a second in, past the program stream muxer's preload: every GOP, muxed on
// its own, then carries its timestamps as they are, and they run on from GOP to GOP.
constexpr int kLeadSeconds = 1;

// The still view of a channel's camera: a sky and a ground in the channel's colours, a wall
// with windows placed by the channel number.
void draw_view(AVFrame* f, int channel) {
  const int w = f->width, h = f->height, horizon = h * 5 / 9;
  for (int y = 0; y < h; ++y) {
    const int shade = y < horizon ? 150 + 60 * y / horizon : 90 - 30 * (y - horizon) / (h - horizon);
    std::memset(f->data[0] + y * f->linesize[0], shade, size_t(w));
  }
  const double hue = channel * 1.1;
  for (int y = 0; y < h / 2; ++y) {
    const bool sky = y * 2 < horizon;
    const uint8_t u = uint8_t(sky ? 150 : 128 + 30 * std::sin(hue));
    const uint8_t v = uint8_t(sky ? 115 : 128 + 30 * std::cos(hue));
    std::memset(f->data[1] + y * f->linesize[1], u, size_t(w / 2));
    std::memset(f->data[2] + y * f->linesize[2], v, size_t(w / 2));
  }
  // A wall with four windows; its place and size follow the channel.
  const int wall_x = w / 8 + (channel * w / 11) % (w / 3), wall_w = w / 2, wall_y = horizon - h / 3;
  for (int y = wall_y; y < horizon; ++y) std::memset(f->data[0] + y * f->linesize[0] + wall_x, 110, size_t(wall_w));
  for (int i = 0; i < 4; ++i) {
    const int wx = wall_x + wall_w / 10 + i * wall_w / 4, wy = wall_y + h / 20;
    for (int y = wy; y < wy + h / 10; ++y) std::memset(f->data[0] + y * f->linesize[0] + wx, 40, size_t(wall_w / 8));
  }
}

// A walker crossing the ground: a dark upright block at picture n of an event.
void draw_walker(AVFrame* f, int n) {
  const int w = f->width, h = f->height, size = h / 6;
  const int x = (n * 3) % (w - size / 2), y = h * 5 / 9 + size / 4;
  for (int row = y; row < y + size && row < h; ++row)
    std::memset(f->data[0] + row * f->linesize[0] + x, 30, size_t(std::min(size / 2, w - x)));
}

int append_bytes(void* opaque, uint8_t* buf, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(opaque);
  out->insert(out->end(), buf, buf + size);
  return size;
}

// Appends `n` bytes (0 or at least kMinPadding) that players skip: padding packets of a
// program stream, or one filler unit of a raw H.264 stream.
void pad(std::vector<uint8_t>& out, size_t n, DemoStream stream) {
  while (n > 0) {
    size_t take = stream == DemoStream::kRawH264 ? n : std::min(n, kMaxPaddingPacket);
    if (n - take > 0 && n - take < kMinPadding) take -= kMinPadding;
    const size_t at = out.size();
    out.resize(at + take, 0xFF);
    if (stream == DemoStream::kRawH264) {
      const uint8_t filler[] = {0x00, 0x00, 0x00, 0x01, 0x0C};  // start code, filler data unit
      std::memcpy(out.data() + at, filler, sizeof filler);
      out.back() = 0x80;  // the unit's closing bit
    } else {
      const uint8_t packet[] = {0x00, 0x00, 0x01, 0xBE, uint8_t((take - 6) >> 8), uint8_t(take - 6)};
      std::memcpy(out.data() + at, packet, sizeof packet);
    }
    n -= take;
  }
}

class Encoder {
 public:
  explicit Encoder(const DemoRecording& r) : r_(r), rate_(krt_testing::demo_rate(r.picture)) {}
  ~Encoder() {
    avcodec_free_context(&video_);
    avcodec_free_context(&audio_);
    av_frame_free(&view_);
    av_frame_free(&picture_);
    av_frame_free(&sound_);
    av_packet_free(&packet_);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  bool run(std::vector<uint8_t>& out) {
    if (!open_video() || (r_.sound && !open_audio())) return false;
    packet_ = av_packet_alloc();
    if (!packet_) return fail("out of memory");
    const uint32_t gops = krt_testing::demo_seconds(r_) / krt_testing::kDemoGopSeconds;
    const size_t budget = krt_testing::demo_gop_bytes(r_);
    out.reserve(size_t(gops) * budget);
    std::vector<uint8_t> gop;
    for (uint32_t g = 0; g < gops; ++g) {
      gop.clear();
      const bool ok = r_.stream == DemoStream::kRawH264 ? raw_gop(gop) : program_stream_gop(gop);
      if (!ok) return false;
      if (gop.size() > budget || budget - gop.size() < kMinPadding)
        return fail("a GOP of " + std::to_string(gop.size()) + " bytes does not fit its " + std::to_string(budget));
      out.insert(out.end(), gop.begin(), gop.end());
      pad(out, budget - gop.size(), r_.stream);
    }
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool fail(const std::string& what) {
    error_ = what;
    return false;
  }

  AVFrame* new_picture() {
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = krt_testing::demo_width(r_.picture);
    f->height = krt_testing::demo_height(r_.picture);
    if (av_frame_get_buffer(f, 0) < 0) av_frame_free(&f);
    return f;
  }

  bool open_video() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return fail("the libx264 encoder is not available");
    video_ = avcodec_alloc_context3(codec);
    if (!video_) return fail("out of memory");
    video_->width = krt_testing::demo_width(r_.picture);
    video_->height = krt_testing::demo_height(r_.picture);
    video_->time_base = AVRational{1, rate_};
    video_->framerate = AVRational{rate_, 1};
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    video_->gop_size = rate_ * int(krt_testing::kDemoGopSeconds);
    video_->max_b_frames = 0;
    video_->thread_count = 1;
    av_opt_set(video_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(video_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(video_->priv_data, "qp", "30", 0);
    av_opt_set(video_->priv_data, "forced-idr", "1", 0);
    av_opt_set(video_->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
    if (avcodec_open2(video_, codec, nullptr) < 0) return fail("libx264 did not open");
    view_ = new_picture();
    picture_ = new_picture();
    if (!view_ || !picture_) return fail("out of memory");
    draw_view(view_, r_.channel);
    return true;
  }

  bool open_audio() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!codec) return fail("the MP2 encoder is not available");
    audio_ = avcodec_alloc_context3(codec);
    if (!audio_) return fail("out of memory");
    audio_->sample_rate = kSampleRate;
    audio_->sample_fmt = AV_SAMPLE_FMT_S16;
    audio_->bit_rate = kAudioBitRate;
    audio_->time_base = AVRational{1, kSampleRate};
    av_channel_layout_default(&audio_->ch_layout, 1);
    if (avcodec_open2(audio_, codec, nullptr) < 0) return fail("the MP2 encoder did not open");
    sound_ = av_frame_alloc();
    if (!sound_) return fail("out of memory");
    sound_->format = audio_->sample_fmt;
    sound_->nb_samples = audio_->frame_size;
    sound_->sample_rate = kSampleRate;
    av_channel_layout_copy(&sound_->ch_layout, &audio_->ch_layout);
    if (av_frame_get_buffer(sound_, 0) < 0) return fail("out of memory");
    return true;
  }

  // Sends a frame and hands every packet that comes out to sink.
  template <typename Sink>
  bool encode(AVCodecContext* c, AVFrame* frame, Sink sink) {
    if (avcodec_send_frame(c, frame) < 0) return fail("encoding failed");
    for (;;) {
      const int r = avcodec_receive_packet(c, packet_);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return fail("encoding failed");
      const bool ok = sink(packet_);
      av_packet_unref(packet_);
      if (!ok) return fail("writing the stream failed");
    }
  }

  // The next picture: the view, the walker of an event, the display with its moment. The
  // first of a GOP is a key frame.
  bool next_picture() {
    if (av_frame_make_writable(picture_) < 0) return fail("out of memory");
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? picture_->height : picture_->height / 2;
      std::memcpy(picture_->data[plane], view_->data[plane], size_t(picture_->linesize[plane]) * size_t(rows));
    }
    const int n = int(next_picture_);
    if (r_.kind != 0) draw_walker(picture_, n);
    const uint32_t moment = krt_testing::add_seconds(r_.start, n / rate_);
    draw_osd(picture_->data[0], picture_->linesize[0], picture_->width, picture_->height, osd_text(r_.channel, moment));
    picture_->pts = rate_ * kLeadSeconds + next_picture_++;
    picture_->pict_type = n % video_->gop_size == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    return true;
  }

  // The next MP2 frame of the channel's tone.
  bool next_sound() {
    if (av_frame_make_writable(sound_) < 0) return fail("out of memory");
    auto* s = reinterpret_cast<int16_t*>(sound_->data[0]);
    const double hz = 300.0 + 60.0 * r_.channel;
    for (int i = 0; i < sound_->nb_samples; ++i)
      s[i] = int16_t(6000 * std::sin(2 * M_PI * hz * double(next_sample_ + i) / kSampleRate));
    sound_->pts = kSampleRate * kLeadSeconds + next_sample_;
    next_sample_ += sound_->nb_samples;
    return true;
  }

  bool raw_gop(std::vector<uint8_t>& out) {
    for (int n = 0; n < video_->gop_size; ++n) {
      if (!next_picture() || !encode(video_, picture_, [&](AVPacket* p) {
            out.insert(out.end(), p->data, p->data + p->size);
            return true;
          }))
        return false;
    }
    return true;
  }

  bool program_stream_gop(std::vector<uint8_t>& out) {
    AVFormatContext* mux = nullptr;
    if (avformat_alloc_output_context2(&mux, nullptr, "mpeg", nullptr) < 0 || !mux) return fail("no MPEG muxer");
    const int io_size = 32768;
    auto* io_buffer = static_cast<uint8_t*>(av_malloc(io_size));
    mux->pb = io_buffer ? avio_alloc_context(io_buffer, io_size, 1, &out, nullptr, append_bytes, nullptr) : nullptr;
    if (!mux->pb) av_free(io_buffer);
    AVStream* vs = avformat_new_stream(mux, nullptr);
    AVStream* as = audio_ ? avformat_new_stream(mux, nullptr) : nullptr;
    bool ok = mux->pb && vs && (!audio_ || as) && avcodec_parameters_from_context(vs->codecpar, video_) >= 0 &&
              (!audio_ || avcodec_parameters_from_context(as->codecpar, audio_) >= 0);
    if (ok) {
      vs->time_base = video_->time_base;
      if (as) as->time_base = audio_->time_base;
      ok = avformat_write_header(mux, nullptr) >= 0;
    }
    auto write_to = [&](AVStream* st, AVCodecContext* c) {
      return [&, st, c](AVPacket* p) {
        p->stream_index = st->index;
        av_packet_rescale_ts(p, c->time_base, st->time_base);
        return av_interleaved_write_frame(mux, p) >= 0;
      };
    };
    for (int n = 0; ok && n < video_->gop_size; ++n) {
      ok = next_picture() && encode(video_, picture_, write_to(vs, video_));
      // Sound up to the end of this picture.
      const int64_t until = next_picture_ * kSampleRate / rate_;
      while (ok && audio_ && next_sample_ < until) ok = next_sound() && encode(audio_, sound_, write_to(as, audio_));
    }
    if (ok) ok = av_write_trailer(mux) >= 0;
    if (mux->pb) avio_flush(mux->pb);
    if (mux->pb) av_freep(&mux->pb->buffer);
    avio_context_free(&mux->pb);
    avformat_free_context(mux);
    // The program end code would end the stream for some readers: the next GOP follows it.
    static const uint8_t kEnd[] = {0x00, 0x00, 0x01, 0xB9};
    if (out.size() >= 4 && std::memcmp(out.data() + out.size() - 4, kEnd, 4) == 0) out.resize(out.size() - 4);
    return ok || fail("muxing the program stream failed");
  }

  const DemoRecording& r_;
  const int rate_;
  std::string error_;
  AVCodecContext* video_ = nullptr;
  AVCodecContext* audio_ = nullptr;
  AVFrame* view_ = nullptr;     // the channel's still view
  AVFrame* picture_ = nullptr;  // the picture being encoded
  AVFrame* sound_ = nullptr;
  AVPacket* packet_ = nullptr;
  int64_t next_picture_ = 0;  // pts of the next picture (1 / rate s)
  int64_t next_sample_ = 0;   // pts of the next sound sample (1 / 32000 s)
};

}  // namespace

std::vector<uint8_t> encode_recording(const DemoRecording& r, std::string& error) {
  av_log_set_level(AV_LOG_ERROR);
  std::vector<uint8_t> out;
  Encoder encoder(r);
  if (!encoder.run(out)) {
    error = encoder.error();
    return {};
  }
  return out;
}

}  // namespace krtdemo

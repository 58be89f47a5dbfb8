// Demo clips: pictures drawn in YUV, encoded with libx264 (and MP2 sound), muxed with
// libavformat into memory.
#include "clip_encoder.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace krtdemo {
namespace {

constexpr int kSampleRate = 32000;
constexpr int kAudioBitRate = 32000;  // the smallest MP2 rate: most of a clip is its sound
constexpr int kGlyphW = 5, kGlyphH = 7, kScale = 8;  // glyphs of 5 x 7 dots, 8 x 8 pixels a dot

// 5 x 7 dot glyphs, one row per byte (bit 4 = leftmost dot).
struct Glyph {
  char c;
  uint8_t rows[kGlyphH];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
};

const Glyph* glyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

// Draws text with its top left corner at (x, y) into a luma plane.
void draw_text(AVFrame* f, int x, int y, const std::string& text) {
  for (char c : text) {
    if (const Glyph* g = glyph(c)) {
      for (int row = 0; row < kGlyphH; ++row) {
        for (int col = 0; col < kGlyphW; ++col) {
          if (!(g->rows[row] >> (kGlyphW - 1 - col) & 1)) continue;
          for (int dy = 0; dy < kScale; ++dy) {
            const int py = y + row * kScale + dy;
            if (py < 0 || py >= f->height) continue;
            uint8_t* line = f->data[0] + py * f->linesize[0];
            for (int dx = 0; dx < kScale; ++dx) {
              const int px = x + col * kScale + dx;
              if (px >= 0 && px < f->width) line[px] = 235;
            }
          }
        }
      }
    }
    x += (kGlyphW + 1) * kScale;
  }
}

// Fills a picture: the channel's colour, three lines of text and a bar at picture n.
void draw_picture(AVFrame* f, int channel, const std::string& line1, const std::string& line2, int n) {
  for (int y = 0; y < f->height; ++y) std::memset(f->data[0] + y * f->linesize[0], 48, size_t(f->width));
  const uint8_t u = uint8_t(128 + 60 * std::sin(channel * 1.3));
  const uint8_t v = uint8_t(128 + 60 * std::cos(channel * 1.3));
  for (int y = 0; y < f->height / 2; ++y) {
    std::memset(f->data[1] + y * f->linesize[1], u, size_t(f->width / 2));
    std::memset(f->data[2] + y * f->linesize[2], v, size_t(f->width / 2));
  }
  char ch[8];
  std::snprintf(ch, sizeof ch, "CH %02d", channel);
  draw_text(f, 48, 48, ch);
  draw_text(f, 48, 200, line1);
  draw_text(f, 48, 320, line2);
  const int bar_x = (n * 37) % (f->width - 64);
  for (int y = f->height - 64; y < f->height - 32; ++y) std::memset(f->data[0] + y * f->linesize[0] + bar_x, 200, 64);
}

int append_bytes(void* opaque, uint8_t* buf, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(opaque);
  out->insert(out->end(), buf, buf + size);
  return size;
}

}  // namespace

struct ClipEncoder::State {
  int channel = 0;
  StreamKind kind = StreamKind::kRawH264;
  int pictures = 1;
  std::string error;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  int64_t next_picture = 0;  // pts of the next picture (1/25 s)
  int64_t next_sample = 0;   // pts of the next sound sample (1/32000 s)

  ~State() {
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
  }

  bool fail(const std::string& what) {
    error = what;
    return false;
  }

  bool open_video() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return fail("the libx264 encoder is not available");
    video = avcodec_alloc_context3(codec);
    if (!video) return fail("out of memory");
    video->width = kClipWidth;
    video->height = kClipHeight;
    video->time_base = AVRational{1, kClipRate};
    video->framerate = AVRational{kClipRate, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = 600;
    video->max_b_frames = 0;
    video->thread_count = 1;
    av_opt_set(video->priv_data, "preset", "ultrafast", 0);
    av_opt_set(video->priv_data, "tune", "zerolatency", 0);
    av_opt_set(video->priv_data, "crf", "32", 0);
    av_opt_set(video->priv_data, "forced-idr", "1", 0);
    av_opt_set(video->priv_data, "x264-params", "repeat-headers=1", 0);
    if (avcodec_open2(video, codec, nullptr) < 0) return fail("libx264 did not open");
    picture = av_frame_alloc();
    if (!picture) return fail("out of memory");
    picture->format = video->pix_fmt;
    picture->width = video->width;
    picture->height = video->height;
    if (av_frame_get_buffer(picture, 0) < 0) return fail("out of memory");
    return true;
  }

  bool open_audio() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
    if (!codec) return fail("the MP2 encoder is not available");
    audio = avcodec_alloc_context3(codec);
    if (!audio) return fail("out of memory");
    audio->sample_rate = kSampleRate;
    audio->sample_fmt = AV_SAMPLE_FMT_S16;
    audio->bit_rate = kAudioBitRate;
    audio->time_base = AVRational{1, kSampleRate};
    av_channel_layout_default(&audio->ch_layout, 1);
    if (avcodec_open2(audio, codec, nullptr) < 0) return fail("the MP2 encoder did not open");
    sound = av_frame_alloc();
    if (!sound) return fail("out of memory");
    sound->format = audio->sample_fmt;
    sound->nb_samples = audio->frame_size;
    sound->sample_rate = kSampleRate;
    av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
    if (av_frame_get_buffer(sound, 0) < 0) return fail("out of memory");
    return true;
  }

  // Sends a frame (null: none) and hands every packet that comes out to sink.
  template <typename Sink>
  bool encode(AVCodecContext* c, AVFrame* frame, Sink sink) {
    if (avcodec_send_frame(c, frame) < 0) return fail("encoding failed");
    for (;;) {
      const int r = avcodec_receive_packet(c, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return fail("encoding failed");
      const bool ok = sink(packet);
      av_packet_unref(packet);
      if (!ok) return fail("writing the stream failed");
    }
  }

  // Picture n of the clip into `picture`, a key frame for the first.
  bool next_picture_frame(int n, const std::string& line1, const std::string& line2) {
    if (av_frame_make_writable(picture) < 0) return fail("out of memory");
    draw_picture(picture, channel, line1, line2, int(next_picture));
    picture->pts = next_picture++;
    picture->pict_type = n == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    return true;
  }

  // The next MP2 frame of the channel's tone into `sound`.
  bool next_sound_frame() {
    if (av_frame_make_writable(sound) < 0) return fail("out of memory");
    auto* s = reinterpret_cast<int16_t*>(sound->data[0]);
    const double hz = 300.0 + 60.0 * channel;
    for (int i = 0; i < sound->nb_samples; ++i) {
      s[i] = int16_t(6000 * std::sin(2 * M_PI * hz * double(next_sample + i) / kSampleRate));
    }
    sound->pts = next_sample;
    next_sample += sound->nb_samples;
    return true;
  }

  bool raw_clip(std::vector<uint8_t>& out, const std::string& line1, const std::string& line2) {
    for (int n = 0; n < pictures; ++n) {
      if (!next_picture_frame(n, line1, line2)) return false;
      if (!encode(video, picture, [&](AVPacket* p) {
            out.insert(out.end(), p->data, p->data + p->size);
            return true;
          }))
        return false;
    }
    return true;
  }

  bool program_stream_clip(std::vector<uint8_t>& out, const std::string& line1, const std::string& line2) {
    AVFormatContext* mux = nullptr;
    if (avformat_alloc_output_context2(&mux, nullptr, "mpeg", nullptr) < 0 || !mux) return fail("no MPEG muxer");
    const int io_size = 32768;
    auto* io_buffer = static_cast<uint8_t*>(av_malloc(io_size));
    mux->pb = avio_alloc_context(io_buffer, io_size, 1, &out, nullptr, append_bytes, nullptr);
    AVStream* vs = avformat_new_stream(mux, nullptr);
    AVStream* as = avformat_new_stream(mux, nullptr);
    bool ok = mux->pb && vs && as && avcodec_parameters_from_context(vs->codecpar, video) >= 0 &&
              avcodec_parameters_from_context(as->codecpar, audio) >= 0;
    if (ok) {
      vs->time_base = video->time_base;
      as->time_base = audio->time_base;
      ok = avformat_write_header(mux, nullptr) >= 0;
    }
    auto write_to = [&](AVStream* st, AVCodecContext* c) {
      return [&, st, c](AVPacket* p) {
        p->stream_index = st->index;
        av_packet_rescale_ts(p, c->time_base, st->time_base);
        return av_interleaved_write_frame(mux, p) >= 0;
      };
    };
    for (int n = 0; ok && n < pictures; ++n) {
      ok = next_picture_frame(n, line1, line2) && encode(video, picture, write_to(vs, video));
      // Sound up to the end of this picture.
      const int64_t until = (next_picture * kSampleRate) / kClipRate;
      while (ok && next_sample < until) ok = next_sound_frame() && encode(audio, sound, write_to(as, audio));
    }
    if (ok) ok = av_write_trailer(mux) >= 0;
    if (mux->pb) avio_flush(mux->pb);
    if (mux->pb) av_freep(&mux->pb->buffer);
    avio_context_free(&mux->pb);
    avformat_free_context(mux);
    // The program end code would end the stream for some readers: padding follows it.
    static const uint8_t kEnd[] = {0x00, 0x00, 0x01, 0xB9};
    if (out.size() >= 4 && std::memcmp(out.data() + out.size() - 4, kEnd, 4) == 0) out.resize(out.size() - 4);
    return ok || fail("muxing the program stream failed");
  }
};

ClipEncoder::ClipEncoder(int channel, StreamKind kind, int pictures) : s_(std::make_unique<State>()) {
  av_log_set_level(AV_LOG_ERROR);
  s_->channel = channel;
  s_->kind = kind;
  s_->pictures = pictures < 1 ? 1 : pictures;
  s_->packet = av_packet_alloc();
  if (!s_->packet) {
    s_->fail("out of memory");
    return;
  }
  if (s_->open_video() && kind == StreamKind::kProgramStream) s_->open_audio();
}

ClipEncoder::~ClipEncoder() = default;

const std::string& ClipEncoder::error() const { return s_->error; }

StreamKind ClipEncoder::kind() const { return s_->kind; }

std::vector<uint8_t> ClipEncoder::clip(const std::string& line1, const std::string& line2) {
  std::vector<uint8_t> out;
  if (!s_->error.empty()) return out;
  const bool ok = s_->kind == StreamKind::kProgramStream ? s_->program_stream_clip(out, line1, line2)
                                                         : s_->raw_clip(out, line1, line2);
  if (!ok) out.clear();
  return out;
}

std::vector<uint8_t> ClipEncoder::padding() const {
  std::vector<uint8_t> out(kPaddingBytes, 0xFF);
  if (s_->kind == StreamKind::kProgramStream) {
    // A padding packet: start code 00 00 01 BE, 16-bit length of what follows.
    const size_t length = kPaddingBytes - 6;
    const uint8_t head[] = {0x00, 0x00, 0x01, 0xBE, uint8_t(length >> 8), uint8_t(length)};
    std::memcpy(out.data(), head, sizeof head);
  } else {
    // A filler data unit (type 12): start code, header, 0xFF bytes, then the stop bit.
    const uint8_t head[] = {0x00, 0x00, 0x00, 0x01, 0x0C};
    std::memcpy(out.data(), head, sizeof head);
    out.back() = 0x80;
  }
  return out;
}

}  // namespace krtdemo

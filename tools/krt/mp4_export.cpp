// Remuxing a recording into MP4 with libavformat.
#include "mp4_export.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "catalog/reader.h"
#include "catalog/sha256.h"
#include "catalog/text.h"

namespace {

namespace fs = std::filesystem;

// The formats a recording may hold (the formats the playback engine plays).
constexpr const char* kFormats = "h264,hevc,mpeg,mpegts,mjpeg,jpeg_pipe,mpjpeg,m4v";
constexpr const char* kProbeSize = "1048576";      // bytes read to learn the streams
constexpr const char* kAnalyzeDuration = "2000000";  // microseconds of stream read to learn them
constexpr AVRational kDefaultRate{25, 1};          // pictures a second of a stream that names none

std::string av_error(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The recording as libavformat reads it: the bytes through CFSFile, hashed as they pass.
struct Source {
  RecordingReader reader;
  Sha256 sha;
  uint64_t bytes = 0;

  static int read(void* opaque, uint8_t* buf, int size) {
    auto* s = static_cast<Source*>(opaque);
    const uint32_t n = s->reader.read(buf, uint32_t(size));
    if (n == 0) return AVERROR_EOF;
    s->sha.update(buf, n);
    s->bytes += n;
    return int(n);
  }
};

// libavformat may not open any other file on behalf of a recording.
int refuse_nested_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// The contexts of one remux, freed together.
struct Contexts {
  AVIOContext* io = nullptr;
  AVFormatContext* in = nullptr;
  AVFormatContext* out = nullptr;
  AVPacket* packet = av_packet_alloc();
  ~Contexts() {
    av_packet_free(&packet);
    avformat_close_input(&in);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
    if (out) {
      avio_closep(&out->pb);
      avformat_free_context(out);
    }
  }
};

// How the packets of one input stream go out.
struct Route {
  int out = -1;               // output stream index; -1 = left out
  int64_t next_dts = AV_NOPTS_VALUE;  // the time stamp a packet without one gets (input base)
  int64_t last_dts = AV_NOPTS_VALUE;  // the last time stamp written (input base)
  int64_t frame = 0;          // ticks of one picture, in the input base (streams without stamps)
};

bool open_input(Contexts& c, Source& source, std::string& error) {
  const int kIoBytes = int(kReadBlockBytes);
  auto* buffer = static_cast<uint8_t*>(av_malloc(size_t(kIoBytes)));
  if (!buffer) return (error = "out of memory"), false;
  c.io = avio_alloc_context(buffer, kIoBytes, 0, &source, &Source::read, nullptr, nullptr);
  if (!c.io) {
    av_free(buffer);
    return (error = "out of memory"), false;
  }
  c.in = avformat_alloc_context();
  if (!c.in) return (error = "out of memory"), false;
  c.in->pb = c.io;
  c.in->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_GENPTS;
  c.in->io_open = refuse_nested_open;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "format_whitelist", kFormats, 0);
  av_dict_set(&options, "probesize", kProbeSize, 0);
  av_dict_set(&options, "analyzeduration", kAnalyzeDuration, 0);
  int r = avformat_open_input(&c.in, nullptr, nullptr, &options);  // frees c.in on failure
  av_dict_free(&options);
  if (r >= 0) r = avformat_find_stream_info(c.in, nullptr);
  if (r < 0) return (error = concat({"no stream found (", av_error(r), ")"})), false;
  return true;
}

// Sets up an output stream for every input stream MP4 can carry. Returns false with error set
// when there is no video stream or the video cannot go into MP4.
bool add_streams(Contexts& c, std::vector<Route>& routes, std::vector<std::string>& notes,
                 std::string& error) {
  routes.assign(c.in->nb_streams, Route{});
  bool video = false;
  for (unsigned i = 0; i < c.in->nb_streams; ++i) {
    const AVStream* in = c.in->streams[i];
    const AVCodecParameters* par = in->codecpar;
    const char* codec = avcodec_get_name(par->codec_id);
    const bool carried = avformat_query_codec(c.out->oformat, par->codec_id, FF_COMPLIANCE_NORMAL) == 1;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      if (!carried || par->codec_id == AV_CODEC_ID_NONE) {
        error = concat({"its video (", codec, ") cannot be carried in MP4"});
        return false;
      }
      video = true;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (!carried) {
        notes.push_back(concat({"sound stream ", std::to_string(i), " (", codec,
                                ") left out: MP4 cannot carry it"}));
        continue;
      }
    } else {
      notes.push_back(concat({"stream ", std::to_string(i), " (", codec, ") left out: neither video nor sound"}));
      continue;
    }
    AVStream* out = avformat_new_stream(c.out, nullptr);
    if (!out || avcodec_parameters_copy(out->codecpar, par) < 0) return (error = "out of memory"), false;
    out->codecpar->codec_tag = 0;
    out->time_base = in->time_base;
    routes[i].out = out->index;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      AVRational rate = in->avg_frame_rate.num > 0 ? in->avg_frame_rate : in->r_frame_rate;
      if (rate.num <= 0 || rate.den <= 0) rate = kDefaultRate;
      out->avg_frame_rate = rate;
      routes[i].frame = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), in->time_base));
    }
  }
  if (!video) error = "it holds no video stream";
  return video;
}

// Gives a packet the time stamps it lacks and keeps them rising, shifted so that the
// recording starts at zero. Returns nothing.
void retime(AVPacket* p, Route& route, int64_t shift) {
  if (p->dts == AV_NOPTS_VALUE) p->dts = p->pts;
  if (p->dts == AV_NOPTS_VALUE) p->dts = route.next_dts == AV_NOPTS_VALUE ? shift : route.next_dts;
  if (p->pts == AV_NOPTS_VALUE) p->pts = p->dts;
  if (route.last_dts != AV_NOPTS_VALUE && p->dts <= route.last_dts) {
    const int64_t lift = route.last_dts + 1 - p->dts;
    p->dts += lift;
    if (p->pts < p->dts) p->pts = p->dts;
  }
  if (p->duration <= 0 && route.frame > 0) p->duration = route.frame;
  route.last_dts = p->dts;
  route.next_dts = p->dts + std::max<int64_t>(p->duration, 1);
  p->dts -= shift;
  p->pts -= shift;
}

// The creation time as libavformat's MP4 writer reads it: ISO 8601 in UTC.
std::string iso_time(std::time_t t) { return utc_text(t, "%Y-%m-%dT%H:%M:%S.000000Z"); }

// Remuxes every packet into temp. Returns false with error set.
bool remux(const std::string& path, uint64_t expected_bytes, std::time_t start, const std::string& temp,
           Mp4Export& out, std::string& error) {
  Source source;
  if (!source.reader.open(path, expected_bytes, error)) return false;
  Contexts c;
  if (!c.packet) return (error = "out of memory"), false;
  if (!open_input(c, source, error)) return false;
  if (avformat_alloc_output_context2(&c.out, nullptr, "mp4", temp.c_str()) < 0 || !c.out)
    return (error = "cannot set up the MP4 writer"), false;
  std::vector<Route> routes;
  if (!add_streams(c, routes, out.notes, error)) return false;
  av_dict_set(&c.out->metadata, "creation_time", iso_time(start).c_str(), 0);
  if (const int r = avio_open(&c.out->pb, temp.c_str(), AVIO_FLAG_WRITE); r < 0)
    return (error = concat({"cannot create ", temp, ": ", av_error(r)})), false;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  const int header = avformat_write_header(c.out, &options);
  av_dict_free(&options);
  if (header < 0) return (error = concat({"cannot write the MP4 header: ", av_error(header)})), false;

  // The recording's first time stamp becomes zero; a stream without stamps starts at zero.
  const int64_t start_us = c.in->start_time == AV_NOPTS_VALUE ? 0 : c.in->start_time;
  int r;
  while ((r = av_read_frame(c.in, c.packet)) >= 0) {
    const unsigned index = unsigned(c.packet->stream_index);
    if (index >= routes.size() || routes[index].out < 0) {
      av_packet_unref(c.packet);
      continue;
    }
    const AVRational in_base = c.in->streams[index]->time_base;
    retime(c.packet, routes[index], av_rescale_q(start_us, AV_TIME_BASE_Q, in_base));
    AVStream* o = c.out->streams[routes[index].out];
    av_packet_rescale_ts(c.packet, in_base, o->time_base);
    c.packet->stream_index = o->index;
    c.packet->pos = -1;
    if (const int w = av_interleaved_write_frame(c.out, c.packet); w < 0) {
      return (error = concat({"cannot write a packet: ", av_error(w)})), false;
    }
  }
  if (r != AVERROR_EOF) return (error = concat({"cannot read the recording: ", av_error(r)})), false;
  if (!source.reader.complete(error)) return false;
  if (const int w = av_write_trailer(c.out); w < 0)
    return (error = concat({"cannot finish the MP4: ", av_error(w)})), false;
  if (const int w = avio_closep(&c.out->pb); w < 0)
    return (error = concat({"cannot write ", temp, ": ", av_error(w)})), false;
  out.source_sha256 = source.sha.hex();
  out.source_bytes = source.bytes;
  return true;
}

}  // namespace

bool export_mp4(const std::string& path, uint64_t expected_bytes, std::time_t start,
                const std::string& target, Mp4Export& out, std::string& error) {
  const fs::path t(target);
  std::error_code ec;
  fs::create_directories(t.parent_path(), ec);
  if (ec) return (error = concat({"cannot create ", t.parent_path().string(), ": ", ec.message()})), false;
  const std::string temp = (t.parent_path() / concat({".", t.filename().string(), ".part"})).string();
  out = Mp4Export{};
  av_log_set_level(AV_LOG_ERROR);  // the tool says itself what went wrong
  std::string why;
  bool ok = remux(path, expected_bytes, start, temp, out, why);
  if (ok && !sha256_file(temp, out.sha256, out.bytes)) {
    ok = false;
    why = concat({"cannot read back ", temp});
  }
  if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    why = concat({"cannot write ", target, ": ", std::strerror(errno)});
  }
  if (ok) return true;
  ::unlink(temp.c_str());
  error = concat({path, " cannot be remuxed into MP4: ", why});
  return false;
}

std::string mp4_name(const std::string& recording_name) {
  const size_t dot = recording_name.rfind('.');
  return (dot == std::string::npos ? recording_name : recording_name.substr(0, dot)) + ".mp4";
}

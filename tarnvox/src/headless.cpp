// Headless runs of a whole stream through a private port: no window, unlimited speed. The
// framemd5 form of the pictures lets the engine's decoding be compared with FFmpeg's own
// command line picture for picture.
#include "port.h"

#include <tarnvox/tarnvox.h>

#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

extern "C" {
#include <libavformat/version.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
}

using tarnvox::Port;

namespace {

constexpr size_t kBlock = 32768;

// Writes the framemd5 lines of the pictures of stream 0.
class Md5Lines {
public:
    // rising: the time column keeps rising as FFmpeg's own does (pictures in play order);
    // false for pictures listed backwards, whose times fall.
    explicit Md5Lines(FILE* out, bool rising = true) : out_(out), rising_(rising) {}

    void picture(const TvxVideoFrame& v)
    {
        const AVFrame* f = v.frame;
        AVRational in{v.timeBaseNum, v.timeBaseDen};
        AVRational tb = v.frameRateNum > 0 && v.frameRateDen > 0
                            ? AVRational{v.frameRateDen, v.frameRateNum}
                            : in;
        if (!headerDone_) {
            std::fprintf(out_, "#format: frame checksums\n#version: 2\n#hash: MD5\n"
                               "#software: %s\n",
                         LIBAVFORMAT_IDENT);
            std::fprintf(out_, "#tb 0: %d/%d\n#media_type 0: video\n#codec_id 0: rawvideo\n",
                         tb.num, tb.den);
            std::fprintf(out_, "#dimensions 0: %dx%d\n#sar 0: %d/%d\n", f->width, f->height,
                         f->sample_aspect_ratio.num, f->sample_aspect_ratio.den);
            std::fprintf(out_, "#stream#, dts,        pts, duration,     size, hash\n");
            headerDone_ = true;
        }
        auto format = static_cast<AVPixelFormat>(f->format);
        int size = av_image_get_buffer_size(format, f->width, f->height, 1);
        if (size < 0)
            return;
        bytes_.resize(static_cast<size_t>(size));
        av_image_copy_to_buffer(bytes_.data(), size, f->data, f->linesize, format, f->width,
                                f->height, 1);
        uint8_t digest[16];
        av_md5_sum(digest, bytes_.data(), size);
        // Rounded to the frame rate, two pictures can land on the same tick. Like FFmpeg's own
        // framemd5 output, the column keeps rising: such a picture takes the next tick.
        int64_t pts = av_rescale_q(v.pts - v.startPts, in, tb);
        if (rising_ && lastPts_ && pts <= *lastPts_)
            pts = *lastPts_ + 1;
        lastPts_ = pts;
        int64_t duration = f->pkt_duration > 0 ? av_rescale_q(f->pkt_duration, in, tb) : 1;
        std::fprintf(out_, "0, %10" PRId64 ", %10" PRId64 ", %8" PRId64 ", %8d, ", pts, pts,
                     duration, size);
        for (uint8_t b : digest)
            std::fprintf(out_, "%02x", b);
        std::fputc('\n', out_);
    }

private:
    FILE* out_;                  // where the lines go
    bool rising_;                // see the constructor
    bool headerDone_ = false;    // header lines written
    std::optional<int64_t> lastPts_; // time column of the previous line, once there is one
    std::vector<uint8_t> bytes_; // packed planes of the current picture
};

long readFile(void* opaque, unsigned char* buffer, size_t length)
{
    auto* file = static_cast<FILE*>(opaque);
    size_t n = std::fread(buffer, 1, length, file);
    if (n == 0 && std::ferror(file))
        return -1;
    return static_cast<long>(n);
}

} // namespace

long tvx_decode_headless(TvxReadFn read, void* opaque, int threads,
                         const std::function<void(const TvxVideoFrame&)>& onFrame)
{
    if (!read)
        return -1;
    long pictures = 0;
    TvxPortOptions options;
    options.unlimited = true;
    options.decoderThreads = threads;
    options.onVideoFrame = [&](const TvxVideoFrame& v) {
        ++pictures;
        if (onFrame)
            onFrame(v);
    };
    Port port(TVX_PORTS); // a port of its own, outside the table
    port.setOptions(options);
    if (!port.openStream(Port::kDefaultRing) || !port.play(nullptr))
        return -1;
    std::vector<unsigned char> block(kBlock);
    bool failed = false;
    for (;;) {
        long n = read(opaque, block.data(), block.size());
        if (n == 0)
            break;
        if (n < 0 || static_cast<size_t>(n) > block.size() ||
            !port.inputBlocking(block.data(), static_cast<size_t>(n))) {
            failed = true;
            break;
        }
    }
    port.endOfInput();
    port.waitShown(-1);
    port.closeStream(); // joins the threads: `pictures` is final after it
    return failed ? -1 : pictures;
}

long tvx_framemd5(TvxReadFn read, void* opaque, FILE* out, int threads)
{
    if (!out)
        return -1;
    Md5Lines lines(out);
    long n = tvx_decode_headless(read, opaque, threads,
                                 [&](const TvxVideoFrame& v) { lines.picture(v); });
    std::fflush(out);
    return n;
}

long tvx_framemd5_file(const char* path, FILE* out, int threads)
{
    FILE* file = path ? std::fopen(path, "rbe") : nullptr;
    if (!file)
        return -1;
    long n = tvx_framemd5(readFile, file, out, threads);
    std::fclose(file);
    return n;
}

long tvx_framemd5_backward(const TvxSource* source, FILE* out)
{
    if (!source || !source->readAt || source->size < 0 || !out)
        return -1;
    Md5Lines lines(out, false);
    std::mutex mu;
    std::condition_variable shownCv;
    long shown = 0;
    bool armed = false; // pictures count from the last one on
    TvxPortOptions options;
    options.onShown = [&](const TvxVideoFrame& v) {
        std::lock_guard lock(mu);
        if (!armed)
            return;
        lines.picture(v);
        ++shown;
        shownCv.notify_all();
    };
    Port port(TVX_PORTS); // a port of its own, outside the table
    port.setOptions(options);
    // Paused at once (a run's first picture waits for the decoder's lead, so none is shown
    // before), then positioned at the last picture, which goes on screen in every mode.
    if (!port.openStream(Port::kDefaultRing) || !port.setSource(source) ||
        !port.play(nullptr) || !port.pause(true))
        return -1;
    {
        std::lock_guard lock(mu);
        armed = true;
    }
    if (!port.seekTo(tarnvox::SeekTarget{INT64_MAX / 2, tarnvox::SeekTarget::Kind::AtOrAfter}))
        return -1;
    // Each step back shows one picture; a step that shows none within a minute is a fault.
    auto wait = [&](long count) {
        std::unique_lock lock(mu);
        return shownCv.wait_for(lock, std::chrono::minutes(1), [&] { return shown >= count; });
    };
    bool ok = wait(1) && port.waitShown(60'000);
    for (long next = 2; ok; ++next) {
        if (!port.stepFront())
            break; // the first picture
        ok = wait(next);
    }
    port.closeStream(); // joins the threads: `shown` is final after it
    std::fflush(out);
    return ok ? shown : -1;
}

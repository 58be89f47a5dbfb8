// One demuxing session of a port (see demuxer.h).
#include "demuxer.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace tarnvox {

namespace {

constexpr int kIoBufferSize = 32768;
constexpr const char* kProbeSize = "1048576";     // bytes read to learn the streams
constexpr const char* kAnalyzeDuration = "2000000"; // µs of stream read to learn the streams
constexpr int kMaxStalledErrors = 64;             // read errors in a row without progress

// A stream never opens anything else (playlists, references to other files).
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

} // namespace

Demuxer::Demuxer(ReadFn read, StopFn stop, SeekFn seek)
    : read_(std::move(read)), stop_(std::move(stop)), seek_(std::move(seek))
{
}

Demuxer::~Demuxer()
{
    avformat_close_input(&fmt_);
    if (io_)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

int Demuxer::readThunk(void* opaque, uint8_t* buffer, int size)
{
    return static_cast<Demuxer*>(opaque)->read_(buffer, size);
}

int Demuxer::stopThunk(void* opaque)
{
    return static_cast<Demuxer*>(opaque)->stop_() ? 1 : 0;
}

int64_t Demuxer::seekThunk(void* opaque, int64_t offset, int whence)
{
    return static_cast<Demuxer*>(opaque)->seek_(offset, whence & ~AVSEEK_FORCE);
}

int Demuxer::open()
{
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer)
        return AVERROR(ENOMEM);
    io_ = avio_alloc_context(buffer, kIoBufferSize, 0, this, &Demuxer::readThunk, nullptr,
                              seek_ ? &Demuxer::seekThunk : nullptr);
    if (!io_) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    AVFormatContext* fmt = avformat_alloc_context();
    if (!fmt)
        return AVERROR(ENOMEM);
    fmt->pb = io_;
    fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
    fmt->interrupt_callback = AVIOInterruptCB{&Demuxer::stopThunk, this};
    fmt->io_open = refuseNestedOpen;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kFormats, 0);
    av_dict_set(&options, "probesize", kProbeSize, 0);
    av_dict_set(&options, "analyzeduration", kAnalyzeDuration, 0);
    int ret = avformat_open_input(&fmt, nullptr, nullptr, &options); // frees fmt on failure
    av_dict_free(&options);
    if (ret < 0)
        return ret;
    fmt_ = fmt;
    ret = avformat_find_stream_info(fmt_, nullptr);
    return ret < 0 ? ret : 0;
}

int Demuxer::reposition(int64_t offset)
{
    if (!fmt_ || !seek_)
        return AVERROR(ENOSYS);
    int64_t at = avio_seek(fmt_->pb, offset, SEEK_SET);
    if (at < 0)
        return static_cast<int>(at);
    return avformat_flush(fmt_);
}

int Demuxer::read(AVPacket* packet)
{
    int stalled = 0;
    int64_t lastPos = -1;
    for (;;) {
        av_packet_unref(packet);
        int ret = av_read_frame(fmt_, packet);
        if (ret >= 0)
            return 0;
        if (ret == AVERROR_EOF || ret == AVERROR_EXIT || stop_() || avio_feof(fmt_->pb))
            return ret;
        int64_t pos = avio_tell(fmt_->pb);
        stalled = pos == lastPos ? stalled + 1 : 0;
        lastPos = pos;
        if (stalled >= kMaxStalledErrors)
            return ret;
    }
}

} // namespace tarnvox

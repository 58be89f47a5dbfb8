// One demuxing session of a port: libavformat reading the port's input through a custom
// AVIOContext. The session probes the stream itself (only the stream formats recorders write
// are allowed, and a stream can never make libavformat open another file or URL), then hands
// out packets until the input reports its end.
#pragma once

#include <functional>

extern "C" {
#include <libavformat/avformat.h>
}

namespace tarnvox {

class Demuxer {
public:
    // Reads up to `size` bytes into `buffer`: the count (> 0), AVERROR_EOF at the end of the
    // input, AVERROR_EXIT when the port stops. May block until data arrives.
    using ReadFn = std::function<int(uint8_t* buffer, int size)>;
    // true when the port stops and a blocking libavformat call should give up.
    using StopFn = std::function<bool()>;
    // Moves the input as fseek does (whence SEEK_SET, SEEK_CUR, SEEK_END, or AVSEEK_SIZE for
    // the size): the new position, or a negative AVERROR. Only for an input read at any offset.
    using SeekFn = std::function<int64_t(int64_t offset, int whence)>;

    // The stream formats a port accepts (libavformat demuxer names).
    static constexpr const char* kFormats = "h264,hevc,mpeg,mpegts,mjpeg,jpeg_pipe,mpjpeg,m4v";

    // seek is empty for an input read only in order (the port's ring).
    Demuxer(ReadFn read, StopFn stop, SeekFn seek = {});
    ~Demuxer();
    Demuxer(const Demuxer&) = delete;
    Demuxer& operator=(const Demuxer&) = delete;

    // Probes the format and reads the stream information. 0, or a negative AVERROR when the
    // input ended or nothing playable was recognised.
    int open();

    // The next packet into `packet` (unreferenced first). 0, or a negative AVERROR at the end of
    // the input or when the stream stops making progress.
    int read(AVPacket* packet);

    // Goes on reading at byte `offset` of a seekable input, with the demuxer's own state
    // (partial packets, parsers) forgotten: the next packet starts there. 0 or a negative
    // AVERROR.
    int reposition(int64_t offset);

    AVFormatContext* context() const { return fmt_; }

private:
    static int readThunk(void* opaque, uint8_t* buffer, int size);
    static int stopThunk(void* opaque);
    static int64_t seekThunk(void* opaque, int64_t offset, int whence);

    ReadFn read_;                // the port's input
    StopFn stop_;                // the port's stop request
    SeekFn seek_;                // the port's input position, empty when read only in order
    AVIOContext* io_ = nullptr;  // custom I/O over read_
    AVFormatContext* fmt_ = nullptr; // open demuxer, null before open() succeeded
};

} // namespace tarnvox

// Memory for the pictures a video decoder decodes into.
//
// A port keeps some twenty-five pictures at a time (the decoder's reference pictures, the queue,
// the history for stepping back), and when many windows start at once every port makes all of
// them within its first seconds. With libavcodec's own buffers each one costs a page fault per
// 4 KiB page and a memset over memory that the system has just zero-filled; on a virtual
// machine that start was a fifth of all the work of a 36-window grid. These buffers are carved
// from 2 MiB aligned mappings that the kernel may back with huge pages (one fault per 2 MiB)
// and are not cleared again: fresh memory from the system is zero, so a damaged area of a
// picture can only ever show this stream's own earlier pictures, never another camera's. The
// buffers are pooled for reuse by the same decoder and the mappings go with the pool.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tarnvox {

class PictureBuffers {
public:
    PictureBuffers() = default;
    // The pool goes when its last picture is given back; pictures outlive the decoder.
    ~PictureBuffers();
    PictureBuffers(const PictureBuffers&) = delete;
    PictureBuffers& operator=(const PictureBuffers&) = delete;

    // Makes `ctx` take its picture buffers from this object (before avcodec_open2). Decoders
    // that cannot decode into buffers of the caller keep libavcodec's own.
    void attach(AVCodecContext* ctx);

    // Bytes of the buffers all live pools have made (a pool keeps the most pictures its
    // decoder, queue and history held at once), every decoder of the process together.
    static size_t madeBytes();

private:
    // libavcodec's get_buffer2: hands over to the object in ctx->opaque.
    static int getBuffer(AVCodecContext* ctx, AVFrame* frame, int flags);
    // Gives `frame` a buffer of the pool for its layout (libavcodec's own buffer for a layout
    // not served). 0, or a negative AVERROR when memory runs out.
    int get(AVCodecContext* ctx, AVFrame* frame, int flags);
    // Makes the pool for the layout of `frame` (none when not served); the old pool goes when
    // its last picture is released.
    void relayout(AVCodecContext* ctx, const AVFrame* frame);

    // A pool for one picture layout: format and size of the pictures, planes at fixed offsets
    // of one buffer. Made again when a picture of another layout is asked for; none for a
    // layout these buffers do not serve (palettes, hardware or bit-packed formats).
    AVBufferPool* pool_ = nullptr;
    int format_ = -1, width_ = 0, height_ = 0;
    int linesize_[4] = {};
    size_t offset_[4] = {};
    int planes_ = 0;
};

} // namespace tarnvox

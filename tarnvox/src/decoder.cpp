// A libavcodec decoder for one stream of a port (see decoder.h).
#include "decoder.h"

namespace tarnvox {

std::unique_ptr<Decoder> Decoder::open(const AVCodecParameters* params, AVRational timeBase,
                                       int threads)
{
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    if (!codec)
        return nullptr;
    std::unique_ptr<Decoder> d(new Decoder);
    d->ctx_ = avcodec_alloc_context3(codec);
    d->frame_ = av_frame_alloc();
    if (!d->ctx_ || !d->frame_ || avcodec_parameters_to_context(d->ctx_, params) < 0)
        return nullptr;
    d->ctx_->pkt_timebase = timeBase;
    d->ctx_->thread_count = threads;
    d->ctx_->max_pixels = kMaxPixels;
    d->buffers_.attach(d->ctx_);
    if (avcodec_open2(d->ctx_, codec, nullptr) < 0)
        return nullptr;
    return d;
}

Decoder::~Decoder()
{
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
}

void Decoder::fail()
{
    ++errors_;
    waitKey_ = true;
}

void Decoder::restart()
{
    avcodec_flush_buffers(ctx_);
    waitKey_ = true;
}

void Decoder::decode(const AVPacket* packet, const std::function<void(AVFrame*)>& out)
{
    if (packet && waitKey_) {
        if (!(packet->flags & AV_PKT_FLAG_KEY))
            return;
        avcodec_flush_buffers(ctx_);
        waitKey_ = false;
    }
    int ret = avcodec_send_packet(ctx_, packet);
    if (ret < 0 && ret != AVERROR_EOF) {
        fail();
        if (packet)
            return;
    }
    for (;;) {
        ret = avcodec_receive_frame(ctx_, frame_);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            fail();
            return;
        }
        out(frame_);
        av_frame_unref(frame_);
    }
}

} // namespace tarnvox

// Pictures decoded into the engine's own picture buffers are the pictures libavcodec's own
// buffers give, also when the picture size changes within a stream, with frame threads, and
// still whole after the decoder that made them is gone.
#include "decoder.h"
#include "support.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <fstream>

using namespace tvxtest;

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> samples; // the visible samples of every plane, packed
};

// The visible part of a decoded picture.
Picture visible(const AVFrame* f)
{
    Picture p{f->width, f->height, {}};
    const auto format = static_cast<AVPixelFormat>(f->format);
    p.samples.resize(av_image_get_buffer_size(format, f->width, f->height, 1));
    av_image_copy_to_buffer(p.samples.data(), static_cast<int>(p.samples.size()), f->data,
                            f->linesize, format, f->width, f->height, 1);
    return p;
}

struct Unref {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, Unref>;

// Every picture of the file's video stream. `ours`: through the engine's decoder, whose
// pictures are kept (not copied) until the decoder is gone; otherwise libavcodec alone.
std::vector<Picture> decodeFile(const std::string& path, bool ours, int threads)
{
    std::vector<Picture> pictures;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return pictures;
    avformat_find_stream_info(fmt, nullptr);
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* st = index >= 0 ? fmt->streams[index] : nullptr;
    std::vector<Frame> kept;
    auto keep = [&](AVFrame* f) {
        if (ours)
            kept.emplace_back(av_frame_clone(f));
        else
            pictures.push_back(visible(f));
    };
    AVPacket* pkt = av_packet_alloc();
    if (ours && st) {
        auto decoder = tarnvox::Decoder::open(st->codecpar, st->time_base, threads);
        while (decoder && av_read_frame(fmt, pkt) == 0) {
            if (pkt->stream_index == index)
                decoder->decode(pkt, keep);
            av_packet_unref(pkt);
        }
        if (decoder)
            decoder->decode(nullptr, keep);
    } else if (st) {
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(ctx, st->codecpar);
        ctx->thread_count = threads;
        AVFrame* frame = av_frame_alloc();
        avcodec_open2(ctx, codec, nullptr);
        for (bool more = true; more;) {
            more = av_read_frame(fmt, pkt) == 0;
            if (more && pkt->stream_index != index) {
                av_packet_unref(pkt);
                continue;
            }
            avcodec_send_packet(ctx, more ? pkt : nullptr);
            av_packet_unref(pkt);
            while (avcodec_receive_frame(ctx, frame) == 0)
                keep(frame);
        }
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    for (const Frame& f : kept) // the decoder is gone; its pictures must still be there
        pictures.push_back(visible(f.get()));
    return pictures;
}

// Raw H.264: one second at 176×144 followed by the test recording at 352×288 (larger pictures
// after smaller ones: a buffer of the first layout would not hold them).
std::string sizeChange()
{
    const std::string small = streams().scratch + "/small.h264";
    const std::string both = streams().scratch + "/size-change.h264";
    if (run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=176x144:rate=25 -t 1 "
            "-c:v libx264 -preset ultrafast -bf 2 -f h264 '" + small + "' && cat '" + small +
            "' '" + streams().h264 + "' > '" + both + "' && echo ok")
            .empty())
        return {};
    return both;
}

TEST(PictureBuffers, SamePicturesAsLibavcodecAcrossASizeChange)
{
    TVX_NEED_STREAMS();
    const std::string path = sizeChange();
    ASSERT_FALSE(path.empty());
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        const std::vector<Picture> reference = decodeFile(path, false, threads);
        const std::vector<Picture> ours = decodeFile(path, true, threads);
        ASSERT_EQ(reference.size(), 100u);
        ASSERT_EQ(ours.size(), reference.size());
        EXPECT_EQ(ours.front().width, 176);
        EXPECT_EQ(ours.back().width, 352);
        for (size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i].width, reference[i].width) << i;
            EXPECT_EQ(ours[i].height, reference[i].height) << i;
            EXPECT_TRUE(ours[i].samples == reference[i].samples) << "picture " << i;
        }
    }
}

} // namespace

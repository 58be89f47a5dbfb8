// Pictures decoded into the engine's own picture buffers are the pictures libavcodec's own
// buffers give, also when the picture size changes within a stream, with frame threads, and
// still whole after the decoder that made them is gone.
#include "decoder.h"
#include "port.h"
#include "support.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <functional>

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

// Every picture of the file's video stream, read only once its decoder is gone (the decoder
// hands out references to its buffers, which the pictures keep). `ours`: the engine's decoder;
// otherwise libavcodec alone with its own buffers.
std::vector<Picture> decodeFile(const std::string& path, bool ours, int threads)
{
    std::vector<tarnvox::FramePtr> kept;
    auto keep = [&kept](AVFrame* f) { kept.emplace_back(av_frame_clone(f)); };
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
        return {};
    avformat_find_stream_info(fmt, nullptr);
    const int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    {
        std::unique_ptr<tarnvox::Decoder> engine;
        std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> plain(
            nullptr, [](AVCodecContext* c) { avcodec_free_context(&c); });
        std::unique_ptr<AVFrame, tarnvox::FrameFree> frame(av_frame_alloc());
        std::function<void(const AVPacket*)> decode = [](const AVPacket*) {};
        const AVStream* st = index >= 0 ? fmt->streams[index] : nullptr;
        if (st && ours) {
            engine = tarnvox::Decoder::open(st->codecpar, st->time_base, threads);
            if (engine)
                decode = [&](const AVPacket* pkt) { engine->decode(pkt, keep); };
        } else if (st) {
            const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
            plain.reset(avcodec_alloc_context3(codec));
            avcodec_parameters_to_context(plain.get(), st->codecpar);
            plain->thread_count = threads;
            if (avcodec_open2(plain.get(), codec, nullptr) == 0)
                decode = [&](const AVPacket* pkt) {
                    avcodec_send_packet(plain.get(), pkt);
                    while (avcodec_receive_frame(plain.get(), frame.get()) == 0) {
                        keep(frame.get());
                        av_frame_unref(frame.get());
                    }
                };
        }
        AVPacket* pkt = av_packet_alloc();
        while (av_read_frame(fmt, pkt) == 0) {
            if (pkt->stream_index == index)
                decode(pkt);
            av_packet_unref(pkt);
        }
        decode(nullptr);
        av_packet_free(&pkt);
    } // the decoders go here
    avformat_close_input(&fmt);
    std::vector<Picture> pictures;
    for (const tarnvox::FramePtr& f : kept)
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

// Sound decoding and conversion for the device: G.711 (which no test container carries),
// the channel FIFO.
#include "audio.h"
#include "decoder.h"

#include <gtest/gtest.h>

#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

using namespace tarnvox;

namespace {

struct G711Case {
    const char* name;
    AVCodecID codec;
};

void PrintTo(const G711Case& c, std::ostream* os)
{
    *os << c.name;
}

class G711 : public ::testing::TestWithParam<G711Case> {};

TEST_P(G711, DecodesAndConvertsForTheDevice)
{
    AVCodecParameters* par = avcodec_parameters_alloc();
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = GetParam().codec;
    par->sample_rate = 8000;
    av_channel_layout_default(&par->ch_layout, 1);
    auto decoder = Decoder::open(par, AVRational{1, 8000}, 1);
    avcodec_parameters_free(&par);
    ASSERT_TRUE(decoder);

    std::vector<uint8_t> payload(160, 0xD5); // G.711 codes near silence
    AVPacket* packet = av_packet_alloc();
    ASSERT_EQ(av_new_packet(packet, 160), 0);
    std::copy(payload.begin(), payload.end(), packet->data);
    packet->flags |= AV_PKT_FLAG_KEY;

    Resampler resampler;
    AudioFormat device{48000, 2, AV_SAMPLE_FMT_S16};
    std::vector<uint8_t> pcm;
    int samples = 0;
    for (int i = 0; i < 10; ++i)
        decoder->decode(packet, [&](AVFrame* f) {
            samples += f->nb_samples;
            EXPECT_TRUE(resampler.convert(f, device, pcm));
        });
    av_packet_free(&packet);
    EXPECT_EQ(samples, 1600);
    EXPECT_EQ(decoder->errors(), 0);
    // 0.2 s at 48 kHz stereo 16-bit, less what the resampler still holds back.
    EXPECT_GT(pcm.size(), 0.9 * 0.2 * 48000 * 4);
    EXPECT_LE(pcm.size(), 0.2 * 48000 * 4);
    EXPECT_EQ(pcm.size() % 4, 0u);
}

INSTANTIATE_TEST_SUITE_P(Laws, G711,
                         ::testing::Values(G711Case{"a_law", AV_CODEC_ID_PCM_ALAW},
                                           G711Case{"mu_law", AV_CODEC_ID_PCM_MULAW}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudioChannel, KeepsAboutOneSecondAndPadsWithSilence)
{
    AudioChannel channel(AudioFormat{8000, 1, AV_SAMPLE_FMT_S16});
    std::vector<uint8_t> second(16000, 1);
    channel.write(second.data(), second.size());
    channel.write(second.data(), 1000);
    EXPECT_EQ(channel.size(), 16000u); // the oldest bytes went
    std::vector<uint8_t> out(20000, 9);
    EXPECT_EQ(channel.read(out.data(), out.size()), out.size());
    EXPECT_EQ(out[15999], 1);
    EXPECT_EQ(out[16000], 0);
    EXPECT_EQ(channel.size(), 0u);
}

TEST(AudioOutput, WithoutAnApplicationThereIsNoDeviceAndNoError)
{
    EXPECT_EQ(AudioOutput::open(8000, 1), nullptr);
    AudioOutput::close(nullptr);
}

} // namespace

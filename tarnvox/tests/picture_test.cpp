// Pictures turned into images: display size from the sample aspect ratio, conversion at a size.
#include "picture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <ostream>

extern "C" {
#include <libavutil/frame.h>
}

using namespace tarnvox;

namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

// A grey 4:2:0 picture of the given size and sample aspect ratio.
Frame grey(int w, int h, AVRational sar)
{
    Frame f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = h;
    f->sample_aspect_ratio = sar;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < (plane ? h / 2 : h); ++y)
            std::memset(f->data[plane] + y * f->linesize[plane], 128, static_cast<size_t>(plane ? w / 2 : w));
    return f;
}

struct SarCase {
    const char* name;
    AVRational sar;
    QSize display;
};

void PrintTo(const SarCase& c, std::ostream* os)
{
    *os << c.name;
}

class DisplaySize : public ::testing::TestWithParam<SarCase> {};

TEST_P(DisplaySize, CorrectsTheWidthBySampleAspectRatio)
{
    EXPECT_EQ(displaySize(grey(704, 576, GetParam().sar).get()), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(Ratios, DisplaySize,
                         ::testing::Values(SarCase{"square", {1, 1}, {704, 576}},
                                           SarCase{"unknown", {0, 1}, {704, 576}},
                                           SarCase{"pal_4_3", {12, 11}, {768, 576}},
                                           SarCase{"pal_16_9", {16, 11}, {1024, 576}},
                                           SarCase{"absurd", {1000, 1}, {704, 576}},
                                           SarCase{"negative", {-1, 1}, {704, 576}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PictureConverter, ScaledPicturesGetAnEvenWidth)
{
    struct Case {
        QSize wanted, pixels, made;
    };
    const Case cases[] = {
        {{213, 160}, {704, 576}, {212, 160}}, // scaled, odd width: one pixel narrower
        {{212, 161}, {704, 576}, {212, 161}}, // odd heights cost nothing
        {{705, 577}, {705, 577}, {705, 577}}, // not scaled: the picture's own size
        {{705, 576}, {705, 577}, {704, 576}},
        {{1, 1}, {704, 576}, {1, 1}},         // never an empty picture
    };
    for (const Case& c : cases)
        EXPECT_EQ(scaledSize(c.wanted, c.pixels), c.made) << c.wanted.width() << "x" << c.wanted.height();
    PictureConverter converter;
    EXPECT_EQ(converter.convert(grey(64, 48, {1, 1}).get(), QSize(21, 15), QImage::Format_RGB32).size(),
              QSize(20, 15));
}

// A 4:2:0 picture whose left half is `left` and right half `right` (Y, U, V each).
Frame split(int w, int h, AVPixelFormat format, const uint8_t (&left)[3], const uint8_t (&right)[3])
{
    Frame f(av_frame_alloc());
    f->format = format;
    f->width = w;
    f->height = h;
    EXPECT_EQ(av_frame_get_buffer(f.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int pw = plane ? (w + 1) / 2 : w, ph = plane ? (h + 1) / 2 : h;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                f->data[plane][y * f->linesize[plane] + x] = x < pw / 2 ? left[plane] : right[plane];
    }
    return f;
}

TEST(PictureConverter, SmallPicturesOfLargeOnesKeepTheirColoursAndHalves)
{
    // Pictures made much smaller than they are go through 2×2 means first: odd sizes, several
    // halvings and both ranges must still give the colours of each half in their place.
    const uint8_t red[3] = {81, 90, 240}, white[3] = {235, 128, 128}; // limited range
    const uint8_t fullRed[3] = {76, 85, 255}, fullWhite[3] = {255, 128, 128};
    struct Case {
        int w, h;
        AVPixelFormat format;
        QSize size;
    };
    const Case cases[] = {
        {704, 576, AV_PIX_FMT_YUV420P, {190, 156}}, // one halving
        {705, 577, AV_PIX_FMT_YUV420P, {176, 144}}, // odd sizes, one halving
        {1920, 1080, AV_PIX_FMT_YUV420P, {96, 54}}, // four halvings
        {704, 576, AV_PIX_FMT_YUVJ420P, {100, 80}}, // full range
        {64, 48, AV_PIX_FMT_YUV420P, {40, 30}},     // less than half as small: no halving
    };
    PictureConverter converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.size.width());
        const bool full = c.format == AV_PIX_FMT_YUVJ420P;
        Frame f = split(c.w, c.h, c.format, full ? fullRed : red, full ? fullWhite : white);
        QImage image = converter.convert(f.get(), c.size, QImage::Format_RGB32);
        ASSERT_EQ(image.size(), c.size);
        const QRgb left = image.pixel(c.size.width() / 4, c.size.height() / 2);
        const QRgb right = image.pixel(c.size.width() * 3 / 4, c.size.height() / 2);
        EXPECT_NEAR(qRed(left), 255, 4);
        EXPECT_NEAR(qGreen(left), 0, 4);
        EXPECT_NEAR(qBlue(left), 0, 4);
        EXPECT_NEAR(qGray(right), 255, 4);
    }
}

TEST(PictureConverter, ScalesToTheSizeAskedOrTheDisplaySize)
{
    PictureConverter c;
    Frame f = grey(64, 48, {12, 11});
    QImage scaled = c.convert(f.get(), QSize(20, 10), QImage::Format_RGB32);
    EXPECT_EQ(scaled.size(), QSize(20, 10));
    EXPECT_EQ(scaled.format(), QImage::Format_RGB32);
    EXPECT_NEAR(qGray(scaled.pixel(5, 5)), 128, 2);
    EXPECT_EQ(qAlpha(scaled.pixel(5, 5)), 255);
    EXPECT_EQ(c.convert(f.get(), QSize(), QImage::Format_RGB888).size(), QSize(70, 48));
    EXPECT_TRUE(c.convert(f.get(), QSize(INT_MAX, INT_MAX), QImage::Format_RGB32).isNull());
    Frame broken(av_frame_alloc());
    broken->format = AV_PIX_FMT_NONE;
    broken->width = 8;
    broken->height = 8;
    EXPECT_TRUE(c.convert(broken.get(), QSize(8, 8), QImage::Format_RGB32).isNull());
}

} // namespace

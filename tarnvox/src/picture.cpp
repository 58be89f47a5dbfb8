// Decoded pictures turned into Qt images (see picture.h).
#include "picture.h"

#include <QImageWriter>

#include <algorithm>
#include <climits>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/macros.h>
#include <libavutil/mem.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

namespace tarnvox {

namespace {

// An image whose pixels libswscale may write: its lines start 64-byte aligned and its buffer
// runs on past the last line, because libswscale's vector code stores whole blocks of pixels
// and so writes a little beyond the end of a line. A QImage's own buffer has no such room.
QImage scalerTarget(QSize size, QImage::Format format)
{
    constexpr qsizetype kAlign = 64;
    const int depth = format == QImage::Format_RGB888 ? 3 : 4;
    const qsizetype stride = FFALIGN(qsizetype{size.width()} * depth, kAlign);
    const qsizetype bytes = stride * (qsizetype{size.height()} + 1) + kAlign;
    if (size.isEmpty() || stride > INT_MAX || bytes > INT_MAX)
        return {};
    auto* data = static_cast<uchar*>(av_malloc(static_cast<size_t>(bytes)));
    if (!data)
        return {};
    QImage image(data, size.width(), size.height(), stride, format, av_free, data);
    if (image.isNull())
        av_free(data);
    return image;
}

// One plane shrunk 2×2: each output sample is the rounded mean of a 2×2 block of the source
// plane of w × h samples; the last row and column repeat when w or h is odd.
void halvePlane(const uint8_t* src, int srcStride, int w, int h, uint8_t* dst, int dstStride)
{
    const int outW = (w + 1) / 2, outH = (h + 1) / 2, pairs = w / 2;
    for (int y = 0; y < outH; ++y) {
        const uint8_t* a = src + static_cast<ptrdiff_t>(2 * y) * srcStride;
        const uint8_t* b = 2 * y + 1 < h ? a + srcStride : a;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dstStride;
        for (int x = 0; x < pairs; ++x)
            out[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
        if (outW > pairs)
            out[pairs] = static_cast<uint8_t>((a[w - 1] + b[w - 1] + 1) >> 1);
    }
}

// 4:2:0 pictures, whose three planes halve alike.
bool isPlanar420(AVPixelFormat format)
{
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

} // namespace

PictureConverter::~PictureConverter()
{
    sws_freeContext(sws_);
    for (AVFrame*& f : halved_)
        av_frame_free(&f);
}

const AVFrame* PictureConverter::shrinkFor(const AVFrame* frame, QSize size)
{
    // libswscale's filters read every source sample for each output sample they cover, so a
    // picture shown at a half or less of its size costs several times what the output is
    // worth. A 2×2 mean per halving step brings it within a factor of two first; the filter
    // then sees the same picture content at a quarter of the samples.
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (!isPlanar420(format))
        return frame;
    const AVFrame* from = frame;
    for (AVFrame*& out : halved_) {
        if (int64_t{size.width()} * 2 > from->width || int64_t{size.height()} * 2 > from->height)
            break;
        const int w = (from->width + 1) / 2, h = (from->height + 1) / 2;
        if (!out || out->width != w || out->height != h || out->format != format) {
            av_frame_free(&out);
            out = av_frame_alloc();
            if (!out)
                break;
            out->format = format;
            out->width = w;
            out->height = h;
            if (av_frame_get_buffer(out, 0) < 0) {
                av_frame_free(&out);
                break;
            }
        }
        for (int plane = 0; plane < 3; ++plane) {
            const int pw = plane ? (from->width + 1) / 2 : from->width;
            const int ph = plane ? (from->height + 1) / 2 : from->height;
            halvePlane(from->data[plane], from->linesize[plane], pw, ph, out->data[plane],
                       out->linesize[plane]);
        }
        out->color_range = frame->color_range;
        out->colorspace = frame->colorspace;
        from = out;
    }
    return from;
}

QSize displaySize(const AVFrame* frame)
{
    AVRational sar = frame->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0 || sar.num > 8 * sar.den || sar.den > 8 * sar.num)
        return QSize(frame->width, frame->height);
    int64_t width = av_rescale(frame->width, sar.num, sar.den);
    return QSize(static_cast<int>(std::clamp<int64_t>(width, 1, 8 * frame->width)), frame->height);
}

QSize scaledSize(QSize wanted, QSize pixels)
{
    // libswscale's vector paths write whole pairs of output pixels; an odd output width sends
    // every row of a scaled picture down its plain C path, three to six times slower.
    if (wanted != pixels && wanted.width() > 1 && wanted.width() % 2 != 0)
        wanted.setWidth(wanted.width() - 1);
    return wanted;
}

QImage PictureConverter::convert(const AVFrame* frame, QSize size, QImage::Format format)
{
    auto source = static_cast<AVPixelFormat>(frame->format);
    if (frame->width <= 0 || frame->height <= 0 || source < 0 || !sws_isSupportedInput(source))
        return {}; // libswscale would abort on a format it does not know
    if (size.isEmpty())
        size = displaySize(frame);
    size = scaledSize(size, QSize(frame->width, frame->height));
    frame = shrinkFor(frame, size);
    AVPixelFormat target = format == QImage::Format_RGB888 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB32;
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height, source, size.width(),
                                size.height(), target, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_)
        return {};
    QImage image = scalerTarget(size, format);
    if (image.isNull())
        return {};
    // Written in place: the image's data is not shared yet, so bits() does not copy it.
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    return image;
}

QImage snapshotImage(const AVFrame* frame)
{
    PictureConverter converter;
    return converter.convert(frame, QSize(frame->width, frame->height), QImage::Format_RGB888);
}

bool writeSnapshot(const AVFrame* frame, const QString& path)
{
    QImage image = snapshotImage(frame);
    if (image.isNull())
        return false;
    QImageWriter writer(path, "bmp");
    return writer.write(image);
}

} // namespace tarnvox

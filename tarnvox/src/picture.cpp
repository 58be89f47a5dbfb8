// Decoded pictures turned into Qt images (see picture.h).
#include "picture.h"

#include <QImageWriter>

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

namespace tarnvox {

PictureConverter::~PictureConverter()
{
    sws_freeContext(sws_);
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
    AVPixelFormat target = format == QImage::Format_RGB888 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB32;
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height, source, size.width(),
                                size.height(), target, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_)
        return {};
    QImage image(size, format);
    if (image.isNull())
        return {};
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0)
        return {};
    return image;
}

bool writeSnapshot(const AVFrame* frame, const QString& path)
{
    PictureConverter converter;
    QImage image =
        converter.convert(frame, QSize(frame->width, frame->height), QImage::Format_RGB888);
    if (image.isNull())
        return false;
    QImageWriter writer(path, "bmp");
    return writer.write(image);
}

} // namespace tarnvox

// Decoded pictures turned into Qt images (see picture.h).
#include "picture.h"

#include <QImageWriter>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace tarnvox {

PictureConverter::~PictureConverter()
{
    sws_freeContext(sws_);
}

QImage PictureConverter::convert(const AVFrame* frame, QSize size, QImage::Format format)
{
    if (size.isEmpty())
        size = QSize(frame->width, frame->height);
    AVPixelFormat target = format == QImage::Format_RGB888 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB32;
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height,
                                static_cast<AVPixelFormat>(frame->format), size.width(),
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
    QImage image = converter.convert(frame, QSize(), QImage::Format_RGB888);
    if (image.isNull())
        return false;
    QImageWriter writer(path, "bmp");
    return writer.write(image);
}

} // namespace tarnvox

// Decoded pictures turned into Qt images (libswscale), and the snapshot file.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

struct AVFrame;
struct SwsContext;

namespace tarnvox {

// Converts decoded pictures to RGB images. Keeps its scaler between calls; one per thread.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The picture scaled to scaledSize(`size`) (empty `size`: its display size) in `format`,
    // which is QImage::Format_RGB32 or QImage::Format_RGB888. A null image when the picture's
    // pixel format cannot be converted or memory runs out.
    QImage convert(const AVFrame* frame, QSize size, QImage::Format format);

private:
    // The picture shrunk by 2×2 means until less than twice `size` remains (the picture itself
    // when it is not 4:2:0 or not that large, or memory runs out).
    const AVFrame* shrinkFor(const AVFrame* frame, QSize size);

    static constexpr int kMaxHalvings = 4;
    SwsContext* sws_ = nullptr;               // scaler of the last conversion
    AVFrame* halved_[kMaxHalvings] = {};      // buffers of the halving steps, kept for reuse
};

// The size a picture of `pixels` pixels is converted to when `wanted` is asked for: `wanted`,
// one pixel narrower when the picture is scaled and `wanted` has an odd width (kept for
// libswscale's fast paths; the pane centres the picture).
QSize scaledSize(QSize wanted, QSize pixels);

// The picture's display size: its pixel size with the width corrected by the sample aspect
// ratio (the pixel size when the ratio is unknown or absurd).
QSize displaySize(const AVFrame* frame);

// Writes the picture at its own pixel size as a 24-bit BMP file. true when written.
bool writeSnapshot(const AVFrame* frame, const QString& path);

// The picture at its own size as 24-bit RGB (QImage::Format_RGB888); null when it cannot be
// converted.
QImage snapshotImage(const AVFrame* frame);

} // namespace tarnvox

#pragma once
// JPEG pictures of every kind a background picture may be, written with
// libjpeg-turbo itself: the sampling, colour space and coding that cameras,
// editors and converters produce.
#include <QImage>
#include <QString>

namespace pagiro::test {

struct JpegKind {
    const char* name;
    int luma_h = 2, luma_v = 2;  // the first component's sampling; the others are 1 x 1
    enum Space { ycbcr, grey, rgb, cmyk } space = ycbcr;
    bool progressive = false;
    bool arithmetic = false;
    int restart_rows = 0;  // a restart marker every so many MCU rows
    int quality = 90;
};

// A picture with detail in every channel (edges, gradients and noise), so that any
// difference in the transform, the upsampling or the colour conversion shows.
QImage busy_picture(int width, int height, unsigned seed = 1);

// Writes `picture` as a JPEG of that kind; false when it cannot be written.
bool write_jpeg(const QString& path, const QImage& picture, const JpegKind& kind);

}  // namespace pagiro::test

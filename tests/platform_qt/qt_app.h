#pragma once
// Shared helpers of the surface and GIF page tests.
#include <QColor>
#include <QImage>
#include <QString>
#include <set>

namespace pagiro::test {

// "AR PL UMing CN" when installed, otherwise the first Simplified Chinese family.
QString cjk_family();

// The distinct colours of a picture, as 0xRRGGBB.
std::set<unsigned> colours_of(const QImage& image);

// Bounding box of every pixel that is not `background`; empty when there is none.
QRect ink_box(const QImage& image, QRgb background);

}  // namespace pagiro::test

// PNG files of typeset pages, read back with Qt's PNG reader.
#include "render/png_writer.h"

#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

// A grey ramp with a few colours in the last rows.
QImage sample(int width = 37, int height = 11) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = (x * 255) / (width - 1);
            image.setPixel(x, y, y < height - 2 ? qRgb(v, v, v) : qRgb(v, 255 - v, (v * 7) & 255));
        }
    return image;
}

QImage decoded(const std::vector<std::uint8_t>& bytes) {
    QImage image;
    EXPECT_TRUE(image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "PNG"));
    return image;
}

// Bit depth and colour type from the IHDR chunk.
std::pair<int, int> header_of(const std::vector<std::uint8_t>& bytes) { return {bytes.at(24), bytes.at(25)}; }

TEST(PngWriter, ColourAndEightBitGreyRoundTripExactly) {
    const QImage image = sample();
    std::string error;
    const auto colour = encode_png(image, PngKind::colour, error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(header_of(colour), std::pair(8, 2));
    EXPECT_EQ(decoded(colour).convertToFormat(QImage::Format_RGB32), image);

    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const auto grey8 = encode_png(grey, PngKind::grey8, error);
    EXPECT_EQ(header_of(grey8), std::pair(8, 0));
    EXPECT_EQ(decoded(grey8).convertToFormat(QImage::Format_Grayscale8), grey);
}

TEST(PngWriter, TwoAndOneBitGreyRoundToTheNearestLevel) {
    const QImage grey = sample().convertToFormat(QImage::Format_Grayscale8);
    std::string error;
    for (const auto& [kind, bits] : {std::pair{PngKind::grey2, 2}, std::pair{PngKind::grey1, 1}}) {
        const auto bytes = encode_png(grey, kind, error);
        ASSERT_TRUE(error.empty()) << error;
        EXPECT_EQ(header_of(bytes), std::pair(bits, 0));
        const QImage back = decoded(bytes).convertToFormat(QImage::Format_Grayscale8);
        ASSERT_EQ(back.size(), grey.size());
        const int step = 255 / ((1 << bits) - 1);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                const int in = grey.constScanLine(y)[x], out = back.constScanLine(y)[x];
                EXPECT_EQ(out % step, 0) << "not one of the levels: " << out;
                EXPECT_LE(std::abs(out - in), step / 2 + 1) << x << "," << y;
            }
    }
}

TEST(PngWriter, OddWidthsPackTheirLastByteCorrectly) {
    QImage image(3, 2, QImage::Format_Grayscale8);
    image.fill(255);
    image.scanLine(1)[2] = 0;  // the last pixel of the last row
    std::string error;
    for (PngKind kind : {PngKind::grey1, PngKind::grey2}) {
        const QImage back = decoded(encode_png(image, kind, error)).convertToFormat(QImage::Format_Grayscale8);
        EXPECT_EQ(back, image);
    }
}

TEST(PngWriter, ImpossibleRequestsAreRefusedWithAReason) {
    std::string error;
    EXPECT_TRUE(encode_png(QImage(), PngKind::grey8, error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(encode_png(sample(), PngKind::grey8, error, 12).empty());
    EXPECT_NE(error.find("compression level"), std::string::npos);
}

}  // namespace
}  // namespace pagiro::typeset

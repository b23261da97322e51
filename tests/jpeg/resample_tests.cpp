// The resampler used for subsampled planes.
#include <gtest/gtest.h>

#include "oracle.h"
#include "platform/resample.h"

TEST(JpegResample, AreaAveraging) {
    // 4 x 2 source in one row of values 0, 100, 200, 255 (grey), halved to 2 x 1.
    jpeg_test::Picture src{4, 2, {}};
    const int v[4] = {0, 100, 200, 255};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            for (int k = 0; k < 3; ++k) src.rgb.push_back(static_cast<std::uint8_t>(v[x]));
    std::uint8_t out[6] = {};
    ASSERT_TRUE(pagiro::resample_area(src.view(), 0, 0, 4, 2, out, 6, 2, 1));
    EXPECT_EQ(out[0], 50);
    EXPECT_EQ(out[3], 228);  // 227.5 rounds up

    // 3 -> 2: the middle pixel is shared half and half.
    std::uint8_t out2[6] = {};
    ASSERT_TRUE(pagiro::resample_area(src.view(), 0, 0, 3, 1, out2, 6, 2, 1));
    EXPECT_EQ(out2[0], 33);   // (0 * 2 + 100) / 3
    EXPECT_EQ(out2[3], 167);  // (100 + 200 * 2) / 3

    // Outside the view is black; enlarging and empty sizes are refused.
    ASSERT_TRUE(pagiro::resample_area(src.view(), 2, 0, 4, 2, out, 6, 2, 1));
    EXPECT_EQ(out[0], 228);
    EXPECT_EQ(out[3], 0);
    EXPECT_FALSE(pagiro::resample_area(src.view(), 0, 0, 2, 1, out, 6, 3, 1));
    EXPECT_FALSE(pagiro::resample_area(src.view(), 0, 0, 0, 1, out, 6, 1, 1));
}

TEST(JpegResample, NearestAndPixelFormats) {
    const std::uint8_t bgrx[8] = {10, 20, 30, 0, 40, 50, 60, 0};  // two pixels
    pagiro::PixelView view{bgrx, 2, 1, 8, pagiro::PixelFormat::Bgrx32};
    std::uint8_t rgb[3];
    pagiro::read_rgb(view, 1, 0, rgb);
    EXPECT_EQ(rgb[0], 60);
    EXPECT_EQ(rgb[1], 50);
    EXPECT_EQ(rgb[2], 40);
    pagiro::read_rgb(view, 2, 0, rgb);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0);

    std::uint8_t out[3] = {};
    pagiro::resample_nearest(view, 0, 0, 2, 1, out, 3, 1, 1);  // centre of 2 pixels falls on the second
    EXPECT_EQ(out[0], 60);
}

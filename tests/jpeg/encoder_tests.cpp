// Settings, quantization tables, zig-zag order, the DCT and quantization.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "oracle.h"
#include "platform/vb_error.h"
#include "test_access.h"

using A = bmptojpg_test_access;

namespace {

template <typename F>
void expect_vb_error(F&& f, int number, const std::string& description = "") {
    try {
        f();
        ADD_FAILURE() << "no error raised";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), number);
        if (!description.empty()) {
            EXPECT_EQ(e.description(), description);
        }
    }
}

std::vector<int> first_values(const std::array<std::int16_t, 64>& v, int n) { return std::vector<int>(v.begin(), v.begin() + n); }

}  // namespace

TEST(JpegEncoderSettings, DefaultsAndRejectedQuality) {
    bmptojpg e;
    EXPECT_EQ(e.Quality(), 75);
    EXPECT_EQ(e.Comment(), "");
    EXPECT_EQ(A::component_count(e), 3);
    EXPECT_EQ(A::factors(e, 0), std::make_pair(2, 2));
    EXPECT_EQ(A::factors(e, 1), std::make_pair(1, 1));
    EXPECT_EQ(A::factors(e, 2), std::make_pair(1, 1));
    const auto before = A::quant_values(e, 0);
    for (int q : {0, -5, 101}) {
        e.Quality(q);
        EXPECT_EQ(e.Quality(), 75);
    }
    EXPECT_EQ(A::quant_values(e, 0), before);
}

TEST(JpegEncoderSettings, SamplingFactorsAndTheirErrors) {
    bmptojpg e;
    e.SetSamplingFrequencies(2, 2, 0, 0, 0, 0);
    EXPECT_EQ(A::component_count(e), 1);
    EXPECT_EQ(A::factors(e, 0), std::make_pair(1, 1));
    EXPECT_EQ(A::max_factors(e), std::make_pair(1, 1));

    e.SetSamplingFrequencies(2, 2, 1, 1, 1, 1);
    expect_vb_error([&] { e.SetSamplingFrequencies(1, 1, 1, 0, 1, 1); }, 1, "Invalid Sampling Value");
    EXPECT_EQ(A::component_count(e), 3);
    EXPECT_EQ(A::factors(e, 0), std::make_pair(2, 2));
    expect_vb_error([&] { e.SetSamplingFrequencies(5, 1, 0, 0, 0, 0); }, 1, "Invalid Sampling Value");
    expect_vb_error([&] { e.SetSamplingFrequencies(1, 0, 1, 1, 1, 1); }, 1, "Invalid Sampling Value");
    expect_vb_error([&] { e.SetSamplingFrequencies(1, 1, 1, 1, 1, 5); }, 1, "Invalid Sampling Value");
    EXPECT_EQ(A::component_count(e), 3);

    e.SetSamplingFrequencies(1, 4, 3, 2, 4, 1);
    EXPECT_EQ(A::max_factors(e), std::make_pair(4, 4));
}

TEST(JpegEncoderSettings, CommentLength) {
    bmptojpg e;
    e.Comment(std::string(65533, 'a'));
    EXPECT_EQ(e.Comment().size(), 65533u);
    expect_vb_error([&] { e.Comment(std::string(65534, 'b')); }, 1, "Illegal Comment Length");
    EXPECT_EQ(e.Comment(), std::string(65533, 'a'));
}

TEST(JpegQuantTables, QualityScaling) {
    bmptojpg e;
    EXPECT_EQ(first_values(A::quant_values(e, 0), 16), (std::vector<int>{8, 6, 6, 8, 6, 6, 8, 8, 7, 8, 10, 9, 8, 10, 12, 20}));
    EXPECT_EQ(first_values(A::quant_values(e, 1), 16), (std::vector<int>{9, 10, 10, 12, 11, 12, 24, 14, 14, 24, 50, 34, 28, 34, 50, 50}));

    e.Quality(50);  // odd base values round up to even, even ones stay
    const auto lum = A::quant_values(e, 0), base = A::luminance_base(e);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(lum[i], base[i] % 2 ? base[i] + 1 : base[i]) << i;
    EXPECT_EQ(first_values(lum, 8), (std::vector<int>{16, 12, 12, 14, 12, 10, 16, 14}));

    e.Quality(100);
    for (int id : {0, 1})
        for (auto v : A::quant_values(e, id)) EXPECT_EQ(v, 1);
    e.Quality(1);
    for (int id : {0, 1})
        for (auto v : A::quant_values(e, id)) EXPECT_EQ(v, 255);

    e.Quality(16);  // 5000 / 16 = 312.5 scales by 312: (16 * 312 + 50) / 100 = 50.42
    EXPECT_EQ(A::quant_values(e, 0)[0], 50);
    e.Quality(30);  // scale 167
    EXPECT_EQ(A::quant_values(e, 0)[0], 27);
    EXPECT_EQ(A::quant_values(e, 1)[63], 166);  // (99 * 167 + 50) / 100 = 165.83
}

TEST(JpegQuantTables, EachEncoderHoldsItsOwnTablesForAQuality) {
    // Every encoder after the first takes a quality's tables ready made: they
    // must be those of the quality, multipliers included, and a change to one
    // encoder's tables must reach no other.
    bmptojpg first;
    for (int q = 1; q <= 100; ++q) {
        first.Quality(q);
        for (int id : {0, 1}) {
            const auto made = A::multipliers(first, id);
            A::scale_quant_table(first, id);
            ASSERT_EQ(A::multipliers(first, id), made) << "quality " << q << ", table " << id;
        }
    }
    first.Quality(60);
    const auto values = A::quant_values(first, 0);
    const auto multipliers = A::multipliers(first, 0);
    A::set_quant_value(first, 0, 0, 99);
    A::scale_quant_table(first, 0);
    ASSERT_NE(A::multipliers(first, 0), multipliers);

    bmptojpg second;
    second.Quality(60);
    EXPECT_EQ(A::quant_values(second, 0), values);
    EXPECT_EQ(A::multipliers(second, 0), multipliers);
    first.Quality(60);  // chosen again, the quality's own tables come back
    EXPECT_EQ(A::quant_values(first, 0), values);
    EXPECT_EQ(A::multipliers(first, 0), multipliers);
}

TEST(JpegQuantTables, BaseTablesAndZigZag) {
    bmptojpg e;
    const auto lum = A::luminance_base(e), chr = A::chrominance_base(e);
    EXPECT_EQ(first_values(lum, 8), (std::vector<int>{16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(std::vector<int>(lum.end() - 4, lum.end()), (std::vector<int>{92, 101, 103, 99}));
    EXPECT_EQ(first_values(chr, 14), (std::vector<int>{17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66}));
    for (int i = 14; i < 64; ++i) EXPECT_EQ(chr[i], 99);

    // Position k of the zig-zag walk is natural index row * 8 + column.
    const int natural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                             41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                             30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    for (int k = 0; k < 64; ++k) EXPECT_EQ(A::zigzag(e, natural[k] % 8, natural[k] / 8), k);
}

TEST(JpegQuantTables, BadValuesAreRejected) {
    bmptojpg e;
    A::set_quant_value(e, 0, 5, 0);
    expect_vb_error([&] { A::scale_quant_table(e, 0); }, 1, "Bad Quantization Table");
    A::set_quant_value(e, 0, 5, 256);
    expect_vb_error([&] { A::scale_quant_table(e, 0); }, 1, "Bad Quantization Table");
    expect_vb_error([&] { A::scale_quant_table(e, 4); }, 9);
}

TEST(JpegDct, UniformBlocks) {
    bmptojpg e;
    std::array<std::array<float, 8>, 8> block;
    for (auto& col : block) col.fill(127.0f);
    const auto out = A::dct(e, block);
    EXPECT_EQ(out[0][0], 8128.0f);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            if (u || v) {
                EXPECT_EQ(out[u][v], 0.0f) << u << "," << v;
            }

    // DC 8128 / 8 / 8 (the DC quantizer) = 127 at quality 75.
    std::int32_t p = 0;
    const auto coeffs = A::quantize(e, out, A::multipliers(e, 0), p);
    EXPECT_EQ(p, 64);
    EXPECT_EQ(coeffs[0], 127);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(coeffs[i], 0);

    for (auto& col : block) col.fill(-100.0f);  // s x 8 / 8 (the DC quantizer) = -100
    p = 0;
    EXPECT_EQ(A::quantize(e, A::dct(e, block), A::multipliers(e, 0), p)[0], -100);
}

TEST(JpegDct, MatchesTheDefinitionAfterScaling) {
    bmptojpg e;
    std::mt19937 rng(7);
    std::array<std::array<float, 8>, 8> block;
    for (auto& col : block)
        for (auto& s : col) s = static_cast<float>(int(rng() % 256) - 128);
    const auto out = A::dct(e, block);
    const double sf[8] = {0.353553390593273, 0.25489778955208,  0.270598050073098, 0.300672443467523,
                          0.353553390593273, 0.449988111568207, 0.653281482438186, 1.28145772387074};
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int x = 0; x < 8; ++x)
                for (int y = 0; y < 8; ++y)
                    sum += block[x][y] * std::cos((2 * x + 1) * u * pi / 16) * std::cos((2 * y + 1) * v * pi / 16);
            const double cu = u ? 1 : 1 / std::sqrt(2.0), cv = v ? 1 : 1 / std::sqrt(2.0);
            EXPECT_NEAR(out[u][v] * sf[u] * sf[v], 0.25 * cu * cv * sum, 0.01) << u << "," << v;
        }
}

TEST(JpegQuantize, HalvesToEvenZigZagPlacesAndErrors) {
    bmptojpg e;
    std::array<float, 64> ones;
    ones.fill(1.0f);
    std::array<std::array<float, 8>, 8> block{};
    block[0][0] = 2.5f;   // position 0
    block[1][0] = 3.5f;   // horizontal frequency 1: position 1
    block[0][1] = -2.5f;  // vertical frequency 1: position 2
    block[1][1] = 0.5f;   // position 4
    block[2][0] = -3.5f;  // position 5
    block[7][7] = 1.5f;   // position 63
    std::int32_t p = 64;
    const auto c = A::quantize(e, block, ones, p, 128);
    EXPECT_EQ(p, 128);
    EXPECT_EQ(c[64 + 0], 2);
    EXPECT_EQ(c[64 + 1], 4);
    EXPECT_EQ(c[64 + 2], -2);
    EXPECT_EQ(c[64 + 4], 0);
    EXPECT_EQ(c[64 + 5], -4);
    EXPECT_EQ(c[64 + 63], 2);
    EXPECT_EQ(c[64 + 3], 0);

    p = 1;  // the block does not fit
    expect_vb_error([&] { A::quantize(e, block, ones, p); }, 9);
    block[3][3] = 40000.0f;
    p = 0;
    expect_vb_error([&] { A::quantize(e, block, ones, p); }, 6);
}

TEST(JpegSampling, PlanesAndGreyMatchColourLuminance) {
    const auto pic = jpeg_test::smooth_picture(37, 10, 3);
    bmptojpg colour, grey;
    grey.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    ASSERT_EQ(colour.SampleHDC(pic.view(), 37, 10, 0, 0), 0);
    ASSERT_EQ(grey.SampleHDC(pic.view(), 37, 10, 0, 0), 0);
    EXPECT_EQ(A::coefficients(colour, 0).size(), 40u * 16u);  // 37 x 10 padded to 40 x 16
    EXPECT_EQ(A::coefficients(colour, 1).size(), 24u * 8u);   // 19 x 5 padded to 24 x 8
    EXPECT_EQ(A::coefficients(grey, 0), A::coefficients(colour, 0));

    bmptojpg page;
    const auto p2 = jpeg_test::text_picture(128, 110, 1);
    ASSERT_EQ(page.SampleHDC(p2.view(), 128, 110, 0, 0), 0);
    EXPECT_EQ(A::coefficients(page, 0).size(), 128u * 112u);
    EXPECT_EQ(A::coefficients(page, 2).size(), 64u * 56u);
}

TEST(JpegSampling, PaddingRepeatsTheLastColumnAndRow) {
    // A 10 x 10 picture: black except the last column and row, which are white.
    // Padded to 16 x 16, the block holds white in columns 9 .. 15 and rows 9 .. 15;
    // the same picture drawn 16 x 16 by hand encodes to the same coefficients.
    jpeg_test::Picture small{10, 10, std::vector<std::uint8_t>(300, 0)};
    jpeg_test::Picture big{16, 16, std::vector<std::uint8_t>(768, 0)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool white = x >= 9 || y >= 9;
            if (x < 10 && y < 10 && white) std::fill_n(&small.rgb[(y * 10 + x) * 3], 3, 255);
            if (white) std::fill_n(&big.rgb[(y * 16 + x) * 3], 3, 255);
        }
    bmptojpg a, b;
    a.SetSamplingFrequencies(1, 1, 1, 1, 1, 1);
    b.SetSamplingFrequencies(1, 1, 1, 1, 1, 1);
    ASSERT_EQ(a.SampleHDC(small.view(), 10, 10, 0, 0), 0);
    ASSERT_EQ(b.SampleHDC(big.view(), 16, 16, 0, 0), 0);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(A::coefficients(a, c), A::coefficients(b, c)) << c;
}

TEST(JpegSampling, OutsideTheViewIsBlackAndBadSizesFail) {
    const auto pic = jpeg_test::smooth_picture(20, 20, 5);
    jpeg_test::Picture black{16, 16, std::vector<std::uint8_t>(768, 0)};
    bmptojpg a, b;
    ASSERT_EQ(a.SampleHDC(pic.view(), 16, 16, 100, -50), 0);  // wholly outside
    ASSERT_EQ(b.SampleHDC(black.view(), 16, 16, 0, 0), 0);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(A::coefficients(a, c), A::coefficients(b, c));
    bmptojpg empty_view;
    ASSERT_EQ(empty_view.SampleHDC(pagiro::PixelView{}, 16, 16, 0, 0), 0);
    EXPECT_EQ(A::coefficients(empty_view, 0), A::coefficients(b, 0));

    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 20, 20, 0, 0), 0);
    EXPECT_EQ(e.SampleHDC(pic.view(), 0, 20, 0, 0), 1);
    EXPECT_TRUE(A::coefficients(e, 0).empty());  // the old picture is gone with the failure
    EXPECT_EQ(e.SampleHDC(pic.view(), 20, -1, 0, 0), 1);
    expect_vb_error([&] { e.SampleHDC(pic.view(), 30000, 30000, 0, 0); }, 6);
}

TEST(JpegSampling, PlanesPaddedAlikeButSizedDifferentlyAreDrawnApart) {
    // Width 16 with horizontal factors 4 and 3: the planes are 16 and 12 wide,
    // both padded to 16, and each needs a drawing of its own. Left half red, right
    // half blue: blue-difference is low on the left and high on the right, with
    // the edge at column 8 of a 16-wide plane and column 6 of a 12-wide one.
    jpeg_test::Picture pic{16, 8, std::vector<std::uint8_t>(16 * 8 * 3, 0)};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) pic.rgb[(y * 16 + x) * 3 + (x < 8 ? 0 : 2)] = 255;
    const std::string path = jpeg_test::temp_path("jpeg_plane_reuse.jpg");
    for (int luma_h : {4, 3}) {
        const int chroma_h = 7 - luma_h;
        bmptojpg e;
        e.SetSamplingFrequencies(luma_h, 1, chroma_h, 1, chroma_h, 1);
        e.Quality(100);
        ASSERT_EQ(e.SampleHDC(pic.view(), 16, 8, 0, 0), 0);
        ASSERT_EQ(e.SaveFile(path), 0);
        const auto raw = jpeg_test::decode_raw(jpeg_test::read_file(path));
        ASSERT_EQ(raw.error, "");
        const int width = chroma_h == 4 ? 16 : 12, edge = width / 2;
        ASSERT_EQ(raw.plane_width[1], width);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < width; ++x) {
                const int cb = raw.planes[1][y * width + x];
                if (x < edge) EXPECT_LT(cb, 110) << luma_h << ": " << x;
                else EXPECT_GT(cb, 230) << luma_h << ": " << x;
            }
    }
    std::remove(path.c_str());
}

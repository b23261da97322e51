// Every file we write is decoded by libjpeg-turbo, and the pictures come back
// close to their sources: measured against what libjpeg-turbo's own encoder
// reaches at the same quality and sampling where it can encode them, and against
// the source planes otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "oracle.h"
#include "platform/resample.h"
#include "test_access.h"

namespace fs = std::filesystem;
using jpeg_test::Picture;
using jpeg_test::Sampling;

namespace {

const Sampling kDefault{{2, 1, 1}, {2, 1, 1}};

// Our encoder, straight to bytes (through a file, as the product writes it).
std::vector<std::uint8_t> encode(const Picture& p, int quality, const Sampling& s, bool grey) {
    bmptojpg e;
    if (grey)
        e.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    else
        e.SetSamplingFrequencies(s.h[0], s.v[0], s.h[1], s.v[1], s.h[2], s.v[2]);
    e.Quality(quality);
    if (e.SampleHDC(p.view(), p.width, p.height, 0, 0) != 0) return {};
    const std::string path = jpeg_test::temp_path("jpeg_roundtrip.jpg");
    e.SaveFile(path);
    auto bytes = jpeg_test::read_file(path);
    fs::remove(path);
    return bytes;
}

// PSNR of our file and of libjpeg-turbo's, both decoded by libjpeg-turbo.
struct Pair {
    double ours;
    double theirs;
};

Pair compare(const Picture& p, int quality, const Sampling& s, bool grey) {
    const auto ours = jpeg_test::decode(encode(p, quality, s, grey), grey);
    EXPECT_EQ(ours.error, "");
    EXPECT_EQ(ours.warnings, 0);
    EXPECT_EQ(ours.width, p.width);
    EXPECT_EQ(ours.height, p.height);
    EXPECT_EQ(ours.components, grey ? 1 : 3);
    const auto theirs = jpeg_test::decode(jpeg_test::reference_encode(p, quality, s, grey), grey);
    EXPECT_EQ(theirs.error, "");
    const auto& source = grey ? jpeg_test::component_plane(p, 0) : p.rgb;
    return {jpeg_test::psnr(ours.pixels, source), jpeg_test::psnr(theirs.pixels, source)};
}

// How far our PSNR may fall short of libjpeg-turbo's, in decibels. Our quality
// scaling rounds the quantizers once more than libjpeg-turbo's, so some are a
// step coarser (worth up to about 0.7 dB at high qualities). Where a
// subsampled plane is an exact fraction of the picture the two place their
// samples alike. Where it is not (a width of 37 halved gives 19 samples), we
// scale the picture to the plane's size and the decoder stretches each sample
// back over a whole number of pixels, so colour edges drift by up to a pixel
// and chroma detail costs more.
constexpr double kExactMargin = 1.0;
constexpr double kInexactMargin = 6.0;

// The largest shortfall seen in a test, printed with its result.
struct Shortfall {
    double exact = -99, inexact = -99;
    ~Shortfall() {
        if (exact > -99) std::printf("largest shortfall against libjpeg-turbo, exact planes: %.2f dB\n", exact);
        if (inexact > -99) std::printf("largest shortfall against libjpeg-turbo, inexact planes: %.2f dB\n", inexact);
    }
};

bool exact_geometry(const Picture& p, const Sampling& s, bool grey) {
    if (grey) return true;
    const int hmax = std::max({s.h[0], s.h[1], s.h[2]}), vmax = std::max({s.v[0], s.v[1], s.v[2]});
    for (int c = 0; c < 3; ++c)
        if (p.width * s.h[c] % hmax != 0 || p.height * s.v[c] % vmax != 0) return false;
    return true;
}

void check(const Picture& p, int quality, const Sampling& s, bool grey, Shortfall& worst) {
    const auto r = compare(p, quality, s, grey);
    const bool exact = exact_geometry(p, s, grey);
    double& w = exact ? worst.exact : worst.inexact;
    w = std::max(w, r.theirs - r.ours);
    EXPECT_GT(r.ours, r.theirs - (exact ? kExactMargin : kInexactMargin))
        << r.ours << " dB vs " << r.theirs << " dB" << (exact ? "" : " (inexact planes)");
}

}  // namespace

TEST(JpegRoundTrip, SizesColourAndGrey) {
    Shortfall worst;
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {7, 9}, {8, 8}, {16, 16}, {17, 15}, {37, 10},
                                         {24, 24}, {10, 10}, {128, 110}, {255, 257}, {1000, 3}};
    for (auto [w, h] : sizes)
        for (bool grey : {false, true}) {
            SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + (grey ? " grey" : " colour"));
            check(jpeg_test::smooth_picture(w, h, w * 31 + h), 75, kDefault, grey, worst);
        }
}

TEST(JpegRoundTrip, FewMegapixels) {
    Shortfall worst;
    const Picture p = jpeg_test::smooth_picture(2048, 1536, 77);
    check(p, 75, kDefault, false, worst);
    check(p, 90, kDefault, true, worst);
}

TEST(JpegRoundTrip, EveryQuality) {
    Shortfall worst;
    const Picture smooth = jpeg_test::smooth_picture(64, 48, 5);
    for (int q = 1; q <= 100; ++q) {
        SCOPED_TRACE("quality " + std::to_string(q));
        check(smooth, q, kDefault, false, worst);
    }
    const Picture text = jpeg_test::text_picture(128, 110, 8);
    const Picture noise = jpeg_test::random_picture(40, 40, 8);
    for (int q : {1, 10, 25, 50, 75, 90, 100})
        for (const Picture* p : {&text, &noise}) {
            SCOPED_TRACE("quality " + std::to_string(q) + (p == &text ? " text" : " noise"));
            check(*p, q, kDefault, false, worst);
        }
}

TEST(JpegRoundTrip, EverySamplingCombination) {
    Shortfall worst;
    // Every factor combination: libjpeg-turbo decodes each component plane as it
    // is stored; each plane must be close to the source scaled to that plane.
    // Where libjpeg-turbo can also encode the combination (whole-number ratios,
    // at most 10 blocks in an MCU) the full colour pictures are compared too.
    const Picture p = jpeg_test::smooth_picture(45, 29, 12);
    int compared = 0, multi_scan = 0;
    double worst_plane = 99;
    for (int code = 0; code < 4096; ++code) {
        Sampling s;
        for (int c = 0; c < 3; ++c) {
            s.h[c] = 1 + (code >> (4 * c)) % 4;
            s.v[c] = 1 + (code >> (4 * c + 2)) % 4;
        }
        SCOPED_TRACE(::testing::Message() << s.h[0] << "x" << s.v[0] << " " << s.h[1] << "x" << s.v[1] << " "
                                          << s.h[2] << "x" << s.v[2]);
        const auto file = encode(p, 90, s, false);
        const auto raw = jpeg_test::decode_raw(file);
        ASSERT_EQ(raw.error, "");
        ASSERT_EQ(raw.warnings, 0);
        if (raw.scans > 1) ++multi_scan;
        const int hmax = std::max({s.h[0], s.h[1], s.h[2]}), vmax = std::max({s.v[0], s.v[1], s.v[2]});
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(raw.factors[c][0], s.h[c]);
            ASSERT_EQ(raw.factors[c][1], s.v[c]);
            const int w = (p.width * s.h[c] + hmax - 1) / hmax, h = (p.height * s.v[c] + vmax - 1) / vmax;
            ASSERT_EQ(raw.plane_width[c], w);
            ASSERT_EQ(raw.plane_height[c], h);
            Picture scaled{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 3)};
            if (w == p.width && h == p.height)
                scaled = p;
            else
                ASSERT_TRUE(pagiro::resample_area(p.view(), 0, 0, p.width, p.height, scaled.rgb.data(), w * 3, w, h));
            const double plane_psnr = jpeg_test::psnr(raw.planes[c], jpeg_test::component_plane(scaled, c));
            worst_plane = std::min(worst_plane, plane_psnr);
            EXPECT_GT(plane_psnr, 36.0) << "component " << c;
        }
        bool integral = true;
        int blocks = 0;
        for (int c = 0; c < 3; ++c) {
            integral = integral && hmax % s.h[c] == 0 && vmax % s.v[c] == 0;
            blocks += s.h[c] * s.v[c];
        }
        if (integral && blocks <= 10) {
            check(p, 90, s, false, worst);
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
    EXPECT_GT(multi_scan, 1000);
    RecordProperty("worst_plane_psnr", std::to_string(worst_plane));
}


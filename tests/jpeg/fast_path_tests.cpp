// The fast paths (SSE2 and AVX2, one and two threads) write the very bytes of
// the plain procedures, on pictures of every kind, size, quality and sampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "oracle.h"
#include "platform/vb_error.h"
#include "jpeg/fast_kernels.h"
#include "test_access.h"

using A = bmptojpg_test_access;
using jpeg_test::Picture;
using Path = bmptojpg::CodePath;

namespace {

// Restores the code path chosen at start when a test ends.
class JpegFastPath : public ::testing::Test {
protected:
    void TearDown() override { bmptojpg::SetCodePath(initial_); }
    const Path initial_ = bmptojpg::ActiveCodePath();
};

struct Settings {
    int quality = 75;
    int factors[6] = {2, 2, 1, 1, 1, 1};
    int threads = 1;
    int left = 0, top = 0;
};

std::vector<std::uint8_t> encode(Path path, const pagiro::PixelView& view, int width, int height, const Settings& s) {
    bmptojpg::SetCodePath(path);
    bmptojpg e;
    e.SetThreads(s.threads);
    e.SetSamplingFrequencies(s.factors[0], s.factors[1], s.factors[2], s.factors[3], s.factors[4], s.factors[5]);
    e.Quality(s.quality);
    if (e.SampleHDC(view, width, height, s.left, s.top) != 0) return {};
    return e.SaveBytes();
}

std::vector<Path> fast_paths() {
    std::vector<Path> out{Path::Sse2};
#if PAGIRO_SIMD
    if (__builtin_cpu_supports("x86-64-v3")) out.push_back(Path::Avx2);
    if (__builtin_cpu_supports("x86-64-v4")) out.push_back(Path::Avx512);
#endif
    return out;
}

const char* name(Path p) {
    return p == Path::Avx512 ? "avx512" : p == Path::Avx2 ? "avx2" : p == Path::Sse2 ? "sse2" : "plain";
}

// Every fast path, with one and with two threads, against the plain procedures.
void expect_same(const pagiro::PixelView& view, int width, int height, Settings s) {
    s.threads = 1;
    const auto plain = encode(Path::Plain, view, width, height, s);
    ASSERT_FALSE(plain.empty());
    for (Path p : fast_paths())
        for (int threads : {1, 2}) {
            s.threads = threads;
            const auto fast = encode(p, view, width, height, s);
            ASSERT_EQ(fast, plain) << name(p) << ", " << threads << " thread(s), " << width << " x " << height << ", quality "
                                   << s.quality << ", factors " << s.factors[0] << s.factors[1] << s.factors[2]
                                   << s.factors[3] << s.factors[4] << s.factors[5];
        }
}

void expect_same(const Picture& p, const Settings& s) { expect_same(p.view(), p.width, p.height, s); }

// The same picture as 32-bit blue, green, red, unused pixels.
std::vector<std::uint8_t> to_bgrx(const Picture& p) {
    std::vector<std::uint8_t> out(std::size_t(p.width) * p.height * 4, 0xAB);
    for (std::size_t i = 0; i < std::size_t(p.width) * p.height; ++i) {
        out[i * 4] = p.rgb[i * 3 + 2];
        out[i * 4 + 1] = p.rgb[i * 3 + 1];
        out[i * 4 + 2] = p.rgb[i * 3];
    }
    return out;
}

}  // namespace

TEST_F(JpegFastPath, SizesAndPictureKinds) {
    const int sizes[][2] = {{1, 1},   {1, 9},   {9, 1},    {7, 7},    {8, 8},   {15, 17}, {16, 16}, {17, 15},
                            {24, 24}, {31, 33}, {40, 8},   {64, 55},  {127, 3}, {128, 110}, {129, 111}, {200, 130},
                            {250, 17}, {3, 250}, {333, 257}};
    std::uint32_t seed = 1;
    for (const auto& size : sizes)
        for (int kind = 0; kind < 3; ++kind) {
            const int w = size[0], h = size[1];
            const Picture p = kind == 0 ? jpeg_test::random_picture(w, h, seed++)
                              : kind == 1 ? jpeg_test::smooth_picture(w, h, seed++)
                                          : jpeg_test::text_picture(w, h, seed++);
            Settings s;
            expect_same(p, s);
            s.factors[2] = s.factors[3] = s.factors[4] = s.factors[5] = 0;  // grey
            expect_same(p, s);
        }
}

namespace {

// A picture of 8 x 8 tiles of one colour each, from a small palette so that
// neighbours often match and 16 x 16 boxes are one colour too; the right and
// bottom edges end in part tiles. The top-left 16 x 8 tiles hold two colours of
// the same luminance in a checkerboard.
Picture tiled_picture(int width, int height) {
    const std::uint8_t palette[][3] = {{255, 255, 255}, {0, 0, 0}, {200, 30, 90}, {100, 100, 100}, {85, 109, 93}};
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    std::mt19937 rng(21);
    for (int ty = 0; ty * 8 < height; ++ty)
        for (int tx = 0; tx * 8 < width; ++tx) {
            const std::uint8_t* colour = palette[rng() % 5];
            for (int y = ty * 8; y < std::min(height, ty * 8 + 8); ++y)
                for (int x = tx * 8; x < std::min(width, tx * 8 + 8); ++x)
                    std::copy(colour, colour + 3, &p.rgb[(std::size_t(y) * width + x) * 3]);
        }
    for (int y = 0; y < std::min(8, height); ++y)
        for (int x = 0; x < std::min(16, width); ++x) {
            const std::uint8_t* colour = palette[(x + y) % 2 ? 3 : 4];
            std::copy(colour, colour + 3, &p.rgb[(std::size_t(y) * width + x) * 3]);
        }
    return p;
}

// The same picture as 32-bit pixels whose unused bytes all differ.
std::vector<std::uint8_t> to_bgrx_noisy(const Picture& p) {
    auto bgrx = to_bgrx(p);
    std::mt19937 rng(3);
    for (std::size_t i = 3; i < bgrx.size(); i += 4) bgrx[i] = static_cast<std::uint8_t>(rng());
    return bgrx;
}

pagiro::PixelView bgrx_view(const Picture& p, const std::vector<std::uint8_t>& bgrx) {
    return {bgrx.data(), p.width, p.height, static_cast<std::ptrdiff_t>(p.width) * 4, pagiro::PixelFormat::Bgrx32};
}

}  // namespace

TEST_F(JpegFastPath, BlocksOfOneColour) {
    // (100, 100, 100) and (85, 109, 93) give the same luminance sample: the
    // checkerboard tiles are one value only after the conversion.
    const float y1 = float(((100.0 * double(0.299f) + 100.0 * double(0.587f)) + 100.0 * double(0.114f)) - 128.0);
    const float y2 = float(((85.0 * double(0.299f) + 109.0 * double(0.587f)) + 93.0 * double(0.114f)) - 128.0);
    ASSERT_EQ(y1, y2);
    for (const auto& size : {std::array<int, 2>{197, 99}, {128, 110}, {64, 64}, {13, 9}}) {
        const Picture p = tiled_picture(size[0], size[1]);
        const auto bgrx = to_bgrx_noisy(p);
        for (const auto& view : {p.view(), bgrx_view(p, bgrx)}) {
            Settings s;
            expect_same(view, p.width, p.height, s);  // luminance copied, chrominance in 2 x 2 boxes
            s.factors[0] = s.factors[1] = 1;          // every plane copied
            expect_same(view, p.width, p.height, s);
            s.left = 3;  // tiles off the block grid, and the padding at the edges
            s.top = 5;
            expect_same(view, p.width - 3, p.height - 5, s);
            Settings grey;
            grey.factors[2] = grey.factors[3] = grey.factors[4] = grey.factors[5] = 0;
            expect_same(view, p.width, p.height, grey);
        }
    }
}

TEST_F(JpegFastPath, OddBytesInBlocksOfOneColour) {
    // A 16 x 16 picture of one colour but for one byte, at every place, or for
    // the same byte of every row (which leaves each row of a block equal to the
    // first): no odd byte may be taken for the block's colour. The byte differs
    // by 128, so that it shows in the file at quality 100.
    const Picture flat{16, 16, std::vector<std::uint8_t>(16 * 16 * 3, 90)};
    for (int at = 0; at < 16 * 16 * 3 + 16 * 3; ++at) {
        Picture p = flat;
        const bool column = at >= 16 * 16 * 3;
        const int i = column ? at - 16 * 16 * 3 : at, x = i / 3 % 16, channel = i % 3;
        for (int y = column ? 0 : i / 48; y <= (column ? 15 : i / 48); ++y) p.rgb[(std::size_t(y) * 16 + x) * 3 + channel] ^= 0x80;
        const auto bgrx = to_bgrx_noisy(p);
        for (const auto& view : {p.view(), bgrx_view(p, bgrx)})
            for (int h : {2, 1}) {
                Settings s;
                s.quality = 100;
                s.factors[0] = s.factors[1] = h;  // chrominance in 2 x 2 boxes, or copied
                ASSERT_NE(encode(Path::Plain, view, 16, 16, s), encode(Path::Plain, flat.view(), 16, 16, s)) << "byte " << at;
                expect_same(view, 16, 16, s);
                if (HasFatalFailure()) return;
            }
    }
}

TEST_F(JpegFastPath, EveryQuality) {
    const Picture noise = jpeg_test::random_picture(37, 29, 5);
    const Picture text = jpeg_test::text_picture(64, 40, 6);
    for (int q = 1; q <= 100; ++q) {
        Settings s;
        s.quality = q;
        expect_same(noise, s);
        expect_same(text, s);
    }
}

TEST_F(JpegFastPath, EverySamplingCombination) {
    const Picture p = jpeg_test::random_picture(37, 23, 7);
    for (int code = 0; code < 4096; ++code) {
        Settings s;
        s.quality = 90;
        for (int c = 0; c < 3; ++c) {
            s.factors[2 * c] = 1 + (code >> (4 * c)) % 4;
            s.factors[2 * c + 1] = 1 + (code >> (4 * c + 2)) % 4;
        }
        expect_same(p, s);
        if (HasFatalFailure()) return;
    }
}

TEST_F(JpegFastPath, PixelFormatsAndRectangles) {
    const Picture p = jpeg_test::smooth_picture(90, 70, 8);
    const auto bgrx = to_bgrx(p);
    const pagiro::PixelView rgb_view = p.view();
    const pagiro::PixelView bgrx_view{bgrx.data(), p.width, p.height, static_cast<std::ptrdiff_t>(p.width) * 4,
                                      pagiro::PixelFormat::Bgrx32};
    for (const auto& view : {rgb_view, bgrx_view})
        for (const auto& r : {std::array<int, 4>{0, 0, 90, 70}, {3, 5, 64, 48}, {1, 2, 33, 21}, {60, 50, 40, 30},
                              {-5, -3, 40, 40}, {0, 0, 100, 80}}) {
            Settings s;
            s.left = r[0];
            s.top = r[1];
            expect_same(view, r[2], r[3], s);
            s.factors[0] = s.factors[1] = 1;  // every plane a plain copy
            expect_same(view, r[2], r[3], s);
        }
    // An empty view reads as black.
    Settings s;
    expect_same(pagiro::PixelView{}, 20, 20, s);
}

TEST_F(JpegFastPath, LargePictures) {
    // Large enough to be shared between two threads.
    expect_same(jpeg_test::smooth_picture(1600, 1203, 9), Settings{});
    expect_same(jpeg_test::random_picture(1031, 517, 10), Settings{});
    Settings s;
    s.factors[2] = s.factors[3] = s.factors[4] = s.factors[5] = 0;
    expect_same(jpeg_test::text_picture(1200, 900, 11), s);
    // A scan of its own for luminance, then the chrominance interleaved; and
    // planes scaled by the resampler.
    const Picture p = jpeg_test::smooth_picture(701, 409, 12);
    for (const auto& f : {std::array<int, 6>{4, 4, 1, 1, 1, 1}, {1, 2, 2, 1, 1, 1}, {3, 1, 1, 1, 1, 3}}) {
        Settings t;
        std::copy(f.begin(), f.end(), t.factors);
        expect_same(p, t);
    }
}

TEST_F(JpegFastPath, SettingsChangedAfterSampling) {
    // The picture keeps the multipliers it was sampled with; the file takes the
    // quality and comment current when it is written.
    const Picture p = jpeg_test::smooth_picture(50, 40, 13);
    std::vector<std::vector<std::uint8_t>> files;
    for (Path path : {Path::Plain, Path::Sse2, Path::Avx2, Path::Avx512}) {
        bmptojpg::SetCodePath(path);
        bmptojpg e;
        ASSERT_EQ(e.SampleHDC(p.view(), p.width, p.height, 0, 0), 0);
        e.Quality(30);
        e.Comment("after sampling");
        files.push_back(e.SaveBytes());
        files.push_back(e.SaveBytes());
    }
    for (const auto& f : files) EXPECT_EQ(f, files[0]);
}

// One encoder kept for page after page, as a worker thread keeps it: each file
// is the one a fresh encoder writes, whatever came before — a larger picture, a
// busier one (its symbol counts must not carry over), one partly outside the
// view, a picture that could not be taken in.
TEST_F(JpegFastPath, KeptEncoderWritesWhatAFreshOneWrites) {
    const Picture busy = jpeg_test::random_picture(200, 150, 3);
    const Picture page = jpeg_test::text_picture(128, 110, 4);
    const Picture photo = jpeg_test::smooth_picture(61, 37, 5);
    struct Step {
        const Picture* picture;
        int width, height, left, top;
    };
    const Step steps[] = {
        {&busy, 200, 150, 0, 0}, {&page, 128, 110, 0, 0}, {&page, 128, 110, 0, 0}, {&photo, 61, 37, 0, 0},
        {&busy, 200, 150, 0, 0}, {&page, 140, 120, -5, 3},  // partly outside: the resampled planes
        {&photo, 0, 37, 0, 0},                                // refused, nothing kept
        {&page, 128, 110, 0, 0},
    };
    std::vector<Path> paths = fast_paths();
    paths.insert(paths.begin(), Path::Plain);
    for (Path path : paths) {
        for (bool grey : {false, true}) {
            bmptojpg::SetCodePath(path);
            bmptojpg kept;
            if (grey) kept.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
            int n = 0;
            for (const Step& st : steps) {
                SCOPED_TRACE(std::string(name(path)) + (grey ? " grey" : " colour") + " step " + std::to_string(n++));
                Settings s;
                s.left = st.left;
                s.top = st.top;
                if (grey) std::fill(std::begin(s.factors), std::end(s.factors), 0), s.factors[0] = s.factors[1] = 1;
                const auto fresh = encode(path, st.picture->view(), st.width, st.height, s);
                if (kept.SampleHDC(st.picture->view(), st.width, st.height, st.left, st.top) != 0) {
                    EXPECT_TRUE(fresh.empty());
                    // No bytes of the earlier picture may come out after a refusal.
                    EXPECT_THROW(kept.SaveView(), VbError);
                    continue;
                }
                ASSERT_FALSE(fresh.empty());
                const std::span<const std::uint8_t> view = kept.SaveView();
                EXPECT_EQ(std::vector<std::uint8_t>(view.begin(), view.end()), fresh);
                // Asked again, and as a copy: the same file.
                EXPECT_EQ(kept.SaveBytes(), fresh);
            }
        }
    }
}

TEST_F(JpegFastPath, HeapMergeGivesTheSameTables) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 3000; ++trial) {
        A::Counts counts{};
        const int used = 1 + static_cast<int>(rng() % 256);
        const int spread = trial % 3 == 0 ? 3 : trial % 3 == 1 ? 1000 : 1 << 20;  // many ties, few, skewed
        for (int i = 0; i < used; ++i) counts[rng() % 256] = 1 + static_cast<std::int32_t>(rng() % spread);
        if (trial == 30) counts = {};  // only the reserved code point
        if (trial == 31 || trial == 32) {  // one symbol: the smallest, then the largest
            counts = {};
            counts[trial == 31 ? 0 : 255] = 7;
        }
        if (trial < 30) {  // counts that need the 16-bit limit
            std::int32_t a = 1, b = 1;
            for (int i = 0; i < 30; ++i) {
                counts[static_cast<std::size_t>(i)] = a;
                const std::int32_t next = a + b;
                a = b;
                b = next;
            }
        }
        A::Counts plain_counts = counts, fast_counts = counts;
        const auto plain = A::optimize_only(plain_counts);
        const auto fast = A::optimize_fast(fast_counts);
        ASSERT_EQ(fast.counts, plain.counts) << "trial " << trial;
        ASSERT_EQ(fast.symbols, plain.symbols) << "trial " << trial;
        EXPECT_EQ(fast_counts, A::Counts{});
    }
}

// DC tables look only at the first 17 symbols: the same tables, whichever of
// them (the first, the last, none) occur.
TEST_F(JpegFastPath, HeapMergeOfDcCategoriesGivesTheSameTables) {
    std::mt19937 rng(17);
    for (int trial = 0; trial < 1000; ++trial) {
        A::Counts counts{};
        const int used = static_cast<int>(rng() % 18);
        for (int i = 0; i < used; ++i) counts[rng() % 17] = 1 + static_cast<std::int32_t>(rng() % (trial % 2 ? 5 : 100000));
        if (trial == 1) counts[16] = 3;  // only the last category
        A::Counts plain_counts = counts, fast_counts = counts;
        const auto plain = A::optimize_only(plain_counts);
        const auto fast = A::optimize_fast(fast_counts, 17);
        ASSERT_EQ(fast.counts, plain.counts) << "trial " << trial;
        ASSERT_EQ(fast.symbols, plain.symbols) << "trial " << trial;
        EXPECT_EQ(fast_counts, A::Counts{});
    }
}

namespace {

// The fast table builder against the plain procedure on one set of counts: the
// same table, or the same error, and the counts used up.
void expect_same_table(const A::Counts& counts, int symbol_limit, const std::string& what) {
    SCOPED_TRACE(what);
    A::Counts plain_counts = counts, fast_counts = counts;
    A::Table plain, fast;
    int plain_error = 0, fast_error = 0;
    try {
        plain = A::optimize_only(plain_counts);
    } catch (const VbError& e) {
        plain_error = e.number();
    }
    try {
        fast = A::optimize_fast(fast_counts, symbol_limit);
    } catch (const VbError& e) {
        fast_error = e.number();
    }
    ASSERT_EQ(fast_error, plain_error);
    if (plain_error != 0) return;
    ASSERT_EQ(fast.counts, plain.counts);
    ASSERT_EQ(fast.symbols, plain.symbols);
    EXPECT_EQ(fast_counts, A::Counts{});
}

}  // namespace

TEST_F(JpegFastPath, TablesOfOneTwoAndThreeSymbolsAreThoseOfThePlainProcedure) {
    const std::int32_t big = 2147483647;
    expect_same_table(A::Counts{}, 256, "no symbol");
    expect_same_table(A::Counts{}, 17, "no DC category");
    for (int a = 0; a < 256; ++a)
        for (std::int32_t ca : {1, 2, 1000, big - 1, big}) {  // the last leaves no room for the reserved point
            A::Counts c{};
            c[static_cast<std::size_t>(a)] = ca;
            expect_same_table(c, a < 17 ? 17 : 256, "one symbol " + std::to_string(a) + " x " + std::to_string(ca));
        }
    // Pairs: equal counts (the lower symbol keeps the shorter code), either one
    // larger, and sums at and just past the limit of a count.
    const std::pair<std::int32_t, std::int32_t> pairs[] = {
        {1, 1}, {5, 5}, {1, 2}, {2, 1}, {7, 300}, {300, 7}, {big / 2, big / 2}, {big / 2 + 1, big / 2}, {big, 1}};
    for (int a : {0, 1, 2, 15, 16, 100, 200, 254})
        for (int b = a + 1; b < 256; b += (b < 20 || b > 250 ? 1 : 17))
            for (const auto& [ca, cb] : pairs) {
                A::Counts c{};
                c[static_cast<std::size_t>(a)] = ca;
                c[static_cast<std::size_t>(b)] = cb;
                const std::string what = "symbols " + std::to_string(a) + ", " + std::to_string(b) + " x " +
                                         std::to_string(ca) + ", " + std::to_string(cb);
                expect_same_table(c, 256, what);
                if (b < 17) expect_same_table(c, 17, what + " as DC");
            }
    // Three symbols, the smallest set merged the general way, every order of counts.
    for (const auto& t : std::vector<std::array<std::int32_t, 3>>{
             {1, 1, 1}, {1, 2, 3}, {3, 2, 1}, {2, 1, 3}, {1, 1, 2}, {2, 2, 1}, {4, 1, 1}, {big / 3, big / 3, big / 3}, {big / 2, big / 2, 2}}) {
        A::Counts c{};
        c[3] = t[0], c[9] = t[1], c[16] = t[2];
        expect_same_table(c, 17, "three DC categories");
        expect_same_table(c, 256, "three symbols");
    }
}

TEST_F(JpegFastPath, TablesOfManyTiesAndDeepTreesAreThoseOfThePlainProcedure) {
    auto fill = [](auto count_of) {
        A::Counts c{};
        for (int v = 0; v < 256; ++v) c[static_cast<std::size_t>(v)] = count_of(v);
        return c;
    };
    // All 256 symbols: equal counts (every merge a tie), counts equal to the sums
    // of earlier merges (merged groups tie with leaves), and all different.
    expect_same_table(fill([](int) { return 1; }), 256, "all ones");
    expect_same_table(fill([](int) { return 1000; }), 256, "all equal");
    expect_same_table(fill([](int v) { return 1 << (v % 8); }), 256, "powers of two");
    expect_same_table(fill([](int v) { return v % 3 == 0 ? 2 : 1; }), 256, "ones and twos");
    expect_same_table(fill([](int v) { return v + 1; }), 256, "rising");
    expect_same_table(fill([](int v) { return 256 - v; }), 256, "falling");
    // Counts that double leave one long chain, far past the 16-bit limit.
    expect_same_table(fill([](int v) { return v < 30 ? 1 << v : 0; }), 256, "doubling");
    expect_same_table(fill([](int v) { return v >= 226 ? 1 << (255 - v) : 0; }), 256, "doubling from the top");
    expect_same_table(fill([](int v) { return v < 29 ? 1 << v : 1; }), 256, "doubling and many ones");
    // Fibonacci counts: the longest codes for a given total; alone, beside
    // other symbols, and at the top of a sum that still fits.
    std::vector<std::int32_t> fib{1, 1};
    while (fib.size() < 45) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
    for (std::size_t length : {17u, 20u, 30u, 44u}) {
        A::Counts c{};
        for (std::size_t i = 0; i < length; ++i) c[i * 5] = fib[i];
        expect_same_table(c, 256, "Fibonacci " + std::to_string(length));
        for (int v = 1; v < 256; v += 5) c[static_cast<std::size_t>(v)] = 3;
        expect_same_table(c, 256, "Fibonacci " + std::to_string(length) + " and others");
    }
    // Random counts from a narrow range over every number of symbols: many
    // groups with equal counts in both queues at once.
    std::mt19937 rng(1919);
    for (int used = 3; used <= 256; ++used)
        for (int spread : {2, 4, 9}) {
            A::Counts c{};
            std::vector<int> symbols(256);
            for (int v = 0; v < 256; ++v) symbols[static_cast<std::size_t>(v)] = v;
            std::shuffle(symbols.begin(), symbols.end(), rng);
            for (int i = 0; i < used; ++i) c[static_cast<std::size_t>(symbols[static_cast<std::size_t>(i)])] = 1 + static_cast<std::int32_t>(rng() % spread);
            expect_same_table(c, 256, std::to_string(used) + " symbols, counts up to " + std::to_string(spread));
        }
    // Sums past the limit of a count fail as in the plain procedure.
    expect_same_table(fill([](int v) { return v < 4 ? 1 << 29 : 0; }), 256, "a sum of exactly 2^31");
    expect_same_table(fill([](int v) { return v < 3 ? 715827882 : 0; }), 256, "a sum just below 2^31");
}

// Counts shaped like those of the pages of a run: a DC table of a few
// categories, an AC table of a few dozen symbols whose counts fall with the
// run length and the size, and the one-symbol tables of grey colour.
TEST_F(JpegFastPath, TablesOfPageLikeCountsAreThoseOfThePlainProcedure) {
    std::mt19937 rng(23546);
    for (int page = 0; page < 500; ++page) {
        A::Counts dc{};
        for (int s = 0; s <= 8; ++s)
            if (s == 0 || rng() % 3 != 0) dc[static_cast<std::size_t>(s)] = 1 + static_cast<std::int32_t>(rng() % 80);
        expect_same_table(dc, 17, "page DC " + std::to_string(page));
        A::Counts ac{};
        ac[0] = 50 + static_cast<std::int32_t>(rng() % 150);
        for (int run = 0; run < 10; ++run)
            for (int size = 1; size <= 8; ++size) {
                const std::int32_t top = 2500 >> (run + size / 2);
                if (top > 0 && rng() % 4 != 0) ac[static_cast<std::size_t>(run * 16 + size)] = 1 + static_cast<std::int32_t>(rng() % top);
            }
        if (page % 7 == 0) ac[0xF0] = 1 + static_cast<std::int32_t>(rng() % 3);
        expect_same_table(ac, 256, "page AC " + std::to_string(page));
    }
}

TEST_F(JpegFastPath, ErrorsAreThoseOfThePlainProcedures) {
    for (Path p : fast_paths()) {
        bmptojpg::SetCodePath(p);
        bmptojpg e;
        try {
            e.SaveBytes();
            ADD_FAILURE() << "no error before a picture";
        } catch (const VbError& err) {
            EXPECT_EQ(err.number(), 9);
        }
        EXPECT_EQ(e.SampleHDC(jpeg_test::smooth_picture(8, 8, 1).view(), 0, 8, 0, 0), 1);
        // A picture taken in and then dropped by new factors.
        ASSERT_EQ(e.SampleHDC(jpeg_test::smooth_picture(8, 8, 1).view(), 8, 8, 0, 0), 0);
        e.SetSamplingFrequencies(1, 1, 1, 1, 1, 1);
        try {
            e.SaveBytes();
            ADD_FAILURE() << "no error after new factors";
        } catch (const VbError& err) {
            EXPECT_EQ(err.number(), 9);
        }
        // A quantized coefficient beyond 16 bits, below and above: a multiplier
        // made huge on purpose.
        for (const float huge : {1000.0f, -1000.0f}) {
            A::set_multiplier(e, 0, 0, huge);
            try {
                e.SampleHDC(jpeg_test::smooth_picture(8, 8, 1).view(), 8, 8, 0, 0);
                ADD_FAILURE() << "no overflow with " << huge;
            } catch (const VbError& err) {
                EXPECT_EQ(err.number(), 6);
            }
        }
    }
}

TEST_F(JpegFastPath, ColourConversionIsExactForEveryColour) {
    // Every 24-bit colour: the float lanes give the double formula rounded once.
    const float kFactors[3][4] = {{0.299f, 0.587f, 0.114f, -128.0f}, {-0.16874f, -0.33126f, 0.5f, 0.0f},
                                  {0.5f, -0.41869f, -0.08131f, 0.0f}};
    std::vector<std::uint8_t> r(256 * 256), g(256 * 256), b(256 * 256);
    std::vector<float> out(256 * 256);
    for (int i = 0; i < 256 * 256; ++i) {
        g[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i >> 8);
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i & 0xFF);
    }
#if PAGIRO_SIMD
    std::vector<const bmptojpg_fast::Kernels*> kernels{&bmptojpg_fast::sse2_kernels()};
    if (fast_paths().size() > 1) kernels.push_back(&bmptojpg_fast::avx2_kernels());
    if (fast_paths().size() > 2) kernels.push_back(&bmptojpg_fast::avx512_kernels());
#else
    GTEST_SKIP() << "built without the vector kernels";
    std::vector<const bmptojpg_fast::Kernels*> kernels;
#endif
    for (const auto* k : kernels)
        for (int c = 0; c < 3; ++c) {
            std::size_t wrong = 0;
            for (int red = 0; red < 256; ++red) {
                std::fill(r.begin(), r.end(), static_cast<std::uint8_t>(red));
                k->convert_pixels(bmptojpg_fast::conversion_factors(c), r.data(), g.data(), b.data(), 256 * 256, out.data());
                for (std::size_t i = 0; i < out.size(); ++i) {
                    const double exact = ((double(float(r[i])) * kFactors[c][0] + double(float(g[i])) * kFactors[c][1]) +
                                          double(float(b[i])) * kFactors[c][2]) + kFactors[c][3];
                    if (out[i] != static_cast<float>(exact)) ++wrong;
                }
            }
            EXPECT_EQ(wrong, 0u) << "component " << c;
        }
}

// ---- Grey strips: the colour planes of grey pixels are written as zeros
// without being computed. They must give the very bytes of the plain path.

namespace {

// 16 x 16 tiles of the grey levels, each level once in the first 256 tiles (a
// chrominance block of a 2 x 2 sampled plane is one level each), and grey noise
// past them, or in the bottom right quarter of a smaller picture: both blocks
// of one value and busy ones.
Picture grey_levels_picture(int width, int height, std::uint32_t seed) {
    Picture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int tile = (y / 16) * ((width + 15) / 16) + x / 16;
            const bool noise = tile >= 256 || (width * height < 256 * 256 && x >= width / 2 && y >= height / 2);
            const auto v = static_cast<std::uint8_t>(noise ? rng() : static_cast<std::uint32_t>(tile * 37));
            std::uint8_t* px = &p.rgb[(std::size_t(y) * width + x) * 3];
            px[0] = px[1] = px[2] = v;
        }
    return p;
}

struct Sampled {
    std::vector<std::uint8_t> file;
    std::vector<std::int16_t> coefficients[3];
};

// Encodes with every chrominance multiplier set to `chroma_multiplier` when it
// is not 0 (a table no quality gives), keeping the coefficients.
Sampled encode_kept(Path path, const pagiro::PixelView& view, int width, int height, const Settings& s,
                    float chroma_multiplier = 0) {
    bmptojpg::SetCodePath(path);
    bmptojpg e;
    e.SetThreads(s.threads);
    e.SetSamplingFrequencies(s.factors[0], s.factors[1], s.factors[2], s.factors[3], s.factors[4], s.factors[5]);
    e.Quality(s.quality);
    if (chroma_multiplier != 0)
        for (int z = 0; z < 64; ++z) A::set_multiplier(e, 1, z, chroma_multiplier);
    Sampled out;
    if (e.SampleHDC(view, width, height, s.left, s.top) != 0) return out;
    for (int c = 0; c < A::component_count(e); ++c) out.coefficients[c] = A::coefficients(e, c);
    out.file = e.SaveBytes();
    return out;
}

bool all_zero(const std::vector<std::int16_t>& v) {
    return std::all_of(v.begin(), v.end(), [](std::int16_t x) { return x == 0; });
}

const int kSamplings[][6] = {{2, 2, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1}, {2, 1, 1, 1, 1, 1}, {1, 2, 1, 1, 1, 1}, {4, 1, 1, 1, 1, 1}};

}  // namespace

TEST_F(JpegFastPath, GreyPicturesGiveThePlainBytesAtEveryQualityAndSampling) {
    const Picture levels = grey_levels_picture(256, 288, 31);  // every level in a tile of its own, then noise
    const Picture odd = grey_levels_picture(61, 43, 32);       // part blocks and padding at both edges
    const auto levels_bgrx = to_bgrx_noisy(levels), odd_bgrx = to_bgrx_noisy(odd);
    for (int q = 1; q <= 100; ++q)
        for (const auto& f : kSamplings) {
            // 4:2:0 at every quality; the other samplings at every ninth.
            if (&f != &kSamplings[0] && q % 9 != 1 && q != 100) continue;
            Settings s;
            s.quality = q;
            std::copy(f, f + 6, s.factors);
            // The plain procedures themselves give colour planes of zeros for grey.
            const Sampled plain = encode_kept(Path::Plain, levels.view(), levels.width, levels.height, s);
            ASSERT_TRUE(all_zero(plain.coefficients[1]) && all_zero(plain.coefficients[2])) << "quality " << q;
            expect_same(levels.view(), levels.width, levels.height, s);
            expect_same(bgrx_view(levels, levels_bgrx), levels.width, levels.height, s);
            expect_same(odd.view(), odd.width, odd.height, s);
            expect_same(bgrx_view(odd, odd_bgrx), odd.width, odd.height, s);
            if (HasFatalFailure()) return;
        }
}

TEST_F(JpegFastPath, OneColouredPixelInAGreyPictureIsNotLost) {
    // One byte of one pixel changed by 128, at every place of a picture whose
    // rows end in part vectors and whose last strip is mostly padding: the
    // strip holding it must be computed, in every pixel format and sampling.
    // Even sizes take the colour planes in 2 x 2 boxes, odd ones resampled.
    for (const auto& size : {std::array<int, 2>{38, 18}, {37, 17}}) {
        const int w = size[0], h = size[1];
        const Picture grey = grey_levels_picture(w, h, 33);
        for (int at = 0; at < w * h * 3; ++at) {
            Picture p = grey;
            p.rgb[static_cast<std::size_t>(at)] ^= 0x80;
            const auto bgrx = to_bgrx_noisy(p);
            for (const auto& view : {p.view(), bgrx_view(p, bgrx)})
                for (int hv : {2, 1}) {
                    Settings s;
                    s.quality = 100;
                    s.factors[0] = s.factors[1] = hv;  // chrominance in its own plane, or sharing the luminance's
                    const auto plain = encode(Path::Plain, view, w, h, s);
                    for (Path path : fast_paths())
                        ASSERT_EQ(encode(path, view, w, h, s), plain)
                            << name(path) << ", " << w << " x " << h << ", byte " << at << ", factor " << hv;
                }
        }
    }
}

TEST_F(JpegFastPath, GreyStripsAreComputedWhereTheirColourWouldNotQuantizeToZero) {
    // Cr of a grey is not exactly 0 (Cb is): with multipliers this large it
    // quantizes to something, so only Cb may be written as zeros.
    const Picture p = grey_levels_picture(61, 43, 34);
    for (const auto& f : kSamplings) {
        Settings s;
        std::copy(f, f + 6, s.factors);
        const Sampled plain = encode_kept(Path::Plain, p.view(), p.width, p.height, s, 1e5f);
        ASSERT_FALSE(plain.file.empty());
        EXPECT_TRUE(all_zero(plain.coefficients[1]));
        ASSERT_FALSE(all_zero(plain.coefficients[2])) << "the multiplier leaves Cr of grey at zero";
        for (Path path : fast_paths()) {
            const Sampled fast = encode_kept(path, p.view(), p.width, p.height, s, 1e5f);
            EXPECT_EQ(fast.file, plain.file) << name(path) << ", factors " << f[0] << f[1];
            for (int c = 0; c < 3; ++c) EXPECT_EQ(fast.coefficients[c], plain.coefficients[c]) << name(path) << " component " << c;
        }
    }
}

TEST_F(JpegFastPath, LargeGreyPageWithColourBandsOnTwoThreads) {
    // Grey strips and coloured ones on both sides of the split between the
    // threads, and a kept encoder that meets the page after a colour photo.
    Picture page = jpeg_test::text_picture(1200, 900, 35);
    for (int y : {0, 447, 448, 449, 463, 899})
        for (int x = 0; x < page.width; x += 97) page.rgb[(std::size_t(y) * page.width + x) * 3 + 2] = 200;
    expect_same(page, Settings{});
    Settings all;
    std::fill(std::begin(all.factors), std::end(all.factors), 1);
    expect_same(page, all);

    const Picture photo = jpeg_test::smooth_picture(1200, 900, 36);
    for (Path path : fast_paths()) {
        bmptojpg::SetCodePath(path);
        bmptojpg kept;
        kept.SetThreads(2);
        ASSERT_EQ(kept.SampleHDC(photo.view(), photo.width, photo.height, 0, 0), 0);
        EXPECT_EQ(kept.SaveBytes(), encode(Path::Plain, photo.view(), photo.width, photo.height, Settings{}));
        ASSERT_EQ(kept.SampleHDC(page.view(), page.width, page.height, 0, 0), 0);
        EXPECT_EQ(kept.SaveBytes(), encode(Path::Plain, page.view(), page.width, page.height, Settings{})) << name(path);
    }
}

namespace {

// Bits written one at a time, most significant first, with a zero after every
// 0xFF byte and the last byte padded with ones: the scan data of a JPEG file.
struct BitByBit {
    std::vector<std::uint8_t> bytes;
    unsigned byte = 0;
    int held = 0;
    void put(std::uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) {
            byte = byte << 1 | ((value >> i) & 1u);
            if (++held == 8) {
                bytes.push_back(static_cast<std::uint8_t>(byte));
                if (byte == 0xFF) bytes.push_back(0);
                byte = 0;
                held = 0;
            }
        }
    }
    void finish() {
        if (held > 0) put((1u << (8 - held)) - 1, 8 - held);
    }
};

// A coefficient's size category and the extra bits that follow its symbol.
int magnitude_bits(int v) {
    int n = 0;
    for (int a = v < 0 ? -v : v; a != 0; a >>= 1) ++n;
    return n;
}
std::uint32_t extra_bits(int v, int n) { return static_cast<std::uint32_t>(v >= 0 ? v : v + (1 << n) - 1); }

}  // namespace

TEST_F(JpegFastPath, EntropyCoderWritesEveryMagnitudeAndRunAsTheStandardSays) {
#if !PAGIRO_SIMD
    GTEST_SKIP() << "built without the vector kernels";
#else
    // Blocks in zig-zag order: every size category 1 .. 15 of both signs at its
    // smallest and largest magnitude, runs of 15, 16, 31, 32 and 62 zeros, a
    // last coefficient at position 63 (no end of block), blocks of a DC alone,
    // and sparse random ones.
    std::vector<std::array<std::int16_t, 64>> blocks;
    std::array<std::int16_t, 64> b{};
    for (int i = 1; i < 64; ++i) {
        const int n = 1 + (i - 1) % 15;
        const int magnitude = (i / 15) % 2 == 0 ? 1 << (n - 1) : (1 << n) - 1;
        b[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 2 == 0 ? magnitude : -magnitude);
    }
    blocks.push_back(b);
    for (int last : {63, 16, 17, 32, 33, 1}) {
        b.fill(0);
        b[0] = static_cast<std::int16_t>(last * 7 - 200);
        b[static_cast<std::size_t>(last)] = static_cast<std::int16_t>(last % 2 == 0 ? 1000 : -3);
        blocks.push_back(b);
    }
    b.fill(0);
    b[0] = -1023;
    blocks.push_back(b);  // a DC alone
    // A magnitude of 32768 after 3 zeros: 16 extra bits after the code the plain
    // procedures give it, that of symbol 4 * 16; then 15 zeros and 32767.
    b.fill(0);
    b[4] = -32768;
    b[20] = 32767;
    blocks.push_back(b);
    // Every AC coefficient at 32768: with 16-bit codes, two of them are 64 bits.
    b.fill(-32768);
    b[0] = 5;
    blocks.push_back(b);
    std::mt19937 random(41);
    for (int k = 0; k < 200; ++k) {
        b.fill(0);
        const int count = static_cast<int>(random() % 20);
        for (int j = 0; j < count; ++j) {
            const int n = 1 + static_cast<int>(random() % 15);
            const int magnitude = (1 << (n - 1)) + static_cast<int>(random() % (1u << (n - 1)));
            b[1 + random() % 63] = static_cast<std::int16_t>(random() % 2 ? magnitude : -magnitude);
        }
        b[0] = static_cast<std::int16_t>(static_cast<int>(random() % 2047) - 1023);
        blocks.push_back(b);
    }

    // Codes of every length 1 .. 16 (the coder writes them as given); then codes
    // all 16 bits long, the longest a symbol and its extra bits can be.
    for (const bool longest : {false, true}) {
        bmptojpg_fast::HuffCodes dc{}, ac{};
        for (int s = 0; s < 256; ++s)
            for (bmptojpg_fast::HuffCodes* t : {&dc, &ac}) {
                const int length = longest ? 16 : 1 + (s * 7 + (t == &ac ? 3 : 0)) % 16;
                t->code[s] = static_cast<std::uint32_t>(s * 40503) & ((1u << length) - 1);
                t->size[s] = static_cast<std::uint8_t>(length);
                t->packed[s] = t->code[s] << 5 | static_cast<std::uint32_t>(length);
            }

        BitByBit expected;
        int predictor = 0;
        for (const auto& block : blocks) {
            const int diff = block[0] - predictor;
            predictor = block[0];
            const int n = magnitude_bits(diff);
            expected.put(dc.code[n], dc.size[n]);
            expected.put(extra_bits(diff, n), n);
            int run = 0;
            for (int i = 1; i < 64; ++i) {
                if (block[static_cast<std::size_t>(i)] == 0) {
                    ++run;
                    continue;
                }
                for (; run > 15; run -= 16) expected.put(ac.code[0xF0], ac.size[0xF0]);
                const int v = block[static_cast<std::size_t>(i)], m = magnitude_bits(v);
                expected.put(ac.code[run * 16 + m], ac.size[run * 16 + m]);
                expected.put(extra_bits(v, m), m);
                run = 0;
            }
            if (run > 0) expected.put(ac.code[0], ac.size[0]);
        }
        expected.finish();

        std::vector<std::int16_t> coefficients, dcs;
        std::vector<std::uint64_t> masks;
        for (const auto& block : blocks) {
            std::uint64_t mask = 0;
            for (int i = 0; i < 64; ++i)
                if (block[static_cast<std::size_t>(i)] != 0) mask |= std::uint64_t{1} << i;
            coefficients.insert(coefficients.end(), block.begin(), block.end());
            masks.push_back(mask);
            dcs.push_back(block[0]);
        }
        bmptojpg_fast::Scan scan{};
        scan.count = 1;
        scan.interleaved = false;
        scan.mcus_across = static_cast<std::int64_t>(blocks.size());
        scan.mcu_rows = 1;
        scan.member[0] = {coefficients.data(), masks.data(), dcs.data(), static_cast<std::int64_t>(coefficients.size()), 1, 1,
                          static_cast<std::int64_t>(blocks.size()), 1, &dc, &ac};

        std::vector<const bmptojpg_fast::Kernels*> kernels{&bmptojpg_fast::sse2_kernels()};
        if (fast_paths().size() > 1) kernels.push_back(&bmptojpg_fast::avx2_kernels());
        if (fast_paths().size() > 2) kernels.push_back(&bmptojpg_fast::avx512_kernels());
        for (std::size_t k = 0; k < kernels.size(); ++k) {
            std::vector<std::uint8_t> out(expected.bytes.size() + 64);
            bmptojpg_fast::BitSink sink{out.data(), 0, 0, 64};
            std::int32_t predictors[3] = {0, 0, 0};
            ASSERT_EQ(kernels[k]->encode_rows(scan, 0, 1, predictors, sink, true), 0);
            kernels[k]->flush(sink, true);
            out.resize(sink.pos);
            EXPECT_EQ(out, expected.bytes) << "kernels " << k << (longest ? ", 16-bit codes" : "");
            EXPECT_EQ(predictors[0], blocks.back()[0]);
        }
    }
#endif
}

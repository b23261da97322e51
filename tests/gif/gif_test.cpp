#include <gtest/gtest.h>

#include <gif_lib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gif/gif.h"
#include "platform/picture.h"
#include "platform/pump.h"
#include "platform/vb_error.h"

namespace fs = std::filesystem;
using pagiro::Picture;
using pagiro::PictureColor;
using pagiro::PictureFormat;

namespace {

struct Decoded {
    int width = 0, height = 0;
    std::vector<PictureColor> table;
    std::vector<std::uint8_t> indices;  // top row first
    int transparent = NO_TRANSPARENT_COLOR;
};

Decoded decode(const fs::path& file) {
    int err = 0;
    GifFileType* g = DGifOpenFileName(file.c_str(), &err);
    EXPECT_NE(g, nullptr) << "giflib open error " << err;
    Decoded d;
    if (!g) return d;
    EXPECT_EQ(DGifSlurp(g), GIF_OK) << "giflib error " << g->Error;
    EXPECT_EQ(g->ImageCount, 1);
    if (g->ImageCount == 1 && g->SColorMap) {
        d.width = g->SWidth;
        d.height = g->SHeight;
        EXPECT_EQ(g->SavedImages[0].ImageDesc.Width, d.width);
        EXPECT_EQ(g->SavedImages[0].ImageDesc.Height, d.height);
        for (int i = 0; i < g->SColorMap->ColorCount; ++i) {
            const GifColorType& c = g->SColorMap->Colors[i];
            d.table.push_back({c.Red, c.Green, c.Blue});
        }
        d.indices.assign(g->SavedImages[0].RasterBits, g->SavedImages[0].RasterBits + d.width * d.height);
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(g, 0, &gcb) == GIF_OK) d.transparent = gcb.TransparentColor;
    }
    DGifCloseFile(g, &err);
    return d;
}

std::vector<std::uint8_t> read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The image data: the sub-blocks' sizes and the 9-bit codes they carry.
struct Stream {
    std::vector<int> block_sizes;
    std::vector<int> codes;
};

Stream parse_stream(const std::vector<std::uint8_t>& f) {
    Stream s;
    std::size_t pos = 13 + 768;
    if (f.at(pos) == 0x21) pos += 8;
    EXPECT_EQ(f.at(pos), 0x2C);
    pos += 10;
    EXPECT_EQ(f.at(pos), 8);
    ++pos;
    std::vector<std::uint8_t> data;
    while (f.at(pos) != 0) {
        const int n = f[pos];
        s.block_sizes.push_back(n);
        data.insert(data.end(), f.begin() + pos + 1, f.begin() + pos + 1 + n);
        pos += 1 + n;
    }
    EXPECT_EQ(pos + 2, f.size());
    EXPECT_EQ(f.at(pos + 1), 0x3B);
    for (std::size_t bit = 0; bit + 9 <= data.size() * 8; bit += 9) {
        int code = 0;
        for (int i = 0; i < 9; ++i) code |= ((data[(bit + i) / 8] >> ((bit + i) % 8)) & 1) << i;
        s.codes.push_back(code);
    }
    return s;
}

// The row coder written the plain way: keys are texts of three-digit indices.
std::vector<int> reference_codes(const std::vector<std::uint8_t>& indices, int width, int height) {
    std::vector<int> out;
    auto pixel_key = [](int v) {
        std::string s = "00" + std::to_string(v);
        return s.substr(s.size() - 3);
    };
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = indices.data() + std::size_t(y) * width;
        std::map<std::string, int> dict;
        out.push_back(256);
        std::string key;
        int code = row[0];
        for (int x = 1; x < width; ++x) {
            const std::string k = pixel_key(row[x]);
            key += k;
            if (auto it = dict.find(key); it != dict.end()) {
                code = it->second;
                continue;
            }
            const int n = static_cast<int>(dict.size());
            dict[key] = n + 258;
            out.push_back(code);
            if (n == 253) {
                dict.clear();
                out.push_back(256);
            }
            key = k;
            code = row[x];
        }
        out.push_back(code);
    }
    out.push_back(257);
    return out;
}

Picture indexed(int w, int h, const std::vector<std::uint8_t>& pixels) {
    Picture p = Picture::make(w, h, PictureFormat::Indexed8);
    for (int c = 0; c < 256; ++c) p.palette[c] = {std::uint8_t(c), std::uint8_t(255 - c), std::uint8_t(c * 7)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.row(y)[x] = pixels[std::size_t(y) * w + x];
    return p;
}

std::vector<std::uint8_t> random_pixels(int w, int h, int colours, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(std::size_t(w) * h);
    for (auto& p : v) p = static_cast<std::uint8_t>(rng() % colours);
    return v;
}

class GifWriter : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pagiro_gif_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
    GIF gif;
};

TEST_F(GifWriter, WritesTheExactLayoutAndCodes) {
    Picture p = indexed(4, 1, {1, 1, 1, 1});
    p.palette[3] = p.palette[1];  // the transparent colour twice: the lower index wins
    const fs::path f = dir / "a.gif";
    ASSERT_TRUE(gif.SaveGIF(p, f, nullptr, true, p.palette[1].red + 256 * p.palette[1].green + 65536 * p.palette[1].blue));
    const auto b = read_bytes(f);
    ASSERT_EQ(b.size(), 13u + 768 + 8 + 10 + 1 + 7 + 2);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
    const std::vector<std::uint8_t> screen{4, 0, 1, 0, 0xF7, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 6, b.begin() + 13), screen);
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(b[13 + 3 * c], p.palette[c].red);
        EXPECT_EQ(b[13 + 3 * c + 2], p.palette[c].blue);
    }
    const std::vector<std::uint8_t> rest{0x21, 0xF9, 4, 9, 0, 0, 1, 0,  // transparency: index 1
                                         0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 7, 8,
                                         // codes 256, 1, 1, 259, 257 packed least significant bit first
                                         6, 0x00, 0x03, 0x04, 0x18, 0x18, 0x10, 0, 0x3B};
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + 13 + 768, b.end()), rest);
    EXPECT_EQ(decode(f).transparent, 1);
}

TEST_F(GifWriter, TransparencyOnlyWithUseTrans) {
    const Picture p = indexed(5, 3, random_pixels(5, 3, 256, 1));
    const fs::path f = dir / "t.gif";
    ASSERT_TRUE(gif.SaveGIF(p, f, nullptr, false, 0x123456));
    auto b = read_bytes(f);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF87a");
    EXPECT_EQ(b[13 + 768], 0x2C);
    EXPECT_EQ(decode(f).transparent, NO_TRANSPARENT_COLOR);
    ASSERT_TRUE(gif.SaveGIF(p, f, nullptr, true, 0x7FFFFFFF));  // a colour not in the table: index 0
    b = read_bytes(f);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF89a");
    EXPECT_EQ(decode(f).transparent, 0);
}

TEST_F(GifWriter, GiflibReadsBackIndicesAndTable) {
    struct Case { int w, h, colours; };
    const Case cases[] = {{1, 1, 2}, {1, 23, 256}, {2, 10, 3}, {7, 9, 256}, {64, 11, 4},
                          {300, 20, 256}, {1000, 3, 17}, {517, 31, 256}, {256, 5, 1}};
    unsigned seed = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const auto px = random_pixels(c.w, c.h, c.colours, ++seed);
        const Picture p = indexed(c.w, c.h, px);
        const fs::path f = dir / "r.gif";
        ASSERT_TRUE(gif.SaveGIF(p, f));
        const Decoded d = decode(f);
        EXPECT_EQ(d.width, c.w);
        EXPECT_EQ(d.height, c.h);
        EXPECT_EQ(d.indices, px);
        ASSERT_EQ(d.table.size(), 256u);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(d.table[i], p.palette[i]);
        const Stream s = parse_stream(read_bytes(f));
        EXPECT_EQ(s.codes, reference_codes(px, c.w, c.h));
        for (std::size_t i = 0; i + 1 < s.block_sizes.size(); ++i) EXPECT_EQ(s.block_sizes[i], 255);
        EXPECT_GE(s.block_sizes.back(), 1);
    }
}

TEST_F(GifWriter, FullDictionaryClearsInMidRow) {
    // 254 misses fill the dictionary; the row goes on in a fresh one whose first
    // entry (254 then 5) is met again and written as 258.
    std::vector<std::uint8_t> row;
    for (int i = 0; i <= 254; ++i) row.push_back(static_cast<std::uint8_t>(i));
    row.insert(row.end(), {5, 254, 5, 6});
    const int w = static_cast<int>(row.size());
    std::vector<std::uint8_t> px = row;
    px.insert(px.end(), row.begin(), row.end());
    const fs::path f = dir / "mid.gif";
    ASSERT_TRUE(gif.SaveGIF(indexed(w, 2, px), f));

    std::vector<int> one_row{256};
    for (int i = 0; i <= 253; ++i) one_row.push_back(i);
    one_row.insert(one_row.end(), {256, 254, 5, 258, 6});
    std::vector<int> expected = one_row;
    expected.insert(expected.end(), one_row.begin(), one_row.end());
    expected.push_back(257);
    EXPECT_EQ(parse_stream(read_bytes(f)).codes, expected);
    EXPECT_EQ(decode(f).indices, px);
}

TEST_F(GifWriter, ColourPicturesUseTheFixedPalette) {
    const int levels[] = {0, 64, 128, 192, 255};
    const std::uint8_t probes[] = {0, 31, 32, 33, 64, 95, 96, 97, 160, 200, 223, 224, 240, 255};
    for (PictureFormat fmt : {PictureFormat::Bgrx32, PictureFormat::Rgb24}) {
        const int n = sizeof probes;
        Picture p = Picture::make(n * n, n, fmt);
        for (int b = 0; b < n; ++b)
            for (int g = 0; g < n; ++g)
                for (int r = 0; r < n; ++r) p.set_color(g * n + r, b, {probes[r], probes[g], probes[b]});
        const fs::path f = dir / "c.gif";
        ASSERT_TRUE(gif.SaveGIF(p, f, nullptr, true, 64 + 256 * 128 + 65536 * 255));
        const Decoded d = decode(f);
        ASSERT_EQ(d.table.size(), 256u);
        for (int i = 0; i < 256; ++i) {
            const PictureColor want = i < 125 ? PictureColor{std::uint8_t(levels[i % 5]), std::uint8_t(levels[i / 5 % 5]),
                                                             std::uint8_t(levels[i / 25])}
                                              : PictureColor{};
            EXPECT_EQ(d.table[i], want) << i;
        }
        EXPECT_EQ(d.transparent, 1 + 5 * 2 + 25 * 4);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const PictureColor c = p.color_at(x, y);
                int best = 0;
                long best_d = -1;
                for (int i = 0; i < 256; ++i) {
                    const long dr = c.red - d.table[i].red, dg = c.green - d.table[i].green, db = c.blue - d.table[i].blue;
                    const long dist = dr * dr + dg * dg + db * db;
                    if (best_d < 0 || dist < best_d) best = i, best_d = dist;
                }
                ASSERT_EQ(d.indices[std::size_t(y) * p.width + x], best) << x << "," << y;
            }
    }
}

TEST_F(GifWriter, PreparedSourceGivesTheColours) {
    Picture pic = Picture::make(4, 3, PictureFormat::Bgrx32);  // its own pixels stay black
    Picture src = Picture::make(3, 2, PictureFormat::Rgb24);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) src.set_color(x, y, {255, 255, 255});
    const fs::path f = dir / "dc.gif";
    ASSERT_TRUE(gif.SaveGIF(pic, f, &src));
    const Decoded d = decode(f);
    EXPECT_EQ(d.width, 4);
    EXPECT_EQ(d.indices, (std::vector<std::uint8_t>{124, 124, 124, 0, 124, 124, 124, 0, 0, 0, 0, 0}));
}

TEST_F(GifWriter, ProgressAfterEveryTenthRowThenPump) {
    static int pumps;
    pumps = 0;
    const auto old = pagiro::set_pump_handler([] { ++pumps; });
    std::vector<int> seen;
    gif.Progress = [&](std::int16_t pc) { seen.push_back(pc); };
    const std::map<int, std::vector<int>> expected{
        {9, {}}, {10, {100}}, {25, {40, 80}}, {35, {29, 57, 86}}, {80, {12, 25, 38, 50, 62, 75, 88, 100}}};
    for (const auto& [h, want] : expected) {
        seen.clear();
        pumps = 0;
        ASSERT_TRUE(gif.SaveGIF(indexed(3, h, random_pixels(3, h, 5, h)), dir / "p.gif"));
        EXPECT_EQ(seen, want) << h;
        EXPECT_EQ(pumps, static_cast<int>(want.size())) << h;
    }
    pagiro::set_pump_handler(old);
}

TEST_F(GifWriter, ASaveDuringASaveIsRefused) {
    static GIF* outer;
    static std::vector<int> nested_results;
    outer = &gif;
    nested_results.clear();
    const Picture p = indexed(4, 20, random_pixels(4, 20, 4, 3));
    const Picture small = indexed(1, 1, {0});
    gif.Progress = [&](std::int16_t) {
        EXPECT_TRUE(gif.IsBusy());
        nested_results.push_back(gif.SaveGIF(small, dir / "nested.gif"));
    };
    const auto old = pagiro::set_pump_handler(
        [] { nested_results.push_back(outer->SaveGIF(Picture::make(1, 1, PictureFormat::Indexed8), "/nonexistent/x.gif")); });
    EXPECT_TRUE(gif.SaveGIF(p, dir / "outer.gif"));
    pagiro::set_pump_handler(old);
    EXPECT_EQ(nested_results, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_FALSE(fs::exists(dir / "nested.gif"));
    EXPECT_EQ(decode(dir / "outer.gif").indices, random_pixels(4, 20, 4, 3));
    EXPECT_FALSE(gif.IsBusy());
    gif.Progress = nullptr;
    EXPECT_TRUE(gif.SaveGIF(small, dir / "after.gif"));
}

TEST_F(GifWriter, ReplacesALongerFileWhole) {
    const fs::path f = dir / "old.gif";
    {
        std::ofstream out(f, std::ios::binary);
        out << std::string(100000, 'x');
    }
    const auto px = random_pixels(6, 4, 256, 5);
    ASSERT_TRUE(gif.SaveGIF(indexed(6, 4, px), f));
    EXPECT_LT(fs::file_size(f), 1000u);
    EXPECT_EQ(decode(f).indices, px);
}

TEST_F(GifWriter, ErrorsBeforeWritingLeaveTheObjectUsable) {
    const auto expect_error = [&](const Picture& p, const fs::path& f, int number) {
        try {
            gif.SaveGIF(p, f);
            ADD_FAILURE() << "no error for " << f;
        } catch (const VbError& e) {
            EXPECT_EQ(e.number(), number) << e.what();
        }
        EXPECT_FALSE(gif.IsBusy());
    };
    expect_error(Picture::make(32768, 1, PictureFormat::Indexed8), dir / "wide.gif", 6);
    expect_error(Picture::make(1, 32768, PictureFormat::Indexed8), dir / "tall.gif", 6);
    EXPECT_FALSE(fs::exists(dir / "wide.gif"));
    EXPECT_FALSE(fs::exists(dir / "tall.gif"));

    const Picture ok = indexed(2, 2, {1, 2, 3, 4});
    expect_error(ok, dir / "missing" / "x.gif", 76);
    fs::create_directory(dir / "folder");
    expect_error(ok, dir / "folder", 75);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));

    EXPECT_TRUE(gif.SaveGIF(ok, dir / "ok.gif"));
    EXPECT_EQ(decode(dir / "ok.gif").indices, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(GifWriter, AFailedWriteLeavesNoHalfFile) {
    const fs::path f = dir / "big.gif";
    const auto px = random_pixels(400, 400, 256, 8);
    const Picture p = indexed(400, 400, px);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int number = 0;
    try {
        gif.SaveGIF(p, f);
    } catch (const VbError& e) {
        number = e.number();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(number, 75);
    EXPECT_FALSE(fs::exists(f));
    EXPECT_FALSE(gif.IsBusy());

    // A progress handler that gives up takes the partial file with it too.
    gif.Progress = [](std::int16_t pc) {
        if (pc >= 50) throw std::runtime_error("stop");
    };
    EXPECT_THROW(gif.SaveGIF(p, f), std::runtime_error);
    EXPECT_FALSE(fs::exists(f));
    gif.Progress = nullptr;
    ASSERT_TRUE(gif.SaveGIF(p, f));
    EXPECT_EQ(decode(f).indices, px);
}

}  // namespace

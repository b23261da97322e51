// Writes any picture with the GIF writer: indexed or true colour, any size, row
// stride and short buffer, an optional separate source of colours, any transparency
// setting. giflib must read back exactly the indices, colour table and transparent
// index the picture calls for.
#include <gif_lib.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "fuzz_input.h"
#include "gif/gif.h"
#include "platform/picture.h"
#include "platform/vb_error.h"

namespace {

using pagiro::Picture;
using pagiro::PictureColor;
using pagiro::PictureFormat;

const std::uint8_t kLevels[5] = {0, 64, 128, 192, 255};

// Nearest of the five levels; on a tie the lower one.
int level(int v) {
    int best = 0;
    for (int l = 1; l < 5; ++l)
        if (std::abs(v - kLevels[l]) < std::abs(v - kLevels[best])) best = l;
    return best;
}

// A picture of the given format and size whose bytes repeat `fill`. `pad` widens
// each row; `cut` shortens the buffer, so the last rows may be incomplete.
Picture make_picture(fuzz::Input& in, int width, int height, const std::uint8_t* fill, std::size_t fill_size) {
    Picture p;
    p.width = width;
    p.height = height;
    p.format = static_cast<PictureFormat>(in.u8() % 3);
    const int pad = in.u8() % 8;
    const std::ptrdiff_t min_stride = std::ptrdiff_t(std::max(width, 0)) * p.bytes_per_pixel();
    // Now and then a stride too short for a row, which makes every row unreadable.
    p.stride = in.u8() == 0xA5 ? min_stride / 2 : min_stride + pad;
    std::size_t bytes = static_cast<std::size_t>(p.stride) * static_cast<std::size_t>(std::max(height, 0));
    bytes -= std::min<std::size_t>(bytes, in.u8() % 4 == 0 ? in.u8() * 3u : 0u);
    p.bits.resize(bytes);
    for (std::size_t k = 0; k < bytes; ++k) p.bits[k] = fill_size ? fill[(k * 7 + k / 13) % fill_size] : 0;
    for (int c = 0; c < 256; ++c) {
        const std::size_t k = static_cast<std::size_t>(c) * 3;
        if (fill_size) p.palette[c] = {fill[k % fill_size], fill[(k + 1) % fill_size], fill[(k + 2) % fill_size]};
    }
    return p;
}

// What a pixel should become, from the picture's bytes alone.
bool whole_row(const Picture& p, int y) {
    const std::ptrdiff_t row_bytes = std::ptrdiff_t(p.width) * p.bytes_per_pixel();
    return y < p.height && p.stride >= row_bytes &&
           static_cast<std::size_t>(p.stride * y + row_bytes) <= p.bits.size();
}

PictureColor colour(const Picture& p, int x, int y) {
    const std::uint8_t* b = p.bits.data() + p.stride * y + std::ptrdiff_t(x) * p.bytes_per_pixel();
    switch (p.format) {
        case PictureFormat::Indexed8: return p.palette[b[0]];
        case PictureFormat::Rgb24: return {b[0], b[1], b[2]};
        case PictureFormat::Bgrx32: return {b[2], b[1], b[0]};
    }
    return {};
}

struct Decoded {
    int width = -1, height = -1;
    std::vector<PictureColor> table;
    std::vector<std::uint8_t> indices;
    int transparent = NO_TRANSPARENT_COLOR;
    bool ok = false;
};

Decoded decode(const std::string& path) {
    Decoded d;
    int err = 0;
    GifFileType* g = DGifOpenFileName(path.c_str(), &err);
    if (!g) return d;
    if (DGifSlurp(g) == GIF_OK && g->ImageCount == 1 && g->SColorMap) {
        d.ok = true;
        d.width = g->SWidth;
        d.height = g->SHeight;
        const SavedImage& im = g->SavedImages[0];
        d.ok = im.ImageDesc.Width == d.width && im.ImageDesc.Height == d.height && im.ImageDesc.Left == 0 &&
               im.ImageDesc.Top == 0 && !im.ImageDesc.ColorMap && im.RasterBits;
        for (int i = 0; i < g->SColorMap->ColorCount; ++i)
            d.table.push_back({g->SColorMap->Colors[i].Red, g->SColorMap->Colors[i].Green, g->SColorMap->Colors[i].Blue});
        if (d.ok) d.indices.assign(im.RasterBits, im.RasterBits + std::size_t(d.width) * std::size_t(d.height));
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(g, 0, &gcb) == GIF_OK) d.transparent = gcb.TransparentColor;
    }
    DGifCloseFile(g, &err);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    // Any shape, but the area grows with the input, so typical runs stay small.
    const std::size_t budget = 256 + 4 * size;
    auto side = [&](std::uint16_t raw, std::size_t other) {
        int s = raw % 32768;
        if (other && std::size_t(s) * other > budget) s = static_cast<int>(budget / other);
        return s;
    };
    const int width = side(in.u16(), 1);
    const int height = side(in.u16(), std::max(width, 1));
    const bool negative = in.u8() == 0x5A;
    const bool use_trans = in.flag();
    const std::int32_t trans_colour = static_cast<std::int32_t>(in.u32() % 3 == 0 ? in.u32() : in.u32() & 0xFFFFFF);
    const bool separate_source = in.u8() % 4 == 0;
    const int src_width = separate_source ? side(in.u16(), 1) : 0;
    const int src_height = separate_source ? side(in.u16(), std::max(src_width, 1)) : 0;
    const std::uint8_t* fill = in.rest();
    const std::size_t fill_size = in.rest_size();
    const Picture pic = make_picture(in, negative ? -width - 1 : width, height, fill, fill_size);
    const Picture source = make_picture(in, src_width, src_height, fill, fill_size);
    const std::string path = fuzz::scratch_path("gif") + ".gif";

    GIF gif;
    std::vector<int> progress;
    gif.Progress = [&](std::int16_t percents) { progress.push_back(percents); };
    try {
        FUZZ_CHECK(gif.SaveGIF(pic, path, separate_source ? &source : nullptr, use_trans, trans_colour));
    } catch (const VbError& e) {
        FUZZ_CHECK(negative && e.number() == 5);
        FUZZ_CHECK(!std::filesystem::exists(path));
        return 0;
    }
    FUZZ_CHECK(!negative);
    FUZZ_CHECK(!gif.IsBusy());
    FUZZ_CHECK(std::is_sorted(progress.begin(), progress.end()));
    FUZZ_CHECK(progress.size() == static_cast<std::size_t>(height / 10));
    if (!progress.empty()) FUZZ_CHECK(progress.front() >= 0 && progress.back() <= 100);

    if (width == 0 || height == 0) {
        std::filesystem::remove(path);
        return 0;
    }
    const Decoded d = decode(path);
    std::filesystem::remove(path);
    FUZZ_CHECK(d.ok);
    FUZZ_CHECK(d.width == width && d.height == height);
    FUZZ_CHECK(d.table.size() == 256);

    std::vector<PictureColor> table(256);
    if (pic.format == PictureFormat::Indexed8) {
        std::copy(pic.palette.begin(), pic.palette.end(), table.begin());
    } else {
        for (int i = 0; i < 125; ++i) table[i] = {kLevels[i % 5], kLevels[i / 5 % 5], kLevels[i / 25]};
    }
    FUZZ_CHECK(d.table == table);

    const Picture& from = separate_source ? source : pic;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int expected = 0;
            if (pic.format == PictureFormat::Indexed8) {
                if (whole_row(pic, y)) expected = pic.bits[std::size_t(pic.stride * y + x)];
            } else if (x < from.width && whole_row(from, y)) {
                const PictureColor c = colour(from, x, y);
                expected = 25 * level(c.blue) + 5 * level(c.green) + level(c.red);
            }
            FUZZ_CHECK(d.indices[std::size_t(y) * std::size_t(width) + std::size_t(x)] == expected);
        }

    if (use_trans) {
        int first = 0;
        for (int i = 0; i < 256; ++i)
            if (table[i].red + 256 * table[i].green + 65536 * table[i].blue == trans_colour) {
                first = i;
                break;
            }
        FUZZ_CHECK(d.transparent == first);
    } else {
        FUZZ_CHECK(d.transparent == NO_TRANSPARENT_COLOR);
    }
    return 0;
}

#pragma once
// A picture held in memory: what a bitmap handle stood for. Either 8-bit indexed
// with its own colour table, or true colour (24 or 32 bits a pixel). Rows run top
// first; each row takes `stride` bytes. Standard library only, so the writers can
// use it without the window's toolkit.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/pixel_view.h"

namespace pagiro {

struct PictureColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const PictureColor&, const PictureColor&) = default;
};

enum class PictureFormat {
    Indexed8,  // 1 byte a pixel: an index into `palette`
    Rgb24,     // 3 bytes a pixel: red, green, blue
    Bgrx32,    // 4 bytes a pixel: blue, green, red, unused
};

struct Picture {
    int width = 0;
    int height = 0;
    PictureFormat format = PictureFormat::Bgrx32;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> bits;
    std::array<PictureColor, 256> palette{};  // used by Indexed8 only

    // A zero-filled picture whose rows are padded to a multiple of 4 bytes.
    static Picture make(int width, int height, PictureFormat format) {
        Picture p;
        p.width = width;
        p.height = height;
        p.format = format;
        const std::ptrdiff_t w = width > 0 ? width : 0;
        p.stride = (w * p.bytes_per_pixel() + 3) / 4 * 4;
        p.bits.assign(static_cast<std::size_t>(p.stride * (height > 0 ? height : 0)), 0);
        return p;
    }

    int bits_per_pixel() const { return bytes_per_pixel() * 8; }
    int bytes_per_pixel() const {
        switch (format) {
            case PictureFormat::Indexed8: return 1;
            case PictureFormat::Rgb24: return 3;
            case PictureFormat::Bgrx32: return 4;
        }
        return 4;
    }

    // The bytes of row y (0 = top), or nullptr when the buffer does not hold a whole row.
    const std::uint8_t* row(int y) const {
        if (y < 0 || y >= height || width <= 0 || stride < std::ptrdiff_t(width) * bytes_per_pixel())
            return nullptr;
        const std::size_t end = std::size_t(stride) * std::size_t(y) + std::size_t(width) * bytes_per_pixel();
        if (end > bits.size()) return nullptr;
        return bits.data() + stride * y;
    }
    std::uint8_t* row(int y) { return const_cast<std::uint8_t*>(std::as_const(*this).row(y)); }

    // The colour of one pixel (black outside the picture).
    PictureColor color_at(int x, int y) const {
        const std::uint8_t* r = (x >= 0 && x < width) ? row(y) : nullptr;
        if (!r) return {};
        switch (format) {
            case PictureFormat::Indexed8: return palette[r[x]];
            case PictureFormat::Rgb24: return {r[3 * x], r[3 * x + 1], r[3 * x + 2]};
            case PictureFormat::Bgrx32: return {r[4 * x + 2], r[4 * x + 1], r[4 * x]};
        }
        return {};
    }

    void set_color(int x, int y, PictureColor c) {
        std::uint8_t* r = (x >= 0 && x < width) ? row(y) : nullptr;
        if (!r) return;
        switch (format) {
            case PictureFormat::Indexed8: break;
            case PictureFormat::Rgb24: r[3 * x] = c.red; r[3 * x + 1] = c.green; r[3 * x + 2] = c.blue; break;
            case PictureFormat::Bgrx32: r[4 * x] = c.blue; r[4 * x + 1] = c.green; r[4 * x + 2] = c.red; r[4 * x + 3] = 0; break;
        }
    }

    // A view for code that samples true-colour pixels (empty for an indexed picture).
    PixelView view() const {
        if (format == PictureFormat::Indexed8 || !row(height - 1)) return {};
        return {bits.data(), width, height, stride,
                format == PictureFormat::Rgb24 ? PixelFormat::Rgb24 : PixelFormat::Bgrx32};
    }
};

}  // namespace pagiro

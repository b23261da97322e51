#pragma once
// A read-only view of a picture's pixels, without a copy. This is what the JPEG
// encoder samples in place of a device context. Standard library only.
#include <cstddef>
#include <cstdint>

namespace pagiro {

enum class PixelFormat {
    Bgrx32,  // 4 bytes a pixel: blue, green, red, unused (a 32-bit 0xXXRRGGBB word, little-endian)
    Rgb24,   // 3 bytes a pixel: red, green, blue
};

struct PixelView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // bytes from one row to the next, top row first
    PixelFormat format = PixelFormat::Bgrx32;

    bool empty() const { return data == nullptr || width <= 0 || height <= 0; }
};

// A read-only view of an 8-bit grey picture, one byte a pixel, 0 black to 255 white:
// what a typeset page is drawn into before it is packed for a 1- or 2-bit screen.
struct GreyView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // bytes from one row to the next, top row first

    bool empty() const { return data == nullptr || width <= 0 || height <= 0; }
    std::uint8_t at(int x, int y) const { return data[y * stride + x]; }
};

}  // namespace pagiro

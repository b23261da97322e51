#pragma once
// Pages for Xteink e-ink readers: an 8-bit grey page packed into the bitmaps their
// books hold.
//
// XTG, 1 bit a pixel: rows top to bottom, 8 pixels a byte with the leftmost in the
// most significant bit; a set bit is white.
// XTH, 2 bits a pixel, for the four-grey screen: two bit planes, one after the other.
// Each plane runs through the columns from right to left, each column top to bottom,
// 8 vertical pixels a byte with the topmost in the most significant bit. A pixel's
// code is (bit of the first plane << 1) | bit of the second, and the codes are not in
// order of brightness: 0 white, 1 dark grey, 2 light grey, 3 black.
#include <cstddef>
#include <cstdint>

#include "platform/pixel_view.h"

namespace pagiro {

// Grey values below this are black on a 1-bit page. Set well above the middle: the
// strokes of small Chinese characters are drawn mostly in anti-aliased greys, and a
// middle threshold breaks them up (tried on 12- and 22-pixel text: at 128 a 12-pixel
// line is hard to read, at 192 it reads and 22-pixel text is barely heavier).
inline constexpr std::uint8_t xtg_black_below = 192;

// The four greys of a 2-bit page, from black to white, as 8-bit values.
inline constexpr std::uint8_t xth_greys[4] = {0, 85, 170, 255};

std::size_t xtg_bitmap_size(int width, int height);
std::size_t xth_bitmap_size(int width, int height);

// The code of the grey nearest to `grey` on a 2-bit page.
std::uint8_t xth_code(std::uint8_t grey);

// The grey a reader shows for `grey` once the page is packed: white or black on a
// 1-bit page, the nearest of the four greys on a 2-bit one. The preview shows a
// book's page through it, as the book will hold it.
std::uint8_t xtg_shown(std::uint8_t grey);
std::uint8_t xth_shown(std::uint8_t grey);

// Pack `page` into `out`, which holds the bitmap's size; every byte is written.
void pack_xtg(const GreyView& page, std::uint8_t* out);
void pack_xth(const GreyView& page, std::uint8_t* out);

}  // namespace pagiro

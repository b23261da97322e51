#pragma once
// Scaling a rectangle of a picture to another size for the JPEG encoder's
// sampling. Area averaging (a box filter) stands in for a halftone stretch; the
// nearest pixel stands in for a colour-on-colour stretch. Pixels of the rectangle
// outside the view read as black. The result is 8-bit red, green, blue per pixel.
// Standard library only.
#include <cstddef>
#include <cstdint>

#include "pixel_view.h"

namespace pagiro {

// One source pixel as red, green, blue; black outside the view.
void read_rgb(const PixelView& view, std::int64_t x, std::int64_t y, std::uint8_t rgb[3]);

// Averages the src_w x src_h rectangle at (src_left, src_top) down to dst_w x dst_h,
// each destination pixel the mean of the source area it covers (partly covered
// pixels by their share), rounded to the nearest. Returns false, writing nothing,
// when it cannot: an empty size, a destination larger than the source in either
// direction (area averaging only shrinks), or a source too large for its sums.
bool resample_area(const PixelView& src, std::int64_t src_left, std::int64_t src_top, int src_w, int src_h,
                   std::uint8_t* dst, std::ptrdiff_t dst_stride, int dst_w, int dst_h);

// Takes for each destination pixel the source pixel under its centre. Does
// nothing for an empty size.
void resample_nearest(const PixelView& src, std::int64_t src_left, std::int64_t src_top, int src_w, int src_h,
                      std::uint8_t* dst, std::ptrdiff_t dst_stride, int dst_w, int dst_h);

}  // namespace pagiro

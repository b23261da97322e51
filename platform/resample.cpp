#include "resample.h"

#include <algorithm>
#include <vector>

namespace pagiro {

void read_rgb(const PixelView& view, std::int64_t x, std::int64_t y, std::uint8_t rgb[3]) {
    if (view.empty() || x < 0 || y < 0 || x >= view.width || y >= view.height) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    const std::uint8_t* row = view.data + static_cast<std::ptrdiff_t>(y) * view.stride;
    if (view.format == PixelFormat::Bgrx32) {
        const std::uint8_t* p = row + x * 4;
        rgb[0] = p[2];
        rgb[1] = p[1];
        rgb[2] = p[0];
    } else {
        const std::uint8_t* p = row + x * 3;
        rgb[0] = p[0];
        rgb[1] = p[1];
        rgb[2] = p[2];
    }
}

namespace {

// Overlap weights of one axis. In units where a source pixel is dst_n long and a
// destination pixel src_n long, destination pixel d covers [d * src_n, (d + 1) * src_n).
struct Span {
    int first;                         // first source index
    std::vector<std::uint64_t> weight;  // weight of source index first + k
};

std::vector<Span> spans(int src_n, int dst_n) {
    std::vector<Span> out(static_cast<std::size_t>(dst_n));
    for (int d = 0; d < dst_n; ++d) {
        const std::uint64_t lo = std::uint64_t(d) * std::uint64_t(src_n);
        const std::uint64_t hi = lo + std::uint64_t(src_n);
        const std::uint64_t first = lo / std::uint64_t(dst_n);
        const std::uint64_t last = (hi - 1) / std::uint64_t(dst_n);
        Span& s = out[static_cast<std::size_t>(d)];
        s.first = static_cast<int>(first);
        for (std::uint64_t i = first; i <= last; ++i) {
            const std::uint64_t a = std::max(lo, i * std::uint64_t(dst_n));
            const std::uint64_t b = std::min(hi, (i + 1) * std::uint64_t(dst_n));
            s.weight.push_back(b - a);
        }
    }
    return out;
}

}  // namespace

bool resample_area(const PixelView& src, std::int64_t src_left, std::int64_t src_top, int src_w, int src_h,
                   std::uint8_t* dst, std::ptrdiff_t dst_stride, int dst_w, int dst_h) {
    if (src_w < 1 || src_h < 1 || dst_w < 1 || dst_h < 1) return false;
    if (dst_w > src_w || dst_h > src_h) return false;
    const std::vector<Span> xs = spans(src_w, dst_w);
    const std::vector<Span> ys = spans(src_h, dst_h);
    // A destination pixel's weights add up to src_w * src_h; its sums of 8-bit
    // values must fit in 64 bits.
    const std::uint64_t total = std::uint64_t(src_w) * std::uint64_t(src_h);
    if (total > UINT64_MAX / 256) return false;
    std::vector<std::uint64_t> row_sum(static_cast<std::size_t>(dst_w) * 3);
    std::vector<std::uint64_t> acc(static_cast<std::size_t>(dst_w) * 3);
    std::uint8_t rgb[3];
    for (int dy = 0; dy < dst_h; ++dy) {
        std::fill(acc.begin(), acc.end(), 0);
        const Span& sy = ys[static_cast<std::size_t>(dy)];
        for (std::size_t ky = 0; ky < sy.weight.size(); ++ky) {
            const std::int64_t y = src_top + sy.first + static_cast<std::int64_t>(ky);
            for (int dx = 0; dx < dst_w; ++dx) {
                const Span& sx = xs[static_cast<std::size_t>(dx)];
                std::uint64_t r = 0, g = 0, b = 0;
                for (std::size_t kx = 0; kx < sx.weight.size(); ++kx) {
                    read_rgb(src, src_left + sx.first + static_cast<std::int64_t>(kx), y, rgb);
                    r += rgb[0] * sx.weight[kx];
                    g += rgb[1] * sx.weight[kx];
                    b += rgb[2] * sx.weight[kx];
                }
                row_sum[std::size_t(dx) * 3] = r;
                row_sum[std::size_t(dx) * 3 + 1] = g;
                row_sum[std::size_t(dx) * 3 + 2] = b;
            }
            for (std::size_t i = 0; i < row_sum.size(); ++i)
                acc[i] += row_sum[i] * sy.weight[ky];
        }
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(dy) * dst_stride;
        for (std::size_t i = 0; i < acc.size(); ++i)
            out[i] = static_cast<std::uint8_t>((acc[i] + total / 2) / total);
    }
    return true;
}

void resample_nearest(const PixelView& src, std::int64_t src_left, std::int64_t src_top, int src_w, int src_h,
                      std::uint8_t* dst, std::ptrdiff_t dst_stride, int dst_w, int dst_h) {
    if (src_w < 1 || src_h < 1 || dst_w < 1 || dst_h < 1) return;
    for (int dy = 0; dy < dst_h; ++dy) {
        const std::int64_t sy = (2 * std::int64_t(dy) + 1) * src_h / (2 * std::int64_t(dst_h));
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(dy) * dst_stride;
        for (int dx = 0; dx < dst_w; ++dx) {
            const std::int64_t sx = (2 * std::int64_t(dx) + 1) * src_w / (2 * std::int64_t(dst_w));
            read_rgb(src, src_left + sx, src_top + sy, out + std::ptrdiff_t(dx) * 3);
        }
    }
}

}  // namespace pagiro

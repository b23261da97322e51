// Taking a picture in: every component plane is drawn into a surface of our own
// (scaled down for subsampled components), padded to whole blocks by repeating
// its last column and row, converted to level-shifted Y, Cb or Cr block by block,
// and passed through the DCT and quantization.
#include <cmath>
#include <cstring>
#include <new>

#include "bmptojpg.h"
#include "detail.h"
#include "platform/resample.h"

namespace {

struct ConversionRow {
    float r, g, b, offset;
};

const ConversionRow kConversion[3] = {
    {0.299f, 0.587f, 0.114f, -128.0f},
    {-0.16874f, -0.33126f, 0.5f, 0.0f},
    {0.5f, -0.41869f, -0.08131f, 0.0f},
};

// The drawing surface: SW x SH pixels, red, green, blue, top row first.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t* at(int x, int y) {
        return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
    }
};

int round_up_8(std::int64_t v) { return static_cast<int>((v + 7) / 8 * 8); }

// ceil(size * factor / largest), worked out in double precision as the plane sizes are.
int plane_size(int size, int factor, int largest) {
    return static_cast<int>(-std::floor(-(static_cast<double>(size) * factor) / largest));
}

}  // namespace

int bmptojpg::SampleHDC(const pagiro::PixelView& lHDC, int lWidth, int lHeight, int lSrcLeft, int lSrcTop) {
    const CodePath path = ActiveCodePath();
    // The fast sampling takes over the records of the previous picture itself.
    if (path != CodePath::Plain) return SampleFast(lHDC, lWidth, lHeight, lSrcLeft, lSrcTop, path);
    Fast.clear();
    Precision = 8;
    Height = lHeight;
    Width = lWidth;

    // Nothing of an earlier picture may survive a failed call: a file written
    // from it would carry this call's size over the old coefficients.
    auto drop_picture = [this] {
        for (ComponentRecord& c : Components) c.Coefficients.clear();
    };
    if (lWidth < 1 || lHeight < 1) {
        drop_picture();
        return 1;
    }
    const std::int64_t sw = round_up_8(lWidth);
    const std::int64_t sh = round_up_8(lHeight);
    if (sw * sh * 3 > INT32_MAX) throw VbError::overflow();

    Surface surface;
    try {
        surface.width = static_cast<int>(sw);
        surface.height = static_cast<int>(sh);
        surface.pixels.assign(static_cast<std::size_t>(sw * sh * 3), 0);
    } catch (const std::bad_alloc&) {
        drop_picture();
        return 1;
    }
    const int SW = surface.width, SH = surface.height;

    int prev_w = 0, prev_h = 0, prev_pw = 0, prev_ph = 0;
    for (int c = 0; c < ComponentCount; ++c) {
        ComponentRecord& comp = Components[static_cast<std::size_t>(c)];
        const ConversionRow& conv = kConversion[c];
        comp.Id = c + 1;

        const int w = plane_size(Width, comp.H, HMax);
        const int h = plane_size(Height, comp.V, VMax);
        const int PW = round_up_8(w);
        const int PH = round_up_8(h);
        if (std::int64_t{PW} * PH * 2 > INT32_MAX) throw VbError::overflow();
        comp.Coefficients.assign(static_cast<std::size_t>(PW) * static_cast<std::size_t>(PH), 0);

        // A drawing is reused only for a plane of the very same size: two planes
        // padded alike but scaled differently need drawings of their own.
        if (w != prev_w || h != prev_h || PW != prev_pw || PH != prev_ph) {
            const int top = SH - PH;
            std::uint8_t* origin = surface.at(0, top);
            const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(SW) * 3;
            if (w == Width && h == Height) {
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        pagiro::read_rgb(lHDC, std::int64_t{lSrcLeft} + x, std::int64_t{lSrcTop} + y, surface.at(x, top + y));
            } else if (!pagiro::resample_area(lHDC, lSrcLeft, lSrcTop, lWidth, lHeight, origin, stride, w, h)) {
                pagiro::resample_nearest(lHDC, lSrcLeft, lSrcTop, lWidth, lHeight, origin, stride, w, h);
            }
            for (int x = w; x < PW; ++x)
                for (int y = top; y < top + h; ++y) std::memcpy(surface.at(x, y), surface.at(x - 1, y), 3);
            for (int y = top + h; y < SH; ++y) std::memcpy(surface.at(0, y), surface.at(0, y - 1), static_cast<std::size_t>(PW) * 3);
            prev_w = w;
            prev_h = h;
            prev_pw = PW;
            prev_ph = PH;
        }

        std::int32_t position = 0;
        const double rf = conv.r, gf = conv.g, bf = conv.b, off = conv.offset;
        for (int b = 0; b < PH / 8; ++b)
            for (int a = 0; a < PW / 8; ++a) {
                for (int r = 0; r < 8; ++r)
                    for (int k = 0; k < 8; ++k) {
                        const std::uint8_t* px = surface.at(8 * a + k, SH - PH + 8 * b + r);
                        const double R = static_cast<float>(px[0]);
                        const double G = static_cast<float>(px[1]);
                        const double B = static_cast<float>(px[2]);
                        Block[k][r] = static_cast<float>(((R * rf + G * gf) + B * bf) + off);
                    }
                ForwardDCT();
                QuantizeBlock(comp.Coefficients, position, QuantTables[static_cast<std::size_t>(comp.QuantTable)].Multipliers);
            }
    }
    return 0;
}

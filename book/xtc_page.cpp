#include "xtc_page.h"

#include <cstring>

namespace pagiro {

std::size_t xtg_bitmap_size(int width, int height) {
    return (static_cast<std::size_t>(width) + 7) / 8 * static_cast<std::size_t>(height);
}

std::size_t xth_bitmap_size(int width, int height) {
    return static_cast<std::size_t>(width) * ((static_cast<std::size_t>(height) + 7) / 8) * 2;
}

std::uint8_t xth_code(std::uint8_t grey) {
    // Nearest of black, dark grey, light grey and white, then the format's code for it.
    static constexpr std::uint8_t code_of_level[4] = {3, 1, 2, 0};
    const int level = (grey * 3 + 127) / 255;
    return code_of_level[level];
}

void pack_xtg(const GreyView& page, std::uint8_t* out) {
    const std::size_t row_bytes = (static_cast<std::size_t>(page.width) + 7) / 8;
    std::memset(out, 0, row_bytes * static_cast<std::size_t>(page.height));
    for (int y = 0; y < page.height; ++y) {
        const std::uint8_t* row = page.data + y * page.stride;
        std::uint8_t* bits = out + static_cast<std::size_t>(y) * row_bytes;
        for (int x = 0; x < page.width; ++x)
            if (row[x] >= xtg_black_below) bits[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    }
}

void pack_xth(const GreyView& page, std::uint8_t* out) {
    const std::size_t column_bytes = (static_cast<std::size_t>(page.height) + 7) / 8;
    const std::size_t plane_bytes = column_bytes * static_cast<std::size_t>(page.width);
    std::memset(out, 0, plane_bytes * 2);
    std::uint8_t* high = out;
    std::uint8_t* low = out + plane_bytes;
    for (int y = 0; y < page.height; ++y) {
        const std::uint8_t* row = page.data + y * page.stride;
        const std::size_t byte_in_column = static_cast<std::size_t>(y) >> 3;
        const auto bit = static_cast<std::uint8_t>(0x80 >> (y & 7));
        for (int x = 0; x < page.width; ++x) {
            const std::uint8_t code = xth_code(row[x]);
            if (code == 0) continue;
            const std::size_t at = static_cast<std::size_t>(page.width - 1 - x) * column_bytes + byte_in_column;
            if (code & 2) high[at] |= bit;
            if (code & 1) low[at] |= bit;
        }
    }
}

}  // namespace pagiro

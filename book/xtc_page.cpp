#include "xtc_page.h"

#include <algorithm>
#include <array>

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

std::uint8_t xtg_shown(std::uint8_t grey) { return grey < xtg_black_below ? 0 : 255; }

std::uint8_t xth_shown(std::uint8_t grey) {
    static constexpr std::uint8_t grey_of_code[4] = {255, 85, 170, 0};
    return grey_of_code[xth_code(grey)];
}

void pack_xtg(const GreyView& page, std::uint8_t* out) {
    for (int y = 0; y < page.height; ++y) {
        const std::uint8_t* row = page.data + y * page.stride;
        for (int x0 = 0; x0 < page.width; x0 += 8) {
            const int n = std::min(8, page.width - x0);
            unsigned bits = 0;
            for (int k = 0; k < n; ++k) bits |= static_cast<unsigned>(row[x0 + k] >= xtg_black_below) << (7 - k);
            *out++ = static_cast<std::uint8_t>(bits);
        }
    }
}

void pack_xth(const GreyView& page, std::uint8_t* out) {
    // Codes of every grey, looked up rather than computed for each of 384,000 pixels.
    static const auto code_of = [] {
        std::array<std::uint8_t, 256> codes{};
        for (int grey = 0; grey < 256; ++grey) codes[static_cast<std::size_t>(grey)] = xth_code(static_cast<std::uint8_t>(grey));
        return codes;
    }();
    const std::size_t column_bytes = (static_cast<std::size_t>(page.height) + 7) / 8;
    const std::size_t plane_bytes = column_bytes * static_cast<std::size_t>(page.width);
    // A band of 8 rows makes one byte of each column in each plane: the rows are read
    // in order and every output byte is written once.
    for (int band = 0; band < page.height; band += 8) {
        const int rows = std::min(8, page.height - band);
        const std::size_t byte_in_column = static_cast<std::size_t>(band) / 8;
        for (int x = 0; x < page.width; ++x) {
            unsigned high = 0, low = 0;
            for (int r = 0; r < rows; ++r) {
                const unsigned code = code_of[page.data[(band + r) * page.stride + x]];
                high |= (code >> 1) << (7 - r);
                low |= (code & 1) << (7 - r);
            }
            const std::size_t at = static_cast<std::size_t>(page.width - 1 - x) * column_bytes + byte_in_column;
            out[at] = static_cast<std::uint8_t>(high);
            out[plane_bytes + at] = static_cast<std::uint8_t>(low);
        }
    }
}

}  // namespace pagiro

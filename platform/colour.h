#pragma once
// Colours are held as the window holds them, 0x00BBGGRR (red in the low byte);
// pictures and the command line's #RRGGBB put red in the high byte. Swapping the
// two outer bytes turns either into the other.
#include <cstdint>

namespace pagiro {

constexpr std::uint32_t swap_red_blue(std::uint32_t colour) {
    return (colour & 0xFF) << 16 | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

}  // namespace pagiro

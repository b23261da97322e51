#pragma once
// Rounding to the nearest whole number, halves to even, whatever the processor's
// rounding mode: the rule of every whole-number conversion in the product, shared
// by the number conversions and the JPEG encoder (standard library only).
#include <cmath>

namespace pagiro {

inline double round_half_even(double x) {
    const double f = std::floor(x);
    const double frac = x - f;
    if (frac > 0.5) return f + 1.0;
    if (frac < 0.5) return f;
    return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

}  // namespace pagiro

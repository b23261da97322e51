#pragma once
// Small helpers shared by the encoder's sources: rounding and checked indexing.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/rounding.h"
#include "platform/vb_error.h"

namespace bmptojpg_detail {

using pagiro::round_half_even;

inline std::int32_t round_to_i32(double x) {
    const double r = round_half_even(x);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw VbError::overflow();
    return static_cast<std::int32_t>(r);
}

inline void check_index(std::int64_t index, std::size_t size) {
    if (index < 0 || static_cast<std::uint64_t>(index) >= size) throw VbError::subscript_out_of_range();
}

inline void check_table_id(int id) {
    if (id < 0 || id > 3) throw VbError::subscript_out_of_range();
}

// 32-bit signed sum, raising an overflow where it does not fit.
inline std::int32_t add_i32(std::int64_t a, std::int64_t b) {
    const std::int64_t s = a + b;
    if (s < INT32_MIN || s > INT32_MAX) throw VbError::overflow();
    return static_cast<std::int32_t>(s);
}

// The coded size of the scans in whole bytes and left-over bits, as the table
// optimisers add it up; past 2^31 - 1 bytes it is an overflow.
struct ByteTally {
    std::int64_t bytes = 0;
    int remainder = 0;
    void add_bits(std::int64_t bits) {
        const std::int64_t all = remainder + bits;
        bytes += all / 8;
        remainder = static_cast<int>(all % 8);
        if (bytes > INT32_MAX) throw VbError::overflow();
    }
    std::int64_t whole_bytes() const { return bytes + (remainder != 0 ? 1 : 0); }
};

// Magnitude category: the number of bits of |v|.
inline int magnitude_category(std::int64_t v) {
    if (v < 0) v = -v;
    int n = 0;
    while (v >= (std::int64_t{1} << n)) ++n;
    return n;
}

}  // namespace bmptojpg_detail

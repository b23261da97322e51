#pragma once
// Number conversions shared by the window, the generator and the encoders:
// text to double, and double to 16- or 32-bit whole numbers, rounding halves to
// even and raising an overflow (error 6) when the value does not fit.
#include <cstdint>
#include <string_view>

namespace pagiro {

// True when the text reads as a decimal number: optional blanks, an optional
// sign, digits with an optional decimal point, an optional exponent. Empty is not.
// Full-width digits and signs count as their ASCII forms, and the whole part may
// be grouped by thousands with commas ("1,000"; "1,5" is not a number).
bool is_numeric(std::u16string_view text);

// The value of a numeric text; raises a type mismatch (error 13) otherwise.
double text_to_double(std::u16string_view text);

// Round to the nearest whole number, halves to even; error 6 when out of range.
std::int16_t to_i16(double value);
std::int32_t to_i32(double value);

// Text straight to a whole number (what converting a control's text does).
std::int16_t text_to_i16(std::u16string_view text);
std::int32_t text_to_i32(std::u16string_view text);

// The largest whole number not above the value.
double vb_int(double value);

}  // namespace pagiro

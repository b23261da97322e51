#include "numbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "rounding.h"
#include "vb_error.h"

namespace pagiro {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000; }

// Parses the whole text; on success writes the ASCII form to `out`.
bool to_ascii_number(std::u16string_view text, std::string& out) {
    std::size_t b = 0, e = text.size();
    while (b < e && is_blank(text[b])) ++b;
    while (e > b && is_blank(text[e - 1])) --e;
    if (b == e) return false;
    std::size_t i = b;
    out.clear();
    if (text[i] == u'+' || text[i] == u'-') out.push_back(char(text[i++]));
    std::size_t digits = 0;
    while (i < e && text[i] >= u'0' && text[i] <= u'9') { out.push_back(char(text[i++])); ++digits; }
    if (i < e && text[i] == u'.') {
        out.push_back('.');
        ++i;
        while (i < e && text[i] >= u'0' && text[i] <= u'9') { out.push_back(char(text[i++])); ++digits; }
    }
    if (digits == 0) return false;
    if (i < e && (text[i] == u'e' || text[i] == u'E')) {
        out.push_back('e');
        ++i;
        if (i < e && (text[i] == u'+' || text[i] == u'-')) out.push_back(char(text[i++]));
        std::size_t exp_digits = 0;
        while (i < e && text[i] >= u'0' && text[i] <= u'9') { out.push_back(char(text[i++])); ++exp_digits; }
        if (exp_digits == 0) return false;
    }
    return i == e;
}

}  // namespace

bool is_numeric(std::u16string_view text) {
    std::string ascii;
    if (!to_ascii_number(text, ascii)) return false;
    return std::isfinite(std::strtod(ascii.c_str(), nullptr));
}

double text_to_double(std::u16string_view text) {
    std::string ascii;
    if (!to_ascii_number(text, ascii)) throw VbError::type_mismatch();
    double v = std::strtod(ascii.c_str(), nullptr);
    if (!std::isfinite(v)) throw VbError::overflow();
    return v;
}

std::int16_t to_i16(double value) {
    if (std::isnan(value)) throw VbError::overflow();
    double r = round_half_even(value);
    if (r < -32768.0 || r > 32767.0) throw VbError::overflow();
    return static_cast<std::int16_t>(r);
}

std::int32_t to_i32(double value) {
    if (std::isnan(value)) throw VbError::overflow();
    double r = round_half_even(value);
    if (r < -2147483648.0 || r > 2147483647.0) throw VbError::overflow();
    return static_cast<std::int32_t>(r);
}

std::int16_t text_to_i16(std::u16string_view text) { return to_i16(text_to_double(text)); }
std::int32_t text_to_i32(std::u16string_view text) { return to_i32(text_to_double(text)); }

double vb_int(double value) { return std::floor(value); }

}  // namespace pagiro

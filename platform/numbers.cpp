#include "numbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "rounding.h"
#include "vb_error.h"

namespace pagiro {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x3000; }

// Full-width forms (what a Chinese input method types: "１２０", "－５", "３．５")
// read as their ASCII counterparts.
char16_t narrow(char16_t c) { return c >= 0xFF01 && c <= 0xFF5E ? char16_t(c - 0xFEE0) : c; }

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Parses the whole text; on success writes the ASCII form to `out`. The whole
// part may be grouped by thousands ("1,000", "12,345,678"): the first group of
// one to three digits, every later one of exactly three.
bool to_ascii_number(std::u16string_view input, std::string& out) {
    std::u16string text(input);
    for (char16_t& c : text) c = narrow(c);
    std::size_t b = 0, e = text.size();
    while (b < e && is_blank(text[b])) ++b;
    while (e > b && is_blank(text[e - 1])) --e;
    if (b == e) return false;
    std::size_t i = b;
    out.clear();
    if (text[i] == u'+' || text[i] == u'-') out.push_back(char(text[i++]));
    std::size_t digits = 0, group = 0;
    bool grouped = false;
    while (i < e && (is_digit(text[i]) || text[i] == u',')) {
        if (text[i] == u',') {
            if (group == 0 || group > 3 || (grouped && group != 3)) return false;
            grouped = true;
            group = 0;
            ++i;
            continue;
        }
        out.push_back(char(text[i++]));
        ++digits;
        ++group;
    }
    if (grouped && group != 3) return false;
    if (i < e && text[i] == u'.') {
        out.push_back('.');
        ++i;
        while (i < e && is_digit(text[i])) { out.push_back(char(text[i++])); ++digits; }
    }
    if (digits == 0) return false;
    if (i < e && (text[i] == u'e' || text[i] == u'E')) {
        out.push_back('e');
        ++i;
        if (i < e && (text[i] == u'+' || text[i] == u'-')) out.push_back(char(text[i++]));
        std::size_t exp_digits = 0;
        while (i < e && is_digit(text[i])) { out.push_back(char(text[i++])); ++exp_digits; }
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

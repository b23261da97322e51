#include "textfile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "codepage.h"

namespace pagiro {
namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::u16string decode_utf8(std::string_view b) {
    std::u16string out;
    out.reserve(b.size());
    std::size_t i = 0;
    while (i < b.size()) {
        unsigned char c = static_cast<unsigned char>(b[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { out.push_back(0xFFFD); ++i; continue; }
        if (i + static_cast<std::size_t>(extra) >= b.size()) {
            out.push_back(0xFFFD);
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(b[i + static_cast<std::size_t>(k)]);
            if ((cc & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) { out.push_back(0xFFFD); ++i; continue; }
        i += static_cast<std::size_t>(extra) + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::u16string decode_utf16(std::string_view b, bool big_endian) {
    std::u16string out;
    out.reserve(b.size() / 2);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
        unsigned lo = static_cast<unsigned char>(b[i]), hi = static_cast<unsigned char>(b[i + 1]);
        out.push_back(static_cast<char16_t>(big_endian ? (lo << 8 | hi) : (hi << 8 | lo)));
    }
    if (b.size() % 2) out.push_back(0xFFFD);
    return out;
}

}  // namespace

std::optional<TextEncoding> parse_text_encoding(std::string_view name) {
    if (name == "auto") return TextEncoding::Auto;
    if (name == "gbk" || name == "GBK" || name == "cp936") return TextEncoding::Gbk;
    if (name == "gb18030" || name == "GB18030") return TextEncoding::Gb18030;
    if (name == "utf-8" || name == "utf8" || name == "UTF-8") return TextEncoding::Utf8;
    if (name == "utf-16" || name == "utf16" || name == "UTF-16") return TextEncoding::Utf16;
    return std::nullopt;
}

bool is_valid_utf8(std::string_view b) {
    std::size_t i = 0, n = b.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(b[i]);
        if (c < 0x80) { ++i; continue; }
        int extra;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07; }
        else return false;
        if (i + static_cast<std::size_t>(extra) >= n) return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(b[i + static_cast<std::size_t>(k)]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
        if (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::u16string decode_text(std::string_view bytes, TextEncoding encoding) {
    const std::string_view bom8 = "\xEF\xBB\xBF", bom16le = "\xFF\xFE", bom16be = "\xFE\xFF";
    switch (encoding) {
    case TextEncoding::Utf8:
        return decode_utf8(starts_with(bytes, bom8) ? bytes.substr(3) : bytes);
    case TextEncoding::Utf16:
        if (starts_with(bytes, bom16be)) return decode_utf16(bytes.substr(2), true);
        if (starts_with(bytes, bom16le)) return decode_utf16(bytes.substr(2), false);
        return decode_utf16(bytes, false);
    case TextEncoding::Gbk:
    case TextEncoding::Gb18030:
        return gb18030_decode(bytes);
    case TextEncoding::Auto:
        break;
    }
    if (starts_with(bytes, bom8)) return decode_utf8(bytes.substr(3));
    if (starts_with(bytes, bom16le)) return decode_utf16(bytes.substr(2), false);
    if (starts_with(bytes, bom16be)) return decode_utf16(bytes.substr(2), true);
    if (is_valid_utf8(bytes)) return decode_utf8(bytes);
    return gb18030_decode(bytes);
}

std::optional<std::u16string> read_text_file(const std::filesystem::path& path, TextEncoding encoding,
                                             std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "no such file";
        return std::nullopt;
    }
    if (std::filesystem::is_directory(path, ec)) {
        error = "it is a folder, not a file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "read error";
        return std::nullopt;
    }
    return decode_text(bytes, encoding);
}

}  // namespace pagiro

// Decodes any bytes as a source text file in every encoding, and checks what the
// reader promises: byte-order marks only select the encoding, detection picks one of
// the encodings it names and decodes as that one would, valid UTF-8 round-trips, no
// NUL or U+FEFF survives, UTF-16 keeps at most one unit per byte pair, GBK and GB18030
// read alike, and mended line breaks are all CR LF and stay as they are when mended again.
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "platform/textfile.h"

namespace {

using pagiro::TextEncoding;

std::string to_utf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

namespace {

bool line_breaks_are_crlf(std::u16string_view t) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == u'\r' && (i + 1 == t.size() || t[i + 1] != u'\n')) return false;
        if (t[i] == u'\n' && (i == 0 || t[i - 1] != u'\r')) return false;
    }
    return true;
}

std::u16string without_breaks(std::u16string t) {
    std::erase(t, u'\r');
    std::erase(t, u'\n');
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string bom8 = "\xEF\xBB\xBF";

    const TextEncoding detected = pagiro::detect_encoding(bytes);
    FUZZ_CHECK(detected != TextEncoding::Auto && detected != TextEncoding::Utf16);
    const std::u16string as_auto = pagiro::decode_text(bytes, TextEncoding::Auto);
    FUZZ_CHECK(as_auto == pagiro::decode_text(bytes, detected));
    const std::u16string as_utf8 = pagiro::decode_text(bytes, TextEncoding::Utf8);
    const std::u16string as_utf16 = pagiro::decode_text(bytes, TextEncoding::Utf16);
    const std::u16string as_gbk = pagiro::decode_text(bytes, TextEncoding::Gbk);
    const std::u16string as_gb18030 = pagiro::decode_text(bytes, TextEncoding::Gb18030);
    const std::u16string as_big5 = pagiro::decode_text(bytes, TextEncoding::Big5);

    FUZZ_CHECK(as_gbk == as_gb18030);
    FUZZ_CHECK(as_utf8.size() <= size);
    FUZZ_CHECK(as_big5.size() <= size);
    FUZZ_CHECK(as_utf16.size() <= (size + 1) / 2);
    for (const std::u16string* t : {&as_auto, &as_utf8, &as_utf16, &as_gbk, &as_big5})
        FUZZ_CHECK(t->find(u'\0') == std::u16string::npos && t->find(u'\uFEFF') == std::u16string::npos);

    if (bytes.starts_with(bom8)) FUZZ_CHECK(detected == TextEncoding::Utf8);
    else if (bytes.starts_with("\xFF\xFE")) FUZZ_CHECK(detected == TextEncoding::Utf16Le && as_auto == as_utf16);
    else if (bytes.starts_with("\xFE\xFF")) FUZZ_CHECK(detected == TextEncoding::Utf16Be && as_auto == as_utf16);

    if (pagiro::is_valid_utf8(bytes) && bytes.find('\0') == std::string_view::npos &&
        bytes.find("\xEF\xBB\xBF") == std::string_view::npos) {
        FUZZ_CHECK(to_utf8(as_utf8) == bytes);
        FUZZ_CHECK(pagiro::decode_text(bom8 + std::string(bytes), TextEncoding::Auto) == as_utf8);
    }

    // The UTF-16 reading written out as UTF-8 and read back, and as UTF-16 with a
    // mark in either byte order.
    const std::string utf8 = to_utf8(as_utf16);
    FUZZ_CHECK(pagiro::is_valid_utf8(utf8));
    FUZZ_CHECK(pagiro::decode_text(bom8 + utf8, TextEncoding::Auto) == as_utf16);
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char16_t u : as_utf16) {
        le += static_cast<char>(u & 0xFF);
        le += static_cast<char>(u >> 8);
        be += static_cast<char>(u >> 8);
        be += static_cast<char>(u & 0xFF);
    }
    FUZZ_CHECK(pagiro::decode_text(le, TextEncoding::Auto) == as_utf16);
    FUZZ_CHECK(pagiro::decode_text(be, TextEncoding::Auto) == as_utf16);
    FUZZ_CHECK(pagiro::decode_text(be, TextEncoding::Utf16) == as_utf16);

    // Line breaks: every one CR LF afterwards, nothing else changed, and a second
    // mending finds nothing to do.
    std::u16string mended = as_auto;
    const std::size_t changed = pagiro::mend_line_breaks(mended);
    FUZZ_CHECK(line_breaks_are_crlf(mended));
    FUZZ_CHECK(without_breaks(mended) == without_breaks(as_auto));
    FUZZ_CHECK((changed == 0) == (mended == as_auto));
    FUZZ_CHECK(pagiro::mend_line_breaks(mended) == 0);
    return 0;
}

// Decodes any bytes as a source text file in every encoding, and checks what the
// encodings promise: byte-order marks only select the encoding, valid UTF-8 is read
// as UTF-8 (and round-trips), UTF-16 keeps one unit per byte pair, and GBK and GB18030
// read alike.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string bom8 = "\xEF\xBB\xBF";

    const std::u16string as_auto = pagiro::decode_text(bytes, TextEncoding::Auto);
    const std::u16string as_utf8 = pagiro::decode_text(bytes, TextEncoding::Utf8);
    const std::u16string as_utf16 = pagiro::decode_text(bytes, TextEncoding::Utf16);
    const std::u16string as_gbk = pagiro::decode_text(bytes, TextEncoding::Gbk);
    const std::u16string as_gb18030 = pagiro::decode_text(bytes, TextEncoding::Gb18030);

    FUZZ_CHECK(as_gbk == as_gb18030);
    FUZZ_CHECK(as_utf8.size() <= size);
    const bool bom16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
    FUZZ_CHECK(as_utf16.size() == ((bom16 ? size - 2 : size) + 1) / 2);
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") || bytes.starts_with(bom8)) {
        // A mark selects its encoding; the mark itself is no text.
        if (bytes.starts_with(bom8)) FUZZ_CHECK(as_auto == as_utf8);
        else FUZZ_CHECK(as_auto == as_utf16);
    } else if (pagiro::is_valid_utf8(bytes)) {
        FUZZ_CHECK(as_auto == as_utf8);
        FUZZ_CHECK(to_utf8(as_utf8) == bytes);
        FUZZ_CHECK(pagiro::decode_text(bom8 + std::string(bytes), TextEncoding::Auto) == as_utf8);
        FUZZ_CHECK(pagiro::decode_text(bom8 + std::string(bytes), TextEncoding::Utf8) == as_utf8);
    } else {
        FUZZ_CHECK(as_auto == as_gb18030);
    }

    // The same bytes read as UTF-16 text, written out as UTF-8 and read back.
    const std::string utf8 = to_utf8(as_utf16);
    FUZZ_CHECK(pagiro::is_valid_utf8(utf8));
    // (A leading U+FEFF would itself be taken for the mark, hence the mark in front.)
    FUZZ_CHECK(to_utf8(pagiro::decode_text(bom8 + utf8, TextEncoding::Utf8)) == utf8);
    // ... and as UTF-16 with a mark, in either byte order.
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
    return 0;
}

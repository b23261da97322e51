#pragma once
// The "ANSI" code page that character widths, and texts handed to old-style
// file formats, are measured in. Code page 936 (GBK) by default, as on a
// Simplified Chinese system; converted with ICU.
#include <memory>
#include <string>
#include <string_view>

struct UConverter;

namespace pagiro {

// An ICU converter, closed when it goes; empty when ICU has no converter of that name.
struct IcuConverterCloser {
    void operator()(UConverter* c) const;
};
using IcuConverter = std::unique_ptr<UConverter, IcuConverterCloser>;
IcuConverter open_icu_converter(const char* name);

// Selects the code page by its ICU converter name (for example "windows-936",
// "windows-1252"). Returns false, and keeps the old one, when ICU has no such converter.
bool set_ansi_codepage(const char* icu_name);
std::string ansi_codepage_name();
// A number that changes whenever the code page does: what is worked out from the
// code page once and kept can be checked against it.
unsigned ansi_codepage_generation();

// Bytes the UTF-16 code unit takes in the code page: 2 for a double-byte
// character, else 1. A unit the code page cannot represent (also either half of a
// surrogate pair) is written as "?" and so takes 1.
int ansi_char_bytes(char16_t unit);
// Whether the code page has the unit itself (not "?" in its place).
bool ansi_representable(char16_t unit);

// Encode to the code page, each unrepresentable unit becoming "?".
std::string ansi_encode(std::u16string_view text);
// Decode bytes of the code page; bytes that do not decode become U+FFFD.
std::u16string ansi_decode(std::string_view bytes);
// Decode GB18030, the superset of GBK that Chinese text files are read with.
std::u16string gb18030_decode(std::string_view bytes);

}  // namespace pagiro

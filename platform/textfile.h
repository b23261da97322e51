#pragma once
// Reading a source text file: which encoding it is in, and its text as UTF-16.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pagiro {

enum class TextEncoding { Auto, Gbk, Gb18030, Utf8, Utf16 };

// "auto", "gbk", "gb18030", "utf-8"/"utf8", "utf-16"/"utf16"; nothing for any other name.
std::optional<TextEncoding> parse_text_encoding(std::string_view name);

// Auto: a UTF-8 or UTF-16 byte-order mark selects that encoding (and is dropped);
// otherwise valid UTF-8 is read as UTF-8; otherwise the bytes are the ANSI code
// page, decoded as GB18030. Line breaks are kept exactly as they are.
std::u16string decode_text(std::string_view bytes, TextEncoding encoding = TextEncoding::Auto);

bool is_valid_utf8(std::string_view bytes);

// Reads and decodes a whole file. On failure returns nothing and sets `error` to a
// plain English reason ("no such file", "permission denied", ...).
std::optional<std::u16string> read_text_file(const std::filesystem::path& path, TextEncoding encoding,
                                             std::string& error);

}  // namespace pagiro

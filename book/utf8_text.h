#pragma once
// UTF-8 for fixed-size fields: book headers and chapter tables hold names in a set
// number of bytes, and a cut through the middle of a character shows as garbage on
// the reader.
#include <cstddef>
#include <string>
#include <string_view>

namespace pagiro {

// The text with every byte that is not part of a well-formed UTF-8 character replaced
// by U+FFFD, so that what we write always decodes.
std::string clean_utf8(std::string_view text);

// The longest start of `text` that takes at most `max_bytes` and ends at a character
// boundary (`text` being well-formed UTF-8).
std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes);

}  // namespace pagiro

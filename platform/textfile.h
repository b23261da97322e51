#pragma once
// Reading a source text file: which encoding it is in, its line breaks, and its
// text as UTF-16 with the CR LF line breaks the page layout expects.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pagiro {

enum class TextEncoding { Auto, Gbk, Gb18030, Big5, Utf8, Utf16, Utf16Le, Utf16Be };

// How line breaks are read. Auto: a bare LF, a lone CR and a run of CRs before an LF
// each become one CR LF, so that files from Linux, macOS, old Macs and the web lay
// out as they look; a file of CR LF line breaks is left exactly as it is. Crlf: only
// the text's own CR LF ends a line (every CR ends a line and takes the next character
// with it, which is how a text typed into the window has always been laid out).
enum class LineBreaks { Auto, Crlf };

// "auto", "gbk" (or "cp936"), "gb18030", "big5" (or "cp950"), "utf-8"/"utf8",
// "utf-16"/"utf16", "utf-16le", "utf-16be", in any case; nothing for any other name.
std::optional<TextEncoding> parse_text_encoding(std::string_view name);
std::optional<LineBreaks> parse_line_breaks(std::string_view name);
// "GBK", "GB18030", "Big5", "UTF-8", "UTF-16LE", "UTF-16BE" (Auto: "auto").
const char* encoding_name(TextEncoding encoding);

// The largest text the program takes, in bytes of the file and in UTF-16 units of
// the text: the page layout counts positions in 32 bits.
inline constexpr std::uint64_t kMaxTextBytes = 0x7FFFFFFDu;
inline constexpr std::uint64_t kMaxTextUnits = 0x7FFFFFFDu;
// Detection looks at this many bytes from the start of a file.
inline constexpr std::size_t kDetectionSample = 256 * 1024;

// Picks the encoding of a text from its first bytes. A byte-order mark decides
// (UTF-8, UTF-16 LE/BE, GB18030's 84 31 95 33); otherwise UTF-8, GBK and Big5, and
// UTF-16 in both byte orders when there are zero bytes, are each decoded and
// the one whose characters are most plausibly Chinese text wins: the share of common
// Chinese characters, ASCII and common punctuation, where invalid sequences rule a
// candidate out. `whole` says that `sample` is the whole text, so a character cut off
// at its end is invalid rather than continued. Never returns Auto or Utf16.
TextEncoding detect_encoding(std::string_view sample, bool whole = true);

// Decodes in the given encoding (Auto: detected). Bytes that do not decode become
// U+FFFD; a U+FEFF anywhere (a byte-order mark, also one left inside by joined files)
// is dropped and a NUL becomes a space. Line breaks are not touched.
std::u16string decode_text(std::string_view bytes, TextEncoding encoding = TextEncoding::Auto);

// Applies LineBreaks::Auto to a text; returns how many line breaks it changed.
// Throws std::length_error when the result would pass kMaxTextUnits.
std::size_t mend_line_breaks(std::u16string& text);

// A text as it was read, and how.
struct SourceText {
    std::u16string text;
    TextEncoding encoding = TextEncoding::Auto;  // the one used, never Auto or Utf16
    bool detected = false;                        // chosen by detection, not by the caller
    std::size_t mended_line_breaks = 0;
};

struct ReadFailure {
    enum Kind { Missing, Folder, NotAFile, TooLarge, OutOfMemory, ReadError } kind = ReadError;
    std::uint64_t size = 0;  // TooLarge, OutOfMemory: the file's size in bytes
    std::string system;      // ReadError: the system's reason

    // A plain English reason: "no such file", "it is a folder, not a file", ...
    std::string describe() const;
};

// Reads and decodes a whole file. Anything that is not a regular file (a folder, a
// device, a pipe, a socket, a file of /proc or /sys) is refused before reading; a
// file over kMaxTextBytes is refused by its size. Never throws for a file it cannot
// read, cannot hold in memory or cannot decode: that is a ReadFailure.
std::optional<SourceText> read_source_text(const std::filesystem::path& path, TextEncoding encoding,
                                           LineBreaks line_breaks, ReadFailure& failure);

// The same, for callers that want only the text: line breaks as Auto, the failure
// as its plain English reason.
std::optional<std::u16string> read_text_file(const std::filesystem::path& path, TextEncoding encoding,
                                             std::string& error);

bool is_valid_utf8(std::string_view bytes);

}  // namespace pagiro

#include "textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

#include "codepage.h"

namespace pagiro {
namespace {

constexpr char16_t kCr = u'\r', kLf = u'\n';
constexpr std::size_t kChunk = 1 << 20;  // bytes handed to the converter at a time

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

const char* icu_name(TextEncoding e) {
    switch (e) {
    case TextEncoding::Big5: return "Big5";
    case TextEncoding::Utf8: return "UTF-8";
    case TextEncoding::Utf16Le: return "UTF-16LE";
    case TextEncoding::Utf16Be: return "UTF-16BE";
    default: return "GB18030";  // GBK's superset; both read GBK files alike
    }
}

// Converts a text chunk by chunk (no length ever reaches ICU's 32-bit counts), a
// character cut between two chunks carried over to the next.
class Decoder {
public:
    explicit Decoder(TextEncoding e) : conv_(open_icu_converter(icu_name(e))) {
        if (!conv_) throw std::runtime_error(std::string("no converter for ") + icu_name(e));
    }

    void decode(std::string_view bytes, bool last, std::u16string& out) {
        do {
            const std::string_view part = bytes.substr(0, kChunk);
            bytes.remove_prefix(part.size());
            decode_part(part, last && bytes.empty(), out);
        } while (!bytes.empty());
    }

private:
    void decode_part(std::string_view bytes, bool flush, std::u16string& out) {
        const std::size_t start = out.size();
        // No encoding here makes more UTF-16 units than bytes; a few more for what was carried.
        out.resize(start + bytes.size() + 8);
        UChar* target = reinterpret_cast<UChar*>(out.data() + start);
        const char* source = bytes.data();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv_.get(), &target, reinterpret_cast<UChar*>(out.data() + out.size()), &source,
                       source + bytes.size(), nullptr, flush, &err);
        if (U_FAILURE(err)) throw std::runtime_error("text conversion failed");
        out.resize(static_cast<std::size_t>(reinterpret_cast<char16_t*>(target) - out.data()));
        // A byte-order mark is no text, wherever it is; a NUL would end the text for
        // much of the program and the platform, so it is read as a space.
        auto kept = std::remove(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), u'\uFEFF');
        out.erase(kept, out.end());
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), u'\0', u' ');
        if (out.size() > kMaxTextUnits) throw std::length_error("text too long");
    }

    IcuConverter conv_;
};

// The characters a Chinese text is mostly made of: ASCII, common punctuation, the
// 3,755 common characters of GB 2312's first level and the 5,401 of Big5's.
class CommonCharacters {
public:
    CommonCharacters() {
        for (char16_t c = 0x20; c < 0x7F; ++c) set_.set(c);
        for (char16_t c : std::u16string_view(u"\t\r\n\u00B7\u00D7\u2014\u2015\u2018\u2019\u201C\u201D\u2026\u2030\u203B"
                                              u"\u3000\u3001\u3002\u3003\u3008\u3009\u300A\u300B\u300C\u300D\u300E"
                                              u"\u300F\u3010\u3011\u3014\u3015\u3016\u3017\uFE30\uFE31\uFFE5"))
            set_.set(c);
        for (char16_t c = 0xFF01; c <= 0xFF5E; ++c) set_.set(c);  // full-width ASCII
        std::string gb, big5;
        for (int lead = 0xB0; lead <= 0xD7; ++lead)
            for (int trail = 0xA1; trail <= (lead == 0xD7 ? 0xF9 : 0xFE); ++trail) add_pair(gb, lead, trail);
        for (int lead = 0xA4; lead <= 0xC6; ++lead)
            for (int trail = 0x40; trail <= 0xFE; ++trail)
                if ((trail <= 0x7E || trail >= 0xA1) && !(lead == 0xC6 && trail > 0x7E)) add_pair(big5, lead, trail);
        add_decoded(TextEncoding::Gbk, gb);
        add_decoded(TextEncoding::Big5, big5);
    }
    bool contains(char16_t c) const { return set_.test(c); }

private:
    static void add_pair(std::string& s, int lead, int trail) {
        s += static_cast<char>(lead);
        s += static_cast<char>(trail);
    }
    void add_decoded(TextEncoding e, const std::string& bytes) {
        std::u16string text;
        Decoder(e).decode(bytes, true, text);
        for (char16_t c : text)
            if (c != 0xFFFD) set_.set(c);
    }

    std::bitset<65536> set_;
};

const CommonCharacters& common_characters() {
    static const CommonCharacters table;
    return table;
}

// Counts invalid sequences while substituting them, and stops the conversion once
// more have been met than the caller allows.
struct InvalidCount {
    std::size_t seen = 0, allowed = 0;
};

void count_invalid(const void* context, UConverterToUnicodeArgs* args, const char* units, int32_t length,
                   UConverterCallbackReason reason, UErrorCode* err) {
    if (reason == UCNV_ILLEGAL || reason == UCNV_UNASSIGNED || reason == UCNV_IRREGULAR) {
        auto* count = static_cast<InvalidCount*>(const_cast<void*>(context));
        if (++count->seen > count->allowed) return;  // *err stays set: the conversion stops
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, reason, err);
}

// The share of a sample's characters that are common in Chinese text when it is read
// in `e`; below zero when it holds too many invalid sequences to be in `e` at all (one
// per thousand characters is forgiven in a long sample: a damaged character or two).
double plausibility(TextEncoding e, std::string_view sample, bool whole) {
    IcuConverter conv = open_icu_converter(icu_name(e));
    if (!conv) return -1;
    InvalidCount invalid{0, sample.size() / 2000};
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv.get(), count_invalid, &invalid, nullptr, nullptr, &err);
    std::u16string text(sample.size() + 8, u'\0');
    UChar* target = reinterpret_cast<UChar*>(text.data());
    const char* source = sample.data();
    ucnv_toUnicode(conv.get(), &target, target + text.size(), &source, source + sample.size(), nullptr, whole, &err);
    if (U_FAILURE(err) || invalid.seen > invalid.allowed) return -1;
    text.resize(static_cast<std::size_t>(reinterpret_cast<char16_t*>(target) - text.data()));
    if (text.empty()) return 1;
    const CommonCharacters& common = common_characters();
    std::size_t hits = 0;
    for (char16_t c : text) hits += common.contains(c);
    return static_cast<double>(hits) / static_cast<double>(text.size() + invalid.seen);
}

// Zero bytes at even and at odd offsets: ASCII in UTF-16 has its zero byte on one side.
struct ZeroBytes {
    std::size_t even = 0, odd = 0;
    explicit ZeroBytes(std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i)
            if (s[i] == '\0') ++(i % 2 ? odd : even);
    }
};

TextEncoding utf16_order(std::string_view bytes) {
    if (starts_with(bytes, "\xFE\xFF")) return TextEncoding::Utf16Be;
    if (starts_with(bytes, "\xFF\xFE")) return TextEncoding::Utf16Le;
    const ZeroBytes zeros(bytes.substr(0, kDetectionSample));
    return zeros.even > zeros.odd ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
}

// The encoding to decode with: the caller's, made definite, or the detected one.
TextEncoding resolve(TextEncoding requested, std::string_view start, bool whole) {
    if (requested == TextEncoding::Auto) return detect_encoding(start, whole);
    if (requested == TextEncoding::Utf16) return utf16_order(start);
    return requested;
}

// Reads until `buffer` is full or the file ends; the count read.
std::size_t read_full(int fd, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category());
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

// proc and sysfs show their entries as regular files, but what they hold is no text
// and reading some of them fails or never ends.
bool on_system_file_system(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    constexpr long kProc = 0x9fa0, kSysfs = 0x62656572;
    return static_cast<long>(fs.f_type) == kProc || static_cast<long>(fs.f_type) == kSysfs;
}

std::string megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB (" + std::to_string(bytes) + " bytes)";
}

}  // namespace

std::optional<TextEncoding> parse_text_encoding(std::string_view name) {
    const std::string n = lower(name);
    if (n == "auto") return TextEncoding::Auto;
    if (n == "gbk" || n == "cp936") return TextEncoding::Gbk;
    if (n == "gb18030") return TextEncoding::Gb18030;
    if (n == "big5" || n == "cp950") return TextEncoding::Big5;
    if (n == "utf-8" || n == "utf8") return TextEncoding::Utf8;
    if (n == "utf-16" || n == "utf16") return TextEncoding::Utf16;
    if (n == "utf-16le" || n == "utf16le") return TextEncoding::Utf16Le;
    if (n == "utf-16be" || n == "utf16be") return TextEncoding::Utf16Be;
    return std::nullopt;
}

std::optional<LineBreaks> parse_line_breaks(std::string_view name) {
    const std::string n = lower(name);
    if (n == "auto") return LineBreaks::Auto;
    if (n == "crlf") return LineBreaks::Crlf;
    return std::nullopt;
}

const char* encoding_name(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Auto: return "auto";
    case TextEncoding::Gbk: return "GBK";
    case TextEncoding::Gb18030: return "GB18030";
    case TextEncoding::Big5: return "Big5";
    case TextEncoding::Utf8: return "UTF-8";
    case TextEncoding::Utf16: return "UTF-16";
    case TextEncoding::Utf16Le: return "UTF-16LE";
    case TextEncoding::Utf16Be: return "UTF-16BE";
    }
    return "";
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

TextEncoding detect_encoding(std::string_view sample, bool whole) {
    if (starts_with(sample, "\xEF\xBB\xBF")) return TextEncoding::Utf8;
    if (starts_with(sample, "\xFF\xFE")) return TextEncoding::Utf16Le;
    if (starts_with(sample, "\xFE\xFF")) return TextEncoding::Utf16Be;
    if (starts_with(sample, "\x84\x31\x95\x33")) return TextEncoding::Gb18030;
    if (sample.size() > kDetectionSample) {
        sample = sample.substr(0, kDetectionSample);
        whole = false;
    }
    if (std::all_of(sample.begin(), sample.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u > 0 && u < 0x80;
        }))
        return TextEncoding::Utf8;  // plain ASCII reads alike in all of them

    // In order of preference when they score alike: UTF-8 cannot be mistaken for
    // much else, and GBK is the code page such files have always been read in.
    TextEncoding candidates[5] = {TextEncoding::Utf8, TextEncoding::Gbk, TextEncoding::Big5};
    int count = 3;
    // Zero bytes: possibly UTF-16 without a mark (ASCII and line breaks have a zero
    // byte there, and so do characters such as the ideographic space U+3000).
    const ZeroBytes zeros(sample);
    if (zeros.odd + zeros.even > 0) {
        candidates[count++] = zeros.odd >= zeros.even ? TextEncoding::Utf16Le : TextEncoding::Utf16Be;
        candidates[count++] = zeros.odd >= zeros.even ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
    }

    TextEncoding best = TextEncoding::Gbk;  // nothing fits: the code page, as always
    double best_score = -1;
    for (int k = 0; k < count; ++k) {
        const double score = plausibility(candidates[k], sample, whole);
        if (score > best_score) {
            best_score = score;
            best = candidates[k];
        }
    }
    return best;
}

std::u16string decode_text(std::string_view bytes, TextEncoding encoding) {
    std::u16string out;
    Decoder(resolve(encoding, bytes, true)).decode(bytes, true, out);
    return out;
}

std::size_t mend_line_breaks(std::u16string& text) {
    // First count, so that a CR LF text (the usual case) is not copied at all.
    std::size_t mended = 0, length = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c == kCr) {
            std::size_t j = i;
            while (j < n && text[j] == kCr) ++j;
            if (j < n && text[j] == kLf) {  // CR... LF: one line break
                mended += j - i > 1;
                i = j;
                length += 2;
            } else {  // lone CRs: one line break each
                mended += j - i;
                length += 2 * (j - i);
                i = j - 1;
            }
        } else if (c == kLf) {
            ++mended;
            length += 2;
        } else {
            ++length;
        }
    }
    if (mended == 0) return 0;
    if (length > kMaxTextUnits) throw std::length_error("text too long");
    std::u16string out;
    out.reserve(length);
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c == kCr) {
            std::size_t j = i;
            while (j < n && text[j] == kCr) ++j;
            if (j < n && text[j] == kLf) {
                out += u"\r\n";
                i = j;
            } else {
                for (; i < j; ++i) out += u"\r\n";
                i = j - 1;
            }
        } else if (c == kLf) {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
    text = std::move(out);
    return mended;
}

std::string ReadFailure::describe() const {
    switch (kind) {
    case Missing: return "no such file";
    case Folder: return "it is a folder, not a file";
    case NotAFile: return "it is not a regular file (a device, pipe, socket or system file)";
    case TooLarge:
        return "the text is too large: " + megabytes(size) + "; the most this program can take is " +
               megabytes(kMaxTextBytes);
    case OutOfMemory: return "there is not enough memory to read its " + megabytes(size);
    case ReadError: break;
    }
    return system.empty() ? "read error" : system;
}

std::optional<SourceText> read_source_text(const std::filesystem::path& path, TextEncoding encoding,
                                           LineBreaks line_breaks, ReadFailure& failure) {
    failure = ReadFailure{};
    // Non-blocking, so that opening a pipe nobody writes to does not wait for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) failure.kind = ReadFailure::Missing;
        else failure.system = std::strerror(e);
        return std::nullopt;
    }
    FileCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure.system = std::strerror(errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) failure.kind = ReadFailure::Folder;
    else if (!S_ISREG(st.st_mode) || on_system_file_system(fd)) failure.kind = ReadFailure::NotAFile;
    else if (static_cast<std::uint64_t>(st.st_size) > kMaxTextBytes) failure.kind = ReadFailure::TooLarge;
    if (failure.kind != ReadFailure::ReadError) {
        failure.size = static_cast<std::uint64_t>(st.st_size);
        return std::nullopt;
    }

    std::uint64_t total = 0;
    try {
        std::string buffer(std::max(kChunk, kDetectionSample), '\0');
        std::size_t n = read_full(fd, buffer.data(), kDetectionSample);
        bool end = n < kDetectionSample;
        total = n;
        SourceText source;
        source.encoding = resolve(encoding, std::string_view(buffer.data(), n), end);
        source.detected = encoding == TextEncoding::Auto;
        Decoder decoder(source.encoding);
        decoder.decode(std::string_view(buffer.data(), n), end, source.text);
        // Room for the rest at the rate the start decoded at, so that the text grows once.
        if (!end && n > 0) {
            const double rate = static_cast<double>(source.text.size()) / static_cast<double>(n);
            const double expected = rate * static_cast<double>(st.st_size) * 1.02 + 64;
            source.text.reserve(static_cast<std::size_t>(std::min(expected, double(kMaxTextUnits))));
        }
        while (!end) {
            n = read_full(fd, buffer.data(), kChunk);
            end = n < kChunk;
            total += n;
            if (total > kMaxTextBytes) throw std::length_error("file grew too large");
            decoder.decode(std::string_view(buffer.data(), n), end, source.text);
        }
        if (line_breaks == LineBreaks::Auto) source.mended_line_breaks = mend_line_breaks(source.text);
        return source;
    } catch (const std::bad_alloc&) {
        failure.kind = ReadFailure::OutOfMemory;
    } catch (const std::length_error&) {
        failure.kind = ReadFailure::TooLarge;
    } catch (const std::system_error& e) {
        failure.system = e.code().message();
    } catch (const std::exception& e) {
        failure.system = e.what();
    }
    failure.size = std::max(static_cast<std::uint64_t>(st.st_size), total);
    return std::nullopt;
}

std::optional<std::u16string> read_text_file(const std::filesystem::path& path, TextEncoding encoding,
                                             std::string& error) {
    ReadFailure failure;
    auto source = read_source_text(path, encoding, LineBreaks::Auto, failure);
    if (!source) {
        error = failure.describe();
        return std::nullopt;
    }
    return std::move(source->text);
}

}  // namespace pagiro

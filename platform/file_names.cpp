#include "file_names.h"

#include <QCoreApplication>
#include <QDir>

namespace pagiro {
namespace {

constexpr char16_t kKeptByte = 0xDC00;  // + a byte of 0x80 … 0xFF

// The length of the valid UTF-8 sequence at `at` (and its code point), or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t at, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[at + k]); };
    const unsigned char lead = b(0);
    std::size_t n;
    char32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (at + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace

QString name_from_bytes(std::string_view bytes) {
    QString out;
    out.reserve(qsizetype(bytes.size()));
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8_sequence(bytes, at, cp);
        if (n == 0) {
            out += QChar(char16_t(kKeptByte + static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        if (cp < 0x10000) {
            out += QChar(char16_t(cp));
        } else {
            out += QChar(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out += QChar(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        at += n;
    }
    return out;
}

std::string bytes_of_name(const QString& name) {
    std::string out;
    out.reserve(std::size_t(name.size()));
    for (qsizetype k = 0; k < name.size(); ++k) {
        const char16_t c = name[k].unicode();
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < name.size() && name[k + 1].isLowSurrogate()) {
            append_utf8(out, QChar::surrogateToUcs4(c, name[k + 1].unicode()));
            ++k;
        } else if (c >= kKeptByte + 0x80 && c <= kKeptByte + 0xFF) {
            out += char(c - kKeptByte);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            append_utf8(out, 0xFFFD);
        } else {
            append_utf8(out, c);
        }
    }
    return out;
}

std::filesystem::path path_of(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdU16String());
#else
    return std::filesystem::path(bytes_of_name(name));
#endif
}

QStringList program_arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc, (void)argv;
    return QCoreApplication::arguments();  // Windows hands them over as UTF-16
#else
    QStringList arguments;
    for (int k = 0; k < argc; ++k) arguments << name_from_bytes(argv[k]);
    return arguments;
#endif
}

QString current_folder_name() {
#ifdef _WIN32
    return QDir::currentPath();
#else
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? QStringLiteral(".") : name_from_bytes(cwd.native());
#endif
}

}  // namespace pagiro

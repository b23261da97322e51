#include "codepage.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace pagiro {
namespace {

using Converter = IcuConverter;

Converter open_converter(const char* name) { return open_icu_converter(name); }

// Bytes of every UTF-16 code unit in the current code page, built once per code
// page; 0 for a unit the code page does not have.
struct WidthTable {
    std::string name;
    std::array<unsigned char, 65536> bytes{};
};

std::mutex g_mutex;
std::string g_name = "windows-936";
std::shared_ptr<const WidthTable> g_table;
std::atomic<unsigned> g_generation{1};

// Byte counts to table entries: 0 for a unit the code page lacks, else 1 or 2.
unsigned char width_of(bool converted, std::int32_t bytes) { return converted && bytes > 0 ? (bytes >= 2 ? 2 : 1) : 0; }

// Each unit converted on its own: what the table stands for.
void widths_one_by_one(UConverter* conv, WidthTable& table) {
    for (unsigned u = 0; u < 65536; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        char16_t c = static_cast<char16_t>(u);
        char out[8];
        UErrorCode err = U_ZERO_ERROR;
        ucnv_resetFromUnicode(conv);
        const int32_t n = ucnv_fromUChars(conv, out, sizeof out, &c, 1, &err);
        table.bytes[u] = width_of(U_SUCCESS(err), n);
    }
}

// The same in one conversion, a tenth of the time at the start of every run:
// each unit followed by a line feed, so that no two units can join into one
// mapping, units the code page lacks skipped, and every byte written traced back
// to its unit. Only for code pages whose bytes for a unit do not depend on the
// units before it; false leaves the table to the unit-by-unit way.
bool widths_at_once(UConverter* conv, WidthTable& table) {
    switch (ucnv_getType(conv)) {
    case UCNV_SBCS:
    case UCNV_DBCS:
    case UCNV_MBCS:
    case UCNV_LATIN_1:
    case UCNV_US_ASCII:
    case UCNV_UTF8:
        break;
    default:
        return false;
    }
    std::vector<UChar> units;
    units.reserve(2 * 65536);
    for (unsigned u = 0; u < 65536; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        units.push_back(static_cast<UChar>(u));
        units.push_back(u'\n');
    }
    std::vector<char> bytes(units.size() * std::size_t(ucnv_getMaxCharSize(conv)));
    std::vector<std::int32_t> from(bytes.size());
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_SKIP, nullptr, nullptr, nullptr, &err);
    ucnv_resetFromUnicode(conv);
    char* target = bytes.data();
    const UChar* source = units.data();
    ucnv_fromUnicode(conv, &target, bytes.data() + bytes.size(), &source, units.data() + units.size(), from.data(),
                     true, &err);
    if (U_FAILURE(err) || source != units.data() + units.size()) return false;
    for (std::ptrdiff_t k = 0; k < target - bytes.data(); ++k) {
        const std::int32_t at = from[std::size_t(k)];
        if (at < 0 || at % 2 != 0) continue;  // a line feed's bytes
        const char16_t unit = units[std::size_t(at)];
        table.bytes[unit] = static_cast<unsigned char>(std::min(table.bytes[unit] + 1, 2));
    }
    return true;
}

std::shared_ptr<const WidthTable> build_table(const std::string& name) {
    auto table = std::make_shared<WidthTable>();
    table->name = name;
    Converter conv = open_converter(name.c_str());
    if (!conv) throw std::runtime_error("no converter for code page " + name);
    if (!widths_at_once(conv.get(), *table)) {
        table->bytes.fill(0);
        UErrorCode err = U_ZERO_ERROR;
        ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        widths_one_by_one(conv.get(), *table);
    }
    return table;
}

std::shared_ptr<const WidthTable> table() {
    std::lock_guard lock(g_mutex);
    if (!g_table) g_table = build_table(g_name);
    return g_table;
}

std::u16string decode_with(const char* name, std::string_view bytes) {
    Converter conv = open_converter(name);
    if (!conv) throw std::runtime_error(std::string("no converter for ") + name);
    std::u16string out(bytes.size() + 1, u'\0');
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                              static_cast<int32_t>(bytes.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<std::size_t>(n) + 1, u'\0');
        err = U_ZERO_ERROR;
        ucnv_resetToUnicode(conv.get());
        n = ucnv_toUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                          static_cast<int32_t>(bytes.size()), &err);
    }
    if (U_FAILURE(err)) throw std::runtime_error("text conversion failed");
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

void IcuConverterCloser::operator()(UConverter* c) const { ucnv_close(c); }

IcuConverter open_icu_converter(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    IcuConverter c(ucnv_open(name, &err));
    if (U_FAILURE(err)) return nullptr;
    return c;
}

bool set_ansi_codepage(const char* icu_name) {
    if (!open_converter(icu_name)) return false;
    std::lock_guard lock(g_mutex);
    g_name = icu_name;
    g_table.reset();
    g_generation.fetch_add(1);
    return true;
}

std::string ansi_codepage_name() {
    std::lock_guard lock(g_mutex);
    return g_name;
}

unsigned ansi_codepage_generation() { return g_generation.load(std::memory_order_acquire); }

namespace {

// Called for every character of a run: keep the table at hand per thread and
// fetch it again only when the code page was changed.
unsigned char table_bytes(char16_t unit) {
    thread_local std::shared_ptr<const WidthTable> cached;
    thread_local unsigned generation = 0;
    unsigned now = g_generation.load(std::memory_order_acquire);
    if (generation != now) {
        cached = table();
        generation = now;
    }
    return cached->bytes[unit];
}

}  // namespace

int ansi_char_bytes(char16_t unit) { return table_bytes(unit) == 2 ? 2 : 1; }

bool ansi_representable(char16_t unit) { return table_bytes(unit) != 0; }

std::string ansi_encode(std::u16string_view text) {
    auto t = table();
    Converter conv = open_converter(t->name.c_str());
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back('?');
            continue;
        }
        char buf[8];
        UErrorCode err = U_ZERO_ERROR;
        ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        ucnv_resetFromUnicode(conv.get());
        int32_t n = ucnv_fromUChars(conv.get(), buf, sizeof buf, &c, 1, &err);
        if (U_FAILURE(err) || n <= 0)
            out.push_back('?');
        else
            out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::u16string ansi_decode(std::string_view bytes) { return decode_with(ansi_codepage_name().c_str(), bytes); }

std::u16string gb18030_decode(std::string_view bytes) { return decode_with("GB18030", bytes); }

}  // namespace pagiro

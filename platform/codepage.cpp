#include "codepage.h"

#include <unicode/ucnv.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>

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

std::shared_ptr<const WidthTable> build_table(const std::string& name) {
    auto table = std::make_shared<WidthTable>();
    table->name = name;
    Converter conv = open_converter(name.c_str());
    if (!conv) throw std::runtime_error("no converter for code page " + name);
    UErrorCode err = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    for (unsigned u = 0; u < 65536; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        char16_t c = static_cast<char16_t>(u);
        char out[8];
        err = U_ZERO_ERROR;
        ucnv_resetFromUnicode(conv.get());
        int32_t n = ucnv_fromUChars(conv.get(), out, sizeof out, &c, 1, &err);
        table->bytes[u] = U_SUCCESS(err) && n > 0 ? (n >= 2 ? 2 : 1) : 0;
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

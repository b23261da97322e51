#include "xtc_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pagiro::test {
namespace {

struct Bytes {
    std::vector<std::uint8_t> data;

    void need(std::uint64_t at, std::uint64_t size, const char* what) const {
        if (at > data.size() || size > data.size() - at) throw std::runtime_error(std::string(what) + " lies outside the file");
    }
    std::uint64_t le(std::uint64_t at, int size) const {
        need(at, static_cast<std::uint64_t>(size), "a field");
        std::uint64_t v = 0;
        for (int i = size - 1; i >= 0; --i) v = (v << 8) | data[at + static_cast<std::uint64_t>(i)];
        return v;
    }
    std::string text(std::uint64_t at, std::size_t field) const {
        need(at, field, "a text field");
        const char* p = reinterpret_cast<const char*>(&data[at]);
        return std::string(p, strnlen(p, field));
    }
};

ReadPage decode_page(const Bytes& f, std::uint64_t at, std::uint32_t size, int width, int height, bool two_bit) {
    if (size < 22) throw std::runtime_error("a page smaller than its header");
    f.need(at, size, "a page");
    if (std::memcmp(&f.data[at], two_bit ? "XTH\0" : "XTG\0", 4) != 0) throw std::runtime_error("a page with the wrong magic");
    ReadPage page;
    page.width = static_cast<int>(f.le(at + 4, 2));
    page.height = static_cast<int>(f.le(at + 6, 2));
    if (page.width != width || page.height != height) throw std::runtime_error("page size differs from the page table");
    if (f.data[at + 9] != 0) throw std::runtime_error("a compressed page");
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t bitmap = two_bit ? w * ((h + 7) / 8) * 2 : (w + 7) / 8 * h;
    if (size < 22 + bitmap) throw std::runtime_error("a page smaller than its bitmap");
    if (f.le(at + 10, 4) != bitmap) throw std::runtime_error("a page header with the wrong bitmap size");
    const std::uint8_t* bits = &f.data[at + 22];
    page.grey.resize(w * h);
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            std::uint8_t grey;
            if (two_bit) {
                const std::size_t plane = w * ((h + 7) / 8);
                const std::size_t byte = (w - 1 - x) * ((h + 7) / 8) + y / 8;
                const int shift = 7 - static_cast<int>(y % 8);
                const int code = (((bits[byte] >> shift) & 1) << 1) | ((bits[plane + byte] >> shift) & 1);
                static const std::uint8_t grey_of_code[4] = {255, 85, 170, 0};
                grey = grey_of_code[code];
            } else {
                const int bit = (bits[y * ((w + 7) / 8) + x / 8] >> (7 - x % 8)) & 1;
                grey = bit ? 255 : 0;
            }
            page.grey[y * w + x] = grey;
        }
    return page;
}

}  // namespace

ReadBook read_xtc(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + file.string());
    Bytes f{std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {})};
    if (f.data.size() < 56) throw std::runtime_error("shorter than a header");

    ReadBook book;
    if (std::memcmp(f.data.data(), "XTC\0", 4) == 0) book.two_bit = false;
    else if (std::memcmp(f.data.data(), "XTCH", 4) == 0) book.two_bit = true;
    else throw std::runtime_error("not an XTC book");
    if (f.data[4] != 1 || f.data[5] != 0) throw std::runtime_error("unknown version");
    const auto page_count = static_cast<std::size_t>(f.le(6, 2));
    if (page_count == 0) throw std::runtime_error("no pages");
    book.has_metadata = f.data[9] != 0;
    book.has_chapters = f.data[0xB] != 0;
    const std::uint64_t page_table = f.le(0x18, 8);
    if (page_table < 56) throw std::runtime_error("page table inside the header");
    f.need(page_table, page_count * 16, "the page table");

    if (book.has_metadata) {
        book.title = f.text(0x38, 128);
        book.author = f.text(0xB8, 64);
    }
    const std::uint64_t chapter_table = f.le(0x30, 4);
    if (book.has_chapters) {
        if (chapter_table < 56 || chapter_table > page_table) throw std::runtime_error("chapter table outside its place");
        if (book.has_metadata && chapter_table < 0xB8 + 64) throw std::runtime_error("chapter table over the metadata");
        const std::uint64_t count = (page_table - chapter_table) / 96;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = chapter_table + i * 96;
            book.chapters.push_back({f.text(at, 80), static_cast<int>(f.le(at + 0x50, 2)), static_cast<int>(f.le(at + 0x52, 2))});
        }
    }
    for (std::size_t i = 0; i < page_count; ++i) {
        const std::uint64_t entry = page_table + i * 16;
        book.pages.push_back(decode_page(f, f.le(entry, 8), static_cast<std::uint32_t>(f.le(entry + 8, 4)),
                                         static_cast<int>(f.le(entry + 12, 2)), static_cast<int>(f.le(entry + 14, 2)),
                                         book.two_bit));
    }
    return book;
}

}  // namespace pagiro::test

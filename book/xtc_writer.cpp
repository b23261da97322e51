#include "xtc_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "book/book_error.h"
#include "book/utf8_text.h"
#include "book/xtc_page.h"
#include "platform/staged_file.h"

namespace pagiro {
namespace {

constexpr std::size_t header_size = 56;
constexpr std::uint64_t metadata_offset = 0x38;
// Title (128 bytes) and author (64 bytes), then zeros up to 256 bytes, so that a
// reader looking for further fields there finds them empty rather than page data.
constexpr std::size_t metadata_size = 256;
constexpr std::size_t title_field = 128, author_field = 64;
constexpr std::size_t page_header_size = 22;
constexpr std::size_t page_entry_size = 16;
constexpr std::size_t chapter_entry_size = 96;
constexpr std::size_t chapter_name_field = 80;

void put16(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 2; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put32(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Copies `text` into a NUL-padded field, keeping at least one NUL at its end.
void put_text(std::uint8_t* field, std::size_t field_size, const std::string& text) {
    const std::string_view kept = utf8_prefix(text, field_size - 1);
    std::memcpy(field, kept.data(), kept.size());
}

struct PageEntry {
    std::uint64_t offset;
    std::uint32_t size;
    std::uint16_t width, height;
};

}  // namespace

struct XtcWriter::Volume {
    std::unique_ptr<StagedFile> file;
    std::uint32_t first_page = 1;  // in the whole book
    std::uint64_t first_data = 0;
    std::vector<PageEntry> pages;
};

const char* xtc_extension(XtcDepth depth) { return depth == XtcDepth::OneBit ? ".xtc" : ".xtch"; }

std::filesystem::path split_book_path(const std::filesystem::path& book, int index, int count) {
    const int width = std::max<int>(2, static_cast<int>(std::to_string(count).size()));
    std::string number = std::to_string(index);
    number.insert(0, static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(number.size()))), '0');
    std::filesystem::path name = book.stem();
    name += "-" + number;
    name += book.extension();
    return book.parent_path() / name;
}

XtcWriter::XtcWriter(XtcBook book) : book_(std::move(book)) {
    book_.title = clean_utf8(book_.title);
    book_.author = clean_utf8(book_.author);
    if (book_.max_pages_per_file == 0 || book_.max_pages_per_file > 65535) book_.max_pages_per_file = 65535;
    start_volume();
}

XtcWriter::~XtcWriter() = default;  // each volume's staged file removes itself

void XtcWriter::fail(std::string reason) {  // a copy: it may be a volume's own message
    volumes_.clear();
    throw BookError(reason);
}

void XtcWriter::start_volume() {
    auto volume = std::make_unique<Volume>();
    std::filesystem::path folder = book_.path.parent_path();
    if (folder.empty()) folder = ".";
    volume->file = std::make_unique<StagedFile>(folder, std::string(utf8_prefix(book_.path.filename().string(), 200)));
    volume->first_page = pages_ + 1;

    std::vector<std::uint8_t> start(header_size, 0);
    if (!book_.title.empty() || !book_.author.empty()) {
        start.resize(header_size + metadata_size, 0);
        put_text(&start[metadata_offset], title_field, book_.title);
        put_text(&start[metadata_offset + title_field], author_field, book_.author);
    }
    volume->first_data = start.size();
    volume->file->append(start.data(), start.size());
    if (!volume->file->ok()) fail(volume->file->error());
    volumes_.push_back(std::move(volume));
}

void XtcWriter::add_page(const GreyView& page) {
    if (page.empty() || page.width > 65535 || page.height > 65535)
        throw std::invalid_argument("a book page must be 1 to 65535 pixels wide and high");
    if (volumes_.empty()) throw BookError("the book was not written: an earlier step failed");
    const bool two_bit = book_.depth == XtcDepth::TwoBit;
    const std::size_t bitmap = two_bit ? xth_bitmap_size(page.width, page.height) : xtg_bitmap_size(page.width, page.height);
    page_bytes_.assign(page_header_size, 0);
    page_bytes_.resize(page_header_size + bitmap);
    std::memcpy(page_bytes_.data(), two_bit ? "XTH" : "XTG", 4);
    put16(&page_bytes_[4], static_cast<std::uint64_t>(page.width));
    put16(&page_bytes_[6], static_cast<std::uint64_t>(page.height));
    put32(&page_bytes_[10], bitmap);
    (two_bit ? pack_xth : pack_xtg)(page, &page_bytes_[page_header_size]);

    // Room for this page, its table entry and, at most, one chapter entry a page.
    const auto fits = [&](const Volume& v) {
        const std::uint64_t tables = (v.pages.size() + 1) * (page_entry_size + chapter_entry_size);
        return v.file->size() + page_bytes_.size() + tables <= book_.max_file_bytes;
    };
    Volume* volume = volumes_.back().get();
    if (volume->pages.size() == book_.max_pages_per_file || (!volume->pages.empty() && !fits(*volume))) {
        start_volume();
        volume = volumes_.back().get();
    }
    if (!fits(*volume)) fail("a page of " + std::to_string(page_bytes_.size()) + " bytes does not fit in a book file");

    volume->pages.push_back({volume->file->size(), static_cast<std::uint32_t>(page_bytes_.size()),
                             static_cast<std::uint16_t>(page.width), static_cast<std::uint16_t>(page.height)});
    if (!volume->file->append(page_bytes_.data(), page_bytes_.size())) fail(volume->file->error());
    ++pages_;
}

void XtcWriter::seal_volume(Volume& volume, const std::vector<Chapter>& chapters) {
    StagedFile& file = *volume.file;
    const std::uint32_t first = volume.first_page;
    const auto last = static_cast<std::uint32_t>(first + volume.pages.size() - 1);

    const std::uint64_t chapter_offset = file.size();
    std::size_t chapter_count = 0;
    std::array<std::uint8_t, chapter_entry_size> entry;
    for (const Chapter& chapter : chapters) {
        if (chapter.last_page < first || chapter.first_page > last) continue;
        entry.fill(0);
        put_text(entry.data(), chapter_name_field, clean_utf8(chapter.name));
        put16(&entry[0x50], std::max(chapter.first_page, first) - first + 1);
        put16(&entry[0x52], std::min(chapter.last_page, last) - first + 1);
        file.append(entry.data(), entry.size());
        ++chapter_count;
    }

    const std::uint64_t page_table_offset = file.size();
    std::vector<std::uint8_t> table(volume.pages.size() * page_entry_size);
    for (std::size_t i = 0; i < volume.pages.size(); ++i) {
        std::uint8_t* p = &table[i * page_entry_size];
        put64(p, volume.pages[i].offset);
        put32(p + 8, volume.pages[i].size);
        put16(p + 12, volume.pages[i].width);
        put16(p + 14, volume.pages[i].height);
    }
    file.append(table.data(), table.size());
    if (file.size() > book_.max_file_bytes)
        fail("the chapter table does not fit in a book file (" + std::to_string(chapter_count) + " chapters)");

    std::array<std::uint8_t, header_size> header{};
    std::memcpy(header.data(), book_.depth == XtcDepth::TwoBit ? "XTCH" : "XTC", 4);
    header[4] = 1;  // version 1.0
    put16(&header[6], volume.pages.size());
    const bool has_metadata = volume.first_data > header_size;
    header[9] = has_metadata ? 1 : 0;
    header[0xB] = chapter_count > 0 ? 1 : 0;
    put64(&header[0x10], has_metadata ? metadata_offset : 0);
    put64(&header[0x18], page_table_offset);
    put64(&header[0x20], volume.first_data);
    put32(&header[0x30], chapter_count > 0 ? chapter_offset : 0);
    file.write_at(0, header.data(), header.size());
    if (!file.ok()) fail(file.error());
}

std::vector<std::filesystem::path> XtcWriter::finish(const std::vector<Chapter>& chapters) {
    for (const Chapter& c : chapters)
        if (c.first_page < 1 || c.last_page < c.first_page || c.last_page > pages_)
            throw std::invalid_argument("chapter \"" + c.name + "\" has pages " + std::to_string(c.first_page) + " to " +
                                        std::to_string(c.last_page) + " in a book of " + std::to_string(pages_) +
                                        " pages");
    if (volumes_.empty()) throw BookError("the book was not written: an earlier step failed");
    if (pages_ == 0) fail("a book needs at least one page");
    for (auto& volume : volumes_) seal_volume(*volume, chapters);

    std::vector<std::filesystem::path> written;
    const int count = static_cast<int>(volumes_.size());
    for (int i = 0; i < count; ++i) {
        std::filesystem::path target = count == 1 ? book_.path : split_book_path(book_.path, i + 1, count);
        if (!volumes_[static_cast<std::size_t>(i)]->file->commit(target))
            fail(volumes_[static_cast<std::size_t>(i)]->file->error());
        written.push_back(target);
    }
    volumes_.clear();
    return written;
}

}  // namespace pagiro

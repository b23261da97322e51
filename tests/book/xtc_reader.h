#pragma once
// An Xteink book reader for the tests, written from the format's description and
// checking what the readers on the device check before they open a book: the magic
// and version, at least one page, a page table at 56 or later that lies inside the
// file, each page's magic and size, and a chapter table between the header and the
// page table. It counts chapters by the room up to the page table, as they do, and
// decodes every page to grey values. It shares nothing with the writer.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pagiro::test {

struct ReadPage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> grey;  // row by row; 0, 85, 170 or 255 (XTH), 0 or 255 (XTG)
};

struct ReadChapter {
    std::string name;
    int first_page = 0, last_page = 0;
};

struct ReadBook {
    bool two_bit = false;
    bool has_metadata = false, has_chapters = false;
    std::string title, author;
    std::vector<ReadChapter> chapters;
    std::vector<ReadPage> pages;
};

// Reads and checks a whole book; throws std::runtime_error naming the first fault.
ReadBook read_xtc(const std::filesystem::path& file);

}  // namespace pagiro::test

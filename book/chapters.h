#pragma once
// Chapters of a laid-out book as a book's table of contents holds them: a name and the
// range of pages, first and last, numbered from 1.
#include <cstdint>
#include <string>
#include <vector>

namespace pagiro {

// Where a chapter begins, as the layout finds it: its heading and the page it starts on
// (1-based, counted from the book's first page).
struct ChapterStart {
    std::string name;  // UTF-8
    std::uint32_t first_page = 0;
};

struct Chapter {
    std::string name;  // UTF-8
    std::uint32_t first_page = 0;
    std::uint32_t last_page = 0;
};

// Each chapter runs up to the page before the next one's first page; the last runs to
// the book's last page. A chapter that shares its first page with the next one keeps
// just that page. Throws std::invalid_argument when a start lies outside 1 …
// `page_count` or comes before the previous one.
std::vector<Chapter> chapter_table(const std::vector<ChapterStart>& starts, std::uint32_t page_count);

}  // namespace pagiro

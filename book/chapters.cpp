#include "chapters.h"

#include <algorithm>
#include <stdexcept>

namespace pagiro {

std::vector<Chapter> chapter_table(const std::vector<ChapterStart>& starts, std::uint32_t page_count) {
    std::vector<Chapter> table;
    table.reserve(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::uint32_t first = starts[i].first_page;
        if (first < 1 || first > page_count)
            throw std::invalid_argument("chapter \"" + starts[i].name + "\" starts on page " + std::to_string(first) +
                                        " of a book of " + std::to_string(page_count) + " pages");
        if (i > 0 && first < starts[i - 1].first_page)
            throw std::invalid_argument("chapter \"" + starts[i].name + "\" starts before the chapter ahead of it");
        const std::uint32_t next = i + 1 < starts.size() ? starts[i + 1].first_page : page_count + 1;
        table.push_back({starts[i].name, first, std::max(first, next - 1)});
    }
    return table;
}

}  // namespace pagiro

#include "layout.h"

#include <cmath>

namespace pagiro {

PageGeometry page_geometry(double width, double height, double points) {
    PageGeometry g;
    g.em = points * 4 / 3;
    g.cpl = std::floor((width - 4) / g.em);
    g.lpp = std::floor((height - 4) / (g.em + 1));
    g.pitch = std::floor(g.em + 1);
    return g;
}

std::vector<LaidOutPage> paginate(std::u16string_view text, const PageGeometry& geometry, bool drop_empty_lines) {
    std::vector<LaidOutPage> pages;
    std::int32_t i = 1;
    const auto length = static_cast<std::int64_t>(text.size());
    std::u16string line;
    auto always = [] { return true; };
    auto nothing = [] {};
    while (i <= length) {
        LaidOutPage page;
        double n = 0;
        while (n < geometry.lpp && i <= length) {
            build_line(text, i, geometry.cpl, line, always, nothing);
            if (line.empty() && drop_empty_lines) continue;
            page.lines.push_back(line);
            n += 1;
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

}  // namespace pagiro

#include "layout.h"

#include <cmath>

namespace pagiro {

PageStyle classic_page_style(double width, double height, double points) {
    PageStyle g;
    g.left = kClassicMargin;
    g.top = kClassicMargin;
    g.em = points * 4 / 3;
    g.cpl = std::floor((width - kClassicMargin) / g.em);
    g.lpp = std::floor((height - kClassicMargin) / (g.em + 1));
    g.pitch = std::floor(g.em + 1);
    return g;
}

std::optional<double> estimate_pages(const PageStyle& style, std::int64_t text_length) {
    if (style.em == 0 || style.em + 1 == 0) return std::nullopt;
    const double per_page = style.cpl * style.lpp;
    if (per_page == 0 || !std::isfinite(per_page)) return std::nullopt;
    const double pages = std::floor(static_cast<double>(text_length) / per_page);
    if (!std::isfinite(pages)) return std::nullopt;
    return pages;
}

LaidOutPage lay_out_page(std::u16string_view text, const PageStyle& style, bool drop_empty_lines, std::int32_t& i) {
    LaidOutPage page;
    const auto length = static_cast<std::int64_t>(text.size());
    std::u16string line;
    auto always = [] { return true; };
    auto nothing = [] {};
    double n = 0;
    while (n < style.lpp && i <= length) {
        build_line(text, i, style.cpl, line, always, nothing);
        if (line.empty() && drop_empty_lines) continue;
        page.lines.push_back(line);
        n += 1;
    }
    return page;
}

std::vector<LaidOutPage> paginate(std::u16string_view text, const PageStyle& style, bool drop_empty_lines) {
    std::vector<LaidOutPage> pages;
    std::int32_t i = 1;
    while (i <= static_cast<std::int64_t>(text.size())) pages.push_back(lay_out_page(text, style, drop_empty_lines, i));
    return pages;
}

}  // namespace pagiro

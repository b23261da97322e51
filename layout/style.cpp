#include "layout/style.h"

#include <algorithm>
#include <cmath>

namespace pagiro::typeset {
namespace {

int default_margin(const Style& s) {
    return static_cast<int>(std::lround(0.06 * std::min(s.page_width, s.page_height)));
}

int resolve(int margin, const Style& s) { return margin >= 0 ? margin : default_margin(s); }

}  // namespace

int Style::font_pixels() const { return std::max(1, static_cast<int>(std::lround(font_size_pt * 96.0 / 72.0))); }
int Style::heading_pixels() const { return std::max(1, static_cast<int>(std::lround(font_pixels() * heading_scale))); }
int Style::footer_pixels() const { return std::max(1, static_cast<int>(std::lround(font_pixels() * footer_scale))); }
int Style::left() const { return resolve(margin_left, *this); }
int Style::top() const { return resolve(margin_top, *this); }
int Style::right() const { return resolve(margin_right, *this); }
int Style::bottom() const { return resolve(margin_bottom, *this); }

QString Style::check() const {
    if (page_width < 20 || page_height < 20) return QStringLiteral("the page must be at least 20 x 20 pixels");
    if (!(font_size_pt > 0) || font_size_pt > 500) return QStringLiteral("the font size must be above 0 and at most 500 pt");
    if (!(line_spacing >= 0.5) || line_spacing > 10) return QStringLiteral("the line spacing must be between 0.5 and 10");
    if (!(paragraph_spacing >= 0) || paragraph_spacing > 10) return QStringLiteral("the paragraph spacing must be between 0 and 10 ems");
    if (!(indent_ems >= 0) || indent_ems > 10) return QStringLiteral("the indent must be between 0 and 10 ems");
    if (!(heading_scale >= 0.5) || heading_scale > 4) return QStringLiteral("the heading scale must be between 0.5 and 4");
    // Text needs room for a few characters across and one heading line down.
    if (box_width() < 2 * heading_pixels() || box_height() < 2 * heading_pixels())
        return QStringLiteral("the margins leave too little room for the text at this font size");
    return {};
}

}  // namespace pagiro::typeset

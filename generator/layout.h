#pragma once
// The page grid and the line builder. A plain function of the text and the
// settings, so that it can be tested and fuzzed without drawing anything; the
// run loop drives the same pieces with its stop test and message pump.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"

namespace pagiro {

// Where the lines of a page go: the margins the text starts from and the grid of
// columns and lines. The layout reads only this; a page mode fills it in.
struct PageStyle {
    double left = 0;   // left margin: every line starts here, pixels
    double top = 0;    // top margin: the top of the first line's text cell, pixels
    double em = 0;     // pixel size of one column
    double cpl = 0;    // columns per line
    double lpp = 0;    // lines per page
    double pitch = 0;  // line pitch in pixels

    double line_top(int n) const { return pitch * n + top; }
    bool fits() const { return em > 0 && cpl >= 1 && lpp >= 1; }
};

// The classic pages: a 4-pixel margin at the left and the top (and as much again
// taken off the right and the bottom before counting), a column of points * 4 / 3
// pixels, lines counted by em + 1 unrounded but pitched at em + 1 rounded down.
inline constexpr double kClassicMargin = 4;
PageStyle classic_page_style(double width, double height, double points);

// How many pages a text of `text_length` UTF-16 units makes: the length over the
// characters a page holds, rounded down. Nothing when the style holds no
// character or the figures are not finite.
std::optional<double> estimate_pages(const PageStyle& style, std::int64_t text_length);

// The number of columns a character fills: 1 for a character that takes two bytes
// in the ANSI code page, else (also when the code page cannot represent it) 0.5.
inline double char_columns(char16_t c) { return ansi_char_bytes(c) == 2 ? 1.0 : 0.5; }

// Builds one line from 1-based text position `i`, which it advances. Before every
// character it asks `running()` (the stop test) and then calls `pump()`. A carriage
// return ends the line and the character after it is skipped unseen.
template <class Running, class Pump>
void build_line(std::u16string_view text, std::int32_t& i, double cpl, std::u16string& line, Running&& running,
                Pump&& pump) {
    line.clear();
    double col = 1;
    const auto length = static_cast<std::int64_t>(text.size());
    while (col <= cpl && i <= length && running()) {
        pump();
        char16_t c = text[static_cast<std::size_t>(i - 1)];
        ++i;
        if (c == u'\r') {
            ++i;
            break;
        }
        line.push_back(c);
        col += char_columns(c);
    }
}

struct LaidOutPage {
    std::vector<std::u16string> lines;  // the kept lines, slot 0 first
};

// Lays out the page that starts at 1-based text position `i` and advances `i` to
// the start of the next one, as a run that is not stopped does. Requires
// style.fits() and i <= text length.
LaidOutPage lay_out_page(std::u16string_view text, const PageStyle& style, bool drop_empty_lines, std::int32_t& i);

// Lays the whole text out into pages, as a run that is never stopped would.
// Requires style.fits().
std::vector<LaidOutPage> paginate(std::u16string_view text, const PageStyle& style, bool drop_empty_lines);

}  // namespace pagiro

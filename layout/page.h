#pragma once
// A typeset page as data: what the renderer draws, the layout dump lists and the
// preview shows. Positions are in pixels from the page's top-left corner; text
// positions count UTF-16 code units of the source text.
#include <QString>
#include <cstdint>
#include <vector>

namespace pagiro::typeset {

enum class Face { body, heading };

// One cluster of the source (a character with its combining marks, a surrogate
// pair, an emoji sequence) and where its pen position sits on the line.
struct Glyph {
    std::uint32_t offset = 0;  // in the source
    std::uint16_t length = 0;  // UTF-16 code units
    float x = 0;               // pen position
    float advance = 0;
};

struct Line {
    QString text;              // the source from `begin` to `end`
    std::uint32_t begin = 0, end = 0;
    std::uint32_t first_glyph = 0, glyph_count = 0;  // into Page::glyphs
    double x = 0;              // pen position of the first glyph
    double y = 0;              // top of the line's text cell
    double baseline = 0;
    double width = 0;          // from x to the end of the last visible glyph, a hung mark included
    double hang = 0;           // how far a hung closing mark reaches past the text box (0: none)
    Face face = Face::body;
    bool paragraph_end = false;
    bool justified = false;
};

struct Page {
    std::vector<Line> lines;
    std::vector<Glyph> glyphs;
    QString chapter_title;     // the chapter this page belongs to, empty before the first heading
};

struct Chapter {
    QString title;
    int page = 0;              // counted from 1, in the layout's own page order
};

}  // namespace pagiro::typeset

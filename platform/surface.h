#pragma once
// The page drawing surface `gentp`: an off-screen picture of exactly the page size
// that the run clears, prints lines into and then saves or hands to the JPEG
// encoder. Made once per run and reused for every page.
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "background_picture.h"
#include "glyph_cache.h"
#include "pixel_view.h"

namespace pagiro {

// A Windows colour value 0x00BBGGRR (red in the low byte) as a Qt colour.
QColor colour_from_win(std::uint32_t value);
// And back: the Windows colour value of a Qt colour (its alpha dropped).
std::uint32_t win_from_colour(const QColor& colour);

// The pixel height a font of this many points gets on a 96 dpi screen:
// points × 96 / 72, halves away from zero, at least 1.
int font_pixel_size(double points);

// The font pages are drawn with: that pixel size, no anti-aliasing, full hinting
// unless asked otherwise, no kerning (the layout is a fixed grid). A family that is
// not installed, and characters the family lacks, fall back to a Ming face with
// hand-tuned small bitmaps rather than to whatever the system picks: outline-only
// fallbacks lose strokes when drawn in two colours at 12 px.
QFont page_font(const QString& family, double points,
                QFont::HintingPreference hinting = QFont::PreferFullHinting);

// A read-only view of a Format_RGB32 picture's pixels, without a copy.
PixelView view_of(const QImage& image);

class PageSurface {
public:
    PageSurface();
    PageSurface(const PageSurface&) = delete;
    PageSurface& operator=(const PageSurface&) = delete;
    ~PageSurface();

    // The inner drawing area in pixels; at least 1 × 1. The content is undefined
    // until the next clear(). Throws std::bad_alloc when the picture cannot be had.
    void set_size(int width, int height);
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }

    // A picture drawn at the top-left corner at its own size under every page; only
    // the part within the current size is kept (a larger size reads it again). Any size
    // loads that the memory here allows. A blank path removes it. On failure there
    // is no picture and `error` (if given) says why.
    bool set_background_picture(const QString& path, QString* error);
    bool has_background_picture() const { return !background_.isNull() || lent_; }

    void set_font(const QString& family, double points);
    // Full hinting suits most faces; some outline-only CJK faces keep all their
    // strokes at small sizes only without it.
    void set_hinting(QFont::HintingPreference hinting);
    const QFont& font() const { return font_; }
    // The family actually used; differs from the one asked for when that is not installed.
    QString resolved_family() const;

    void set_colors(std::uint32_t text_colour, std::uint32_t background_colour);

    // Fills the page with the background colour, then the background picture. A
    // picture that covers the page and is opaque becomes the page itself, without a
    // copy: the rows the page's text is drawn on are kept aside, and the next page
    // is cleared from this one with those rows put back.
    void clear();
    // Draws a line with the top of its text cell at (left, top), transparently
    // over what is there, within the columns the page grid gives it: a column is
    // points × 4 / 3 pixels, a character the code page holds in two bytes fills
    // one, any other half of one. A character the code page does not have is
    // drawn as "?". A glyph wider than its share of the grid (a one-byte "€" as
    // wide as a Chinese character), or one that would carry the line past the
    // grid (a font whose pixel size rounds up), is drawn in a cell that narrower,
    // squeezed when its ink does not fit; every other character keeps its own
    // advance. No ink goes right of the line's last column.
    void print(int left, int top, const QString& line);
    // Does ahead what drawing the first line would begin with (the code page's
    // table, the font's metrics, the start of Qt's text drawing), so that it can
    // overlap with the reading of a background picture.
    void prepare();
    // Lines are put together from glyphs drawn once (the same pixels, much
    // faster); off, every line is drawn by Qt. On by default.
    void set_glyph_cache(bool on);

    // The pixels (Bgrx32), valid until the next change of size; no copy.
    PixelView view() const;
    const QImage& image() const;

    // Writes the page as a 24-bit BMP file of exactly width × height, complete or
    // not at all (a failed write leaves no file).
    bool save_bmp(const QString& path, QString* error) const;

private:
    QPainter& painter();
    void finish_drawing() const;
    // What print() needs of a character, worked out when first met and found
    // again by one look-up: the character drawn (itself, or "?" when the code
    // page does not have it), the half columns of the grid it takes, its natural
    // advance and the place of its glyph in glyph_cache_.
    struct CharFacts {
        float advance = -1;  // < 0 until worked out
        std::uint16_t glyph = 0;  // 0 until looked up
        std::uint8_t halves = 0;
        bool missing = false;  // drawn as "?"
        char16_t shown(char16_t c) const { return missing ? u'?' : c; }
    };
    CharFacts& facts(char16_t c);
    // Drops what was worked out for the font: the glyphs and the characters' facts.
    void forget_font();
    // Forgets the characters' facts when the code page has changed since.
    void follow_codepage();
    void print_in_cells(int left, int top, const QString& line);
    // The rows a line with its text cell's top at `top` may ink: the glyphs are
    // drawn and measured with two cell heights of room above and below.
    std::pair<int, int> ink_rows(int top) const;
    // Keeps aside the rows of a page that is the background picture's own pixels
    // before a line is drawn on them.
    void keep_rows(int first, int end);
    // Makes background_ the picture again when the page holds its pixels.
    void take_back_background();

    QImage image_;
    QImage background_;         // the part of the picture the page shows
    QString background_path_;
    QSize background_whole_;     // the picture's own size
    QFont font_;
    std::optional<QFontMetricsF> metrics_;  // font_'s, kept for the advances of characters met
    QColor text_colour_;
    QColor background_colour_;
    QFont::HintingPreference hinting_ = QFont::PreferFullHinting;
    int ascent_ = 0;
    double column_ = 12;              // pixels of one column of the page grid
    std::vector<CharFacts> chars_;    // by UTF-16 unit; for font_ and the code page of this generation
    unsigned chars_codepage_ = 0;
    std::vector<double> cell_ends_;   // print(): where each character's cell ends
    std::vector<std::uint16_t> glyph_places_;  // print(): each character's place in glyph_cache_
    bool use_glyph_cache_ = true;
    std::unique_ptr<GlyphCache> glyph_cache_;  // for font_; made when first needed
    QImage blank_;                             // a cleared page, copied by clear()
    bool blank_valid_ = false;
    // The page holds the background picture's own pixels (background_ is empty),
    // except in the rows kept aside: row y is at kept_at_[y] in kept_rows_, or -1.
    bool lent_ = false;
    std::vector<std::ptrdiff_t> kept_at_;
    std::vector<std::uint8_t> kept_rows_;
    int cell_height_ = 12;  // the font's height in pixels
    // Kept open across the lines of a page; closed whenever the pixels are read.
    mutable QPainter painter_;
};

}  // namespace pagiro

#pragma once
// Drawing a line of text fast: each character is drawn once by Qt into a mask,
// and a line is then put together from the masks at the character advances.
// This gives exactly the pixels Qt draws for the whole line as long as text is
// drawn without anti-aliasing, without kerning, with whole-pixel advances and
// without shaping; lines holding anything else (marks, controls, surrogates,
// complex scripts, fractional advances, a pair of Latin letters that the font
// joins into a ligature) are left to Qt.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace pagiro {

class GlyphCache {
public:
    explicit GlyphCache(const QFont& font);

    // Draws `line` with the top of its text cell at (left, top) into a
    // Format_RGB32 image, nothing at or right of x = `right`. Returns false,
    // drawing nothing, when the line must be drawn by Qt instead.
    bool draw_line(QImage& image, int left, int top, const QString& line, QRgb colour, int right);

    // The place of `c` in the cache, rendering it when first met; never 0. A caller
    // that keeps it for the characters it meets saves draw_glyphs the look-up.
    std::uint16_t glyph_index(char16_t c);
    // draw_line for a line whose characters' places are known.
    bool draw_glyphs(QImage& image, int left, int top, const QString& line, std::span<const std::uint16_t> places,
                     QRgb colour, int right);

    // Draws one character inside the cell of `width` pixels from x = `left`: as it
    // is when its ink fits, moved left when only its bearing does not, squeezed
    // from side to side when its ink is wider than the cell. Any character, in
    // whatever face Qt falls back to.
    void draw_in_cell(QImage& image, int left, int width, int top, char16_t c, QRgb colour);

    // Renders `c` now: the first glyph also starts Qt's text drawing.
    void prepare(char16_t c) { glyph(c); }

    // How the rows of a small glyph are inked: a pixel at a time, or a whole row at
    // once with the processor's vector instructions. Every way gives the same pixels;
    // the best the processor has is chosen when the cache is made.
    enum class Inking { plain, sse2, avx2, avx512 };
    static bool supported(Inking inking);
    // For comparing the ways; an unsupported one is ignored.
    void set_inking(Inking inking);
    Inking inking() const { return inking_; }

private:
    // A horizontal stretch of ink, relative to the pen position and the cell top.
    struct Run {
        std::int16_t dy, dx, length;
    };
    // What a line needs of a character is one cache line: the ink of a small
    // character (at most 16 × 20 pixels, the sizes of page text) as one mask a row,
    // bit x for column left + x, inked a row at a time; larger ink, and ink crossing
    // an edge of the page, goes run by run.
    struct alignas(64) Glyph {
        static constexpr int kMaskWidth = 16, kMaskRows = 20;
        int advance = 0;
        std::int16_t left = 0, top = 0, right = 0, bottom = 0;  // the ink's bounds (right and bottom exclusive)
        bool usable = false;
        bool latin_letter = false;  // may form a ligature with a neighbouring one
        std::uint8_t mask_rows = 0;  // rows of `rows` in use; 0 when the ink goes by runs
        std::uint32_t first_run = 0, run_count = 0;  // the ink's runs in runs_
        std::array<std::uint16_t, kMaskRows> rows{};
    };
    static_assert(sizeof(Glyph) == 64);

    const Glyph& glyph(char16_t c);
    // `any`: also a character Qt would shape or take from a fallback face, its
    // grey edges (if any) made ink or background. Its runs are added to runs_.
    Glyph render(char16_t c, bool any);
    std::span<const Run> runs_of(const Glyph& g) const { return {runs_.data() + g.first_run, g.run_count}; }
    // Whether two adjacent letters come out as their two glyphs (no ligature).
    bool pair_is_plain(char16_t a, char16_t b);
    // Inks the glyphs one after the other from the pen at `left`.
    void compose(QImage& image, int left, int top, std::span<const Glyph* const> glyphs, QRgb colour, int right);

    // Inks `count` mask rows, the first at `row` (the ink's top-left pixel).
    using InkRows = void (*)(unsigned char* row, std::ptrdiff_t stride, const std::uint16_t* rows, int count,
                             int width, QRgb colour);

    // The painter, at least width x height pixels, render draws a character with.
    QPainter& scratch(int width, int height);

    QFont font_;
    QFontMetricsF metrics_;
    // Where render draws: kept with its painter for the cache's life, as a new
    // picture and painter for each character cost as much as the drawing.
    QImage scratch_;
    std::unique_ptr<QPainter> painter_;
    Inking inking_ = Inking::plain;
    InkRows ink_rows_ = nullptr;
    // Inking rows `width` pixels wide reads and writes back, unchanged, the pixels up
    // to the next multiple of this: they must be within the picture's row.
    int ink_granule_ = 1;
    int ascent_ = 0;
    int em_ = 0;
    // The glyphs in the order first met, so that the common characters of a text
    // sit close together; never reallocated, so a glyph stays where it is. The
    // first is that of every character the cache cannot draw.
    std::vector<Glyph> glyphs_;
    // By UTF-16 code unit: 1 + the index of its glyph, 0 until first needed.
    std::vector<std::uint16_t> glyph_at_;
    std::vector<Run> runs_;
    // The glyphs of the line draw_glyphs checks, looked up once and inked from here.
    std::vector<const Glyph*> line_glyphs_;
    std::vector<std::uint16_t> line_places_;  // draw_line's
    std::unordered_map<std::uint32_t, bool> plain_pairs_;
    std::unordered_map<char16_t, Glyph> cell_glyphs_;  // for draw_in_cell
};

}  // namespace pagiro

#include "glyph_cache.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <bit>
#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PAGIRO_INK_X86 1
#include <immintrin.h>
#endif

namespace pagiro {
namespace {

// Mask row bit x inks pixel x of the row.
void ink_rows_plain(uchar* row, std::ptrdiff_t stride, const std::uint16_t* rows, int count, int, QRgb colour) {
    for (int y = 0; y < count; ++y, row += stride) {
        QRgb* p = reinterpret_cast<QRgb*>(row);
        for (unsigned m = rows[y]; m != 0; m &= m - 1) p[std::countr_zero(m)] = colour;
    }
}

#if PAGIRO_INK_X86
// Four pixels a step: each nibble of the mask picks its lanes from a table, and
// the step keeps the other lanes' pixels as they were.
constexpr std::array<std::array<std::uint32_t, 4>, 16> nibble_lanes() {
    std::array<std::array<std::uint32_t, 4>, 16> lanes{};
    for (unsigned n = 0; n < 16; ++n)
        for (unsigned lane = 0; lane < 4; ++lane) lanes[n][lane] = (n >> lane & 1) ? 0xFFFFFFFFu : 0;
    return lanes;
}
alignas(16) constexpr auto kNibbleLanes = nibble_lanes();

[[gnu::target("sse2")]] void ink_rows_sse2(uchar* row, std::ptrdiff_t stride, const std::uint16_t* rows, int count,
                                           int width, QRgb colour) {
    const __m128i ink = _mm_set1_epi32(int(colour));
    const int steps = (width + 3) / 4;
    for (int y = 0; y < count; ++y, row += stride) {
        __m128i* p = reinterpret_cast<__m128i*>(row);
        unsigned m = rows[y];
        for (int k = 0; k < steps; ++k, m >>= 4) {
            const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(kNibbleLanes[m & 15].data()));
            const __m128i old = _mm_loadu_si128(p + k);
            _mm_storeu_si128(p + k, _mm_or_si128(_mm_and_si128(lanes, ink), _mm_andnot_si128(lanes, old)));
        }
    }
}

// Eight pixels a step: lane x takes the ink where bit x of the mask byte is set.
[[gnu::target("avx2")]] void ink_rows_avx2(uchar* row, std::ptrdiff_t stride, const std::uint16_t* rows, int count,
                                           int width, QRgb colour) {
    const __m256i ink = _mm256_set1_epi32(int(colour));
    const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const int steps = (width + 7) / 8;
    for (int y = 0; y < count; ++y, row += stride) {
        __m256i* p = reinterpret_cast<__m256i*>(row);
        unsigned m = rows[y];
        for (int k = 0; k < steps; ++k, m >>= 8) {
            const __m256i lanes = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int(m)), bits), bits);
            _mm256_storeu_si256(p + k, _mm256_blendv_epi8(_mm256_loadu_si256(p + k), ink, lanes));
        }
    }
}

// The whole row in one masked store, which touches no pixel outside the mask.
[[gnu::target("avx512f")]] void ink_rows_avx512(uchar* row, std::ptrdiff_t stride, const std::uint16_t* rows,
                                                int count, int, QRgb colour) {
    const __m512i ink = _mm512_set1_epi32(int(colour));
    for (int y = 0; y < count; ++y, row += stride) _mm512_mask_storeu_epi32(row, __mmask16(rows[y]), ink);
}
#endif

// Characters Qt draws one glyph each for, placed at the plain advance.
bool simple_character(QChar c) {
    if (c.isSurrogate() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
        c.isMark() || c.unicode() < 0x20)
        return false;
    switch (c.script()) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
        return true;
    default:
        return false;
    }
}

}  // namespace

GlyphCache::GlyphCache(const QFont& font) : font_(font), metrics_(font_), glyph_at_(65536, 0) {
    // Room for a glyph of every code unit (the memory is only address space until
    // used), so that adding one never moves the others.
    glyphs_.reserve(65536);
    glyphs_.emplace_back();
    QFontMetrics metrics(font_);
    ascent_ = metrics.ascent();
    em_ = std::max(1, metrics.height());
    for (Inking best : {Inking::avx512, Inking::avx2, Inking::sse2, Inking::plain}) {
        if (!supported(best)) continue;
        set_inking(best);
        break;
    }
}

bool GlyphCache::supported(Inking inking) {
#if PAGIRO_INK_X86
    // Asked once, whichever thread makes the first cache.
    struct Features {
        bool avx2, avx512;
    };
    static const Features features = [] {
        __builtin_cpu_init();
        return Features{__builtin_cpu_supports("avx2") != 0, __builtin_cpu_supports("avx512f") != 0};
    }();
    switch (inking) {
    case Inking::avx512: return features.avx512;
    case Inking::avx2: return features.avx2;
    default: return true;  // SSE2 is part of every x86-64 processor
    }
#else
    return inking == Inking::plain;
#endif
}

void GlyphCache::set_inking(Inking inking) {
    if (!supported(inking)) return;
    struct Way {
        InkRows ink;
        int granule;
    };
    Way way{ink_rows_plain, 1};
#if PAGIRO_INK_X86
    switch (inking) {
    case Inking::sse2: way = {ink_rows_sse2, 4}; break;
    case Inking::avx2: way = {ink_rows_avx2, 8}; break;
    case Inking::avx512: way = {ink_rows_avx512, 1}; break;
    case Inking::plain: break;
    }
#endif
    inking_ = inking;
    ink_rows_ = way.ink;
    ink_granule_ = way.granule;
}

GlyphCache::Glyph GlyphCache::render(char16_t c, bool any) {
    Glyph g;
    const QChar qc(c);
    if (!any && !simple_character(qc)) return g;
    const QString s(qc);
    const qreal advance = metrics_.horizontalAdvance(s);
    if (advance < 0 || advance > 8 * em_) return g;
    if (!any && advance != std::floor(advance)) return g;
    g.advance = static_cast<int>(std::ceil(advance));

    // Draw the character alone with room on every side, and keep where it inked.
    // Only this part of the scratch picture counts: ink beyond it is cut off, as
    // at the edge of a picture of just this size.
    const int margin = 2 * em_;
    const int width = g.advance + 2 * margin, height = em_ + 2 * margin;
    QPainter& p = scratch(width, height);
    p.fillRect(0, 0, width, height, Qt::white);
    p.drawText(QPoint(margin, margin + ascent_), s);
    if (any) {
        for (int y = 0; y < height; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(scratch_.scanLine(y));
            for (int x = 0; x < width; ++x) row[x] = qGray(row[x]) < 128 ? 0xFF000000u : 0xFFFFFFFFu;
        }
    }
    int x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int y = 0; y < height; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(scratch_.constScanLine(y));
        // Most rows are paper: one pass the compiler makes wide says so.
        QRgb all = 0xFFFFFFFFu;
        for (int x = 0; x < width; ++x) all &= row[x];
        if (all == 0xFFFFFFFFu) continue;
        for (int x = 0; x < width; ++x) {
            if (row[x] == 0xFFFFFFFFu) continue;
            if (row[x] != 0xFF000000u) return Glyph{};  // anti-aliased after all: leave it to Qt
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    }
    g.usable = true;
    // Fonts form ligatures (fi, fl, ff …) only between letters of a script.
    g.latin_letter = qc.script() == QChar::Script_Latin && qc.isLetter();
    if (x1 < 0) return g;  // no ink: a space
    if (std::max({margin, x1 + 1 - margin, y1 + 1 - margin}) > INT16_MAX) return Glyph{};  // beyond any page
    g.left = std::int16_t(x0 - margin);
    g.top = std::int16_t(y0 - margin);
    g.right = std::int16_t(x1 + 1 - margin);
    g.bottom = std::int16_t(y1 + 1 - margin);
    g.first_run = std::uint32_t(runs_.size());
    for (int y = y0; y <= y1; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(scratch_.constScanLine(y));
        for (int x = x0; x <= x1;) {
            if (row[x] == 0xFFFFFFFFu) {
                ++x;
                continue;
            }
            int end = x;
            while (end <= x1 && row[end] != 0xFFFFFFFFu) ++end;
            runs_.push_back(Run{std::int16_t(y - margin), std::int16_t(x - margin), std::int16_t(end - x)});
            x = end;
        }
    }
    g.run_count = std::uint32_t(runs_.size() - g.first_run);
    if (g.right - g.left <= Glyph::kMaskWidth && g.bottom - g.top <= Glyph::kMaskRows) {
        g.mask_rows = std::uint8_t(g.bottom - g.top);
        for (const Run& r : runs_of(g))
            for (int x = r.dx; x < r.dx + r.length; ++x)
                g.rows[std::size_t(r.dy - g.top)] |= std::uint16_t(1u << (x - g.left));
    }
    return g;
}

QPainter& GlyphCache::scratch(int width, int height) {
    if (!painter_ || scratch_.width() < width || scratch_.height() < height) {
        painter_.reset();
        scratch_ = QImage(std::max(width, scratch_.width()), std::max(height, scratch_.height()), QImage::Format_RGB32);
        painter_ = std::make_unique<QPainter>(&scratch_);
        painter_->setFont(font_);
        painter_->setPen(Qt::black);
        painter_->setBackgroundMode(Qt::TransparentMode);
    }
    return *painter_;
}

const GlyphCache::Glyph& GlyphCache::glyph(char16_t c) { return glyphs_[glyph_index(c) - 1u]; }

std::uint16_t GlyphCache::glyph_index(char16_t c) {
    std::uint16_t& at = glyph_at_[c];
    if (at == 0) {
        Glyph g = render(c, false);
        if (g.usable) {
            glyphs_.push_back(g);
            at = std::uint16_t(glyphs_.size());
        } else {
            at = 1;
        }
    }
    return at;
}

bool GlyphCache::pair_is_plain(char16_t a, char16_t b) {
    const std::uint32_t key = std::uint32_t(a) << 16 | b;
    auto found = plain_pairs_.find(key);
    if (found != plain_pairs_.end()) return found->second;
    const QString pair = QString(QChar(a)) + QChar(b);
    const int width = glyph(a).advance + glyph(b).advance + 4 * em_;
    QImage by_qt(width, 3 * em_, QImage::Format_RGB32), by_us(width, 3 * em_, QImage::Format_RGB32);
    by_qt.fill(Qt::white);
    by_us.fill(Qt::white);
    {
        QPainter p(&by_qt);
        p.setFont(font_);
        p.setPen(Qt::black);
        p.drawText(QPoint(2 * em_, em_ + ascent_), pair);
    }
    const Glyph* const glyphs[] = {&glyph(a), &glyph(b)};
    compose(by_us, 2 * em_, em_, glyphs, qRgb(0, 0, 0), width);
    const bool plain = by_qt == by_us;
    plain_pairs_.emplace(key, plain);
    return plain;
}

bool GlyphCache::draw_line(QImage& image, int left, int top, const QString& line, QRgb colour, int right) {
    line_places_.resize(std::size_t(line.size()));
    for (qsizetype k = 0; k < line.size(); ++k) line_places_[std::size_t(k)] = glyph_index(line[k].unicode());
    return draw_glyphs(image, left, top, line, line_places_, colour, right);
}

bool GlyphCache::draw_glyphs(QImage& image, int left, int top, const QString& line,
                             std::span<const std::uint16_t> places, QRgb colour, int right) {
    bool previous_latin = false;
    line_glyphs_.resize(std::size_t(line.size()));
    for (qsizetype k = 0; k < line.size(); ++k) {
        const Glyph& g = glyphs_[places[std::size_t(k)] - 1u];
        if (!g.usable) return false;
        if (g.latin_letter && previous_latin && !pair_is_plain(line[k - 1].unicode(), line[k].unicode())) return false;
        previous_latin = g.latin_letter;
        line_glyphs_[std::size_t(k)] = &g;
    }
    compose(image, left, top, line_glyphs_, colour, right);
    return true;
}

void GlyphCache::compose(QImage& image, int left, int top, std::span<const Glyph* const> glyphs, QRgb colour,
                         int right) {
    const int page_width = image.width(), w = std::min(page_width, right), h = image.height();
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int granule = ink_granule_;
    int pen = left;
    for (const Glyph* each : glyphs) {
        const Glyph& g = *each;
        const bool inside = pen + g.left >= 0 && pen + g.right <= w && top + g.top >= 0 && top + g.bottom <= h;
        if (inside && g.mask_rows != 0) {
            const int width = g.right - g.left;
            const int touched = (width + granule - 1) / granule * granule;
            uchar* row = bits + (top + g.top) * stride + std::size_t(pen + g.left) * sizeof(QRgb);
            if (pen + g.left + touched <= page_width)
                ink_rows_(row, stride, g.rows.data(), g.mask_rows, width, colour);
            else
                ink_rows_plain(row, stride, g.rows.data(), g.mask_rows, width, colour);
        } else if (inside) {
            for (const Run& r : runs_of(g)) {
                QRgb* p = reinterpret_cast<QRgb*>(bits + (top + r.dy) * stride) + pen + r.dx;
                std::fill_n(p, r.length, colour);
            }
        } else {
            // Partly outside the page: clip every run.
            for (const Run& r : runs_of(g)) {
                const int y = top + r.dy;
                if (y < 0 || y >= h) continue;
                const int x0 = std::max(pen + r.dx, 0), x1 = std::min(pen + r.dx + r.length, w);
                if (x0 >= x1) continue;
                std::fill_n(reinterpret_cast<QRgb*>(bits + y * stride) + x0, x1 - x0, colour);
            }
        }
        pen += g.advance;
    }
}

void GlyphCache::draw_in_cell(QImage& image, int left, int width, int top, char16_t c, QRgb colour) {
    auto found = cell_glyphs_.find(c);
    if (found == cell_glyphs_.end()) found = cell_glyphs_.emplace(c, render(c, true)).first;
    const Glyph& g = found->second;
    if (g.run_count == 0 || width <= 0) return;

    // Source column x of the ink goes to cell column ((x - g.left) * width) / ink
    // when squeezed; a run covers every cell column one of its pixels maps to, so
    // no stroke disappears.
    const int ink = g.right - g.left;
    const bool squeeze = ink > width;
    const int shift = squeeze ? 0 : std::min(std::max<int>(g.left, 0), width - ink) - g.left;
    auto to_cell = [&](int x) { return squeeze ? (x - g.left) * width / ink : x + shift; };

    const int x_end = std::min(image.width(), left + width);
    const qsizetype stride = image.bytesPerLine();
    for (const Run& r : runs_of(g)) {
        const int y = top + r.dy;
        if (y < 0 || y >= image.height()) continue;
        const int x0 = std::max(left + to_cell(r.dx), std::max(left, 0));
        const int x1 = std::min(left + to_cell(r.dx + r.length - 1) + 1, x_end);
        if (x0 >= x1) continue;
        std::fill_n(reinterpret_cast<QRgb*>(image.bits() + y * stride) + x0, x1 - x0, colour);
    }
}

}  // namespace pagiro

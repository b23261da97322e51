// Lines put together from cached glyphs must be exactly the lines Qt draws.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <random>

#include "platform/codepage.h"
#include "platform/glyph_cache.h"
#include "platform/surface.h"
#include "qt_app.h"

namespace pagiro {
namespace {

QString random_line(std::mt19937& rng, int length) {
    static const QString pool = QStringLiteral(
        "的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小么"
        "，。！？；：、“”‘’（）《》…—　０１２ＡＢ"
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?'\"()-fiffl"
        "αβγДЖあいうアイウㄅㄆ");
    QString s;
    for (int k = 0; k < length; ++k) s += pool[int(rng() % unsigned(pool.size()))];
    return s;
}

QImage drawn(bool cached, const QString& family, double points, const QStringList& lines) {
    PageSurface surface;
    surface.set_size(200, 60 * 4 + 40);
    surface.set_font(family, points);
    surface.set_colors(0x203040, 0xF0F8FF);
    surface.set_glyph_cache(cached);
    surface.clear();
    int top = 4;
    for (const QString& line : lines) {
        surface.print(4, top, line);
        top += 22;
    }
    return surface.image().copy();
}

// Lines placed anywhere, partly off the page included.
QImage placed(bool cached, double points, const QStringList& lines, const std::vector<QPoint>& at) {
    PageSurface surface;
    surface.set_size(128, 110);
    surface.set_font("AR PL UMing CN", points);
    surface.set_colors(0x000000, 0xFFFFFF);
    surface.set_glyph_cache(cached);
    surface.clear();
    for (std::size_t k = 0; k < at.size(); ++k) surface.print(at[k].x(), at[k].y(), lines[qsizetype(k) % lines.size()]);
    return surface.image().copy();
}

// A picture of noise: inking that wrote any pixel outside the ink shows.
QImage noise(int width, int height, std::mt19937& rng) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) row[x] = 0xFF000000u | (rng() & 0xFFFFFFu);
    }
    return image;
}

}  // namespace

TEST(GlyphCache, EveryWayOfInkingGivesThePixelsOfThePlainOne) {
    // On noise, in several colours, at every place: lines ending at or past the
    // right edge of pictures whose width is no multiple of the vector widths, lines
    // cut short at `right`, lines crossing the top, bottom and left edges.
    using Inking = GlyphCache::Inking;
    const QFont font = page_font("AR PL UMing CN", 9);
    GlyphCache plain(font);
    plain.set_inking(Inking::plain);
    ASSERT_EQ(plain.inking(), Inking::plain);
    std::mt19937 rng(5);
    int compared = 0;
    for (Inking way : {Inking::sse2, Inking::avx2, Inking::avx512}) {
        if (!GlyphCache::supported(way)) continue;
        GlyphCache cache(font);
        cache.set_inking(way);
        ASSERT_EQ(cache.inking(), way);
        for (int width : {37, 64, 101, 128}) {
            const QImage page = noise(width, 50, rng);
            QImage expected = page, actual = page;
            for (int k = 0; k < 60; ++k) {
                const QString line = random_line(rng, 1 + int(rng() % 12));
                const int left = int(rng() % unsigned(width + 20)) - 20, top = int(rng() % 70) - 20;
                const int right = rng() % 3 == 0 ? left + int(rng() % 80) : width;
                const QRgb colour = 0xFF000000u | (rng() & 0xFFFFFFu);
                const bool drawn = plain.draw_line(expected, left, top, line, colour, right);
                ASSERT_EQ(cache.draw_line(actual, left, top, line, colour, right), drawn);
            }
            ASSERT_NE(expected, page);
            EXPECT_EQ(actual, expected) << "way " << int(way) << ", width " << width;
            ++compared;
        }
    }
    if (compared == 0) GTEST_SKIP() << "this processor has only the plain way";
}

TEST(GlyphCache, LinesAreThePixelsQtDraws) {
    std::mt19937 rng(7);
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"AR PL UMing CN", "WenQuanYi Zen Hei", "DejaVu Sans", "宋体"}) {
        if (QString(family) != "宋体" && !families.contains(family)) continue;
        for (double points : {9.0, 10.0, 11.0, 12.0, 15.0}) {
            for (int round = 0; round < 6; ++round) {
                QStringList lines;
                for (int k = 0; k < 12; ++k) lines << random_line(rng, 1 + int(rng() % 18));
                EXPECT_EQ(drawn(true, family, points, lines), drawn(false, family, points, lines))
                    << family << " " << points << " pt: " << lines.join('|').toStdString();
            }
        }
    }
}

TEST(GlyphCache, LinesAtEveryPlaceAndSizeAreThePixelsQtDraws) {
    // Narrow characters are filled a row at a time, wide ones (large type) run by
    // run, and those crossing an edge of the page clipped: all must match Qt.
    std::mt19937 rng(11);
    for (double points : {9.0, 12.0, 24.0, 30.0, 48.0}) {
        QStringList lines;
        for (int k = 0; k < 8; ++k) lines << random_line(rng, 1 + int(rng() % 10));
        std::vector<QPoint> at;
        for (int k = 0; k < 24; ++k) at.emplace_back(int(rng() % 160) - 40, int(rng() % 150) - 40);
        EXPECT_EQ(placed(true, points, lines, at), placed(false, points, lines, at))
            << points << " pt: " << lines.join('|').toStdString();
    }
}

TEST(GlyphCache, LinesStayThePixelsQtDrawsThroughChangesOfFontHintingAndCodePage) {
    // The surface keeps each character's glyph from line to line: a change of
    // font or code page within a page must not draw with glyphs of before.
    const std::string codepage = ansi_codepage_name();
    auto draw = [&](bool cached) {
        PageSurface s;
        s.set_size(128, 110);
        s.set_font("AR PL UMing CN", 9);
        s.set_glyph_cache(cached);
        s.clear();
        const QString line = QStringLiteral("中文字abc€");
        s.print(2, 2, line);
        s.set_font("AR PL UMing CN", 12);
        s.print(2, 20, line);
        s.set_hinting(QFont::PreferNoHinting);
        s.print(2, 40, line);
        EXPECT_TRUE(set_ansi_codepage("windows-1252"));
        s.print(2, 60, line);
        EXPECT_TRUE(set_ansi_codepage(codepage.c_str()));
        s.print(2, 80, line);
        return s.image().copy();
    };
    const QImage cached = draw(true);
    EXPECT_EQ(cached, draw(false));
    EXPECT_NE(cached.copy(0, 60, 128, 20), cached.copy(0, 80, 128, 20));  // "?" for the characters 1252 lacks
}

TEST(GlyphCache, LinesItCannotDrawAreLeftToQt) {
    // A combining mark, a surrogate pair, a tab, a line feed, Arabic, Thai.
    const QStringList lines{QStringLiteral("e\u0301a"), QStringLiteral("a\U0001F600b"), QStringLiteral("a\tb"),
                            QStringLiteral("a\nb"), QStringLiteral("\u0627\u0644"), QStringLiteral("\u0E01\u0E34")};
    EXPECT_EQ(drawn(true, "AR PL UMing CN", 9, lines), drawn(false, "AR PL UMing CN", 9, lines));
    // Text clipped at the right and bottom edges.
    PageSurface a, b;
    for (PageSurface* s : {&a, &b}) {
        s->set_size(30, 10);
        s->set_font("AR PL UMing CN", 9);
        s->clear();
    }
    b.set_glyph_cache(false);
    a.print(20, 4, "中文字");
    b.print(20, 4, "中文字");
    EXPECT_EQ(a.image(), b.image());
}

}  // namespace pagiro

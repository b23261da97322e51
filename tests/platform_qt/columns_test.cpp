// Lines must stay inside the columns the page grid gives them, whatever the
// characters: the layout counts a character the code page lacks as a "?" of half
// a column, and every other one-byte character as half a column too.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <cmath>
#include <tuple>

#include "platform/codepage.h"
#include "platform/surface.h"
#include "platform/xygraphics.h"
#include "qt_app.h"

namespace pagiro {
namespace {

using test::cjk_family;
using test::ink_box;

const QRgb kPaper = qRgb(255, 255, 255);

// What the layout gives a line: its columns in pixels from the left edge.
double grid_width(const QString& line, double points) {
    double columns = 0;
    for (QChar c : line) columns += ansi_char_bytes(c.unicode()) == 2 ? 1.0 : 0.5;
    return columns * points * 4 / 3;
}

// Lines of up to 19 half columns of characters the layout counts as half a column
// but fonts draw a full column wide, or wider.
QStringList awkward_lines() {
    return {QStringLiteral("今天天气很好♥♥我们去"),
            QStringLiteral("한국어한국어한국어한국어한국어한국어한"),
            QStringLiteral("€€€€€€€€€€€€€€€€€€€"),
            QStringLiteral("♪〜•・♡✔☺♪〜•・♡✔☺♪〜•・♡"),
            QStringLiteral("ภาษาไทยภาษาไทยภาษาไทย"),
            QString::fromUtf8("😀😀😀😀😀😀😀😀😀"),
            QStringLiteral("a€b€c€d€e€f€g€h€i€j"),
            QStringLiteral("中文€中文€WWWMMMmmm"),
            QStringLiteral("天地玄黄宇宙洪荒日月")};
}

QImage printed(const QString& family, double points, bool cached, const QString& line, int width = 400) {
    PageSurface s;
    s.set_size(width, 60);
    s.set_font(family, points);
    s.set_colors(0x000000, 0xFFFFFF);
    s.set_glyph_cache(cached);
    s.clear();
    s.print(4, 4, line);
    return s.image().copy();
}

class LineColumns : public ::testing::TestWithParam<std::tuple<const char*, double, bool>> {};

TEST_P(LineColumns, NoInkRightOfTheLinesLastColumn) {
    const auto [face, points, cached] = GetParam();
    const QString family = *face ? QString::fromUtf8(face) : cjk_family();
    for (const QString& line : awkward_lines()) {
        const QRect ink = ink_box(printed(family, points, cached, line), kPaper);
        ASSERT_FALSE(ink.isEmpty()) << line.toStdString();
        EXPECT_GE(ink.left(), 4) << line.toStdString();
        EXPECT_LT(ink.right(), 4 + std::ceil(grid_width(line, points)))
            << line.toStdString() << " at " << points << " pt";
    }
}

// 9 and 12 pt give whole-pixel columns; at 11 and 14 pt the face's pixel size
// rounds up past the column, so plain Chinese would run ahead of the grid too.
INSTANTIATE_TEST_SUITE_P(FacesAndSizes, LineColumns,
                         ::testing::Combine(::testing::Values("", "WenQuanYi Zen Hei", "DejaVu Sans"),
                                            ::testing::Values(9.0, 11.0, 12.0, 14.0), ::testing::Bool()));

TEST(LineColumns, CharactersTheCodePageLacksAreDrawnAsQuestionMarks) {
    const QString family = cjk_family();
    for (bool cached : {true, false}) {
        EXPECT_EQ(printed(family, 9, cached, QStringLiteral("好♥한ก")), printed(family, 9, cached, QStringLiteral("好???")));
        // An emoji is a pair of UTF-16 units, each of them counted (and drawn) as "?".
        EXPECT_EQ(printed(family, 9, cached, QString::fromUtf8("a😀b")), printed(family, 9, cached, QStringLiteral("a??b")));
    }
}

TEST(LineColumns, AChangedCodePageAppliesToTheNextLineOfTheSameSurface) {
    // A surface keeps what it worked out of each character; a new code page must
    // not leave it drawing with the old one's substitutes and column shares.
    const QString family = cjk_family();
    const QString line = QStringLiteral("好中ab");
    for (bool cached : {true, false}) {
        PageSurface s;
        s.set_size(400, 60);
        s.set_font(family, 9);
        s.set_colors(0x000000, 0xFFFFFF);
        s.set_glyph_cache(cached);
        s.clear();
        s.print(4, 4, line);
        const QImage in_gbk = s.image().copy();
        EXPECT_EQ(in_gbk, printed(family, 9, cached, line));

        ASSERT_TRUE(set_ansi_codepage("windows-1252"));
        s.clear();
        s.print(4, 4, line);
        const QImage in_latin = s.image().copy();
        const QImage expected_latin = printed(family, 9, cached, QStringLiteral("??ab"));
        ASSERT_TRUE(set_ansi_codepage("windows-936"));
        EXPECT_EQ(in_latin, expected_latin);
        EXPECT_NE(in_latin, in_gbk);

        // And back: the Chinese characters are themselves again.
        s.clear();
        s.print(4, 4, line);
        EXPECT_EQ(s.image(), in_gbk);
    }
}

TEST(LineColumns, AWideOneByteCharacterIsSqueezedIntoItsHalfColumn) {
    const QString family = cjk_family();
    // Alone, "€" keeps its strokes but only six pixels of width at 9 pt.
    const QRect euro = ink_box(printed(family, 9, true, QStringLiteral("€")), kPaper);
    ASSERT_FALSE(euro.isEmpty());
    EXPECT_GE(euro.left(), 4);
    EXPECT_LE(euro.right(), 9);
    EXPECT_GE(euro.width(), 4);
    // The characters after it stay on their own columns: "中" after "€€" is where
    // it is after "ab", whose glyphs are half a column each.
    const QImage after_euros = printed(family, 9, true, QStringLiteral("€€中"));
    const QImage after_letters = printed(family, 9, true, QStringLiteral("ab中"));
    EXPECT_EQ(after_euros.copy(16, 0, 60, 60), after_letters.copy(16, 0, 60, 60));
}

TEST(LineColumns, OrdinaryLinesKeepTheGlyphsOwnAdvances) {
    // Where every glyph fits its share the line is drawn exactly as Qt draws it.
    const QString family = cjk_family();
    for (const QString& line : {QStringLiteral("天地玄黄宇宙洪荒日月"), QStringLiteral("Mixed ASCII text 12"),
                                QStringLiteral("中文，English。ABC")}) {
        PageSurface qt_only;
        qt_only.set_size(400, 60);
        qt_only.set_font(family, 9);
        qt_only.set_colors(0x000000, 0xFFFFFF);
        qt_only.clear();
        QImage expected = qt_only.image().copy();
        {
            QPainter p(&expected);
            p.setFont(qt_only.font());
            p.setPen(Qt::black);
            p.drawText(QPoint(4, 4 + QFontMetrics(qt_only.font()).ascent()), line);
        }
        EXPECT_EQ(printed(family, 9, true, line), expected) << line.toStdString();
        EXPECT_EQ(printed(family, 9, false, line), expected) << line.toStdString();
    }
}

TEST(LineColumns, GifPagesKeepToTheColumnsToo) {
    XYGraphics g;
    g.SetFont(cjk_family(), "9", 0, "0", "16777215");
    g.New("128", "110", "16777215");
    const QStringList lines = awkward_lines();
    for (int n = 0; n < 8; ++n) g.SetText(4, 13.0 * n + 4, 100, 0, lines[n]);
    const PixelView v = g.pixels();
    const QImage page(v.data, v.width, v.height, int(v.stride), QImage::Format_RGB32);
    for (int n = 0; n < 8; ++n) {
        const QRect ink = ink_box(page.copy(0, 13 * n + 4, 128, 13), kPaper);
        ASSERT_FALSE(ink.isEmpty()) << n;
        EXPECT_LT(ink.right(), 4 + std::ceil(grid_width(lines[n], 9))) << lines[n].toStdString();
    }
    g.Close();
}

}  // namespace
}  // namespace pagiro

// Line breaking with a fixed-width measurer: where lines end, what may start or
// end them, how full lines are justified.
#include "layout/typeset.h"
#include "support.h"

#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

using test::FixedMeasurer;
using test::fixed_style;

std::vector<QString> lines_of(const QString& text, const Style& style, FixedMeasurer measurer = FixedMeasurer()) {
    return test::line_texts(typeset_all(text, style, measurer));
}

std::vector<Line> all_lines(const QString& text, const Style& style) {
    FixedMeasurer measurer;
    std::vector<Line> out;
    for (const Page& page : typeset_all(text, style, measurer))
        out.insert(out.end(), page.lines.begin(), page.lines.end());
    return out;
}

Style unindented(int columns, int right_margin = 20) {
    Style style = fixed_style(columns);
    style.indent_ems = 0;
    style.page_width += right_margin - style.margin_right;  // the same text box
    style.margin_right = right_margin;
    return style;
}

TEST(LineBreaking, ACommaThatWouldStartALineHangsInTheMargin) {
    const Style style = unindented(5);  // right margin 20: room for a hung 10-pixel mark
    const auto lines = all_lines(QStringLiteral("一二三四五，六七八九十。"), style);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, QStringLiteral("一二三四五，"));
    EXPECT_DOUBLE_EQ(lines[0].hang, 10);
    EXPECT_DOUBLE_EQ(lines[0].x + lines[0].width, 20 + 50 + 10);
    EXPECT_EQ(lines[1].text, QStringLiteral("六七八九十。"));
}

TEST(LineBreaking, WithoutRoomToHangTheLastCharacterMovesDown) {
    const Style style = unindented(5, 5);  // a margin narrower than the mark
    const auto lines = lines_of(QStringLiteral("一二三四五，六七八"), style);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], QStringLiteral("一二三四"));
    EXPECT_EQ(lines[1], QStringLiteral("五，六七八"));
}

TEST(LineBreaking, TwoClosingMarksInARowDoNotHangButMoveDownWithTheirCharacter) {
    // Hanging the full stop would leave the quotation mark to start the next line.
    const auto lines = lines_of(QStringLiteral("一二三四五。”六七"), unindented(5));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], QStringLiteral("一二三四"));
    EXPECT_EQ(lines[1], QStringLiteral("五。”六七"));
}

TEST(LineBreaking, NoLineEndsWithAnOpeningMark) {
    for (const QString& opening : {QStringLiteral("“"), QStringLiteral("《"), QStringLiteral("（"), QStringLiteral("「")}) {
        const auto lines = lines_of(QStringLiteral("一二三四") + opening + QStringLiteral("五六七八九"), unindented(5));
        ASSERT_GE(lines.size(), 2u) << opening.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("一二三四")) << opening.toStdString();
        EXPECT_TRUE(lines[1].startsWith(opening)) << opening.toStdString();
    }
}

TEST(LineBreaking, NoLineStartsWithAnyClosingOrNoStartMark) {
    const Style style = unindented(5, 0);  // nothing may hang: every fix is a push
    for (const QString& mark : {QStringLiteral("，"), QStringLiteral("。"), QStringLiteral("、"), QStringLiteral("；"),
                                QStringLiteral("："), QStringLiteral("？"), QStringLiteral("！"), QStringLiteral("）"),
                                QStringLiteral("」"), QStringLiteral("』"), QStringLiteral("》"), QStringLiteral("”"),
                                QStringLiteral("’"), QStringLiteral("…")}) {
        const auto lines = lines_of(QStringLiteral("一二三四五") + mark + QStringLiteral("六七"), style);
        ASSERT_GE(lines.size(), 2u) << mark.toStdString();
        for (const QString& line : lines) EXPECT_FALSE(line.startsWith(mark)) << mark.toStdString();
    }
}

TEST(LineBreaking, FullCjkLinesAreJustifiedAndTheLastLineIsRagged) {
    // A pushed character leaves a line one cell short; its gaps take up the slack.
    const auto lines = all_lines(QStringLiteral("一二三四五六，七八九"), unindented(6, 0));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, QStringLiteral("一二三四五"));
    EXPECT_TRUE(lines[0].justified);
    EXPECT_NEAR(lines[0].x + lines[0].width, 20 + 60, 1e-3);
    EXPECT_FALSE(lines[1].justified);
    EXPECT_NEAR(lines[1].width, 50, 1e-3);
}

TEST(LineBreaking, JustificationNeverOpensAGapWiderThanAQuarterEm) {
    // "abcdefghij" cannot break and does not fit after 一二: the first line keeps
    // two characters and a slack far above a quarter em.
    Style style = unindented(6);
    FixedMeasurer measurer;
    const auto pages = typeset_all(QStringLiteral("一二abcdefghijk三"), style, measurer);
    const Line& first = pages.at(0).lines.at(0);
    ASSERT_EQ(first.text, QStringLiteral("一二"));
    const Glyph& a = pages[0].glyphs[first.first_glyph];
    const Glyph& b = pages[0].glyphs[first.first_glyph + 1];
    EXPECT_NEAR(b.x - (a.x + a.advance), 2.5, 1e-3);
}

TEST(LineBreaking, LatinLinesAreJustifiedAtTheirSpacesNotBetweenLetters) {
    FixedMeasurer measurer;
    const auto pages = typeset_all(QStringLiteral("aaaa bbbb cccc dddd"), unindented(6), measurer);
    const Page& page = pages.at(0);
    const Line& first = page.lines.at(0);
    ASSERT_EQ(first.text, QStringLiteral("aaaa bbbb "));
    EXPECT_TRUE(first.justified);
    EXPECT_NEAR(first.x + first.width, 20 + 60, 1e-3);
    const Glyph* g = &page.glyphs[first.first_glyph];
    EXPECT_FLOAT_EQ(g[1].x - g[0].x, 5) << "letters of a word keep their advance";
    EXPECT_FLOAT_EQ(g[5].x - g[4].x, 5 + 15) << "the space takes the slack";
}

TEST(LineBreaking, LatinWordsBreakOnlyAtSpacesAndHyphens) {
    const auto lines = lines_of(QStringLiteral("the quick brown fox jumps over a well-known dog"), unindented(6));
    // 60 pixels hold twelve letters of five.
    for (const QString& line : lines) {
        EXPECT_FALSE(line.startsWith(u' ')) << line.toStdString();
        EXPECT_LE(line.trimmed().size(), 12) << line.toStdString();
    }
    // Lines put back together: a space where a line ended at one, nothing after a hyphen.
    QString joined;
    for (const QString& line : lines) {
        if (!joined.isEmpty() && !joined.endsWith(u'-')) joined += u' ';
        joined += line.trimmed();
    }
    EXPECT_EQ(joined, QStringLiteral("the quick brown fox jumps over a well-known dog")) << "a word was cut between lines";
    EXPECT_TRUE(lines.size() >= 4);
}

TEST(LineBreaking, AWordLongerThanTheLineIsBrokenByCharacter) {
    const auto lines = lines_of(QStringLiteral("internationalization"), unindented(4));  // 8 letters a line
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], QStringLiteral("internat"));
    EXPECT_EQ(lines[1], QStringLiteral("ionaliza"));
    EXPECT_EQ(lines[2], QStringLiteral("tion"));
}

TEST(LineBreaking, BlanksAtABreakEndTheLineInsteadOfStartingTheNext) {
    const auto lines = all_lines(QStringLiteral("aaaaaaaa    bbbb"), unindented(4));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, QStringLiteral("aaaaaaaa    "));
    EXPECT_DOUBLE_EQ(lines[0].width, 40) << "trailing blanks take no width";
    EXPECT_EQ(lines[1].text, QStringLiteral("bbbb"));
}

TEST(LineBreaking, ClustersStayWholeAndCharactersOutsideTheBmpAreOne) {
    // 𠀀 (U+20000) is a surrogate pair; e + U+0301 is one accented letter.
    Style style = unindented(3);
    FixedMeasurer measurer;
    const QString text = QStringLiteral("𠀀𠀀𠀀𠀀e\u0301");
    const auto pages = typeset_all(text, style, measurer);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].lines.size(), 2u);
    EXPECT_EQ(pages[0].lines[0].glyph_count, 3u);
    for (const Glyph& glyph : pages[0].glyphs) EXPECT_EQ(glyph.length, 2) << "split at " << glyph.offset;
    EXPECT_EQ(test::coverage_fault(text, pages), "");
}

TEST(LineBreaking, EmojiSequencesAndFlagsAreOneClusterEach) {
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");  // 8 code units
    const QString flag = QStringLiteral("\U0001F1E8\U0001F1F3");
    FixedMeasurer measurer;
    const auto pages = typeset_all(family + flag + flag, unindented(8), measurer);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].glyphs.size(), 3u);
    EXPECT_EQ(pages[0].glyphs[0].length, 8);
    EXPECT_EQ(pages[0].glyphs[1].length, 4);
    EXPECT_EQ(pages[0].glyphs[2].length, 4);
}

TEST(LineBreaking, AnEndlessRunOfCombiningMarksIsCutNotOverflowed) {
    const QString text = QStringLiteral("e") + QString(70000, QChar(0x0301)) + QStringLiteral("f");
    FixedMeasurer measurer;
    const auto pages = typeset_all(text, unindented(8), measurer);
    EXPECT_EQ(test::coverage_fault(text, pages), "");
}

TEST(LineBreaking, AnOpeningMarkRunOfAWholeLineStillBreaks) {
    // Nothing can satisfy every rule here; the line must still end and lose nothing.
    const QString text = QStringLiteral("“““““““““““““““");
    const Style style = unindented(4);
    FixedMeasurer measurer;
    const auto pages = typeset_all(text, style, measurer);
    EXPECT_EQ(test::coverage_fault(text, pages), "");
    EXPECT_GE(test::line_texts(pages).size(), 3u);
}

}  // namespace
}  // namespace pagiro::typeset

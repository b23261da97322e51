// Paragraphs, empty lines, chapters and pages, with a fixed-width measurer.
#include "layout/typeset.h"
#include "support.h"

#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

using test::FixedMeasurer;
using test::fixed_style;

std::vector<Page> pages_of(const QString& text, const Style& style, std::vector<Chapter>* chapters = nullptr) {
    FixedMeasurer measurer;
    return typeset_all(text, style, measurer, chapters);
}

std::vector<Line> lines_of(const std::vector<Page>& pages) {
    std::vector<Line> out;
    for (const Page& page : pages) out.insert(out.end(), page.lines.begin(), page.lines.end());
    return out;
}

constexpr double pitch = 15;  // a 10-pixel em at 1.5

TEST(Paragraphs, EveryKindOfLineBreakEndsAParagraph) {
    const auto lines = lines_of(pages_of(QStringLiteral("一\r\n二\n三\r四\u2029五"), fixed_style(8)));
    ASSERT_EQ(lines.size(), 5u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].paragraph_end);
        EXPECT_DOUBLE_EQ(lines[i].y, 10 + pitch * static_cast<double>(i)) << "no gap between paragraphs";
    }
}

TEST(Paragraphs, AParagraphThatFillsItsLastLineAddsNoEmptyLine) {
    Style style = fixed_style(5);
    style.indent_ems = 0;
    const auto lines = lines_of(pages_of(QStringLiteral("一二三四五六七八九十\r\n甲乙"), style));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_DOUBLE_EQ(lines[2].y - lines[1].y, pitch);
}

TEST(Paragraphs, ARunOfEmptyLinesIsOneGap) {
    const Style style = fixed_style(8);
    for (const char* text : {"一\r\n\r\n二", "一\r\n\r\n\r\n\r\n二", "一\r\n　　 \r\n\r\n二"}) {
        const auto lines = lines_of(pages_of(QString::fromUtf8(text), style));
        ASSERT_EQ(lines.size(), 2u) << text;
        EXPECT_DOUBLE_EQ(lines[1].y - lines[0].y, 2 * pitch) << text;
    }
    // Empty lines before the first paragraph leave no gap at the top.
    const auto lines = lines_of(pages_of(QStringLiteral("\r\n\r\n一"), style));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].y, 10);
}

TEST(Paragraphs, ParagraphSpacingIsAddedAfterEachParagraph) {
    Style style = fixed_style(8);
    style.paragraph_spacing = 0.5;
    const auto lines = lines_of(pages_of(QStringLiteral("一\r\n二"), style));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_DOUBLE_EQ(lines[1].y - lines[0].y, pitch + 5);
}

TEST(Paragraphs, TheFirstLineOfAChineseParagraphIsIndentedTwoEms) {
    const Style style = fixed_style(8);  // left margin 20
    const auto lines =
        lines_of(pages_of(QStringLiteral("一二三四五六七八九\r\n“你好。”\r\nHello there\r\n　　甲乙"), style));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_DOUBLE_EQ(lines[0].x, 40);
    EXPECT_DOUBLE_EQ(lines[1].x, 20) << "only the first line";
    EXPECT_DOUBLE_EQ(lines[2].x, 40) << "a quotation mark before Chinese words";
    EXPECT_DOUBLE_EQ(lines[3].x, 20) << "Latin text";
    EXPECT_DOUBLE_EQ(lines[4].x, 40) << "the author's own indent gives way to ours";
    EXPECT_EQ(lines[4].text, QStringLiteral("甲乙"));
}

TEST(Pages, LinesFillAPageDownToTheBottomMargin) {
    const Style style = fixed_style(4, 6);
    QString text;
    for (int i = 0; i < 20; ++i) text += QStringLiteral("一二\r\n");
    const auto pages = pages_of(text, style);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[0].lines.size(), 6u);
    EXPECT_EQ(pages[3].lines.size(), 2u);
    for (const Page& page : pages) {
        EXPECT_DOUBLE_EQ(page.lines.front().y, 10);
        EXPECT_LE(page.lines.back().y + 11, style.page_height - 10);
    }
    EXPECT_TRUE(pages_of(QString(), style).empty());
    EXPECT_TRUE(pages_of(QStringLiteral("\r\n  \r\n　"), style).empty());
}

TEST(Chapters, AHeadingStartsAPageAndIsRecordedWithIt) {
    const Style style = fixed_style(10, 8);  // room for a heading on one line
    std::vector<Chapter> chapters;
    const auto pages =
        pages_of(QStringLiteral("第一章 起\r\n一二三\r\n第二章 承\r\n\r\n四五六\r\n七八\r\n第三章"), style, &chapters);
    ASSERT_EQ(pages.size(), 3u);
    ASSERT_EQ(chapters.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(chapters[i].page, static_cast<int>(i) + 1);
        EXPECT_EQ(pages[i].lines.front().face, Face::heading);
        EXPECT_EQ(pages[i].lines.front().text, chapters[i].title);
        EXPECT_EQ(pages[i].chapter_title, chapters[i].title);
    }
    EXPECT_EQ(chapters[1].title, QStringLiteral("第二章 承"));
    // One line's gap after a heading, however many empty lines follow it.
    EXPECT_DOUBLE_EQ(pages[1].lines[1].y - pages[1].lines[0].y, 30 + pitch);
}

TEST(Chapters, HeadingsAreCentredAndNotJustified) {
    const Style style = fixed_style(8);
    const auto lines = lines_of(pages_of(QStringLiteral("第一章"), style));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].face, Face::heading);
    EXPECT_DOUBLE_EQ(lines[0].x, 20 + (80 - 60) / 2.0);  // heading cells are twice as wide here
}

TEST(Chapters, WithoutNewPagesAHeadingFollowsTheTextBeforeIt) {
    Style style = fixed_style(8, 8);
    style.heading_new_page = false;
    std::vector<Chapter> chapters;
    const auto pages = pages_of(QStringLiteral("第一章\r\n一二三\r\n第二章\r\n四五六"), style, &chapters);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[1].page, 1);
}

TEST(Pages, TheLayoutGoesOnlyAsFarAsThePagesAskedFor) {
    const QString text = test::generated_novel(200000);
    const Style style = fixed_style(20, 20);
    FixedMeasurer measurer;
    Typesetter typesetter(text, style, measurer);
    const auto first = typesetter.next_page();
    ASSERT_TRUE(first);
    EXPECT_EQ(typesetter.pages_done(), 1);
    EXPECT_EQ(typesetter.chapters().size(), 1u);
    EXPECT_FALSE(typesetter.finished());

    std::vector<Page> streamed{*first};
    while (auto page = typesetter.next_page()) streamed.push_back(std::move(*page));
    EXPECT_TRUE(typesetter.finished());
    EXPECT_FALSE(typesetter.next_page());
    const auto whole = typeset_all(text, style, measurer);
    ASSERT_EQ(streamed.size(), whole.size());
    EXPECT_EQ(test::line_texts(streamed), test::line_texts(whole));
    EXPECT_GT(typesetter.chapters().size(), 30u);
}

}  // namespace
}  // namespace pagiro::typeset

namespace pagiro::typeset {
namespace {

TEST(Pages, ArbitraryTextOnATinyPageLosesNothingAndEnds) {
    // Random code units, line breaks, lone surrogates and marks, on a page of two
    // narrow lines: every line must still take something and drop nothing.
    for (unsigned round = 0; round < 20; ++round) {
        const QString text = test::scrambled_text(3000, round);
        FixedMeasurer measurer;
        const auto pages = typeset_all(text, fixed_style(2, 2), measurer);
        ASSERT_EQ(test::coverage_fault(text, pages), "") << "round " << round;
    }
}

}  // namespace
}  // namespace pagiro::typeset

namespace pagiro::typeset {
namespace {

TEST(PageStyle, MarginsDefaultToSixPercentOfTheShorterSideAndCanBeSetEach) {
    Style style;  // 480 x 800
    EXPECT_EQ(style.left(), 29);
    EXPECT_EQ(style.bottom(), 29);
    style.page_width = 1072;
    style.page_height = 1448;
    EXPECT_EQ(style.top(), 64);
    style.margin_left = 0;
    style.margin_bottom = 100;
    EXPECT_EQ(style.left(), 0);
    EXPECT_EQ(style.right(), 64);
    EXPECT_EQ(style.bottom(), 100);
    EXPECT_EQ(style.box_width(), 1072 - 64);
    EXPECT_EQ(style.font_pixels(), 21);  // 16 pt at 96 dpi
}

TEST(PageStyle, AStyleThatCannotHoldTextSaysWhy) {
    EXPECT_TRUE(Style().check().isEmpty());
    Style tiny;
    tiny.page_width = 128;
    tiny.page_height = 128;
    tiny.font_size_pt = 40;
    EXPECT_TRUE(tiny.check().contains(QStringLiteral("too little room"))) << tiny.check().toStdString();
    Style zero;
    zero.font_size_pt = 0;
    EXPECT_TRUE(zero.check().contains(QStringLiteral("font size"))) << zero.check().toStdString();
    Style tight;
    tight.line_spacing = 0.1;
    EXPECT_TRUE(tight.check().contains(QStringLiteral("line spacing")));
}

}  // namespace
}  // namespace pagiro::typeset

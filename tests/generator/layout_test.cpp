#include <gtest/gtest.h>

#include "generator/layout.h"

using namespace pagiro;

namespace {

std::vector<std::vector<std::u16string>> lines_of(std::u16string_view text, bool drop = false,
                                                  PageStyle g = classic_page_style(128, 110, 9)) {
    std::vector<std::vector<std::u16string>> out;
    for (auto& p : paginate(text, g, drop)) out.push_back(p.lines);
    return out;
}

std::u16string repeat(std::u16string_view s, int n) {
    std::u16string r;
    for (int k = 0; k < n; ++k) r += s;
    return r;
}

}  // namespace

TEST(PageGeometry, DefaultPageAndFractionalEm) {
    PageStyle g = classic_page_style(128, 110, 9);
    EXPECT_EQ(g.em, 12);
    EXPECT_EQ(g.cpl, 10);
    EXPECT_EQ(g.lpp, 8);
    EXPECT_EQ(g.pitch, 13);
    std::vector<double> tops;
    for (int n = 0; n < 8; ++n) tops.push_back(g.line_top(n));
    EXPECT_EQ(tops, (std::vector<double>{4, 17, 30, 43, 56, 69, 82, 95}));

    // 11 pt: em 14.67; lines divide by 15.67 unrounded while the pitch is 15.
    PageStyle f = classic_page_style(128, 110, 11);
    EXPECT_EQ(f.lpp, 6);
    EXPECT_EQ(f.pitch, 15);
    EXPECT_EQ(f.cpl, 8);
    // A height of 20 holds one line; a width of 20 with 13 pt holds no column.
    EXPECT_EQ(classic_page_style(128, 20, 9).lpp, 1);
    EXPECT_FALSE(classic_page_style(20, 110, 13).fits());
    EXPECT_FALSE(classic_page_style(128, 110, 0).fits());
}

TEST(LineBuilding, ColumnsFillByCodePageWidth) {
    // 10 two-byte characters, or 19 one-byte characters, fill a default line.
    auto pages = lines_of(repeat(u"中", 12));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], (std::vector<std::u16string>{repeat(u"中", 10), repeat(u"中", 2)}));
    pages = lines_of(repeat(u"a", 20));
    EXPECT_EQ(pages[0], (std::vector<std::u16string>{repeat(u"a", 19), u"a"}));
    // Mixed: 9 columns used by 18 letters, then a two-byte character still fits.
    pages = lines_of(repeat(u"a", 18) + u"中b");
    EXPECT_EQ(pages[0], (std::vector<std::u16string>{repeat(u"a", 18) + u"中", u"b"}));
    // Characters outside the code page count as "?", half a column; so does each
    // half of a surrogate pair.
    pages = lines_of(repeat(u"한", 20));
    EXPECT_EQ(pages[0][0].size(), 19u);
    pages = lines_of(repeat(u"\U0001F600", 10));
    EXPECT_EQ(pages[0][0].size(), 19u);  // a pair may be split across lines
}

TEST(LineBuilding, LineBreaks) {
    // CR LF ends a line; two in a row make an empty line.
    EXPECT_EQ(lines_of(u"ab\r\ncd")[0], (std::vector<std::u16string>{u"ab", u"cd"}));
    EXPECT_EQ(lines_of(u"ab\r\n\r\ncd")[0], (std::vector<std::u16string>{u"ab", u"", u"cd"}));
    // A lone LF is an ordinary half-column character.
    EXPECT_EQ(lines_of(u"ab\ncd")[0], (std::vector<std::u16string>{u"ab\ncd"}));
    // A lone CR swallows the next character, whatever it is.
    EXPECT_EQ(lines_of(u"ab\rXcd")[0], (std::vector<std::u16string>{u"ab", u"cd"}));
    // A line that fills its columns exactly before CR LF is followed by an empty
    // line: the CR opens the next line and swallows the LF.
    EXPECT_EQ(lines_of(repeat(u"中", 10) + u"\r\nx")[0], (std::vector<std::u16string>{repeat(u"中", 10), u"", u"x"}));
    // Text ending in CR LF leaves no extra line.
    EXPECT_EQ(lines_of(u"ab\r\n")[0], (std::vector<std::u16string>{u"ab"}));
}

TEST(LineBuilding, DroppingEmptyLines) {
    const std::u16string text = u"a\r\n\r\n\r\n  \r\nb";
    EXPECT_EQ(lines_of(text, false)[0], (std::vector<std::u16string>{u"a", u"", u"", u"  ", u"b"}));
    // Every empty line goes, not only repeated ones; a line of spaces stays.
    EXPECT_EQ(lines_of(text, true)[0], (std::vector<std::u16string>{u"a", u"  ", u"b"}));
    EXPECT_EQ(lines_of(u"a\r\n\r\nb", true)[0], (std::vector<std::u16string>{u"a", u"b"}));
}

TEST(Pagination, PagesAndTheLastPage) {
    EXPECT_TRUE(lines_of(u"").empty());
    // 8 lines a page; 20 lines make 3 pages, the last with 4.
    std::u16string text;
    for (int k = 0; k < 20; ++k) text += u"line\r\n";
    auto pages = lines_of(text);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].size(), 8u);
    EXPECT_EQ(pages[2].size(), 4u);
    // The text position runs across pages: a page ends mid-paragraph and the next
    // continues it.
    pages = lines_of(repeat(u"中", 85));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1], (std::vector<std::u16string>{repeat(u"中", 5)}));
    // Only empty lines with dropping on: the text is used up, one page without lines.
    pages = lines_of(u"\r\n\r\n", true);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].empty());
}

TEST(LineBuilding, StopTestComesBeforeEveryCharacter) {
    std::int32_t i = 1;
    std::u16string line;
    int pumps = 0, asks = 0;
    const std::u16string text = u"abcdef";
    build_line(text, i, 10, line, [&] { return ++asks <= 3; }, [&] { ++pumps; });
    EXPECT_EQ(line, u"abc");
    EXPECT_EQ(pumps, 3);
    EXPECT_EQ(i, 4);
}

#include <gtest/gtest.h>

#include <stdexcept>

#include "book/chapters.h"
#include "book/utf8_text.h"

namespace pagiro {
namespace {

std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges(const std::vector<Chapter>& table) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const Chapter& c : table) out.emplace_back(c.first_page, c.last_page);
    return out;
}

using Ranges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST(ChapterTable, EachChapterRunsUpToTheNextAndTheLastToTheBooksEnd) {
    const auto table = chapter_table({{"序", 1}, {"第一章", 3}, {"第二章", 10}}, 12);
    EXPECT_EQ(ranges(table), (Ranges{{1, 2}, {3, 9}, {10, 12}}));
    EXPECT_EQ(table[1].name, "第一章");

    // A book whose text begins before its first heading, and one chapter on the last page.
    EXPECT_EQ(ranges(chapter_table({{"一", 4}, {"二", 7}}, 7)), (Ranges{{4, 6}, {7, 7}}));
    EXPECT_TRUE(chapter_table({}, 5).empty());
}

TEST(ChapterTable, ChaptersStartingOnOnePageEachKeepThatPage) {
    EXPECT_EQ(ranges(chapter_table({{"一", 2}, {"二", 2}, {"三", 2}, {"四", 5}}, 6)),
              (Ranges{{2, 2}, {2, 2}, {2, 4}, {5, 6}}));
}

TEST(ChapterTable, StartsOutsideTheBookOrOutOfOrderAreRefused) {
    EXPECT_THROW(chapter_table({{"零", 0}}, 5), std::invalid_argument);
    EXPECT_THROW(chapter_table({{"六", 6}}, 5), std::invalid_argument);
    EXPECT_THROW(chapter_table({{"二", 3}, {"一", 2}}, 5), std::invalid_argument);
    EXPECT_THROW(chapter_table({{"一", 1}}, 0), std::invalid_argument);
}

TEST(Utf8Text, PrefixesEndBetweenCharacters) {
    const std::string text = "a中文𠀀b";  // 1 + 3 + 3 + 4 + 1 bytes
    EXPECT_EQ(utf8_prefix(text, 100), text);
    EXPECT_EQ(utf8_prefix(text, 12), text);
    EXPECT_EQ(utf8_prefix(text, 11), "a中文𠀀");
    EXPECT_EQ(utf8_prefix(text, 10), "a中文");
    EXPECT_EQ(utf8_prefix(text, 7), "a中文");
    EXPECT_EQ(utf8_prefix(text, 6), "a中");
    EXPECT_EQ(utf8_prefix(text, 3), "a");
    EXPECT_EQ(utf8_prefix(text, 0), "");
}

TEST(Utf8Text, MalformedBytesBecomeReplacementCharacters) {
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(clean_utf8("书名 Title"), "书名 Title");
    EXPECT_EQ(clean_utf8("𠀀"), "𠀀");
    EXPECT_EQ(clean_utf8("a\x80" "b"), "a" + fffd + "b");                 // a stray continuation byte
    EXPECT_EQ(clean_utf8("\xC0\xAF"), fffd + fffd);                       // an overlong "/"
    EXPECT_EQ(clean_utf8("\xED\xA0\x80"), fffd + fffd + fffd);            // a UTF-16 surrogate
    EXPECT_EQ(clean_utf8("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd); // past U+10FFFF
    EXPECT_EQ(clean_utf8("\xE4\xB8"), fffd + fffd);                       // cut short at the end
    EXPECT_EQ(clean_utf8("\xE4\xB8" "a"), fffd + fffd + "a");
    EXPECT_EQ(clean_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace pagiro

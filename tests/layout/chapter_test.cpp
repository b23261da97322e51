// Which lines are chapter headings: the built-in rule and a user's pattern.
#include "layout/chapter.h"

#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

TEST(ChapterHeadings, NumberedChaptersInChineseOrArabicNumeralsAreHeadings) {
    for (const char* line : {"第一章", "第十二章 风起云涌", "第一百零八回　英雄聚义", "第3节", "第２卷：归来",
                             "第五部", "第七篇 尾", "第二十集", "  第一章 灯下的书  ", "第一章灯下的书", "第两千零一章"})
        EXPECT_TRUE(is_chapter_heading(QString::fromUtf8(line))) << line;
}

TEST(ChapterHeadings, EnglishAndNamedSectionsAreHeadings) {
    for (const char* line : {"Chapter 1", "CHAPTER 12 The Return", "chapter iv", "序", "序章", "楔子", "引子 雨夜",
                             "尾声", "后记", "番外", "番外：春天", "番外一 旧事", "序章：开端"})
        EXPECT_TRUE(is_chapter_heading(QString::fromUtf8(line))) << line;
}

TEST(ChapterHeadings, SentencesThatBeginLikeHeadingsAreBodyText) {
    for (const char* line : {"第一回合他就输了", "第一次见面", "他读到第一章就睡了", "第一章写得很好，第二章更好。",
                             "序言", "后来他走了", "番外的故事不算正文吗", "Chapters", "Chapter", "chapter one is long",
                             "第章", "第一", "", "　　",
                             "第一章 这一行远远超过任何一个标题应有的长度所以它是正文而不是标题吧吧吧吧吧吧吧吧"})
        EXPECT_FALSE(is_chapter_heading(QString::fromUtf8(line))) << line;
}

TEST(ChapterHeadings, AUserPatternReplacesTheRule) {
    QString error;
    const auto rule = ChapterRule::from_pattern(QStringLiteral("^卷[一二三]$"), error);
    ASSERT_TRUE(rule) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(rule->matches(QStringLiteral("  卷二 ")));
    EXPECT_FALSE(rule->matches(QStringLiteral("第一章")));
    EXPECT_FALSE(rule->matches(QStringLiteral("   ")));
    EXPECT_TRUE(ChapterRule().matches(QStringLiteral("第一章")));
}

TEST(ChapterHeadings, ABrokenPatternIsRefusedWithTheReason) {
    QString error;
    EXPECT_FALSE(ChapterRule::from_pattern(QStringLiteral("^第(章"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a valid regular expression"))) << error.toStdString();
}

}  // namespace
}  // namespace pagiro::typeset

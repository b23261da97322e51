#include <gtest/gtest.h>

#include "platform/codepage.h"

using namespace pagiro;

TEST(CodePage, WidthsInCodePage936) {
    EXPECT_EQ(ansi_char_bytes(u'A'), 1);
    EXPECT_EQ(ansi_char_bytes(u' '), 1);
    EXPECT_EQ(ansi_char_bytes(u'\n'), 1);
    EXPECT_EQ(ansi_char_bytes(u'中'), 2);
    EXPECT_EQ(ansi_char_bytes(u'，'), 2);  // full-width comma
    EXPECT_EQ(ansi_char_bytes(u'あ'), 2);  // GBK has kana
    // Not in GBK: Hangul syllable, a Thai letter; each counts as "?".
    EXPECT_EQ(ansi_char_bytes(u'한'), 1);
    EXPECT_EQ(ansi_char_bytes(u'\u0E01'), 1);
    // Each half of a surrogate pair is a character of its own that cannot be represented.
    EXPECT_EQ(ansi_char_bytes(char16_t(0xD83D)), 1);
    EXPECT_EQ(ansi_char_bytes(char16_t(0xDE00)), 1);
}

TEST(CodePage, EncodeAndDecodeRoundTrip) {
    std::string bytes = ansi_encode(u"中文A");
    EXPECT_EQ(bytes, std::string("\xD6\xD0\xCE\xC4" "A"));
    EXPECT_EQ(ansi_decode(bytes), u"中文A");
    EXPECT_EQ(ansi_encode(u"a한b"), "a?b");
    EXPECT_EQ(ansi_encode(u"\U0001F600"), "??");
}

TEST(CodePage, SwitchingCodePageChangesWidths) {
    ASSERT_TRUE(set_ansi_codepage("windows-1252"));
    EXPECT_EQ(ansi_char_bytes(u'中'), 1);
    EXPECT_FALSE(set_ansi_codepage("no-such-code-page"));
    EXPECT_EQ(ansi_codepage_name(), "windows-1252");
    ASSERT_TRUE(set_ansi_codepage("windows-936"));
    EXPECT_EQ(ansi_char_bytes(u'中'), 2);
}

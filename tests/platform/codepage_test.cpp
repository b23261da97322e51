#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <cstdint>

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

// Every unit of every kind of code page, against the unit converted on its own.
TEST(CodePage, EveryUnitsWidthIsItsOwnConversions) {
    const std::string before = ansi_codepage_name();
    for (const char* name : {"windows-936", "GB18030", "windows-950", "windows-932", "windows-949", "windows-1252",
                             "UTF-8", "US-ASCII", "ISO-8859-1", "ibm-930", "ISO-2022-JP"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(set_ansi_codepage(name));
        IcuConverter conv = open_icu_converter(name);
        ASSERT_TRUE(conv);
        UErrorCode err = U_ZERO_ERROR;
        ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
        int wrong = 0;
        for (unsigned u = 0; u < 65536; ++u) {
            const char16_t c = static_cast<char16_t>(u);
            char out[8];
            err = U_ZERO_ERROR;
            ucnv_resetFromUnicode(conv.get());
            const std::int32_t n = ucnv_fromUChars(conv.get(), out, sizeof out, &c, 1, &err);
            const bool has = U_SUCCESS(err) && n > 0 && (u < 0xD800 || u > 0xDFFF);
            if (ansi_representable(c) != has || ansi_char_bytes(c) != (has && n >= 2 ? 2 : 1))
                if (++wrong <= 3) ADD_FAILURE() << "unit " << std::hex << u << ": " << std::dec << n << " bytes";
        }
        EXPECT_EQ(wrong, 0);
    }
    ASSERT_TRUE(set_ansi_codepage(before.c_str()));
}

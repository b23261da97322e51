#include "platform/file_names.h"

#include <gtest/gtest.h>

#include <random>

namespace pagiro {
namespace {

TEST(FileNames, UnicodeNamesReadAsUsualAndGoBackAsUtf8) {
    for (const char* name : {"", "novel.txt", "电子书/分卷1", "emoji \xF0\x9F\x93\x96.txt", "\xC3\xA9t\xC3\xA9"}) {
        EXPECT_EQ(name_from_bytes(name), QString::fromUtf8(name)) << name;
        EXPECT_EQ(bytes_of_name(QString::fromUtf8(name)), name);
    }
}

TEST(FileNames, AnyBytesComeBackExactly) {
    // GBK "中文.txt", Latin-1 "café", a cut-off UTF-8 sequence, an overlong "/", an
    // encoded surrogate and a code point past U+10FFFF: none of them UTF-8.
    const std::string cases[] = {
        "\xD6\xD0\xCE\xC4.txt", "caf\xE9", "a\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
        std::string("nul\0byte", 8),
    };
    for (const std::string& bytes : cases) {
        const QString name = name_from_bytes(bytes);
        EXPECT_EQ(bytes_of_name(name), bytes);
        EXPECT_FALSE(name.contains(QChar(0xFFFD)));  // nothing was replaced
    }
    // The readable part stays readable: only the strange bytes are set aside.
    EXPECT_EQ(name_from_bytes("\xD6\xD0.txt").right(4), ".txt");
    EXPECT_EQ(name_from_bytes("\xD6\xD0.txt").size(), 6);

    std::mt19937 rng(13);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(rng() % 24, '\0');
        for (char& c : bytes) c = char(rng());
        ASSERT_EQ(bytes_of_name(name_from_bytes(bytes)), bytes);
    }
}

TEST(FileNames, ATextThatCameFromNoFileStillGoesToSomeName) {
    // A lone surrogate that is not a kept byte has no bytes of its own.
    const QString odd = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
    EXPECT_EQ(bytes_of_name(odd), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(path_of(QStringLiteral("电子书")).native(), "\xE7\x94\xB5\xE5\xAD\x90\xE4\xB9\xA6");
}

}  // namespace
}  // namespace pagiro

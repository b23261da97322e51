#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/textfile.h"

using namespace pagiro;

TEST(TextDecoding, DetectsTheEncoding) {
    // "中文\r\n" in each form.
    EXPECT_EQ(decode_text("\xD6\xD0\xCE\xC4\r\n"), u"中文\r\n");                 // GBK
    EXPECT_EQ(decode_text("\xE4\xB8\xAD\xE6\x96\x87\r\n"), u"中文\r\n");         // UTF-8
    EXPECT_EQ(decode_text("\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87"), u"中文");      // UTF-8 with BOM
    EXPECT_EQ(decode_text(std::string("\xFF\xFE\x2D\x4E\x87\x65", 6)), u"中文");  // UTF-16 LE
    EXPECT_EQ(decode_text(std::string("\xFE\xFF\x4E\x2D\x65\x87", 6)), u"中文");  // UTF-16 BE
    EXPECT_EQ(decode_text("plain\nLF"), u"plain\nLF");
    EXPECT_EQ(decode_text(""), u"");
}

TEST(TextDecoding, GB18030ReadsBeyondGBK) {
    // U+20AC (euro) is one byte 0x80 in code page 936 but four bytes in GB18030.
    EXPECT_EQ(decode_text("\x81\x30\x81\x30", TextEncoding::Gb18030), std::u16string(1, char16_t(0x80)));
}

TEST(TextDecoding, ForcedEncodingOverridesDetection) {
    // Valid UTF-8 bytes read as GBK give other characters.
    EXPECT_NE(decode_text("\xE4\xB8\xAD", TextEncoding::Gbk), u"中");
    EXPECT_EQ(decode_text(std::string("\x2D\x4E", 2), TextEncoding::Utf16), u"中");
    EXPECT_EQ(parse_text_encoding("utf-8"), TextEncoding::Utf8);
    EXPECT_FALSE(parse_text_encoding("latin9").has_value());
}

TEST(TextDecoding, Utf8Validity) {
    EXPECT_TRUE(is_valid_utf8("abc \xE4\xB8\xAD"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(is_valid_utf8("\xE4\xB8"));          // cut short
    EXPECT_FALSE(is_valid_utf8("\xD6\xD0\xCE\xC4"));  // GBK
}

TEST(TextFile, ReadsAndReportsFailures) {
    auto dir = std::filesystem::temp_directory_path() / "pagiro_textfile_test";
    std::filesystem::create_directories(dir);
    auto file = dir / "a.txt";
    std::ofstream(file, std::ios::binary) << "\xD6\xD0\xCE\xC4";
    std::string error;
    auto text = read_text_file(file, TextEncoding::Auto, error);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, u"中文");

    EXPECT_FALSE(read_text_file(dir / "missing.txt", TextEncoding::Auto, error).has_value());
    EXPECT_EQ(error, "no such file");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.txt"));  // nothing created
    EXPECT_FALSE(read_text_file(dir, TextEncoding::Auto, error).has_value());
    std::filesystem::remove_all(dir);
}

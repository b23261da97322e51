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

// ---------------------------------------------------------------------------
// Texts as readers' files hold them: generated here through ICU's own converters
// (not through the reader), in every encoding and line-break style.

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/translit.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <random>

namespace {

namespace fs = std::filesystem;

std::u16string icu_decode(const char* encoding, const std::string& bytes) {
    icu::UnicodeString s(bytes.data(), static_cast<int32_t>(bytes.size()), encoding);
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

// The text in `encoding`; characters the encoding lacks are left out.
std::string icu_encode(const char* encoding, std::u16string_view text) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(encoding, &err);
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_SKIP, nullptr, nullptr, nullptr, &err);
    std::string out(text.size() * 4 + 16, '\0');
    const int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                                      reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &err);
    ucnv_close(conv);
    EXPECT_TRUE(U_SUCCESS(err)) << u_errorName(err);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The 3,755 characters of GB 2312's first level, in code order.
const std::u16string& first_level() {
    static const std::u16string chars = [] {
        std::string bytes;
        for (int lead = 0xB0; lead <= 0xD7; ++lead)
            for (int trail = 0xA1; trail <= (lead == 0xD7 ? 0xF9 : 0xFE); ++trail) {
                bytes += static_cast<char>(lead);
                bytes += static_cast<char>(trail);
            }
        return icu_decode("GB2312", bytes);
    }();
    return chars;
}

const std::u16string kPunctuation = u"，。、！？：；“”‘’《》（）…—";

std::u16string random_text(std::mt19937& rng, int length) {
    std::u16string t;
    for (int k = 0; k < length; ++k) {
        if (rng() % 8 == 0) t += kPunctuation[rng() % kPunctuation.size()];
        else t += first_level()[rng() % first_level().size()];
    }
    return t;
}

// A novel of CR LF paragraphs, some ASCII and empty lines among them.
std::u16string novel(std::size_t units) {
    std::mt19937 rng(7);
    std::u16string t;
    for (int chapter = 1; t.size() < units; ++chapter) {
        t += u"第" + icu_decode("US-ASCII", std::to_string(chapter)) + u"章 Chapter\r\n\r\n";
        for (int p = 0; p < 30; ++p) t += u"　　" + random_text(rng, 20 + static_cast<int>(rng() % 200)) + u"\r\n";
    }
    return t;
}

std::u16string traditional(const std::u16string& simplified) {
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, err));
    EXPECT_TRUE(U_SUCCESS(err)) << u_errorName(err);
    icu::UnicodeString s(reinterpret_cast<const UChar*>(simplified.data()), static_cast<int32_t>(simplified.size()));
    if (t) t->transliterate(s);
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

struct Files {
    fs::path dir = fs::temp_directory_path() / ("pagiro_textfile_" + std::to_string(::getpid()));
    Files() { fs::create_directories(dir); }
    ~Files() { fs::remove_all(dir); }
    fs::path write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }
};

std::optional<SourceText> read(const fs::path& p, TextEncoding e = TextEncoding::Auto,
                               LineBreaks b = LineBreaks::Auto) {
    ReadFailure failure;
    auto s = read_source_text(p, e, b, failure);
    EXPECT_TRUE(s.has_value()) << p << ": " << failure.describe();
    return s;
}

}  // namespace

TEST(Detection, ShortCommonTextsInGbkAndUtf8) {
    std::mt19937 rng(2026);
    int gbk_right = 0, texts = 600;
    std::vector<std::string> wrong;
    for (int n = 0; n < texts; ++n) {
        const std::u16string text = random_text(rng, 1 + n % 30);
        const std::string gbk = icu_encode("GBK", text), utf8 = icu_encode("UTF-8", text);
        if (detect_encoding(gbk) == TextEncoding::Gbk && decode_text(gbk) == text) ++gbk_right;
        else wrong.push_back(utf8);
        EXPECT_EQ(detect_encoding(utf8), TextEncoding::Utf8) << utf8;
        EXPECT_EQ(decode_text(utf8), text) << utf8;
    }
    EXPECT_GE(gbk_right * 100, texts * 99) << "GBK read wrong, e.g. " << (wrong.empty() ? "" : wrong[0]);
}

TEST(Detection, GbkThatIsAlsoValidUtf8IsReadAsGbk) {
    // Common characters whose two GBK bytes also form UTF-8 sequences.
    const std::u16string texts[] = {u"小学同学\r\n小说\r\n", u"一", u"也时要只前头知全女", std::u16string(20000, u'一')};
    for (const std::u16string& text : texts) {
        const std::string gbk = icu_encode("GBK", text);
        ASSERT_TRUE(is_valid_utf8(gbk));
        EXPECT_EQ(detect_encoding(gbk), TextEncoding::Gbk);
        EXPECT_EQ(decode_text(gbk), text);
    }
}

TEST(Detection, NovelsInEveryEncoding) {
    // Larger than the detection sample and than one read, so that characters are cut
    // at both seams.
    const std::u16string text = novel(700 * 1024);
    const std::string big5 = icu_encode("Big5", traditional(text));
    const std::u16string big5_text = icu_decode("Big5", big5);  // what Big5 has of it
    ASSERT_NE(big5_text, text);
    ASSERT_GT(big5_text.size(), text.size() * 99 / 100);
    const std::string utf16le = icu_encode("UTF-16LE", text), utf16be = icu_encode("UTF-16BE", text);
    struct Case {
        const char* name;
        std::string bytes;
        TextEncoding expected;
        const std::u16string& text;
    } cases[] = {
        {"gbk", icu_encode("GBK", text), TextEncoding::Gbk, text},
        {"gb18030 with its mark", "\x84\x31\x95\x33" + icu_encode("GB18030", text), TextEncoding::Gb18030, text},
        {"big5", big5, TextEncoding::Big5, big5_text},
        {"utf-8", icu_encode("UTF-8", text), TextEncoding::Utf8, text},
        {"utf-8 with its mark", "\xEF\xBB\xBF" + icu_encode("UTF-8", text), TextEncoding::Utf8, text},
        {"utf-16le", utf16le, TextEncoding::Utf16Le, text},
        {"utf-16be", utf16be, TextEncoding::Utf16Be, text},
        {"utf-16le with its mark", "\xFF\xFE" + utf16le, TextEncoding::Utf16Le, text},
        {"utf-16be with its mark", "\xFE\xFF" + utf16be, TextEncoding::Utf16Be, text},
    };
    Files files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.bytes.size(), kDetectionSample);
        auto s = read(files.write("novel.txt", c.bytes));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->encoding, c.expected);
        EXPECT_TRUE(s->detected);
        EXPECT_EQ(s->mended_line_breaks, 0u);
        EXPECT_TRUE(s->text == c.text);
    }
}

TEST(Detection, Gb18030ReadsCharactersBeyondGbk) {
    const std::u16string text = u"欧元€与𠀀字\r\n";  // € and U+20000 take four bytes in GB18030
    EXPECT_EQ(decode_text(icu_encode("GB18030", text)), text);
    EXPECT_EQ(decode_text(icu_encode("GB18030", u"第一章" + text)), u"第一章" + text);
}

TEST(Detection, RandomBytesFallBackToTheCodePage) {
    std::mt19937 rng(3);
    std::string bytes(4096, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() | 0x80);
    EXPECT_EQ(detect_encoding(bytes), TextEncoding::Gbk);
    EXPECT_EQ(decode_text(bytes), decode_text(bytes, TextEncoding::Gb18030));
}

TEST(Decoding, AChosenEncodingIsHonouredEvenWhenWrong) {
    const std::string gbk = icu_encode("GBK", u"小学同学");
    EXPECT_EQ(decode_text(gbk, TextEncoding::Utf8), u"Сѧͬѧ");
    EXPECT_EQ(decode_text(gbk, TextEncoding::Big5), icu_decode("Big5", gbk));
    EXPECT_NE(decode_text(gbk, TextEncoding::Big5), u"小学同学");
    EXPECT_EQ(parse_text_encoding("BIG5"), TextEncoding::Big5);
    EXPECT_EQ(parse_text_encoding("utf-16be"), TextEncoding::Utf16Be);
    EXPECT_EQ(parse_line_breaks("crlf"), LineBreaks::Crlf);
    EXPECT_FALSE(parse_line_breaks("lf").has_value());
    // UTF-16 without a mark: the byte order the zero bytes show.
    EXPECT_EQ(decode_text(icu_encode("UTF-16BE", u"第1章\r\n"), TextEncoding::Utf16), u"第1章\r\n");
    EXPECT_EQ(decode_text(icu_encode("UTF-16LE", u"第1章\r\n"), TextEncoding::Utf16), u"第1章\r\n");
}

TEST(Decoding, MarksInsideAreDroppedAndNulsBecomeSpaces) {
    const std::string joined = icu_encode("UTF-8", u"\uFEFF第一卷\r\n") + icu_encode("UTF-8", u"\uFEFF第二卷");
    EXPECT_EQ(decode_text(joined), u"第一卷\r\n第二卷");
    EXPECT_EQ(decode_text(std::string("\xD6\xD0\0\xCE\xC4", 5)), u"中 文");
    EXPECT_EQ(decode_text(std::string("\xFF\xFE\x2D\x4E\0\0\x87\x65", 8)), u"中 文");
}

TEST(LineBreaks, EveryStyleEndsUpAsCrLf) {
    struct Case {
        std::u16string in, out;
        std::size_t mended;
    } cases[] = {
        {u"一\n二\n\n三", u"一\r\n二\r\n\r\n三", 3},
        {u"一\r二\r\r三\r", u"一\r\n二\r\n\r\n三\r\n", 4},
        {u"一\r\n二\n三\r四", u"一\r\n二\r\n三\r\n四", 2},  // mixed: bare LF and lone CR too
        {u"一\r\r\n二\r\r\r\n", u"一\r\n二\r\n", 2},        // a CR doubled before CR LF
        {u"\n", u"\r\n", 1},
        {u"", u"", 0},
    };
    for (auto& c : cases) {
        std::u16string t = c.in;
        EXPECT_EQ(mend_line_breaks(t), c.mended);
        EXPECT_EQ(t, c.out);
    }
}

TEST(LineBreaks, ACrLfFileIsReadAsItIsAndCrlfModeReadsLiterally) {
    Files files;
    const std::u16string text = novel(20000);
    const std::string gbk = icu_encode("GBK", text);
    auto s = read(files.write("crlf.txt", gbk));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->text == text);
    EXPECT_EQ(s->text, decode_text(gbk, TextEncoding::Gbk));

    std::string lf = gbk;
    std::erase(lf, '\r');
    s = read(files.write("lf.txt", lf));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->text == text);
    EXPECT_GT(s->mended_line_breaks, 100u);
    s = read(files.dir / "lf.txt", TextEncoding::Auto, LineBreaks::Crlf);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->text, decode_text(lf));
    EXPECT_EQ(s->mended_line_breaks, 0u);
}

TEST(ReadingFailures, WhatIsNotARegularFileIsRefusedBeforeReading) {
    Files files;
    ReadFailure f;
    EXPECT_FALSE(read_source_text("/proc/self/mem", TextEncoding::Auto, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::NotAFile);
    EXPECT_FALSE(read_source_text("/dev/zero", TextEncoding::Auto, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::NotAFile);
    EXPECT_EQ(f.describe(), "it is not a regular file (a device, pipe, socket or system file)");
    // A pipe nobody writes to: refused at once, not waited on.
    ASSERT_EQ(::mkfifo((files.dir / "pipe.txt").c_str(), 0600), 0);
    EXPECT_FALSE(read_source_text(files.dir / "pipe.txt", TextEncoding::Auto, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::NotAFile);
    EXPECT_FALSE(read_source_text(files.dir, TextEncoding::Auto, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::Folder);
    EXPECT_FALSE(read_source_text(files.dir / "missing.txt", TextEncoding::Auto, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::Missing);
    EXPECT_FALSE(fs::exists(files.dir / "missing.txt"));
}

TEST(ReadingFailures, ATextTooLargeIsRefusedWithItsSize) {
    // A sparse file just over the limit: refused by its size, without reading it.
    Files files;
    const fs::path big = files.dir / "big.txt";
    std::ofstream(big, std::ios::binary) << "\xD6\xD0";
    const std::uint64_t size = kMaxTextBytes + 3;
    fs::resize_file(big, size);
    ReadFailure f;
    EXPECT_FALSE(read_source_text(big, TextEncoding::Gbk, LineBreaks::Auto, f));
    EXPECT_EQ(f.kind, ReadFailure::TooLarge);
    EXPECT_EQ(f.size, size);
    EXPECT_NE(f.describe().find("2048 MB (2147483648 bytes)"), std::string::npos) << f.describe();
}

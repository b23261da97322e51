// Source texts as readers' files come: every line-break style, the encodings the
// reader tells apart, and files that cannot be read at all.
#include <sys/stat.h>

#include "cli_support.h"
#include "text_samples.h"

namespace {

// Pages of gbk_novel(300) with CR LF line breaks and the default settings, as the
// program made them before it learnt other line breaks and encodings.
constexpr std::uint64_t kNovelJpg = 0xdd38cafe79026b53ull;
constexpr std::uint64_t kNovelBmp = 0xec2d698b87d36d39ull;
constexpr std::uint64_t kNovelGif = 0x41b1c5b8c6670232ull;

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (s.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

struct TextInput : Cli {
    std::uint64_t pages_of(const std::string& file, const std::string& format, std::vector<std::string> more = {}) {
        const std::string out = "pages_" + file + "_" + format;
        std::vector<std::string> args{"convert", file, "-o", out, "--format", format, "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        Result r = run(args);
        EXPECT_EQ(r.code, 0) << file << ": " << r.err;
        return pages_fingerprint(dir / out);
    }
};

}  // namespace

TEST_F(TextInput, ACrLfGbkNovelGivesTheSamePagesAsAlways) {
    write("novel.txt", gbk_novel(300));
    EXPECT_EQ(pages_of("novel.txt", "jpg"), kNovelJpg);
    EXPECT_EQ(pages_of("novel.txt", "bmp"), kNovelBmp);
    EXPECT_EQ(pages_of("novel.txt", "gif"), kNovelGif);
    EXPECT_EQ(pages_of("novel.txt", "bmp", {"--line-breaks", "crlf", "--encoding", "gbk"}), kNovelBmp);
}

TEST_F(TextInput, LfCrAndMixedLineBreaksGiveTheSamePagesAsCrLf) {
    const std::string crlf = gbk_novel(300);
    const std::string lf = replaced(crlf, "\r\n", "\n");
    write("lf.txt", lf);
    write("cr.txt", replaced(crlf, "\r\n", "\r"));
    // Every third line break a bare LF, every other one after that a lone CR where
    // a line's text follows it (a CR before a line break is taken for a doubled CR).
    std::string mixed;
    int k = 0;
    for (std::size_t i = 0; i < lf.size(); ++i) {
        const bool text_follows = i + 1 < lf.size() && lf[i + 1] != '\n';
        if (lf[i] != '\n') mixed += lf[i];
        else if (++k % 3 == 0) mixed += "\n";
        else mixed += k % 2 && text_follows ? "\r" : "\r\n";
    }
    write("mixed.txt", mixed);
    for (const char* file : {"lf.txt", "cr.txt", "mixed.txt"}) EXPECT_EQ(pages_of(file, "bmp"), kNovelBmp) << file;

    // crlf: the literal reading, where an LF is a character like any other.
    EXPECT_NE(pages_of("lf.txt", "bmp", {"--line-breaks", "crlf"}), kNovelBmp);
}

TEST_F(TextInput, TheFirstLineSaysHowTheTextIsRead) {
    write("novel.txt", replaced(gbk_novel(20), "\r\n", "\n"));
    Result r = run({"convert", "novel.txt", "-o", "a", "--format", "bmp"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("reading novel.txt as GBK (detected), ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" line breaks read as CR LF\npage 1"), std::string::npos) << r.err;

    // The user's choice is honoured, even a wrong one.
    r = run({"convert", "novel.txt", "-o", "b", "--format", "bmp", "--encoding", "big5", "--line-breaks", "crlf"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("reading novel.txt as Big5\n", 0), 0u) << r.err;

    r = run({"convert", "novel.txt", "-o", "c", "--line-breaks", "lf"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--line-breaks must be auto or crlf, not \"lf\""), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "c"));
}

TEST_F(TextInput, WhatIsNotARegularFileIsRefusedWithAMessage) {
    ASSERT_EQ(::mkfifo((dir / "pipe.txt").c_str(), 0600), 0);
    fs::create_directories(dir / "folder.txt");
    in_child = [] { alarm(60); };  // a reader that blocks must not hang the tests
    for (std::string source : {"/proc/self/mem", "/dev/zero", "pipe.txt"}) {
        Result r = run({"convert", source, "-o", "out"});
        EXPECT_EQ(r.code, 1) << source << ": " << r.err;
        EXPECT_EQ(r.err, "pagiro: cannot read " + source +
                             ": it is not a regular file (a device, pipe, socket or system file)\n");
    }
    Result r = run({"convert", "folder.txt", "-o", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "pagiro: cannot read folder.txt: it is a folder, not a file\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(TextInput, ATextTooLargeOrBeyondTheMemoryIsRefusedWithItsSize) {
    // Just over 2 GiB, sparse: refused by its size before a byte is read.
    {
        std::ofstream(dir / "huge.txt", std::ios::binary) << gbk_novel(10);
    }
    fs::resize_file(dir / "huge.txt", (std::uint64_t{1} << 31) + 4096);
    Result r = run({"convert", "huge.txt", "-o", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read huge.txt: the text is too large: 2049 MB (2147487744 bytes)"), std::string::npos)
        << r.err;
    fs::remove(dir / "huge.txt");

#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit and AddressSanitizer's shadow memory do not go together";
#else
    // 200 MB of text with 400 MB of address space for the whole program.
    {
        std::ofstream big(dir / "big.txt", std::ios::binary);
        const std::string part = gbk_novel(2000);
        for (std::size_t n = 0; n < 200u << 20; n += part.size()) big << part;
    }
    in_child = [] {
        rlimit limit{400u << 20, 400u << 20};
        setrlimit(RLIMIT_AS, &limit);
    };
    r = run({"convert", "big.txt", "-o", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read big.txt: there is not enough memory to read its 2"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
#endif
}

// Runs into a folder an earlier run has used, and several texts in one command.
#include <algorithm>

#include "cli_support.h"

namespace {

std::string utf8_lines(const std::string& line, int n) {
    std::string t;
    for (int k = 0; k < n; ++k) t += line + std::to_string(k) + "\n";
    return t;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST_F(Cli, StalePagesAreToldAndCleanRemovesOnlyThem) {
    write("long.txt", utf8_lines("第一本书", 100));  // 13 pages
    write("short.txt", utf8_lines("第二本书", 30));  // 4 pages
    ASSERT_EQ(run({"convert", "long.txt", "-o", "out", "--format", "bmp", "--quiet"}).code, 0);
    // Files beside the old pages that are not pages of a run with this prefix and format.
    const std::vector<std::string> mine{"kbwm000013.jpg", "other000013.bmp", "kbwm00001x.bmp", "kbwm0000013.bmp",
                                        "cover.bmp", "kbwm000013.bmp.bak"};
    for (const auto& name : mine) write("out/" + name, "mine: " + name);
    fs::create_directories(dir / "out" / "kbwm000014.bmp");

    Result r = run({"convert", "short.txt", "-o", "out", "--format", "bmp", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("pagiro: warning: 9 older pages past this run's last page remain in out "
                         "(kbwm000005.bmp to kbwm000013.bmp); --clean removes them"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(files(dir / "out").size(), 13u + mine.size());
    EXPECT_EQ(count_of(r.out, "\n"), 4u) << "the summary keeps its four lines: " << r.out;

    r = run({"convert", "short.txt", "-o", "out", "--format", "bmp", "--quiet", "--clean"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("removed 9 older pages past this run's last page from out (kbwm000005.bmp to kbwm000013.bmp)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    std::set<std::string> expected{"kbwm000001.bmp", "kbwm000002.bmp", "kbwm000003.bmp", "kbwm000004.bmp"};
    expected.insert(mine.begin(), mine.end());
    EXPECT_EQ(files(dir / "out"), expected);
    for (const auto& name : mine) EXPECT_EQ(slurp(dir / "out" / name), "mine: " + name);
    EXPECT_TRUE(fs::is_directory(dir / "out" / "kbwm000014.bmp"));

    // Nothing stale: nothing said, with or without --clean.
    r = run({"convert", "short.txt", "-o", "out", "--format", "bmp", "--quiet", "--clean"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, SeveralTextsAreBooksOfTheirOwnAndAFailingOneDoesNotStopTheRest) {
    write("A.txt", utf8_lines("第一本书", 100));  // 13 pages
    fs::create_directories(dir / "B.txt");         // cannot be read
    write("C.txt", utf8_lines("第三本书", 30));    // 4 pages
    for (const std::string jobs : {"1", "3"}) {
        fs::remove_all(dir / "lib");
        Result r = run({"convert", "A.txt", "B.txt", "C.txt", "-o", "lib", "--format", "bmp", "--jobs", jobs});
        EXPECT_EQ(r.code, 1) << "jobs " << jobs << "\n" << r.err;
        EXPECT_EQ(files(dir / "lib" / "A").size(), 13u) << jobs;
        EXPECT_EQ(files(dir / "lib" / "C").size(), 4u) << jobs;
        EXPECT_TRUE(fs::exists(dir / "lib" / "A" / "kbwm000001.bmp"));
        EXPECT_FALSE(fs::exists(dir / "lib" / "B")) << jobs;
        // One message, for the book that failed; a summary for each of the others.
        EXPECT_EQ(count_of(r.err, "pagiro:"), 1u) << r.err;
        EXPECT_NE(r.err.find("pagiro: cannot read B.txt: it is a folder"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("A.txt -> lib/A\n电子书生成完毕!\n共生成图片13张\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("C.txt -> lib/C\n电子书生成完毕!\n共生成图片4张\n"), std::string::npos) << r.out;
        EXPECT_EQ(count_of(r.out, "电子书生成完毕!"), 2u) << r.out;
    }
    // Books side by side write the same pages as one after the other.
    fs::rename(dir / "lib", dir / "side");
    Result r = run({"convert", "A.txt", "C.txt", "-o", "lib", "--format", "bmp", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (const std::string& p : files(dir / "lib")) EXPECT_EQ(slurp(dir / "lib" / p), slurp(dir / "side" / p)) << p;
    EXPECT_EQ(files(dir / "lib"), files(dir / "side"));
}

TEST_F(Cli, LibrariesRefuseWhatWouldMixBooks) {
    write("A.txt", "abc");
    fs::create_directories(dir / "sub");
    write("sub/A.txt", "def");
    Result r = run({"convert", "A.txt", "sub/A.txt", "-o", "lib"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("A.txt and sub/A.txt would share the book folder \"A\""), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "lib"));
    for (const std::string bad : {"0", "65", "two"}) {
        r = run({"convert", "A.txt", "sub/A.txt", "-o", "lib", "--jobs", bad});
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.err.find("--jobs must be"), std::string::npos) << r.err;
    }
    // The books' folder is made like a single book's: its parent must exist.
    write("B.txt", "ghi");
    r = run({"convert", "A.txt", "B.txt", "-o", "missing/lib"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot create the output folder missing/lib: its parent folder does not exist"),
              std::string::npos)
        << r.err;
}

TEST_F(Cli, CleanRemovesStalePagesAfterATypesetRunToo) {
    write("short.txt", utf8_lines("第二本书", 10));  // one typeset page
    fs::create_directories(dir / "out");
    for (const char* name : {"kbwm000050.png", "kbwm000051.png", "cover.png"}) write(std::string("out/") + name, name);

    Result r = run({"convert", "short.txt", "-o", "out", "--layout", "typeset", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("2 older pages past this run's last page remain"), std::string::npos) << r.err;

    r = run({"convert", "short.txt", "-o", "out", "--layout", "typeset", "--quiet", "--clean"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "out"), (std::set<std::string>{"kbwm000001.png", "cover.png"}));
}

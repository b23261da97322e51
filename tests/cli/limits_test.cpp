// The edges of what the command line takes: the threads it can start, the page
// sizes that fit the format and the machine, names that are not UTF-8, a
// background picture that is no file, and values that only look right.
#include <grp.h>
#include <sys/stat.h>

#include <map>

#include <QImage>

#include "cli_support.h"

namespace {

constexpr uid_t kNobody = 65534;

struct Limits : Cli {
    // Waits for the program at most `seconds`; a program still running then is
    // killed and reported as code -1.
    Result finish_within(pid_t pid, int seconds) {
        for (int k = 0; k < seconds * 20; ++k) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                Result r;
                r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
                r.out = slurp(dir / "stdout");
                r.err = slurp(dir / "stderr");
                return r;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        Result r;
        r.err = slurp(dir / "stderr");
        return r;
    }
    // Every file below a folder with its bytes.
    std::map<std::string, std::string> contents(const fs::path& folder) {
        std::map<std::string, std::string> out;
        for (const std::string& f : files(folder)) out[f] = slurp(folder / f);
        return out;
    }
};

}  // namespace

TEST_F(Limits, ARunGoesOnWithTheThreadsItCanStart) {
    write("a.txt", gbk_lines(200));  // 25 pages
    Result r = run({"convert", "a.txt", "-o", "free", "--format", "jpg", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto expected = contents(dir / "free");
    ASSERT_EQ(expected.size(), 25u);

    // As a user with no other process and a process limit of 1 (no thread can start
    // beside the program's own) or 2 (one worker starts, the next does not). Not as
    // root, whom the limit does not bind; where we are not root, our own processes
    // already pass the limit, so no thread starts at all.
    const bool root = getuid() == 0;
    if (root) {
        fs::permissions(dir, fs::perms::all);
        fs::permissions(dir / "a.txt", fs::perms::owner_all | fs::perms::others_read);
    }
    for (rlim_t limit : {rlim_t(1), rlim_t(2)}) {
        SCOPED_TRACE(limit);
        in_child = [root, limit] {
#if defined(__SANITIZE_ADDRESS__)
            // The leak check at exit runs on a thread of its own, which the limit forbids.
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
            if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(120);
            rlimit l{limit, limit};
            setrlimit(RLIMIT_NPROC, &l);
        };
        const std::string out = "limited" + std::to_string(limit);
        r = run({"convert", "a.txt", "-o", out, "--format", "jpg", "--quiet"});
        ASSERT_NE(r.code, 120) << "cannot become nobody";
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("共生成图片25张"), std::string::npos) << r.out;
        // The same pages, byte for byte, as with every thread.
        EXPECT_TRUE(contents(dir / out) == expected);
    }
}

TEST_F(Limits, PagesLargerThanTheFormatHoldsAreBadUsage) {
    write("a.txt", "abc");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--format", "jpg", "--width", "65501"}, "a 65501 x 110 page is too large: JPG pages are at most 65500 pixels"},
        {{"--format", "gif", "--height", "100000"}, "GIF pages are at most 65535 pixels each way"},
        {{"--format", "bmp", "--width", "30000", "--height", "30000"}, "its BMP file would pass the 2.0 GB"},
        // The format may come after the size.
        {{"--width", "70000", "--format", "jpg"}, "JPG pages are at most 65500 pixels"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args{"convert", "a.txt", "-o", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = run(args);
        EXPECT_EQ(r.code, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("choose a smaller --width or --height"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
    // Up to the bound they are made, and read back at their size.
    for (auto [format, side] : {std::pair{"jpg", 65500}, std::pair{"gif", 65535}}) {
        Result r = run({"convert", "a.txt", "-o", format, "--format", format, "--width", std::to_string(side),
                        "--height", "20", "--quiet"});
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string page = (dir / format / ("kbwm000001." + std::string(format))).string();
        EXPECT_EQ(QImage(QString::fromStdString(page)).size(), QSize(side, 20)) << format;
    }
    Result r = run({"convert", "a.txt", "-o", "wider", "--format", "bmp", "--width", "70000", "--height", "20", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / "wider" / "kbwm000001.bmp"), 54u + 70000u * 3u * 20u);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Limits, PagesLargerThanTheMemoryAreBadUsage) {
    write("a.txt", "abc");
    // 1 GB of address space: a 20000 x 20000 page alone takes 1.6 GB.
    in_child = [] {
        rlimit limit{1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &limit);
    };
    for (const char* format : {"jpg", "gif", "bmp"}) {
        Result r = run({"convert", "a.txt", "-o", "out", "--format", format, "--width", "20000", "--height", "20000"});
        EXPECT_EQ(r.code, 2) << format << r.err;
        EXPECT_NE(r.err.find("a 20000 x 20000 page is too large for the memory here: making such pages needs about"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("address-space limit (ulimit -v)"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
    // Under the same limit, a page that fits is made.
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "jpg", "--width", "2000", "--height", "2000"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "out").size(), 1u);
}
#endif

#if !defined(__SANITIZE_ADDRESS__)
// A picture is refused only when it does not fit the memory here, with the
// figures, before any of it is decoded and before any page is written.
TEST_F(Limits, ABackgroundPicturePastTheMemoryIsRefusedWithTheFigures) {
    write("a.txt", "abc");
    // A PNG whose header says 20000 x 20000 (1.6 GB once read); the pixels are
    // never reached. The header's checksum is made anew for the new size.
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(Qt::white);
    ASSERT_TRUE(one.save(QString::fromStdString((dir / "tmp.png").string()), "PNG"));
    std::string png = slurp(dir / "tmp.png");
    ASSERT_GE(png.size(), 33u);
    ASSERT_EQ(png.substr(12, 4), "IHDR");
    for (int k = 0; k < 4; ++k) png[16 + k] = png[20 + k] = char((20000 >> (8 * (3 - k))) & 0xFF);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= std::uint8_t(png[i]);
        for (int b = 0; b < 8; ++b) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    for (int k = 0; k < 4; ++k) png[29 + k] = char((crc >> (8 * (3 - k))) & 0xFF);
    write("huge.png", png);
    in_child = [] {
        rlimit limit{1u << 30, 1u << 30};
        setrlimit(RLIMIT_AS, &limit);
    };
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "jpg", "--width", "2000", "--height", "2000",
                    "--background-picture", "huge.png"});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("cannot load the background picture"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the picture is 20000 x 20000 pixels; reading it needs about"), std::string::npos) << r.err;
    EXPECT_TRUE(!fs::exists(dir / "out") || files(dir / "out").empty());
}
#endif

TEST_F(Limits, NamesAreTheBytesTheSystemGave) {
    // "中文.txt" and the folder "书" in GBK, and a prefix "页" in GBK: not UTF-8.
    const std::string text_name = "\xD6\xD0\xCE\xC4.txt", folder = "\xCA\xE9", prefix = "\xD2\xB3";
    write(text_name, gbk_lines(10));
    Result r = run({"convert", text_name, "-o", folder, "--prefix", prefix, "--format", "bmp"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / folder), (std::set<std::string>{prefix + "000001.bmp", prefix + "000002.bmp"}));
    // Nothing went anywhere else, such as a folder named with replacement characters.
    std::set<std::string> here;
    for (auto& e : fs::directory_iterator(dir)) here.insert(e.path().filename().string());
    EXPECT_EQ(here, (std::set<std::string>{text_name, folder, "stdout", "stderr"}));
    // The progress and the messages name the files as they are.
    EXPECT_NE(r.err.find("reading " + text_name + " as GBK"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(prefix + "000001.bmp"), std::string::npos) << r.err;

    r = run({"convert", "\xC8\xB1.txt", "-o", folder});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read \xC8\xB1.txt: no such file"), std::string::npos) << r.err;

    // Without -o the pages go into 电子书 in the current folder, whatever its name's bytes.
    fs::create_directory(dir / folder / "\xB9\xA4");
    fs::copy_file(dir / text_name, dir / folder / "\xB9\xA4" / "a.txt");
    const fs::path saved = dir;
    dir = dir / folder / "\xB9\xA4";
    r = run({"convert", "a.txt", "--format", "bmp", "--quiet"});
    dir = saved;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / folder / "\xB9\xA4" / "电子书").size(), 2u);
}

TEST_F(Limits, ABackgroundPictureThatIsNoFileIsRefusedAtOnce) {
    write("a.txt", "abc");
    ASSERT_EQ(mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(dir / "pictures");
    struct Case {
        std::string picture, says;
    } cases[] = {
        {"pipe.jpg", "cannot load the background picture pipe.jpg: it is a named pipe, not a file"},
        {"pictures", "cannot load the background picture pictures: it is a folder, not a file"},
        {"/dev/zero", "cannot load the background picture /dev/zero: it is a device, not a file"},
    };
    for (const Case& c : cases) {
        for (const char* format : {"jpg", "bmp"}) {
            // Nobody writes into the pipe: a program that opens it for reading waits for ever.
            Result r = finish_within(spawn({"convert", "a.txt", "-o", "out", "--format", format,
                                            "--background-picture", c.picture}),
                                     20);
            EXPECT_EQ(r.code, 1) << c.picture << ": " << r.err;
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_TRUE(files(dir / "out").empty());
        }
    }
}

TEST_F(Limits, AHiddenPrefixAndColoursThatOnlyLookRightAreRefused) {
    write("a.txt", "abc");
    for (std::string prefix : {".", "..", ".kbwm"}) {
        Result r = run({"convert", "a.txt", "-o", "out", "--prefix", prefix});
        EXPECT_EQ(r.code, 2) << prefix;
        EXPECT_NE(r.err.find("--prefix must not start with \".\" (the pages would be hidden files)"), std::string::npos)
            << r.err;
    }
    for (std::string colour : {"#+12345", "# 12345", "#-12345", "#12345", "#1234567", "#12345G", "#0x1234", "#"}) {
        for (const char* option : {"--text-color", "--background-color"}) {
            Result r = run({"convert", "a.txt", "-o", "out", option, colour});
            EXPECT_EQ(r.code, 2) << option << " " << colour;
            EXPECT_NE(r.err.find(std::string(option) + " must be # and six hexadecimal digits (#RRGGBB), not \"" +
                                 colour + "\""),
                      std::string::npos)
                << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    // Either case of the digits, and a dot inside the prefix, are fine.
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--prefix", "a.b", "--background-color",
                    "#00ff00", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string bmp = slurp(dir / "out" / "a.b000001.bmp");
    ASSERT_GT(bmp.size(), 60u);
    EXPECT_EQ(bmp.substr(54, 3), std::string("\x00\xFF\x00", 3));
}

// The command line as a user meets it: the real program, real files, exit codes.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "cli_support.h"


TEST_F(Cli, HelpVersionAndBadUsage) {
    Result r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("pagiro convert TEXTFILE"), std::string::npos);
    r = run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("pagiro ", 0), 0u);
    r = run({"frobnicate"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown command"), std::string::npos);
    r = run({"convert"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("needs the text file"), std::string::npos);
    r = run({"convert", "a.txt", "--no-such-option"});
    EXPECT_EQ(r.code, 2);
}

TEST_F(Cli, HelpAndVersionWhereverAUserAsks) {
    for (const char* asked : {"--help", "-h"}) {
        Result r = run({"convert", asked});
        EXPECT_EQ(r.code, 0) << asked << r.err;
        EXPECT_EQ(r.out.rfind("Usage: pagiro convert TEXTFILE [options]", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("--background-picture FILE"), std::string::npos);
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    // Help wins over everything else on the line, and nothing is converted.
    write("a.txt", "abc");
    Result r = run({"convert", "a.txt", "-o", "out", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(fs::exists(dir / "out"));
    for (const char* asked : {"-v", "--version"}) {
        r = run({asked});
        EXPECT_EQ(r.code, 0) << asked;
        EXPECT_EQ(r.out.rfind("pagiro ", 0), 0u) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
    // An unknown command names the commands without the page of options.
    r = run({"-x"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown command \"-x\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("--font-size"), std::string::npos) << r.err;
}

TEST_F(Cli, WithoutADisplayTheWindowPointsToConvert) {
    const std::vector<const char*> names{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    in_child = [&] {
        for (const char* n : names) unsetenv(n);
    };
    Result r = run({});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("there is no display"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pagiro convert TEXTFILE"), std::string::npos) << r.err;
    // A display given as an empty name is none either.
    in_child = [&] {
        for (const char* n : names) setenv(n, "", 1);
    };
    r = run({});
    EXPECT_EQ(r.code, 2) << r.err;
}

TEST_F(Cli, ANewOutputFolderMayEndInASeparator) {
    write("a.txt", gbk_lines(10));
    Result r = run({"convert", "a.txt", "-o", "nd/", "--format", "bmp", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "nd"), (std::set<std::string>{"kbwm000001.bmp", "kbwm000002.bmp"}));
    r = run({"convert", "a.txt", "-o", "vd//", "--format", "bmp", "--quiet", "--volume-pages", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "vd"), (std::set<std::string>{"分卷1/kbwm000001.bmp", "分卷2/kbwm000002.bmp"}));
}

TEST_F(Cli, ABackgroundPictureIsCheckedWhateverTheFormat) {
    write("a.txt", "abc");
    for (const char* format : {"gif", "jpg", "bmp"}) {
        Result r = run({"convert", "a.txt", "-o", "out", "--format", format, "--background-picture", "missing.jpg"});
        EXPECT_EQ(r.code, 1) << format;
        EXPECT_NE(r.err.find("cannot load the background picture missing.jpg: no such file"), std::string::npos)
            << format << r.err;
        EXPECT_TRUE(files(dir / "out").empty()) << format;
        EXPECT_EQ(r.err.find("do not show"), std::string::npos) << r.err;  // the failure alone
    }
    // A picture that can be read: GIF pages say once that they do not show it.
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString((dir / "red.bmp").string())));
    Result r = run({"convert", "a.txt", "-o", "gif", "--format", "gif", "--background-picture", "red.bmp"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string note = "GIF pages do not show a background picture";
    const auto at = r.err.find(note);
    EXPECT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(note, at + 1), std::string::npos) << r.err;
    r = run({"convert", "a.txt", "-o", "jpg", "--format", "jpg", "--background-picture", "red.bmp"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find(note), std::string::npos) << r.err;
}

TEST_F(Cli, BadSettingsAreRefusedWithTheirName) {
    write("a.txt", "abc");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--width", "19"}, "--width must be between 20"},
        {{"--height", "abc"}, "--height must be a number"},
        {{"--height", "20.5"}, "--height must be a whole number"},
        {{"--font-size", "0"}, "--font-size must be between 1"},
        {{"--first", "32768"}, "--first must be between 0 and 32767"},
        {{"--volume-pages", "0"}, "--volume-pages must be between 1"},
        {{"--format", "png"}, "--format must be jpg, gif or bmp"},
        {{"--text-color", "red"}, "--text-color must be a decimal colour value"},
        {{"--background-color", "16777216"}, "--background-color must be"},
        {{"--encoding", "latin1"}, "--encoding must be"},
        {{"--prefix", "../x"}, "--prefix must not hold"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args{"convert", "a.txt", "-o", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = run(args);
        EXPECT_EQ(r.code, 2) << c.args[0];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << c.args[0];
    }
}

TEST_F(Cli, ConvertsWithTheWindowsDefaults) {
    write("novel.txt", gbk_lines(20));  // 20 short lines, 8 a page: 3 pages
    Result r = run({"convert", "novel.txt"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto pages = files(dir / "电子书");
    EXPECT_EQ(pages.size(), 3u);
    EXPECT_TRUE(pages.count("kbwm000001.gif"));
    EXPECT_NE(r.out.find("电子书生成完毕!\n共生成图片3张\n完成时间:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("将生成的所有文件全部复制到手机的相簿目录里即可!"), std::string::npos);
    EXPECT_NE(r.err.find("page 1"), std::string::npos);  // progress line (not a terminal)
}

TEST_F(Cli, OptionsReachTheRun) {
    write("novel.txt", "\xEF\xBB\xBF" + std::string("one\r\n\r\n\r\ntwo\r\n"));
    Result r = run({"convert", "novel.txt", "-o", "pages", "--format", "bmp", "--prefix", "p", "--first", "7",
                    "--height", "20", "--drop-empty-lines", "--volume-pages", "1", "--quiet",
                    "--background-color", "#FF0000"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "pages"), (std::set<std::string>{"分卷1/p000007.bmp", "分卷2/p000008.bmp"}));
    EXPECT_TRUE(r.err.empty()) << r.err;
    // #FF0000 is red: in BMP's blue, green, red order the first pixel reads 00 00 FF.
    std::string bmp = slurp(dir / "pages" / "分卷1" / "p000007.bmp");
    ASSERT_GT(bmp.size(), 60u);
    unsigned offset = static_cast<unsigned char>(bmp[10]) | static_cast<unsigned char>(bmp[11]) << 8;
    EXPECT_EQ(bmp.substr(offset, 3), std::string("\x00\x00\xFF", 3));
}

TEST_F(Cli, NumbersMayBeTypedFullWidthOrGrouped) {
    write("novel.txt", "abc");
    Result r = run({"convert", "novel.txt", "-o", "pages", "--format", "bmp", "--quiet", "--first", "１,２００",
                    "--width", "１２０", "--height", "1,00", "--background-color", "16,777,215"});
    EXPECT_EQ(r.code, 2) << r.err;  // "1,00" does not group thousands
    EXPECT_NE(r.err.find("--height must be a number"), std::string::npos) << r.err;
    r = run({"convert", "novel.txt", "-o", "pages", "--format", "bmp", "--quiet", "--first", "１,２００",
             "--width", "１２０", "--height", "１００", "--background-color", "16,777,215"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "pages"), (std::set<std::string>{"kbwm001200.bmp"}));
    std::string bmp = slurp(dir / "pages" / "kbwm001200.bmp");
    ASSERT_GT(bmp.size(), 26u);
    auto le32 = [&](int at) {
        return unsigned(static_cast<unsigned char>(bmp[at])) | unsigned(static_cast<unsigned char>(bmp[at + 1])) << 8;
    };
    EXPECT_EQ(le32(18), 120u);
    EXPECT_EQ(le32(22), 100u);
}

TEST_F(Cli, FailuresExitWithOneAndAPlainMessage) {
    Result r = run({"convert", "missing.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read missing.txt: no such file"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "missing.txt"));

    write("a.txt", "abc");
    r = run({"convert", "a.txt", "-o", "no/such/folder"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot create the output folder no/such/folder: its parent folder does not exist"),
              std::string::npos)
        << r.err;

    r = run({"convert", "a.txt", "--width", "20", "--font-size", "13"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not one line or column"), std::string::npos) << r.err;
}

TEST_F(Cli, CtrlCAndSigtermStopLikeTheStopButton) {
    write("big.txt", gbk_lines(200000));
    for (auto [signal, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        const std::string out = "out" + std::to_string(signal);
        pid_t pid = spawn({"convert", "big.txt", "-o", out, "--format", "bmp"});
        // Wait until pages are being written, then ask it to stop.
        for (int k = 0; k < 200 && files(dir / out).size() < 3; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(pid, signal);
        Result r = finish(pid);
        EXPECT_EQ(r.code, code) << r.err;
        auto pages = files(dir / out);
        ASSERT_GE(pages.size(), 3u);
        EXPECT_LT(pages.size(), 50000u);
        std::ostringstream count;
        count << "共生成图片" << pages.size() << "张";
        EXPECT_NE(r.out.find(count.str()), std::string::npos) << r.out;
        // The summary says the book was stopped, not finished, and how much of it is on disk.
        EXPECT_EQ(r.out.rfind("电子书生成已停止!\n", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find("电子书生成完毕"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("复制到手机"), std::string::npos) << r.out;
        std::ostringstream said;
        said << "stopped by " << (signal == SIGINT ? "Ctrl+C (SIGINT)" : "SIGTERM") << "; " << pages.size()
             << " pages were written";
        EXPECT_NE(r.err.find(said.str()), std::string::npos) << r.err;
        // Every page left behind is whole.
        for (auto& p : pages) EXPECT_EQ(fs::file_size(dir / out / p), 54u + 128u * 3u * 110u) << p;
    }
}

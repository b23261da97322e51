// Runs that cannot go on, provoked for real: each ends with a plain message and
// exit code 1, and every page left behind is complete.
#include <sys/mount.h>

#include <QImage>
#include <random>

#include "cli_support.h"

namespace {

struct Failures : Cli {
    std::vector<fs::path> mounts;
    void TearDown() override {
        for (auto& m : mounts) umount2(m.c_str(), MNT_DETACH);
        Cli::TearDown();
    }
    // A small file system of our own; false where this machine does not allow it.
    bool mount_tmpfs(const fs::path& where, const std::string& options) {
        fs::create_directories(where);
        if (mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
        mounts.push_back(where);
        return true;
    }
    // Every BMP page in a folder loads whole at the default size.
    void expect_complete_bmp_pages(const fs::path& folder) {
        for (auto& p : files(folder)) {
            EXPECT_EQ(fs::file_size(folder / p), 54u + 128u * 3u * 110u) << p;
            EXPECT_EQ(QImage(QString::fromStdString((folder / p).string())).size(), QSize(128, 110)) << p;
        }
    }
};

}  // namespace

TEST_F(Failures, InputThatCannotBeRead) {
    fs::create_directories(dir / "folder.txt");
    Result r = run({"convert", "folder.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot read folder.txt: it is a folder"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "电子书"));
}

TEST_F(Failures, OutputFolderThatIsAFile) {
    write("a.txt", "abc");
    write("out", "not a folder");
    Result r = run({"convert", "a.txt", "-o", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot create the output folder out: a file of that name is in the way"), std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(dir / "out"), "not a folder");
}

TEST_F(Failures, OutputFolderThatCannotBeCreatedOrWritten) {
    write("a.txt", gbk_lines(20));
    if (!mount_tmpfs(dir / "ro", "size=64k,ro")) GTEST_SKIP() << "cannot mount a file system here";
    Result r = run({"convert", "a.txt", "-o", "ro/out", "--format", "bmp"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot create the output folder ro/out"), std::string::npos) << r.err;
    r = run({"convert", "a.txt", "-o", "ro", "--format", "bmp"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the page file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Read-only file system"), std::string::npos) << r.err;
    EXPECT_TRUE(files(dir / "ro").empty());
}

TEST_F(Failures, DiskFillingUpInMidRun) {
    write("a.txt", gbk_lines(200));  // 25 pages of 42,294 bytes
    if (!mount_tmpfs(dir / "small", "size=200k")) GTEST_SKIP() << "cannot mount a file system here";
    Result r = run({"convert", "a.txt", "-o", "small", "--format", "bmp", "--quiet"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("No space left on device; the unfinished file was removed"), std::string::npos) << r.err;
    const auto left = files(dir / "small");
    EXPECT_GE(left.size(), 1u);
    EXPECT_LT(left.size(), 25u);
    expect_complete_bmp_pages(dir / "small");
    EXPECT_TRUE(r.out.empty());  // no summary after a failure
}

TEST_F(Failures, FileSizeLimit) {
    write("a.txt", gbk_lines(20));
    in_child = [] {
        rlimit limit{30000, 30000};  // less than one BMP page
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot write the page file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the unfinished file was removed"), std::string::npos) << r.err;
    EXPECT_TRUE(files(dir / "out").empty());
}

TEST_F(Failures, PageNumbersPassing32767AreNoFailure) {
    write("a.txt", gbk_lines(40));  // 5 pages
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--first", "32765"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("32767"), std::string::npos) << r.err;
    EXPECT_EQ(files(dir / "out"), (std::set<std::string>{"kbwm032765.bmp", "kbwm032766.bmp", "kbwm032767.bmp",
                                                         "kbwm032768.bmp", "kbwm032769.bmp"}));
    expect_complete_bmp_pages(dir / "out");
}

TEST_F(Failures, BackgroundPictureMissingOrCorrupt) {
    write("a.txt", "abc");
    write("broken.jpg", "\xFF\xD8\xFF\xE0 this is not a picture");
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--background-picture", "missing.jpg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot load the background picture missing.jpg: no such file"), std::string::npos) << r.err;
    r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--background-picture", "broken.jpg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot load the background picture broken.jpg: not a picture"), std::string::npos) << r.err;
    EXPECT_TRUE(files(dir / "out").empty());
}

TEST_F(Failures, FontThatIsNotInstalled) {
    write("a.txt", "abc");
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--font", "No Such Font 123"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("the font \"No Such Font 123\" is not installed; the pages use \""), std::string::npos) << r.err;
    EXPECT_EQ(files(dir / "out").size(), 1u);
}

TEST_F(Failures, PrefixThatWouldLeaveTheFolder) {
    write("a.txt", "abc");
    for (std::string prefix : {"../up", "a/b", "c:d", "e\\f", "tab\there"}) {
        Result r = run({"convert", "a.txt", "-o", "out", "--prefix", prefix});
        EXPECT_EQ(r.code, 2) << prefix;
        EXPECT_NE(r.err.find("--prefix must not hold"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_FALSE(fs::exists(dir / "up000001.gif"));
}

TEST_F(Failures, BinaryGarbageAndAHundredMegabytes) {
    // Random bytes are read as GBK and laid out like any text, to the end. A
    // megabyte makes about 10,000 pages, so the first page is set high to carry
    // the numbers past 32767.
    std::string garbage(1 << 20, '\0');
    std::mt19937 rng(9);
    for (char& c : garbage) c = static_cast<char>(rng());
    write("garbage.txt", garbage);
    Result r = run({"convert", "garbage.txt", "-o", "g", "--format", "gif", "--first", "32700", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto pages = files(dir / "g");
    EXPECT_GT(pages.size(), 68u);
    EXPECT_NE(r.out.find("共生成图片" + std::to_string(pages.size()) + "张"), std::string::npos) << r.out;

    // A 100 MB novel (about a million pages): read whole, laid out, and past
    // 32767 it still writes; stopped by SIGTERM once it is there.
    {
        std::ofstream big(dir / "big.txt", std::ios::binary);
        const std::string paragraph = gbk_lines(1000);
        for (std::size_t written = 0; written < 100u << 20; written += paragraph.size()) big << paragraph;
    }
    const pid_t pid = spawn({"convert", "big.txt", "-o", "b", "--format", "gif", "--first", "32700", "--quiet"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!fs::exists(dir / "b" / "kbwm0032800.gif") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, SIGTERM);
    r = finish(pid);
    EXPECT_EQ(r.code, 143) << r.err;
    EXPECT_TRUE(fs::exists(dir / "b" / "kbwm0032800.gif"));
    EXPECT_EQ(r.err.find("page numbers"), std::string::npos) << r.err;
}

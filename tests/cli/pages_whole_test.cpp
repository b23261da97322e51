// What a run leaves in its folder however it ends, and that it writes nowhere else:
// killed at any moment, stopped by a closed terminal, its reader gone, links in the
// folder, the folder moved away mid-run, a second run into the same folder.
#include <QImage>
#include <random>

#include "cli_support.h"

namespace {

constexpr std::uintmax_t kDefaultBmp = 54u + 128u * 3u * 110u;

struct PagesWhole : Cli {
    // Every name in a folder, temporary ones included.
    std::set<std::string> names(const fs::path& folder) {
        std::set<std::string> out;
        for (auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
        return out;
    }
    static bool temporary(const std::string& name) { return name.rfind(".pagiro-tmp-", 0) == 0; }
    // Waits (up to 10 s) until the folder holds `n` pages.
    void wait_for_pages(const fs::path& folder, std::size_t n) {
        for (int k = 0; k < 400 && files(folder).size() < n; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    // The page count the summary gives.
    static std::string counted(std::size_t n) { return "共生成图片" + std::to_string(n) + "张"; }
};

}  // namespace

TEST_F(PagesWhole, KilledAtRandomMomentsNoPageUnderItsNameIsCutShort) {
    write("a.txt", gbk_lines(1800));  // 16 pages of 1500 x 1500, 6.75 MB each
    const std::uintmax_t page_bytes = 54u + 1500u * 1500u * 3u;
    const std::vector<std::string> args{"convert", "a.txt", "-o", "out", "--format", "bmp", "--width", "1500",
                                        "--height", "1500", "--quiet"};
    // The kills fall within the time a whole run takes on this machine (the fastest
    // of three, measured here), so that they land inside runs however fast or busy
    // the machine is.
    long long whole_ms = 0;
    for (int k = 0; k < 3; ++k) {
        fs::remove_all(dir / "out");
        const auto start = std::chrono::steady_clock::now();
        Result whole = run(args);
        ASSERT_EQ(whole.code, 0) << whole.err;
        const auto took = std::chrono::steady_clock::now() - start;
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        whole_ms = k == 0 ? ms : std::min(whole_ms, ms);
        ASSERT_EQ(files(dir / "out").size(), 16u);
    }
    fs::remove_all(dir / "out");
    // A run that ends before its kill says the machine has become quicker than it
    // was when measured (a busy moment then): the kills come sooner from there on.
    std::mt19937 rng(13);
    int latest_ms = std::max(60, int(whole_ms) * 9 / 10);
    int killed = 0, killed_with_pages = 0, leftovers_seen = 0;
    for (int round = 0; round < 44 && killed < 22; ++round) {
        SCOPED_TRACE(round);
        pid_t pid = spawn(args);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(30, latest_ms)(rng)));
        kill(pid, SIGKILL);
        Result r = finish(pid);
        if (r.code == 200 + SIGKILL) ++killed;
        if (r.code == 0) latest_ms = std::max(60, latest_ms * 3 / 4);
        if (!fs::exists(dir / "out")) continue;
        if (!files(dir / "out").empty() && r.code != 0) ++killed_with_pages;
        for (const std::string& name : names(dir / "out")) {
            if (temporary(name)) {
                ++leftovers_seen;
                continue;
            }
            EXPECT_EQ(fs::file_size(dir / "out" / name), page_bytes) << name;
            EXPECT_EQ(QImage(QString::fromStdString((dir / "out" / name).string())).size(), QSize(1500, 1500)) << name;
        }
    }
    // The moments must have fallen inside runs, some of them while pages were written.
    EXPECT_GE(killed, 15);
    EXPECT_GE(killed_with_pages, 5);
    std::fprintf(stderr, "killed %d runs, %d with pages on disk; %d temporary files left behind\n", killed,
                 killed_with_pages, leftovers_seen);

    // The next run into the folder clears what the killed ones left, and leaves nothing of its own.
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--width", "1500", "--height", "1500", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(names(dir / "out").size(), 16u);
    for (const std::string& name : names(dir / "out")) EXPECT_FALSE(temporary(name)) << name;
}

TEST_F(PagesWhole, LeftoversAreClearedByTheNextRunAndNothingElse) {
    write("a.txt", gbk_lines(20));
    fs::create_directories(dir / "out" / "分卷1");
    for (const fs::path& p : {dir / "out" / ".pagiro-tmp-0123456789abcdef", dir / "out" / "分卷1" / ".pagiro-tmp-00000000000000ff"})
        std::ofstream(p) << "cut short";
    std::ofstream(dir / "out" / ".pagiro-tmp-notours") << "the user's";
    std::ofstream(dir / "out" / "notes.txt") << "the user's";
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--volume-pages", "2", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files(dir / "out"), (std::set<std::string>{".pagiro-tmp-notours", "notes.txt", "分卷1/kbwm000001.bmp",
                                                         "分卷1/kbwm000002.bmp", "分卷2/kbwm000003.bmp"}));
}

TEST_F(PagesWhole, SighupStopsTheRunLikeSigterm) {
    write("big.txt", gbk_lines(200000));
    pid_t pid = spawn({"convert", "big.txt", "-o", "out", "--format", "bmp"});
    wait_for_pages(dir / "out", 3);
    kill(pid, SIGHUP);
    Result r = finish(pid);
    EXPECT_EQ(r.code, 129) << r.err;
    const auto pages = files(dir / "out");
    ASSERT_GE(pages.size(), 3u);
    EXPECT_LT(pages.size(), 25000u);
    EXPECT_NE(r.out.find(counted(pages.size())), std::string::npos) << r.out;
    for (auto& p : pages) EXPECT_EQ(fs::file_size(dir / "out" / p), kDefaultBmp) << p;
}

TEST_F(PagesWhole, AReaderThatGoesAwayDoesNotEndTheRun) {
    write("a.txt", gbk_lines(8000));  // 1,000 pages
    const std::string command = std::string("'") + PAGIRO_BINARY +
                                "' convert a.txt -o out --format bmp 2>&1 | head -1 >first; exit ${PIPESTATUS[0]}";
    Result r = run_shell(command);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(slurp(dir / "first").rfind("reading a.txt as", 0), 0u) << slurp(dir / "first");
    const auto pages = files(dir / "out");
    EXPECT_EQ(pages.size(), 1000u);
    for (auto& p : pages) EXPECT_EQ(fs::file_size(dir / "out" / p), kDefaultBmp) << p;
}

TEST_F(PagesWhole, LinksInTheOutputFolderAreNeverWrittenThrough) {
    write("a.txt", gbk_lines(30));  // 4 pages
    fs::create_directories(dir / "victim");
    fs::create_directories(dir / "out");
    std::ofstream(dir / "victim" / "secret.txt") << "secret";
    std::ofstream(dir / "victim" / "shared") << "shared";
    fs::create_symlink("../victim/secret.txt", dir / "out" / "kbwm000001.bmp");
    fs::create_symlink("../victim/nothing", dir / "out" / "kbwm000002.bmp");
    fs::create_hard_link(dir / "victim" / "shared", dir / "out" / "kbwm000003.bmp");
    Result r = run({"convert", "a.txt", "-o", "out", "--format", "bmp", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (auto& p : files(dir / "out")) {
        EXPECT_FALSE(fs::is_symlink(dir / "out" / p)) << p;
        EXPECT_EQ(fs::file_size(dir / "out" / p), kDefaultBmp) << p;
    }
    EXPECT_EQ(files(dir / "out").size(), 4u);
    EXPECT_EQ(slurp(dir / "victim" / "secret.txt"), "secret");
    EXPECT_EQ(slurp(dir / "victim" / "shared"), "shared");
    EXPECT_FALSE(fs::exists(dir / "victim" / "nothing"));

    // A volume folder that is a link, or a file, stops the run before a page goes there.
    fs::create_directories(dir / "vol");
    fs::create_directory_symlink("../victim", dir / "vol" / "分卷2");
    r = run({"convert", "a.txt", "-o", "vol", "--format", "bmp", "--volume-pages", "2", "--quiet"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot use the folder vol/分卷2: it is a symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(files(dir / "vol" / "分卷1").size(), 2u);
    fs::remove(dir / "vol" / "分卷2");
    std::ofstream(dir / "vol" / "分卷2") << "a file";
    r = run({"convert", "a.txt", "-o", "vol", "--format", "bmp", "--volume-pages", "2", "--quiet"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot use the folder vol/分卷2: a file of that name is in the way"), std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(dir / "vol" / "分卷2"), "a file");
    EXPECT_EQ(fs::directory_iterator(dir / "victim")->path().filename().string().empty(), false);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "victim"), fs::directory_iterator()), 2);
}

TEST_F(PagesWhole, TheFolderSwappedForALinkMidRunKeepsGettingThePages) {
    write("a.txt", gbk_lines(40000));  // 5,000 pages
    fs::create_directories(dir / "elsewhere");
    pid_t pid = spawn({"convert", "a.txt", "-o", "out", "--format", "bmp", "--quiet"});
    wait_for_pages(dir / "out", 20);
    fs::rename(dir / "out", dir / "moved");
    fs::create_directory_symlink("elsewhere", dir / "out");
    Result r = finish(pid);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(files(dir / "moved").size(), 5000u);
    EXPECT_NE(r.out.find(counted(5000)), std::string::npos) << r.out;
}

TEST_F(PagesWhole, ASecondRunIntoAFolderInUseIsRefused) {
    write("big.txt", gbk_lines(200000));
    write("a.txt", gbk_lines(20));
    pid_t first = spawn({"convert", "big.txt", "-o", "out", "--format", "bmp", "--quiet"});
    wait_for_pages(dir / "out", 3);
    // The second run's files go to a folder of their own, so it runs beside the first.
    fs::create_directories(dir / "second");
    pid_t second = fork();
    if (second == 0) {
        freopen((dir / "second" / "stderr").c_str(), "w", stderr);
        chdir(dir.c_str());
        execl(PAGIRO_BINARY, PAGIRO_BINARY, "convert", "a.txt", "-o", "out", "--format", "gif", "--quiet", nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(second, &status, 0);
    const bool still_running = waitpid(first, nullptr, WNOHANG) == 0;
    kill(first, SIGTERM);
    Result r = finish(first);
    ASSERT_TRUE(still_running) << "the first run ended before the second started";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(slurp(dir / "second" / "stderr").find("the output folder out is in use by another run"), std::string::npos)
        << slurp(dir / "second" / "stderr");
    EXPECT_EQ(r.code, 143) << r.err;
    for (auto& p : files(dir / "out")) EXPECT_EQ(p.substr(p.size() - 4), ".bmp") << p;  // nothing of the second run

    // With the first run over, the folder is free again.
    Result again = run({"convert", "a.txt", "-o", "out", "--format", "gif", "--quiet"});
    EXPECT_EQ(again.code, 0) << again.err;
}

#include "platform/page_file.h"
#include "platform/staged_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Each test runs both ways a page is written: as a file without a name that is
// named when whole, and under a temporary name that is renamed.
struct PageFile : ::testing::TestWithParam<bool> {
    fs::path dir = fs::temp_directory_path() / ("pagiro_page_file_" + std::to_string(::getpid()));
    void SetUp() override {
        pagiro::use_unnamed_page_files(GetParam());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        pagiro::use_unnamed_page_files(true);
    }
    std::string content(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Runs `write` under a file-size limit of 4 KiB: a longer write fails part-way,
    // as on a full disk.
    template <class Write>
    bool under_size_limit(Write write) {
        const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 4096;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = write();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, old_handler);
        return ok;
    }
};

}  // namespace

TEST_P(PageFile, ARegularFileIsReplacedWhole) {
    const fs::path p = dir / "page.jpg";
    std::ofstream(p) << "an older and longer page";
    std::string error;
    ASSERT_TRUE(pagiro::write_page_file(p.string(), "new", 3, error)) << error;
    EXPECT_EQ(content(p), "new");
    ASSERT_TRUE(pagiro::write_page_file(p.string(), "", 0, error)) << error;
    EXPECT_EQ(fs::file_size(p), 0u);
}

TEST_P(PageFile, OnlyRegularFilesAreReplaced) {
    std::string error;
    int code = 0;
    bool removed = true;
    // A folder of the page's name stays as it is.
    fs::create_directory(dir / "folder.jpg");
    EXPECT_FALSE(pagiro::write_page_file((dir / "folder.jpg").string(), "x", 1, error, &removed, &code));
    EXPECT_EQ(code, EISDIR);
    EXPECT_FALSE(removed);
    EXPECT_TRUE(fs::is_directory(dir / "folder.jpg"));
    // A pipe with nobody reading neither holds the writer nor is replaced.
    const fs::path fifo = dir / "pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(pagiro::write_page_file(fifo.string(), "x", 1, error, &removed, &code));
    EXPECT_TRUE(fs::is_fifo(fifo));
    // Neither refusal leaves the page's temporary file behind.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(pagiro::StagedFile::is_temporary_name(entry.path().filename().string())) << entry.path();
    // A missing folder is the system's "no such file".
    EXPECT_FALSE(pagiro::write_page_file((dir / "no" / "page.jpg").string(), "x", 1, error, &removed, &code));
    EXPECT_EQ(code, ENOENT);
    EXPECT_FALSE(error.empty());
}

TEST_P(PageFile, AWriteCutShortRemovesThePartialFile) {
    const fs::path p = dir / "big.bmp";
    const std::string bytes(20000, 'x');
    std::string error;
    int code = 0;
    bool removed = false;
    EXPECT_FALSE(under_size_limit(
        [&] { return pagiro::write_page_file(p.string(), bytes.data(), bytes.size(), error, &removed, &code); }));
    EXPECT_EQ(code, EFBIG);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fs::exists(p));
}

// Pages are made only inside the folder they belong in, and a name holding a page
// always holds a whole one.
namespace {

struct PageFolder : PageFile {
    pagiro::Folder folder;
    void SetUp() override {
        PageFile::SetUp();
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "victim");
        folder = pagiro::Folder::open(dir / "out");
    }
    bool write(const std::string& name, const std::string& bytes, int* code = nullptr) {
        std::string error;
        return pagiro::write_page_file(folder, name, bytes.data(), bytes.size(), error, nullptr, code);
    }
    std::set<std::string> names(const fs::path& p) {
        std::set<std::string> out;
        for (auto& e : fs::directory_iterator(p)) out.insert(e.path().filename().string());
        return out;
    }
};

}  // namespace

TEST_P(PageFolder, LinksAtThePageNameAreReplacedNeverWrittenThrough) {
    std::ofstream(dir / "victim" / "secret.txt") << "secret";
    std::ofstream(dir / "victim" / "shared") << "shared";
    fs::create_symlink("../victim/secret.txt", dir / "out" / "a.jpg");
    fs::create_symlink("../victim/nothing", dir / "out" / "b.jpg");  // dangling
    fs::create_hard_link(dir / "victim" / "shared", dir / "out" / "c.jpg");
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        ASSERT_TRUE(write(name, std::string("page ") + name)) << name;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "out" / name))) << name;
        EXPECT_EQ(content(dir / "out" / name), std::string("page ") + name);
    }
    EXPECT_EQ(content(dir / "victim" / "secret.txt"), "secret");
    EXPECT_EQ(content(dir / "victim" / "shared"), "shared");
    EXPECT_EQ(fs::hard_link_count(dir / "victim" / "shared"), 1u);
    EXPECT_EQ(names(dir / "victim"), (std::set<std::string>{"secret.txt", "shared"}));
}

TEST_P(PageFolder, AFailedWriteLeavesTheOlderPageAsItWasAndNoTemporaryFile) {
    std::ofstream(dir / "out" / "page.bmp") << "an older, whole page";
    int code = 0;
    EXPECT_FALSE(under_size_limit([&] { return write("page.bmp", std::string(20000, 'x'), &code); }));
    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(content(dir / "out" / "page.bmp"), "an older, whole page");
    EXPECT_EQ(names(dir / "out"), std::set<std::string>{"page.bmp"});
}

TEST_P(PageFolder, PagesFollowTheFolderWhenItIsMovedAndALinkPutInItsPlace) {
    ASSERT_TRUE(write("1.jpg", "one"));
    fs::rename(dir / "out", dir / "moved");
    fs::create_symlink("victim", dir / "out");
    ASSERT_TRUE(write("2.jpg", "two"));
    EXPECT_EQ(names(dir / "moved"), (std::set<std::string>{"1.jpg", "2.jpg"}));
    EXPECT_TRUE(fs::is_empty(dir / "victim"));
}

TEST_P(PageFolder, VolumeFoldersAreMadeInsideAndNeverThroughALink) {
    pagiro::Folder volume = folder.subfolder("分卷1");
    std::string error;
    ASSERT_TRUE(pagiro::write_page_file(volume, "p.jpg", "x", 1, error)) << error;
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "分卷1" / "p.jpg"));
    pagiro::Folder again = folder.subfolder("分卷1");  // an existing folder is used as it is
    EXPECT_TRUE(again.is_open());

    fs::create_directory_symlink("../victim", dir / "out" / "分卷2");
    fs::create_symlink("../victim/nothing", dir / "out" / "分卷3");
    std::ofstream(dir / "out" / "分卷4") << "a file";
    const std::pair<const char*, pagiro::FolderError::Reason> cases[] = {
        {"分卷2", pagiro::FolderError::Reason::Link},
        {"分卷3", pagiro::FolderError::Reason::Link},
        {"分卷4", pagiro::FolderError::Reason::NotAFolder},
    };
    for (auto [name, reason] : cases) {
        try {
            folder.subfolder(name);
            ADD_FAILURE() << name << " was opened";
        } catch (const pagiro::FolderError& e) {
            EXPECT_EQ(e.reason, reason) << name << ": " << e.what();
        }
    }
    EXPECT_TRUE(fs::is_empty(dir / "victim"));
    EXPECT_EQ(content(dir / "out" / "分卷4"), "a file");
}

TEST_P(PageFolder, PagesOverOlderPagesAndThenNewOnesAreAllWhole) {
    // A second run into the same folder: every name is taken, then new names follow.
    for (int run = 1; run <= 2; ++run)
        for (int page = 1; page <= 3 * run; ++page) {
            const std::string name = std::to_string(page) + ".jpg";
            ASSERT_TRUE(write(name, "run " + std::to_string(run) + " page " + name)) << name;
        }
    EXPECT_EQ(names(dir / "out").size(), 6u);
    for (int page = 1; page <= 6; ++page)
        EXPECT_EQ(content(dir / "out" / (std::to_string(page) + ".jpg")), "run 2 page " + std::to_string(page) + ".jpg");
}

TEST_P(PageFolder, AHeldFolderCannotBeHeldTwiceUntilItIsLetGo) {
    folder.lock();
    pagiro::Folder second = pagiro::Folder::open(dir / "out");
    try {
        second.lock();
        ADD_FAILURE() << "a held folder was locked again";
    } catch (const pagiro::FolderError& e) {
        EXPECT_EQ(e.reason, pagiro::FolderError::Reason::Busy);
    }
    EXPECT_TRUE(names(dir / "out").empty());  // no lock file
    folder = pagiro::Folder();
    EXPECT_NO_THROW(second.lock());
}

INSTANTIATE_TEST_SUITE_P(BothWays, PageFile, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(BothWays, PageFolder, ::testing::Bool());

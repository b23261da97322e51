#include "platform/page_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct PageFile : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("pagiro_page_file_" + std::to_string(::getpid()));
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string content(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST_F(PageFile, ARegularFileIsReplacedWhole) {
    const fs::path p = dir / "page.jpg";
    std::ofstream(p) << "an older and longer page";
    std::string error;
    ASSERT_TRUE(pagiro::write_page_file(p.string(), "new", 3, error)) << error;
    EXPECT_EQ(content(p), "new");
    ASSERT_TRUE(pagiro::write_page_file(p.string(), "", 0, error)) << error;
    EXPECT_EQ(fs::file_size(p), 0u);
}

TEST_F(PageFile, OnlyRegularFilesAreReplaced) {
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
    // A missing folder is the system's "no such file".
    EXPECT_FALSE(pagiro::write_page_file((dir / "no" / "page.jpg").string(), "x", 1, error, &removed, &code));
    EXPECT_EQ(code, ENOENT);
    EXPECT_FALSE(error.empty());
}

TEST_F(PageFile, AWriteCutShortRemovesThePartialFile) {
    // A file-size limit below the page: the write fails part-way, as on a full disk.
    const fs::path p = dir / "big.bmp";
    const std::string bytes(20000, 'x');
    std::string error;
    int code = 0;
    bool removed = false;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = pagiro::write_page_file(p.string(), bytes.data(), bytes.size(), error, &removed, &code);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(code, EFBIG);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fs::exists(p));
}

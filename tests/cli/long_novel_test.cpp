// A novel of ordinary length today (three million characters) at the classic
// page size: more than 32767 pages, every one numbered, none missing.
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "cli_support.h"

namespace {

// Paragraphs of 1 to 150 characters, mostly Chinese with some Latin words, as a
// web novel reads; `units` UTF-16 code units in all, line breaks included.
std::string novel_of(std::size_t units) {
    const char* hanzi[] = {"的", "一", "是", "在", "不", "了", "有", "和", "人", "这", "中", "大", "为", "上", "个", "国"};
    std::string text = "\xEF\xBB\xBF";  // UTF-8, said outright
    std::size_t made = 0;
    unsigned seed = 17;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    while (made < units) {
        std::size_t length = 1 + next() % 150;
        length = std::min(length, units - made > 2 ? units - made - 2 : 0);
        for (std::size_t k = 0; k < length; ++k) {
            if (next() % 20 == 0)
                text += 'a' + char(next() % 26);
            else
                text += hanzi[next() % 16];
        }
        text += "\r\n";
        made += length + 2;
    }
    return text;
}

}  // namespace

TEST_F(Cli, ThreeMillionCharactersRunToTheEndPast32767) {
    write("novel.txt", novel_of(3'000'000));
    // The pages go to memory where there is some: tens of thousands of files, as
    // BMP, the quickest format to write (GIF takes three times as long).
    const fs::path shm = "/dev/shm";
    const fs::path out = fs::is_directory(shm) ? shm / ("pagiro_novel_" + std::to_string(::getpid())) : dir / "out";
    fs::remove_all(out);
    struct Cleanup {
        fs::path p;
        ~Cleanup() { fs::remove_all(p); }
    } cleanup{out};

    const auto start = std::chrono::steady_clock::now();
    Result r = run({"convert", "novel.txt", "-o", out.string(), "--format", "bmp", "--quiet"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("3,000,000 characters, default settings: %.1f s\n", seconds);

    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("32767"), std::string::npos) << r.err;
    const std::set<std::string> pages = files(out);
    ASSERT_GT(pages.size(), 32767u);
    // The estimate is 3,000,000 / 80 = 37,500 pages: six digits, from 1 on, no gaps.
    const std::size_t n = pages.size();
    char last[32];
    std::snprintf(last, sizeof last, "kbwm%06zu.bmp", n);
    EXPECT_EQ(*pages.begin(), "kbwm000001.bmp");
    EXPECT_EQ(*pages.rbegin(), last);
    for (const std::string& p : pages) EXPECT_EQ(p.size(), 14u) << p;
    EXPECT_NE(r.out.find("共生成图片" + std::to_string(n) + "张"), std::string::npos) << r.out;
    // Every page is a whole picture; those past the old limit hold text.
    for (const std::string& p : pages) EXPECT_EQ(fs::file_size(out / p), 54u + 128u * 3u * 110u) << p;
    for (const std::string& p : {std::string("kbwm032768.bmp"), std::string(last)}) {
        const QImage page = QImage(QString::fromStdString((out / p).string())).convertToFormat(QImage::Format_Grayscale8);
        ASSERT_EQ(page.size(), QSize(128, 110)) << p;
        int ink = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) ink += page.constScanLine(y)[x] < 128;
        EXPECT_GT(ink, 20) << p;
    }
}

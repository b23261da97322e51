#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <csignal>
#include <cstdio>
#include <gif_lib.h>
#include <sys/resource.h>
#include <jpeglib.h>

#include "generator/gentpok.h"
#include "platform/pump.h"
#include "test_support.h"

using namespace pagiro;

namespace {

struct RecordingHost : HeadlessHost {
    QStringList titles, statuses;
    void set_title(const QString& t) override {
        HeadlessHost::set_title(t);
        titles << t;
    }
    void set_status(const QString& s) override {
        HeadlessHost::set_status(s);
        statuses << s;
    }
};

// A pump that asks for a stop at its n-th call.
int g_pumps = 0;
int g_stop_at = -1;
void counting_pump() {
    if (++g_pumps == g_stop_at) mk::runflag = 0;
}

struct Runs : ::testing::Test {
    TempFolder dir{"runs"};
    RecordingHost host;

    void SetUp() override {
        reset_run_state();
        g_pumps = 0;
        g_stop_at = -1;
        set_pump_handler(counting_pump);
        host.set(Setting::c_ml, dir.q("out"));
        host.set(Setting::v_tpks, ".bmp");
    }
    void TearDown() override { set_pump_handler(nullptr); }
    std::set<std::string> pages() { return files_below(dir.path / "out"); }
    static QString lines(int n) {
        QString t;
        for (int k = 0; k < n; ++k) t += QStringLiteral("第%1行\r\n").arg(k);
        return t;
    }
};

bool jpeg_decodes(const std::string& path, int& w, int& h, int& components) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    w = int(cinfo.output_width);
    h = int(cinfo.output_height);
    components = cinfo.num_components;
    std::vector<unsigned char> row(size_t(w) * size_t(cinfo.output_components));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return true;
}

}  // namespace

TEST_F(Runs, EmptyTextWritesNothingAndSaysZero) {
    host.set(Setting::s_text, "");
    host.start();
    EXPECT_TRUE(pages().empty());
    ASSERT_EQ(host.summary().size(), 4);
    EXPECT_EQ(host.summary()[1], "共生成图片0张");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "out"));  // the folder is still made
    EXPECT_EQ(mk::runflag, 0);
    EXPECT_FALSE(host.running());
}

TEST_F(Runs, EveryPageIsWrittenAndCounted) {
    host.set(Setting::s_text, lines(80));  // 10 pages of 8 lines
    host.start();
    EXPECT_EQ(pages().size(), 10u);
    EXPECT_TRUE(pages().count("kbwm000010.bmp"));
    EXPECT_EQ(mk::pageno, 11);
    EXPECT_EQ(host.summary()[1], "共生成图片10张");
    EXPECT_EQ(mk::hasrun, -1);
    QImage page(dir.q("out/kbwm000001.bmp"));
    EXPECT_EQ(page.size(), QSize(128, 110));
    EXPECT_EQ(host.titles.first(), "Pagiro电子书提示: 正在生成......kbwm000001.bmp 大约完成0%");
    EXPECT_EQ(host.statuses.first(), "正在生成第 1 张图片");
    // The estimate is 470 characters / 80 = 5 pages; the percentage stops at 100.
    EXPECT_EQ(host.titles.last(), "Pagiro电子书提示: 正在生成......kbwm000010.bmp 大约完成100%");
    EXPECT_TRUE(host.titles.contains("Pagiro电子书提示: 正在生成......kbwm000002.bmp 大约完成20%"));
}

TEST_F(Runs, AStopStillWritesAndCountsThePageBeingBuilt) {
    host.set(Setting::s_text, lines(80));
    g_stop_at = 80;  // inside the second page (50 pumps make the first)
    host.start();
    EXPECT_EQ(pages().size(), 2u);
    EXPECT_EQ(host.summary()[1], "共生成图片2张");
    EXPECT_EQ(mk::pageno, 3);
}

TEST_F(Runs, AStopAtTheStartOfAPageWritesItEmpty) {
    host.set(Setting::s_text, lines(80));
    g_stop_at = 1;  // the pump before the first page's lines
    host.start();
    ASSERT_EQ(pages(), (std::set<std::string>{"kbwm000001.bmp"}));
    QImage page(dir.q("out/kbwm000001.bmp"));
    bool all_white = true;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) all_white &= page.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_TRUE(all_white);
    EXPECT_EQ(host.summary()[1], "共生成图片1张");
}

TEST_F(Runs, InkOfEachLineLiesInItsSlot) {
    // Six lines: the third is empty, and so is the fifth, which the full fourth line's
    // CR LF opens. Only slots 0, 1, 3 and 5 hold ink.
    host.set(Setting::s_text, "中文中文\r\nabc\r\n\r\n国国国国国国国国国国\r\n,");
    host.start();
    QImage page(dir.q("out/kbwm000001.bmp"));
    ASSERT_EQ(page.size(), QSize(128, 110));
    std::set<int> inked_slots;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (page.pixel(x, y) == qRgb(255, 255, 255)) continue;
            ASSERT_GE(x, 4) << "ink left of the margin at " << x << "," << y;
            ASSERT_GE(y, 4);
            int slot = (y - 4) / 13;
            ASSERT_LT(y, 4 + 13 * slot + 13);
            inked_slots.insert(slot);
        }
    }
    EXPECT_EQ(inked_slots, (std::set<int>{0, 1, 3, 5}));
    EXPECT_EQ(host.page_text(), "中文中文abc国国国国国国国国国国,");
}

// Text whose characters fonts draw wider than the layout counts them.
const char* const kAwkwardText =
    "今天天气很好♥♥我们去\r\n한국어한국어한국어한국어한국어한국어한국\r\n€€€€€€€€€€€€€€€€€€€€€€€€\r\n"
    "♪〜•・♡✔☺♪〜•・♡✔☺♪〜•・♡✔☺\r\nภาษาไทยภาษาไทยภาษาไทย\r\n😀😀😀😀😀😀😀😀😀😀😀\r\n"
    "abc€def€ghi€jkl€mno€pqr€\r\nWWWWWWWWWWWWWWWWWWWWWWWW\r\n中文€中文€中文€中文€中文€";

TEST_F(Runs, NoPageHasInkPastTheLastColumn) {
    host.set(Setting::s_text, kAwkwardText);
    for (const char* size : {"9", "11", "14"}) {
        for (const char* format : {".bmp", ".gif"}) {
            std::filesystem::remove_all(dir.path / "out");
            host.set(Setting::c_fontsize, size);
            host.set(Setting::v_tpks, format);
            host.start();
            ASSERT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
            const double em = std::stod(size) * 4 / 3;
            const double last = 4 + std::floor((128 - 4) / em) * em;  // right edge of the last column
            const auto written = pages();
            ASSERT_FALSE(written.empty());
            for (const std::string& name : written) {
                const QImage page(QString::fromStdString((dir.path / "out" / name).string()));
                ASSERT_EQ(page.size(), QSize(128, 110)) << name;
                int rightmost = -1;
                for (int y = 0; y < page.height(); ++y)
                    for (int x = 0; x < page.width(); ++x)
                        if ((page.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) rightmost = std::max(rightmost, x);
                EXPECT_LT(rightmost, std::ceil(last)) << size << " pt " << name;
            }
        }
    }
}

// Pages of ordinary Chinese and ASCII text at the default settings, byte for byte
// as they have always been (recorded with AR PL UMing CN, the face the default falls back to).
TEST_F(Runs, OrdinaryPagesDoNotDrift) {
    QString text;
    for (int k = 0; k < 3; ++k)
        text += QStringLiteral(
            "第一章　灯下的书\r\n\r\n　　小镇的夜来得早。七点刚过，街上的铺子便一家接一家地关了门，只剩下街角那间旧书店"
            "还亮着灯。\r\nPagiro sample text, written for this project: ASCII 0123456789 !?()[]{}<>@#$%&*+-=/\\|~^_`'\"\r\n"
            "“引号”（括号）《书名》……——、；：ａｂｃ１２３\r\n");
    host.set(Setting::s_text, text);
    const std::pair<const char*, const char*> expected[] = {{".bmp", "5d86a4ea9dd4aa0b2d27a0f70c3b9af5"}, {".gif", "3fc02f332fc907e27a50386e27d32403"}};
    for (const auto& [format, sum] : expected) {
        std::filesystem::remove_all(dir.path / "out");
        host.set(Setting::v_tpks, format);
        host.start();
        QCryptographicHash md5(QCryptographicHash::Md5);
        for (const std::string& name : pages()) {
            QFile f(QString::fromStdString((dir.path / "out" / name).string()));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            md5.addData(f.readAll());
        }
        EXPECT_EQ(pages().size(), 6u);
        EXPECT_EQ(md5.result().toHex().toStdString(), sum) << format;
    }
}

TEST_F(Runs, FirstPageAndVolumes) {
    host.set(Setting::s_text, lines(40));  // 5 pages
    host.set(Setting::c_qm, "7");
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "2");
    host.start();
    EXPECT_EQ(pages(), (std::set<std::string>{"分卷1/kbwm000007.bmp", "分卷1/kbwm000008.bmp", "分卷2/kbwm000009.bmp",
                                              "分卷2/kbwm000010.bmp", "分卷3/kbwm000011.bmp"}));
    EXPECT_EQ(host.summary()[1], "共生成图片5张");
    EXPECT_EQ(host.titles.first(), "Pagiro电子书提示: 正在生成......分卷1/kbwm000007.bmp 大约完成0%");
}

TEST_F(Runs, PagesInEveryFormatDecode) {
    host.set(Setting::s_text, lines(12));
    for (const char* format : {".jpg", ".gif"}) {
        host.set(Setting::v_tpks, format);
        host.start();
        EXPECT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    }
    auto all = pages();
    EXPECT_TRUE(all.count("kbwm000002.jpg") && all.count("kbwm000002.gif"));
    int w = 0, h = 0, c = 0;
    ASSERT_TRUE(jpeg_decodes((dir.path / "out" / "kbwm000001.jpg").string(), w, h, c));
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 110);
    EXPECT_EQ(c, 3);
    int error = 0;
    GifFileType* gif = DGifOpenFileName((dir.path / "out" / "kbwm000001.gif").c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->SWidth, 128);
    EXPECT_EQ(gif->SHeight, 110);
    DGifCloseFile(gif, &error);
}

TEST_F(Runs, OutputFolderIsCreatedOneLevelOnly) {
    host.set(Setting::s_text, lines(3));
    host.set(Setting::c_ml, dir.q("missing/out"));
    host.start();
    EXPECT_TRUE(host.failure_chinese().startsWith("输出目录无法创建：")) << host.failure_chinese().toStdString();
    EXPECT_TRUE(host.failure().contains("parent folder does not exist"));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "missing"));
    EXPECT_EQ(mk::runflag, 0);
    EXPECT_FALSE(host.running());
    EXPECT_TRUE(host.summary().isEmpty());
}

TEST_F(Runs, SettingsThatCannotMakeAPageAreRefusedBeforeTheFirstPage) {
    host.set(Setting::s_text, lines(3));
    host.set(Setting::c_fontsize, "0");
    host.start();
    EXPECT_TRUE(host.failure_chinese().contains("字体大小为0"));
    host.set(Setting::c_fontsize, "13");
    host.set(Setting::c_tk, "20");
    host.start();
    EXPECT_TRUE(host.failure_chinese().startsWith("页面放不下文字"));
    host.set(Setting::c_tk, "abc");
    host.start();
    EXPECT_TRUE(host.failure_chinese().contains("不是有效的数字"));
    EXPECT_TRUE(host.failure().contains("page width"));
    EXPECT_TRUE(pages().empty());
    EXPECT_FALSE(host.running());
}

TEST_F(Runs, PageNumbersStopAt32767) {
    host.set(Setting::s_text, lines(40));  // 5 pages
    host.set(Setting::c_qm, "32765");
    host.start();
    EXPECT_EQ(pages(), (std::set<std::string>{"kbwm032765.bmp", "kbwm032766.bmp", "kbwm032767.bmp"}));
    EXPECT_TRUE(host.failure_chinese().contains("32767"));
    EXPECT_FALSE(host.running());
}

TEST_F(Runs, AFailedWriteCountsOnlyThePagesOnDisk) {
    // A folder where page 5's file would go: pages 1 to 4 are written, page 5
    // fails, and the run counts 4 however far its drawing had got.
    host.set(Setting::s_text, lines(8 * 40));  // 40 pages
    std::filesystem::create_directories(dir.path / "out" / "kbwm000005.bmp");
    mk::pageno = 123;
    host.start();
    EXPECT_TRUE(host.failure().contains("kbwm000005.bmp")) << host.failure().toStdString();
    EXPECT_EQ(pages(), (std::set<std::string>{"kbwm000001.bmp", "kbwm000002.bmp", "kbwm000003.bmp",
                                              "kbwm000004.bmp"}));
    EXPECT_EQ(mk::pageno, 5);
    EXPECT_TRUE(host.summary().isEmpty());
    EXPECT_FALSE(host.running());
}

TEST_F(Runs, AFailedWriteLeavesNoFolderForPagesNeverWritten) {
    host.set(Setting::s_text, lines(8 * 40));
    host.set(Setting::c_qm, "3");
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "1");
    std::filesystem::create_directories(dir.path / "out" / "分卷5" / "kbwm000007.bmp");
    host.start();
    EXPECT_TRUE(host.failure().contains("kbwm000007.bmp")) << host.failure().toStdString();
    std::set<std::string> folders;
    for (auto& e : std::filesystem::directory_iterator(dir.path / "out")) folders.insert(e.path().filename().string());
    EXPECT_EQ(folders, (std::set<std::string>{"分卷1", "分卷2", "分卷3", "分卷4", "分卷5"}));
    EXPECT_EQ(pages().size(), 4u);
    EXPECT_EQ(mk::pageno, 7);

    // A page that cannot be written at all (a file-size limit below one page)
    // takes the volume folder made for it along.
    std::filesystem::remove_all(dir.path / "out");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{30000, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    host.start();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(host.failure().contains("cannot write the page file")) << host.failure().toStdString();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path / "out"));
    EXPECT_EQ(mk::pageno, 3);
}

TEST_F(Runs, ARunThatFailsBeforeItsFirstPageCountsNone) {
    // An earlier run leaves its count behind ...
    host.set(Setting::s_text, lines(24));
    host.start();
    EXPECT_EQ(mk::pageno, 4);
    // ... which a run whose output folder cannot be made must not repeat, nor a
    // run stopped by a bad setting after the folder was made.
    host.set(Setting::c_qm, "9");
    host.set(Setting::c_ml, dir.q("missing/out"));
    host.start();
    ASSERT_FALSE(host.failure().isEmpty());
    EXPECT_EQ(mk::pageno, 9);
    host.set(Setting::c_ml, dir.q("out"));
    host.set(Setting::c_tk, "wide");
    mk::pageno = 77;
    host.start();
    ASSERT_FALSE(host.failure().isEmpty());
    EXPECT_EQ(mk::pageno, 9);
}

TEST_F(Runs, AnOverflowNamesTheSettingNotThePageNumber) {
    host.set(Setting::s_text, lines(3));
    for (const char* format : {".bmp", ".gif"}) {
        host.set(Setting::v_tpks, format);
        host.set(Setting::c_tk, "3000000000");
        host.start();
        EXPECT_EQ(host.failure_chinese(), "设置“图片宽度”超出范围：3000000000") << format;
        EXPECT_EQ(host.failure(), "the page width 3000000000 is out of range");
        host.set(Setting::c_tk, "128");
        host.set(Setting::c_tg, "3000000000");
        host.start();
        EXPECT_EQ(host.failure_chinese(), "设置“图片高度”超出范围：3000000000") << format;
        host.set(Setting::c_tg, "110");
    }
    EXPECT_TRUE(pages().empty());
}

TEST_F(Runs, MissingBackgroundPictureIsReported) {
    host.set(Setting::s_text, lines(3));
    host.set(Setting::c_bjtp, dir.q("nothing.jpg"));
    host.start();
    EXPECT_TRUE(host.failure_chinese().startsWith("背景图片无法载入")) << host.failure_chinese().toStdString();
    EXPECT_TRUE(pages().empty());
    // A blank path means no picture.
    host.set(Setting::c_bjtp, "   ");
    host.start();
    EXPECT_TRUE(host.failure().isEmpty());
    EXPECT_EQ(pages().size(), 1u);
}

TEST_F(Runs, GifPagesCheckTheBackgroundPictureTheyDoNotShow) {
    host.set(Setting::s_text, lines(3));
    host.set(Setting::v_tpks, ".gif");
    host.set(Setting::c_bjtp, dir.q("nothing.jpg"));
    host.start();
    EXPECT_EQ(host.failure(), "cannot load the background picture " + dir.q("nothing.jpg") + ": no such file");
    QFile broken(dir.q("broken.bmp"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("BM not really a bitmap");
    broken.close();
    host.set(Setting::c_bjtp, dir.q("broken.bmp"));
    host.start();
    EXPECT_TRUE(host.failure().contains("not a picture")) << host.failure().toStdString();
    EXPECT_TRUE(pages().empty());
    // A picture that can be read is accepted, and the page stays plain.
    QImage red(16, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(dir.q("red.bmp")));
    host.set(Setting::c_bjtp, dir.q("red.bmp"));
    host.start();
    ASSERT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    const QImage page(dir.q("out/kbwm000001.gif"));
    EXPECT_NE(page.pixel(0, 0) & 0xFFFFFF, 0xFF0000u);
}

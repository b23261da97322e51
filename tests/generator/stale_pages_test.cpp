// An earlier run's pages past the end of this one: found by exactly this run's
// names, told in the summary, removed only when asked and only after a whole run.
#include <gtest/gtest.h>

#include <fstream>

#include "generator/gentpok.h"
#include "generator/page_names.h"
#include "platform/pump.h"
#include "test_support.h"

using namespace pagiro;
namespace fs = std::filesystem;

namespace {

void touch(const fs::path& p, const std::string& bytes = "old") {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<std::string> names(const StalePages& s) {
    std::vector<std::string> out;
    for (const auto& f : s.files) out.push_back(f.name.toStdString());
    return out;
}

struct CleaningHost : HeadlessHost {
    bool clean = false;
    bool clean_stale_pages() const override { return clean; }
};

struct StaleRuns : ::testing::Test {
    TempFolder dir{"stale"};
    CleaningHost host;
    fs::path out = dir.path / "out";

    void SetUp() override {
        reset_run_state();
        host.set(Setting::c_ml, dir.q("out"));
        host.set(Setting::v_tpks, ".bmp");
    }
    void TearDown() override { set_pump_handler(nullptr); }
    static QString lines(int n) {
        QString t;
        for (int k = 0; k < n; ++k) t += QStringLiteral("第%1行\r\n").arg(k);
        return t;
    }
    // An earlier run of `pages` pages, then files no run of ours would write.
    void earlier_run_and_neighbours(int pages) {
        for (int p = 1; p <= pages; ++p) touch(out / QStringLiteral("kbwm%1.bmp").arg(p, 6, 10, QChar('0')).toStdString());
        for (const char* other : {"kbwm000020.jpg", "book000020.bmp", "kbwm00002x.bmp", "kbwm.bmp", "kbwm000020.bmp.txt",
                                  "kbwm0000020.bmp", "notes.txt"})
            touch(out / other, "mine");
        fs::create_directories(out / "kbwm000021.bmp");  // a folder named like a page
        fs::create_directories(out / "extra" );
        touch(out / "extra" / "kbwm000022.bmp", "mine");  // not a volume folder
        fs::create_symlink(dir.path / "elsewhere.bmp", out / "kbwm000023.bmp");
        touch(dir.path / "elsewhere.bmp", "mine");
    }
    // What stays whatever a run does (the link counts as the file it leads to).
    std::set<std::string> unrelated() {
        return {"book000020.bmp", "extra/kbwm000022.bmp", "kbwm.bmp", "kbwm00002x.bmp", "kbwm0000020.bmp", "../elsewhere.bmp",
                "kbwm000020.bmp.txt", "kbwm000020.jpg", "notes.txt"};
    }
};

}  // namespace

TEST(PageNames, TheNumberIsZeroFilledToTheEstimate) {
    EXPECT_EQ(page_number_text(7, 0), "000007");
    EXPECT_EQ(page_number_text(7, 39192), "000007");
    EXPECT_EQ(page_number_text(7, 1234567), "0000007");
    EXPECT_EQ(page_number_text(1234567, 100), "1234567");
}

TEST_F(StaleRuns, OnlyThisRunsNamesPastItsLastPageAreStale) {
    earlier_run_and_neighbours(12);
    touch(out / "分卷3" / "kbwm000011.bmp");
    touch(out / "分卷x" / "kbwm000011.bmp", "mine");
    const StalePages stale = find_stale_pages({dir.q("out"), "kbwm", ".bmp", 100}, 9);
    EXPECT_EQ(names(stale), (std::vector<std::string>{"kbwm000010.bmp", "kbwm000011.bmp", "分卷3/kbwm000011.bmp",
                                                      "kbwm000012.bmp"}));
    EXPECT_EQ(stale.files.front().number, 10);
    EXPECT_EQ(stale.files.back().number, 12);
    // An empty prefix: names that are only digits.
    touch(out / "000031.bmp");
    EXPECT_EQ(names(find_stale_pages({dir.q("out"), "", ".bmp", 100}, 30)), std::vector<std::string>{"000031.bmp"});
    // A folder that is not there has nothing stale.
    EXPECT_TRUE(find_stale_pages({dir.q("none"), "kbwm", ".bmp", 100}, 0).empty());
}

TEST_F(StaleRuns, TheSummarySaysWhatRemainsAndNothingIsRemoved) {
    earlier_run_and_neighbours(20);
    host.set(Setting::s_text, lines(40));  // 5 pages
    host.start();
    ASSERT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    ASSERT_EQ(host.summary().size(), 5);
    EXPECT_EQ(host.summary()[4], "输出目录里还留有以前生成的15张图片（kbwm000006.bmp 至 kbwm000020.bmp），不属于这本电子书。");
    EXPECT_EQ(files_below(out).size(), 20u + unrelated().size());
    // A run whose names meet no earlier page has the four lines it always had.
    host.set(Setting::c_fjqz, "fresh");
    host.start();
    EXPECT_EQ(host.summary().size(), 4);
}

TEST_F(StaleRuns, CleaningRemovesExactlyTheStalePagesAfterAWholeRun) {
    earlier_run_and_neighbours(20);
    touch(out / "分卷2" / "kbwm000018.bmp");
    host.clean = true;
    host.set(Setting::s_text, lines(40));  // 5 pages, freshly written
    host.start();
    ASSERT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    EXPECT_EQ(host.summary().size(), 4);  // nothing remains to tell of
    std::set<std::string> expected = unrelated();
    for (int p = 1; p <= 5; ++p) expected.insert(QStringLiteral("kbwm%1.bmp").arg(p, 6, 10, QChar('0')).toStdString());
    EXPECT_EQ(files_below(out), expected);
    EXPECT_TRUE(fs::is_directory(out / "kbwm000021.bmp"));
    EXPECT_TRUE(fs::is_symlink(out / "kbwm000023.bmp"));
    EXPECT_EQ(fs::file_size(out / "kbwm000001.bmp"), 54u + 128u * 3u * 110u);  // this run's page, not the old one
}

TEST_F(StaleRuns, AStoppedRunRemovesNothing) {
    earlier_run_and_neighbours(20);
    host.clean = true;
    host.set(Setting::s_text, lines(80));
    static int pumps = 0;
    pumps = 0;
    set_pump_handler([] {
        if (++pumps == 40) mk::runflag = 0;
    });
    host.start();
    set_pump_handler(nullptr);
    ASSERT_EQ(host.summary().size(), 5);
    EXPECT_TRUE(host.summary()[4].contains("kbwm000020.bmp"));
    EXPECT_EQ(files_below(out).size(), 20u + unrelated().size());
}

#include <gtest/gtest.h>

#include "generator/gentpok.h"
#include "generator/summary.h"
#include "test_support.h"

using namespace pagiro;

namespace {

struct Naming : ::testing::Test {
    TempFolder dir{"naming"};
    HeadlessHost host;
    gentpok generator{host};

    void SetUp() override {
        reset_run_state();
        host.set(Setting::c_ml, dir.q("out"));
        host.set(Setting::v_tpks, ".jpg");
        QDir().mkpath(dir.q("out"));
    }
    QString name(std::int64_t page) {
        std::int64_t p = page;
        return generator.getfname(p);
    }
    QString rel(const QString& path) { return path.mid(dir.q("out").size() + 1); }
};

}  // namespace

TEST_F(Naming, NumbersArePaddedToSixOrTheEstimateWidth) {
    EXPECT_EQ(rel(name(1)), "kbwm000001.jpg");
    EXPECT_EQ(rel(name(7)), "kbwm000007.jpg");
    EXPECT_EQ(rel(name(32767)), "kbwm032767.jpg");
    host.set(Setting::c_fjqz, "");
    EXPECT_EQ(rel(name(12)), "000012.jpg");
    // One character a page (20 x 20 pixels at 9 pt): an estimate of 1,234,567
    // widens every number to seven digits.
    host.set(Setting::c_tk, "20");
    host.set(Setting::c_tg, "20");
    host.set(Setting::s_text, QString(1234567, u'x'));
    EXPECT_EQ(rel(name(1)), "0000001.jpg");
}

TEST_F(Naming, PageNumbersGoOnPast32767UpToTheirLimit) {
    std::int64_t p = 32768;
    EXPECT_EQ(rel(generator.getfname(p)), "kbwm032768.jpg");
    EXPECT_EQ(mk::pageno, 32768);
    EXPECT_EQ(rel(name(65536)), "kbwm065536.jpg");
    EXPECT_EQ(rel(name(999999)), "kbwm999999.jpg");
    // A number wider than the zero-fill keeps all its digits.
    EXPECT_EQ(rel(name(1234567)), "kbwm1234567.jpg");
    EXPECT_EQ(rel(name(kLastPageNumber)), "kbwm999999999.jpg");
    p = kLastPageNumber + 1;
    try {
        generator.getfname(p);
        ADD_FAILURE() << "a page past the limit was named";
    } catch (const RunFailure& f) {
        EXPECT_TRUE(f.chinese.startsWith("页码超过了999999999")) << f.chinese.toStdString();
        EXPECT_FALSE(f.chinese.contains("32767"));
    }
    EXPECT_EQ(mk::pageno, kLastPageNumber);  // the counter is left at the last page named
}

TEST_F(Naming, VolumesPast32767CountFromTheFirstPage) {
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "30000");
    EXPECT_EQ(rel(name(30000)), "分卷1/kbwm030000.jpg");
    EXPECT_EQ(rel(name(30001)), "分卷2/kbwm030001.jpg");
    EXPECT_EQ(rel(name(90001)), "分卷4/kbwm090001.jpg");
    host.set(Setting::c_qm, "32767");
    EXPECT_EQ(rel(name(62766)), "分卷1/kbwm062766.jpg");
    EXPECT_EQ(rel(name(62767)), "分卷2/kbwm062767.jpg");
}

TEST_F(Naming, VolumeFoldersAreCreatedWhenNamed) {
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "100");
    EXPECT_EQ(rel(name(100)), "分卷1/kbwm000100.jpg");
    EXPECT_EQ(rel(name(101)), "分卷2/kbwm000101.jpg");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "out" / "分卷2"));
    host.set(Setting::c_qm, "51");
    EXPECT_EQ(rel(name(150)), "分卷1/kbwm000150.jpg");
    EXPECT_EQ(rel(name(151)), "分卷2/kbwm000151.jpg");
}

TEST_F(Naming, AFolderEndingInASeparatorDoublesIt) {
    host.set(Setting::c_ml, dir.q("out") + "/");
    EXPECT_EQ(name(1), dir.q("out") + "//kbwm000001.jpg");
}

TEST(Summary, TextsOfTheEndOfARun) {
    QStringList lines = summary_lines(10, "2026/12/7 5:08:09", 3);
    EXPECT_EQ(lines, (QStringList{"电子书生成完毕!", "共生成图片10张", "完成时间:2026/12/7 5:08:09 共耗时3秒",
                                  "将生成的所有文件全部复制到手机的相簿目录里即可!"}));
    EXPECT_EQ(last_run_text(4), "刚才生成了4张图片!");
}

// How large a page may be, and what a window's run says when it is larger: the
// format's own bounds, then the memory a run of such pages holds.
#include <gtest/gtest.h>

#include "generator/formats.h"
#include "generator/page_limits.h"
#include "generator/settings.h"
#include "test_support.h"

using namespace pagiro;

namespace {

const PageFormat& format(const char* name) { return *find_format_by_name(QLatin1String(name)); }

constexpr std::uint64_t GB = std::uint64_t(1) << 30;
const MemoryRoom kPlenty{64 * GB, MemoryRoom::Limit::physical};

// The English reason pages of this size are refused, or "" when they are not.
std::string refusal(const char* f, double w, double h, const std::optional<MemoryRoom>& room = kPlenty) {
    auto r = page_size_refusal(format(f), w, h, 2, room);
    return r ? r->english.toStdString() : std::string();
}

}  // namespace

TEST(PageLimits, EachFormatStopsWhereItsFileCanNoLongerDescribeThePage) {
    // GIF holds the size in 16 bits each way; JPEG too, but libjpeg reads no more
    // than 65500.
    for (auto [f, largest] : {std::pair{"gif", 65535.0}, std::pair{"jpg", 65500.0}}) {
        EXPECT_EQ(refusal(f, largest, 20), "") << f;
        EXPECT_EQ(refusal(f, 20, largest), "") << f;
        const std::string said = refusal(f, largest + 1, 20);
        EXPECT_NE(said.find(QStringLiteral("at most %1 pixels each way").arg(largest).toStdString()), std::string::npos)
            << said;
        EXPECT_NE(refusal(f, 20, largest + 1), "") << f;
        EXPECT_NE(refusal(f, 1e12, 20), "") << f;
    }
    // A BMP page may be wider than that; its whole file must stay under 2 GB.
    EXPECT_EQ(refusal("bmp", 70000, 20), "");
    EXPECT_EQ(refusal("bmp", 26000, 26000), "");  // 2,028,000,054 bytes
    const std::string said = refusal("bmp", 27000, 27000);  // 2,187,000,054 bytes
    EXPECT_NE(said.find("its BMP file would pass the 2.0 GB a BMP file can hold"), std::string::npos) << said;
    EXPECT_NE(refusal("bmp", 1e12, 1e12), "");
}

TEST(PageLimits, APageMustFitTheMemoryWithThePagesInFlight) {
    const MemoryRoom small{GB, MemoryRoom::Limit::address_space};
    // 10000 x 10000: 400 MB a picture, more than 1 GB for a run whatever the format.
    for (const char* f : {"jpg", "gif", "bmp"}) {
        const std::string said = refusal(f, 10000, 10000, small);
        EXPECT_NE(said.find("too large for the memory here"), std::string::npos) << said;
        EXPECT_NE(said.find("the address-space limit (ulimit -v) is 1.0 GB"), std::string::npos) << said;
        EXPECT_EQ(refusal(f, 10000, 10000, kPlenty), "") << f;
        EXPECT_EQ(refusal(f, 128, 110, small), "") << f;
        // Unknown memory refuses nothing that the format allows.
        EXPECT_EQ(refusal(f, 10000, 10000, std::nullopt), "") << f;
    }
    // The estimate is what the check compares, so it must cover what a run holds:
    // the surface, its cleared copy and at least one page with its encoding.
    const PageMemory m = page_memory(format("jpg"), 4000, 4000, 2);
    EXPECT_GE(m.per_run, 2u * 4000 * 4000 * 4);
    EXPECT_GE(m.per_page, 4000u * 4000 * 4);
    const MemoryRoom just_short{m.total() - 1, MemoryRoom::Limit::cgroup};
    const MemoryRoom just_enough{m.total(), MemoryRoom::Limit::cgroup};
    EXPECT_NE(refusal("jpg", 4000, 4000, just_short).find("control group"), std::string::npos);
    EXPECT_EQ(refusal("jpg", 4000, 4000, just_enough), "");
}

TEST(PageLimits, PagesInFlightAreBoundedByBytesButNeverBelowOne) {
    // Small pages: the count bounds them. Large ones: the bytes do, down to one.
    EXPECT_EQ(page_memory(format("jpg"), 128, 110, 2).pages_in_flight, kMaxPagesInFlight);
    for (const char* f : {"jpg", "gif", "bmp"}) {
        const PageMemory big = page_memory(format(f), 4000, 4000, 2);
        EXPECT_GE(big.pages_in_flight, 1u) << f;
        EXPECT_LE(big.pages_in_flight * big.per_page, std::max(kMaxBytesInFlight, big.per_page)) << f;
        EXPECT_EQ(page_memory(format(f), 30000, 30000, 2).pages_in_flight, 1u) << f;
    }
}

namespace {

struct LimitRuns : ::testing::Test {
    TempFolder dir{"limits"};
    HeadlessHost host;
    void SetUp() override {
        reset_run_state();
        host.set(Setting::c_ml, dir.q("out"));
        host.set(Setting::s_text, QStringLiteral("一页文字\r\n"));
    }
};

}  // namespace

TEST_F(LimitRuns, AWindowRunOfTooLargeAPageFailsInChineseBeforeAnyPage) {
    struct Case {
        const char* format;
        const char* width;
        const char* height;
        const char* says;
    } cases[] = {
        {".jpg", "65501", "110", "宽和高最多为65500像素"},
        {".gif", "128", "70000", "宽和高最多为65535像素"},
        {".bmp", "30000", "30000", "BMP 文件最大的2.0 GB"},
    };
    for (const Case& c : cases) {
        host.set(Setting::v_tpks, c.format);
        host.set(Setting::c_tk, c.width);
        host.set(Setting::c_tg, c.height);
        host.start();
        EXPECT_TRUE(host.failure_chinese().startsWith(QStringLiteral("页面太大"))) << host.failure().toStdString();
        EXPECT_TRUE(host.failure_chinese().contains(QString::fromUtf8(c.says))) << host.failure_chinese().toStdString();
        EXPECT_TRUE(host.summary().isEmpty());
        EXPECT_TRUE(files_below(dir.path / "out").empty());
        EXPECT_FALSE(host.running());
    }
    // The largest page a JPEG holds is made.
    host.set(Setting::v_tpks, ".jpg");
    host.set(Setting::c_tk, "65500");
    host.set(Setting::c_tg, "20");
    host.start();
    EXPECT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    EXPECT_EQ(files_below(dir.path / "out"), std::set<std::string>{"kbwm000001.jpg"});
}

TEST_F(LimitRuns, AHiddenPrefixIsRefusedInTheWindowsRun) {
    for (const char* prefix : {".", ".kbwm", ".."}) {
        host.set(Setting::c_fjqz, prefix);
        host.start();
        EXPECT_TRUE(host.failure_chinese().contains(QStringLiteral("不能以“.”开头"))) << prefix;
        EXPECT_NE(host.failure().toStdString().find("must not start with \".\""), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir.path / "out"));
    }
    // A dot later in the prefix is an ordinary character.
    host.set(Setting::c_fjqz, "book.1-");
    host.start();
    EXPECT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
    EXPECT_EQ(files_below(dir.path / "out"), std::set<std::string>{"book.1-000001.gif"});
}

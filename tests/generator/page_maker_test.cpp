// Pages made one at a time for a preview: the same pages as the whole text laid
// out at once, from the text's beginning as far as it settles them.
#include <gtest/gtest.h>

#include <QImage>

#include "generator/layout.h"
#include "generator/page_maker.h"
#include "generator/page_writer.h"
#include "generator/settings.h"
#include "test_support.h"

using namespace pagiro;

namespace {

QString chapters(int n) {
    QString t;
    for (int c = 1; c <= n; ++c) {
        t += QStringLiteral("第%1章　雨夜\r\n\r\n").arg(c);
        for (int p = 0; p < 5; ++p)
            t += QStringLiteral("　　雨一直下到天亮，街上没有人。He said “OK”，然后走了%1步。\r\n").arg(p * c);
    }
    return t;
}

// The text up to the end of its `lines`th line, without the break after it, as
// the window hands over the beginning of its text.
QString first_lines(const QString& text, int lines) {
    qsizetype at = -2;
    for (int k = 0; k < lines; ++k) at = text.indexOf(QStringLiteral("\r\n"), at + 2);
    return text.left(at);
}

const auto always = [] { return true; };

struct PageMakerTest : ::testing::Test {
    HeadlessHost host;
    void SetUp() override {
        reset_run_state();
        host.set(Setting::s_text, chapters(12));
    }
    RunSettings typeset_settings() {
        PageOptions o;
        o.layout = LayoutMode::typeset;
        host.set(o);
        host.set(Setting::c_tk, "200");
        host.set(Setting::c_tg, "260");
        host.set(Setting::c_fontsize, "11");
        host.set(Setting::v_tpks, ".png");
        return read_run_settings(host, {});
    }
};

// Every page of the whole text, drawn by the run's own code.
std::vector<QImage> every_page(const RunSettings& s) {
    std::vector<QImage> pages;
    if (s.layout == LayoutMode::classic) {
        const std::u16string text = s.text.toStdU16String();
        for (const LaidOutPage& p : paginate(text, s.style, s.drop_empty_lines)) pages.push_back(draw_page(s, p.lines));
    } else {
        TypesetPages made(s);
        while (auto p = made.next()) pages.push_back(made.draw(*p, made.pages_done(), 0));
    }
    return pages;
}

}  // namespace

TEST_F(PageMakerTest, AnyPageInAnyOrderIsTheRunsPage) {
    host.set(Check::qckh, true);
    for (const RunSettings& s : {read_run_settings(host, {}), typeset_settings()}) {
        const std::vector<QImage> pages = every_page(s);
        ASSERT_GE(pages.size(), 8u);
        PageMaker maker(s, true);
        const int last = int(pages.size());
        for (int n : {1, 2, last, 3, last - 1, 1, last + 5}) {
            const std::optional<MadePage> made = maker.page(n, always);
            ASSERT_TRUE(made);
            const int shown = std::min(n, last);
            EXPECT_EQ(made->number, shown);
            EXPECT_EQ(made->last, shown == last) << n;
            EXPECT_TRUE(made->settled);
            EXPECT_TRUE(made->image == pages[std::size_t(shown - 1)]) << "page " << n;
        }
    }
}

// From the beginning of a text every page is the run's except the last one it
// reaches, which the rest of the text may still fill: that one is not settled.
TEST_F(PageMakerTest, TheBeginningOfATextSettlesAllButItsLastPage) {
    const QString whole = chapters(12);
    for (RunSettings s : {read_run_settings(host, {}), typeset_settings()}) {
        const std::vector<QImage> pages = every_page(s);
        for (int lines : {5, 16, 31}) {
            s.text = first_lines(whole, lines);
            PageMaker maker(s, false);
            int n = 1;
            for (;; ++n) {
                const std::optional<MadePage> made = maker.page(n, always);
                ASSERT_TRUE(made);
                ASSERT_EQ(made->number, n) << lines;
                if (!made->settled) {
                    EXPECT_TRUE(made->last);
                    break;
                }
                EXPECT_TRUE(made->image == pages[std::size_t(n - 1)]) << lines << " lines, page " << n;
            }
            EXPECT_GE(n, 2) << lines;
        }
    }
}

TEST_F(PageMakerTest, NewDrawingKeepsTheLayoutAndNewLayoutStartsOver) {
    RunSettings s = read_run_settings(host, {});
    PageMaker maker(s, true);
    ASSERT_TRUE(maker.page(6, always));
    s.text_colour = 0x0000FF;
    EXPECT_TRUE(maker.adopt(s, true));
    EXPECT_TRUE(maker.page(6, always)->image == every_page(s)[5]);
    host.set(Setting::c_fontsize, "12");
    const RunSettings larger = read_run_settings(host, {});
    EXPECT_FALSE(maker.adopt(larger, true));
    EXPECT_TRUE(maker.page(6, always)->image == every_page(larger)[5]);

    // Stopped before it got there: nothing, and the next request still gets it right.
    int asked = 0;
    EXPECT_FALSE(maker.page(40, [&] { return ++asked < 3; }));
    EXPECT_TRUE(maker.page(8, always)->image == every_page(larger)[7]);
}

TEST_F(PageMakerTest, TheFooterCountIsTheWholeTextsAndABeginningNeverSettlesIt) {
    RunSettings s = typeset_settings();
    s.typeset.style.footer = typeset::FooterKind::page_number;
    TypesetPages made(s);
    const int total = count_typeset_pages(s, always);
    ASSERT_GT(total, 3);
    std::optional<typeset::Page> second;
    for (int k = 0; k < 2; ++k) second = made.next();
    PageMaker maker(s, true);
    EXPECT_TRUE(maker.page(2, always)->image == made.draw(*second, 2, total));
    s.text = first_lines(s.text, 40);
    EXPECT_FALSE(PageMaker(s, false).page(1, always)->settled);
    s.text.clear();
    EXPECT_FALSE(PageMaker(s, true).page(1, always));
}

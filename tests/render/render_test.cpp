// Drawing typeset pages: where ink may go, grey and 1-bit ink, colours, the
// footer, and characters that need font fallback or are outside the BMP.
#include "layout/qt_measurer.h"
#include "layout/typeset.h"
#include "layout/support.h"
#include "render/page_renderer.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

// Every pixel that differs from the page's background.
template <typename F>
void for_each_ink(const QImage& image, F&& f) {
    const QRgb background = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) f(x, y);
}

long darkness(const QImage& grey) {
    long sum = 0;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) sum += 255 - grey.constScanLine(y)[x];
    return sum;
}

std::vector<Page> layout(const QString& text, const Style& style) {
    QtMeasurer measurer(style);
    return typeset_all(text, style, measurer);
}

TEST(Rendering, NoInkLeavesThePageBoxButAHungMark) {
    for (const auto& [width, height] : {std::pair{480, 800}, std::pair{240, 320}}) {
        Style style;
        style.page_width = width;
        style.page_height = height;
        style.font_size_pt = width < 300 ? 10 : 16;
        const auto pages = layout(test::generated_novel(60000, 3), style);
        ASSERT_GT(pages.size(), 20u);
        PageRenderer renderer(style, {});
        const QRect box(style.left(), style.top(), style.box_width(), style.box_height());
        int hung_ink = 0, pages_drawn = 0;
        for (std::size_t p = 0; p < pages.size(); p += 3, ++pages_drawn) {
            const QImage image = renderer.render(pages[p]);
            for_each_ink(image, [&](int x, int y) {
                if (box.contains(x, y)) return;
                // Past the right edge, only on a line that hangs a mark, and no further than it reaches.
                for (const Line& line : pages[p].lines)
                    if (line.hang > 0 && x >= box.right() && x < line.x + line.width + 1 && y >= line.y &&
                        y < line.baseline + style.font_pixels() / 2) {
                        ++hung_ink;
                        return;
                    }
                std::string where;
                for (const Line& line : pages[p].lines)
                    if (y >= line.y && y < line.baseline + style.font_pixels() / 2) where = line.text.toStdString();
                ADD_FAILURE() << width << "x" << height << " page " << p + 1 << ": ink at " << x << "," << y << " " << where;
            });
        }
        EXPECT_GT(pages_drawn, 6);
        EXPECT_GT(hung_ink, 0) << "no hung mark was drawn, so the exception was never tried";
    }
}

TEST(Rendering, GreyInkIsAntialiasedAndOneBitInkIsCrisp) {
    Style style;
    const auto pages = layout(QStringLiteral("永和九年，岁在癸丑，暮春之初，会于会稽山阴之兰亭。"), style);
    const QImage grey = PageRenderer(style, {}).render(pages.at(0));
    RenderOptions crisp;
    crisp.antialias = false;
    const QImage mono = PageRenderer(style, crisp).render(pages.at(0));
    ASSERT_EQ(grey.format(), QImage::Format_Grayscale8);
    std::set<int> grey_levels, mono_levels;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            grey_levels.insert(grey.constScanLine(y)[x]);
            mono_levels.insert(mono.constScanLine(y)[x]);
        }
    EXPECT_GT(grey_levels.size(), 16u);
    EXPECT_EQ(mono_levels, (std::set<int>{0, 255}));
}

TEST(Rendering, InkWeightDarkensStrokesWithoutMovingThem) {
    Style style;
    const auto pages = layout(QStringLiteral("细线条的宋体字在电子墨水屏上显得太淡。"), style);
    RenderOptions heavy;
    heavy.ink_weight = 1.8;
    const QImage normal = PageRenderer(style, {}).render(pages.at(0));
    const QImage darker = PageRenderer(style, heavy).render(pages.at(0));
    EXPECT_GT(darkness(darker), darkness(normal) * 11 / 10);
    // The same pixels are inked: weight changes coverage, not shape.
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            ASSERT_EQ(normal.constScanLine(y)[x] == 255, darker.constScanLine(y)[x] == 255) << x << "," << y;
}

TEST(Rendering, TextAndBackgroundColoursAreKept) {
    Style style;
    const auto pages = layout(QStringLiteral("夜读"), style);
    RenderOptions options;
    options.colour = true;
    options.text = qRgb(230, 220, 180);
    options.background = qRgb(20, 30, 60);
    const QImage image = PageRenderer(style, options).render(pages.at(0));
    ASSERT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(0, 0), qRgb(20, 30, 60));
    bool full_ink = false;
    for_each_ink(image, [&](int x, int y) { full_ink |= image.pixel(x, y) == qRgb(230, 220, 180); });
    EXPECT_TRUE(full_ink);

    options.colour = false;  // grey pages take the colours' grey values
    const QImage grey = PageRenderer(style, options).render(pages.at(0));
    EXPECT_NEAR(grey.constScanLine(0)[0], 0.299 * 20 + 0.587 * 30 + 0.114 * 60, 1);
}

TEST(Rendering, TheFooterSitsInsideTheBottomMargin) {
    Style style;
    const auto pages = layout(QStringLiteral("第一章 夜\r\n正文"), style);
    const QRect margin(0, style.page_height - style.bottom(), style.page_width, style.bottom());
    auto ink_in_margin = [&](const Style& s, const FooterInfo& footer) {
        QRect found;
        for_each_ink(PageRenderer(s, {}).render(pages.at(0), footer), [&](int x, int y) {
            if (margin.contains(x, y)) found |= QRect(x, y, 1, 1);
        });
        return found;
    };
    EXPECT_TRUE(ink_in_margin(style, {3, 120}).isEmpty()) << "no footer unless asked for";
    style.footer = FooterKind::page_number;
    const QRect number = ink_in_margin(style, {3, 120});
    ASSERT_FALSE(number.isEmpty());
    EXPECT_NEAR(number.center().x(), style.page_width / 2, 3) << "centred";
    EXPECT_LT(number.height(), style.footer_pixels() + 2) << "small";
    style.footer = FooterKind::chapter_title;
    const QRect title = ink_in_margin(style, {3, 120});
    ASSERT_FALSE(title.isEmpty());
    EXPECT_NE(title, number);
}

// The ink of one cluster set alone in the middle of a page.
QImage drawn_alone(const QString& text, const Style& style) {
    const auto pages = layout(text, style);
    return PageRenderer(style, {}).render(pages.at(0));
}

QRect ink_box(const QImage& image) {
    QRect box;
    for_each_ink(image, [&](int x, int y) { box |= QRect(x, y, 1, 1); });
    return box;
}

TEST(Rendering, AMissingGlyphIsDrawnFromAFallbackFontNotAsABox) {
    Style style;
    style.indent_ems = 0;
    const QImage hebrew = drawn_alone(QStringLiteral("\u05D0"), style);   // not in the default face
    const QImage missing = drawn_alone(QStringLiteral("\u0378"), style);  // in no font: Qt's box
    const QRect box = ink_box(hebrew);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_NE(hebrew, missing);
    const QRect drawn_box = ink_box(missing);
    EXPECT_TRUE(drawn_box.isEmpty() || drawn_box != box) << "the same shape as Qt's box";
}

TEST(Rendering, ACharacterOutsideTheBmpIsDrawnAsOneGlyph) {
    Style style;
    style.indent_ems = 0;
    const QRect box = ink_box(drawn_alone(QStringLiteral("\U00020BB7"), style));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LT(box.width(), style.font_pixels() * 1.1) << "not two half-characters";
    EXPECT_GT(box.width(), style.font_pixels() / 2);
}

}  // namespace
}  // namespace pagiro::typeset

// The GIF component's calls with converted values draw what the same calls with
// the settings' texts draw: a run converts its settings once and uses the former.
#include <gtest/gtest.h>

#include "platform/surface.h"
#include "platform/vb_error.h"
#include "platform/xygraphics.h"
#include "qt_app.h"

namespace pagiro {
namespace {

QImage copy(const PixelView& v) { return QImage(v.data, v.width, v.height, v.stride, QImage::Format_RGB32).copy(); }

TEST(XYGraphicsValues, DrawTheSamePixelsAsTheTexts) {
    const QString family = test::cjk_family();
    struct Case {
        QString width, height, back, text, size;
    } cases[] = {
        {"128", "110", "16777215", "0", "9"},
        {"60.5", "41.5", "255", "16711680", "11"},        // sizes round halves to even
        {"90", "40", "-1", "33554431", "12.5"},            // colours keep only their low 24 bits
    };
    for (const Case& c : cases) {
        XYGraphics by_text, by_value;
        by_text.New(c.width, c.height, c.back);
        by_text.IsTrans(true);
        by_text.TransColor(c.back);
        by_text.SetFont(family, c.size, 0, c.text, c.back);
        by_text.SetText(4, 4, 100, 0, QStringLiteral("中文ab，。"));

        auto number = [](const QString& t) { return t.toDouble(); };
        auto colour = [](const QString& t) { return static_cast<std::uint32_t>(t.toLongLong()); };
        by_value.New(number(c.width), number(c.height), colour(c.back));
        by_value.IsTrans(true);
        by_value.TransColor(colour(c.back));
        by_value.SetFont(family, number(c.size), 0, colour(c.text), colour(c.back));
        by_value.SetText(4, 4, 100, 0, QStringLiteral("中文ab，。"));

        const QImage a = copy(by_text.pixels());
        const QImage b = copy(by_value.pixels());
        ASSERT_FALSE(a.isNull());
        EXPECT_EQ(a.size(), b.size()) << c.width.toStdString();
        EXPECT_TRUE(a == b) << c.width.toStdString();
    }
}

TEST(XYGraphicsValues, SizesAreCheckedLikeTheTexts) {
    XYGraphics g;
    EXPECT_THROW(g.New(0.4, 10, 0), VbError);
    EXPECT_THROW(g.New(65536, 10, 0), VbError);
    try {
        g.New(3e9, 10, 0);
        ADD_FAILURE() << "no overflow";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 6);
    }
    g.New(65535, 1, 0xFFFFFF);
    EXPECT_EQ(g.pixels().width, 65535);
}

}  // namespace
}  // namespace pagiro

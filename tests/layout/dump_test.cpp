// The layout dump: one JSON object a line, readable by any JSON parser.
#include "layout/dump.h"
#include "layout/typeset.h"
#include "support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

std::vector<QByteArray> dump_lines(const QString& text, int page_number = 1) {
    test::FixedMeasurer measurer;
    const auto pages = typeset_all(text, test::fixed_style(8), measurer);
    EXPECT_EQ(pages.size(), 1u);
    const QByteArray dump = dump_page(pages.at(0), page_number);
    EXPECT_TRUE(dump.endsWith('\n'));
    std::vector<QByteArray> out;
    for (const QByteArray& line : dump.split('\n'))
        if (!line.isEmpty()) out.push_back(line);
    return out;
}

TEST(LayoutDump, EachLineIsOneObjectWithItsPlaceInPixels) {
    const auto lines = dump_lines(QStringLiteral("一二三四五六七八九十\r\nab cd   "), 12);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], QByteArray(R"({"page": 12, "line": 1, "x": 40, "y": 10, "width": 60, "text": "一二三四五六"})"));
    EXPECT_EQ(lines[1], QByteArray(R"({"page": 12, "line": 2, "x": 20, "y": 25, "width": 40, "text": "七八九十"})"));
    // Trailing blanks are no part of a line's text or width.
    EXPECT_EQ(lines[2], QByteArray(R"({"page": 12, "line": 3, "x": 20, "y": 40, "width": 25, "text": "ab cd"})"));
}

TEST(LayoutDump, AnyTextSurvivesAJsonParser) {
    const QString awkward = QStringLiteral("say \"hi\" \\ back\u0001\u0007 \U0001F600 end");
    const auto lines = dump_lines(awkward);
    QString joined;
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QJsonObject object = doc.object();
        EXPECT_EQ(object.value(QStringLiteral("page")).toInt(), 1);
        if (!joined.isEmpty()) joined += u' ';
        joined += object.value(QStringLiteral("text")).toString();
    }
    EXPECT_EQ(joined, awkward);
}

}  // namespace
}  // namespace pagiro::typeset

// The layout with the installed fonts (Noto Serif CJK SC, falling back to AR PL
// UMing): a whole generated novel checked line by line, and the characters
// that need real font metrics.
#include "layout/dump.h"
#include "layout/qt_measurer.h"
#include "layout/typeset.h"
#include "support.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRawFont>
#include <gtest/gtest.h>

namespace pagiro::typeset {
namespace {

bool is_ascii_letter(QChar c) { return c.unicode() < 0x80 && c.isLetter(); }

class NovelOnRealFonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        text_ = new QString(test::generated_novel(400000, 7));
        style_ = new Style;  // 480 x 800, 16 pt, the defaults
        QtMeasurer measurer(*style_);
        chapters_ = new std::vector<Chapter>;
        pages_ = new std::vector<Page>(typeset_all(*text_, *style_, measurer, chapters_));
    }
    static void TearDownTestSuite() {
        delete text_;
        delete style_;
        delete chapters_;
        delete pages_;
    }
    static QString* text_;
    static Style* style_;
    static std::vector<Chapter>* chapters_;
    static std::vector<Page>* pages_;
};

QString* NovelOnRealFonts::text_;
Style* NovelOnRealFonts::style_;
std::vector<Chapter>* NovelOnRealFonts::chapters_;
std::vector<Page>* NovelOnRealFonts::pages_;

TEST_F(NovelOnRealFonts, EveryCharacterAppearsExactlyOnceAndInOrder) {
    ASSERT_GT(pages_->size(), 700u);
    EXPECT_EQ(test::coverage_fault(*text_, *pages_), "");
}

TEST_F(NovelOnRealFonts, NoLineStartsWithAClosingMarkOrEndsWithAnOpeningOne) {
    const QString no_start = QStringLiteral("，。、；：？！）」』》”’…");
    const QString opening = QStringLiteral("（「『《“‘");
    int checked = 0;
    for (const Page& page : *pages_)
        for (const Line& line : page.lines) {
            const QString text = line.text.trimmed();
            ASSERT_FALSE(text.isEmpty());
            EXPECT_FALSE(no_start.contains(text.front())) << line.text.toStdString();
            EXPECT_FALSE(opening.contains(text.back())) << line.text.toStdString();
            ++checked;
        }
    EXPECT_GT(checked, 10000);
}

TEST_F(NovelOnRealFonts, EveryFullLineEndsFlushWithTheRightMargin) {
    const double right = style_->left() + style_->box_width();
    int justified = 0, hung = 0;
    for (const Page& page : *pages_)
        for (const Line& line : page.lines) {
            const double end = line.x + line.width;
            if (line.hang > 0) {
                // The hung mark alone stands past the edge; the text before it is flush.
                ++hung;
                const Glyph& mark = page.glyphs[line.first_glyph + line.glyph_count - 1];
                EXPECT_NEAR(mark.x, right, 1.0) << line.text.toStdString();
                EXPECT_LE(end, right + style_->right()) << line.text.toStdString();
                continue;
            }
            EXPECT_LE(end, right + 0.5) << line.text.toStdString();
            if (line.face == Face::heading || line.paragraph_end) continue;
            EXPECT_NEAR(end, right, 1.0) << line.text.toStdString();
            ++justified;
        }
    EXPECT_GT(justified, 5000);
    EXPECT_GT(hung, 100);
}

TEST_F(NovelOnRealFonts, LatinWordsAreNeverCutBetweenLines) {
    int latin_breaks = 0;
    for (const Page& page : *pages_)
        for (std::size_t l = 0; l < page.lines.size(); ++l) {
            const Line& line = page.lines[l];
            if (line.paragraph_end || line.end >= static_cast<std::uint32_t>(text_->size())) continue;
            if (is_ascii_letter(text_->at(line.end - 1))) {
                EXPECT_FALSE(is_ascii_letter(text_->at(line.end))) << line.text.toStdString();
            }
            if (line.text.back() == u' ') ++latin_breaks;
        }
    EXPECT_GT(latin_breaks, 10) << "the text should break at spaces now and then";
}

TEST_F(NovelOnRealFonts, EveryChapterHeadingStartsItsPage) {
    ASSERT_GT(chapters_->size(), 50u);
    for (const Chapter& chapter : *chapters_) {
        const Page& page = pages_->at(static_cast<std::size_t>(chapter.page - 1));
        EXPECT_EQ(page.lines.front().face, Face::heading);
        EXPECT_EQ(page.lines.front().text, chapter.title);
    }
    std::size_t headings = 0;
    for (const Page& page : *pages_)
        for (const Line& line : page.lines) headings += line.face == Face::heading;
    EXPECT_EQ(headings, chapters_->size());
}

QString without_blanks(const QString& text) {
    QString out;
    for (QChar c : text)
        if (!c.isSpace()) out += c;
    return out;
}

TEST_F(NovelOnRealFonts, TheDumpListsEveryLineOfEveryPageAndTheWholeText) {
    QString dumped;
    for (std::size_t p = 0; p < pages_->size(); ++p) {
        const QList<QByteArray> rows = dump_page((*pages_)[p], static_cast<int>(p) + 1).split('\n');
        ASSERT_EQ(static_cast<std::size_t>(rows.size()), (*pages_)[p].lines.size() + 1);  // and the empty tail
        for (qsizetype r = 0; r + 1 < rows.size(); ++r) {
            const QJsonObject row = QJsonDocument::fromJson(rows[r]).object();
            ASSERT_EQ(row.value(QStringLiteral("page")).toInt(), static_cast<int>(p) + 1);
            ASSERT_EQ(row.value(QStringLiteral("line")).toInt(), r + 1);
            const int x = row.value(QStringLiteral("x")).toInt(), width = row.value(QStringLiteral("width")).toInt();
            EXPECT_GE(x, style_->left());
            EXPECT_LE(x + width, style_->page_width - style_->right() + 21) << "past a hung mark's reach";
            dumped += row.value(QStringLiteral("text")).toString();
        }
    }
    EXPECT_EQ(without_blanks(dumped), without_blanks(*text_));
}

class RealFonts : public ::testing::Test {
protected:
    Style style;
    QtMeasurer measurer{style};
};

TEST_F(RealFonts, ScrambledTextOnASmallPageLosesNothing) {
    style.page_width = 128;
    style.page_height = 128;
    style.font_size_pt = 9;
    QtMeasurer small(style);
    for (unsigned seed = 0; seed < 5; ++seed) {
        const QString text = test::scrambled_text(4000, seed);
        EXPECT_EQ(test::coverage_fault(text, typeset_all(text, style, small)), "") << "seed " << seed;
    }
}

TEST_F(RealFonts, TheDefaultFaceIsInstalled) {
    EXPECT_EQ(resolved_family(style.font_family), QStringLiteral("Noto Serif CJK SC"));
    EXPECT_TRUE(face_font(style, Face::heading).bold());
    EXPECT_GT(face_font(style, Face::heading).pixelSize(), face_font(style, Face::body).pixelSize());
}

TEST_F(RealFonts, LatinIsProportionalAndHanziAreOneEm) {
    const double em = measurer.metrics(Face::body).em;
    EXPECT_LT(measurer.advance(u"i", Face::body), measurer.advance(u"m", Face::body));
    EXPECT_LT(measurer.advance(u"m", Face::body), em);
    EXPECT_NEAR(measurer.advance(u"国", Face::body), em, 0.5);
}

TEST_F(RealFonts, ACharacterOutsideTheBmpIsOneGlyphOfItsOwnWidth) {
    const QString ext_b = QStringLiteral("\U00020BB7");  // 𠮷, a well-known Ext-B hanzi
    const auto shape = measurer.shape(ext_b, Face::body);
    EXPECT_EQ(shape.glyphs, 1);
    EXPECT_TRUE(shape.all_found);
    EXPECT_NEAR(measurer.advance(ext_b, Face::body), measurer.metrics(Face::body).em, 0.5);

    const auto pages = typeset_all(QStringLiteral("吉\U00020BB7吉"), style, measurer);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].glyphs.size(), 3u);
    EXPECT_EQ(pages[0].glyphs[1].length, 2);
}

TEST_F(RealFonts, AGlyphTheFaceLacksComesFromAnotherInstalledFont) {
    const QString hebrew = QStringLiteral("\u05D0");  // א
    ASSERT_FALSE(QRawFont::fromFont(face_font(style, Face::body)).supportsCharacter(hebrew.front()))
        << "the test needs a character the default face lacks";
    const auto shape = measurer.shape(hebrew, Face::body);
    EXPECT_EQ(shape.glyphs, 1);
    EXPECT_TRUE(shape.all_found) << "drawn as a box";
    EXPECT_GT(measurer.advance(hebrew, Face::body), 0);
    // An unassigned code point no font has is the control: it is reported missing.
    EXPECT_FALSE(measurer.shape(QStringLiteral("\u0378"), Face::body).all_found);
}

}  // namespace
}  // namespace pagiro::typeset

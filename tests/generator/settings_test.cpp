#include <gtest/gtest.h>

#include <QImage>

#include "generator/estimate.h"
#include "generator/formats.h"
#include "generator/page_writer.h"
#include "generator/settings.h"
#include "test_support.h"

using namespace pagiro;

namespace {

struct Settings : ::testing::Test {
    TempFolder dir{"settings"};
    HeadlessHost host;
    QStringList folders_made;

    void SetUp() override {
        reset_run_state();
        host.set(Setting::c_ml, dir.q("out"));
    }
    RunSettings read() {
        return read_run_settings(host, {[this](const QString& f) { folders_made << f; }});
    }
    // The failure's English text, or "" when the settings were accepted.
    std::string failure() {
        return failure_of([this] { read(); });
    }
};

}  // namespace

TEST_F(Settings, TheDefaultsBecomeTheClassicPage) {
    host.set(Setting::s_text, QString(200, u'x'));
    const RunSettings s = read();
    EXPECT_EQ(s.width, 128);
    EXPECT_EQ(s.height, 110);
    EXPECT_EQ(s.font_size, 9);
    EXPECT_EQ(s.text_colour, 0u);
    EXPECT_EQ(s.background_colour, 0xFFFFFFu);
    EXPECT_EQ(s.first_page, 1);
    EXPECT_EQ(s.prefix, "kbwm");
    EXPECT_EQ(QString::fromUtf16(s.format->extension), ".gif");
    EXPECT_FALSE(s.volume_pages);
    EXPECT_FALSE(s.drop_empty_lines);
    EXPECT_TRUE(s.background_picture.isEmpty());
    EXPECT_EQ(s.style.left, 4);
    EXPECT_EQ(s.style.top, 4);
    EXPECT_EQ(s.style.cpl, 10);
    EXPECT_EQ(s.style.lpp, 8);
    ASSERT_TRUE(s.estimate);
    EXPECT_EQ(*s.estimate, 2);  // 200 characters, 80 a page, rounded down
    EXPECT_EQ(folders_made, QStringList{dir.q("out")});
    EXPECT_EQ(first_page_number(host), 1);
}

TEST_F(Settings, TextsAreConvertedAsTheRunUsesThem) {
    host.set(Setting::c_qm, "2.5");  // the page counter rounds halves to even; the percentage counts from 2.5
    host.set(Setting::c_bjcolor, "-1");
    host.set(Setting::c_bjtp, "  pic.jpg  ");
    host.set(Setting::v_tpks, ".bmp");
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "3");
    host.set(Check::qckh, true);
    const RunSettings s = read();
    EXPECT_EQ(s.first_page, 2);
    EXPECT_EQ(s.first_page_value, 2.5);
    EXPECT_EQ(s.background_colour, 0xFFFFFFFFu);
    EXPECT_EQ(s.background_picture, "pic.jpg");
    EXPECT_EQ(QString::fromUtf16(s.format->extension), ".bmp");
    ASSERT_TRUE(s.volume_pages);
    EXPECT_EQ(*s.volume_pages, 3);
    EXPECT_TRUE(s.drop_empty_lines);
    // Pages per volume count only when volumes are on.
    host.set(Check::zdfj, false);
    host.set(Setting::zdfj1, "zero");
    EXPECT_FALSE(read().volume_pages);
}

TEST_F(Settings, TheFirstWrongSettingInRunOrderIsTheOneReported) {
    host.set(Setting::c_tk, "wide");
    host.set(Setting::c_fontsize, "big");
    EXPECT_NE(failure().find("page width"), std::string::npos);
    // The folder is made before any number is looked at, as it always was.
    EXPECT_EQ(folders_made.size(), 1);
    host.set(Setting::c_tk, "128");
    EXPECT_NE(failure().find("font size"), std::string::npos);
    host.set(Setting::c_fontsize, "9");
    host.set(Setting::c_wzcolor, "4294967296");
    host.set(Setting::c_bjcolor, "black");
    EXPECT_NE(failure().find("background colour"), std::string::npos);
    host.set(Setting::c_bjcolor, "0");
    EXPECT_NE(failure().find("text colour"), std::string::npos);
    host.set(Setting::c_wzcolor, "0");
    host.set(Check::zdfj, true);
    host.set(Setting::zdfj1, "0.5");
    EXPECT_EQ(failure(), "pages per volume must be at least 1");
    host.set(Setting::zdfj1, "1");
    EXPECT_EQ(failure(), "");
}

TEST_F(Settings, ABadPrefixOrFirstPageStopsBeforeWhatFollows) {
    host.set(Setting::c_fjqz, "a/b");
    EXPECT_NE(failure().find("file-name prefix"), std::string::npos);
    EXPECT_TRUE(folders_made.isEmpty());
    host.set(Setting::c_fjqz, "ok");
    host.set(Setting::c_qm, "40000");
    host.set(Setting::c_tk, "wide");
    EXPECT_NE(failure().find("out of range (at most 32767)"), std::string::npos);
    host.set(Setting::c_qm, "first");
    EXPECT_NE(failure().find("first page number \"first\" is not a number"), std::string::npos);
}

TEST_F(Settings, ThePageCounterStartsWhereNoPageIsCounted) {
    // Whatever the first page number holds, the counter starts so that a run that
    // fails at once has counted none: the page number itself, or what was typed.
    const std::pair<const char*, double> cases[] = {
        {"1", 1}, {"7", 7}, {"2.5", 2}, {"１２", 12}, {"40000", 40000}, {"-40000", -40000}, {"first", 0}, {"", 0}};
    for (const auto& [typed, counter] : cases) {
        host.set(Setting::c_qm, typed);
        EXPECT_EQ(first_page_number(host), counter) << typed;
    }
}

TEST_F(Settings, ANumberTooLargeToDrawWithNamesItsSetting) {
    host.set(Setting::c_tk, "3000000000");
    std::string said = failure();
    EXPECT_NE(said.find("the page width 3000000000 is out of range"), std::string::npos) << said;
    EXPECT_EQ(said.find("32767"), std::string::npos) << said;
    host.set(Setting::c_tk, "128");
    host.set(Setting::c_tg, "-3e9");
    EXPECT_NE(failure().find("the page height -3e9 is out of range"), std::string::npos);
    host.set(Setting::c_tg, "110");
    host.set(Setting::c_bjcolor, "4294967296");
    EXPECT_NE(failure().find("the background colour 4294967296 is out of range"), std::string::npos);
    // The largest sizes that still fit are no number out of range; such a page is
    // refused for what it is, a page larger than its file can hold.
    host.set(Setting::c_bjcolor, "16777215");
    host.set(Setting::c_tk, "2147483647");
    said = failure();
    EXPECT_EQ(said.find("out of range"), std::string::npos) << said;
    EXPECT_NE(said.find("a 2147483647 x 110 page is too large"), std::string::npos) << said;
}

TEST_F(Settings, AnUnknownFormatIsRefusedAtTheStart) {
    host.set(Setting::v_tpks, ".png");
    const std::string said = failure();
    EXPECT_NE(said.find("\".png\" is unknown"), std::string::npos) << said;
    EXPECT_NE(said.find(".gif, .jpg, .bmp"), std::string::npos) << said;
    host.set(Setting::v_tpks, "");
    EXPECT_NE(failure().find("is unknown"), std::string::npos);
}

TEST(Formats, EveryRowIsFoundByItsExtensionAndItsName) {
    QStringList extensions;
    for (const PageFormat& f : page_formats()) {
        const QString ext = QString::fromUtf16(f.extension);
        EXPECT_EQ(ext, u'.' + QLatin1String(f.name));
        EXPECT_EQ(find_format(ext), &f);
        EXPECT_EQ(find_format_by_name(QLatin1String(f.name)), &f);
        EXPECT_EQ(find_format_by_name(ext.toUpper()), &f);
        EXPECT_NE(f.encode, nullptr);
        extensions << ext;
    }
    EXPECT_EQ(extensions, (QStringList{".gif", ".jpg", ".bmp"}));  // the window lists them in this order
    EXPECT_EQ(find_format("gif"), nullptr);  // the control holds the extension with its dot
    EXPECT_EQ(find_format(".GIF"), nullptr);
    EXPECT_EQ(find_format_by_name("png"), nullptr);
    EXPECT_EQ(find_format_by_name(""), nullptr);
}

TEST(Estimate, TheLabelAndTheRunCountAlike) {
    for (auto [w, h, pt] : {std::tuple{128, 110, 9}, {240, 320, 12}, {20, 20, 9}, {500, 30, 1}}) {
        const auto from_texts = estpages(QString::number(h), QString::number(pt), QString::number(w), 12345);
        EXPECT_EQ(from_texts, estimate_pages(classic_page_style(w, h, pt), 12345)) << w << "x" << h;
        ASSERT_TRUE(from_texts);
    }
    EXPECT_EQ(estpages("110", "9", "128", 12345), 154);  // 12345 / 80
    EXPECT_FALSE(estpages("110", "0", "128", 100));
    EXPECT_FALSE(estpages("110", "nine", "128", 100));
    EXPECT_FALSE(estpages("110", "13", "20", 100));  // not one column
}

TEST(PageStyle, TheClassicMarginIsWhereTheLinesStart) {
    const PageStyle s = classic_page_style(128, 110, 9);
    EXPECT_EQ(s.left, kClassicMargin);
    EXPECT_EQ(s.line_top(0), kClassicMargin);
    PageStyle wide = s;
    wide.top = 10;
    EXPECT_EQ(wide.line_top(2), 10 + 2 * s.pitch);
}

TEST_F(Settings, ARunInAnUnknownFormatWritesNothingAndSaysWhy) {
    for (const char* text : {"第一行\r\n第二行\r\n", ""}) {
        host.set(Setting::s_text, text);
        host.set(Setting::v_tpks, ".png");
        host.start();
        EXPECT_TRUE(host.failure_chinese().startsWith("图片格式“.png”无法识别")) << host.failure_chinese().toStdString();
        EXPECT_TRUE(host.summary().isEmpty());
        EXPECT_FALSE(host.running());
        EXPECT_EQ(mk::runflag, 0);
        EXPECT_TRUE(files_below(dir.path / "out").empty());
    }
}

// A preview draws a page with the run's own code: the same pixels as the file.
TEST_F(Settings, APageDrawnOutsideARunIsThePageTheRunWrites) {
    host.set(Setting::s_text, QStringLiteral("第一章　灯下的书\r\n\r\nabc 中文，。\r\n").repeated(6));
    host.set(Setting::c_wzcolor, "128");
    host.set(Setting::c_bjcolor, "15794175");
    host.set(Check::qckh, true);
    for (const char* format : {".bmp", ".gif"}) {
        host.set(Setting::v_tpks, format);
        host.start();
        ASSERT_TRUE(host.failure().isEmpty()) << host.failure().toStdString();
        const RunSettings s = read();
        const std::u16string text = s.text.toStdU16String();
        const auto pages = paginate(text, s.style, s.drop_empty_lines);
        ASSERT_GE(pages.size(), 2u);
        const QImage drawn = draw_page(s, pages[1].lines);
        const QImage written = QImage(dir.q("out/kbwm000002") + format).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(written.isNull()) << format;
        EXPECT_EQ(drawn.size(), QSize(128, 110));
        EXPECT_TRUE(drawn == written) << format;
        EXPECT_FALSE(drawn == draw_page(s, pages[0].lines)) << "pages differ";
    }
}

// The settings of a typeset run as the run reads them from a host: the page box
// filled from the shared settings, the PNG kind a screen and its colours need,
// the estimate that sizes the page numbers, and what is refused before a page is made.
#include <gtest/gtest.h>

#include "generator/estimate.h"
#include "generator/formats.h"
#include "generator/settings.h"
#include "test_support.h"

using namespace pagiro;

namespace {

struct TypesetSettings : ::testing::Test {
    TempFolder dir{"typeset_settings"};
    HeadlessHost host;
    PageOptions options;

    void SetUp() override {
        reset_run_state();
        host.set(Setting::c_ml, dir.q("out"));
        host.set(Setting::c_tk, "480");
        host.set(Setting::c_tg, "800");
        host.set(Setting::c_fontsize, "16");
        host.set(Setting::v_tpks, ".png");
        host.set(Setting::s_text, QString(100000, QChar(0x4E2D)));
        options.layout = LayoutMode::typeset;
    }
    RunSettings read() {
        host.set(options);
        return read_run_settings(host, {});
    }
    std::string failure() {
        return failure_of([this] { read(); });
    }
};

}  // namespace

TEST_F(TypesetSettings, ThePageBoxTakesTheRunsSizeFaceAndFontSize) {
    options.typeset.style.margin_left = 40;
    options.typeset.style.line_spacing = 2;
    host.set(Setting::c_font, "Noto Serif CJK SC");
    const RunSettings s = read();
    EXPECT_EQ(s.layout, LayoutMode::typeset);
    EXPECT_EQ(s.typeset.style.page_width, 480);
    EXPECT_EQ(s.typeset.style.page_height, 800);
    EXPECT_EQ(s.typeset.style.font_size_pt, 16);
    EXPECT_EQ(s.typeset.style.font_family, "Noto Serif CJK SC");
    EXPECT_EQ(s.typeset.style.left(), 40);
    EXPECT_EQ(s.typeset.style.right(), 29);  // the default: 6% of the shorter side
    EXPECT_EQ(s.typeset.style.line_spacing, 2);
    EXPECT_EQ(s.format, find_typeset_format(".png"));
    EXPECT_FALSE(s.gif_transparent);  // typeset GIF pages are opaque unless asked
    // 21-pixel characters: 411 / 21 = 19 a line, (742 - 21) / 42 + 1 = 18 lines.
    ASSERT_TRUE(s.estimate);
    EXPECT_EQ(*s.estimate, std::floor(100000.0 / (19 * 18)));
}

TEST_F(TypesetSettings, PngPagesHoldTheLevelsTheScreenShowsAndColourOnlyForColours) {
    using typeset::PngKind;
    struct Case {
        const char* name;
        int levels;
        bool mono;
        const char* text;
        const char* background;
        PngKind kind;
    } cases[] = {
        {"grey", 256, false, "0", "16777215", PngKind::grey8},
        {"16 levels", 16, false, "0", "16777215", PngKind::grey8},
        {"4 levels", 4, false, "0", "16777215", PngKind::grey2},
        {"2 levels", 2, false, "0", "16777215", PngKind::grey1},
        {"mono ink", 256, true, "0", "16777215", PngKind::grey1},
        {"mono, white on black", 256, true, "16777215", "0", PngKind::grey1},
        {"mono on grey paper", 256, true, "0", "12632256", PngKind::grey8},
        {"red text", 256, false, "255", "16777215", PngKind::colour},
        {"red text on a 4-level screen", 4, false, "255", "16777215", PngKind::colour},
    };
    for (const Case& c : cases) {
        options.typeset.grey_levels = c.levels;
        options.typeset.mono = c.mono;
        host.set(Setting::c_wzcolor, c.text);
        host.set(Setting::c_bjcolor, c.background);
        EXPECT_EQ(read().png_kind, c.kind) << c.name;
    }
}

TEST_F(TypesetSettings, WhatCannotMakeAPageIsRefusedBeforeAnyPage) {
    options.typeset.style.margin_left = options.typeset.style.margin_right = 230;
    EXPECT_NE(failure().find("too little room"), std::string::npos);
    options.typeset.style.margin_left = options.typeset.style.margin_right = -1;

    options.typeset.chapter_pattern = QStringLiteral("(unclosed");
    EXPECT_NE(failure().find("the chapter pattern cannot be used"), std::string::npos);
    options.typeset.chapter_pattern.reset();

    host.set(Setting::c_tk, "20000");
    EXPECT_NE(failure().find("at most 16384"), std::string::npos);
    host.set(Setting::c_tk, "480");

    host.set(Setting::v_tpks, ".tif");
    const std::string said = failure();
    EXPECT_NE(said.find(".png, .jpg, .gif, .bmp"), std::string::npos) << said;
    host.set(Setting::v_tpks, ".png");
    EXPECT_EQ(failure(), "");
}

TEST_F(TypesetSettings, AHostThatSaysNothingKeepsTheClassicRun) {
    options = {};
    host.set(Setting::v_tpks, ".gif");
    host.set(Setting::c_tk, "128");
    host.set(Setting::c_tg, "110");
    host.set(Setting::c_fontsize, "9");
    const RunSettings s = read();
    EXPECT_EQ(s.layout, LayoutMode::classic);
    EXPECT_TRUE(s.gif_transparent);
    EXPECT_EQ(s.format, find_format(".gif"));
    options.gif_transparent = false;
    EXPECT_FALSE(read().gif_transparent);
}

TEST(TypesetFormats, EveryRowIsFoundByItsExtensionAndName) {
    QStringList extensions;
    for (const PageFormat& f : typeset_page_formats()) {
        const QString ext = QString::fromUtf16(f.extension);
        EXPECT_EQ(find_typeset_format(ext), &f);
        EXPECT_EQ(find_typeset_format_by_name(ext.toUpper()), &f);
        EXPECT_EQ(f.canvas, Canvas::typeset);
        EXPECT_EQ(find_format(ext) == nullptr, ext == ".png") << "typeset pages offer the classic formats and PNG";
        extensions << ext;
    }
    EXPECT_EQ(extensions, (QStringList{".png", ".jpg", ".gif", ".bmp"}));
}

TEST(TypesetFormats, BookRowsComeAfterThePagesAndEveryFinderFindsThem) {
    QStringList names;
    for (const PageFormat& f : book_formats()) {
        const QString ext = QString::fromUtf16(f.extension);
        EXPECT_EQ(find_format(ext), &f);
        EXPECT_EQ(find_typeset_format(ext), &f);
        EXPECT_EQ(find_format_by_name(QString::fromLatin1(f.name).toUpper()), &f);
        EXPECT_EQ(find_typeset_format_by_name(ext), &f);
        EXPECT_NE(f.book, BookKind::none);
        names << QLatin1String(f.name);
    }
    EXPECT_EQ(names, (QStringList{"xtc", "xtch", "cbz"}));
    for (const PageFormat& f : page_formats()) EXPECT_EQ(f.book, BookKind::none);
}

TEST_F(TypesetSettings, ABookIsNamedAfterItsTitleAndCountsItsPagesFromOne) {
    host.set(Setting::v_tpks, ".xtch");
    host.set(Setting::c_qm, "7");
    host.set(Check::zdfj, true);
    options.book.title = QStringLiteral("  ../卷一: 风/雨  ");
    RunSettings s = read();
    ASSERT_TRUE(s.book);
    EXPECT_EQ(s.book->title, QStringLiteral("../卷一: 风/雨"));
    EXPECT_EQ(s.book->file, QStringLiteral("_卷一_ 风_雨.xtch")) << "no folder, no hidden file";
    EXPECT_EQ(s.first_page, 1);
    EXPECT_FALSE(s.volume_pages);
    EXPECT_TRUE(s.book->contents);
    EXPECT_EQ(s.book->page_format, nullptr);

    // A name of its own wins for the file; nothing at all is "电子书".
    options.book = {};
    options.book.name = QStringLiteral("novel");
    EXPECT_EQ(read().book->file, QStringLiteral("novel.xtch"));
    EXPECT_EQ(read().book->title, QStringLiteral("novel"));
    options.book = {};
    EXPECT_EQ(read().book->file, QStringLiteral("电子书.xtch"));
    EXPECT_EQ(book_file_stem(QString(200, QChar(0x4E66))).size(), 80);

    // A comic book's pages: grey JPEG for grey typeset pages, PNG by default, nothing else.
    host.set(Setting::v_tpks, ".cbz");
    EXPECT_EQ(read().book->page_format, find_typeset_format_by_name("png"));
    options.book.page_format = "jpg";
    EXPECT_EQ(read().book->page_format, find_typeset_format_by_name("jpg"));
    options.book.page_format = "gif";
    EXPECT_NE(failure().find("must be png or jpg"), std::string::npos) << failure();
}

// A device's own format where the layout's pages can be written in it (a book
// holds either); otherwise PNG for typeset pages and none for classic ones.
TEST(DeviceFormats, TheDevicesOwnWhereTheLayoutCanWriteIt) {
    const auto extension = [](const PageFormat* f) { return f ? QString::fromUtf16(f->extension) : QString(); };
    EXPECT_EQ(extension(device_page_format("jpg", true)), ".jpg");
    EXPECT_EQ(extension(device_page_format("xtch", true)), ".xtch");
    EXPECT_EQ(extension(device_page_format("tiff", true)), ".png");
    EXPECT_EQ(extension(device_page_format("png", true)), ".png");
    EXPECT_EQ(extension(device_page_format("jpg", false)), ".jpg");
    EXPECT_EQ(extension(device_page_format("png", false)), QString());
    EXPECT_EQ(extension(device_page_format("xtch", false)), ".xtch");
}

// The window's label counts as the run does, from the control texts as typed.
TEST_F(TypesetSettings, TheLabelsEstimateIsTheRunsAndNothingForPagesThatCannotBe) {
    options.typeset.style.margin_top = 100;
    options.typeset.style.line_spacing = 1.8;
    const RunSettings s = read();
    const qsizetype length = host.text(Setting::s_text).size();
    const auto label = [&](const char* height, const char* size, const char* width) {
        return typeset_estpages(height, size, width, "Noto Serif CJK SC", options.typeset, length);
    };
    ASSERT_TRUE(s.estimate);
    EXPECT_EQ(label("800", "16", "480"), s.estimate);
    EXPECT_EQ(label("８００", "16", "480"), s.estimate);  // as an input method types it
    EXPECT_FALSE(label("800", "big", "480"));
    EXPECT_FALSE(label("800", "0", "480"));
    EXPECT_FALSE(label("1e12", "16", "480"));
    options.typeset.style.margin_left = 460;
    EXPECT_FALSE(label("800", "16", "480"));
}

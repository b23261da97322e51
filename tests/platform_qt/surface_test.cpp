#include "platform/surface.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QFile>
#include <QTemporaryDir>
#include <QBuffer>
#include <chrono>
#include <fstream>
#include <sys/stat.h>

#include "platform/file_names.h"
#include "platform/xygraphics.h"
#include "qt_app.h"

namespace pagiro {
namespace {

using test::cjk_family;
using test::colours_of;
using test::ink_box;

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

TEST(PageSurface, HasExactlyThePageSizeAndClearsToTheBackgroundColour) {
    PageSurface s;
    s.set_size(128, 110);
    s.set_colors(kBlack, 0x0000FF);  // 0x00BBGGRR: red in the low byte
    s.clear();
    const QImage& img = s.image();
    EXPECT_EQ(img.size(), QSize(128, 110));
    EXPECT_EQ(colours_of(img), std::set<unsigned>{0xFF0000u});

    const PixelView v = s.view();
    EXPECT_EQ(v.width, 128);
    EXPECT_EQ(v.height, 110);
    EXPECT_EQ(v.format, PixelFormat::Bgrx32);
    EXPECT_EQ(v.data, img.constBits());
    EXPECT_GE(v.stride, 128 * 4);
    EXPECT_EQ(v.data[0], 0x00);  // blue
    EXPECT_EQ(v.data[2], 0xFF);  // red

    s.set_colors(kBlack, 0x00336699);
    s.clear();
    EXPECT_EQ(colours_of(s.image()), std::set<unsigned>{0x996633u});

    // A big page (filled by two threads), odd height: every row, the bytes Qt gives.
    s.set_size(1201, 1001);
    s.clear();
    QImage qt(1201, 1001, QImage::Format_RGB32);
    qt.fill(QColor(0x99, 0x66, 0x33));
    EXPECT_EQ(s.image(), qt);
    EXPECT_EQ(colours_of(s.image()), std::set<unsigned>{0x996633u});

    s.set_size(0, -5);
    EXPECT_EQ(s.image().size(), QSize(1, 1));
}

TEST(PageSurface, PointSizesBecomeScreenPixelSizes) {
    const int expected[] = {12, 13, 15, 16, 17, 19, 20};
    for (int pt = 9; pt <= 15; ++pt) EXPECT_EQ(font_pixel_size(pt), expected[pt - 9]) << pt << " pt";
    EXPECT_EQ(font_pixel_size(10.5), 14);
    EXPECT_EQ(font_pixel_size(0), 1);

    PageSurface s;
    s.set_font(cjk_family(), 11);
    EXPECT_EQ(s.font().pixelSize(), 15);
    EXPECT_TRUE(s.font().styleStrategy() & QFont::NoAntialias);
    EXPECT_EQ(s.font().hintingPreference(), QFont::PreferFullHinting);
    EXPECT_EQ(s.resolved_family(), cjk_family());

    // A face that is not installed falls back to one that has Chinese glyphs.
    s.set_font("No Such Face Pagiro", 9);
    EXPECT_NE(s.resolved_family(), "No Such Face Pagiro");
    EXPECT_EQ(s.font().pixelSize(), 12);
    if (cjk_family() == "AR PL UMing CN") {
        EXPECT_EQ(s.resolved_family(), "AR PL UMing CN");
    }
}

class PageSurfaceSlots : public ::testing::TestWithParam<const char*> {};

TEST_P(PageSurfaceSlots, LinesSitInTheirSlotsInTwoColoursOnly) {
    PageSurface s;
    s.set_size(128, 110);
    s.set_font(*GetParam() ? QString::fromUtf8(GetParam()) : cjk_family(), 9);
    s.set_colors(0x00336699, 0x00E0F0FF);
    const QRgb back = colour_from_win(0x00E0F0FF).rgb();
    // The text cell: ascent + descent rows from the top. Chinese faces fit the 13-pixel pitch.
    const int cell = QFontMetrics(s.font()).height();
    if (!*GetParam()) {
        EXPECT_LE(cell, 13);
    }
    for (const QString& line : {QStringLiteral("中文字"), QStringLiteral("Agjy|[]_"), QStringLiteral("国。,abc")}) {
        for (int n = 0; n < 8; ++n) {
            const int top = 13 * n + 4;
            s.clear();
            s.print(4, top, line);
            const QRect ink = ink_box(s.image(), back);
            ASSERT_FALSE(ink.isEmpty()) << line.toStdString() << " slot " << n;
            EXPECT_GE(ink.top(), top) << line.toStdString() << " slot " << n;
            EXPECT_LE(ink.bottom(), top + cell - 1) << line.toStdString() << " slot " << n;
            EXPECT_LE(ink.top(), top + 4) << line.toStdString() << " slot " << n;
            EXPECT_GE(ink.left(), 4);
        }
    }
    s.clear();
    for (int n = 0; n < 8; ++n) s.print(4, 13 * n + 4, QStringLiteral("天地玄黄宇宙洪荒日月"));
    EXPECT_EQ(colours_of(s.image()), (std::set<unsigned>{0x996633u, 0xFFF0E0u}));
}

// The installed Chinese face, the default face name (not installed here), a Latin face.
INSTANTIATE_TEST_SUITE_P(Faces, PageSurfaceSlots, ::testing::Values("", "宋体", "DejaVu Sans"));

TEST(PageSurface, FontAndColourChangesApplyWithinAPage) {
    PageSurface s;
    s.set_size(128, 110);
    s.set_font(cjk_family(), 9);
    s.set_colors(kBlack, kWhite);
    s.clear();
    s.print(4, 4, QStringLiteral("中"));
    s.set_font(cjk_family(), 15);
    s.set_colors(0x0000FF, kWhite);
    s.print(4, 40, QStringLiteral("中"));
    const QImage img = s.image();
    const QRect small = ink_box(img.copy(0, 0, 128, 30), qRgb(255, 255, 255));
    const QRect large = ink_box(img.copy(0, 40, 128, 30), qRgb(255, 255, 255));
    EXPECT_GT(large.height(), small.height());
    EXPECT_EQ(colours_of(img.copy(0, 0, 128, 30)), (std::set<unsigned>{0x000000u, 0xFFFFFFu}));
    EXPECT_EQ(colours_of(img.copy(0, 40, 128, 30)), (std::set<unsigned>{0xFF0000u, 0xFFFFFFu}));
}

TEST(PageSurface, BackgroundPictureSitsTopLeftThroughEveryClear) {
    QTemporaryDir dir;
    QImage pic(20, 10, QImage::Format_RGB32);
    pic.fill(qRgb(0, 128, 0));
    pic.setPixel(19, 9, qRgb(0, 0, 200));
    const QString bmp = dir.filePath("back.bmp");
    ASSERT_TRUE(pic.save(bmp));
    const QString gif = dir.filePath("back.gif");
    {
        QImage rgb = pic.convertToFormat(QImage::Format_RGB32);
        PixelView v{rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(), PixelFormat::Bgrx32};
        const auto bytes = encode_gif(v, std::nullopt, nullptr);
        ASSERT_TRUE(bytes);
        QFile f(gif);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(*bytes);
    }
    for (const QString& path : {bmp, gif}) {
        PageSurface s;
        s.set_size(64, 32);
        s.set_colors(kBlack, kWhite);
        QString error;
        ASSERT_TRUE(s.set_background_picture("  " + path + " ", &error)) << error.toStdString();
        for (int page = 0; page < 2; ++page) {
            s.clear();
            const QImage img = s.image();
            EXPECT_EQ(img.copy(0, 0, 20, 10), pic) << path.toStdString();
            EXPECT_EQ(colours_of(img.copy(20, 0, 44, 32)), std::set<unsigned>{0xFFFFFFu});
            EXPECT_EQ(colours_of(img.copy(0, 10, 64, 22)), std::set<unsigned>{0xFFFFFFu});
            s.print(0, 0, QStringLiteral("中文字"));
        }
    }

    PageSurface s;
    QString error;
    EXPECT_FALSE(s.set_background_picture(dir.filePath("missing.jpg"), &error));
    EXPECT_EQ(error, "no such file");
    QFile bad(dir.filePath("bad.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\xFF\xD8\xFF not really a jpeg");
    bad.close();
    error.clear();
    EXPECT_FALSE(s.set_background_picture(bad.fileName(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(s.has_background_picture());
    EXPECT_TRUE(s.set_background_picture("   ", &error));
    EXPECT_FALSE(s.has_background_picture());
}

// The page a run hands on shares the surface's pixels; drawing the next page
// must leave it as it was, with or without a background picture, whatever its size.
TEST(PageSurface, APageHandedOnKeepsItsPixelsWhileTheNextIsDrawn) {
    QTemporaryDir dir;
    QImage exact(96, 40, QImage::Format_RGB32), smaller(30, 12, QImage::Format_RGB32);
    for (QImage* pic : {&exact, &smaller})
        for (int y = 0; y < pic->height(); ++y)
            for (int x = 0; x < pic->width(); ++x) pic->setPixel(x, y, qRgb(x * 2, y * 5, 90));
    ASSERT_TRUE(exact.save(dir.filePath("exact.bmp")));
    ASSERT_TRUE(smaller.save(dir.filePath("smaller.bmp")));
    for (const QString& picture : {QString(), dir.filePath("exact.bmp"), dir.filePath("smaller.bmp")}) {
        SCOPED_TRACE(picture.toStdString());
        // What a surface of its own draws for each page: the reference.
        auto fresh_page = [&](const QString& text) {
            PageSurface r;
            r.set_size(96, 40);
            r.set_font(cjk_family(), 9);
            QString error;
            EXPECT_TRUE(r.set_background_picture(picture, &error)) << error.toStdString();
            r.clear();
            r.print(2, 2, text);
            return r.image().copy();
        };
        PageSurface s;
        s.set_size(96, 40);
        s.set_font(cjk_family(), 9);
        QString error;
        ASSERT_TRUE(s.set_background_picture(picture, &error)) << error.toStdString();
        const QStringList texts = {QStringLiteral("第一页"), QStringLiteral("下一页 abc"), QString()};
        std::vector<QImage> handed_on;
        for (const QString& text : texts) {
            s.clear();
            s.print(2, 2, text);
            handed_on.push_back(s.image());  // shared, as a run hands it on
        }
        for (int k = 0; k < texts.size(); ++k) EXPECT_EQ(handed_on[std::size_t(k)], fresh_page(texts[k])) << k;
        // A page no longer held is drawn over in place.
        handed_on.clear();
        s.clear();
        EXPECT_EQ(s.image(), fresh_page(QString()));
    }
}

// A picture that covers the page is the first page's own pixels, and every later
// page is cleared from the one before with the rows its text was drawn on put
// back: whether that page is still held or not, with lines at the page's edges,
// overlapping lines, lines past the page, and colours and sizes changed between.
TEST(PageSurface, APageThatIsThePicturesOwnPixelsGivesBackThePictureForTheNext) {
    QTemporaryDir dir;
    QImage pic(120, 90, QImage::Format_RGB32);
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) pic.setPixel(x, y, qRgb((x * 9) & 255, (y * 13) & 255, (x ^ y) & 255));
    const QString path = dir.filePath("cover.bmp");
    ASSERT_TRUE(pic.save(path));
    struct Line {
        int left, top;
        QString text;
    };
    using Page = std::vector<Line>;
    const std::vector<Page> pages = {
        {{0, 0, QStringLiteral("第一行")}, {3, 40, QStringLiteral("中间 mid")}},
        {{0, -7, QStringLiteral("顶上出界")}, {10, 82, QStringLiteral("底下出界")}, {0, 300, QStringLiteral("页外")}},
        {{0, 20, QStringLiteral("重叠一")}, {5, 26, QStringLiteral("重叠二")}, {-4, 60, QStringLiteral("左边出界")}},
        {},
        {{1, 1, QStringLiteral("€ 宽字符 ¥")}},
    };
    auto draw = [&](PageSurface& s, const Page& page) {
        for (const Line& l : page) s.print(l.left, l.top, l.text);
    };
    // The same page drawn by a surface of its own.
    auto reference = [&](const Page& page, std::uint32_t text_colour, QSize size) {
        PageSurface r;
        r.set_size(size.width(), size.height());
        r.set_font(cjk_family(), 9);
        r.set_colors(text_colour, kWhite);
        QString error;
        EXPECT_TRUE(r.set_background_picture(path, &error)) << error.toStdString();
        r.clear();
        draw(r, page);
        return r.image().copy();
    };
    for (const bool hold : {true, false}) {
        SCOPED_TRACE(hold ? "pages held" : "pages let go");
        PageSurface s;
        s.set_size(120, 90);
        s.set_font(cjk_family(), 9);
        s.set_colors(kBlack, kWhite);
        QString error;
        ASSERT_TRUE(s.set_background_picture(path, &error)) << error.toStdString();
        std::vector<QImage> held;
        for (int round = 0; round < 2; ++round)
            for (std::size_t k = 0; k < pages.size(); ++k) {
                SCOPED_TRACE(k);
                s.clear();
                draw(s, pages[k]);
                EXPECT_EQ(s.image(), reference(pages[k], kBlack, QSize(120, 90)));
                if (hold) held.push_back(s.image());
            }
        for (std::size_t k = 0; k < held.size(); ++k)
            EXPECT_EQ(held[k], reference(pages[k % pages.size()], kBlack, QSize(120, 90))) << k;
        // Changes between pages: the picture comes back whole before them.
        s.set_colors(0x0000FF, kWhite);
        EXPECT_TRUE(s.has_background_picture());
        s.clear();
        draw(s, pages[0]);
        EXPECT_EQ(s.image(), reference(pages[0], 0x0000FF, QSize(120, 90)));
        s.set_size(60, 50);
        s.clear();
        draw(s, pages[2]);
        EXPECT_EQ(s.image(), reference(pages[2], 0x0000FF, QSize(60, 50)));
        s.set_size(120, 90);
        s.clear();
        draw(s, pages[1]);
        EXPECT_EQ(s.image(), reference(pages[1], 0x0000FF, QSize(120, 90)));
        s.clear();
        EXPECT_EQ(s.image(), pic);
    }
}

TEST(PageSurface, OnlyThePartOfALargerPictureThatThePageShowsIsKept) {
    QTemporaryDir dir;
    QImage pic(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) pic.setPixel(x, y, qRgb((x * 7) & 255, (y * 3) & 255, (x + y) & 255));
    for (const char* name : {"big.png", "big.jpg", "big.bmp"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(name);
        ASSERT_TRUE(pic.save(path, nullptr, 95));
        // The picture as Qt reads it whole: its top-left part is what the page shows.
        const QImage whole = QImage(path).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(whole.isNull());
        PageSurface s;
        s.set_size(64, 48);
        QString error;
        ASSERT_TRUE(s.set_background_picture(path, &error)) << error.toStdString();
        for (int page = 0; page < 2; ++page) {
            s.clear();
            EXPECT_EQ(s.image(), whole.copy(0, 0, 64, 48)) << page;
        }
        // A larger page reads the picture again and shows more of it.
        s.set_size(200, 100);
        s.clear();
        EXPECT_EQ(s.image(), whole.copy(0, 0, 200, 100));
    }
}

// Qt's reader turns away pictures past 256 MB of pixels by default; such a
// picture (8200 x 8200, about 270 MB) loads when the memory is there.
TEST(PageSurface, APicturePastTheReadersDefaultLimitLoads) {
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.png");
    {
        QImage pic(8200, 8200, QImage::Format_RGB32);
        ASSERT_FALSE(pic.isNull());
        pic.fill(qRgb(10, 120, 200));
        pic.setPixel(1, 1, qRgb(250, 0, 0));
        ASSERT_TRUE(pic.save(path, "PNG", 90));  // light compression: quick to write
    }
    PageSurface s;
    s.set_size(40, 20);
    QString error;
    ASSERT_TRUE(s.set_background_picture(path, &error)) << error.toStdString();
    s.clear();
    EXPECT_EQ(s.image().pixel(1, 1), qRgb(250, 0, 0));
    EXPECT_EQ(s.image().pixel(39, 19), qRgb(10, 120, 200));
}

TEST(PageSurface, PictureMemoryCountsWhatTheReaderDecodes) {
    // A reader that stops at the part kept needs far less than one that decodes
    // the whole picture first; neither is less than the part kept.
    const std::uint64_t part = picture_load_bytes(8000, 6000, 4000, 3000, true);
    const std::uint64_t whole = picture_load_bytes(8000, 6000, 4000, 3000, false);
    EXPECT_GE(part, 4u * 4000 * 3000);
    EXPECT_GE(whole, 4u * 8000 * 6000 + part / 2);
    EXPECT_LT(part, whole / 2);
    EXPECT_GT(picture_load_bytes(60000, 60000, 60000, 60000, true), std::uint64_t(1) << 34);  // no 32-bit wrap
}

TEST(PageSurface, ABackgroundPictureMustBeARegularFileAndIsNeverWaitedFor) {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("pipe.jpg").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        QString path;
        const char* reason;
    } cases[] = {
        {QString::fromStdString(fifo), "it is a named pipe, not a file"},
        {dir.path(), "it is a folder, not a file"},
        {QStringLiteral("/dev/zero"), "it is a device, not a file"},
    };
    for (const Case& c : cases) {
        // A pipe nobody writes to would hold this call for ever; it must come back at once.
        const auto start = std::chrono::steady_clock::now();
        PageSurface s;
        QString error;
        EXPECT_FALSE(s.set_background_picture(c.path, &error)) << c.path.toStdString();
        EXPECT_EQ(error, c.reason);
        EXPECT_FALSE(s.has_background_picture());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

TEST(PageSurface, ABackgroundPictureIsFoundByTheBytesOfItsName) {
    // A file named in GBK ("背景.bmp") on a system whose names are otherwise UTF-8.
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    const std::string gbk_name = folder + "/\xB1\xB3\xBE\xB0.bmp";
    QImage pic(8, 6, QImage::Format_RGB32);
    pic.fill(qRgb(200, 10, 10));
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(pic.save(&buffer, "BMP"));
    }
    std::ofstream(gbk_name, std::ios::binary).write(bytes.constData(), bytes.size());
    PageSurface s;
    s.set_size(16, 16);
    QString error;
    ASSERT_TRUE(s.set_background_picture(name_from_bytes(gbk_name), &error)) << error.toStdString();
    s.clear();
    EXPECT_EQ(s.image().copy(0, 0, 8, 6), pic);
}

TEST(PageSurface, SavesA24BitBmpOrNothing) {
    QTemporaryDir dir;
    PageSurface s;
    s.set_size(128, 110);
    s.set_font(cjk_family(), 9);
    s.set_colors(0x00FF8000, 0x0000FFFF);
    s.clear();
    s.print(4, 4, QStringLiteral("中文字 abc"));
    const QString path = dir.filePath("kbwm000001.bmp");
    QString error;
    ASSERT_TRUE(s.save_bmp(path, &error)) << error.toStdString();
    ASSERT_TRUE(s.save_bmp(path, &error)) << "replacing a page";

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GE(bytes.size(), 54);
    EXPECT_TRUE(bytes.startsWith("BM"));
    auto le = [&](int at, int n) {
        unsigned v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | std::uint8_t(bytes[at + i]);
        return v;
    };
    EXPECT_EQ(le(18, 4), 128u);
    EXPECT_EQ(le(22, 4), 110u);
    EXPECT_EQ(le(28, 2), 24u);
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), s.image());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"kbwm000001.bmp"});

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    for (const QString& bad : {dir.filePath("file/page.bmp"), dir.filePath("folder"), dir.filePath("no/such/page.bmp")}) {
        error.clear();
        EXPECT_FALSE(s.save_bmp(bad, &error)) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"file", "kbwm000001.bmp"}));
    EXPECT_TRUE(QDir(dir.filePath("folder")).isEmpty());
}

}  // namespace
}  // namespace pagiro

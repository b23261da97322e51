#include "platform/xygraphics.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <vector>

#include "platform/surface.h"
#include "platform/vb_error.h"
#include "qt_app.h"

namespace pagiro {
namespace {

using test::cjk_family;

// A GIF file as giflib reads it back.
struct Decoded {
    QByteArray signature;
    int width = 0, height = 0;
    int transparent = NO_TRANSPARENT_COLOR;
    int table_size = 0;
    std::vector<unsigned> palette;  // 0xRRGGBB
    std::vector<int> indices;       // one per pixel, top row first
    unsigned rgb(int x, int y) const { return palette[std::size_t(indices[std::size_t(y * width + x)])]; }
};

Decoded decode(const QString& path) {
    Decoded d;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) d.signature = f.read(6);
    int err = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &err);
    EXPECT_NE(gif, nullptr) << GifErrorString(err);
    if (!gif) return d;
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->ImageCount, 1);
    d.width = gif->SWidth;
    d.height = gif->SHeight;
    const SavedImage& img = gif->SavedImages[0];
    EXPECT_EQ(img.ImageDesc.Width, d.width);
    EXPECT_EQ(img.ImageDesc.Height, d.height);
    const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
    d.table_size = map->ColorCount;
    for (int i = 0; i < map->ColorCount; ++i)
        d.palette.push_back(unsigned(map->Colors[i].Red) << 16 | unsigned(map->Colors[i].Green) << 8 | map->Colors[i].Blue);
    d.indices.assign(img.RasterBits, img.RasterBits + d.width * d.height);
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) d.transparent = gcb.TransparentColor;
    DGifCloseFile(gif, &err);
    return d;
}

const QStringList kLines = {"天地玄黄宇宙洪荒日月", "盈昃辰宿列张寒来暑往", "", "秋收冬藏闰余成岁律吕",
                            "Mixed ASCII text 12", "调阳云腾致雨露结为霜", "金生丽水玉出昆冈剑号", "巨阙珠称夜光果珍李柰"};

// The page the run draws: eight lines at tops 4, 17, ... 95.
void draw_page(XYGraphics& g, const QString& w, const QString& h, const QString& back, const QString& text) {
    g.New(w, h, back);
    g.IsTrans(true);
    g.TransColor(back);
    for (int n = 0; n < kLines.size(); ++n) {
        g.SetFont(cjk_family(), "9", 0, text, back);
        g.SetText(4, 13.0 * n + 4, 100, 0, kLines[n]);
    }
}

TEST(XYGraphics, WritesTheDrawnPageAsATransparentGif89a) {
    ASSERT_TRUE(XYGraphics::available());
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("电子书/分卷1"));
    XYGraphics g;
    for (int page = 0; page < 2; ++page) {
        // Second page: other size and colours on the same object.
        const QString w = page ? "100" : "128", h = page ? "60" : "110";
        const QString back = page ? "255" : "16777215", text = page ? "16711680" : "0";
        draw_page(g, w, h, back, text);
        const QString path = dir.filePath(QString("电子书/分卷1/kbwm%1.gif").arg(page));
        g.SaveAs(path);

        PageSurface reference;
        reference.set_size(w.toInt(), h.toInt());
        reference.set_font(cjk_family(), 9);
        reference.set_colors(text.toUInt(), back.toUInt());
        reference.clear();
        for (int n = 0; n < kLines.size(); ++n) reference.print(4, 13 * n + 4, kLines[n]);
        const QImage& want = reference.image();
        g.Close();

        const Decoded d = decode(path);
        EXPECT_EQ(d.signature, "GIF89a");
        ASSERT_EQ(d.width, w.toInt());
        ASSERT_EQ(d.height, h.toInt());
        const unsigned back_rgb = colour_from_win(back.toUInt()).rgb() & 0xFFFFFF;
        const unsigned text_rgb = colour_from_win(text.toUInt()).rgb() & 0xFFFFFF;
        ASSERT_NE(d.transparent, NO_TRANSPARENT_COLOR);
        EXPECT_EQ(d.palette[std::size_t(d.transparent)], back_rgb);
        EXPECT_EQ(d.table_size, 2);
        int mismatches = 0, text_pixels = 0;
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) {
                mismatches += d.rgb(x, y) != (want.pixel(x, y) & 0xFFFFFF);
                text_pixels += d.rgb(x, y) == text_rgb;
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(text_pixels, 100);
    }
    EXPECT_EQ(g.pixels().data, nullptr);
    EXPECT_EQ(QDir(dir.filePath("电子书/分卷1")).entryList(QDir::Files), (QStringList{"kbwm0.gif", "kbwm1.gif"}));
}

TEST(XYGraphics, OpaqueWhenNotAskedForTransparency) {
    QTemporaryDir dir;
    XYGraphics g;
    g.New("8", "4", "65280");
    g.IsTrans(false);
    g.SaveAs(dir.filePath("p.gif"));
    const Decoded d = decode(dir.filePath("p.gif"));
    EXPECT_EQ(d.transparent, NO_TRANSPARENT_COLOR);
    EXPECT_EQ(d.rgb(7, 3), 0x00FF00u);
}

TEST(XYGraphics, BadSettingsAndUnwritablePathsRaise) {
    QTemporaryDir dir;
    XYGraphics g;
    try {
        g.New("12O", "110", "0");
        FAIL() << "no error";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 13);
    }
    EXPECT_THROW(g.SetText(4, 4, 100, 0, "x"), VbError);  // no picture yet
    EXPECT_THROW(g.New("0", "110", "0"), VbError);
    g.New("128", "110", "16777215");
    EXPECT_THROW(g.SetFont(cjk_family(), "nine", 0, "0", "16777215"), VbError);
    EXPECT_THROW(g.TransColor("white"), VbError);
    g.SetText(4, 4, 100, 0, "中文");

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    for (const QString& bad : {dir.filePath("file/page.gif"), dir.filePath("folder"), dir.filePath("no/page.gif")}) {
        try {
            g.SaveAs(bad);
            ADD_FAILURE() << "no error for " << bad.toStdString();
        } catch (const VbError& e) {
            EXPECT_NE(std::string(e.what()).find(bad.toStdString()), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"file"});
    EXPECT_TRUE(QDir(dir.filePath("folder")).isEmpty());
    g.Close();
    EXPECT_THROW(g.SaveAs(dir.filePath("closed.gif")), VbError);
}

TEST(EncodeGif, ManyColoursAreReducedKeepingTheCommonOnesExact) {
    // 64 × 64 gradient (4096 colours) over a large patch of one off-cube colour.
    QImage img(64, 96, QImage::Format_RGB32);
    img.fill(qRgb(7, 8, 9));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) img.setPixel(x, y, qRgb(x * 4, y * 4, (x + y) * 2));
    PixelView v{img.constBits(), img.width(), img.height(), img.bytesPerLine(), PixelFormat::Bgrx32};
    const auto bytes = encode_gif(v, 0x00030201u, nullptr);  // a transparent colour the picture lacks
    ASSERT_TRUE(bytes);
    QTemporaryDir dir;
    QFile f(dir.filePath("many.gif"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(*bytes);
    f.close();

    const Decoded d = decode(f.fileName());
    EXPECT_EQ(d.table_size, 256);
    ASSERT_NE(d.transparent, NO_TRANSPARENT_COLOR);
    EXPECT_EQ(d.palette[std::size_t(d.transparent)], 0x010203u);
    EXPECT_EQ(d.rgb(0, 80), 0x070809u);
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const unsigned got = d.rgb(x, y), want = img.pixel(x, y) & 0xFFFFFF;
            EXPECT_NE(got, 0x010203u);
            int d2 = 0;
            for (int shift : {0, 8, 16}) {
                const int d = int(got >> shift & 0xFF) - int(want >> shift & 0xFF);
                d2 += d * d;
            }
            worst = std::max(worst, d2);
        }
    EXPECT_LE(worst, 3 * 26 * 26);  // no worse than the nearest point of a 6-level cube

    EXPECT_FALSE(encode_gif(PixelView{}, std::nullopt, nullptr));
}

}  // namespace
}  // namespace pagiro

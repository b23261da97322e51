#include "platform/background_picture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>

#include "jpeg_samples.h"
#include "platform/bmp_picture.h"
#include "platform/file_names.h"
#include "platform/jpeg_picture.h"
#include "qt_app.h"

namespace pagiro {
namespace {

using test::busy_picture;
using test::JpegKind;
using test::write_jpeg;

// The picture as Qt's reader gives it, in the page's pixel format.
QImage as_qt_reads(const QString& path) {
    QImageReader reader(path);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

// Our reader's top-left `part` of the file; pictures of `split_from` pixels or
// more decoded by two threads.
QImage as_we_read(const QString& path, QSize part, bool* readable = nullptr,
                  std::int64_t split_from = JpegPictureReader::kSplitPixels) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    JpegPictureReader reader(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    if (readable) *readable = reader.readable();
    return reader.readable() ? reader.read(part.isValid() ? part : reader.size(), split_from) : QImage();
}

const JpegKind kKinds[] = {
    {"4:2:0"},
    {"4:4:4", 1, 1},
    {"4:2:2", 2, 1},
    {"4:4:0", 1, 2},
    {"4:1:1", 4, 1},
    {"grey", 1, 1, JpegKind::grey},
    {"rgb", 1, 1, JpegKind::rgb},
    {"progressive 4:2:0", 2, 2, JpegKind::ycbcr, true},
    {"progressive grey", 1, 1, JpegKind::grey, true},
    {"arithmetic 4:2:2", 2, 1, JpegKind::ycbcr, false, true},
    {"restart markers 4:2:0", 2, 2, JpegKind::ycbcr, false, false, 1},
    {"low quality 4:2:0", 2, 2, JpegKind::ycbcr, false, false, 0, 20},
};

TEST(JpegPicture, ReadsEveryKindOfPictureExactlyAsQtsReaderDoes) {
    QTemporaryDir dir;
    // Sizes on and off the 16-pixel blocks, and a picture of one pixel.
    const QSize sizes[] = {{64, 48}, {67, 29}, {1, 1}, {17, 130}};
    for (const JpegKind& kind : kKinds)
        for (const QSize size : sizes) {
            SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(size.width()) + "x" +
                         std::to_string(size.height()));
            const QString path = dir.filePath("p.jpg");
            ASSERT_TRUE(write_jpeg(path, busy_picture(size.width(), size.height()), kind));
            bool readable = false;
            const QImage ours = as_we_read(path, QSize(), &readable);
            ASSERT_TRUE(readable);
            ASSERT_EQ(ours.format(), QImage::Format_RGB32);
            EXPECT_EQ(ours, as_qt_reads(path));
            // Decoded by two threads, the lower one reading past the upper rows.
            EXPECT_EQ(as_we_read(path, QSize(), nullptr, 1), ours);
        }
}

TEST(JpegPicture, ThePartKeptIsThePictureCutAsQtsReaderCutsIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.jpg");
    for (const JpegKind& kind : {kKinds[0], kKinds[2], kKinds[7]}) {
        SCOPED_TRACE(kind.name);
        ASSERT_TRUE(write_jpeg(path, busy_picture(150, 90, 7), kind));
        const QImage whole = as_qt_reads(path);
        for (const QSize part : {QSize(150, 37), QSize(41, 90), QSize(33, 17), QSize(150, 90), QSize(1, 1)}) {
            SCOPED_TRACE(std::to_string(part.width()) + "x" + std::to_string(part.height()));
            EXPECT_EQ(as_we_read(path, part), whole.copy(QRect(QPoint(0, 0), part)));
            EXPECT_EQ(as_we_read(path, part, nullptr, 1), whole.copy(QRect(QPoint(0, 0), part)));
            // What the page is given is what Qt's reader gives when asked for that part.
            QImageReader clipped(path);
            clipped.setClipRect(QRect(QPoint(0, 0), part));
            EXPECT_EQ(as_we_read(path, part), clipped.read().convertToFormat(QImage::Format_RGB32));
        }
        // Nothing outside the picture, nothing empty.
        EXPECT_TRUE(as_we_read(path, QSize(151, 90)).isNull());
        EXPECT_TRUE(as_we_read(path, QSize(0, 5)).isNull());
    }
}

TEST(JpegPicture, LeavesWhatItDoesNotDecodeAsQtDoesToQtsReader) {
    QTemporaryDir dir;
    const QString cmyk = dir.filePath("cmyk.jpg");
    ASSERT_TRUE(write_jpeg(cmyk, busy_picture(40, 30), {"cmyk", 1, 1, JpegKind::cmyk}));
    const QString png = dir.filePath("p.png");
    ASSERT_TRUE(busy_picture(40, 30).save(png));
    const QString broken = dir.filePath("broken.jpg");
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xFF\xD8\xFF\xE0 not really a jpeg");
    }
    for (const QString& path : {cmyk, png, broken}) {
        bool readable = true;
        EXPECT_TRUE(as_we_read(path, QSize(10, 10), &readable).isNull()) << path.toStdString();
        EXPECT_FALSE(readable) << path.toStdString();
    }
    // Through the loader, the CMYK picture is Qt's, pixel for pixel; the broken one
    // is refused with Qt's reason.
    QString error;
    const std::optional<BackgroundPicture> loaded = load_background_picture(cmyk, QSize(100, 100), &error);
    ASSERT_TRUE(loaded) << error.toStdString();
    EXPECT_EQ(loaded->shown, as_qt_reads(cmyk));
    EXPECT_EQ(loaded->whole, QSize(40, 30));
    EXPECT_FALSE(load_background_picture(broken, QSize(100, 100), &error));
    EXPECT_TRUE(error.startsWith("not a picture that can be read")) << error.toStdString();
}

// A file cut short or damaged half-way shows as far as it decodes, as Qt shows it.
TEST(JpegPicture, ADamagedPictureShowsWhatQtShows) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.jpg");
    ASSERT_TRUE(write_jpeg(path, busy_picture(96, 96, 3), {"4:2:0"}));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    const QString cut = dir.filePath("cut.jpg"), damaged = dir.filePath("damaged.jpg");
    QFile c(cut), d(damaged);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly) && d.open(QIODevice::WriteOnly));
    c.write(bytes.left(bytes.size() * 2 / 3));
    c.close();
    for (qsizetype k = bytes.size() / 2; k < bytes.size() / 2 + 40; ++k) bytes[k] = char(0x5A);
    d.write(bytes);
    d.close();
    for (const QString& p : {cut, damaged}) {
        SCOPED_TRACE(p.toStdString());
        QString error;
        const std::optional<BackgroundPicture> loaded = load_background_picture(p, QSize(96, 96), &error);
        ASSERT_TRUE(loaded) << error.toStdString();
        EXPECT_EQ(loaded->shown, as_qt_reads(p));
        EXPECT_EQ(as_we_read(p, QSize(), nullptr, 1), loaded->shown);
    }
}

// A 24-bit BMP file of `picture`, with an info header of `info_size` bytes (40, 108
// or 124), its rows stored bottom-up or top-down.
QByteArray bmp_file(const QImage& picture, bool top_down = false, std::uint32_t info_size = 40) {
    const int w = picture.width(), h = picture.height();
    const std::uint32_t row = (std::uint32_t(w) * 3 + 3) & ~3u;
    QByteArray out;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) out.append(char(v >> (8 * k)));
    };
    out.append("BM");
    put(14 + info_size + row * std::uint32_t(h), 4);
    put(0, 4);
    put(14 + info_size, 4);
    put(info_size, 4);
    put(std::uint32_t(w), 4);
    put(std::uint32_t(top_down ? -h : h), 4);
    put(1, 2);
    put(24, 2);
    out.append(QByteArray(int(info_size) - 16, '\0'));  // no compression; sizes and colours left to the reader
    for (int r = 0; r < h; ++r) {
        const int y = top_down ? r : h - 1 - r;
        for (int x = 0; x < w; ++x) {
            const QRgb c = picture.pixel(x, y);
            out.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        }
        out.append(QByteArray(int(row) - 3 * w, '\0'));
    }
    return out;
}

bool write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Our reader's top-left `part` of a BMP file, or a null picture when it leaves
// the file to Qt.
QImage as_we_read_bmp(const QString& path, QSize part, std::int64_t split_from = kBmpSplitPixels) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = file.peek(qint64(kBmpHeaderBytes));
    const std::optional<BmpLayout> layout =
        plain_bmp_layout(reinterpret_cast<const std::uint8_t*>(head.constData()), std::size_t(head.size()),
                         std::uint64_t(file.size()));
    if (!layout) return {};
    return read_plain_bmp(file.handle(), *layout, part.isValid() ? part : layout->size, split_from);
}

TEST(BmpPicture, ReadsPlainBmpsExactlyAsQtsReaderDoes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.bmp");
    // Widths with every row padding (0 to 3 bytes), a picture of one pixel.
    const QSize sizes[] = {{64, 48}, {65, 29}, {66, 7}, {67, 130}, {1, 1}};
    for (const QSize size : sizes)
        for (const bool top_down : {false, true})
            for (const std::uint32_t info : {40u, 108u, 124u}) {
                SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()) +
                             (top_down ? " top-down " : " bottom-up ") + std::to_string(info));
                const QImage picture = busy_picture(size.width(), size.height(), 5);
                ASSERT_TRUE(write_file(path, bmp_file(picture, top_down, info)));
                const QImage qt = as_qt_reads(path);
                ASSERT_FALSE(qt.isNull());
                EXPECT_EQ(as_we_read_bmp(path, QSize()), qt);
                EXPECT_EQ(as_we_read_bmp(path, QSize(), 1), qt);  // two threads
                const QSize part(std::max(1, size.width() - 3), std::max(1, size.height() / 2));
                EXPECT_EQ(as_we_read_bmp(path, part, 1), qt.copy(QRect(QPoint(0, 0), part)));
                // And through the loader, cut for a page.
                QString error;
                const std::optional<BackgroundPicture> loaded = load_background_picture(path, part, &error);
                ASSERT_TRUE(loaded) << error.toStdString();
                EXPECT_EQ(loaded->shown, qt.copy(QRect(QPoint(0, 0), part)));
                EXPECT_EQ(loaded->whole, size);
            }
}

TEST(BmpPicture, LeavesOtherBmpsToQtsReader) {
    QTemporaryDir dir;
    const QImage picture = busy_picture(21, 13, 9);
    const QByteArray plain = bmp_file(picture);
    QByteArray cut = plain.left(plain.size() - 5);  // the last row short
    QByteArray compressed = plain;
    compressed[14 + 16] = 1;  // run-length coded
    QByteArray old_header = plain;
    old_header[14] = 12;  // an OS/2 header
    QByteArray deep = plain;
    deep[14 + 14] = 32;  // 32 bits a pixel
    for (const QByteArray& bytes : {cut, compressed, old_header, deep}) {
        const QString path = dir.filePath("other.bmp");
        ASSERT_TRUE(write_file(path, bytes));
        EXPECT_TRUE(as_we_read_bmp(path, QSize()).isNull());
    }
    // A picture with a palette: Qt's reader takes it, through the same loader.
    const QString palette = dir.filePath("palette.bmp");
    ASSERT_TRUE(picture.convertToFormat(QImage::Format_Indexed8).save(palette, "BMP"));
    EXPECT_TRUE(as_we_read_bmp(palette, QSize()).isNull());
    QString error;
    const std::optional<BackgroundPicture> loaded = load_background_picture(palette, QSize(100, 100), &error);
    ASSERT_TRUE(loaded) << error.toStdString();
    EXPECT_EQ(loaded->shown, as_qt_reads(palette).convertToFormat(loaded->shown.format()));
}

void set_modified(const QString& path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, bytes_of_name(path).c_str(), times, 0), 0);
}

TEST(BackgroundPicture, APictureReadAheadIsTakenOnlyForTheSameFileAndPageSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.jpg");
    const QImage first = busy_picture(80, 60, 1), second = busy_picture(80, 60, 2);
    ASSERT_TRUE(write_jpeg(path, first, {"4:2:0"}));
    set_modified(path, 1000000);
    const QImage first_read = as_qt_reads(path);

    // Read ahead and taken: the same pixels as a load of its own.
    load_background_picture_ahead(" " + path + " ", QSize(50, 40));
    QString error;
    std::optional<BackgroundPicture> p = load_background_picture(path, QSize(50, 40), &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->shown, first_read.copy(0, 0, 50, 40));
    EXPECT_EQ(p->whole, QSize(80, 60));

    // Another page size: the picture is cut for the page asked for.
    load_background_picture_ahead(path, QSize(50, 40));
    p = load_background_picture(path, QSize(70, 20), &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->shown, first_read.copy(0, 0, 70, 20));

    // The file written again after it was read ahead: the new picture shows.
    load_background_picture_ahead(path, QSize(50, 40));
    ASSERT_TRUE(write_jpeg(path, second, {"4:2:0"}));
    set_modified(path, 2000000);
    p = load_background_picture(path, QSize(50, 40), &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->shown, as_qt_reads(path).copy(0, 0, 50, 40));
    EXPECT_NE(p->shown, first_read.copy(0, 0, 50, 40));

    // A picture read ahead is used once; the next load reads the file again.
    load_background_picture_ahead(path, QSize(50, 40));
    ASSERT_TRUE(load_background_picture(path, QSize(50, 40), &error));
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(load_background_picture(path, QSize(50, 40), &error));
    EXPECT_EQ(error, "no such file");
}

TEST(BackgroundPicture, AFailedReadAheadLeavesTheReasonToTheLoad) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("missing.jpg");
    load_background_picture_ahead(missing, QSize(50, 40));
    QString error;
    EXPECT_FALSE(load_background_picture(missing, QSize(50, 40), &error));
    EXPECT_EQ(error, "no such file");

    // A picture that is not a JPEG is not read ahead, and loads all the same.
    const QString png = dir.filePath("p.png");
    ASSERT_TRUE(busy_picture(30, 20).save(png));
    load_background_picture_ahead(png, QSize(50, 40));
    const std::optional<BackgroundPicture> p = load_background_picture(png, QSize(50, 40), &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->shown, busy_picture(30, 20));
}

}  // namespace
}  // namespace pagiro

#include <gtest/gtest.h>

#include <zip.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QXmlStreamReader>
#include <fstream>
#include <map>
#include <stdexcept>

#include "book/book_error.h"
#include "book/cbz_writer.h"
#include "book_test_support.h"
#include "cbz_reader.h"

namespace pagiro::test {
namespace {

namespace fs = std::filesystem;

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

// A grey page with its number drawn as a band, so that decoded pages can be told apart.
QImage numbered_picture(int number, int w = 60, int h = 80) {
    QImage image(w, h, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (y / 4 == number % (h / 4) || (x + y) % 17 == 0) image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

using CbzBooks = BookFolder;

TEST_F(CbzBooks, PagesAreStoredInNameOrderAndDecodeToWhatWasGiven) {
    const fs::path path = dir / "书.cbz";
    CbzWriter writer({path, "书 & <名>", "作者 \"某\"", "png"});
    std::vector<QImage> pictures;
    for (int n = 0; n < 12; ++n) {
        pictures.push_back(numbered_picture(n));
        const QByteArray png = encoded(pictures.back(), "PNG");
        writer.add_page(png.constData(), static_cast<std::size_t>(png.size()));
    }
    EXPECT_EQ(writer.finish(), path);
    EXPECT_EQ(names(), std::set<std::string>{"书.cbz"});

    const auto entries = entries_of(path);
    ASSERT_EQ(entries.size(), 13u);
    for (std::size_t i = 0; i < 12; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%04zu.png", i + 1);
        EXPECT_EQ(entries[i].name, name);
        EXPECT_EQ(entries[i].method, ZIP_CM_STORE) << name;
        QBuffer buffer(const_cast<QByteArray*>(&entries[i].bytes));
        QImageReader reader(&buffer, "png");
        const QImage decoded = reader.read().convertToFormat(QImage::Format_Grayscale8);
        EXPECT_EQ(decoded, pictures[i]) << name << ": " << reader.errorString().toStdString();
    }
    EXPECT_EQ(entries[12].name, "ComicInfo.xml");
    auto fields = comic_info_fields(entries[12].bytes);
    EXPECT_EQ(fields[QStringLiteral("Title")], QStringLiteral("书 & <名>"));
    EXPECT_EQ(fields[QStringLiteral("Writer")], QStringLiteral("作者 \"某\""));
    EXPECT_EQ(fields[QStringLiteral("PageCount")], QStringLiteral("12"));
    EXPECT_EQ(fields[QStringLiteral("LanguageISO")], QStringLiteral("zh"));
}

TEST_F(CbzBooks, JpegPagesOfABookOfThousandsOpenTheSpoolOnlyOneAtATime) {
    // Far more pages than the file handles allowed while the archive is built: each
    // page must be read from the spool in turn, not held open.
    const QByteArray jpeg = encoded(numbered_picture(3, 24, 16), "JPEG");
    const fs::path path = dir / "many.cbz";
    CbzWriter writer({path, "many", "", "jpg"});
    const int pages = 3000;
    for (int n = 0; n < pages; ++n) writer.add_page(jpeg.constData(), static_cast<std::size_t>(jpeg.size()));

    fs::path written;
    std::string failure;
    try {
        ResourceLimit open_files(RLIMIT_NOFILE, 64);
        written = writer.finish();
    } catch (const BookError& e) {
        failure = e.what();
    }
    ASSERT_EQ(failure, "");

    const auto entries = entries_of(written);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(pages) + 1);
    EXPECT_EQ(entries.front().name, "0001.jpg");
    EXPECT_EQ(entries[pages - 1].name, "3000.jpg");
    for (int i = 0; i < pages; ++i) ASSERT_EQ(entries[static_cast<std::size_t>(i)].bytes, jpeg) << i;
    QImage decoded;
    EXPECT_TRUE(decoded.loadFromData(entries[1234].bytes, "JPEG"));
    EXPECT_EQ(decoded.size(), QSize(24, 16));
    auto fields = comic_info_fields(entries.back().bytes);
    EXPECT_EQ(fields[QStringLiteral("PageCount")], QStringLiteral("3000"));
    EXPECT_EQ(fields.count(QStringLiteral("Writer")), 0u);  // no writer given
}

TEST_F(CbzBooks, ComicInfoLeavesOutCharactersXmlCannotHold) {
    const auto fields = comic_info_fields(QByteArray::fromStdString(comic_info_xml("a\x01" "b\tc'", "\xFF", 1)));
    EXPECT_EQ(fields.at(QStringLiteral("Title")), QStringLiteral("ab\tc'"));
    EXPECT_EQ(fields.at(QStringLiteral("Writer")), QString(QChar(0xFFFD)));
}

TEST_F(CbzBooks, AFailedOrAbandonedBookLeavesNothingAndKeepsAnOlderOne) {
    const QByteArray png = encoded(numbered_picture(1, 200, 200), "PNG");
    {
        CbzWriter abandoned({dir / "gone.cbz", "t", "", "png"});
        abandoned.add_page(png.constData(), static_cast<std::size_t>(png.size()));
    }
    EXPECT_TRUE(names().empty());

    CbzWriter empty({dir / "empty.cbz", "t", "", "png"});
    EXPECT_THROW(empty.add_page(png.constData(), 0), std::invalid_argument);
    EXPECT_THROW(empty.finish(), BookError);
    EXPECT_TRUE(names().empty());
    EXPECT_THROW(CbzWriter({dir / "no folder" / "x.cbz", "t", "", "png"}), BookError);

    // The pages fit under the file-size limit, the archive around them does not.
    const fs::path path = dir / "书.cbz";
    { std::ofstream(path) << "the older book"; }
    const int pages = 5;
    bool threw = false;
    {
        CbzWriter writer({path, "书", "", "png"});
        ResourceLimit file_size(RLIMIT_FSIZE, static_cast<rlim_t>(png.size()) * pages + 20);
        for (int n = 0; n < pages; ++n) writer.add_page(png.constData(), static_cast<std::size_t>(png.size()));
        try {
            writer.finish();
        } catch (const BookError&) {
            threw = true;
        }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(names(), std::set<std::string>{"书.cbz"});
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the older book");
}

}  // namespace
}  // namespace pagiro::test

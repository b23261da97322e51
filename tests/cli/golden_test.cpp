// The pages of the sample text, pinned byte for byte: one checksum over every file
// (its path and its bytes, in name order) per set of options. Any drift of the
// layout, the drawing or an encoder shows here at once; the decoders in the other
// suites say whether a changed page is still a good one.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>
#include <algorithm>
#include <vector>

#include "cli_support.h"
#include "tests/platform_qt/jpeg_samples.h"

namespace {

std::string checksum(const fs::path& folder, std::size_t& count) {
    std::vector<std::string> names;
    for (auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) names.push_back(fs::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    count = names.size();
    QCryptographicHash md5(QCryptographicHash::Md5);
    for (const std::string& n : names) {
        md5.addData(QByteArrayView(n.c_str(), qsizetype(n.size() + 1)));  // with its terminating zero
        const std::string bytes = slurp(folder / n);
        md5.addData(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    }
    return md5.result().toHex().toStdString();
}

}  // namespace

TEST_F(Cli, SamplePagesKeepTheirBytes) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::size_t files;
        const char* md5;
    } cases[] = {
        {"jpg", {"--format", "jpg"}, 9, "61c0cb4476dba53562e00ba0c9522007"},
        {"gif", {"--format", "gif"}, 9, "7d9910e35361bd127f834fa2c05ef265"},
        {"bmp", {"--format", "bmp"}, 9, "297b03a80240347b4a7b852121f93bbc"},
        {"jpg_volumes", {"--format", "jpg", "--volume-pages", "3", "--first", "5"}, 9, "cb37774d5d8c4b5e6e181cfd7a8a44f0"},
        {"gif_colours", {"--format", "gif", "--text-color", "#ff0000", "--background-color", "65280"}, 9,
         "7964f009f95323a1e3cded1dd109276f"},
        {"bmp_large",
         {"--format", "bmp", "--drop-empty-lines", "--width", "200", "--height", "150", "--font-size", "11",
          "--text-color", "8388608"},
         5, "0421e674aaa694ee1ce205e86dfe4575"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"convert", PAGIRO_SAMPLE_TEXT, "-o", c.name, "--quiet"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Result r = run(args);
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err;
        std::size_t count = 0;
        EXPECT_EQ(checksum(dir / c.name, count), c.md5) << c.name;
        EXPECT_EQ(count, c.files) << c.name;
    }
}

// A JPEG background picture is decoded by libjpeg-turbo straight into the page,
// not by Qt's reader; the pages must be the very pages Qt's reading of it gives.
// Each picture is also stored losslessly as Qt reads it, and the two runs compared
// file for file. The CMYK picture is one libjpeg-turbo leaves to Qt.
TEST_F(Cli, PagesOverAJpegPictureAreThePagesOverQtsReadingOfIt) {
    using pagiro::test::JpegKind;
    struct Case {
        const char* name;
        int width, height;
        JpegKind kind;
        std::vector<std::string> options;
    } cases[] = {
        {"wide_420", 200, 90, {"4:2:0"}, {}},
        {"tall_progressive", 100, 150, {"progressive 4:2:2", 2, 1, JpegKind::ycbcr, true},
         {"--font-size", "10", "--width", "90", "--height", "130", "--format", "JPG"}},
        {"grey", 128, 110, {"grey", 1, 1, JpegKind::grey}, {"--first", "3", "--height=100"}},
        {"cmyk", 150, 120, {"cmyk", 1, 1, JpegKind::cmyk}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpg = (dir / (std::string(c.name) + ".jpg")).string();
        const std::string png = (dir / (std::string(c.name) + ".png")).string();
        ASSERT_TRUE(pagiro::test::write_jpeg(QString::fromStdString(jpg),
                                             pagiro::test::busy_picture(c.width, c.height), c.kind));
        ASSERT_TRUE(QImage(QString::fromStdString(jpg)).convertToFormat(QImage::Format_RGB32).save(QString::fromStdString(png)));
        std::size_t pages[2] = {};
        std::string sums[2];
        for (int k = 0; k < 2; ++k) {
            const std::string out = std::string(c.name) + (k == 0 ? "_jpg" : "_png");
            std::vector<std::string> args{"convert", PAGIRO_SAMPLE_TEXT, "-o", out, "--quiet", "--format", "jpg",
                                          "--background-picture", k == 0 ? jpg : png};
            args.insert(args.end(), c.options.begin(), c.options.end());
            Result r = run(args);
            ASSERT_EQ(r.code, 0) << r.err;
            sums[k] = checksum(dir / out, pages[k]);
        }
        EXPECT_GE(pages[0], 9u);
        EXPECT_EQ(pages[0], pages[1]);
        EXPECT_EQ(sums[0], sums[1]);
    }
}

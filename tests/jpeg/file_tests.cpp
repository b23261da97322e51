// The file: segment layout, comments, and how SaveFile treats the disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "oracle.h"
#include "platform/vb_error.h"
#include "test_access.h"

namespace fs = std::filesystem;
using A = bmptojpg_test_access;

namespace {

struct Segment {
    int marker;
    std::vector<std::uint8_t> body;  // after the length field
};

// The marker segments up to the first scan header (included).
std::vector<Segment> header_segments(const std::vector<std::uint8_t>& f) {
    std::vector<Segment> out;
    std::size_t i = 2;
    while (i + 4 <= f.size()) {
        const int marker = f[i + 1];
        const std::size_t length = std::size_t(f[i + 2]) * 256 + f[i + 3];
        out.push_back({marker, std::vector<std::uint8_t>(f.begin() + i + 4, f.begin() + i + 2 + length)});
        i += 2 + length;
        if (marker == 0xDA) break;
    }
    return out;
}

class JpegFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(jpeg_test::temp_path("jpeg_file_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }
    std::size_t files_in_dir() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
    fs::path dir;
};

template <typename F>
int error_number(F&& f) {
    try {
        f();
    } catch (const VbError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace

TEST_F(JpegFileTest, DefaultPageLayout) {
    const auto pic = jpeg_test::text_picture(128, 110, 9);
    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 128, 110, 0, 0), 0);
    ASSERT_EQ(e.SaveFile(file("page.jpg")), 0);
    const auto f = jpeg_test::read_file(file("page.jpg"));
    ASSERT_GT(f.size(), 100u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xD8);
    EXPECT_EQ(f[f.size() - 2], 0xFF);
    EXPECT_EQ(f[f.size() - 1], 0xD9);

    const auto segs = header_segments(f);
    std::vector<int> markers;
    for (const auto& s : segs) markers.push_back(s.marker);
    EXPECT_EQ(markers, (std::vector<int>{0xE0, 0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
    EXPECT_EQ(segs[0].body, (std::vector<std::uint8_t>{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}));
    const std::string credit(segs[1].body.begin(), segs[1].body.end());
    EXPECT_EQ(credit.rfind("JPEG Encoder Class\r\n", 0), 0u);
    EXPECT_EQ(std::count(credit.begin(), credit.end(), '\n'), 2);
    EXPECT_NE(credit.back(), '\n');
    EXPECT_EQ(segs[2].body.size(), 65u);
    EXPECT_EQ(segs[2].body[0], 0);
    EXPECT_EQ(segs[2].body[1], 8);  // quality 75, in zig-zag order
    EXPECT_EQ(segs[3].body[0], 1);
    EXPECT_EQ(segs[3].body[1], 9);
    EXPECT_EQ(segs[4].body, (std::vector<std::uint8_t>{8, 0, 110, 0, 128, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
    EXPECT_EQ(segs[5].body[0], 0x00);
    EXPECT_EQ(segs[6].body[0], 0x10);
    EXPECT_EQ(segs[7].body[0], 0x01);
    EXPECT_EQ(segs[8].body[0], 0x11);
    for (int k = 5; k <= 8; ++k) {
        int total = 0;
        for (int i = 1; i <= 16; ++i) total += segs[k].body[i];
        EXPECT_EQ(segs[k].body.size(), 17u + total);
    }
    EXPECT_EQ(segs[9].body, (std::vector<std::uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 0x3F, 0}));

    const auto d = jpeg_test::decode(f);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.width, 128);
    EXPECT_EQ(d.height, 110);
}

TEST_F(JpegFileTest, GreyLayoutAndComments) {
    const auto pic = jpeg_test::smooth_picture(40, 30, 1);
    bmptojpg e;
    e.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    e.Comment("page one");
    ASSERT_EQ(e.SampleHDC(pic.view(), 40, 30, 0, 0), 0);
    ASSERT_EQ(e.SaveFile(file("grey.jpg")), 0);
    const auto f = jpeg_test::read_file(file("grey.jpg"));
    const auto segs = header_segments(f);
    std::vector<int> markers;
    for (const auto& s : segs) markers.push_back(s.marker);
    EXPECT_EQ(markers, (std::vector<int>{0xE0, 0xFE, 0xFE, 0xDB, 0xC0, 0xC4, 0xC4, 0xDA}));
    EXPECT_EQ(std::string(segs[1].body.begin(), segs[1].body.end()), "page one");
    EXPECT_EQ(std::string(segs[2].body.begin(), segs[2].body.begin() + 18), "JPEG Encoder Class");
    EXPECT_EQ(segs[4].body, (std::vector<std::uint8_t>{8, 0, 30, 0, 40, 1, 1, 0x11, 0}));
    EXPECT_EQ(segs[7].body, (std::vector<std::uint8_t>{1, 1, 0x00, 0, 0x3F, 0}));
    const auto d = jpeg_test::decode(f, true);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.components, 1);
    EXPECT_GT(jpeg_test::psnr(d.pixels, jpeg_test::component_plane(pic, 0)), 38.0);

    // The comment is written byte for byte, whatever the bytes are.
    const std::string gbk = "\xD2\xB3\xC2\xEB";
    e.Comment(gbk);
    ASSERT_EQ(e.SaveFile(file("grey.jpg")), 0);
    const auto segs2 = header_segments(jpeg_test::read_file(file("grey.jpg")));
    EXPECT_EQ(std::string(segs2[1].body.begin(), segs2[1].body.end()), gbk);
}

TEST_F(JpegFileTest, SavingTwiceGivesTheSameFile) {
    const auto pic = jpeg_test::smooth_picture(50, 20, 4);
    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 50, 20, 0, 0), 0);
    ASSERT_EQ(e.SaveFile(file("a.jpg")), 0);
    ASSERT_EQ(e.SaveFile(file("b.jpg")), 0);
    EXPECT_EQ(jpeg_test::read_file(file("a.jpg")), jpeg_test::read_file(file("b.jpg")));
}

TEST_F(JpegFileTest, ALongerOldFileIsReplacedWhole) {
    {
        std::ofstream old(file("page.jpg"), std::ios::binary);
        old << std::string(200000, 'x');
    }
    const auto pic = jpeg_test::text_picture(128, 110, 2);
    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 128, 110, 0, 0), 0);
    ASSERT_EQ(e.SaveFile(file("page.jpg")), 0);
    const auto f = jpeg_test::read_file(file("page.jpg"));
    ASSERT_LT(f.size(), 200000u);
    EXPECT_EQ(f[f.size() - 2], 0xFF);
    EXPECT_EQ(f[f.size() - 1], 0xD9);
    EXPECT_EQ(files_in_dir(), 1u);  // no temporary file left behind
}

TEST_F(JpegFileTest, FailuresLeaveTheDiskAlone) {
    const auto pic = jpeg_test::smooth_picture(16, 16, 3);
    bmptojpg e;
    EXPECT_EQ(e.SaveFile(""), 1);
    EXPECT_EQ(error_number([&] { e.SaveFile(file("none.jpg")); }), 9);  // no picture yet
    EXPECT_FALSE(fs::exists(file("none.jpg")));

    ASSERT_EQ(e.SampleHDC(pic.view(), 16, 16, 0, 0), 0);
    EXPECT_EQ(error_number([&] { e.SaveFile(file("missing/page.jpg")); }), 76);
    EXPECT_EQ(error_number([&] { e.SaveFile(dir.string()); }), 75);

    {
        std::ofstream old(file("kept.jpg"), std::ios::binary);
        old << "old";
    }
    A::set_quant_value(e, 1, 0, 300);
    try {
        e.SaveFile(file("kept.jpg"));
        ADD_FAILURE() << "no error raised";
    } catch (const VbError& err) {
        EXPECT_EQ(err.number(), 1);
        EXPECT_EQ(err.description(), "Illegal precission in Quantization Table");
    }
    EXPECT_EQ(jpeg_test::read_file(file("kept.jpg")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(files_in_dir(), 1u);

    // 65536 pixels wide does not fit the frame header.
    jpeg_test::Picture wide{65536, 1, std::vector<std::uint8_t>(65536 * 3, 90)};
    bmptojpg w;
    w.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    ASSERT_EQ(w.SampleHDC(wide.view(), 65536, 1, 0, 0), 0);
    EXPECT_EQ(error_number([&] { w.SaveFile(file("wide.jpg")); }), 6);
    EXPECT_FALSE(fs::exists(file("wide.jpg")));

    // New factors drop the picture.
    e.SetSamplingFrequencies(1, 1, 1, 1, 1, 1);
    EXPECT_EQ(error_number([&] { e.SaveFile(file("none.jpg")); }), 9);
}

TEST_F(JpegFileTest, Utf8FileNames) {
    const auto pic = jpeg_test::text_picture(30, 30, 6);
    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 30, 30, 0, 0), 0);
    const std::string name = file("\xE5\x88\x86\xE5\x8D\xB7" "0001.jpg");  // "分卷0001.jpg"
    ASSERT_EQ(e.SaveFile(name), 0);
    EXPECT_TRUE(fs::exists(fs::path(std::u8string(name.begin(), name.end()))));
}

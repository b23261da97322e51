#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "book/book_error.h"
#include "book/xtc_page.h"
#include "book/xtc_writer.h"
#include "book_test_support.h"
#include "xtc_reader.h"

namespace pagiro::test {
namespace {

namespace fs = std::filesystem;

// What a pixel must read back as: for two bits the nearest of the four greys, for one
// bit black or white by the text threshold.
std::uint8_t expected_grey(std::uint8_t source, bool two_bit) {
    if (!two_bit) return source >= xtg_black_below ? 255 : 0;
    std::uint8_t best = 0;
    for (int level : {0, 85, 170, 255})
        if (std::abs(level - source) < std::abs(best - source)) best = static_cast<std::uint8_t>(level);
    return best;
}

void expect_page_matches(const ReadPage& read, const GreyPage& source, bool two_bit, const std::string& what) {
    ASSERT_EQ(read.width, source.width) << what;
    ASSERT_EQ(read.height, source.height) << what;
    int wrong = 0;
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x)
            if (read.grey[static_cast<std::size_t>(y * source.width + x)] != expected_grey(source.at(x, y), two_bit) &&
                ++wrong <= 3)
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " from grey " << int(source.at(x, y)) << " reads "
                              << int(read.grey[static_cast<std::size_t>(y * source.width + x)]);
    EXPECT_EQ(wrong, 0) << what;
}

std::vector<std::uint8_t> file_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t at, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

using XtcBooks = BookFolder;

TEST(XtcPage, TwoBitCodesPutTheMiddleGreysOutOfOrder) {
    EXPECT_EQ(xth_code(255), 0);  // white
    EXPECT_EQ(xth_code(170), 2);  // light grey
    EXPECT_EQ(xth_code(85), 1);   // dark grey
    EXPECT_EQ(xth_code(0), 3);    // black
    EXPECT_EQ(xth_code(127), 1);
    EXPECT_EQ(xth_code(128), 2);
    EXPECT_EQ(xtg_bitmap_size(13, 7), 14u);
    EXPECT_EQ(xth_bitmap_size(13, 7), 26u);
    EXPECT_EQ(xth_bitmap_size(480, 800), 96000u);
}

TEST_F(XtcBooks, EveryPageReadsBackAsItsSourceAtTheFormatsGreys) {
    const std::vector<std::pair<int, int>> sizes = {{480, 800}, {13, 7}, {1, 1}, {8, 8}, {9, 17}, {800, 480}};
    for (XtcDepth depth : {XtcDepth::OneBit, XtcDepth::TwoBit}) {
        const bool two_bit = depth == XtcDepth::TwoBit;
        std::vector<GreyPage> sources;
        for (auto [w, h] : sizes) {
            sources.push_back(gradient_page(w, h));
            sources.push_back(text_like_page(w, h, static_cast<unsigned>(w * h)));
            sources.push_back(noise_page(w, h, static_cast<unsigned>(w + h)));
        }
        const fs::path path = dir / (std::string("book") + xtc_extension(depth));
        XtcWriter writer({path, depth, "书名", "作者"});
        for (const GreyPage& page : sources) writer.add_page(page.view());
        EXPECT_EQ(writer.finish({}), std::vector<fs::path>{path});

        const ReadBook book = read_xtc(path);
        EXPECT_EQ(book.two_bit, two_bit);
        EXPECT_EQ(book.title, "书名");
        EXPECT_EQ(book.author, "作者");
        ASSERT_EQ(book.pages.size(), sources.size());
        for (std::size_t i = 0; i < sources.size(); ++i)
            expect_page_matches(book.pages[i], sources[i], two_bit,
                                std::string(xtc_extension(depth)) + " page " + std::to_string(i + 1));
    }
}

TEST_F(XtcBooks, HeaderPointsAtEachPartAndSaysWhatIsThere) {
    const GreyPage page = gradient_page(16, 16);
    XtcWriter with_all({dir / "a.xtch", XtcDepth::TwoBit, "t", ""});
    with_all.add_page(page.view());
    with_all.add_page(page.view());
    with_all.finish({{"一", 1, 1}, {"二", 2, 2}});
    const auto a = file_bytes(dir / "a.xtch");
    EXPECT_EQ(le(a, 0x06, 2), 2u);
    EXPECT_EQ(a[0x09], 1);
    EXPECT_EQ(a[0x0A], 0);
    EXPECT_EQ(a[0x0B], 1);
    EXPECT_EQ(le(a, 0x10, 8), 0x38u);
    const std::uint64_t page_table = le(a, 0x18, 8), chapters = le(a, 0x30, 4);
    EXPECT_EQ(page_table - chapters, 2u * 96);
    EXPECT_EQ(page_table + 2 * 16, a.size());          // the page table ends the file
    EXPECT_EQ(le(a, 0x20, 8), le(a, page_table, 8));   // first page data = first page's offset
    EXPECT_GE(le(a, 0x20, 8), 0xB8u + 64);             // pages start after the metadata

    XtcWriter bare({dir / "b.xtc", XtcDepth::OneBit, "", ""});
    bare.add_page(page.view());
    bare.finish({});
    const auto b = file_bytes(dir / "b.xtc");
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), std::string("XTC\0", 4));
    EXPECT_EQ(b[0x09], 0);
    EXPECT_EQ(b[0x0B], 0);
    EXPECT_EQ(le(b, 0x10, 8), 0u);
    EXPECT_EQ(le(b, 0x30, 4), 0u);
    EXPECT_EQ(le(b, 0x20, 8), 56u);
    const ReadBook read = read_xtc(dir / "b.xtc");
    EXPECT_FALSE(read.has_metadata);
    EXPECT_TRUE(read.chapters.empty());
}

TEST_F(XtcBooks, LongChineseTitleAuthorAndChapterNamesAreCutBetweenCharacters) {
    std::string title = "ab", author, chapter;
    for (int i = 0; i < 60; ++i) title += "长";
    for (int i = 0; i < 30; ++i) author += "者";
    for (int i = 0; i < 40; ++i) chapter += "章";
    XtcWriter writer({dir / "long.xtch", XtcDepth::TwoBit, title, author});
    const GreyPage page = gradient_page(8, 8);
    writer.add_page(page.view());
    writer.finish({{"x" + chapter, 1, 1}});

    const ReadBook book = read_xtc(dir / "long.xtch");
    EXPECT_EQ(book.title, title.substr(0, 2 + 41 * 3));  // 125 bytes: one more character would need 128
    EXPECT_EQ(book.author, author.substr(0, 21 * 3));   // 63 bytes exactly
    ASSERT_EQ(book.chapters.size(), 1u);
    EXPECT_EQ(book.chapters[0].name, "x" + chapter.substr(0, 26 * 3));  // 79 bytes exactly
}

TEST_F(XtcBooks, MalformedUtf8InNamesIsReplacedRatherThanWritten) {
    XtcWriter writer({dir / "bad.xtc", XtcDepth::OneBit, "A\xFF" "B", "\xE4\xB8"});
    const GreyPage page = gradient_page(8, 8);
    writer.add_page(page.view());
    writer.finish({{"\xC0\xAF", 1, 1}});
    const ReadBook book = read_xtc(dir / "bad.xtc");
    EXPECT_EQ(book.title, "A\xEF\xBF\xBD" "B");
    EXPECT_EQ(book.author, "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(book.chapters.at(0).name, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Pages of 8 × 2 pixels carrying their own number in their bits, so order can be checked.
GreyPage numbered_page(std::uint32_t number) {
    GreyPage page(8, 2);
    for (int bit = 0; bit < 16; ++bit) page.at(bit % 8, bit / 8) = (number >> bit) & 1 ? 255 : 0;
    return page;
}

std::uint32_t number_of(const ReadPage& page) {
    std::uint32_t number = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (page.grey[static_cast<std::size_t>(bit)] == 255) number |= 1u << bit;
    return number;
}

TEST_F(XtcBooks, ABookPast65535PagesIsSplitIntoNumberedFilesWithItsChapters) {
    const std::uint32_t total = 65537;
    XtcWriter writer({dir / "大书.xtc", XtcDepth::OneBit, "大书", ""});
    for (std::uint32_t n = 1; n <= total; ++n) writer.add_page(numbered_page(n).view());
    const auto written = writer.finish({{"甲", 1, 65534}, {"乙", 65535, 65536}, {"丙", 65537, 65537}});
    ASSERT_EQ(written, (std::vector<fs::path>{dir / "大书-01.xtc", dir / "大书-02.xtc"}));
    EXPECT_EQ(names(), (std::set<std::string>{"大书-01.xtc", "大书-02.xtc"}));

    const ReadBook first = read_xtc(written[0]), second = read_xtc(written[1]);
    ASSERT_EQ(first.pages.size(), 65535u);
    ASSERT_EQ(second.pages.size(), 2u);
    for (std::size_t i = 0; i < first.pages.size(); ++i)
        if (number_of(first.pages[i]) != ((i + 1) & 0xFFFF)) FAIL() << "page " << i + 1 << " out of place";
    EXPECT_EQ(number_of(second.pages[0]), 65536u & 0xFFFF);
    EXPECT_EQ(number_of(second.pages[1]), 65537u & 0xFFFF);

    ASSERT_EQ(first.chapters.size(), 2u);
    EXPECT_EQ(first.chapters[0].name, "甲");
    EXPECT_EQ(first.chapters[0].last_page, 65534);
    EXPECT_EQ(first.chapters[1].first_page, 65535);
    EXPECT_EQ(first.chapters[1].last_page, 65535);
    ASSERT_EQ(second.chapters.size(), 2u);
    EXPECT_EQ(second.chapters[0].name, "乙");  // runs on from the first file
    EXPECT_EQ(second.chapters[0].first_page, 1);
    EXPECT_EQ(second.chapters[0].last_page, 1);
    EXPECT_EQ(second.chapters[1].first_page, 2);
    EXPECT_EQ(second.title, "大书");
}

TEST_F(XtcBooks, AFileStaysWithinItsByteLimitAndSplitsBeforeIt) {
    const GreyPage page = gradient_page(64, 64);  // 1,024 bytes a page at two bits
    const std::uint64_t limit = 56 + 256 + 3 * (22 + 1024 + 16 + 96);  // room for three pages
    XtcBook book{dir / "k.xtch", XtcDepth::TwoBit, "k", ""};
    book.max_file_bytes = limit;
    XtcWriter writer(book);
    for (int i = 0; i < 7; ++i) writer.add_page(page.view());
    const auto written = writer.finish({{"全", 1, 7}});
    ASSERT_EQ(written.size(), 3u);
    std::size_t pages = 0;
    for (const fs::path& file : written) {
        EXPECT_LE(fs::file_size(file), limit) << file;
        const ReadBook part = read_xtc(file);
        pages += part.pages.size();
        ASSERT_EQ(part.chapters.size(), 1u);
        EXPECT_EQ(part.chapters[0].first_page, 1);
        EXPECT_EQ(part.chapters[0].last_page, static_cast<int>(part.pages.size()));
    }
    EXPECT_EQ(pages, 7u);

    EXPECT_EQ(split_book_path(dir / "x.xtch", 7, 120), dir / "x-007.xtch");
    EXPECT_EQ(split_book_path(dir / "x.xtch", 3, 9), dir / "x-03.xtch");
}

TEST_F(XtcBooks, NothingIsLeftBehindWhenABookIsAbandonedOrFails) {
    const GreyPage page = gradient_page(32, 32);
    {
        XtcWriter abandoned({dir / "gone.xtch", XtcDepth::TwoBit, "t", "a"});
        abandoned.add_page(page.view());
    }
    EXPECT_TRUE(names().empty());

    XtcWriter empty({dir / "empty.xtc", XtcDepth::OneBit, "t", ""});
    EXPECT_THROW(empty.finish({}), BookError);
    EXPECT_THROW(empty.add_page(page.view()), BookError);  // the book is over
    EXPECT_TRUE(names().empty());

    EXPECT_THROW(XtcWriter({dir / "no folder" / "b.xtc", XtcDepth::OneBit, "t", ""}), BookError);

    XtcWriter wrong({dir / "wrong.xtc", XtcDepth::OneBit, "t", ""});
    wrong.add_page(page.view());
    EXPECT_THROW(wrong.finish({{"past the end", 1, 2}}), std::invalid_argument);
    EXPECT_THROW(wrong.add_page(GreyView{}), std::invalid_argument);
}

TEST_F(XtcBooks, AFailedWriteKeepsTheOlderBookOfThatName) {
    const fs::path path = dir / "书.xtch";
    { std::ofstream(path) << "the older book"; }
    const GreyPage page = gradient_page(480, 800);

    bool threw = false;
    try {
        ResourceLimit file_size(RLIMIT_FSIZE, 3 << 20);  // room for about 30 pages
        XtcWriter writer({path, XtcDepth::TwoBit, "书", ""});
        for (int i = 0; i < 100; ++i) writer.add_page(page.view());
        writer.finish({});
    } catch (const BookError& e) {
        threw = true;
        EXPECT_NE(std::string(e.what()).find("File too large"), std::string::npos) << e.what();
    }

    EXPECT_TRUE(threw);
    EXPECT_EQ(names(), std::set<std::string>{"书.xtch"});
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the older book");

    XtcWriter again({path, XtcDepth::TwoBit, "书", ""});
    again.add_page(page.view());
    again.finish({});
    EXPECT_EQ(read_xtc(path).pages.size(), 1u);  // a finished book replaces it
    EXPECT_EQ(names(), std::set<std::string>{"书.xtch"});
}

}  // namespace
}  // namespace pagiro::test

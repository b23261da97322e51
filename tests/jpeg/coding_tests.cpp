// Huffman table building, block coding, the bit writer, scan grouping and the
// MCU order with its dummy blocks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "oracle.h"
#include "platform/vb_error.h"
#include "test_access.h"

using A = bmptojpg_test_access;

namespace {

std::string code_bits(const A::Table& t, int symbol) {
    std::string s;
    const int mask = t.code_mask[symbol];
    for (int m = mask; m > 0; m /= 2) s += (t.code[symbol] & m) ? '1' : '0';
    return s;
}

std::string value_bits(int value, int n) {
    std::string s;
    if (value < 0) value -= 1;
    for (int b = n - 1; b >= 0; --b) s += ((value >> b) & 1) ? '1' : '0';
    return s;
}

// The bits of the coded data, stuffed zero bytes removed.
std::string bits_of(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (int b = 7; b >= 0; --b) s += ((bytes[i] >> b) & 1) ? '1' : '0';
        if (bytes[i] == 0xFF) {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == 0x00) << "0xFF not stuffed";
            ++i;
        }
    }
    return s;
}

// The written bits are `expected` followed by 1 bits up to the byte boundary.
void expect_bits(const std::vector<std::uint8_t>& bytes, const std::string& expected) {
    const std::string got = bits_of(bytes);
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    EXPECT_LT(got.size() - expected.size(), 8u);
    EXPECT_EQ(got.substr(expected.size()), std::string(got.size() - expected.size(), '1'));
}

A::Counts counts_of(std::initializer_list<std::pair<int, int>> entries) {
    A::Counts c{};
    for (auto [symbol, count] : entries) c[symbol] = count;
    return c;
}

template <typename F>
void expect_bad_table(F&& f) {
    try {
        f();
        ADD_FAILURE() << "no error raised";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 1);
        EXPECT_EQ(e.description(), "Bad Huffman Table");
    }
}

}  // namespace

TEST(JpegHuffmanTables, SmallExamplesAndTheTieRule) {
    auto one = counts_of({{0, 7}});
    auto t = A::optimize(one, 11);
    EXPECT_EQ(t.counts[0], 1);
    EXPECT_EQ(t.symbols, std::vector<std::uint8_t>{0});
    EXPECT_EQ(code_bits(t, 0), "0");
    for (auto c : one) EXPECT_EQ(c, 0);

    auto two = counts_of({{0, 5}, {1, 5}});
    t = A::optimize(two, 11);
    EXPECT_EQ(std::vector<int>(t.counts.begin(), t.counts.begin() + 3), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(t.symbols, (std::vector<std::uint8_t>{0, 1}));
    EXPECT_EQ(code_bits(t, 0), "0");
    EXPECT_EQ(code_bits(t, 1), "10");

    auto three = counts_of({{0, 1}, {1, 1}, {2, 1}});
    t = A::optimize(three, 11);
    EXPECT_EQ(std::vector<int>(t.counts.begin(), t.counts.begin() + 3), (std::vector<int>{0, 3, 0}));
    EXPECT_EQ(t.symbols, (std::vector<std::uint8_t>{0, 1, 2}));
    EXPECT_EQ(code_bits(t, 0), "00");
    EXPECT_EQ(code_bits(t, 1), "01");
    EXPECT_EQ(code_bits(t, 2), "10");
    EXPECT_EQ(t.code_mask[3], 0);
    EXPECT_EQ(t.code[3], -1);
}

TEST(JpegHuffmanTables, FibonacciCountsAreLimitedToSixteenBits) {
    A::Counts c{};
    std::int32_t a = 1, b = 1;
    for (int s = 0; s < 30; ++s) {
        c[s] = a;
        const std::int32_t next = a + b;
        a = b;
        b = next;
    }
    const auto t = A::optimize(c, 255);
    EXPECT_EQ(std::vector<int>(t.counts.begin(), t.counts.end()),
              (std::vector<int>{0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 1}));
    EXPECT_EQ(t.symbols.size(), 30u);
    for (int s = 0; s < 30; ++s) EXPECT_NE(t.code_mask[s], 0) << s;
    // The most frequent symbols get the shortest codes, the rarest the 16-bit one.
    EXPECT_EQ(t.symbols[0], 28);
    EXPECT_EQ(t.symbols[1], 29);
    EXPECT_EQ(code_bits(t, 28), "00");
    EXPECT_EQ(code_bits(t, 29), "01");
    EXPECT_EQ(t.code_mask[t.symbols.back()], 1 << 15);
    EXPECT_EQ(t.code[t.symbols.back()], 0xFFFE);
}

TEST(JpegHuffmanTables, InvalidTablesAreRejected) {
    std::array<std::uint8_t, 16> counts{};
    counts[0] = 2;  // two codes of one bit leave no room
    expect_bad_table([&] { A::expand(counts, {0, 1}, 11); });
    counts = {};
    counts[1] = 2;
    expect_bad_table([&] { A::expand(counts, {3, 3}, 11); });  // a symbol twice
    expect_bad_table([&] { A::expand(counts, {3, 12}, 11); });  // above the largest DC symbol
    expect_bad_table([&] { A::expand(std::array<std::uint8_t, 16>{}, {}, 11); });  // no code at all
    counts = {};
    counts[15] = 200;
    counts[14] = 100;
    expect_bad_table([&] { A::expand(counts, std::vector<std::uint8_t>(256, 0), 255); });  // more than 256
    counts = {};
    counts[1] = 3;
    const auto ok = A::expand(counts, {4, 5, 6}, 11);
    EXPECT_EQ(code_bits(ok, 6), "10");
}

// An encoder expands its tables into the same records page after page: each
// table must come out whole, with no code left from the one before, also after
// a table that was refused half way.
TEST(JpegHuffmanTables, TablesExpandedInTurnAreThoseOfAFreshRecord) {
    auto lengths = [](std::initializer_list<std::pair<int, int>> at) {
        std::array<std::uint8_t, 16> c{};
        for (auto [length, n] : at) c[static_cast<std::size_t>(length - 1)] = static_cast<std::uint8_t>(n);
        return c;
    };
    std::vector<std::uint8_t> all(256);
    for (int v = 0; v < 256; ++v) all[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(255 - v);
    const std::vector<A::TableLayout> layouts = {
        {lengths({{1, 1}}), {0}},                                  // a grey page's colour table
        {lengths({{2, 3}, {3, 1}}), {1, 2, 3, 0xF0}},
        {lengths({{1, 1}}), {0}},                                  // back: the others reset
        {lengths({{8, 255}, {9, 1}}), all},                        // every symbol
        {lengths({{2, 2}}), {7, 200}},
        {lengths({{2, 3}}), {9, 64, 9}},                           // refused at its third symbol
        {lengths({{1, 1}, {2, 1}}), {63, 64}},                     // either side of a word of the set
        {lengths({{1, 2}}), {5, 6}},                               // refused at its end (no room)
        {lengths({{1, 1}}), {255}},
        {lengths({}), {}},                                         // refused: no code
        {lengths({{3, 5}}), {0, 1, 2, 3, 4}},
    };
    const auto in_turn = A::expand_in_turn(layouts, 255);
    ASSERT_EQ(in_turn.size(), layouts.size());
    int refused = 0;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE("table " + std::to_string(i));
        std::optional<A::Table> fresh;
        try {
            fresh = A::expand(layouts[i].counts, layouts[i].symbols, 255);
        } catch (const VbError&) {
        }
        ASSERT_EQ(in_turn[i].has_value(), fresh.has_value());
        if (!fresh) {
            ++refused;
            continue;
        }
        EXPECT_EQ(in_turn[i]->code_mask, fresh->code_mask);
        EXPECT_EQ(in_turn[i]->code, fresh->code);
    }
    EXPECT_EQ(refused, 3);
}

class JpegBlockCoding : public ::testing::Test {
protected:
    void SetUp() override {
        A::install_tables(e, counts_of({{0, 9}, {1, 5}, {2, 4}}),
                          counts_of({{0x00, 9}, {0x01, 8}, {0xF0, 3}, {0xF1, 2}, {0xE1, 2}, {0x3F, 1}}));
        dc = A::dc_table(e, 0);
        ac = A::ac_table(e, 0);
    }
    std::vector<std::uint8_t> encode(const std::vector<std::int16_t>& block, std::int32_t& predictor) {
        A::start_output(e);
        A::encode_block(e, block, predictor);
        return A::finish_output(e);
    }
    bmptojpg e;
    A::Table dc, ac;
};

TEST_F(JpegBlockCoding, DcDifferences) {
    const std::pair<int, int> cases[] = {{1, 1}, {-1, 1}, {3, 2}, {-3, 2}, {0, 0}};
    for (auto [diff, category] : cases) {
        std::vector<std::int16_t> block(64, 0);
        block[0] = static_cast<std::int16_t>(10 + diff);
        std::int32_t predictor = 10;
        const auto bytes = encode(block, predictor);
        EXPECT_EQ(predictor, 10 + diff);
        expect_bits(bytes, code_bits(dc, category) + value_bits(diff, category) + code_bits(ac, 0x00));
    }
    EXPECT_EQ(value_bits(1, 1) + value_bits(-1, 1) + value_bits(3, 2) + value_bits(-3, 2), "101100");
}

TEST_F(JpegBlockCoding, RunsZrlAndEob) {
    std::int32_t predictor = 0;
    std::vector<std::int16_t> block(64, 0);
    block[63] = 1;  // 62 zeros then a coefficient: three ZRL, symbol 0xE1, no EOB
    expect_bits(encode(block, predictor), code_bits(dc, 0) + code_bits(ac, 0xF0) + code_bits(ac, 0xF0) +
                                              code_bits(ac, 0xF0) + code_bits(ac, 0xE1) + "1");

    block.assign(64, 0);
    block[17] = 1;  // 16 zeros then 1: ZRL, symbol 0x01, then EOB
    expect_bits(encode(block, predictor), code_bits(dc, 0) + code_bits(ac, 0xF0) + code_bits(ac, 0x01) + "1" +
                                              code_bits(ac, 0x00));

    block.assign(64, 0);
    block[16] = -1;  // 15 zeros then -1: symbol 0xF1 and no ZRL
    expect_bits(encode(block, predictor), code_bits(dc, 0) + code_bits(ac, 0xF1) + "0" + code_bits(ac, 0x00));

    block.assign(64, 1);
    block[0] = 0;
    for (int i = 44; i < 64; ++i) block[i] = 0;  // 20 zeros at the end: only an EOB
    std::string expected = code_bits(dc, 0);
    for (int i = 1; i < 44; ++i) expected += code_bits(ac, 0x01) + "1";
    expect_bits(encode(block, predictor), expected + code_bits(ac, 0x00));
}

TEST(JpegBitWriter, StuffingPaddingAndGrowth) {
    bmptojpg e;
    A::start_output(e);
    A::write_bits(e, 4, 0b101);
    EXPECT_EQ(A::finish_output(e), (std::vector<std::uint8_t>{0xBF}));  // 101 and five 1 bits

    A::start_output(e);
    A::write_bits(e, 64, 0x7F);  // seven 1 bits: the padded byte is 0xFF and is stuffed
    EXPECT_EQ(A::finish_output(e), (std::vector<std::uint8_t>{0xFF, 0x00}));

    A::start_output(e);
    A::write_bits(e, 128, 0x12);  // a whole byte: nothing to pad
    EXPECT_EQ(A::finish_output(e), (std::vector<std::uint8_t>{0x12}));

    // The output buffer starts at 4 bytes here and grows with the data.
    A::start_output(e);
    for (int i = 0; i < 64; ++i) A::write_bits(e, 128, 0xFF);
    A::write_bits(e, 2, 0b01);
    const auto bytes = A::finish_output(e);
    ASSERT_EQ(bytes.size(), 129u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(bytes[2 * i], 0xFF);
        EXPECT_EQ(bytes[2 * i + 1], 0x00);
    }
    EXPECT_EQ(bytes[128], 0x7F);
}

// Marker segments go into the file in one piece each: they must grow a buffer
// that is too small, carry their own length and land right after each other.
TEST(JpegSegmentWriter, SegmentsGrowTheBufferAndCarryTheirLengths) {
    bmptojpg e;
    A::start_output(e);  // 4 bytes to begin with
    std::string text(300, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(255 - i % 256);
    A::write_comment(e, text);

    // The largest table there is: all 256 AC symbols, 255 of 8 bits and one of 9.
    std::array<std::uint8_t, 16> counts{};
    counts[7] = 255;
    counts[8] = 1;
    std::vector<std::uint8_t> symbols(256);
    for (int i = 0; i < 256; ++i) symbols[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 7 + 3) % 256);
    A::write_huffman_table(e, 3, true, counts, symbols);
    const auto bytes = A::finish_output(e);

    ASSERT_EQ(bytes.size(), 4u + 300u + 4u + 1u + 16u + 256u);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4)), (std::vector<std::uint8_t>{0xFF, 0xFE, 0x01, 0x2E}));
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 304), text);
    const auto* table = bytes.data() + 304;
    EXPECT_EQ((std::vector<std::uint8_t>(table, table + 5)), (std::vector<std::uint8_t>{0xFF, 0xC4, 0x01, 0x13, 0x13}));
    EXPECT_EQ((std::vector<std::uint8_t>(table + 5, table + 21)), (std::vector<std::uint8_t>(counts.begin(), counts.end())));
    EXPECT_EQ((std::vector<std::uint8_t>(table + 21, table + 277)), symbols);

    // A table claiming more than 256 symbols is refused.
    counts[9] = 1;
    A::start_output(e);
    try {
        A::write_huffman_table(e, 0, false, counts, symbols);
        ADD_FAILURE() << "no error";
    } catch (const VbError& err) {
        EXPECT_EQ(err.number(), 9);
    }
}

TEST(JpegScanGrouping, Examples) {
    using G = std::vector<std::pair<int, int>>;
    auto groups = [](int h1, int v1, int h2, int v2, int h3, int v3) {
        bmptojpg e;
        e.SetSamplingFrequencies(h1, v1, h2, v2, h3, v3);
        return A::scan_groups(e);
    };
    EXPECT_EQ(groups(2, 2, 1, 1, 1, 1), (G{{0, 2}}));
    EXPECT_EQ(groups(2, 2, 0, 0, 0, 0), (G{{0, 0}}));
    EXPECT_EQ(groups(4, 4, 1, 1, 1, 1), (G{{0, 0}, {1, 2}}));
    EXPECT_EQ(groups(2, 2, 4, 2, 1, 1), (G{{0, 0}, {1, 2}}));
    EXPECT_EQ(groups(3, 3, 1, 1, 1, 1), (G{{0, 1}, {2, 2}}));  // 9 + 1 = 10 fits, a third block does not
    EXPECT_EQ(groups(4, 4, 4, 3, 2, 2), (G{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_EQ(groups(1, 1, 4, 4, 1, 1), (G{{0, 0}, {1, 1}, {2, 2}}));
    EXPECT_EQ(groups(2, 1, 2, 2, 4, 1), (G{{0, 2}}));          // 2 + 4 + 4 = 10 blocks
    EXPECT_EQ(groups(2, 2, 2, 2, 3, 1), (G{{0, 1}, {2, 2}}));  // 4 + 4 + 3 = 11 blocks
}

TEST(JpegMcuOrder, DummyBlocksOfA24By24Picture) {
    const auto pic = jpeg_test::smooth_picture(24, 24, 2);
    bmptojpg e;
    ASSERT_EQ(e.SampleHDC(pic.view(), 24, 24, 0, 0), 0);
    // Y is 3 x 3 blocks in 2 x 2 MCUs of 2 x 2 blocks; -1 is a dummy block.
    EXPECT_EQ(A::interleaved_order(e, 0), (std::vector<std::int64_t>{0, 64, 192, 256,        //
                                                                    128, -1, 320, -1,        //
                                                                    384, 448, -1, -1,        //
                                                                    512, -1, -1, -1}));
    EXPECT_EQ(A::interleaved_order(e, 1), (std::vector<std::int64_t>{0, 64, 128, 192}));

    bmptojpg page;
    const auto text = jpeg_test::text_picture(128, 110, 4);
    ASSERT_EQ(page.SampleHDC(text.view(), 128, 110, 0, 0), 0);
    for (int c = 0; c < 3; ++c) {
        const auto order = A::interleaved_order(page, c);
        EXPECT_EQ(order.size(), c == 0 ? 8u * 7u * 4u : 8u * 7u);
        for (auto start : order) EXPECT_GE(start, 0);
    }
}

TEST(JpegMcuOrder, DummyBlocksCountAnEndOfBlock) {
    // Noise at quality 100 leaves every real luminance block with a non-zero last
    // coefficient, so only the dummy blocks code an end-of-block.
    const auto pic = jpeg_test::random_picture(24, 24, 11);
    bmptojpg e;
    e.Quality(100);
    ASSERT_EQ(e.SampleHDC(pic.view(), 24, 24, 0, 0), 0);
    const auto& y = A::coefficients(e, 0);
    for (std::size_t b = 0; b < y.size(); b += 64) ASSERT_NE(y[b + 63], 0) << "pick another seed";
    A::optimize_tables(e);
    EXPECT_NE(A::ac_table(e, 0).code_mask[0], 0);
    const std::string path = jpeg_test::temp_path("jpeg_dummy_eob.jpg");
    ASSERT_EQ(e.SaveFile(path), 0);
    const auto d = jpeg_test::decode(jpeg_test::read_file(path), true);
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.warnings, 0);
    EXPECT_GT(jpeg_test::psnr(d.pixels, jpeg_test::component_plane(pic, 0)), 45.0);
    std::remove(path.c_str());
}

TEST(JpegEstimate, UniformGreyPicture) {
    jpeg_test::Picture grey{24, 8, std::vector<std::uint8_t>(24 * 8 * 3, 128)};
    bmptojpg e;
    e.SetSamplingFrequencies(1, 1, 0, 0, 0, 0);
    ASSERT_EQ(e.SampleHDC(grey.view(), 24, 8, 0, 0), 0);
    for (auto c : A::coefficients(e, 0)) ASSERT_EQ(c, 0);
    EXPECT_EQ(A::optimize_tables(e), 1);  // 3 DC categories and 3 EOBs of one bit each
    const auto dc = A::dc_table(e, 0), ac = A::ac_table(e, 0);
    EXPECT_EQ(dc.counts[0], 1);
    EXPECT_EQ(dc.symbols, std::vector<std::uint8_t>{0});
    EXPECT_EQ(ac.counts[0], 1);
    EXPECT_EQ(ac.symbols, std::vector<std::uint8_t>{0});
}

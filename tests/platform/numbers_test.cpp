#include <gtest/gtest.h>

#include <cmath>

#include "platform/numbers.h"
#include "platform/vb_error.h"

using namespace pagiro;

TEST(Numbers, TextToDoubleAcceptsDecimalForms) {
    EXPECT_DOUBLE_EQ(text_to_double(u"128"), 128.0);
    EXPECT_DOUBLE_EQ(text_to_double(u"  20.9 "), 20.9);
    EXPECT_DOUBLE_EQ(text_to_double(u"-12.7"), -12.7);
    EXPECT_DOUBLE_EQ(text_to_double(u".5"), 0.5);
    EXPECT_DOUBLE_EQ(text_to_double(u"5."), 5.0);
    EXPECT_DOUBLE_EQ(text_to_double(u"+1e3"), 1000.0);
}

TEST(Numbers, FullWidthDigitsAndThousandsGroupsAreNumbers) {
    EXPECT_DOUBLE_EQ(text_to_double(u"１２０"), 120.0);
    EXPECT_DOUBLE_EQ(text_to_double(u"－１２．５"), -12.5);
    EXPECT_DOUBLE_EQ(text_to_double(u"　１２８　"), 128.0);  // ideographic blanks around
    EXPECT_DOUBLE_EQ(text_to_double(u"1,000"), 1000.0);
    EXPECT_DOUBLE_EQ(text_to_double(u"-12,345,678.25"), -12345678.25);
    EXPECT_DOUBLE_EQ(text_to_double(u"１，０００"), 1000.0);
    EXPECT_DOUBLE_EQ(text_to_double(u"1２3"), 123.0);
    EXPECT_EQ(text_to_i16(u"３２７６７"), 32767);
    // Commas that do not group thousands are not a number: "1,5" may mean 1.5.
    for (auto t : {u"1,5", u"1,0000", u",100", u"100,", u"1,,000", u"1234,567", u"1.000,5", u"1,000.5,0", u"１２a"})
        EXPECT_FALSE(is_numeric(t)) << std::u16string(t).size();
}

TEST(Numbers, NonNumericTextIsATypeMismatch) {
    for (auto t : {u"", u"   ", u"abc", u"12a", u"1e", u"-", u".", u"1 2", u"0x10"}) {
        EXPECT_FALSE(is_numeric(t));
        try {
            text_to_double(t);
            ADD_FAILURE() << "no error";
        } catch (const VbError& e) {
            EXPECT_EQ(e.number(), 13);
        }
    }
}

TEST(Numbers, WholeNumbersRoundHalfToEven) {
    EXPECT_EQ(to_i16(0.5), 0);
    EXPECT_EQ(to_i16(1.5), 2);
    EXPECT_EQ(to_i16(2.5), 2);
    EXPECT_EQ(to_i16(-2.5), -2);
    EXPECT_EQ(to_i16(-3.5), -4);
    EXPECT_EQ(to_i16(2.4999), 2);
    EXPECT_EQ(to_i32(1234567.5), 1234568);
    EXPECT_EQ(text_to_i16(u"32767.4"), 32767);
    EXPECT_EQ(text_to_i32(u"-2147483648"), INT32_MIN);
}

TEST(Numbers, OutOfRangeIsAnOverflow) {
    auto overflow16 = [](double v) {
        try {
            to_i16(v);
        } catch (const VbError& e) {
            return e.number() == 6;
        }
        return false;
    };
    EXPECT_TRUE(overflow16(32767.5));  // rounds to 32768
    EXPECT_TRUE(overflow16(-32768.51));
    EXPECT_FALSE(overflow16(-32768.5));  // rounds to -32768
    EXPECT_THROW(to_i32(2147483647.5), VbError);
    EXPECT_THROW(to_i16(std::nan("")), VbError);
}

TEST(Numbers, IntIsTheFloor) {
    EXPECT_EQ(vb_int(8.15), 8);
    EXPECT_EQ(vb_int(-0.5), -1);
    EXPECT_EQ(vb_int(3.0), 3);
}

// The shared wire helpers: numbers, argument parsing, unroasting, frame lengths.
#include <gtest/gtest.h>

#include "ondrel/wire.h"

namespace lantry::wire {
namespace {

TEST(WireTest, NumbersConvertOnlyWhenTheyAreDecimalAndInRange) {
    EXPECT_EQ(toInt16("12"), 12);
    EXPECT_EQ(toInt16("  -7 "), -7);
    EXPECT_EQ(toInt16("+7"), 7);
    EXPECT_EQ(toInt16("-32768"), -32768);
    EXPECT_EQ(toInt16("32768"), std::nullopt);
    EXPECT_EQ(toInt32("2147483647"), 2147483647);
    EXPECT_EQ(toInt32("-2147483649"), std::nullopt);
    EXPECT_EQ(toInt32("99999999999999999999999"), std::nullopt);
    for (const char* bad : {"", " ", "-", "1 2", "0x10", "1.0", "1e3", "12a", "\t1"}) {
        EXPECT_EQ(toInt32(bad), std::nullopt) << bad;
    }
}

TEST(WireTest, ArgumentsAreParsedTheTocWay) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(parseArguments(R"-(toc_send_im "joe" "hi \(there\) \"x\" \\")-"),
              (Args{"toc_send_im", "joe", R"-(hi (there) "x" \)-"}));
    EXPECT_EQ(parseArguments("toc2_set_pdmode  3 "), (Args{"toc2_set_pdmode", "3"}));
    EXPECT_EQ(parseArguments(R"-(a "" b)-"), (Args{"a", "", "b"}));
    EXPECT_EQ(parseArguments(R"-(a "open)-"), std::nullopt);
}

TEST(WireTest, RoastingRoundTrips) {
    const std::string password("p\0w\xff long enough to wrap", 23);
    EXPECT_EQ(unroastPassword(roastPassword(password)), password);
    EXPECT_EQ(unroastPassword("0X2408105C23001130"), "password");
    for (const char* bad : {"", "0x1", "2408", "0xzz"})
        EXPECT_EQ(unroastPassword(bad), std::nullopt);
}

TEST(WireTest, WordsAndFrameLengths) {
    EXPECT_EQ(encodeWord(258), std::string("\x01\x02", 2));
    EXPECT_EQ(encodeWord(65535), "\xff\xff");
    EXPECT_EQ(encodeWord(65536), "");
    EXPECT_EQ(encodeWord(-1), "");
    EXPECT_EQ(decodeWord(""), 0);
    EXPECT_EQ(decodeWord("\x01"), 256);
    EXPECT_EQ(frameLength(std::string("*\x02\x00\x00\x01", 5)), 6u + 256u);
    EXPECT_EQ(frameLength(std::string("*\x02\x00\x00\x00\x00", 6)), 6u);
}

}  // namespace
}  // namespace lantry::wire

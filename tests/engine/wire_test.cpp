// The shared wire helpers: numbers, argument parsing, unroasting, escaping.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ondrel/wire.h"

namespace lantry::wire {
namespace {

TEST(WireTest, NumbersConvertOnlyWhenTheyAreDecimalAndInRange) {
    EXPECT_EQ(toInt32("+2147483647"), 2147483647);
    for (const char* bad : {"-", "1 2", "0x10", "\t1", "-2147483649", "99999999999999999999"})
        EXPECT_EQ(toInt32(bad), std::nullopt) << bad;
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

// Escaping works a block at a time with a byte loop for the tail; checked against the plain
// definition for every length and position around the block sizes, and for every byte value.
TEST(WireTest, EscapeTextPutsABackslashBeforeExactlyTheNineBytes) {
    const std::string escaped = "\\$\"()[]{}";
    const auto reference = [&](const std::string& text) {
        std::string out;
        for (const char c : text) {
            if (escaped.find(c) != std::string::npos)
                out += '\\';
            out += c;
        }
        return out;
    };
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    EXPECT_EQ(escapeText(everyByte), reference(everyByte));
    EXPECT_EQ(escapeText(everyByte + everyByte).size(), 2 * 256 + 2 * 9u);

    std::mt19937 random(7);
    const std::string plain = "ab #%|^Z\x7f\xff\x01";
    for (std::size_t size = 0; size <= 100; ++size) {
        for (const char special : escaped) {
            for (std::size_t at = 0; at < size; ++at) {
                std::string text(size, 'a');
                text[at] = special;
                ASSERT_EQ(escapeText(text), reference(text)) << size << " " << at;
            }
            ASSERT_EQ(escapeText(std::string(size, special)),
                      reference(std::string(size, special)));
        }
        for (const int percent : {3, 30, 70}) {
            std::string text;
            for (std::size_t i = 0; i < size; ++i) {
                const bool pick = static_cast<int>(random() % 100) < percent;
                text += pick ? escaped[random() % escaped.size()] : plain[random() % plain.size()];
            }
            ASSERT_EQ(escapeText(text), reference(text)) << text;
        }
    }
}

}  // namespace
}  // namespace lantry::wire

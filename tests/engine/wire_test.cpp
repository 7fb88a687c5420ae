// The shared wire helpers: numbers, roasted passwords and escaping.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "ondrel/wire.h"

namespace lantry::wire {
namespace {

TEST(WireTest, NumbersConvertOnlyWhenTheyAreDecimalAndInRange) {
    EXPECT_EQ(toInt32("+2147483647"), 2147483647);
    for (const char* bad : {"-", "1 2", "0x10", "\t1", "-2147483649", "99999999999999999999"})
        EXPECT_EQ(toInt32(bad), std::nullopt) << bad;
}

// Both ends of the 16-bit range, and one past each.
TEST(WireTest, WordsEncodeFromZeroTo65535AndNothingOutside) {
    EXPECT_EQ(encodeWord(0), std::string(2, '\0'));
    EXPECT_EQ(encodeWord(258), "\x01\x02");
    EXPECT_EQ(encodeWord(65535), "\xff\xff");
    EXPECT_EQ(encodeWord(65536), "");
    EXPECT_EQ(encodeWord(-1), "");
    EXPECT_EQ(decodeWord("\xff\xff"), 65535);
    EXPECT_EQ(decodeWord("\x01"), 256);
}

// tocd reads every password through unroastPassword: hex pairs in either case, nothing else.
TEST(WireTest, RoastedPasswordsComeBackFromHexPairsInEitherCaseAndNothingElse) {
    std::string everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += static_cast<char>(c);
    const std::string roasted = roastPassword(everyByte);
    EXPECT_EQ(unroastPassword(roasted), everyByte);
    std::string upper = roasted;  // "0X" too
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(unroastPassword(upper), everyByte);
    const std::string digits = "0123456789abcdefABCDEF";
    for (int c = 0; c < 256; ++c) {
        if (digits.find(static_cast<char>(c)) != std::string::npos)
            continue;
        EXPECT_EQ(unroastPassword(std::string("0x0") + static_cast<char>(c)), std::nullopt) << c;
        EXPECT_EQ(unroastPassword(std::string("0x") + static_cast<char>(c) + '0'), std::nullopt)
            << c;
    }
    for (const char* bad : {"", "0", "x0", "0x0", "1x00", "0y00"})
        EXPECT_EQ(unroastPassword(bad), std::nullopt) << bad;
}

// Screen names compare by this form everywhere (tocd's accounts, presence, privacy lists): a
// fault at any letter makes two accounts of one name. Every byte is checked against the rule.
TEST(WireTest, NormalisedNamesLowerEveryCapitalDropBlanksAndKeepEveryOtherByte) {
    std::string everyByte, expected;
    for (int c = 0; c < 256; ++c) {
        everyByte += static_cast<char>(c);
        if (c == ' ')
            continue;
        expected += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    EXPECT_EQ(normalizeName(everyByte), expected);
    EXPECT_EQ(normalizeName(" Zed  Ax "), "zedax");
    EXPECT_EQ(normalizeName("@[`{"), "@[`{") << "the neighbours of A-Z stay";
}

// Escaping works a block at a time with a byte loop for the tail; checked against the plain
// definition for every length and position around the block sizes, and for every byte value
// (several escaped bytes share a block there).
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
    }
}

}  // namespace
}  // namespace lantry::wire

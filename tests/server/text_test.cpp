#include "text.h"

#include <gtest/gtest.h>

namespace tocd {
namespace {

TEST(ScreenNames, AcceptLettersDigitsAndBlanksWithinLength) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {
        {"alice", true},
        {"Joe Smith", true},
        {"a1b", true},
        {"ab", false},
        {"a b", false},
        {"1abc", false},
        {"abcdefghijklmnop", true},
        {"abcdefghijklmnopq", false},
        {"al:ice", false},
        {"al\xe9ice", false},
        {"", false},
        {" 123", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isValidScreenName(c.name), c.valid) << c.name;
}

TEST(Fields, RefuseWhatWouldSplitAServerMessage) {
    EXPECT_TRUE(isSafeField("Friends & \xe9tudes"));
    EXPECT_FALSE(isSafeField(""));
    EXPECT_FALSE(isSafeField("a:b"));
    EXPECT_FALSE(isSafeField("a\nb"));
    EXPECT_FALSE(isSafeField(std::string("a\0b", 3)));
    EXPECT_FALSE(isSafeField(std::string(65, 'x')));
}

TEST(BuddyText, GroupsBuddiesAliasesInOrder) {
    const auto entries =
        parseBuddyText("{g:Friends\nb:Joe Smith:Joey\nb:ann\r\ng:Work\nx:y\n}", "Buddies");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].group, "Friends");
    EXPECT_EQ(entries[0].name, "");
    EXPECT_EQ(entries[1].name, "Joe Smith");
    EXPECT_EQ(entries[1].alias, "Joey");
    EXPECT_EQ(entries[2].name, "ann");
    EXPECT_EQ(entries[2].group, "Friends");
    EXPECT_EQ(entries[3].group, "Work");

    const auto loose = parseBuddyText("b:bob", "Buddies");
    ASSERT_EQ(loose.size(), 1u);
    EXPECT_EQ(loose[0].group, "Buddies");
    EXPECT_EQ(loose[0].name, "bob");
}

TEST(ConfigChunks, StayWithinTheLimitAndEndWithDone) {
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i)
        lines.push_back("b:buddy" + std::to_string(i));
    const auto chunks = configChunks(lines, 200);
    ASSERT_GT(chunks.size(), 1u);
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_LE(chunks[i].size(), 200u);
        // Only the last text may carry the end marker the client looks for.
        EXPECT_EQ(chunks[i].find("done:\n") != std::string::npos, i + 1 == chunks.size());
        joined += chunks[i];
    }
    std::string expected;
    for (const auto& l : lines)
        expected += l + "\n";
    EXPECT_EQ(joined, expected + "done:\n");

    const auto single = configChunks({std::string(500, 'x')}, 100);
    ASSERT_EQ(single.size(), 2u);
    EXPECT_EQ(single[0], std::string(500, 'x') + "\n");
    EXPECT_EQ(configChunks({}, 100), std::vector<std::string>{"done:\n"});
}

TEST(Html, EscapesMarkupAndKeepsOtherBytes) {
    EXPECT_EQ(htmlEscape("<b a=\"1\">Tom & 'Jerry'</b>\xe9"),
              "&lt;b a=&quot;1&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/b&gt;\xe9");
    EXPECT_EQ(printable(std::string("a\0\\\n\xff", 5)), "a\\x00\\x5c\\x0a\\xff");
}

}  // namespace
}  // namespace tocd

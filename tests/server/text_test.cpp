// How CONFIG2 texts are cut is checked by fuzz/tocd_text_fuzz.cpp against its definition.
#include "text.h"

#include <gtest/gtest.h>

namespace tocd {
namespace {

TEST(ScreenNames, AcceptLettersDigitsAndBlanksWithinLength) {
    const std::pair<const char*, bool> cases[] = {
        {"alice", true},   {"Joe Smith", true},  {"a1b", true},   {"abcdefghijklmnop", true},
        {"ab", false},     {"a b", false},       {"1abc", false}, {"abcdefghijklmnopq", false},
        {"al:ice", false}, {"al\xe9ice", false}, {"", false},     {" 123", false}};
    for (const auto& [name, valid] : cases)
        EXPECT_EQ(isValidScreenName(name), valid) << name;
}

TEST(Fields, RefuseWhatWouldSplitAServerMessage) {
    EXPECT_TRUE(isSafeField("Friends & \xe9tudes"));
    for (const std::string& bad : {std::string(), std::string("a:b"), std::string("a\nb"),
                                   std::string("a\0b", 3), std::string(65, 'x')})
        EXPECT_FALSE(isSafeField(bad)) << bad;
}

TEST(BuddyText, GroupsBuddiesAliasesInOrder) {
    const auto render = [](const std::vector<BuddyEntry>& entries) {
        std::string out;
        for (const auto& e : entries)
            out += e.group + "/" + e.name + "/" + e.alias + ";";
        return out;
    };
    EXPECT_EQ(render(parseBuddyText("{g:Friends\nb:Joe Smith:Joey\nb:ann\r\ng:Work\nx:y\n}", "B")),
              "Friends//;Friends/Joe Smith/Joey;Friends/ann/;Work//;");
    EXPECT_EQ(render(parseBuddyText("b:bob", "Buddies")), "Buddies/bob/;");
}

TEST(Html, EscapesMarkupAndKeepsOtherBytes) {
    EXPECT_EQ(htmlEscape("<b a=\"1\">Tom & 'Jerry'</b>\xe9"),
              "&lt;b a=&quot;1&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/b&gt;\xe9");
    EXPECT_EQ(printable(std::string("a\0\\\n\xff", 5)), "a\\x00\\x5c\\x0a\\xff");
}

}  // namespace
}  // namespace tocd

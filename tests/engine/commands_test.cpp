// The exact line of the commands whose arguments are escaped or taken verbatim, and how chat
// rooms are selected. Every method's plain line is checked through the platform and command-line
// layers, and that every argument splits back whole in tests/robustness.
#include <functional>
#include <stdexcept>

#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class CommandsTest : public EngineTest {
protected:
    void SetUp() override { signOn(); }

    struct Case {
        const char* what;
        std::function<void(Ondrel&)> call;
        std::string line;  // empty: nothing may be sent
    };
    void expectLines(const std::vector<Case>& cases) {
        for (const auto& c : cases) {
            c.call(*control);
            EXPECT_EQ(onlyLine(), c.line) << c.what;
        }
    }
};

TEST_F(CommandsTest, ChatCommandsSelectTheRoomByIdOrByExactName) {
    serverSays("CHAT_JOIN:77:Lobby");
    serverSays("CHAT_JOIN:78:Lobby");
    serverSays("CHAT_JOIN:9:Other");
    expectLines({
        {"join keeps parentheses, escapes quotes",
         [](Ondrel& o) { o.JoinChat("a (\"b\") \\", -1); },
         R"-(toc_chat_join "-1" "a (\"b\") \\")-"},
        {"leave by name, lowest slot", [](Ondrel& o) { o.LeaveChat("Lobby"); },
         R"-(toc_chat_leave "77")-"},
        {"case counts", [](Ondrel& o) { o.LeaveChat("lobby"); }, ""},
        {"blanks count", [](Ondrel& o) { o.LeaveChat("Lobby "); }, ""},
        {"send by name", [](Ondrel& o) { o.SendChat("Other", "a {b}"); },
         R"-(toc_chat_send "9" "a \{b\}")-"},
        {"invite", [](Ondrel& o) { o.InviteUsers("", "Come (now)", "Joe Smith", 9); },
         R"-(toc_chat_invite "9" "Come \(now\)" "joesmith")-"},
        {"invite unknown room", [](Ondrel& o) { o.InviteUsers("Nope", "x", "bob"); }, ""},
    });
}

TEST_F(CommandsTest, MessageProfileAccountAndBuddyCommandsEscapeOnlyFreeText) {
    expectLines({
        {"message: all nine escaped, the rest kept",
         [](Ondrel& o) { o.SendIM("J\tO", "a\\b $5 \"q\" [x] {y} <b>&amp;'#%\n", false); },
         "toc_send_im \"j\to\" \"a\\\\b \\$5 \\\"q\\\" \\[x\\] \\{y\\} <b>&amp;'#%\n\""},
        {"profile", [](Ondrel& o) { o.SetProfile("<b>me</b> $"); },
         R"-(toc_set_info "<b>me</b> \$")-"},
        {"idle largest", [](Ondrel& o) { o.SetIdleTime(35791394); },
         R"-(toc_set_idle "2147483640")-"},
        {"caps verbatim, quote escaped", [](Ondrel& o) { o.SetCapability("a\"b(c)"); },
         R"-(toc_set_caps "a\"b(c)")-"},
        {"nickname verbatim", [](Ondrel& o) { o.FormatUserName("Joe (x)\\"); },
         R"-(toc_format_nickname "Joe (x)\\")-"},
        {"password", [](Ondrel& o) { o.ChangePassword("o(d", "n$w"); },
         R"-(toc_change_passwd "o\(d" "n\$w")-"},
        {"add buddy escapes", [](Ondrel& o) { o.AddBuddy("a{b}", "Joe (x)"); },
         "toc2_new_buddies \"g:a\\{b\\}\nb:Joe \\(x\\)\n\""},
        {"remove buddy reversed and verbatim",
         [](Ondrel& o) { o.RemoveBuddy("My [x]", "Joe (x)"); },
         R"-(toc2_remove_buddy "Joe (x)" "My \[x\]")-"},
    });
    EXPECT_THROW(control->SetIdleTime(35791395), std::overflow_error);
    EXPECT_THROW(control->SetIdleTime(INT32_MIN), std::overflow_error);
    EXPECT_TRUE(net.sent.empty());
}

TEST(RemoveHtmlTest, RemovesEverySpanFromALessThanToTheNextGreaterThan) {
    const std::pair<std::string, std::string> cases[] = {
        {"<b>hi</b>", "hi"}, {"<>", ""}, {"<a>b<c", "b<c"}, {"1<2>3<4>5\n", "135\n"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Ondrel::RemoveHtml(in), out) << in;
}

}  // namespace
}  // namespace lantry::testing

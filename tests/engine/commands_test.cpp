// The exact line each kind of command sends: which arguments are normalised, escaped or taken
// verbatim, and how chat rooms are selected. (That every argument splits back whole whatever it
// holds is checked for every method in tests/robustness.)
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

TEST_F(CommandsTest, InstantMessages) {
    expectLines({
        {"auto", [](Ondrel& o) { o.SendIM("Joe Smith", "hi (there)", true); },
         R"-(toc_send_im "joesmith" "hi \(there\)" auto)-"},
        {"all nine escaped, the rest kept",
         [](Ondrel& o) { o.SendIM("J\tO", "a\\b $5 \"q\" [x] {y} <b>&amp;'#%\n", false); },
         "toc_send_im \"j\to\" \"a\\\\b \\$5 \\\"q\\\" \\[x\\] \\{y\\} <b>&amp;'#%\n\""},
    });
}

TEST_F(CommandsTest, ChatCommandsSelectTheRoomByIdOrByExactName) {
    serverSays("CHAT_JOIN:77:Lobby");
    serverSays("CHAT_JOIN:78:Lobby");
    serverSays("CHAT_JOIN:9:Other");
    expectLines({
        {"join trims", [](Ondrel& o) { o.JoinChat("  Lobby ", 4); },
         R"-(toc_chat_join "4" "Lobby")-"},
        {"join keeps parentheses, escapes quotes",
         [](Ondrel& o) { o.JoinChat("a (\"b\") \\", -1); },
         R"-(toc_chat_join "-1" "a (\"b\") \\")-"},
        {"leave by id", [](Ondrel& o) { o.LeaveChat("Other", 12345); },
         R"-(toc_chat_leave "12345")-"},
        {"leave by name, lowest slot", [](Ondrel& o) { o.LeaveChat("Lobby"); },
         R"-(toc_chat_leave "77")-"},
        {"case counts", [](Ondrel& o) { o.LeaveChat("lobby"); }, ""},
        {"blanks count", [](Ondrel& o) { o.LeaveChat("Lobby "); }, ""},
        {"send by name", [](Ondrel& o) { o.SendChat("Other", "a {b}"); },
         R"-(toc_chat_send "9" "a \{b\}")-"},
        {"invite", [](Ondrel& o) { o.InviteUsers("", "Come (now)", "Joe Smith", 9); },
         R"-(toc_chat_invite "9" "Come \(now\)" "joesmith")-"},
        {"invite unknown room", [](Ondrel& o) { o.InviteUsers("Nope", "x", "bob"); }, ""},
        {"accept", [](Ondrel& o) { o.AcceptChatInvite(0); }, R"-(toc_chat_accept "0")-"},
    });
    EXPECT_EQ(control->GetChatName(77), "Lobby");
    EXPECT_EQ(control->GetChatName(1), "[No Chat Name Found for ID]");
}

TEST_F(CommandsTest, BuddyPrivacyProfileAndAccountCommands) {
    expectLines({
        {"get info", [](Ondrel& o) { o.GetProfile("Joe Smith"); }, R"-(toc_get_info "joesmith")-"},
        {"profile", [](Ondrel& o) { o.SetProfile("<b>me</b> $"); },
         R"-(toc_set_info "<b>me</b> \$")-"},
        {"idle", [](Ondrel& o) { o.SetIdleTime(-1); }, R"-(toc_set_idle "-60")-"},
        {"idle largest", [](Ondrel& o) { o.SetIdleTime(35791394); },
         R"-(toc_set_idle "2147483640")-"},
        {"caps verbatim, quote escaped", [](Ondrel& o) { o.SetCapability("a\"b(c)"); },
         R"-(toc_set_caps "a\"b(c)")-"},
        {"nickname verbatim", [](Ondrel& o) { o.FormatUserName("Joe (x)\\"); },
         R"-(toc_format_nickname "Joe (x)\\")-"},
        {"password", [](Ondrel& o) { o.ChangePassword("o(d", "n$w"); },
         R"-(toc_change_passwd "o\(d" "n\$w")-"},
        {"warn anon", [](Ondrel& o) { o.WarnUser("Joe Smith", true); },
         R"-(toc_evil "joesmith" "anon")-"},
        {"add buddy escapes", [](Ondrel& o) { o.AddBuddy("a{b}", "Joe (x)"); },
         "toc2_new_buddies \"g:a\\{b\\}\nb:Joe \\(x\\)\n\""},
        {"remove buddy reversed and verbatim",
         [](Ondrel& o) { o.RemoveBuddy("My [x]", "Joe (x)"); },
         R"-(toc2_remove_buddy "Joe (x)" "My \[x\]")-"},
        {"add group", [](Ondrel& o) { o.AddGroup("My [x]"); }, R"-(toc2_new_group "My \[x\]")-"},
        {"block", [](Ondrel& o) { o.BlockUser("Joe Smith"); }, R"-(toc2_add_deny "joesmith")-"},
        {"privacy", [](Ondrel& o) { o.SetPrivacy(-1); }, "toc2_set_pdmode -1"},
    });
    EXPECT_THROW(control->SetIdleTime(35791395), std::overflow_error);
    EXPECT_THROW(control->SetIdleTime(INT32_MIN), std::overflow_error);
    EXPECT_TRUE(net.sent.empty());
}

TEST(RemoveHtmlTest, RemovesEverySpanFromALessThanToTheNextGreaterThan) {
    const std::pair<std::string, std::string> cases[] = {
        {"<b>hi</b>", "hi"}, {"a>b<c>d", "a>bd"}, {"<<a>>", ">"},
        {"<>", ""},          {"<a>b<c", "b<c"},   {"1<2>3<4>5\n", "135\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Ondrel::RemoveHtml(in), out) << in;
}

}  // namespace
}  // namespace lantry::testing

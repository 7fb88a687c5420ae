// Command lines where escaping, blanks or room selection are at stake; every method's plain line
// is checked byte for byte by the replay of the real server's recording, and its shape by the
// commands fuzz target.
#include <functional>
#include <stdexcept>

#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class CommandsTest : public EngineTest {
protected:
    void SetUp() override { signOn(); }
};

TEST_F(CommandsTest, LinesEscapeOnlyFreeTextAndSelectTheRoomByIdOrExactName) {
    serverSays("CHAT_JOIN:77:Lobby");
    serverSays("CHAT_JOIN:78:Lobby");
    serverSays("CHAT_JOIN:9:Other");
    const std::pair<std::function<void(Ondrel&)>, std::string> cases[] = {
        {[](Ondrel& o) { o.SendIM("J\tO", "a\\b $5 \"q\" [x] {y} <b>&amp;'#%\n", false); },
         "toc_send_im \"j\to\" \"a\\\\b \\$5 \\\"q\\\" \\[x\\] \\{y\\} <b>&amp;'#%\n\""},
        {[](Ondrel& o) { o.JoinChat(" a (\"b\") \\ ", -1); },
         R"-(toc_chat_join "-1" "a (\"b\") \\")-"},
        {[](Ondrel& o) { o.LeaveChat("Lobby"); }, R"-(toc_chat_leave "77")-"},
        {[](Ondrel& o) { o.LeaveChat("lobby"); }, ""},
        {[](Ondrel& o) { o.LeaveChat("Lobby "); }, ""},
        {[](Ondrel& o) { o.LeaveChat("nowhere", 12); }, R"-(toc_chat_leave "12")-"},
        {[](Ondrel& o) { o.InviteUsers("", "Come (now)", "Joe Smith", 9); },
         R"-(toc_chat_invite "9" "Come \(now\)" "joesmith")-"},
        {[](Ondrel& o) { o.InviteUsers("Nope", "x", "bob"); }, ""},
        {[](Ondrel& o) { o.SetIdleTime(35791394); }, R"-(toc_set_idle "2147483640")-"},
        {[](Ondrel& o) { o.SetCapability("a\"b(c)"); }, R"-(toc_set_caps "a\"b(c)")-"},
        {[](Ondrel& o) { o.AddBuddy("a{b}", "Joe (x)"); },
         "toc2_new_buddies \"g:a\\{b\\}\nb:Joe \\(x\\)\n\""},
        {[](Ondrel& o) { o.RemoveBuddy("My [x]", "Joe (x)"); },
         R"-(toc2_remove_buddy "Joe (x)" "My \[x\]")-"},
    };
    for (const auto& [call, line] : cases) {
        call(*control);
        EXPECT_EQ(onlyLine(), line);
    }
    EXPECT_THROW(control->SetIdleTime(35791395), std::overflow_error);
    EXPECT_THROW(control->SetIdleTime(INT32_MIN), std::overflow_error);
    EXPECT_TRUE(net.sent.empty());
}

// Every argument that carries free text, each of the nine characters the server unescapes: a
// member that skips the escaping, or escapes as a name would, loses a character on the way.
TEST_F(CommandsTest, EveryFreeTextArgumentEscapesEachCharacterTheServerUnescapes) {
    serverSays("CHAT_JOIN:5:Room");
    const std::pair<const char*, std::function<void(Ondrel&, const std::string&)>> members[] = {
        {"SendIM", [](Ondrel& o, const std::string& t) { o.SendIM("bob", t, false); }},
        {"SendChat", [](Ondrel& o, const std::string& t) { o.SendChat("Room", t); }},
        {"InviteUsers", [](Ondrel& o, const std::string& t) { o.InviteUsers("Room", t, "bob"); }},
        {"SetProfile", [](Ondrel& o, const std::string& t) { o.SetProfile(t); }},
        {"SetAwayMessage", [](Ondrel& o, const std::string& t) { o.SetAwayMessage(t); }},
        {"ChangePassword old", [](Ondrel& o, const std::string& t) { o.ChangePassword(t, "n"); }},
        {"ChangePassword new", [](Ondrel& o, const std::string& t) { o.ChangePassword("o", t); }},
        {"AddBuddy group", [](Ondrel& o, const std::string& t) { o.AddBuddy(t, "bob"); }},
        {"AddBuddy buddy", [](Ondrel& o, const std::string& t) { o.AddBuddy("G", t); }},
        {"RemoveBuddy group", [](Ondrel& o, const std::string& t) { o.RemoveBuddy(t, "bob"); }},
        {"AddGroup", [](Ondrel& o, const std::string& t) { o.AddGroup(t); }},
        {"RemoveGroup", [](Ondrel& o, const std::string& t) { o.RemoveGroup(t); }},
    };
    for (const auto& [member, call] : members) {
        for (const char c : std::string("\\$\"()[]{}")) {
            call(*control, std::string("<") + c + ">");
            EXPECT_NE(onlyLine().find(std::string("<\\") + c + ">"), std::string::npos)
                << member << " " << c;
        }
    }
}

}  // namespace
}  // namespace lantry::testing

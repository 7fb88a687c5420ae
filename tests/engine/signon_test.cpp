// Login, the answer to the server's sign-on frame, LogOff, and the state they reset.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class SignOnTest : public EngineTest {
protected:
    // The connection opens and the server sends its sign-on frame; `sent` holds the answer.
    void serverSignsOn() {
        sock->connectNow();
        net.sent.clear();
        sock->arrive(serverFrame(1, std::string("\0\0\0\1", 4)));
    }
};

TEST_F(SignOnTest, AnswersTheServerSignOnFrameWithItsOwnAndTheLoginLine) {
    std::string auth = "  ";
    control->Login("A B", "password", "  toc.example ", 1234, auth);
    EXPECT_EQ(net.connects, (std::vector<std::string>{"toc.example:1234"}));
    EXPECT_EQ(auth, "login.oscar.aol.com");
    serverSignsOn();
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload, std::string("\0\0\0\1\0\1\0\2ab", 10));
    EXPECT_EQ(frames[1].payload,
              "toc2_login login.oscar.aol.com 1234 ab 0x2408105c23001130 English  "
              "\"Ondrel 2.0\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 58203174");

    // The server repeats its sign-on frame: seen, never answered again on this connection.
    net.sent.clear();
    sink.recordPackets = true;
    const std::string again = serverFrame(1, std::string("\0\0\0\1", 4), 1);
    sock->arrive(again + again);
    EXPECT_TRUE(net.sent.empty()) << "the password went out again";
    EXPECT_EQ(takeEvents(),
              (Events{"IncomingPacket(" + again + ")", "IncomingPacket(" + again + ")"}));
    sink.recordPackets = false;

    // Login again: a named authorizer is trimmed, the caller's copy not; old rooms are forgotten.
    sock->arrive(dataFrame("CHAT_JOIN:5:Lobby"));
    auth = " auth.example ";
    control->Login("ab", "", "toc.example", 5190, auth);
    EXPECT_EQ(auth, " auth.example ");
    EXPECT_EQ(control->GetChatName(5), "[No Chat Name Found for ID]");
    EXPECT_EQ(control->LastChatID(), 5);
    serverSignsOn();
    EXPECT_TRUE(sentLines().at(0).starts_with("toc2_login auth.example 5190 ab 0x English"));
}

TEST_F(SignOnTest, LogOffForgetsTheSessionAndItsHandlerMayLogOffUntoldAndSignOnAgain) {
    connect("Joe Smith");
    serverSays("CHAT_JOIN:5:Lobby");
    control->LastChatID(99);
    sink.events.clear();
    sink.after = [&](const std::string& name) {
        if (name == "LoggedOut") {
            sink.after = nullptr;
            control->LogOff();
            control->Login("second", "pw", "toc.example", 7000);
        }
    };
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut(joesmith)"}));
    EXPECT_EQ(control->LastChatID(), 0);
    EXPECT_EQ(control->GetChatName(5), "[No Chat Name Found for ID]");
    serverSignsOn();
    EXPECT_TRUE(sentLines().at(0).starts_with("toc2_login login.oscar.aol.com 7000 second 0x24"));
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut(second)"})) << "the next LogOff is told again";
    EXPECT_NE(net.state, Socket::StateConnected);
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut()"}));
}

}  // namespace
}  // namespace lantry::testing

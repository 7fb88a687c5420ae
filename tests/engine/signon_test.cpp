// Login, the answer to the server's sign-on frame, LogOff, and the state they reset.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using SignOnTest = EngineTest;

const std::string kServerSignOn = serverFrame(1, std::string("\0\0\0\1", 4));

TEST_F(SignOnTest, AnswersTheServerSignOnFrameWithItsOwnAndTheLoginLine) {
    std::string auth = "  ";
    control->Login("A B", "password", "  toc.example ", 1234, auth);
    EXPECT_EQ(net.connects, (std::vector<std::string>{"toc.example:1234"}));
    EXPECT_EQ(auth, "login.oscar.aol.com");
    sock->connectNow();
    net.sent.clear();
    sock->arrive(kServerSignOn);

    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, 1);
    EXPECT_EQ(frames[0].payload, std::string("\0\0\0\1\0\1\0\2ab", 10));
    EXPECT_EQ(frames[1].type, 2);
    EXPECT_EQ(frames[1].sequence, frames[0].sequence + 1);
    EXPECT_EQ(frames[1].payload,
              "toc2_login login.oscar.aol.com 1234 ab 0x2408105c23001130 English  "
              "\"Ondrel 2.0\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 58203174");
}

TEST_F(SignOnTest, AuthorizerHostIsTrimmedAndTheCallersVariableKept) {
    std::string auth = " auth.example ";
    control->Login("ab", "", "toc.example", 5190, auth);
    EXPECT_EQ(auth, " auth.example ");
    sock->connectNow();
    net.sent.clear();
    sock->arrive(kServerSignOn);
    EXPECT_TRUE(startsWith(sentLines().at(0), "toc2_login auth.example 5190 ab 0x English"));
}

TEST_F(SignOnTest, PasswordRoastingRepeatsTheKeyEverySevenCharacters) {
    struct Case {
        std::string password, roasted;
    };
    // "Tic/Toc" itself roasts to zeros; the eighth character meets the first key entry again.
    const Case cases[] = {{"", "0x"},
                          {"T", "0x00"},
                          {"Tic/TocT", "0x0000000000000000"},
                          {"password", "0x2408105c23001130"},
                          {std::string("\xff\x00", 2), "0xab69"}};
    for (const auto& c : cases) {
        control->Login("ab", c.password, "h", 1);
        sock->connectNow();
        net.sent.clear();
        sock->arrive(kServerSignOn);
        const auto line = sentLines().at(0);
        EXPECT_EQ(line.substr(line.find(" ab ") + 4, c.roasted.size() + 1), c.roasted + " ")
            << line;
    }
}

TEST_F(SignOnTest, EverySignOnFrameIsAnswered) {
    connect("ab");
    sock->arrive(kServerSignOn + kServerSignOn);
    EXPECT_EQ(parseFrames(net.sent).size(), 4u);
}

TEST_F(SignOnTest, LoginAgainStartsOverWithoutLoggedOut) {
    connect();
    serverSays("CHAT_JOIN:5:Lobby");
    control->SendPacket(2, "x");
    sink.events.clear();
    control->Login("Next", "pw", "toc.example", 5190);
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(net.connects.size(), 2u);
    EXPECT_EQ(control->GetChatName(5), "[No Chat Name Found for ID]");
    EXPECT_EQ(control->LastChatID(), 5);
    sock->connectNow();
    net.sent.clear();
    sock->arrive(kServerSignOn);
    EXPECT_EQ(parseFrames(net.sent).at(0).sequence, 1);  // numbering runs on
}

TEST_F(SignOnTest, LogOffReportsTheNameThenForgetsEverything) {
    connect("Joe Smith");
    serverSays("CHAT_JOIN:5:Lobby");
    control->LastChatID(99);
    sink.events.clear();
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut(joesmith)"}));
    EXPECT_NE(net.state, Socket::StateConnected);
    EXPECT_EQ(control->LastChatID(), 0);
    EXPECT_EQ(control->GetChatName(5), "[No Chat Name Found for ID]");
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut()"}));
    EXPECT_TRUE(net.sent.empty());
}

TEST_F(SignOnTest, LoggedOutHandlerMaySignOnAgain) {
    connect("first");
    sink.after = [&](const std::string& name) {
        if (name == "LoggedOut") {
            sink.after = nullptr;
            control->Login("second", "pw", "toc.example", 7000);
        }
    };
    control->LogOff();
    sock->connectNow();
    net.sent.clear();
    sock->arrive(kServerSignOn);
    EXPECT_TRUE(startsWith(sentLines().at(0), "toc2_login login.oscar.aol.com 7000 second 0x24"));
}

TEST_F(SignOnTest, LogOffFromTheLoggedOutHandlerIsNotToldAgain) {
    connect("first");
    sink.after = [&](const std::string& name) {
        if (name == "LoggedOut")
            control->LogOff();
    };
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut(first)"}));
    control->LogOff();
    EXPECT_EQ(takeEvents(), (Events{"LoggedOut()"})) << "the next LogOff is told again";
}

TEST_F(SignOnTest, StaleBytesOfAnOldConnectionNeverReachTheNewOne) {
    connect();
    const std::string frame = dataFrame("NICK:stale");
    sock->arrive(frame.substr(0, 7));    // half a frame left behind
    serverSays("CONFIG2:b:oldbuddy\n");  // half a configuration left behind
    control->Login("other", "pw", "toc.example", 5190);
    sock->connectNow();
    sock->arrive(dataFrame("NICK:fresh") + dataFrame("CONFIG2:b:new\ndone:\n"));
    EXPECT_EQ(takeEvents(),
              (Events{"ScreennameFormat(fresh)", "LoggedIn(other,[new],[],[],[],,0)"}));
}

}  // namespace
}  // namespace lantry::testing

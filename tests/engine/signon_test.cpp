// Login, the answer to the server's sign-on frame, LogOff, the state they reset, and the wait
// before signing on again.
#include <random>
#include <utility>

#include "engine_fixture.h"
#include "ondrel/reconnect_backoff.h"

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

// The wait before signing on again: its bound doubles to a minute and stays there, and the
// wait covers the whole of the bound (a wait fixed at the bound, or at half of it, brings
// clients cut off together back together).
TEST(ReconnectBackoff, BoundsDoubleToAMinuteAndTheWaitSpansTheWholeBound) {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    const std::vector<std::pair<int, seconds>> bounds{
        {-1, seconds(1)}, {0, seconds(1)},  {1, seconds(2)},    {5, seconds(32)},
        {6, seconds(60)}, {7, seconds(60)}, {1000, seconds(60)}};
    for (const auto& [failed, bound] : bounds)
        EXPECT_EQ(reconnectPause(failed), bound) << failed;

    EXPECT_EQ(reconnectWait(seconds(4), 0.0), milliseconds(0));
    EXPECT_EQ(reconnectWait(seconds(4), 0.5), milliseconds(2000));
    EXPECT_EQ(reconnectWait(seconds(4), 0.99999999), milliseconds(3999));
    EXPECT_EQ(reconnectWait(seconds(4), 1.0), milliseconds(3999));
    EXPECT_EQ(reconnectWait(seconds(4), -3.0), milliseconds(0));
    EXPECT_EQ(reconnectWait(seconds(0), 0.5), milliseconds(0));
    // A thousand clients drawing at once fill every tenth of the minute.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> tenths(10);
    for (int client = 0; client < 1000; ++client)
        ++tenths.at(std::size_t(reconnectWait(seconds(60), unit(random)).count() / 6000));
    for (int count : tenths)
        EXPECT_GT(count, 60);
}

}  // namespace
}  // namespace lantry::testing

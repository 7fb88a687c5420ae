// Framing in both directions, keep-alive, unknown frame types, and what handlers may do from
// inside events. Socket failures and other re-entry are in tests/robustness and fuzz/.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class TransportTest : public EngineTest {
protected:
    void SetUp() override { connect(); }
};

TEST_F(TransportTest, StreamSplitAtEveryByteDeliversTheSameFrames) {
    sink.recordPackets = true;
    const std::string stream = serverFrame(3, "") + dataFrame("NICK:a:b", 7) +
                               serverFrame(4, std::string("\0x\xff", 3), 0xFFFF);
    sock->arrive(stream);
    const auto whole = takeEvents();
    ASSERT_EQ(whole.size(), 4u);  // three packets and the NICK

    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        sock->arrive(stream.substr(0, cut));
        sock->arrive(stream.substr(cut));
        EXPECT_EQ(takeEvents(), whole) << "cut at " << cut;
    }
    for (const char byte : stream)
        sock->arrive(std::string(1, byte));
    EXPECT_EQ(takeEvents(), whole) << "one byte at a time";
}

TEST_F(TransportTest, OutgoingFramesAreNumberedModulo65536AndOnlyWhenSent) {
    control->SendPacket(1, std::string(65535, 'x'));  // the largest frame that is no command
    EXPECT_EQ(net.sent.size(), 6u + 65535u);
    EXPECT_EQ(net.sent.substr(0, 6), std::string("*\x01\x00\x00\xff\xff", 6));
    net.sent.clear();
    control->SendPacket(1, std::string(65536, 'x'));
    EXPECT_TRUE(net.sent.empty());
    EXPECT_EQ(takeEvents(),
              (Events{"Error(0,Frame not sent: its 65536 bytes exceed the 65535-byte limit of "
                      "one frame)"}));
    control->SendPacket(256, "no byte carries this type");  // numbered, nothing sent
    net.state = 0;
    control->SendIM("bob", "dropped while not connected", false);
    net.state = Socket::StateConnected;
    for (int i = 2; i < 65536; ++i)
        control->SendPacket(5, "");
    net.sent.clear();
    control->SendPacket(2, "next");
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].sequence, 0) << "refused and unconnected frames take no number";
}

// Servers end the connection on a command over 2048 bytes with its NUL: such a command stays
// here, with the reason, and the session goes on with the next number.
TEST_F(TransportTest, CommandsOverTheServersLimitAreRefusedAndTheSessionGoesOn) {
    const int closes = net.closes;
    control->SendPacket(2, std::string(Ondrel::kMaxCommandPayload - 1, 'x'));
    const auto largest = parseFrames(net.sent);
    ASSERT_EQ(largest.size(), 1u);
    EXPECT_EQ(largest[0].payload.size() + 1, Ondrel::kMaxCommandPayload);
    net.sent.clear();

    const std::string message(2072, 'x');  // the line is 2100 bytes with its NUL
    control->SendIM("benrec2953", message, false);
    control->SendChat("", message, 1);
    control->SetProfile(message);
    control->SendPacket(2, std::string(Ondrel::kMaxCommandPayload, 'x'));
    EXPECT_TRUE(net.sent.empty());
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0],
              "Error(0,Command not sent: its 2100 bytes exceed the 2048-byte limit of one "
              "command)");
    for (const auto& e : events)
        EXPECT_TRUE(e.starts_with("Error(0,Command not sent: its 2")) << e;
    EXPECT_EQ(net.state, Socket::StateConnected);
    EXPECT_EQ(net.closes, closes);

    control->SendIM("benrec2953", "short", false);
    const auto next = parseFrames(net.sent);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].sequence, largest[0].sequence + 1) << "a refused command took a number";
}

TEST_F(TransportTest, KeepAlivesAreAnsweredAndUnknownFrameTypesReported) {
    sock->arrive(serverFrame(5, "") + serverFrame(3, "x") + serverFrame(4, "") +
                 serverFrame(6, "NICK:x"));
    EXPECT_EQ(takeEvents(), (Events{"Error(0,Unknown Channel Detected: \x06)"}));
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 5);
    EXPECT_EQ(frames[0].payload, "");
}

TEST_F(TransportTest, LogOffInsideAnEventStillDeliversTheFramesAlreadyRead) {
    sink.after = [&](const std::string& name) {
        if (name == "ScreennameFormat") {
            sink.after = nullptr;
            control->LogOff();
            control->SendIM("bob", "too late", false);
        }
    };
    sock->arrive(dataFrame("NICK:first") + dataFrame("NICK:second"));
    EXPECT_EQ(takeEvents(), (Events{"ScreennameFormat(first)", "LoggedOut(someone)",
                                    "ScreennameFormat(second)"}));
    EXPECT_TRUE(sentLines().empty());
}

// The messages of one read share the control's text buffer: each handler still gets its own
// text whole, whatever an earlier handler did to its by-reference argument, and a handler that
// destroys the control can go on reading what it was given.
TEST(MessageTextTest, EachHandlerOfOneReadGetsItsOwnWholeText) {
    struct Sink : __Ondrel {
        std::vector<std::string> seen;
        std::unique_ptr<Ondrel> control;
        void InstantMessage(std::string& user, std::string& text, bool&, std::string&) override {
            seen.push_back(user + ": " + text);
            text.assign(200, '#');
        }
        void ChatMessage(std::int32_t&, std::string& user, std::string& text) override {
            if (user == "last")
                control.reset();
            seen.push_back(user + ": " + text);
            text.clear();
            text.shrink_to_fit();
        }
    } sink;
    FakeSocket::Record net;
    auto socket = std::make_unique<FakeSocket>(net);
    FakeSocket* sock = socket.get();
    sink.control = std::make_unique<Ondrel>(std::move(socket), &sink);
    sink.control->Login("me", "pw", "toc.example", 5190);
    sock->connectNow();

    const std::string longText(300, 'x');
    sock->arrive(dataFrame("IM_IN_ENC2:ann:F:F:T: O :F:L:en:" + longText) +
                 dataFrame("IM_IN_ENC2:bob:F:F:T: O :F:L:en:short") +
                 dataFrame("CHAT_IN_ENC:7:cy:F:A:en:room text that is long enough to allocate") +
                 dataFrame("IM_IN_ENC2:dee:F:F:T: O :F:L:en:") +
                 dataFrame("CHAT_IN_ENC:7:last:F:A:en:read after the control is gone, twice over") +
                 dataFrame("IM_IN_ENC2:never:F:F:T: O :F:L:en:x"));
    EXPECT_EQ(sink.seen, (Events{"ann: " + longText, "bob: short",
                                 "cy: room text that is long enough to allocate",
                                 "dee: ", "last: read after the control is gone, twice over"}));
    EXPECT_FALSE(net.alive);
}

}  // namespace
}  // namespace lantry::testing

// Framing in both directions, keep-alive, unknown frame types, socket failures, and what
// handlers may do from inside events.
#include <stdexcept>

#include "engine_fixture.h"

namespace lantry::testing {
namespace {

class TransportTest : public EngineTest {
protected:
    void SetUp() override {
        connect();
        sink.recordPackets = true;
    }
};

TEST_F(TransportTest, StreamSplitAtEveryByteDeliversTheSameFrames) {
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

TEST_F(TransportTest, FrameIsDeliveredWhenItsLastByteArrives) {
    const std::string first = dataFrame("NICK:one");
    const std::string second = dataFrame("NICK:two");
    sock->arrive(first + second.substr(0, 3));
    EXPECT_EQ(takeEvents(), (Events{"IncomingPacket(" + first + ")", "ScreennameFormat(one)"}));
    sock->arrive(second.substr(3, second.size() - 4));
    EXPECT_TRUE(takeEvents().empty());
    sock->arrive(second.substr(second.size() - 1));
    EXPECT_EQ(takeEvents(), (Events{"IncomingPacket(" + second + ")", "ScreennameFormat(two)"}));
}

TEST_F(TransportTest, OutgoingFramesAreExactAndNumberedFromZero) {
    control->SendPacket(2, "toc_init_done");
    control->SendPacket(5, "");
    const std::string expected = std::string("*\x02\x00\x00\x00\x0e", 6) + "toc_init_done" +
                                 std::string(1, '\0') + std::string("*\x05\x00\x01\x00\x00", 6);
    EXPECT_EQ(net.sent, expected);
}

TEST_F(TransportTest, SequenceWrapsAfter65535) {
    for (int i = 0; i < 65536; ++i)
        control->SendPacket(5, "");
    net.sent.clear();
    control->SendPacket(5, "");
    control->SendPacket(5, "");
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].sequence, 0);
    EXPECT_EQ(frames[1].sequence, 1);
}

TEST_F(TransportTest, NothingIsSentOrNumberedWhileNotConnected) {
    control->SendPacket(2, "first");
    net.state = 0;
    control->SendPacket(2, "dropped");
    control->SendIM("bob", "dropped too", false);
    net.state = Socket::StateConnected;
    control->SendPacket(2, "second");
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].payload, "second");
    EXPECT_EQ(frames[1].sequence, 1);
}

TEST_F(TransportTest, OversizedCommandIsRefusedWithoutUsingASequenceNumber) {
    control->SendPacket(2, std::string(65534, 'x'));  // 65535 with its NUL: the largest frame
    ASSERT_EQ(parseFrames(net.sent).size(), 1u);
    EXPECT_EQ(net.sent.substr(4, 2), "\xff\xff");
    net.sent.clear();

    control->SendIM("bob", std::string(70000, 'y'), false);
    EXPECT_TRUE(net.sent.empty());
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind("Error(0,", 0), 0u);
    EXPECT_NE(events[0].find("70021 bytes"), std::string::npos) << events[0];

    control->SendPacket(2, "next");
    EXPECT_EQ(parseFrames(net.sent).at(0).sequence, 1);
}

TEST_F(TransportTest, FrameTypeOutsideAByteSendsNothingButUsesANumber) {
    control->SendPacket(256, "x");
    control->SendPacket(-1, "x");
    EXPECT_TRUE(net.sent.empty());
    control->SendPacket(2, "after");
    EXPECT_EQ(parseFrames(net.sent).at(0).sequence, 2);
}

TEST_F(TransportTest, FrameTypesAreActedOn) {
    const auto keepAlive = serverFrame(5, "");
    const auto error = serverFrame(3, "x");
    const auto signOff = serverFrame(4, "");
    const auto unknown = serverFrame(6, "NICK:x");
    sock->arrive(keepAlive + error + signOff + unknown);
    EXPECT_EQ(takeEvents(),
              (Events{"IncomingPacket(" + keepAlive + ")", "IncomingPacket(" + error + ")",
                      "IncomingPacket(" + signOff + ")", "IncomingPacket(" + unknown + ")",
                      "Error(0,Unknown Channel Detected: \x06)"}));
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 5);
    EXPECT_EQ(frames[0].payload, "");
}

TEST_F(TransportTest, SocketErrorIsReportedAndClosesTheSocket) {
    serverSays("CHAT_JOIN:12:Lobby");
    sink.events.clear();
    const int closesBefore = net.closes;
    sock->fail(10054, "Connection reset by peer");
    EXPECT_EQ(takeEvents(), (Events{"WinsockError(Connection reset by peer)"}));
    EXPECT_EQ(net.closes, closesBefore + 1);
    EXPECT_EQ(control->LastChatID(), 12);
    EXPECT_EQ(control->GetChatName(12), "Lobby");
}

TEST_F(TransportTest, ServerClosingTheConnectionIsReported) {
    sock->peerClose();
    const auto events = takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], "WinsockError(The server closed the connection)");
    EXPECT_NE(net.state, Socket::StateConnected);
}

TEST_F(TransportTest, LogOffInsideAnEventStillDeliversTheFramesAlreadyRead) {
    sink.recordPackets = false;
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

TEST_F(TransportTest, LoginInsideAnEventDropsTheRestOfTheOldConnection) {
    sink.recordPackets = false;
    sink.after = [&](const std::string& name) {
        if (name == "ScreennameFormat") {
            sink.after = nullptr;
            control->Login("other", "pw", "toc.example", 5190);
        }
    };
    // The rest of the read: a whole frame and half of another.
    const std::string half = dataFrame("CONFIG2:m:1\n");
    sock->arrive(dataFrame("NICK:first") + dataFrame("NICK:stale") + half.substr(0, 5));
    EXPECT_EQ(takeEvents(), (Events{"ScreennameFormat(first)"}));

    sock->connectNow();
    sock->arrive(dataFrame("NICK:fresh"));
    EXPECT_EQ(takeEvents(), (Events{"ScreennameFormat(fresh)"}));
}

TEST_F(TransportTest, DestroyingTheControlInsideAnEventStopsEverything) {
    sink.recordPackets = false;
    sink.after = [&](const std::string&) {
        sink.after = nullptr;
        control.reset();
    };
    sock->arrive(dataFrame("CHAT_UPDATE_BUDDY:1:T:a:b:c") + dataFrame("NICK:never"));
    EXPECT_EQ(takeEvents(), (Events{"ChatUserUpdate(a,true,1)"}));
    EXPECT_FALSE(net.alive);
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

TEST_F(TransportTest, AFailingHandlerDoesNotBreakTheReceivePath) {
    sink.recordPackets = false;
    sink.after = [&](const std::string& name) {
        if (name == "ScreennameFormat")
            throw std::runtime_error("host bug");
    };
    sock->arrive(dataFrame("NICK:a") + dataFrame("NICK:b"));
    EXPECT_EQ(takeEvents(), (Events{"ScreennameFormat(a)", "ScreennameFormat(b)"}));
}

}  // namespace
}  // namespace lantry::testing

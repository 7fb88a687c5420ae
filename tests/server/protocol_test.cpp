// Raw FLAP clients: the framing, the limits, and bad input that must end only its own
// connection.
#include <QElapsedTimer>

#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

TEST(Protocol, CrLfGreetingSignOnFrameAndSequenceFromZero) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c;
    ASSERT_TRUE(c.connect(tocd.port(), "FLAPON\r\n\r\n"));
    const auto signOn = c.read();
    ASSERT_TRUE(signOn);
    EXPECT_EQ(signOn->type, 1);
    EXPECT_EQ(signOn->sequence, 0);
    EXPECT_EQ(signOn->payload, std::string("\0\0\0\1", 4));
    c.frame(1, std::string("\0\0\0\1\0\1\0\3bob", 11));
    c.command("toc_signon login.oscar.aol.com 5190 bob " + lantry::wire::roastPassword("pw") +
              " english \"x\"");
    const char* expected[] = {"SIGN_ON:TOC2.0", "NICK:bob",
                              "CONFIG2:g:Buddies\nb:echobot\nm:1\ndone:\n"};
    for (int i = 0; i < 3; ++i) {
        const auto f = c.read();
        ASSERT_TRUE(f);
        EXPECT_EQ(f->type, 2);
        EXPECT_EQ(f->sequence, i + 1);
        EXPECT_EQ(f->payload, expected[i]);  // no trailing NUL from the server
    }
}

TEST(Protocol, BadInputEndsOnlyThatConnection) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--signon-burst", "0"}));
    RawClient sender, receiver;
    ASSERT_TRUE(sender.signOn(tocd.port(), "sender", "pw"));
    ASSERT_TRUE(receiver.signOn(tocd.port(), "receiver", "pw"));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"command over 2048 bytes",
         [] {
             std::string out;
             lantry::wire::appendFrame(out, 2, 9,
                                       "toc_set_info \"" + std::string(2040, 'x') + "\"" + '\0');
             return out;
         }()},
        {"empty command", std::string("*\x02\x00\x09\x00\x01\x00", 7)},
        {"frame type 3", std::string("*\x03\x00\x09\x00\x00", 6)},
        {"frame type 9", std::string("*\x09\x00\x09\x00\x00", 6)},
        {"bytes outside a frame", std::string("hello world")},
        {"header claiming 65535 bytes", std::string("*\x02\x00\x09\xff\xff", 6)},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawClient bad;
        ASSERT_TRUE(bad.signOn(tocd.port(), "bad" + std::to_string(n), "pw"));
        bad.write(c.bytes);
        EXPECT_TRUE(bad.closedByServer());
        const std::string text = "message " + std::to_string(n++);
        sender.command("toc_send_im receiver \"" + text + "\"");
        EXPECT_EQ(receiver.readMessage("IM_IN_ENC2:"),
                  "IM_IN_ENC2:sender:F:F:T: O :F:L:en:" + text);
    }
    // Exactly 2048 bytes of command is still allowed; an unknown command is refused in words.
    RawClient edge;
    ASSERT_TRUE(edge.signOn(tocd.port(), "edge", "pw"));
    edge.command("toc_set_info \"" + std::string(2048 - 15, 'y') + "\"");
    edge.command("toc_no_such_command 1");
    EXPECT_EQ(edge.readMessage("ERROR"), "ERROR:911");
    edge.command("toc2_send_im_enc echobot F U en \"still here\"");
    EXPECT_EQ(edge.readMessage("IM_IN_ENC2"), "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:still here");
}

// Bytes after a NUL inside a command never reach a reply, where a client would cut the message
// short.
TEST(Protocol, CommandEndsAtItsFirstNul) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "nulls", "pw"));
    const std::string_view statusOfGhost("toc_get_status ghost\0\0\0", 23);
    c.frame(2, std::string(statusOfGhost));
    EXPECT_EQ(c.readMessage("ERROR"), "ERROR:901:ghost");
    const std::string_view cutIm("toc2_send_im_enc echobot F U en cut\0off\0", 40);
    c.frame(2, std::string(cutIm));
    EXPECT_EQ(c.readMessage("IM_IN_ENC2"), "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:cut");
}

TEST(Protocol, CommandRateLimitDropsTheExcess) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--rate-burst", "5", "--rate-per-second", "1"}));
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "fast", "pw", false));
    for (int i = 0; i < 10; ++i)
        c.command("toc_send_im echobot \"m" + std::to_string(i) + "\"");
    int echoes = 0, dropped = 0;
    while (auto f = c.read(1500)) {
        if (f->payload.rfind("IM_IN_ENC2", 0) == 0)
            ++echoes;
        if (f->payload == "ERROR:903")
            ++dropped;
    }
    EXPECT_EQ(echoes + dropped, 10);
    EXPECT_GE(dropped, 4);
    EXPECT_LE(echoes, 6);
}

TEST(Protocol, SignOnLimitPerAddress) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--signon-burst", "2", "--signon-per-minute", "1"}));
    RawClient a, b, c;
    ASSERT_TRUE(a.signOn(tocd.port(), "usera", "pw"));
    ASSERT_TRUE(b.signOn(tocd.port(), "userb", "pw"));
    EXPECT_FALSE(c.signOn(tocd.port(), "userc", "pw"));
    EXPECT_EQ(c.lastError, "ERROR:983");
    EXPECT_TRUE(c.closedByServer());
}

TEST(Protocol, KeepAliveFramesAndCleanShutdown) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--keepalive", "1"}));
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "quiet", "pw"));
    bool keptAlive = false;
    QElapsedTimer clock;
    clock.start();
    while (!keptAlive && clock.elapsed() < 4000) {
        const auto f = c.read(1000);
        keptAlive = f && f->type == 5 && f->payload.empty();
    }
    EXPECT_TRUE(keptAlive);
    EXPECT_EQ(tocd.stop(), 0);
    EXPECT_TRUE(c.closedByServer());
}

TEST(Protocol, UnfinishedSignOnIsDroppedAfterTheTimeout) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--login-timeout", "1"}));
    RawClient idle;
    ASSERT_TRUE(idle.connect(tocd.port(), "FLAP"));
    EXPECT_TRUE(idle.closedByServer());
}

}  // namespace
}  // namespace tocd::testing

// Raw FLAP clients: the framing and the limits. Bad input of every other kind is in
// tests/robustness (tocd_hostile_test.cpp).
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

TEST(Protocol, CommandsOf2048BytesAreServedLongerOnesEndTheConnection) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "edge"));
    c.command("toc_set_info \"" + std::string(2048 - 15, 'y') + "\"");
    c.command("toc_no_such_command 1");
    EXPECT_EQ(c.readMessage("ERROR"), "ERROR:911");
    c.frame(2, "toc_set_info \"" + std::string(2049 - 15, 'y') + "\"");  // no NUL: 2049 bytes
    EXPECT_TRUE(c.closedByServer());
}

// Bytes after a NUL inside a command never reach a reply, where a client would cut the message
// short.
TEST(Protocol, CommandEndsAtItsFirstNul) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "nulls"));
    c.frame(2, std::string("toc_get_status ghost\0\0\0", 23));
    EXPECT_EQ(c.readMessage("ERROR"), "ERROR:901:ghost");
    c.frame(2, std::string("toc2_send_im_enc echobot F U en cut\0off\0", 40));
    EXPECT_EQ(c.readMessage("IM_IN_ENC2"), "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:cut");
}

TEST(Protocol, CommandRateLimitDropsTheExcess) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--rate-burst", "5", "--rate-per-second", "1"}));
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "fast"));
    for (int i = 0; i < 10; ++i)
        c.command("toc_send_im echobot \"m" + std::to_string(i) + "\"");
    int echoes = 0, dropped = 0;
    while (auto f = c.read(1500)) {
        echoes += f->payload.rfind("IM_IN_ENC2", 0) == 0;
        dropped += f->payload == "ERROR:903";
    }
    EXPECT_EQ(echoes + dropped, 10);
    EXPECT_GE(dropped, 4);
}

TEST(Protocol, KeepAliveFramesAndCleanShutdown) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--keepalive", "1"}));
    RawClient c;
    ASSERT_TRUE(c.signOn(tocd.port(), "quiet"));
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

}  // namespace
}  // namespace tocd::testing

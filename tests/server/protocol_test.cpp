// The framing and the limits. Bad input of every other kind is in tests/robustness
// (tocd_hostile_test.cpp).
#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

// The frames themselves (sequence numbers from 0, the sign-on frame first, no NUL after a
// message) are checked on every input by fuzz/tocd_session_fuzz.cpp.
TEST(Protocol, CrLfGreetingAndTheOlderSignOnCommandAreAccepted) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c(tocd.port());
    c.send("FLAPON\r\n\r\n" + clientFrame(1, std::string("\0\0\0\1\0\1\0\3bob", 11), 0) +
           clientFrame(2,
                       "toc_signon login.oscar.aol.com 5190 bob " +
                           lantry::wire::roastPassword("pw") + " english \"x\"" + '\0',
                       1));
    EXPECT_EQ(c.message("CONFIG2:"), "CONFIG2:g:Buddies\nb:echobot\nm:1\ndone:\n");
}

// A command is cut at its first NUL, so the bytes after it never reach a reply where a client
// would cut the message short; 2048 bytes are served, 2049 end the connection.
TEST(Protocol, CommandsEndAtTheirFirstNulAndAt2048Bytes) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c(tocd.port());
    c.send(signOnBytes("edge") + clientFrame(2, std::string("toc_get_status ghost\0\0\0", 23), 3) +
           clientFrame(2, std::string("toc2_send_im_enc echobot F U en cut\0off\0", 40), 4) +
           clientFrame(2, "toc_set_info \"" + std::string(2048 - 15, 'y') + "\"" + '\0', 5) +
           clientFrame(2, std::string("toc_no_such_command 1", 22), 6));
    EXPECT_EQ(c.message("ERROR:901"), "ERROR:901:ghost");
    EXPECT_EQ(c.message("IM_IN_ENC2"), "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:cut");
    EXPECT_EQ(c.message("ERROR:911"), "ERROR:911");
    c.send(clientFrame(2, "toc_set_info \"" + std::string(2049 - 15, 'y') + "\"", 7));  // no NUL
    EXPECT_TRUE(c.closedWithin());
}

TEST(Protocol, CommandRateLimitDropsTheExcess) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--rate-burst", "5", "--rate-per-second", "1"}));
    Client c;
    ASSERT_NE(c.login("fast", "pw", tocd.port()), "");
    for (int i = 0; i < 10; ++i)
        c.control.SendIM("echobot", "m" + std::to_string(i), false);
    const auto answers = [&] {
        return c.seen("InstantMessage(EchoBot").size() + c.seen("Error(903,").size();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return answers() >= 10; }, kWaitMs));
    QTest::qWait(100);
    EXPECT_EQ(answers(), 10u);
    EXPECT_GE(c.seen("Error(903,").size(), 4u);
}

TEST(Protocol, KeepAliveFramesAndCleanShutdown) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--keepalive", "1"}));
    Client c;
    c.sink.recordPackets = true;
    ASSERT_NE(c.login("quiet", "pw", tocd.port()), "");
    const std::string keepAlive = c.next("IncomingPacket(*\x05", 4000);
    ASSERT_EQ(keepAlive.size(), 22u) << "one empty frame";
    EXPECT_EQ(tocd.stop(), 0);
    EXPECT_NE(c.next("WinsockError("), "");
}

}  // namespace
}  // namespace tocd::testing

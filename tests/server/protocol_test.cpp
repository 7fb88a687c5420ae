// tocd's framing and limits. Other bad input: tests/robustness/tocd_hostile_test.cpp and
// fuzz/tocd_session_fuzz.cpp.
#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

// A command ends at its first NUL, so the bytes after it never reach a reply where a client would
// cut the message short; a payload of 2048 bytes, its NUL included, is served, 2049 end the
// connection.
TEST(Protocol, OlderSignOnCommandsEndAtTheirFirstNulAndAt2048Bytes) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c(tocd.port());
    const std::string roasted = lantry::wire::roastPassword("pw");
    const std::string echoCommand = "toc2_send_im_enc echobot F U en \"";
    const std::string longText(2047 - echoCommand.size() - 1, 'y');
    const std::string longest = echoCommand + longText + '"';
    c.send("FLAPON\r\n\r\n" + clientFrame(1, std::string("\0\0\0\1\0\1\0\3bob", 11), 0) +
           clientFrame(2, "toc_signon host 5190 bob " + roasted + " english \"x\"" + '\0', 1) +
           clientFrame(2, std::string("toc_get_status ghost\0\0\0", 23), 2) +
           clientFrame(2, std::string("toc2_send_im_enc echobot F U en cut\0off\0", 40), 3) +
           clientFrame(2, longest + '\0', 4) +
           clientFrame(2, std::string("toc_no_such_command 1", 22), 5));
    for (const std::string& text :
         std::vector<std::string>{"CONFIG2:g:Buddies\nb:echobot\nm:1\ndone:\n", "ERROR:901:ghost",
                                  "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:cut",
                                  "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:" + longText, "ERROR:911"}) {
        const std::string framed = clientFrame(2, text, 0).substr(4);  // its length and text
        EXPECT_TRUE(QTest::qWaitFor([&] { return c.drain(), c.input.find(framed) != c.input.npos; },
                                    kWaitMs))
            << text;
    }
    c.send(clientFrame(2, echoCommand + longText + "y\"" + '\0', 6));
    EXPECT_TRUE(c.closedWithin());
}

TEST(Protocol, CommandRateLimitKeepAliveFramesAndCleanShutdown) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--rate-burst", "5", "--rate-per-second", "1", "--keepalive", "1"}));
    Client c;
    c.sink.recordPackets = true;
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
    EXPECT_EQ(c.next("IncomingPacket(*\x05", 4000).size(), 22u) << "one empty frame";
    EXPECT_EQ(tocd.stop(), 0);
    EXPECT_NE(c.next("WinsockError("), "");
}

}  // namespace
}  // namespace tocd::testing

// Sign-on, refusal and connection failures over real TCP.
#include <QTcpServer>

#include "e2e_fixture.h"

namespace lantry::testing {
namespace {

using SignOnE2ETest = E2ETest;

TEST_F(SignOnE2ETest, WholeSignOnWithAConfigurationInTwoMessages) {
    std::string auth;
    control->Login("Test User", "password", "127.0.0.1", peer.port(), auth);
    EXPECT_EQ(auth, "login.oscar.aol.com");
    ASSERT_TRUE(peer.accept());
    EXPECT_EQ(peer.readRaw(8), "FLAPON\n\n");

    peer.sendFrame(1, std::string("\0\0\0\1", 4));
    const auto signOn = peer.readFrame();
    EXPECT_EQ(signOn.type, 1);
    EXPECT_EQ(signOn.payload, std::string("\0\0\0\1\0\1\0\x08testuser", 16));
    const auto login = peer.readFrame();
    EXPECT_EQ(login.type, 2);
    EXPECT_TRUE(login.endedWithNul);
    EXPECT_EQ(login.sequence, signOn.sequence + 1);
    EXPECT_EQ(login.payload, "toc2_login login.oscar.aol.com " + std::to_string(peer.port()) +
                                 " testuser 0x2408105c23001130 English  \"Ondrel 2.0\" 160 US "
                                 "\"\" \"\" 3 0 30303 -kentucky -utf8 58203174");

    peer.say("SIGN_ON:TOC2.0");
    peer.say("NICK:Test User");
    peer.say("CONFIG2:m:4\ng:Buddies\nb:ali");
    peer.say("CONFIG2:ce\nd:mallory\npref:x\ndone:\n");
    EXPECT_EQ(peer.readLine(), "toc_init_done");
    ASSERT_TRUE(eventsReach(2));
    EXPECT_EQ(sink.events,
              (Events{"ScreennameFormat(Test User)",
                      "LoggedIn(testuser,[[group]Buddies|alice],[mallory],[],[],x,4)"}));
}

TEST_F(SignOnE2ETest, RefusedSignOnBecomesAnErrorAndTheCloseIsReported) {
    control->Login("bob", "wrong", "127.0.0.1", peer.port());
    ASSERT_NE(peer.acceptSignOn().find("toc2_login"), std::string::npos);
    peer.say("ERROR:980");
    peer.disconnectClient();
    ASSERT_TRUE(eventsReach(2));
    EXPECT_EQ(sink.events, (Events{"Error(980,Invalid account or password)",
                                   "WinsockError(The server closed the connection)"}));
    EXPECT_NE(control->socket().State(), Socket::StateConnected);
}

TEST_F(SignOnE2ETest, NobodyListeningIsASocketError) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    control->Login("bob", "pw", "127.0.0.1", closedPort);
    ASSERT_TRUE(eventsReach(1));
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].rfind("WinsockError(", 0), 0u);
    EXPECT_NE(sink.events[0].find("refused"), std::string::npos) << sink.events[0];
}

TEST_F(SignOnE2ETest, LogOffClosesTheConnectionWithoutAWord) {
    signOn("bob");
    control->SendIM("alice", "bye", false);
    control->LogOff();
    EXPECT_EQ(sink.events, (Events{"LoggedOut(bob)"}));
    EXPECT_EQ(peer.readLine(), "toc_send_im \"alice\" \"bye\"") << "queued lines still go out";
    EXPECT_TRUE(peer.clientGone());
    QTest::qWait(50);
    EXPECT_EQ(sink.events.size(), 1u) << "our own close is not reported as the server's";
}

TEST_F(SignOnE2ETest, KeepAliveIsAnsweredOverTheWire) {
    signOn("bob");
    peer.sendFrame(5, "");
    const auto reply = peer.readFrame();
    EXPECT_EQ(reply.type, 5);
    EXPECT_EQ(reply.payload, "");
}

TEST_F(SignOnE2ETest, HostMayDestroyTheControlInsideARealSocketSignal) {
    signOn("bob");
    sink.after = [&](const std::string&) {
        sink.after = nullptr;
        control.reset();
    };
    peer.say("NICK:one");
    peer.say("NICK:two");
    ASSERT_TRUE(eventsReach(1));
    EXPECT_TRUE(peer.clientGone());
    QTest::qWait(50);  // the socket's own deferred cleanup runs here
    EXPECT_EQ(sink.events, (Events{"ScreennameFormat(one)"}));
}

}  // namespace
}  // namespace lantry::testing

// The control on its real Qt socket: signing on and off, refusal and connection failures, and a
// host that destroys the control inside a socket signal.
#include "e2e_fixture.h"

namespace lantry::testing {
namespace {

using SignOnE2ETest = E2ETest;

TEST_F(SignOnE2ETest, RefusedSignOnBecomesAnErrorAndTheCloseIsReportedOnce) {
    control->Login("bob", "wrong", "127.0.0.1", peer.port());
    ASSERT_NE(peer.acceptSignOn().find("toc2_login"), std::string::npos);
    peer.say("ERROR:980");
    peer.disconnectClient();
    ASSERT_TRUE(eventsReach(2));
    QTest::qWait(50);
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

TEST_F(SignOnE2ETest, LogOffSendsWhatWasQueuedThenClosesWithoutAWord) {
    signOn("bob");
    control->SendIM("alice", "bye", false);
    control->LogOff();
    EXPECT_EQ(sink.events, (Events{"LoggedOut(bob)"}));
    EXPECT_EQ(peer.readLine(), "toc_send_im \"alice\" \"bye\"");
    EXPECT_TRUE(peer.clientGone());
    QTest::qWait(50);
    EXPECT_EQ(sink.events.size(), 1u) << "our own close is not reported as the server's";
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

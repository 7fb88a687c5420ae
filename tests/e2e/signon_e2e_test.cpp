// The control on its real Qt socket against a peer scripted by the test on 127.0.0.1: signing
// on and off, a refusal, and a host that destroys the control inside a socket signal. Client and
// peer share the test's thread: every wait pumps the Qt event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

using Events = std::vector<std::string>;

class SignOnE2ETest : public ::testing::Test {
protected:
    SignOnE2ETest() : control(std::make_unique<Ondrel>(std::make_unique<QtSocket>(), &sink)) {
        server.listen(QHostAddress::LocalHost, 0);
    }

    bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }
    bool eventsReach(std::size_t n) {
        return waitFor([&] { return sink.events.size() >= n; });
    }

    // The next whole frame's payload from the control (the greeting counts as one).
    std::string readLine() {
        if (!waitFor([&] { return !parseFrames(received).empty(); }))
            return "<nothing>";
        const auto payload = parseFrames(received).front().payload;
        received.erase(0, wire::frameLength(received));
        return payload;
    }
    void say(const std::string& m) { peer->write(QByteArray::fromStdString(dataFrame(m))); }

    // Login with `password`: accepts the connection, answers the greeting, reads the login.
    void signOn(const std::string& password) {
        control->Login("bob", password, "127.0.0.1", server.serverPort());
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        peer.reset(server.nextPendingConnection());
        QObject::connect(peer.get(), &QTcpSocket::readyRead,
                         [this] { received += peer->readAll().toStdString(); });
        ASSERT_TRUE(waitFor([&] { return received.starts_with("FLAPON\n\n"); }));
        received.erase(0, 8);
        peer->write(QByteArray::fromStdString(serverFrame(1, std::string("\0\0\0\1", 4))));
        readLine();
        ASSERT_TRUE(readLine().starts_with("toc2_login "));
    }
    bool peerGone() {
        return waitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; });
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
    std::string received;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

TEST_F(SignOnE2ETest, RefusedSignOnBecomesAnErrorAndTheCloseIsReportedOnce) {
    ASSERT_NO_FATAL_FAILURE(signOn("wrong"));
    say("ERROR:980");
    peer->disconnectFromHost();
    ASSERT_TRUE(eventsReach(2));
    QTest::qWait(50);
    EXPECT_EQ(sink.events, (Events{"Error(980,Invalid account or password)",
                                   "WinsockError(The server closed the connection)"}));
    EXPECT_NE(control->socket().State(), Socket::StateConnected);
}

TEST_F(SignOnE2ETest, LogOffSendsWhatWasQueuedThenClosesWithoutAWord) {
    ASSERT_NO_FATAL_FAILURE(signOn("secret"));
    control->SendIM("alice", "bye", false);
    control->LogOff();
    EXPECT_EQ(readLine(), "toc_send_im \"alice\" \"bye\"");
    EXPECT_TRUE(peerGone());
    QTest::qWait(50);
    EXPECT_EQ(sink.events, (Events{"LoggedOut(bob)"})) << "our own close is not the server's";
}

TEST_F(SignOnE2ETest, HostMayDestroyTheControlInsideARealSocketSignal) {
    ASSERT_NO_FATAL_FAILURE(signOn("secret"));
    sink.after = [&](const std::string&) {
        sink.after = nullptr;
        control.reset();
    };
    say("NICK:one");
    say("NICK:two");
    ASSERT_TRUE(eventsReach(1));
    EXPECT_TRUE(peerGone());
    QTest::qWait(50);  // the socket's own deferred cleanup runs here
    EXPECT_EQ(sink.events, (Events{"ScreennameFormat(one)"}));
}

}  // namespace
}  // namespace lantry::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

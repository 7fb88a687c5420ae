// The control on its real Qt socket against a peer scripted by the test on 127.0.0.1: signing
// on and off, a refusal, a host that destroys the control inside a socket signal, and a server
// that never reads. Client and peer share the test's thread: every wait pumps the Qt event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fstream>
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
    // A round trip to the listening server and back, through this thread's event loop: whatever
    // the control's socket still had to report is reported before it ends, so a later duplicate
    // or a word after a close cannot slip past a comparison made after it.
    void roundTrip() {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, server.serverPort());
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        const std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
        accepted->write("x");
        ASSERT_TRUE(waitFor([&] { return probe.bytesAvailable() > 0; }));
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
    roundTrip();
    EXPECT_EQ(sink.events, (Events{"Error(980,Invalid account or password)",
                                   "WinsockError(The server closed the connection)"}));
    EXPECT_NE(control->socket().State(), Socket::StateConnected);
}

// A failure the socket reports from the event loop belongs to its connection: a sign-on made
// again before it comes hears nothing of it.
TEST_F(SignOnE2ETest, AFailureStillToBeReportedNeverReachesTheNextConnection) {
    control->Login("bob", "secret", "127.0.0.1", 0);
    ASSERT_NO_FATAL_FAILURE(signOn("secret"));
    roundTrip();
    EXPECT_EQ(sink.events, Events{});
    EXPECT_EQ(control->socket().State(), Socket::StateConnected);
}

TEST_F(SignOnE2ETest, LogOffSendsWhatWasQueuedThenClosesWithoutAWord) {
    ASSERT_NO_FATAL_FAILURE(signOn("secret"));
    control->SendIM("alice", "bye", false);
    control->LogOff();
    EXPECT_EQ(readLine(), "toc_send_im \"alice\" \"bye\"");
    EXPECT_TRUE(peerGone());
    roundTrip();
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
    roundTrip();  // the socket's own deferred cleanup runs here too
    EXPECT_EQ(sink.events, (Events{"ScreennameFormat(one)"}));
}

long residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * 4096;
}

// A hostile server repeats its sign-on frame and sends keep-alives without end, and never reads:
// the control answers the first sign-on frame only, and once a bounded amount of answers waits
// unsent it ends the connection and says why, instead of growing without bound.
TEST_F(SignOnE2ETest, AServerThatNeverReadsIsCutOffWithAReasonAndMemoryStaysBounded) {
    ASSERT_NO_FATAL_FAILURE(signOn("secret"));
    const std::string signOnFrame = serverFrame(1, std::string("\0\0\0\1", 4));
    // Answers leave in order, so a second sign-on answer would come before the keep-alive's.
    peer->write(QByteArray::fromStdString(signOnFrame + signOnFrame + serverFrame(5, "")));
    ASSERT_TRUE(waitFor([&] { return !parseFrames(received).empty(); }));
    EXPECT_EQ(parseFrames(received).front().type, 5) << "the sign-on frame was answered again";

    QObject::disconnect(peer.get(), &QTcpSocket::readyRead, nullptr, nullptr);
    peer->setReadBufferSize(1);
    peer->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    std::string chunk = signOnFrame;
    for (int i = 0; i < 10000; ++i)
        chunk += serverFrame(5, "");
    const auto bytes = QByteArray::fromStdString(chunk);

    const long before = residentBytes();
    constexpr long kGrowthBound = 64L << 20;  // unbounded output passes this within seconds
    long growth = 0;
    QTimer wake;  // WaitForMoreEvents returns at least this often
    wake.start(50);
    QElapsedTimer clock;
    clock.start();
    while (sink.events.empty() && !clock.hasExpired(120000) && growth < kGrowthBound) {
        if (peer->bytesToWrite() < bytes.size())
            peer->write(bytes);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        growth = std::max(growth, residentBytes() - before);
    }
    EXPECT_LT(growth, kGrowthBound);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_TRUE(
        sink.events[0].starts_with("WinsockError(Connection closed: the server stopped reading"))
        << sink.events[0];
    EXPECT_NE(control->socket().State(), Socket::StateConnected);
    peer->setReadBufferSize(0);
    EXPECT_TRUE(peerGone());
}

}  // namespace
}  // namespace lantry::testing

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

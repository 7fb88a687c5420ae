// A control on its real Qt socket with a recording sink, and the server side of its connection
// scripted by the test on 127.0.0.1.
//
// Client and peer share the test's thread: every wait pumps the Qt event loop (with a time
// limit) so that the control's socket makes progress while the peer waits for it.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <string>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace lantry::testing {

template <class Done>
bool waitUntil(Done done) {
    return QTest::qWaitFor(done, 5000);
}

class ScriptedPeer {
public:
    ScriptedPeer() { server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    // Waits for the control to connect.
    bool accept() {
        if (!waitUntil([&] { return server_.hasPendingConnections(); }))
            return false;
        client_.reset(server_.nextPendingConnection());
        QObject::connect(client_.get(), &QTcpSocket::readyRead,
                         [this] { received_ += client_->readAll().toStdString(); });
        return true;
    }

    // The next whole frame from the control (the greeting counts as one); empty when none came.
    SentFrame readFrame() {
        if (!waitUntil([&] { return !parseFrames(received_).empty(); }))
            return {-1, -1, {}};
        SentFrame frame = parseFrames(received_).front();
        received_.erase(0, wire::frameLength(received_));
        return frame;
    }
    std::string readLine() { return readFrame().payload; }

    void say(const std::string& message) {
        client_->write(QByteArray::fromStdString(dataFrame(message)));
        client_->flush();
    }

    // Greeting, both sign-on frames and toc2_login; returns the login line.
    std::string acceptSignOn() {
        if (!accept() || !waitUntil([&] { return received_.size() >= 8; }) ||
            received_.substr(0, 8) != "FLAPON\n\n")
            return "<no greeting>";
        received_.erase(0, 8);
        client_->write(QByteArray::fromStdString(serverFrame(1, std::string("\0\0\0\1", 4))));
        if (readFrame().type != 1)
            return "<no sign-on frame>";
        return readLine();
    }

    void disconnectClient() { client_->disconnectFromHost(); }
    bool clientGone() {
        return waitUntil([&] { return client_->state() == QAbstractSocket::UnconnectedState; });
    }

private:
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> client_;
    std::string received_;
};

class E2ETest : public ::testing::Test {
protected:
    E2ETest() : control(std::make_unique<Ondrel>(std::make_unique<QtSocket>(), &sink)) {}

    // Waits until the sink has recorded `count` events in all.
    bool eventsReach(std::size_t count) {
        return waitUntil([&] { return sink.events.size() >= count; });
    }

    // Signs on through the peer with a small configuration; records cleared.
    void signOn(const std::string& user) {
        control->Login(user, "secret", "127.0.0.1", peer.port());
        const std::string login = "toc2_login login.oscar.aol.com " + std::to_string(peer.port());
        ASSERT_EQ(peer.acceptSignOn().rfind(login + " " + user + " 0x", 0), 0u);
        peer.say("SIGN_ON:TOC2.0");
        peer.say("CONFIG2:g:Buddies\nb:alice\ndone:\n");
        ASSERT_EQ(peer.readLine(), "toc_init_done");
        ASSERT_TRUE(eventsReach(1));
        ASSERT_EQ(sink.events[0], "LoggedIn(" + user + ",[[group]Buddies|alice],[],[],[],,0)");
        sink.events.clear();
    }

    ScriptedPeer peer;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

using Events = std::vector<std::string>;

}  // namespace lantry::testing

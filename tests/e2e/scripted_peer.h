// The server side of a TOC2 connection, scripted byte for byte by a test, on 127.0.0.1.
//
// Client and peer share the test's thread: every wait pumps the Qt event loop (with a time
// limit) so that the control's socket makes progress while the peer waits for it.
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

namespace lantry::testing {

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    return QTest::qWaitFor(done, timeoutMs);
}

struct PeerFrame {
    int type = -1;
    int sequence = -1;
    std::string payload;  // data frames without their trailing NUL
    bool endedWithNul = false;
};

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
                         [this] { received_ += client_->readAll(); });
        return true;
    }

    // The next `n` raw bytes from the control (the greeting is not framed).
    std::string readRaw(int n) {
        if (!waitUntil([&] { return received_.size() >= n; }))
            return {};
        std::string out = received_.left(n).toStdString();
        received_.remove(0, n);
        return out;
    }

    // The next whole frame from the control; type -1 when none came in time.
    PeerFrame readFrame() {
        PeerFrame frame;
        const auto complete = [&] {
            if (received_.size() < 6)
                return false;
            const int length = static_cast<unsigned char>(received_[4]) * 256 +
                               static_cast<unsigned char>(received_[5]);
            return received_.size() >= 6 + length;
        };
        if (!waitUntil(complete))
            return frame;
        const int length = static_cast<unsigned char>(received_[4]) * 256 +
                           static_cast<unsigned char>(received_[5]);
        frame.type = static_cast<unsigned char>(received_[1]);
        frame.sequence = static_cast<unsigned char>(received_[2]) * 256 +
                         static_cast<unsigned char>(received_[3]);
        frame.payload = received_.mid(6, length).toStdString();
        received_.remove(0, 6 + length);
        if (frame.type == 2 && !frame.payload.empty() && frame.payload.back() == '\0') {
            frame.payload.pop_back();
            frame.endedWithNul = true;
        }
        return frame;
    }

    // The payload of the next data frame (keep-alives in between are skipped).
    std::string readLine() {
        for (;;) {
            auto frame = readFrame();
            if (frame.type != 5)
                return frame.type == 2 ? frame.payload : std::string("<none>");
        }
    }

    void sendFrame(int type, const std::string& payload) {
        QByteArray frame;
        frame.append('*');
        frame.append(static_cast<char>(type));
        frame.append(static_cast<char>(sequence_ >> 8));
        frame.append(static_cast<char>(sequence_ & 0xFF));
        frame.append(static_cast<char>(payload.size() >> 8));
        frame.append(static_cast<char>(payload.size() & 0xFF));
        frame.append(payload.data(), static_cast<qsizetype>(payload.size()));
        sequence_ = (sequence_ + 1) & 0xFFFF;
        client_->write(frame);
        client_->flush();
    }
    void say(const std::string& message) { sendFrame(2, message); }

    // Greeting, both sign-on frames and toc2_login; returns the login line.
    std::string acceptSignOn() {
        if (!accept() || readRaw(8) != "FLAPON\n\n")
            return "<no greeting>";
        sendFrame(1, std::string("\0\0\0\1", 4));
        const auto signOn = readFrame();
        if (signOn.type != 1)
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
    QByteArray received_;
    int sequence_ = 0;
};

}  // namespace lantry::testing

// A scripted TOC2 server on 127.0.0.1 that applies a real server's rate class: it signs on
// whoever connects, then counts every command of the class by the moving average and, as
// real servers do, drops one that comes too fast with ERROR:903 and ends the connection of a
// client that goes on. What it let through is kept, in order, with the time it arrived.
//
// Threading: the test's thread; it works while the test pumps the Qt event loop.
#pragma once

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/rate_class.h"
#include "ondrel/wire.h"

namespace lantry::testing {

class RateLimitedPeer {
public:
    explicit RateLimitedPeer(const RateClass& rates = kServerRateClass) : rates_(rates) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { accept(); });
        clock_.start();
    }

    quint16 port() const { return server_.serverPort(); }

    // Command lines that passed (every command, limited or not), in arrival order.
    std::vector<std::string> accepted;
    // Milliseconds since the peer started at which each accepted command arrived.
    std::vector<qint64> acceptedAt;
    int dropped = 0;
    bool disconnected = false;  // the peer ended a connection for speed
    bool signedOn = false;

    // Ends the current connection as a server going away does.
    void hangUp() {
        if (client_)
            client_->disconnectFromHost();
    }
    void say(const std::string& message) { send(wire::kFrameData, message); }

private:
    void accept() {
        client_.reset(server_.nextPendingConnection());
        buffer_.clear();
        greeted_ = false;
        sequence_ = 0;
        rate_ = RateAverage(rates_);
        rate_.reset(clock_.elapsed());
        QObject::connect(client_.get(), &QTcpSocket::readyRead, [this] { read(); });
    }

    void send(int type, const std::string& payload) {
        std::string frame;
        wire::appendFrame(frame, static_cast<std::uint8_t>(type), sequence_++, payload);
        client_->write(frame.data(), static_cast<qint64>(frame.size()));
    }

    void read() {
        buffer_ += client_->readAll().toStdString();
        if (!greeted_) {
            if (buffer_.size() < wire::kGreeting.size())
                return;
            buffer_.erase(0, wire::kGreeting.size());
            greeted_ = true;
            send(wire::kFrameSignOn, std::string("\0\0\0\1", 4));
        }
        while (buffer_.size() >= wire::kFrameHeaderSize &&
               buffer_.size() >= wire::frameLength(buffer_)) {
            const std::size_t length = wire::frameLength(buffer_);
            const auto type = static_cast<unsigned char>(buffer_[1]);
            std::string payload =
                buffer_.substr(wire::kFrameHeaderSize, length - wire::kFrameHeaderSize);
            buffer_.erase(0, length);
            if (type != wire::kFrameData)
                continue;
            if (!payload.empty() && payload.back() == '\0')
                payload.pop_back();
            if (!command(payload))
                return;
        }
    }

    // False when the connection ended.
    bool command(const std::string& line) {
        if (line.starts_with("toc2_login ")) {
            signedOn = true;
            say("SIGN_ON:TOC2.0");
            say("NICK:Rate Tester");
            say("CONFIG2:done:\n");
            return true;
        }
        if (isRateLimitedCommand(line)) {
            switch (rate_.count(clock_.elapsed())) {
                case RateAverage::Verdict::Dropped:
                    ++dropped;
                    say("ERROR:903");
                    return true;
                case RateAverage::Verdict::Disconnect:
                    disconnected = true;
                    client_->disconnectFromHost();
                    return false;
                case RateAverage::Verdict::Passed:
                    break;
            }
        }
        accepted.push_back(line);
        acceptedAt.push_back(clock_.elapsed());
        return true;
    }

    RateClass rates_;
    QTcpServer server_;
    QElapsedTimer clock_;
    std::unique_ptr<QTcpSocket> client_;
    std::string buffer_;
    bool greeted_ = false;
    std::uint16_t sequence_ = 0;
    RateAverage rate_;
};

}  // namespace lantry::testing

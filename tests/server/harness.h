// Clients of a running tocd for the tests: a real control on the Qt socket with a recording
// sink, and a raw FLAP client for what a control never sends. Both block on the calling
// thread's Qt event loop, each wait bounded by kWaitMs unless told otherwise.
#pragma once

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace tocd::testing {

constexpr int kWaitMs = 5000;

// One control signed on (or trying to) through tocd; events are read in order with next().
class Client {
public:
    Client() : control(std::make_unique<lantry::QtSocket>(), &sink) {}

    // Signs on and waits for LoggedIn; returns its event line, or "" on failure.
    std::string login(const std::string& name, const std::string& password, int port) {
        control.Login(name, password, "127.0.0.1", port);
        return next("LoggedIn(");
    }

    // The first event from the cursor on that starts with `prefix`, waiting for it; the cursor
    // moves past it. "" when none came in time.
    std::string next(const std::string& prefix, int timeoutMs = kWaitMs) {
        std::string found;
        (void)QTest::qWaitFor(
            [&] {
                for (std::size_t i = cursor_; i < sink.events.size(); ++i) {
                    if (sink.events[i].rfind(prefix, 0) == 0) {
                        found = sink.events[i];
                        cursor_ = i + 1;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }

    // Every event so far that starts with `prefix`, without waiting.
    std::vector<std::string> seen(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : sink.events) {
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e);
        }
        return out;
    }

    // Waits until the server has handled every command sent so far (its answers come in order).
    void sync() {
        // Only an answer to this request counts: echobot's presence also arrives at sign-on.
        cursor_ = sink.events.size();
        control.GetStatus("echobot");
        ASSERT_NE(next("BuddyUpdate(EchoBot,true"), "");
    }

    lantry::testing::RecordingSink sink;
    lantry::Ondrel control;

private:
    std::size_t cursor_ = 0;
};

// A FLAP client on a blocking QTcpSocket.
class RawClient {
public:
    bool connect(int port, std::string_view greeting = lantry::wire::kGreeting) {
        socket_.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        if (!socket_.waitForConnected(kWaitMs))
            return false;
        write(greeting);
        return true;
    }

    void frame(std::uint8_t type, std::string_view payload) {
        std::string out;
        lantry::wire::appendFrame(out, type, sequence_++, payload);
        write(out);
    }

    // A data frame as a client sends it: the command and a trailing NUL.
    void command(std::string_view line) { frame(2, std::string(line) + '\0'); }

    struct Frame {
        int type = 0;
        int sequence = 0;
        std::string payload;
    };

    // The next whole frame, or nullopt when none arrives in time or the server closed.
    std::optional<Frame> read(int timeoutMs = kWaitMs) {
        QElapsedTimer clock;
        clock.start();
        while (buffer_.size() < 6 || buffer_.size() < lantry::wire::frameLength(buffer_)) {
            const auto left = timeoutMs - clock.elapsed();
            if (left <= 0 ||
                (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(int(left)) &&
                 socket_.bytesAvailable() == 0)) {
                return std::nullopt;
            }
            const QByteArray data = socket_.readAll();
            buffer_.append(data.constData(), static_cast<std::size_t>(data.size()));
        }
        const auto total = lantry::wire::frameLength(buffer_);
        Frame f{static_cast<unsigned char>(buffer_[1]), lantry::wire::decodeWord(buffer_.substr(2)),
                buffer_.substr(6, total - 6)};
        buffer_.erase(0, total);
        return f;
    }

    // The payload of the next data frame whose text starts with `prefix` ("" when none).
    std::string readMessage(const std::string& prefix) {
        while (auto f = read()) {
            if (f->type == 2 && f->payload.rfind(prefix, 0) == 0)
                return f->payload;
        }
        return {};
    }

    // Greeting, sign-on frame, login and toc_init_done; true once the configuration arrived.
    bool signOn(int port, const std::string& name) {
        const auto serverSignOn = connect(port) ? read() : std::nullopt;
        if (!serverSignOn || serverSignOn->type != 1)
            return false;
        std::string signOnFrame("\0\0\0\1\0\1", 6);
        signOnFrame += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size())) + name;
        frame(1, signOnFrame);
        command("toc2_login login.oscar.aol.com 5190 " + name + " " +
                lantry::wire::roastPassword("pw") +
                " English \"test\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1");
        if (readMessage("CONFIG2:").find("done:\n") == std::string::npos)
            return false;
        command("toc_init_done");
        return true;
    }

    // True when the server closes the connection within kWaitMs (what it sends is dropped).
    bool closedByServer() {
        QElapsedTimer clock;
        clock.start();
        while (socket_.state() != QAbstractSocket::UnconnectedState && clock.elapsed() < kWaitMs) {
            socket_.waitForReadyRead(100);
            socket_.readAll();
        }
        return socket_.state() == QAbstractSocket::UnconnectedState;
    }

private:
    void write(std::string_view bytes) {
        socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket_.flush();
    }

    QTcpSocket socket_;
    std::string buffer_;
    std::uint16_t sequence_ = 0;
};

}  // namespace tocd::testing

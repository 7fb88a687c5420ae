// Clients of a running tocd for the tests: a real control on the Qt socket with a recording
// sink, and a raw TCP client for what a control never sends. Waits run the calling thread's
// Qt event loop, each bounded by kWaitMs unless told otherwise.
#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

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

// A raw TCP client on 127.0.0.1 that does exactly what the test says and nothing else.
class RawClient {
public:
    explicit RawClient(int port, bool blocking = true) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ok_ = fd_ >= 0 && (rc == 0 || errno == EINPROGRESS);
    }
    ~RawClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // False when the connection could not even be started.
    bool ok() const { return ok_; }
    // Sends what the socket takes without blocking.
    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const auto n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    // Appends what arrived to `input` without waiting; true once the server closed.
    bool drain() {
        char buf[4096];
        for (;;) {
            const auto n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                input.append(buf, static_cast<std::size_t>(n));
            else
                return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }
    // Polls the socket itself, so that the time to the close is known to a millisecond.
    bool closedWithin(int timeoutMs = kWaitMs) {
        QElapsedTimer clock;
        clock.start();
        for (pollfd p{fd_, POLLIN, 0}; !drain(); ::poll(&p, 1, 1)) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents();
        }
        return true;
    }
    // The first data frame received that starts with `prefix`, waiting for it ("" when none).
    std::string message(const std::string& prefix) {
        std::string found;
        (void)QTest::qWaitFor(
            [&] {
                drain();
                std::string_view in = input;
                for (std::size_t n;
                     in.size() >= 6 && in.size() >= (n = lantry::wire::frameLength(in));
                     in.remove_prefix(n)) {
                    const auto text = in.substr(6, n - 6);
                    if (in[1] == 2 && text.substr(0, prefix.size()) == prefix) {
                        found = text;
                        return true;
                    }
                }
                return false;
            },
            kWaitMs);
        return found;
    }
    void shrinkReceiveBuffer() {
        const int size = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

    std::string input;  // everything received so far

private:
    int fd_ = -1;
    bool ok_ = false;
};

inline std::string clientFrame(std::uint8_t type, std::string_view payload,
                               std::uint16_t sequence) {
    std::string out;
    lantry::wire::appendFrame(out, type, sequence, payload);
    return out;
}

// The whole client side of a sign-on (password "pw"), to be sent at once; the next frame's
// sequence number is 3.
inline std::string signOnBytes(const std::string& name) {
    std::string signOn("\0\0\0\1\0\1", 6);
    signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size())) + name;
    const std::string login = "toc2_login login.oscar.aol.com 5190 " + name + " " +
                              lantry::wire::roastPassword("pw") +
                              " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
    return "FLAPON\r\n\r\n" + clientFrame(1, signOn, 0) + clientFrame(2, login + '\0', 1) +
           clientFrame(2, std::string("toc_init_done", 14), 2);
}

}  // namespace tocd::testing

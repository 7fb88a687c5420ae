// Clients of a running tocd: a real control on the Qt socket with a recording sink, and a raw
// TCP client for what a control never sends. Waits run this thread's Qt event loop, bounded.
#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace tocd::testing {

constexpr int kWaitMs = 5000;

// Events are read in order with next(); seen() looks at all of them.
class Client {
public:
    // tocd's own limits are what these tests meet; a client pacing itself would keep from them.
    Client() : control(unpacedSocket(), &sink) {}

    // The LoggedIn event line, or "" on failure. Returns once echobot's presence, which follows
    // the sign-on of an account that lists it, has come too, so that sync() never takes it for
    // its answer.
    std::string login(const std::string& name, const std::string& password, int port) {
        control.Login(name, password, "127.0.0.1", port);
        const std::string line = next("LoggedIn(");
        if (line.find("|echobot") != std::string::npos)
            next("BuddyUpdate(EchoBot,true");
        return line;
    }

    // The first event after the cursor that starts with `prefix` ("" when none came in time).
    std::string next(const std::string& prefix, int timeoutMs = kWaitMs) {
        const auto match = [&] {
            return std::find_if(sink.events.begin() + static_cast<std::ptrdiff_t>(cursor_),
                                sink.events.end(), [&](auto& e) { return e.starts_with(prefix); });
        };
        if (!QTest::qWaitFor([&] { return match() != sink.events.end(); }, timeoutMs))
            return "";
        cursor_ = static_cast<std::size_t>(match() - sink.events.begin()) + 1;
        return sink.events[cursor_ - 1];
    }

    static std::unique_ptr<lantry::QtSocket> unpacedSocket() {
        auto socket = std::make_unique<lantry::QtSocket>();
        socket->setPacing(false);
        return socket;
    }

    std::vector<std::string> seen(const std::string& prefix) const {
        std::vector<std::string> out;
        std::copy_if(sink.events.begin(), sink.events.end(), std::back_inserter(out),
                     [&](auto& e) { return e.starts_with(prefix); });
        return out;
    }

    // Returns once tocd has answered every command sent so far (it answers in order).
    void sync() {
        cursor_ = sink.events.size();
        control.GetStatus("echobot");
        ASSERT_NE(next("BuddyUpdate(EchoBot,true"), "");
    }

    lantry::testing::RecordingSink sink;
    lantry::Ondrel control;

private:
    std::size_t cursor_ = 0;
};

class RawClient {
public:
    // `from` is the loopback address the connection comes from (127.0.0.1 to 127.255.255.254),
    // as host-order bits: another client address without another machine.
    explicit RawClient(int port, bool blocking = true, std::uint32_t from = INADDR_LOOPBACK) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(from);
        (void)::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // What the socket takes without blocking.
    void send(std::string_view bytes) {
        for (ssize_t n; !bytes.empty(); bytes.remove_prefix(static_cast<std::size_t>(n))) {
            if ((n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT)) <= 0)
                return;
        }
    }
    // Appends what arrived to `input` without waiting; true once the server closed.
    bool drain() {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            input.append(buf, static_cast<std::size_t>(n));
        return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
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
    int fd() const { return fd_; }

    std::string input;  // everything received so far

private:
    int fd_ = -1;
};

inline std::string clientFrame(std::uint8_t type, std::string_view payload,
                               std::uint16_t sequence) {
    std::string out;
    lantry::wire::appendFrame(out, type, sequence, payload);
    return out;
}

// A whole sign-on, sent at once; the next frame's sequence number is 3.
inline std::string signOnBytes(const std::string& name, const std::string& password = "pw") {
    std::string signOn("\0\0\0\1\0\1", 6);
    signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size())) + name;
    const std::string login = "toc2_login login.oscar.aol.com 5190 " + name + " " +
                              lantry::wire::roastPassword(password) +
                              " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
    return "FLAPON\r\n\r\n" + clientFrame(1, signOn, 0) + clientFrame(2, login + '\0', 1) +
           clientFrame(2, std::string("toc_init_done", 14), 2);
}

// A raw client signed on with signOnBytes; its commands go out as data frames in sequence.
class RawSession : public RawClient {
public:
    RawSession(int port, const std::string& name, const std::string& password = "pw",
               std::uint32_t from = INADDR_LOOPBACK)
        : RawClient(port, true, from) {
        send(signOnBytes(name, password));
    }

    void command(const std::string& line) { send(clientFrame(2, line + '\0', sequence_++)); }

    // The messages of every data frame received so far, in order, but for the answers to sync().
    std::vector<std::string> messages() {
        drain();
        std::vector<std::string> out;
        std::string_view rest = input;
        while (rest.size() >= lantry::wire::kFrameHeaderSize &&
               rest.size() >= lantry::wire::frameLength(rest)) {
            const auto length = lantry::wire::frameLength(rest);
            const auto message = rest.substr(lantry::wire::kFrameHeaderSize,
                                             length - lantry::wire::kFrameHeaderSize);
            if (rest[1] == 2 && !message.starts_with(kSyncAnswer))
                out.emplace_back(message);
            rest.remove_prefix(length);
        }
        return out;
    }

    // The received messages that start with `prefix`.
    std::vector<std::string> seen(const std::string& prefix) {
        auto all = messages();
        std::erase_if(all, [&](const std::string& m) { return !m.starts_with(prefix); });
        return all;
    }

    // Returns once tocd has answered every command sent so far (it answers in order).
    bool sync() {
        const std::string answer = std::string(kSyncAnswer) + std::to_string(++syncs_);
        command("toc_get_status " + answer.substr(answer.rfind(':') + 1));
        return QTest::qWaitFor([&] { return drain(), input.find(answer) != std::string::npos; },
                               kWaitMs);
    }

private:
    static constexpr std::string_view kSyncAnswer = "ERROR:901:syncmark";
    std::uint16_t sequence_ = 3;
    int syncs_ = 0;
};

// Waits until `client` received `text` (true) or the server closed or time ran out (false).
inline bool receivedWithin(RawClient& client, std::string_view text, int timeoutMs = kWaitMs) {
    return QTest::qWaitFor(
               [&] {
                   const bool closed = client.drain();
                   return closed || client.input.find(text) != std::string::npos;
               },
               timeoutMs) &&
           client.input.find(text) != std::string::npos;
}

}  // namespace tocd::testing

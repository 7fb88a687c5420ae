// Shared pieces of the benchmarks that drive tocd as a process: the clock and the event loop
// with a deadline, the "name value" figure lines, latency percentiles, timed IM texts, sessions
// on the control over its real socket, and sessions on a plain socket for traffic the control
// would never send.
//
// Threading: the thread of the QCoreApplication; everything here runs its event loop only
// inside runUntil and runFor.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"

namespace ondrel_bench {

inline std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop until `done` or `timeoutMs` has passed; false on timeout.
inline bool runUntil(const std::function<bool()>& done, std::int64_t timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

inline void runFor(std::int64_t ms) {
    runUntil([] { return false; }, ms);
}

// One figure on standard output, flushed so that a run cut short keeps what it measured.
inline void figure(const char* name, double value) {
    std::printf("%s %.10g\n", name, value);
    std::fflush(stdout);
}

struct Latencies {
    std::vector<std::int64_t> ns;

    // The `p` quantile (0 to 1) in microseconds; 0 when nothing was measured.
    double percentileUs(double p) {
        if (ns.empty())
            return 0;
        std::sort(ns.begin(), ns.end());
        const auto i = static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1));
        return static_cast<double>(ns[i]) / 1000.0;
    }
};

// An IM text: `sequence` and the send time, padded to a typical length.
inline std::string imText(int sequence) {
    std::string text = std::to_string(sequence) + " " + std::to_string(nowNs()) + " ";
    text.resize(std::max<std::size_t>(text.size(), 48), 'x');
    return text;
}

// The send time written by imText; 0 for any other text.
inline std::int64_t sentAt(const std::string& text) {
    const auto space = text.find(' ');
    return space == std::string::npos ? 0 : std::atoll(text.c_str() + space + 1);
}

// A session on the control and its real socket. It settles once: when signed on, or at the
// first failure before that; onSettled (if set) is called then. `failure` keeps the first
// failure, before or after signing on.
class Client final : public lantry::__Ondrel {
public:
    explicit Client(std::string name)
        : name(std::move(name)), control(std::make_unique<lantry::Ondrel>(unpaced(), this)) {}

    void LoggedIn(std::string, lantry::Collection&, lantry::Collection&, lantry::Collection&,
                  lantry::Collection&, std::string, std::int16_t) override {
        if (signedOn)
            return;
        const bool first = failure.empty();
        signedOn = true;
        if (first && onSettled)
            onSettled();
    }
    void WinsockError(std::string& text) override { failWith(text); }
    void Error(std::int16_t& code, std::string& text) override {
        failWith(std::to_string(code) + " " + text);
    }
    void InstantMessage(std::string&, std::string& text, bool&, std::string&) override {
        if (onIm)
            onIm(text);
    }

    std::string name;
    std::unique_ptr<lantry::Ondrel> control;
    bool signedOn = false;
    std::string failure;
    std::function<void()> onSettled;
    std::function<void(const std::string&)> onIm;

private:
    // A load generator measures tocd, not the real servers' rate limits that pacing respects.
    static std::unique_ptr<lantry::QtSocket> unpaced() {
        auto socket = std::make_unique<lantry::QtSocket>();
        socket->setPacing(false);
        return socket;
    }

    void failWith(const std::string& text) {
        if (!failure.empty())
            return;
        const bool first = !signedOn;
        failure = text.empty() ? "failed" : text;
        if (first && onSettled)
            onSettled();
    }
};

// Signs every client on with password "secret" at 127.0.0.1:`port`, at most `window` sign-ons
// under way at a time. True when every one settled (signed on or failed) within `timeoutMs`.
// The clients' onSettled is cleared before it returns.
inline bool signOnAll(std::vector<std::unique_ptr<Client>>& clients, int port, int window,
                      std::int64_t timeoutMs) {
    std::size_t next = 0;
    int pending = 0;
    std::size_t settled = 0;
    std::function<void()> launch = [&] {
        while (pending < window && next < clients.size()) {
            Client& c = *clients[next++];
            ++pending;
            c.onSettled = [&] {
                --pending;
                ++settled;
                launch();
            };
            c.control->Login(c.name, "secret", "127.0.0.1", port);
        }
    };
    launch();
    const bool done = runUntil([&] { return settled == clients.size(); }, timeoutMs);
    for (auto& c : clients)
        c->onSettled = nullptr;
    return done;
}

// A session of `account` (password "secret") on a plain socket from `from`: it signs on at
// once, then sends one command per command() (commands sent before the sign-on is answered wait
// for it in tocd). Everything tocd sends is read, so the session is
// never cut off for not reading; the replies containing `counted` are counted.
class RawSession {
public:
    RawSession(const std::string& account, int port, QByteArray counted,
               const QHostAddress& from = QHostAddress::Any)
        : counted_(std::move(counted)) {
        if (from != QHostAddress::Any)
            socket_.bind(from);
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
            const QByteArray data = socket_.readAll();
            if (!signedOn && data.contains("SIGN_ON:")) {
                signedOn = true;
                signedOnNs = nowNs();
            }
            countedReplies += static_cast<int>(data.count(counted_));
            received += data.size();
        });
        QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { closed = true; });
        QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_, [this] { closed = true; });
        socket_.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        std::string signOn("\0\0\0\1\0\1", 6);
        signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(account.size())) + account;
        std::string out = "FLAPON\r\n\r\n";
        lantry::wire::appendFrame(out, 1, sequence_++, signOn);
        const std::string login = "toc2_login login.oscar.aol.com 5190 " + account + " " +
                                  lantry::wire::roastPassword("secret") +
                                  " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
        lantry::wire::appendFrame(out, 2, sequence_++, login + '\0');
        lantry::wire::appendFrame(out, 2, sequence_++, std::string("toc_init_done", 14));
        socket_.write(out.data(), static_cast<qint64>(out.size()));
    }

    void command(const std::string& line) {
        std::string out;
        lantry::wire::appendFrame(out, 2, sequence_++, line + '\0');
        socket_.write(out.data(), static_cast<qint64>(out.size()));
        ++sent;
    }

    bool signedOn = false;
    std::int64_t signedOnNs = 0;  // when SIGN_ON arrived
    bool closed = false;          // by tocd, or failed
    int sent = 0;
    int countedReplies = 0;
    qint64 received = 0;

private:
    QByteArray counted_;
    QTcpSocket socket_;
    std::uint16_t sequence_ = 0;
};

}  // namespace ondrel_bench

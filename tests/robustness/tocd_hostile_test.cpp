// tocd against hostile clients over 127.0.0.1: garbage before and after the greeting, frames
// whose length lies, 64 KiB frames, a client that never reads, 10,000 half-open connections
// and a client that signs on 100 times a second. Throughout, two well-behaved sessions keep
// exchanging instant messages, and none may be lost; tocd's memory must stay bounded. Each
// test prints its figures as "figure NAME VALUE" lines.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "tocd_runner.h"

namespace {

using ondrel_bench::ServerProcess;

// Memory bounds below are for a plain build; AddressSanitizer's shadow and quarantine
// multiply what tocd holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::int64_t kMemoryFactor = 4;
#else
constexpr std::int64_t kMemoryFactor = 1;
#endif

// Names become one word (blanks to underscores, brackets dropped) so that each line parses.
void figure(const std::string& name, double value) {
    std::string word;
    for (const char c : name) {
        if (c == ' ')
            word += '_';
        else if (c != '(' && c != ')')
            word += c;
    }
    std::printf("figure %s %.10g\n", word.c_str(), value);
    std::fflush(stdout);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
}

// A well-behaved session on the control.
class Session final : public lantry::__Ondrel {
public:
    explicit Session(std::string name)
        : name(std::move(name)),
          control(std::make_unique<lantry::Ondrel>(std::make_unique<lantry::QtSocket>(), this)) {}

    void LoggedIn(std::string, lantry::Collection&, lantry::Collection&, lantry::Collection&,
                  lantry::Collection&, std::string, std::int16_t) override {
        signedOn = true;
    }
    void InstantMessage(std::string& from, std::string& text, bool&, std::string&) override {
        received.push_back(from + ":" + text);
    }
    void Error(std::int16_t& code, std::string&) override { errors.push_back(code); }
    void WinsockError(std::string& text) override { lost = text; }

    bool signOn(int port) {
        control->Login(name, "secret", "127.0.0.1", port);
        return pumpUntil([this] { return signedOn || !lost.empty(); }, 10000) && signedOn;
    }

    std::string name;
    std::unique_ptr<lantry::Ondrel> control;
    bool signedOn = false;
    std::vector<std::string> received;
    std::vector<int> errors;
    std::string lost;
};

// A raw TCP client that does exactly what the test says and nothing else.
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

    bool ok() const { return ok_; }
    // Sends what the socket takes without blocking; returns the bytes taken.
    std::size_t send(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto n =
                ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }
    // True once the server has closed the connection (reads and drops what it sent before).
    bool closedByServer() {
        char buf[4096];
        for (;;) {
            const auto n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0)
                return true;
            if (n < 0)
                return errno != EAGAIN && errno != EWOULDBLOCK;
        }
    }
    // Reads whatever arrived, without waiting.
    std::string take() {
        std::string out;
        char buf[4096];
        for (;;) {
            const auto n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0)
                return out;
            out.append(buf, static_cast<std::size_t>(n));
        }
    }
    void shrinkReceiveBuffer() {
        const int size = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

std::string clientFrame(std::uint8_t type, std::string_view payload, std::uint16_t sequence) {
    std::string out;
    lantry::wire::appendFrame(out, type, sequence, payload);
    return out;
}

// The whole client side of a sign-on, sent at once.
std::string signOnBytes(const std::string& name, const std::string& password) {
    std::string signOn("\0\0\0\1\0\1", 6);
    signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size()));
    signOn += name;
    const std::string login = "toc2_login login.oscar.aol.com 5190 " + name + " " +
                              lantry::wire::roastPassword(password) +
                              " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
    return "FLAPON\r\n\r\n" + clientFrame(1, signOn, 0) +
           clientFrame(2, login + std::string(1, '\0'), 1) +
           clientFrame(2, std::string("toc_init_done", 14), 2);
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tocd.start(QStringLiteral(TOCD_PATH),
                               {"--listen", "127.0.0.1:0", "--login-timeout", "3", "--keepalive",
                                "0", "--rate-burst", "0"},
                               std::getenv("ONDREL_TOCD_LOG") == nullptr))
            << tocd.errorText().toStdString();
        alice = std::make_unique<Session>("alice");
        bob = std::make_unique<Session>("bobby");
        ASSERT_TRUE(alice->signOn(tocd.port()));
        ASSERT_TRUE(bob->signOn(tocd.port()));
        startRss = tocd.residentBytes();
    }

    // alice sends `count` IMs to bob; every one must arrive, in order, within the time.
    void expectNothingLost(int count, const char* phase) {
        const auto before = bob->received.size();
        for (int i = 0; i < count; ++i)
            alice->control->SendIM("bobby", std::string(phase) + " " + std::to_string(i), false);
        ASSERT_TRUE(pumpUntil([&] { return bob->received.size() >= before + count; }, 15000))
            << phase << ": " << bob->received.size() - before << " of " << count << " arrived";
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(bob->received[before + static_cast<std::size_t>(i)],
                      "alice:" + std::string(phase) + " " + std::to_string(i));
        }
        EXPECT_TRUE(alice->lost.empty() && bob->lost.empty()) << alice->lost << bob->lost;
    }

    ServerProcess tocd;
    std::unique_ptr<Session> alice;
    std::unique_ptr<Session> bob;
    std::int64_t startRss = 0;
};

TEST_F(Hostile, GarbageAndLyingFramesEndOnlyTheirOwnConnection) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::string greeting = "FLAPON\r\n\r\n";
    std::string bigFrame = clientFrame(2, std::string(65535, 'A'), 0);
    const Case cases[] = {
        {"garbage before the greeting", std::string("\x01\x02\xff garbage\0\n\n", 14)},
        {"garbage after the greeting", greeting + "garbage that is not a frame"},
        {"garbage after sign-on", signOnBytes("mallory", "pw") + "\xff\xfe junk"},
        {"length field beyond the command limit",
         greeting + std::string("*\x02\x00\x00\xff\xff", 6)},
        {"64 KiB frame", greeting + bigFrame},
        {"64 KiB frame after sign-on", signOnBytes("trudy", "pw") + bigFrame},
        {"empty command", signOnBytes("oscar", "pw") + clientFrame(2, std::string(1, '\0'), 3)},
        {"unknown frame type", signOnBytes("peggy", "pw") + clientFrame(9, "x", 3)},
        {"zero-length frame before sign-on", greeting + clientFrame(2, "", 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient raw(tocd.port());
        ASSERT_TRUE(raw.ok());
        raw.send(c.bytes);
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(pumpUntil([&] { return raw.closedByServer(); }, 10000))
            << "tocd kept the connection open";
        figure(std::string("close_ms ") + c.name, static_cast<double>(clock.elapsed()));
        expectNothingLost(20, c.name);
    }
    // A frame that promises more than it brings waits only until the sign-on deadline.
    RawClient shortFrame(tocd.port());
    shortFrame.send("FLAPON\r\n\r\n" + std::string("*\x01\x00\x00\x01\x00", 6) + "abc");
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(pumpUntil([&] { return shortFrame.closedByServer(); }, 10000));
    figure("close_ms short frame (login timeout 3 s)", static_cast<double>(clock.elapsed()));
    expectNothingLost(20, "after short frame");
}

TEST_F(Hostile, AClientThatNeverReadsIsCutOffWithBoundedMemory) {
    RawClient slow(tocd.port());
    ASSERT_TRUE(slow.ok());
    slow.shrinkReceiveBuffer();
    slow.send(signOnBytes("slowpoke", "pw"));
    pumpFor(500);

    // bob floods the client that never reads until tocd gives up on it (bounded: 40 MiB).
    const std::string text(1900, 'z');
    std::size_t sent = 0;
    QElapsedTimer clock;
    clock.start();
    std::int64_t peak = 0;
    bool cutOff = false;
    for (int round = 0; round < 400 && !cutOff && clock.elapsed() < 60000; ++round) {
        for (int i = 0; i < 50; ++i) {
            bob->control->SendIM("slowpoke", text, false);
            sent += text.size();
        }
        pumpFor(10);
        peak = std::max(peak, tocd.residentBytes());
        cutOff = std::find(bob->errors.begin(), bob->errors.end(), 901) != bob->errors.end();
    }
    EXPECT_TRUE(cutOff) << "tocd kept queueing for a client that never reads";
    figure("never_reading_bytes_sent_until_cut", static_cast<double>(sent));
    figure("never_reading_ms_until_cut", static_cast<double>(clock.elapsed()));
    figure("never_reading_rss_growth_bytes", static_cast<double>(peak - startRss));
    EXPECT_LT(peak - startRss, kMemoryFactor * (64ll << 20))
        << "memory grew with the queue of a stalled client";
    expectNothingLost(50, "after the stalled client");
}

TEST_F(Hostile, TenThousandHalfOpenConnectionsDoNotStopService) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const int wanted = 10000;
    const int possible = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1u << 20)) - 200;
    const int count = std::min(wanted, possible);
    if (count < wanted)
        std::printf("only %d descriptors available, opening %d half-open connections\n",
                    static_cast<int>(limit.rlim_cur), count);

    const int startDescriptors = tocd.openDescriptors();
    std::vector<std::unique_ptr<RawClient>> halfOpen;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count && clock.elapsed() < 60000; ++i) {
        halfOpen.push_back(std::make_unique<RawClient>(tocd.port(), false));
        // Half of them stop inside the greeting.
        if (i % 2 == 1)
            halfOpen.back()->send("FLAP");
        // Paced so that the listen queue never overflows: every connection reaches tocd.
        if (i % 50 == 49)
            pumpFor(5);
    }
    pumpFor(1000);
    const auto rss = tocd.residentBytes();
    const int peakDescriptors = tocd.openDescriptors();
    figure("half_open_connections", static_cast<double>(halfOpen.size()));
    figure("half_open_rss_growth_bytes", static_cast<double>(rss - startRss));
    figure("half_open_bytes_per_connection",
           static_cast<double>(rss - startRss) / static_cast<double>(halfOpen.size()));
    expectNothingLost(50, "among half-open connections");
    Session late("latecomer");
    EXPECT_TRUE(late.signOn(tocd.port())) << "a new session could not sign on";

    // The sign-on deadline (3 s here) closes every one of them: tocd returns to the
    // descriptors it had before. (A connection the kernel completed with a SYN cookie while
    // the listen queue was full never reached tocd; its client side may stay open.)
    QElapsedTimer closing;
    closing.start();
    const bool released =
        pumpUntil([&] { return tocd.openDescriptors() <= startDescriptors + 2; }, 30000);
    std::size_t closed = 0;
    for (auto& c : halfOpen)
        closed += c->closedByServer() ? 1 : 0;
    figure("half_open_tocd_descriptors_at_peak", peakDescriptors);
    figure("half_open_seconds_until_released", static_cast<double>(closing.elapsed()) / 1000.0);
    figure("half_open_seen_closed_by_clients", static_cast<double>(closed));
    EXPECT_TRUE(released) << tocd.openDescriptors() << " descriptors still open in tocd";
    EXPECT_TRUE(tocd.running()) << "tocd ended while closing the half-open connections";
    if (tocd.running())
        expectNothingLost(20, "after the half-open connections were closed");
    EXPECT_LT(rss - startRss, kMemoryFactor * (256ll << 20));
}

TEST_F(Hostile, AClientSigningOnAHundredTimesASecondIsRefusedNotServed) {
    // One account signs on 100 times a second for 3 seconds, each time on a fresh connection
    // that it drops once answered. Every attempt must be answered: served (SIGN_ON) or refused
    // (983: too often, 913: too many sessions at once).
    int served = 0;
    int tooOften = 0;
    int tooMany = 0;
    int unanswered = 0;
    QElapsedTimer clock;
    clock.start();
    for (int second = 0; second < 3; ++second) {
        std::vector<std::unique_ptr<RawClient>> batch;
        std::vector<std::string> replies(100);
        const auto answer = [&](std::size_t i) {
            if (replies[i].find("SIGN_ON") != std::string::npos)
                return 1;
            if (replies[i].find("ERROR:983") != std::string::npos)
                return 2;
            if (replies[i].find("ERROR:913") != std::string::npos)
                return 3;
            return 0;
        };
        for (int i = 0; i < 100; ++i) {
            batch.push_back(std::make_unique<RawClient>(tocd.port()));
            batch.back()->send(signOnBytes("flooder", "pw"));
            pumpFor(i % 10 == 9 ? 5 : 0);
            for (std::size_t j = 0; j < batch.size(); ++j) {
                if (!batch[j])
                    continue;
                replies[j] += batch[j]->take();
                if (answer(j) != 0)
                    batch[j].reset();
            }
        }
        pumpUntil(
            [&] {
                bool all = true;
                for (std::size_t j = 0; j < batch.size(); ++j) {
                    if (batch[j])
                        replies[j] += batch[j]->take();
                    all = all && answer(j) != 0;
                }
                return all;
            },
            10000);
        for (std::size_t j = 0; j < replies.size(); ++j) {
            const int kind = answer(j);
            served += kind == 1;
            tooOften += kind == 2;
            tooMany += kind == 3;
            unanswered += kind == 0;
        }
        expectNothingLost(10, "during the sign-on flood");
        pumpUntil([&] { return clock.elapsed() >= (second + 1) * 1000; }, 1000);
    }
    figure("flood_signons_per_second", 300.0 * 1000.0 / static_cast<double>(clock.elapsed()));
    figure("flood_signons_served", served);
    figure("flood_signons_refused_983", tooOften);
    figure("flood_signons_refused_913", tooMany);
    figure("flood_rss_growth_bytes", static_cast<double>(tocd.residentBytes() - startRss));
    EXPECT_TRUE(tocd.running());
    EXPECT_GT(tooOften, 0) << "tocd never limited the flood";
    EXPECT_EQ(unanswered, 0) << "sign-ons that got no answer at all";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

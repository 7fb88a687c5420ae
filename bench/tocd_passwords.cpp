// tocd's passwords under load: the time of one hash at each password cost, sign-ons per second
// at each cost, the time sign-ons of another address take while ten addresses each send 100
// sign-ons with the right password and hang up at once, and the IM latency between two sessions
// while 40 accounts, each from an address of its own, guess passwords with toc_change_passwd as
// fast as their command rate allows; against the same latency on the idle server, measured in the
// same run. Prints one "name value" line per figure.
//
//   tocd_passwords [--tocd PATH] [--signons 200] [--seconds 8]
//
// tocd listens on 127.0.0.1; the guessers come from 127.0.0.10 to 127.0.0.49, the flooders from
// 127.0.0.60 to 127.0.0.69 (all loopback).
#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "passwords.h"
#include "server_process.h"
#include "tocd_bench_support.h"

namespace {

using namespace ondrel_bench;

constexpr int kGuessers = 40;
constexpr int kGuessIntervalMs = 50;  // tocd's default command rate: 20 a second
constexpr int kImIntervalMs = 5;
constexpr int kWindow = 16;  // sign-ons under way at once
constexpr int kFloodAddresses = 10;
constexpr int kFloodSignOns = 100;  // per address
// Sign-ons of the uninvolved control during the flood, at least.
constexpr std::size_t kUninvolvedSignOns = 10;

// The machine's load average over the last minute: figures taken on a busy machine say so.
double loadAverage() {
    double load = -1;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1;
        std::fclose(f);
    }
    return load;
}

// Median of `runs` hashes, in milliseconds.
double hashMs(tocd::PasswordCost cost, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = nowNs();
        if (tocd::hashPassword("correct horse", cost).hash.empty())
            return -1;
        ms.push_back(static_cast<double>(nowNs() - start) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Signs every client on; the sign-ons per second, or 0 when one failed.
double signOnRate(std::vector<std::unique_ptr<Client>>& clients, int port) {
    const auto start = nowNs();
    const bool done = signOnAll(clients, port, kWindow, 120000);
    for (const auto& c : clients) {
        if (!c->signedOn && !c->failure.empty())
            std::fprintf(stderr, "tocd_passwords: %s: %s\n", c->name.c_str(), c->failure.c_str());
    }
    const bool all =
        done && std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->signedOn; });
    return all ? static_cast<double>(clients.size()) * 1e9 / static_cast<double>(nowNs() - start)
               : 0;
}

QStringList tocdArgs(const char* cost) {
    return {"--listen",
            "127.0.0.1:0",
            "--password-cost",
            cost,
            "--keepalive",
            "0",
            "--signon-burst",
            "0",
            "--open-registration-rate",
            "0",
            "--waiting-per-address",
            "0"};
}

// Sign-ons per second of accounts that exist: every sign-on checks one hash.
double signOnsPerSecond(const QString& tocdPath, const char* cost, int count) {
    lantry::testing::ServerProcess tocd;
    if (!tocd.start(tocdPath, tocdArgs(cost), true))
        return 0;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<Client>("so" + std::to_string(i)));
    if (signOnRate(clients, tocd.port()) == 0)  // creates the accounts
        return 0;
    for (auto& c : clients)
        c = std::make_unique<Client>(c->name);
    runFor(500);
    return signOnRate(clients, tocd.port());
}

// The whole sign-on of `name` (password "secret") as a client sends it at once.
std::string signOnBytes(const std::string& name) {
    std::string signOn("\0\0\0\1\0\1", 6);
    signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size())) + name;
    std::string out = "FLAPON\r\n\r\n";
    lantry::wire::appendFrame(out, 1, 0, signOn);
    const std::string login = "toc2_login login.oscar.aol.com 5190 " + name + " " +
                              lantry::wire::roastPassword("secret") +
                              " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
    lantry::wire::appendFrame(out, 2, 1, login + '\0');
    return out;
}

// From 127.0.0.`host`: `count` connections one after another, each sending a whole sign-on
// and closing at once.
void signOnAndHangUp(int port, int host, const std::string& name, int count) {
    const std::string bytes = signOnBytes(name);
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl((127u << 24) | static_cast<std::uint32_t>(host));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
            ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }
}

// tocd at its default cost and limits (but account creation). Ten addresses each send
// kFloodSignOns sign-ons of an account of their own with the right password, hanging up at
// once; meanwhile a control from 127.0.0.1 signs on and off again, from the flood's start.
// Figures: the slowest and the median of those sign-ons, how many there were, and how long the
// flood took to send. False when one of them failed.
bool signOnDuringFlood(const QString& tocdPath) {
    lantry::testing::ServerProcess tocd;
    if (!tocd.start(
            tocdPath,
            {"--listen", "127.0.0.1:0", "--keepalive", "0", "--open-registration-rate", "0"},
            true)) {
        return false;
    }
    std::vector<std::unique_ptr<Client>> accounts;
    for (int i = 0; i < kFloodAddresses; ++i)
        accounts.push_back(std::make_unique<Client>("flood" + std::to_string(i)));
    accounts.push_back(std::make_unique<Client>("calm"));
    if (signOnRate(accounts, tocd.port()) == 0)
        return false;
    for (auto& c : accounts)
        c->control->LogOff();
    runFor(500);
    std::atomic<int> flooding{kFloodAddresses};
    std::vector<std::int64_t> floodEndNs(kFloodAddresses);
    const std::int64_t start = nowNs();
    std::vector<std::thread> flooders;
    for (int i = 0; i < kFloodAddresses; ++i) {
        flooders.emplace_back([&, i, port = tocd.port()] {
            signOnAndHangUp(port, 60 + i, "flood" + std::to_string(i), kFloodSignOns);
            floodEndNs[static_cast<std::size_t>(i)] = nowNs();
            --flooding;
        });
    }
    // The flood is sent in a few tens of milliseconds, but tocd works through it for longer:
    // the control keeps signing on from the flood's start until it was sent, and at least
    // kUninvolvedSignOns times.
    std::vector<double> ms;
    bool failed = false;
    while ((flooding > 0 || ms.size() < kUninvolvedSignOns) && !failed) {
        Client calm("calm");
        const std::int64_t calmStart = nowNs();
        calm.control->Login("calm", "secret", "127.0.0.1", tocd.port());
        failed = !runUntil([&] { return calm.signedOn || !calm.failure.empty(); }, 60000) ||
                 !calm.signedOn;
        if (failed)
            std::fprintf(stderr, "tocd_passwords: calm: %s\n", calm.failure.c_str());
        ms.push_back(static_cast<double>(nowNs() - calmStart) / 1e6);
        calm.control->LogOff();
        runFor(200);
    }
    for (auto& t : flooders)
        t.join();
    std::sort(ms.begin(), ms.end());
    figure("flood_signons_sent", kFloodAddresses * kFloodSignOns);
    figure(
        "flood_send_ms",
        static_cast<double>(*std::max_element(floodEndNs.begin(), floodEndNs.end()) - start) / 1e6);
    figure("flood_uninvolved_signons", static_cast<double>(ms.size()));
    figure("flood_uninvolved_signon_median_ms", ms[ms.size() / 2]);
    figure("flood_uninvolved_signon_max_ms", failed ? -1 : ms.back());
    return !failed;
}

// A session that guesses the old password of its own account from 127.0.0.`10 + index`, one
// guess every kGuessIntervalMs once started and signed on.
class Guesser {
public:
    Guesser(int port, int index)
        : session_("guesser" + std::to_string(index), port,
                   "ERROR:", QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + index))) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (session_.signedOn)
                session_.command("toc_change_passwd guess" + std::to_string(session_.sent) +
                                 " new");
        });
    }
    void start() { timer_.start(kGuessIntervalMs); }
    bool online() const { return session_.signedOn; }
    int guesses() const { return session_.sent; }
    int answers() const { return session_.countedReplies; }

private:
    RawSession session_;
    QTimer timer_;
};

// alice sends bob an IM every kImIntervalMs for `ms`; bob's latencies from this phase only.
Latencies imLatencies(Client& alice, Client& bob, int ms) {
    Latencies latency;
    bob.onIm = [&](const std::string& text) { latency.ns.push_back(nowNs() - sentAt(text)); };
    int sent = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { alice.control->SendIM(bob.name, imText(sent++), false); });
    timer.start(kImIntervalMs);
    runFor(ms);
    timer.stop();
    runFor(200);
    bob.onIm = nullptr;
    return latency;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString tocdPath = QStringLiteral(TOCD_PATH);
    int signons = 200;
    int seconds = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--tocd"))
            tocdPath = args[i + 1];
        else if (args[i] == QLatin1String("--signons"))
            signons = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[i + 1].toInt());
    }
    if (!tocd::initPasswordHashing())
        return 1;
    figure("load_average_at_start", loadAverage());
    figure("hash_ms_standard", hashMs(tocd::PasswordCost::Standard, 19));
    figure("hash_ms_interactive", hashMs(tocd::PasswordCost::Interactive, 9));
    figure("hash_ms_min", hashMs(tocd::PasswordCost::Minimum, 99));
    figure("signons_per_second_standard", signOnsPerSecond(tocdPath, "standard", signons));
    figure("signons_per_second_interactive", signOnsPerSecond(tocdPath, "interactive", signons));
    figure("signons_per_second_min", signOnsPerSecond(tocdPath, "min", signons * 5));
    if (!signOnDuringFlood(tocdPath))
        std::fprintf(stderr, "tocd_passwords: no sign-on during the flood\n");

    // The guessing flood, against tocd at its default cost and limits (but account creation
    // and the time to sign on, for the 42 accounts of the run on a machine that may be busy).
    lantry::testing::ServerProcess tocd;
    if (!tocd.start(tocdPath,
                    {"--listen", "127.0.0.1:0", "--keepalive", "0", "--open-registration-rate", "0",
                     "--login-timeout", "600"},
                    true)) {
        std::fprintf(stderr, "tocd_passwords: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    std::vector<std::unique_ptr<Client>> pair;
    pair.push_back(std::make_unique<Client>("alice"));
    pair.push_back(std::make_unique<Client>("bob"));
    if (signOnRate(pair, tocd.port()) == 0) {
        std::fprintf(stderr, "tocd_passwords: alice and bob could not sign on\n");
        return 1;
    }
    runFor(500);
    auto idle = imLatencies(*pair[0], *pair[1], seconds * 1000);
    const double idleP99 = idle.percentileUs(0.99);
    std::vector<std::unique_ptr<Guesser>> guessers;
    for (int i = 0; i < kGuessers; ++i)
        guessers.push_back(std::make_unique<Guesser>(tocd.port(), i));
    const bool online = runUntil(
        [&] {
            return std::all_of(guessers.begin(), guessers.end(),
                               [](auto& g) { return g->online(); });
        },
        180000);
    if (!online) {
        std::fprintf(stderr, "tocd_passwords: the guessers could not sign on\n");
        return 1;
    }
    runFor(500);
    for (auto& g : guessers)
        g->start();
    auto flood = imLatencies(*pair[0], *pair[1], seconds * 1000);
    const double floodP99 = flood.percentileUs(0.99);
    int guesses = 0;
    int answers = 0;
    for (auto& g : guessers) {
        guesses += g->guesses();
        answers += g->answers();
    }
    figure("guessing_accounts", kGuessers);
    figure("guessing_guesses_sent", guesses);
    figure("guessing_guesses_answered", answers);
    figure("guessing_ims_delivered", static_cast<double>(flood.ns.size()));
    figure("im_latency_idle_p50_us", idle.percentileUs(0.5));
    figure("im_latency_idle_p99_us", idleP99);
    figure("im_latency_guessing_p50_us", flood.percentileUs(0.5));
    figure("im_latency_guessing_p99_us", floodP99);
    figure("im_latency_guessing_to_idle_p99", idleP99 > 0 ? floodP99 / idleP99 : 0);
    figure("load_average_at_end", loadAverage());
    return 0;
}

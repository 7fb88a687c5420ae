// tocd's passwords under load: the time of one hash at each password cost, sign-ons per second
// at each cost, and the IM latency between two sessions while 40 accounts, each from an address
// of its own, guess passwords with toc_change_passwd as fast as their command rate allows;
// against the same latency on the idle server, measured in the same run. Prints one
// "name value" line per figure.
//
//   tocd_passwords [--tocd PATH] [--signons 200] [--seconds 8]
//
// tocd listens on 127.0.0.1; the guessers come from 127.0.0.10 to 127.0.0.49 (all loopback).
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
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
    figure("hash_ms_interactive", hashMs(tocd::PasswordCost::Interactive, 9));
    figure("hash_ms_min", hashMs(tocd::PasswordCost::Minimum, 99));
    figure("signons_per_second_interactive", signOnsPerSecond(tocdPath, "interactive", signons));
    figure("signons_per_second_min", signOnsPerSecond(tocdPath, "min", signons * 5));

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

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
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "passwords.h"
#include "server_process.h"

namespace {

constexpr int kGuessers = 40;
constexpr int kGuessIntervalMs = 50;  // tocd's default command rate: 20 a second
constexpr int kImIntervalMs = 5;
constexpr int kWindow = 16;  // sign-ons under way at once

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void runFor(int ms) {
    runUntil([] { return false; }, ms);
}

void figure(const char* name, double value) {
    std::printf("%s %.10g\n", name, value);
    std::fflush(stdout);
}

double percentileUs(std::vector<std::int64_t> ns, double p) {
    if (ns.empty())
        return 0;
    std::sort(ns.begin(), ns.end());
    return static_cast<double>(
               ns[static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1))]) /
           1000.0;
}

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

class Client final : public lantry::__Ondrel {
public:
    explicit Client(std::string name)
        : name(std::move(name)),
          control(std::make_unique<lantry::Ondrel>(std::make_unique<lantry::QtSocket>(), this)) {}
    void LoggedIn(std::string, lantry::Collection&, lantry::Collection&, lantry::Collection&,
                  lantry::Collection&, std::string, std::int16_t) override {
        settled = signedOn = true;
    }
    void WinsockError(std::string& text) override { fail(text); }
    void Error(std::int16_t& code, std::string& text) override {
        fail(std::to_string(code) + " " + text);
    }
    void InstantMessage(std::string&, std::string& text, bool&, std::string&) override {
        latencies.push_back(nowNs() - std::atoll(text.c_str()));
    }

    std::string name;
    std::unique_ptr<lantry::Ondrel> control;
    bool settled = false;
    bool signedOn = false;
    std::vector<std::int64_t> latencies;

private:
    void fail(const std::string& text) {
        if (!settled)
            std::fprintf(stderr, "tocd_passwords: %s: %s\n", name.c_str(), text.c_str());
        settled = true;
    }
};

// Signs every client on, kWindow at a time; the sign-ons per second, or 0 when one failed.
double signOnAll(std::vector<std::unique_ptr<Client>>& clients, int port) {
    const auto start = nowNs();
    std::size_t next = 0;
    const bool done = runUntil(
        [&] {
            const auto pending = [&] {
                return std::count_if(clients.begin(), clients.begin() + static_cast<long>(next),
                                     [](auto& c) { return !c->settled; });
            };
            for (auto n = pending(); n < kWindow && next < clients.size(); ++n, ++next)
                clients[next]->control->Login(clients[next]->name, "secret", "127.0.0.1", port);
            return next == clients.size() && pending() == 0;
        },
        120000);
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
    if (signOnAll(clients, tocd.port()) == 0)  // creates the accounts
        return 0;
    for (auto& c : clients)
        c = std::make_unique<Client>(c->name);
    runFor(500);
    return signOnAll(clients, tocd.port());
}

// A session that guesses the old password of its own account from 127.0.0.`host`.
class Guesser {
public:
    Guesser(int port, int index) : name_("guesser" + std::to_string(index)) {
        socket_.bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(10 + index)));
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
            const QByteArray in = socket_.readAll();
            answers_ += in.count("ERROR:");
            if (!online_ && in.contains("SIGN_ON:"))
                online_ = true;
        });
        std::string signOn("\0\0\0\1\0\1", 6);
        signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name_.size())) + name_;
        send(1, signOn);
        send(2, "toc2_login login.oscar.aol.com 5190 " + name_ + " " +
                    lantry::wire::roastPassword("secret") +
                    " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1" + '\0');
        socket_.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        socket_.write("FLAPON\r\n\r\n");
        socket_.write(pending_.data(), static_cast<qint64>(pending_.size()));
        pending_.clear();
        QObject::connect(&timer_, &QTimer::timeout, &socket_, [this] {
            if (!online_)
                return;
            send(2, "toc_change_passwd guess" + std::to_string(guesses_++) + " new" + '\0');
            socket_.write(pending_.data(), static_cast<qint64>(pending_.size()));
            pending_.clear();
        });
    }
    void start() { timer_.start(kGuessIntervalMs); }
    bool online() const { return online_; }
    int guesses() const { return guesses_; }
    int answers() const { return answers_; }

private:
    void send(std::uint8_t type, const std::string& payload) {
        lantry::wire::appendFrame(pending_, type, sequence_++, payload);
    }

    std::string name_;
    QTcpSocket socket_;
    QTimer timer_;
    std::string pending_;
    std::uint16_t sequence_ = 0;
    bool online_ = false;
    int guesses_ = 0;
    int answers_ = 0;
};

// alice sends bob an IM every kImIntervalMs for `ms`; bob's latencies from this phase only.
std::vector<std::int64_t> imLatencies(Client& alice, Client& bob, int ms) {
    bob.latencies.clear();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        std::string text = std::to_string(nowNs()) + " ";
        text.resize(48, 'x');
        alice.control->SendIM(bob.name, text, false);
    });
    timer.start(kImIntervalMs);
    runFor(ms);
    timer.stop();
    runFor(200);
    return bob.latencies;
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
    if (signOnAll(pair, tocd.port()) == 0) {
        std::fprintf(stderr, "tocd_passwords: alice and bob could not sign on\n");
        return 1;
    }
    runFor(500);
    const auto idle = imLatencies(*pair[0], *pair[1], seconds * 1000);
    const double idleP99 = percentileUs(idle, 0.99);
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
    const auto flood = imLatencies(*pair[0], *pair[1], seconds * 1000);
    const double floodP99 = percentileUs(flood, 0.99);
    int guesses = 0;
    int answers = 0;
    for (auto& g : guessers) {
        guesses += g->guesses();
        answers += g->answers();
    }
    figure("guessing_accounts", kGuessers);
    figure("guessing_guesses_sent", guesses);
    figure("guessing_guesses_answered", answers);
    figure("guessing_ims_delivered", static_cast<double>(flood.size()));
    figure("im_latency_idle_p50_us", percentileUs(idle, 0.5));
    figure("im_latency_idle_p99_us", idleP99);
    figure("im_latency_guessing_p50_us", percentileUs(flood, 0.5));
    figure("im_latency_guessing_p99_us", floodP99);
    figure("im_latency_guessing_to_idle_p99", idleP99 > 0 ? floodP99 / idleP99 : 0);
    figure("load_average_at_end", loadAverage());
    return 0;
}

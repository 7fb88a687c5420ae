// Load generator for tocd, built on the control itself: signs on many sessions at once, then
// sends instant messages between pairs of sessions, and measures a plain TCP echo of the same
// bytes in the same run as the baseline. Prints one "name value" line per figure.
//
//   tocd_load [--tocd PATH] [--sessions 2000] [--pairs 50] [--messages 1000] [--window 16]
//             [--timeout 120]
//   tocd_load --echo-server      (the baseline's server; started by the generator itself)
//   tocd_load --im-under-attack SECONDS [--tocd PATH]
//             IM latency between two well-behaved sessions on an idle tocd, then while one
//             account attacks with the buddy-list commands at the command rate tocd allows
//             (each phase SECONDS long, tocd at its default limits)
//
// Every phase is bounded by --timeout seconds; tocd and the echo server listen on 127.0.0.1
// only and are stopped at the end.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
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
#include "server_process.h"

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Options {
    QString tocd = QStringLiteral(TOCD_PATH);
    int sessions = 2000;
    int pairs = 50;
    int messages = 1000;
    int window = 16;
    int timeoutSeconds = 120;
};

// Runs the event loop until `done` or the phase's time is up; false on timeout.
bool runUntil(const std::function<bool()>& done, int timeoutSeconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutSeconds * 1000LL)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// The message text: sequence and send time, padded to a typical length.
std::string imText(int sequence) {
    std::string text = std::to_string(sequence) + " " + std::to_string(nowNs()) + " ";
    text.resize(std::max<std::size_t>(text.size(), 48), 'x');
    return text;
}

std::int64_t sentAt(const std::string& text) {
    const auto space = text.find(' ');
    return space == std::string::npos ? 0 : std::atoll(text.c_str() + space + 1);
}

class Client final : public lantry::__Ondrel {
public:
    explicit Client(std::string name)
        : name(std::move(name)),
          control(std::make_unique<lantry::Ondrel>(std::make_unique<lantry::QtSocket>(), this)) {}

    void LoggedIn(std::string, lantry::Collection&, lantry::Collection&, lantry::Collection&,
                  lantry::Collection&, std::string, std::int16_t) override {
        if (signedOn)
            return;
        signedOn = true;
        if (onSettled)
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
    void failWith(const std::string& text) {
        const bool first = failure.empty() && !signedOn;
        failure = text;
        if (first && onSettled)
            onSettled();
    }
};

struct Latencies {
    std::vector<std::int64_t> ns;
    double percentileUs(double p) {
        if (ns.empty())
            return 0;
        std::sort(ns.begin(), ns.end());
        const auto i = static_cast<std::size_t>(p * static_cast<double>(ns.size() - 1));
        return static_cast<double>(ns[i]) / 1000.0;
    }
};

void figure(const char* name, double value) {
    std::printf("%s %.10g\n", name, value);
    std::fflush(stdout);
}

int echoServer() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    std::printf("echo listening on 127.0.0.1:%u\n", server.serverPort());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// Phase 1: every session signs on; at most 200 connections are being set up at a time.
bool signOnAll(std::vector<std::unique_ptr<Client>>& clients, int port, int timeoutSeconds) {
    std::size_t next = 0;
    int pending = 0;
    int settled = 0;
    std::function<void()> launch = [&] {
        while (pending < 200 && next < clients.size()) {
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
    return runUntil([&] { return settled == static_cast<int>(clients.size()); }, timeoutSeconds);
}

// Phase 2: `pairs` senders each send `messages` IMs to their partner, `window` in flight.
bool exchangeIms(std::vector<std::unique_ptr<Client>>& clients, const Options& o,
                 Latencies& latency, double& seconds) {
    struct Pair {
        Client* from;
        Client* to;
        int sent = 0;
        int received = 0;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < o.pairs; ++i)
        pairs.push_back({clients[i].get(), clients[i + o.pairs].get()});
    int delivered = 0;
    const auto pump = [&](Pair& p) {
        while (p.sent < o.messages && p.sent - p.received < o.window)
            p.from->control->SendIM(p.to->name, imText(p.sent++), false);
    };
    for (auto& p : pairs) {
        p.to->onIm = [&, pp = &p](const std::string& text) {
            latency.ns.push_back(nowNs() - sentAt(text));
            ++pp->received;
            ++delivered;
            pump(*pp);
        };
    }
    const auto start = nowNs();
    for (auto& p : pairs)
        pump(p);
    const bool ok = runUntil([&] { return delivered == o.pairs * o.messages; }, o.timeoutSeconds);
    seconds = static_cast<double>(nowNs() - start) / 1e9;
    return ok;
}

// Phase 3, the baseline: the same frames through a plain TCP echo, `window` in flight.
bool echoSameBytes(const Options& o, int port, Latencies& latency, double& seconds) {
    struct Peer {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray input;
        int sent = 0;
        int received = 0;
    };
    std::vector<Peer> peers(static_cast<std::size_t>(o.pairs));
    int connected = 0;
    int delivered = 0;
    std::uint16_t sequence = 0;
    const auto pump = [&](Peer& p) {
        std::string out;
        while (p.sent < o.messages && p.sent - p.received < o.window) {
            const std::string line = "toc_send_im \"ld00000001\" \"" + imText(p.sent++) + "\"";
            lantry::wire::appendFrame(out, 2, sequence++, line + '\0');
        }
        p.socket->write(out.data(), static_cast<qint64>(out.size()));
    };
    for (auto& p : peers) {
        p.socket = std::make_unique<QTcpSocket>();
        Peer* pp = &p;
        QObject::connect(p.socket.get(), &QTcpSocket::connected, [&] { ++connected; });
        QObject::connect(p.socket.get(), &QTcpSocket::readyRead, [&, pp] {
            pp->input += pp->socket->readAll();
            std::string_view rest(pp->input.constData(),
                                  static_cast<std::size_t>(pp->input.size()));
            std::size_t used = 0;
            while (rest.size() >= 6 && rest.size() >= lantry::wire::frameLength(rest)) {
                const auto length = lantry::wire::frameLength(rest);
                const std::string line(rest.substr(6, length - 7));
                const auto quote = line.find("\" \"");
                latency.ns.push_back(nowNs() - sentAt(line.substr(quote + 3)));
                ++pp->received;
                ++delivered;
                rest.remove_prefix(length);
                used += length;
            }
            pp->input.remove(0, static_cast<qsizetype>(used));
            pump(*pp);
        });
        p.socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    }
    if (!runUntil([&] { return connected == o.pairs; }, o.timeoutSeconds))
        return false;
    const auto start = nowNs();
    for (auto& p : peers)
        pump(p);
    const bool ok = runUntil([&] { return delivered == o.pairs * o.messages; }, o.timeoutSeconds);
    seconds = static_cast<double>(nowNs() - start) / 1e9;
    return ok;
}

// One session of the attacking account on a raw socket: it signs on, then sends one command per
// tick and reads (and drops) whatever tocd sends, so that it is never cut off for not reading.
class AttackSession {
public:
    AttackSession(const std::string& account, int port) {
        QObject::connect(&socket_, &QTcpSocket::readyRead, [this] {
            const QByteArray data = socket_.readAll();
            if (data.contains("SIGN_ON:"))
                signedOn = true;
            refused += static_cast<int>(data.count("ERROR:903"));
            received += data.size();
        });
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
    int sent = 0;
    int refused = 0;  // ERROR:903, over the command rate
    qint64 received = 0;

private:
    QTcpSocket socket_;
    std::uint16_t sequence_ = 0;
};

// The buddy-list commands of an attack, as long as tocd takes them: toc2_remove_buddy and
// toc2_new_buddies, each with as many names of `names` as fit in one command.
std::vector<std::string> attackCommands(const std::vector<std::string>& names,
                                        const std::string& group) {
    constexpr std::size_t kRoom = lantry::Ondrel::kMaxCommandPayload - 1;  // its NUL
    std::vector<std::string> out;
    for (std::size_t first = 0; first < names.size();) {
        std::string remove = "toc2_remove_buddy";
        std::string add = "toc2_new_buddies \"{g:" + group + "\n";
        std::size_t next = first;
        while (next < names.size() &&
               remove.size() + names[next].size() + 3 + group.size() + 3 <= kRoom &&
               add.size() + names[next].size() + 3 + 2 <= kRoom) {
            remove += " \"" + names[next] + "\"";
            add += "b:" + names[next] + "\n";
            ++next;
        }
        out.push_back(remove + " \"" + group + "\"");
        out.push_back(add + "}\"");
        first = next;
    }
    return out;
}

// IMs from one calm session to another, 10 a second (half tocd's default command rate) for
// `seconds`; true when all arrived.
bool calmIms(Client& from, Client& to, int seconds, Latencies& latency) {
    constexpr int kPerSecond = 10;
    int sent = 0;
    int received = 0;
    to.onIm = [&](const std::string& text) {
        latency.ns.push_back(nowNs() - sentAt(text));
        ++received;
    };
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (sent < seconds * kPerSecond)
            from.control->SendIM(to.name, imText(sent++), false);
    });
    pace.start(1000 / kPerSecond);
    const bool ok = runUntil([&] { return received == seconds * kPerSecond; }, seconds + 30);
    to.onIm = nullptr;
    return ok;
}

int imUnderAttack(const Options& o, int seconds) {
    lantry::testing::ServerProcess tocd;
    // The command limits stay at their defaults; sign-ons are not measured here.
    if (!tocd.start(o.tocd,
                    {"--listen", "127.0.0.1:0", "--keepalive", "0", "--password-cost", "min",
                     "--open-registration-rate", "0"},
                    true)) {
        std::fprintf(stderr, "tocd_load: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    Client calm1("calmone"), calm2("calmtwo");
    for (Client* c : {&calm1, &calm2})
        c->control->Login(c->name, "secret", "127.0.0.1", tocd.port());
    if (!runUntil([&] { return calm1.signedOn && calm2.signedOn; }, o.timeoutSeconds)) {
        std::fprintf(stderr, "tocd_load: the calm sessions did not sign on\n");
        return 1;
    }
    Latencies idle;
    const bool idleOk = calmIms(calm1, calm2, seconds, idle);

    // The attack: five sessions of one account, 499 buddies named up to the longest name tocd
    // allows (16 characters padded with blanks to 32 bytes), each session removing and adding
    // back its share of them, one command per tick at the sustained command rate.
    constexpr int kSessions = 5;
    constexpr int kBuddies = 499;
    constexpr int kCommandsPerSecond = 20;  // tocd's default --rate-per-second
    std::vector<std::unique_ptr<AttackSession>> attackers;
    for (int i = 0; i < kSessions; ++i) {
        // One at a time: the first creates the account.
        attackers.push_back(std::make_unique<AttackSession>("attacker", tocd.port()));
        if (!runUntil([&] { return attackers.back()->signedOn; }, o.timeoutSeconds)) {
            std::fprintf(stderr, "tocd_load: the attacking sessions did not sign on\n");
            return 1;
        }
    }
    std::vector<std::vector<std::string>> scripts(kSessions);
    for (int i = 0; i < kSessions; ++i) {
        std::vector<std::string> names;
        for (int b = i; b < kBuddies; b += kSessions) {
            const std::string digits = std::to_string(100000000 + b);
            names.push_back("z" + std::string(32 - 1 - digits.size(), ' ') + digits);
        }
        scripts[i] = attackCommands(names, "Attack" + std::to_string(i));
    }
    // First every buddy goes in (the odd commands add), then removals and additions alternate.
    std::size_t tick = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        for (int i = 0; i < kSessions; ++i) {
            const auto& script = scripts[i];
            const std::size_t fill = script.size() / 2;
            attackers[i]->command(tick < fill ? script[2 * tick + 1]
                                              : script[(tick - fill) % script.size()]);
        }
        ++tick;
    });
    pace.start(1000 / kCommandsPerSecond);
    runUntil([] { return false; }, 2);  // the list fills up and the attack reaches its pace
    Latencies attacked;
    const int sentBefore = attackers[0]->sent;
    const auto attackStart = nowNs();
    const double cpuBefore = tocd.cpuSeconds();
    const bool attackedOk = calmIms(calm1, calm2, seconds, attacked);
    const double attackSeconds = static_cast<double>(nowNs() - attackStart) / 1e9;
    const double attackCommands = kSessions * (attackers[0]->sent - sentBefore);
    const double cpuPerCommand = (tocd.cpuSeconds() - cpuBefore) / attackCommands;
    pace.stop();

    int sent = 0, refused = 0;
    qint64 received = 0;
    for (const auto& a : attackers) {
        sent += a->sent;
        refused += a->refused;
        received += a->received;
    }
    const double idleP99 = idle.percentileUs(0.99);
    const double attackedP99 = attacked.percentileUs(0.99);
    figure("attack_sessions", kSessions);
    figure("attack_buddies", kBuddies);
    figure("attack_commands_per_session_per_second",
           (attackers[0]->sent - sentBefore) / attackSeconds);
    figure("tocd_cpu_us_per_attack_command", cpuPerCommand * 1e6);
    figure("attack_commands_sent", sent);
    figure("attack_commands_refused_903", refused);
    figure("attack_bytes_received", static_cast<double>(received));
    figure("calm_ims_idle", static_cast<double>(idle.ns.size()));
    figure("calm_im_latency_idle_p50_us", idle.percentileUs(0.50));
    figure("calm_im_latency_idle_p99_us", idleP99);
    figure("calm_ims_under_attack", static_cast<double>(attacked.ns.size()));
    figure("calm_im_latency_attack_p50_us", attacked.percentileUs(0.50));
    figure("calm_im_latency_attack_p99_us", attackedP99);
    figure("calm_im_latency_attack_max_us", attacked.percentileUs(1.0));
    figure("calm_im_p99_attack_to_idle_ratio", attackedP99 / idleP99);
    if (!idleOk || !attackedOk) {
        std::fprintf(stderr, "tocd_load: calm IMs were lost or late past the timeout\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    int attackSeconds = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--echo-server"))
            return echoServer();
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tocd_load: %s needs a value\n", qPrintable(a));
            return 2;
        }
        const QString v = args[++i];
        if (a == QLatin1String("--tocd"))
            o.tocd = v;
        else if (a == QLatin1String("--sessions"))
            o.sessions = v.toInt();
        else if (a == QLatin1String("--pairs"))
            o.pairs = v.toInt();
        else if (a == QLatin1String("--messages"))
            o.messages = v.toInt();
        else if (a == QLatin1String("--window"))
            o.window = v.toInt();
        else if (a == QLatin1String("--timeout"))
            o.timeoutSeconds = v.toInt();
        else if (a == QLatin1String("--im-under-attack"))
            attackSeconds = v.toInt();
        else {
            std::fprintf(stderr, "tocd_load: unknown option %s\n", qPrintable(a));
            return 2;
        }
    }
    if (o.sessions < 2 || o.pairs < 1 || 2 * o.pairs > o.sessions || o.messages < 1 ||
        o.window < 1 || o.timeoutSeconds < 1) {
        std::fprintf(stderr, "tocd_load: needs sessions >= 2 x pairs, and positive numbers\n");
        return 2;
    }
    if (attackSeconds > 0)
        return imUnderAttack(o, attackSeconds);

    lantry::testing::ServerProcess tocd;
    if (!tocd.start(o.tocd,
                    {"--listen", "127.0.0.1:0", "--signon-burst", "0", "--rate-burst", "0",
                     "--keepalive", "0", "--password-cost", "min", "--open-registration-rate", "0",
                     "--waiting-per-address", "0"},
                    true)) {
        std::fprintf(stderr, "tocd_load: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    const auto idleRss = tocd.residentBytes();

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < o.sessions; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "ld%08d", i);
        clients.push_back(std::make_unique<Client>(name));
    }
    const auto signOnStart = nowNs();
    const bool allSettled = signOnAll(clients, tocd.port(), o.timeoutSeconds);
    const double signOnSeconds = static_cast<double>(nowNs() - signOnStart) / 1e9;
    const auto signedOn =
        std::count_if(clients.begin(), clients.end(), [](const auto& c) { return c->signedOn; });
    for (const auto& c : clients) {
        if (!c->failure.empty()) {
            std::fprintf(stderr, "tocd_load: %s: %s\n", c->name.c_str(), c->failure.c_str());
            break;
        }
    }
    runUntil([] { return false; }, 1);  // let presence settle before measuring
    const auto sessionsRss = tocd.residentBytes();
    figure("sessions_requested", o.sessions);
    figure("sessions_signed_on", static_cast<double>(signedOn));
    figure("signon_seconds", signOnSeconds);
    figure("tocd_rss_idle_bytes", static_cast<double>(idleRss));
    figure("tocd_rss_with_sessions_bytes", static_cast<double>(sessionsRss));
    figure("tocd_bytes_per_session", static_cast<double>(sessionsRss - idleRss) /
                                         static_cast<double>(std::max<long>(signedOn, 1)));
    if (!allSettled || signedOn != o.sessions) {
        std::fprintf(stderr, "tocd_load: not every session signed on\n");
        return 1;
    }

    Latencies imLatency;
    double imSeconds = 0;
    const bool imOk = exchangeIms(clients, o, imLatency, imSeconds);
    const double imCount = static_cast<double>(imLatency.ns.size());
    figure("im_pairs", o.pairs);
    figure("im_delivered", imCount);
    figure("im_seconds", imSeconds);
    figure("im_per_second", imCount / imSeconds);
    figure("im_latency_p50_us", imLatency.percentileUs(0.50));
    figure("im_latency_p99_us", imLatency.percentileUs(0.99));
    figure("tocd_rss_peak_bytes", static_cast<double>(tocd.peakResidentBytes()));
    clients.clear();
    tocd.stop();

    lantry::testing::ServerProcess echo;
    if (!echo.start(QCoreApplication::applicationFilePath(), {"--echo-server"})) {
        std::fprintf(stderr, "tocd_load: echo server %s\n", qPrintable(echo.errorText()));
        return 1;
    }
    Latencies echoLatency;
    double echoSeconds = 0;
    const bool echoOk = echoSameBytes(o, echo.port(), echoLatency, echoSeconds);
    const double echoCount = static_cast<double>(echoLatency.ns.size());
    figure("echo_delivered", echoCount);
    figure("echo_seconds", echoSeconds);
    figure("echo_per_second", echoCount / echoSeconds);
    figure("echo_latency_p50_us", echoLatency.percentileUs(0.50));
    figure("echo_latency_p99_us", echoLatency.percentileUs(0.99));
    figure("im_to_echo_ratio", (imCount / imSeconds) / (echoCount / echoSeconds));
    if (!imOk || !echoOk) {
        std::fprintf(stderr, "tocd_load: a phase ran out of time\n");
        return 1;
    }
    return 0;
}

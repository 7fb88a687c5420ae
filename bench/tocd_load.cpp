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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/ondrel.h"
#include "ondrel/wire.h"
#include "server_process.h"
#include "tocd_bench_support.h"

namespace {

using namespace ondrel_bench;

constexpr int kSignOnWindow = 200;  // connections being set up at a time

struct Options {
    QString tocd = QStringLiteral(TOCD_PATH);
    int sessions = 2000;
    int pairs = 50;
    int messages = 1000;
    int window = 16;
    int timeoutSeconds = 120;

    std::int64_t timeoutMs() const { return timeoutSeconds * 1000LL; }
};

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
    const bool ok = runUntil([&] { return delivered == o.pairs * o.messages; }, o.timeoutMs());
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
    if (!runUntil([&] { return connected == o.pairs; }, o.timeoutMs()))
        return false;
    const auto start = nowNs();
    for (auto& p : peers)
        pump(p);
    const bool ok = runUntil([&] { return delivered == o.pairs * o.messages; }, o.timeoutMs());
    seconds = static_cast<double>(nowNs() - start) / 1e9;
    return ok;
}

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
    const bool ok =
        runUntil([&] { return received == seconds * kPerSecond; }, (seconds + 30) * 1000LL);
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
    if (!runUntil([&] { return calm1.signedOn && calm2.signedOn; }, o.timeoutMs())) {
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
    std::vector<std::unique_ptr<RawSession>> attackers;
    for (int i = 0; i < kSessions; ++i) {
        // One at a time: the first creates the account.
        attackers.push_back(std::make_unique<RawSession>("attacker", tocd.port(), "ERROR:903"));
        if (!runUntil([&] { return attackers.back()->signedOn; }, o.timeoutMs())) {
            std::fprintf(stderr, "tocd_load: the attacking sessions did not sign on\n");
            return 1;
        }
    }
    std::vector<std::vector<std::string>> scripts(kSessions);
    for (int i = 0; i < kSessions; ++i) {
        std::vector<std::string> names;
        for (int b = i; b < kBuddies; b += kSessions) {
            const std::string digits = std::to_string(100000000 + b);
            std::string name = "z";
            name.append(31 - digits.size(), ' ').append(digits);
            names.push_back(name);
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
    runFor(2000);  // the list fills up and the attack reaches its pace
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
        refused += a->countedReplies;  // ERROR:903, over the command rate
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
    // Phase 1: every session signs on.
    const auto signOnStart = nowNs();
    const bool allSettled = signOnAll(clients, tocd.port(), kSignOnWindow, o.timeoutMs());
    const double signOnSeconds = static_cast<double>(nowNs() - signOnStart) / 1e9;
    const auto signedOn =
        std::count_if(clients.begin(), clients.end(), [](const auto& c) { return c->signedOn; });
    for (const auto& c : clients) {
        if (!c->failure.empty()) {
            std::fprintf(stderr, "tocd_load: %s: %s\n", c->name.c_str(), c->failure.c_str());
            break;
        }
    }
    runFor(1000);  // let presence settle before measuring
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

// Load generator for tocd, built on the control itself: signs on many sessions at once (those
// that stay silent on plain sockets), then sends instant messages between pairs of sessions, and
// measures a plain TCP echo of the same bytes in the same run as the baseline. Prints one "name
// value" line per figure.
//
//   tocd_load [--tocd PATH] [--sessions 2000] [--pairs 50] [--messages 1000] [--window 16]
//             [--timeout 120]
//             [--echo 1]       (0: no TCP echo baseline)
//   tocd_load --echo-server      (the baseline's server; started by the generator itself)
//   tocd_load --fanout WATCHERS [--tocd PATH]
//             one account signs on and off again and again while WATCHERS sessions hold it on
//             their buddy lists: tocd's processor time per announcement and per watcher (the
//             watchers are read only once tocd has sent to all of them and gone idle)
//   tocd_load --reconnect-storm CLIENTS [--tocd PATH]
//             CLIENTS accounts are made at the default password cost; tocd restarts on their
//             database, at its defaults, and every client signs on again at once, each from its
//             own loopback address: how many sign on, are refused or cut off, and when
//   tocd_load --im-under-attack SECONDS [--tocd PATH]
//             IM latency between two well-behaved sessions on an idle tocd, then while one
//             account attacks with the buddy-list commands at the command rate tocd allows
//             (each phase SECONDS long, tocd at its default limits)
//
// Every phase is bounded by --timeout seconds; tocd and the echo server listen on 127.0.0.1
// only and are stopped at the end.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/ondrel.h"
#include "ondrel/wire.h"
#include "server_process.h"
#include "tocd_bench_support.h"

namespace {

using namespace ondrel_bench;

// Connections being set up at a time: fewer than tocd queues password checks for one address.
constexpr int kSignOnWindow = 50;

struct Options {
    QString tocd = QStringLiteral(TOCD_PATH);
    int sessions = 2000;
    int pairs = 50;
    int messages = 1000;
    int window = 16;
    int timeoutSeconds = 120;
    bool echo = true;

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

// Sessions on plain sockets that the generator's Qt event loop never watches, so that its
// wake-ups do not grow with them: quiet ones that only sign on (tocd sends them nothing after
// their sign-on: no keep-alives, nobody watches them), or listeners whose input is read from one
// epoll set, ready sockets only, counting the replies that hold a given text.
class PlainSessions {
public:
    PlainSessions() = default;
    PlainSessions(const PlainSessions&) = delete;
    PlainSessions& operator=(const PlainSessions&) = delete;
    ~PlainSessions() {
        notifier_.reset();
        if (epoll_ >= 0)
            ::close(epoll_);
        for (int fd : fds_)
            ::close(fd);
    }

    // Signs on every name (password "secret") at 127.0.0.1:`port`, `window` at a time, each
    // sending `command` (if any) right after its sign-on; false unless each one signed on
    // within `timeoutMs`.
    bool signOn(const std::vector<std::string>& names, int port, int window, std::int64_t timeoutMs,
                const std::string& command = {}) {
        const auto deadline = nowNs() + timeoutMs * 1000000;
        for (std::size_t first = 0; first < names.size(); first += window) {
            const std::size_t last = std::min(names.size(), first + window);
            std::vector<pollfd> waiting;
            std::vector<std::string> input;
            for (std::size_t i = first; i < last; ++i) {
                const int fd = connectTo(port);
                if (fd < 0)
                    return false;
                fds_.push_back(fd);
                std::string bytes = signOnBytes(names[i]);
                if (!command.empty())
                    lantry::wire::appendFrame(bytes, 2, 3, command + '\0');
                if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(bytes.size()))
                    return false;
                waiting.push_back({fd, POLLIN, 0});
                input.emplace_back();
            }
            std::size_t left = waiting.size();
            while (left > 0) {
                if (nowNs() > deadline || ::poll(waiting.data(), waiting.size(), 100) < 0)
                    return false;
                for (std::size_t i = 0; i < waiting.size(); ++i) {
                    if (waiting[i].fd < 0 || waiting[i].revents == 0)
                        continue;
                    char buffer[4096];
                    const ssize_t n = ::recv(waiting[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n == 0 || (n < 0 && errno != EAGAIN))
                        return false;
                    if (n > 0)
                        input[i].append(buffer, static_cast<std::size_t>(n));
                    if (input[i].find("SIGN_ON:") != std::string::npos) {
                        waiting[i].fd = -1;
                        --left;
                        ++signedOn_;
                    }
                }
            }
        }
        return true;
    }

    long count() const { return signedOn_; }

    // From now on reads every session's input as it arrives, from the event loop, and counts
    // the occurrences of `counted` in each.
    bool listen(std::string counted) {
        counted_ = std::move(counted);
        counts_.assign(fds_.size(), 0);
        tails_.assign(fds_.size(), std::string());
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0)
            return false;
        for (std::size_t i = 0; i < fds_.size(); ++i) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = i;
            if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fds_[i], &event) != 0)
                return false;
        }
        notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readReady(); });
        return true;
    }

    // How many sessions have counted at least `n` occurrences so far.
    long reached(int n) const {
        return n <= 0                                   ? static_cast<long>(fds_.size())
               : n <= static_cast<int>(reached_.size()) ? reached_[n - 1]
                                                        : 0;
    }

    bool failed() const { return failed_; }

    // Reading from the event loop stops (the sockets keep what arrives) or starts again.
    void setReading(bool on) { notifier_->setEnabled(on); }

    // Blocks until some session has input to read, or `timeoutMs` passed; reads nothing.
    bool waitReadable(int timeoutMs) const {
        epoll_event event{};
        return ::epoll_wait(epoll_, &event, 1, timeoutMs) > 0;
    }

private:
    void readReady() {
        epoll_event events[256];
        const int n = ::epoll_wait(epoll_, events, 256, 0);
        for (int e = 0; e < n; ++e) {
            const std::size_t i = events[e].data.u64;
            char buffer[16384];
            const ssize_t got = ::recv(fds_[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN)) {
                failed_ = true;
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fds_[i], nullptr);
                continue;
            }
            if (got < 0)
                continue;
            // The text may straddle two reads: search the end of the last one with this one.
            std::string& text = tails_[i];
            text.append(buffer, static_cast<std::size_t>(got));
            int found = 0;
            std::size_t searched = 0;  // past the last occurrence
            for (auto at = text.find(counted_); at != std::string::npos;
                 at = text.find(counted_, searched)) {
                ++found;
                searched = at + counted_.size();
            }
            const std::size_t keep = counted_.size() - 1;
            text.erase(0, std::max(searched, text.size() > keep ? text.size() - keep : 0));
            for (int k = counts_[i]; k < counts_[i] + found; ++k) {
                if (k == static_cast<int>(reached_.size()))
                    reached_.push_back(0);
                ++reached_[static_cast<std::size_t>(k)];
            }
            counts_[i] += found;
        }
    }

    static int connectTo(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static std::string signOnBytes(const std::string& name) {
        std::string signOn("\0\0\0\1\0\1", 6);
        signOn += lantry::wire::encodeWord(static_cast<std::int32_t>(name.size())) + name;
        const std::string login = "toc2_login login.oscar.aol.com 5190 " + name + " " +
                                  lantry::wire::roastPassword("secret") +
                                  " English \"x\" 160 US \"\" \"\" 3 0 30303 -kentucky -utf8 1";
        std::string out = "FLAPON\r\n\r\n";
        lantry::wire::appendFrame(out, 1, 0, signOn);
        lantry::wire::appendFrame(out, 2, 1, login + '\0');
        lantry::wire::appendFrame(out, 2, 2, std::string("toc_init_done", 14));
        return out;
    }

    std::vector<int> fds_;
    long signedOn_ = 0;
    std::string counted_;
    std::vector<int> counts_;
    std::vector<std::string> tails_;
    std::vector<long> reached_;  // [k]: sessions that counted more than k
    int epoll_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool failed_ = false;
};

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

// Tocd's options for measuring its work alone: no limit of commands, sign-ons or accounts, and
// the cheapest password hashes.
QStringList unlimited() {
    return {"--listen",
            "127.0.0.1:0",
            "--keepalive",
            "0",
            "--password-cost",
            "min",
            "--open-registration-rate",
            "0",
            "--signon-burst",
            "0",
            "--rate-burst",
            "0",
            "--waiting-per-address",
            "0"};
}

// Sessions made by `make(i)` for i in [0, count), at most kSignOnWindow signing on at a time;
// false unless every one signed on within the timeout.
bool signOnRaw(std::vector<std::unique_ptr<RawSession>>& out, int count,
               const std::function<std::unique_ptr<RawSession>(int)>& make,
               std::int64_t timeoutMs) {
    for (int first = 0; first < count; first += kSignOnWindow) {
        const int last = std::min(count, first + kSignOnWindow);
        for (int i = first; i < last; ++i)
            out.push_back(make(i));
        const bool ok = runUntil(
            [&] {
                return std::all_of(out.begin() + first, out.end(),
                                   [](const auto& r) { return r->signedOn; });
            },
            timeoutMs);
        if (!ok)
            return false;
    }
    return true;
}

// Returns once tocd has used no processor time for kIdleMs; false if it did not within
// `timeoutMs`.
bool waitUntilIdle(const lantry::testing::ServerProcess& tocd, std::int64_t timeoutMs) {
    constexpr int kIdleMs = 2;
    const auto deadline = nowNs() + timeoutMs * 1000000;
    for (double before = tocd.cpuSeconds(); nowNs() < deadline;) {
        usleep(kIdleMs * 1000);
        const double now = tocd.cpuSeconds();
        if (now - before < 20e-6)
            return true;
        before = now;
    }
    return false;
}

int fanOut(const Options& o, int watchers) {
    lantry::testing::ServerProcess tocd;
    if (!tocd.start(o.tocd, unlimited(), true)) {
        std::fprintf(stderr, "tocd_load: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    // The watchers are read from an epoll set of the generator's own: its Qt event loop then
    // watches the arriving account alone, and the generator's wake-ups cost the same at 500
    // watchers as at 5,000.
    std::vector<std::string> names;
    for (int i = 0; i < watchers; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "fan%06d", i);
        names.emplace_back(name);
    }
    PlainSessions fans;
    if (!fans.signOn(names, tocd.port(), kSignOnWindow, o.timeoutMs(),
                     "toc2_new_buddies \"{g:Buddies\nb:star\n}\"") ||
        !fans.listen("UPDATE_BUDDY2:star:")) {
        std::fprintf(stderr, "tocd_load: the watchers did not sign on\n");
        return 1;
    }
    // One arrival, or one departure, reached every watcher when each counted `n` announcements.
    const auto everyoneHeard = [&](int n) { return fans.failed() || fans.reached(n) == watchers; };
    // The watchers are read only once tocd has sent them everything: on a real network they
    // read on their own machines, and here their reads on the same two cores, on the very
    // sockets tocd writes to, would mix into its figures.
    const auto sentToAll = [&] {
        if (!fans.waitReadable(static_cast<int>(o.timeoutMs())) ||
            !waitUntilIdle(tocd, o.timeoutMs()))
            return false;
        fans.setReading(true);
        return true;
    };
    int heard = 0;
    const auto cycle = [&] {
        fans.setReading(false);
        auto star = std::make_unique<RawSession>("star", tocd.port(), "IM_IN");
        if (!runUntil([&] { return star->signedOn || star->closed; }, o.timeoutMs()) ||
            !sentToAll() || !runUntil([&] { return everyoneHeard(heard + 1); }, o.timeoutMs()) ||
            fans.failed())
            return false;
        fans.setReading(false);
        star.reset();
        heard += 2;
        return sentToAll() && runUntil([&] { return everyoneHeard(heard); }, o.timeoutMs()) &&
               !fans.failed();
    };
    // The first makes the account; the rest are measured.
    if (!cycle()) {
        std::fprintf(stderr, "tocd_load: the first arrival did not reach every watcher\n");
        return 1;
    }
    const int cycles = std::max(10, 200000 / watchers);
    const auto splitBefore = tocd.cpuTimes();
    const double cpuBefore = tocd.cpuSeconds();
    for (int i = 0; i < cycles; ++i) {
        if (!cycle()) {
            std::fprintf(stderr, "tocd_load: an announcement did not reach every watcher\n");
            return 1;
        }
    }
    const auto splitAfter = tocd.cpuTimes();
    const double cpu = tocd.cpuSeconds() - cpuBefore;
    const double perWatcher = 1e6 / (2.0 * cycles * watchers);
    figure("fanout_watchers", watchers);
    figure("fanout_cycles", cycles);
    figure("fanout_tocd_cpu_ms_per_announcement", cpu / (2.0 * cycles) * 1e3);
    figure("fanout_tocd_cpu_us_per_watcher", cpu * perWatcher);
    figure("fanout_tocd_user_us_per_watcher", (splitAfter.user - splitBefore.user) * perWatcher);
    figure("fanout_tocd_system_us_per_watcher",
           (splitAfter.system - splitBefore.system) * perWatcher);
    return 0;
}

int reconnectStorm(const Options& o, int clients) {
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("storm.db"));
    // Client i comes from 127.1.0.0 + 1 + i: an address of its own, as over a real network.
    const auto address = [](int i) { return QHostAddress(0x7f010001u + static_cast<quint32>(i)); };
    const auto name = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "storm%05d", i);
        return std::string(text);
    };
    lantry::testing::ServerProcess tocd;
    // The accounts are made at tocd's default password cost, without limits on their making.
    if (!dir.isValid() || !tocd.start(o.tocd,
                                      {"--listen", "127.0.0.1:0", "--db", database, "--keepalive",
                                       "0", "--open-registration-rate", "0", "--signon-burst", "0",
                                       "--waiting-per-address", "0"},
                                      true)) {
        std::fprintf(stderr, "tocd_load: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    {
        std::vector<std::unique_ptr<RawSession>> made;
        const bool ok = signOnRaw(
            made, clients,
            [&](int i) {
                return std::make_unique<RawSession>(name(i), tocd.port(), "ERROR:", address(i));
            },
            o.timeoutMs());
        if (!ok) {
            std::fprintf(stderr, "tocd_load: the accounts were not all made\n");
            return 1;
        }
    }
    tocd.stop();
    // The restart: tocd at its defaults, every client back at once.
    if (!tocd.start(o.tocd, {"--listen", "127.0.0.1:0", "--db", database}, true)) {
        std::fprintf(stderr, "tocd_load: tocd %s\n", qPrintable(tocd.errorText()));
        return 1;
    }
    const double cpuBefore = tocd.cpuSeconds();
    const auto start = nowNs();
    std::vector<std::unique_ptr<RawSession>> storm;
    for (int i = 0; i < clients; ++i)
        storm.push_back(std::make_unique<RawSession>(name(i), tocd.port(), "ERROR:", address(i)));
    const auto settled = [](const auto& r) {
        return r->signedOn || r->closed || r->countedReplies > 0;
    };
    const bool allSettled =
        runUntil([&] { return std::all_of(storm.begin(), storm.end(), settled); }, o.timeoutMs());
    const double cpu = tocd.cpuSeconds() - cpuBefore;
    Latencies signOns;
    int refused = 0;
    int cutOff = 0;
    for (const auto& r : storm) {
        if (r->signedOn)
            signOns.ns.push_back(r->signedOnNs - start);
        else if (r->countedReplies > 0)
            ++refused;
        else if (r->closed)
            ++cutOff;
    }
    figure("storm_clients", clients);
    figure("storm_signed_on", static_cast<double>(signOns.ns.size()));
    figure("storm_refused", refused);
    figure("storm_cut_off", cutOff);
    figure("storm_unanswered", clients - static_cast<double>(signOns.ns.size()) - refused - cutOff);
    figure("storm_first_signon_seconds", signOns.percentileUs(0) / 1e6);
    figure("storm_median_signon_seconds", signOns.percentileUs(0.5) / 1e6);
    figure("storm_last_signon_seconds", signOns.percentileUs(1) / 1e6);
    figure("storm_tocd_cpu_seconds", cpu);
    return allSettled ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Tens of thousands of sockets: every descriptor the system allows.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    QCoreApplication app(argc, argv);
    Options o;
    int attackSeconds = 0;
    int fanOutWatchers = 0;
    int stormClients = 0;
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
        else if (a == QLatin1String("--echo"))
            o.echo = v.toInt() != 0;
        else if (a == QLatin1String("--fanout"))
            fanOutWatchers = v.toInt();
        else if (a == QLatin1String("--reconnect-storm"))
            stormClients = v.toInt();
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
    if (fanOutWatchers > 0)
        return fanOut(o, fanOutWatchers);
    if (stormClients > 0)
        return reconnectStorm(o, stormClients);

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

    // The sessions that exchange IMs are controls; the others sign on and stay silent.
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 2 * o.pairs; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "ld%08d", i);
        clients.push_back(std::make_unique<Client>(name));
    }
    std::vector<std::string> quietNames;
    for (int i = 2 * o.pairs; i < o.sessions; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "ld%08d", i);
        quietNames.emplace_back(name);
    }
    // Phase 1: every session signs on.
    const auto signOnStart = nowNs();
    PlainSessions quiet;
    const bool quietOk = quiet.signOn(quietNames, tocd.port(), kSignOnWindow, o.timeoutMs());
    const bool allSettled =
        quietOk && signOnAll(clients, tocd.port(), kSignOnWindow, o.timeoutMs());
    const double signOnSeconds = static_cast<double>(nowNs() - signOnStart) / 1e9;
    const auto signedOn = quiet.count() + std::count_if(clients.begin(), clients.end(),
                                                        [](const auto& c) { return c->signedOn; });
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
    const auto splitBefore = tocd.cpuTimes();
    const double cpuBefore = tocd.cpuSeconds();
    const auto sleepsBefore = tocd.mainThreadSleeps();
    const bool imOk = exchangeIms(clients, o, imLatency, imSeconds);
    const double imCpu = tocd.cpuSeconds() - cpuBefore;
    const auto sleeps = tocd.mainThreadSleeps() - sleepsBefore;
    const auto splitAfter = tocd.cpuTimes();
    const double imCount = static_cast<double>(imLatency.ns.size());
    figure("im_pairs", o.pairs);
    figure("im_delivered", imCount);
    figure("im_seconds", imSeconds);
    figure("im_per_second", imCount / imSeconds);
    figure("im_latency_p50_us", imLatency.percentileUs(0.50));
    figure("im_latency_p99_us", imLatency.percentileUs(0.99));
    const double perIm = imCount > 0 ? 1e6 / imCount : 0;
    figure("tocd_cpu_us_per_im", imCpu * perIm);
    figure("tocd_user_us_per_im", (splitAfter.user - splitBefore.user) * perIm);
    figure("tocd_system_us_per_im", (splitAfter.system - splitBefore.system) * perIm);
    figure("ims_per_tocd_wakeup", sleeps > 0 ? imCount / static_cast<double>(sleeps) : 0);
    figure("tocd_rss_peak_bytes", static_cast<double>(tocd.peakResidentBytes()));
    clients.clear();
    tocd.stop();
    if (!o.echo)
        return imOk ? 0 : 1;

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

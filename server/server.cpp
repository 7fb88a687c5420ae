#include "server.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QtDebug>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "ondrel/wire.h"
#include "text.h"

namespace tocd {

namespace wire = lantry::wire;

namespace {

constexpr std::string_view kGreetingLf = "FLAPON\n\n";
constexpr std::string_view kGreetingCrLf = "FLAPON\r\n\r\n";
// CONFIG2 texts are cut well below the longest frame a client must accept.
constexpr std::size_t kConfigChunk = 1024;
// The nice value of hashing threads (the event thread keeps 0).
constexpr int kHashingNice = 5;

bool isPrefixOf(std::string_view part, std::string_view whole) {
    return part.size() <= whole.size() && whole.substr(0, part.size()) == part;
}

bool startsLikeHttp(std::string_view input) {
    for (std::string_view method : {"GET ", "HEAD ", "POST ", "PUT ", "DELETE ", "OPTIONS "}) {
        if (isPrefixOf(input, method) || isPrefixOf(method, input))
            return true;
    }
    return false;
}

// Lines of sign-on commands carry the password: their arguments never reach the log.
std::string loggable(std::string_view payload) {
    for (std::string_view secret :
         {"toc2_login", "toc2_signon", "toc_signon", "toc_change_passwd"}) {
        if (isPrefixOf(secret, payload))
            return std::string(secret) + " [arguments hidden]";
    }
    return printable(payload);
}

}  // namespace

Server::Server(Options options)
    : options_(std::move(options)),
      signOns_(options_.signOnBurst, options_.signOnPerMinute),
      registrations_(options_.registrationsPerHour, options_.registrationsPerHour / 60.0),
      unprovenGuessesByAccount_(kUnprovenGuessBurst, kUnprovenGuessesPerHour / 60.0),
      wrongPasswordsByPeer_(kWrongPasswordsPerMinute, kWrongPasswordsPerMinute),
      wrongPasswordsByKnownPeer_(kWrongPasswordsPerMinute, kWrongPasswordsPerMinute),
      invitations_(kInvitationsPerMinute, kInvitationsPerMinute) {
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    if (options_.passwordThreads > 0)
        hashers_.setMaxThreadCount(options_.passwordThreads);
    auto bot = std::make_unique<Account>();
    bot->name = kEchoBot;
    bot->formatted = "EchoBot";
    bot->profile = "I answer every message with the same text.";
    bot->bot = true;
    bot->signOnTime = epochSeconds();
    accounts_.emplace(bot->name, std::move(bot));

    sweepTimer_.setInterval(1000);
    QObject::connect(&sweepTimer_, &QTimer::timeout, &context_, [this] { sweep(); });
    QObject::connect(&keepAliveTimer_, &QTimer::timeout, &context_, [this] { sendKeepAlives(); });
    dropTimer_.setSingleShot(true);
    dropTimer_.setInterval(0);
    QObject::connect(&dropTimer_, &QTimer::timeout, &context_, [this] { finishDrops(); });
    turnTimer_.setSingleShot(true);
    turnTimer_.setInterval(0);
    QObject::connect(&turnTimer_, &QTimer::timeout, &context_, [this] { runTurns(); });
}

Server::~Server() {
    hashers_.clear();
    hashers_.waitForDone();
    for (auto& [id, session] : sessions_)
        session->connection->abort();
    sessions_.clear();
}

bool Server::openStore(QString* error) {
    if (!initPasswordHashing()) {
        if (error)
            *error = QStringLiteral("the password hashing library cannot be used");
        return false;
    }
    return store_.open(options_.database, error);
}

bool Server::start(QString* error) {
    // Listening first: a start that fails there leaves no new database file behind.
    loop_ = std::make_unique<TcpLoop>(TcpLoop::Handlers{
        [this](std::unique_ptr<Connection> c) { return openSession(std::move(c)); },
        [this](SessionId id, std::string_view bytes) { receive(id, bytes); },
        [this](SessionId id) { closeSession(id); }});
    if (!loop_->listen(options_.address, options_.port, error)) {
        loop_.reset();
        return false;
    }
    if (!openStore(error)) {
        loop_.reset();
        return false;
    }
    sweepTimer_.start();
    if (options_.keepAliveSeconds > 0)
        keepAliveTimer_.start(options_.keepAliveSeconds * 1000);
    return true;
}

qint64 Server::nowMs() const {
    if (options_.clock)
        return options_.clock();
    return QDateTime::currentMSecsSinceEpoch() - startMs_;
}

qint64 Server::epochSeconds() {
    return QDateTime::currentSecsSinceEpoch();
}

Server::SessionId Server::openSession(std::unique_ptr<Connection> connection) {
    const std::string peer = connection->peerAddress().toString().toStdString();
    int& waiting = waitingByPeer_[peer];
    if (options_.waitingPerAddress > 0 && waiting >= options_.waitingPerAddress) {
        logLimit("connections waiting to sign on", peer);
        connection->close();
        return 0;
    }
    ++waiting;
    auto owned = std::make_unique<Session>();
    Session* s = owned.get();
    s->id = nextSessionId_++;
    s->peer = peer;
    s->waiting = true;
    s->connection = std::move(connection);
    s->deadline = nowMs() + options_.loginTimeoutSeconds * 1000LL;
    s->tokens = options_.rateBurst;
    s->tokensAt = nowMs();
    s->rate.reset(nowMs());
    sessions_.emplace(s->id, std::move(owned));
    if (options_.verbose)
        qInfo("session %llu: connected from %s", s->id, s->peer.c_str());
    return s->id;
}

Server::Session* Server::findSession(SessionId id) {
    const auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.get();
}

void Server::closeSession(SessionId id) {
    if (Session* s = findSession(id))
        drop(*s, "closed by the client");
}

void Server::receive(SessionId id, std::string_view bytes) {
    Session* found = findSession(id);
    if (!found || found->closing)
        return;
    found->input.append(bytes);
    if (found->checking) {
        if (found->input.size() > kMaxInputWhileChecking)
            drop(*found, "sent too much while its password was checked");
        return;
    }
    if (found->inTurn)
        return holdWhenFull(*found);
    if (lastTurn(*found) == turn_) {
        queueTurn(*found);
        return holdWhenFull(*found);
    }
    takeTurn(*found);
}

void Server::takeTurn(Session& s) {
    lastTurn(s) = turn_;
    // The turn ends when control returns to the event loop.
    if (!turnTimer_.isActive())
        turnTimer_.start();
    processInput(s);
    if (s.closing || s.checking)
        return;
    lastTurn(s) = turn_;
    // Whatever processInput acts on counts: a whole frame, or a header it refuses.
    const std::string_view rest = s.input;
    const bool waiting = (s.phase == Phase::Login || s.phase == Phase::Online) &&
                         rest.size() >= wire::kFrameHeaderSize &&
                         (rest[0] != wire::kFrameMarker || rest.size() >= wire::frameLength(rest) ||
                          wire::frameLength(rest) - wire::kFrameHeaderSize > kMaxCommand);
    if (waiting)
        queueTurn(s);
    holdWhenFull(s);
}

void Server::queueTurn(Session& s) {
    s.inTurn = true;
    turns_.push_back(s.id);
    if (!turnTimer_.isActive())
        turnTimer_.start();
}

void Server::runTurns() {
    const auto start = std::chrono::steady_clock::now();
    do {
        runTurn();
    } while (!turns_.empty() && std::chrono::steady_clock::now() - start < kTurnPassBudget);
    if (!turns_.empty())
        turnTimer_.start();
}

void Server::runTurn() {
    ++turn_;
    // Sessions queued during this turn, and those whose account already went in it, wait for
    // the next one.
    for (std::size_t n = turns_.size(); n > 0; --n) {
        Session* s = findSession(turns_.front());
        turns_.pop_front();
        if (!s)
            continue;
        if (!s->closing && !s->checking && lastTurn(*s) == turn_) {
            turns_.push_back(s->id);
            continue;
        }
        s->inTurn = false;
        if (!s->closing && !s->checking)
            takeTurn(*s);
    }
}

void Server::finishTurns() {
    do {
        runTurns();
    } while (!turns_.empty());
    turnTimer_.stop();
}

void Server::holdWhenFull(Session& s) {
    const bool full = s.input.size() > kMaxWaitingInput;
    if (full != s.held && !s.closing) {
        s.held = full;
        s.connection->holdInput(full);
    }
}

void Server::processInput(Session& s) {
    if (s.phase == Phase::Greeting && !handleGreeting(s))
        return;
    if (s.phase == Phase::Http) {
        serveHttp(s);
        return;
    }
    std::size_t used = 0;
    bool commanded = false;
    while (!s.closing && !s.checking && !commanded) {
        const std::string_view rest = std::string_view(s.input).substr(used);
        if (rest.size() < wire::kFrameHeaderSize)
            break;
        if (rest[0] != wire::kFrameMarker) {
            drop(s, "bytes outside a frame");
            return;
        }
        const std::size_t total = wire::frameLength(rest);
        if (total - wire::kFrameHeaderSize > kMaxCommand) {
            drop(s, "command longer than 2048 bytes");
            return;
        }
        if (rest.size() < total)
            break;
        const auto type = static_cast<std::uint8_t>(rest[1]);
        used += total;
        commanded = type == wire::kFrameData;
        if (!handleFrame(s, type,
                         rest.substr(wire::kFrameHeaderSize, total - wire::kFrameHeaderSize))) {
            return;
        }
    }
    if (!s.closing)
        s.input.erase(0, used);
}

bool Server::handleGreeting(Session& s) {
    const std::string_view in = s.input;
    for (auto greeting : {kGreetingLf, kGreetingCrLf}) {
        if (isPrefixOf(greeting, in)) {
            s.input.erase(0, greeting.size());
            s.phase = Phase::SignOnFrame;
            sendFrame(s, wire::kFrameSignOn, std::string_view("\0\0\0\1", 4));
            return true;
        }
    }
    if (isPrefixOf(in, kGreetingLf) || isPrefixOf(in, kGreetingCrLf))
        return false;
    if (startsLikeHttp(in)) {
        s.phase = Phase::Http;
        return true;
    }
    drop(s, "no FLAPON greeting");
    return false;
}

bool Server::handleFrame(Session& s, std::uint8_t type, std::string_view payload) {
    if (options_.verbose) {
        qInfo("session %llu <- type %u: %s", s.id, type, loggable(payload).c_str());
    }
    if (type == wire::kFrameKeepAlive)
        return true;
    if (type == wire::kFrameSignOn && s.phase == Phase::SignOnFrame) {
        handleSignOnFrame(s, payload);
        return !s.closing;
    }
    if (type != wire::kFrameData || s.phase == Phase::SignOnFrame) {
        drop(s, "unexpected frame type");
        return false;
    }
    // A command ends at its first NUL, as clients expect; the bytes after it never reach a reply.
    payload = payload.substr(0, payload.find('\0'));
    if (payload.empty()) {
        drop(s, "empty command");
        return false;
    }
    if (s.phase == Phase::Login) {
        handleLogin(s, payload);
    } else {
        dispatch(s, payload);
    }
    return !s.closing;
}

void Server::handleSignOnFrame(Session& s, std::string_view payload) {
    // FLAP version 1, then TLV 1 with the name: at least the version and the TLV header.
    if (payload.size() < 8 || wire::decodeWord(payload.substr(2)) != 1) {
        drop(s, "malformed sign-on frame");
        return;
    }
    s.phase = Phase::Login;
}

bool Server::reserveGuess(const std::string& name, const std::string& peer, bool proven) {
    const qint64 now = nowMs();
    if (proven) {
        if (wrongPasswordsByKnownPeer_.take(name + ' ' + peer, now))
            return true;
        logLimit("wrong passwords for the account from a known address", name + " " + peer);
        return false;
    }
    if (!wrongPasswordsByPeer_.take(peer, now)) {
        logLimit("wrong passwords from the address", peer);
        return false;
    }
    if (!proven && !unprovenGuessesByAccount_.take(name, now)) {
        wrongPasswordsByPeer_.giveBack(peer, now);
        logLimit("wrong passwords for the account from new addresses", name);
        return false;
    }
    return true;
}

void Server::returnGuess(const std::string& name, const std::string& peer, bool proven) {
    if (proven)
        return wrongPasswordsByKnownPeer_.giveBack(name + ' ' + peer, nowMs());
    wrongPasswordsByPeer_.giveBack(peer, nowMs());
    unprovenGuessesByAccount_.giveBack(name, nowMs());
}

bool Server::checkPassword(Session& s, std::function<void()> work,
                           std::function<void(Session*)> done, std::function<void()> unrun) {
    auto& queue = checksByPeer_[s.peer];
    if (queue.size() >= kMaxChecksPerAddress || checksQueued_ >= kMaxQueuedChecks) {
        if (queue.empty())
            checksByPeer_.erase(s.peer);
        logLimit("password checks waiting", s.peer);
        unrun();
        return false;
    }
    if (queue.empty())
        checkTurns_.push_back(s.peer);
    queue.push_back({s.id, std::move(work), std::move(done), std::move(unrun)});
    ++checksQueued_;
    s.checking = true;
    s.unhashed = true;
    startChecks();
    return true;
}

void Server::startChecks() {
    while (checksRunning_ < hashers_.maxThreadCount() && !checkTurns_.empty()) {
        const std::string peer = std::move(checkTurns_.front());
        checkTurns_.pop_front();
        const auto queue = checksByPeer_.find(peer);
        PasswordCheck check = std::move(queue->second.front());
        queue->second.pop_front();
        --checksQueued_;
        if (queue->second.empty()) {
            checksByPeer_.erase(queue);
        } else {
            checkTurns_.push_back(peer);
        }
        findSession(check.session)->unhashed = false;
        ++checksRunning_;
        hashers_.start(
            [this, id = check.session, work = std::move(check.work), done = std::move(check.done)] {
                // Hashing yields the CPU to the event thread: messages go first, sign-ons wait.
                thread_local const bool lowered =
                    setpriority(PRIO_PROCESS, gettid(), kHashingNice) == 0;
                (void)lowered;
                work();
                QMetaObject::invokeMethod(
                    &context_,
                    [this, id, done] {
                        --checksRunning_;
                        Session* s = findSession(id);
                        if (s)
                            s->checking = false;
                        done(s && !s->closing ? s : nullptr);
                        if (s && !s->closing)
                            takeTurn(*s);
                        startChecks();
                    },
                    Qt::QueuedConnection);
            });
    }
}

void Server::forgetQueuedCheck(Session& s) {
    const auto queue = checksByPeer_.find(s.peer);
    const auto check = std::find_if(queue->second.begin(), queue->second.end(),
                                    [&](const PasswordCheck& c) { return c.session == s.id; });
    const auto unrun = std::move(check->unrun);
    queue->second.erase(check);
    --checksQueued_;
    if (queue->second.empty()) {
        checksByPeer_.erase(queue);
        std::erase(checkTurns_, s.peer);
    }
    s.checking = false;
    s.unhashed = false;
    unrun();
}

void Server::finishPasswordChecks() {
    // A result starts the next queued check, and may let a session read on into another.
    while (checksRunning_ > 0) {
        hashers_.waitForDone();
        QCoreApplication::sendPostedEvents(&context_, QEvent::MetaCall);
    }
}

void Server::refuseSignOn(Session& s, std::string_view name, const char* error, const char* why) {
    qInfo("sign-on refused: %s from %s: %s", printable(name).c_str(), s.peer.c_str(), why);
    send(s, error);
    drop(s, why);
}

void Server::handleLogin(Session& s, std::string_view line) {
    const auto keyword = line.substr(0, line.find(' '));
    const auto args = wire::parseArguments(line.substr(keyword.size()));
    if (keyword != "toc2_login" && keyword != "toc2_signon" && keyword != "toc_signon") {
        send(s, "ERROR:989:0");
        drop(s, "command before sign-on");
        return;
    }
    if (!args || args->size() < 4)
        return refuseSignOn(s, "", "ERROR:980", "malformed sign-on command");
    const std::string name = wire::normalizeName((*args)[2]);
    if (!signOns_.take(s.peer, nowMs())) {
        logLimit("sign-ons from the address", s.peer);
        return refuseSignOn(s, name, "ERROR:983", "signing on too often");
    }
    const auto password = wire::unroastPassword((*args)[3]);
    if (!password || password->empty() || !isValidScreenName((*args)[2]) || name == kEchoBot)
        return refuseSignOn(s, name, "ERROR:980", "bad name or password");

    struct Check {
        PasswordRecord stored;
        PasswordRecord fresh;  // for a new account, or to replace a hash of another cost
        bool matches = false;
    };
    auto check = std::make_shared<Check>();
    switch (store_.password(name, &check->stored)) {
        case AccountStore::Lookup::Found:
            break;
        case AccountStore::Lookup::NoAccount: {
            if (!options_.registrationOpen)
                return refuseSignOn(s, name, "ERROR:980", "unknown account");
            if (!registrations_.take(s.peer, nowMs())) {
                logLimit("accounts created from the address", s.peer);
                return refuseSignOn(s, name, "ERROR:983", "creating accounts too often");
            }
            const PasswordCost cost = options_.passwordCost;
            const std::string peer = s.peer;
            const bool queued = checkPassword(
                s,
                [check, password = *password, cost] {
                    check->fresh = hashPassword(password, cost);
                },
                [this, check, name, peer](Session* s) {
                    // A newcomer starts with someone online to talk to: the echo account.
                    const bool created =
                        !check->fresh.hash.empty() &&
                        store_.create(name, check->fresh, epochSeconds(), kDefaultGroup, kEchoBot);
                    if (!created) {
                        registrations_.giveBack(peer, nowMs());
                        if (!check->fresh.hash.empty() && !store_.lastError().isEmpty()) {
                            notStored(nullptr, name, "a new account");
                            if (s)
                                refuseSignOn(*s, name, kNotStored.data(), "account not saved");
                            return;
                        }
                    }
                    if (!s)
                        return;
                    if (!created)
                        return refuseSignOn(*s, name, "ERROR:989:0", "account not created");
                    if (!store_.rememberAddress(name, peer, epochSeconds(),
                                                kKnownAddressesPerAccount))
                        notStored(nullptr, name, "the sign-on address");
                    qInfo("account %s created from %s", name.c_str(), peer.c_str());
                    finishSignOn(*s, name);
                },
                [this, peer] { registrations_.giveBack(peer, nowMs()); });
            if (!queued)
                refuseSignOn(s, name, "ERROR:981", "too many password checks waiting");
            return;
        }
        case AccountStore::Lookup::Failed:
            return refuseSignOn(s, name, "ERROR:989:0", "store failed");
    }
    const std::string peer = s.peer;
    const bool proven = store_.knownAddress(name, peer);
    if (!reserveGuess(name, peer, proven))
        return refuseSignOn(s, name, "ERROR:983", "too many wrong passwords");
    const PasswordCost cost = options_.passwordCost;
    const bool queued = checkPassword(
        s,
        [check, password = *password, cost] {
            check->matches = verifyPassword(check->stored, password);
            if (check->matches && needsRehash(check->stored, cost))
                check->fresh = hashPassword(password, cost);
        },
        [this, check, name, peer, proven](Session* s) {
            // A password changed while this one was checked is the new one, not this.
            PasswordRecord now;
            const bool current = store_.password(name, &now) == AccountStore::Lookup::Found &&
                                 now.hash == check->stored.hash;
            if (!check->matches || !current) {
                if (s)
                    refuseSignOn(*s, name, "ERROR:980", "wrong password");
                return;
            }
            returnGuess(name, peer, proven);
            if (!store_.rememberAddress(name, peer, epochSeconds(), kKnownAddressesPerAccount))
                notStored(nullptr, name, "the sign-on address");
            if (!check->fresh.hash.empty()) {
                if (store_.setPassword(name, check->fresh))
                    qInfo("%s: password rehashed at the current cost", name.c_str());
                else
                    notStored(nullptr, name, "a rehashed password");
            }
            if (s)
                finishSignOn(*s, name);
        },
        [this, name, peer, proven] { returnGuess(name, peer, proven); });
    if (!queued)
        refuseSignOn(s, name, "ERROR:981", "too many password checks waiting");
}

void Server::finishSignOn(Session& s, const std::string& name) {
    Account* a = loadAccount(name);
    if (!a)
        return refuseSignOn(s, name, "ERROR:989:0", "account not loaded");
    if (a->sessions.size() >= kMaxSessionsPerAccount)
        return refuseSignOn(s, name, "ERROR:913", "too many sessions for the account");
    a->sessions.push_back(&s);
    s.account = a;
    s.phase = Phase::Online;
    stopWaiting(s);
    qInfo("session %llu: %s signed on from %s", s.id, name.c_str(), s.peer.c_str());

    send(s, "SIGN_ON:TOC2.0");
    send(s, "NICK:" + a->formatted);
    std::vector<std::string> lines;
    for (const auto& g : a->groups) {
        lines.push_back("g:" + g.name);
        for (const auto& b : g.buddies) {
            lines.push_back("b:" + b.name + (b.alias.empty() ? "" : ":" + b.alias));
        }
    }
    for (const auto& p : a->permits)
        lines.push_back("p:" + p);
    for (const auto& d : a->denies)
        lines.push_back("d:" + d);
    lines.push_back("m:" + std::to_string(a->pdMode));
    for (const auto& chunk : configChunks(lines, kConfigChunk))
        send(s, "CONFIG2:" + chunk);
}

void Server::stopWaiting(Session& s) {
    if (!std::exchange(s.waiting, false))
        return;
    const auto it = waitingByPeer_.find(s.peer);
    if (it != waitingByPeer_.end() && --it->second <= 0)
        waitingByPeer_.erase(it);
}

void Server::logLimit(const char* limit, const std::string& who) {
    constexpr qint64 kQuietMs = 10000;
    const qint64 now = nowMs();
    auto [it, fresh] = limitNotes_.try_emplace(std::string(limit) + " " + who);
    LimitNote& note = it->second;
    if (!fresh && now - note.at < kQuietMs) {
        ++note.unlogged;
        return;
    }
    qInfo("limit reached: %s, %s (%d more times since the last note)", limit,
          printable(who).c_str(), note.unlogged);
    note = {now, 0};
}

void Server::sendFrame(Session& s, std::uint8_t type, std::string_view payload) {
    if (s.closing)
        return;
    if (s.connection->bytesToWrite() > kMaxPendingOutput) {
        drop(s, "client does not read");
        return;
    }
    frame_.clear();
    wire::appendFrame(frame_, type, s.sequence++, payload);
    s.connection->write(frame_);
    if (options_.verbose && type != wire::kFrameSignOn) {
        qInfo("session %llu -> type %u: %s", s.id, type, printable(payload).c_str());
    }
}

void Server::send(Session& s, std::string_view message) {
    // Longer messages cannot be framed; none of ours comes near, but never send a broken frame.
    if (message.size() > 65535) {
        qWarning("session %llu: message of %zu bytes not sent", s.id, message.size());
        return;
    }
    sendFrame(s, wire::kFrameData, message);
}

void Server::sendToAccount(Account& a, std::string_view message, const Session* except) {
    for (Session* s : a.sessions) {
        if (s != except)
            send(*s, message);
    }
}

void Server::drop(Session& s, const char* reason) {
    if (s.queued)
        return;
    if (s.account || options_.verbose)
        qInfo("session %llu: ended (%s)", s.id, reason);
    if (s.unhashed)
        forgetQueuedCheck(s);
    s.closing = true;
    s.queued = true;
    dropped_.push_back(&s);
    dropTimer_.start();
}

void Server::finishDrops() {
    // Detaching may announce presence, which may drop more sessions: take them in turn.
    while (!dropped_.empty()) {
        Session* s = dropped_.back();
        dropped_.pop_back();
        stopWaiting(*s);
        detach(*s);
        s->connection->close();
        const SessionId id = s->id;
        sessions_.erase(id);
    }
}

void Server::detach(Session& s) {
    while (!s.rooms.empty()) {
        auto it = rooms_.find(s.rooms.back());
        if (it == rooms_.end()) {
            s.rooms.pop_back();
        } else {
            leaveRoom(s, *it->second);
        }
    }
    Account* a = s.account;
    if (!a)
        return;
    s.account = nullptr;
    const bool wasVisible = a->visible();
    if (s.initDone)
        --a->visibleSessions;
    a->sessions.erase(std::find(a->sessions.begin(), a->sessions.end(), &s));
    if (wasVisible && !a->visible())
        announceGone(*a);
    if (a->sessions.empty()) {
        qInfo("%s signed off", a->name.c_str());
        unloadAccount(*a);
    }
}

void Server::sweep() {
    const qint64 now = nowMs();
    for (auto& [id, s] : sessions_) {
        if (!s->closing && !s->checking && s->phase != Phase::Online && now > s->deadline) {
            drop(*s, "sign-on not finished in time");
        }
    }
    for (RateLimit* limit : {&signOns_, &registrations_, &unprovenGuessesByAccount_,
                             &wrongPasswordsByPeer_, &wrongPasswordsByKnownPeer_, &invitations_}) {
        limit->forgetFull(now);
    }
    std::erase_if(limitNotes_, [now](const auto& note) { return now - note.second.at > 60000; });
}

void Server::sendKeepAlives() {
    for (auto& [id, s] : sessions_) {
        if (s->phase == Phase::Online)
            sendFrame(*s, wire::kFrameKeepAlive, {});
    }
}

}  // namespace tocd

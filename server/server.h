// tocd's server: one listening socket on which TOC2 clients sign on (FLAPON greeting, FLAP
// frames) and browsers fetch profile pages (HTTP GET), all on one thread without blocking.
// Sessions can also be opened on any other Connection, without listening at all.
//
// State lives in memory only while it is needed: an account is loaded from the store when its
// first session signs on and dropped when its last one leaves; every lookup (screen name ->
// account and sessions, screen name -> accounts watching it, room ID or name -> room) is a
// hash lookup, so the cost of a message does not grow with the number of users online.
//
// Passwords are hashed and checked on a pool of worker threads; the result comes back to the
// event thread as a queued call. Meanwhile the session reads no more of its input (so answers
// keep their order), and a session that ended meanwhile is let go of without an answer. Checks
// wait in a bounded queue that takes client addresses in turn, so one address's flood delays
// another's sign-on by at most one check per address; a check whose session ended while it
// waited is never hashed. Each check first reserves a wrong guess: of the client address and of
// the account or, where that address once signed on to the account, of the two together; the
// reservation is returned when the password was right or the check never ran, so checks in
// flight count.
//
// Turns: commands are taken in turns, one per account (or, before sign-on, per connection) in
// each. Of the input a session hands over, its first whole command is handled at once unless
// its account already had its turn; the rest wait in the queue of turns, and each turn handles
// one command of every account in the queue. Turns run when control returns to the event loop,
// one after another for up to kTurnPassBudget, so that the answers of several turns leave in one
// send per connection; then the sockets are read again. So an account sending heavy commands,
// from however many sessions, delays another's next command by at most one of its own. A session
// whose waiting input passes kMaxWaitingInput is not read further until its turns have used it
// up.
//
// Failure containment: a malformed frame, an overlong or empty command, an unknown frame type,
// a client that stops reading or vanishes ends that one connection. Connections are never
// destroyed while a message is being delivered: a failing connection is marked and cleaned up
// once the current event is handled, so no delivery loop ever sees a dangling session.
#pragma once

#include <QHostAddress>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "buddy_list.h"
#include "connection.h"
#include "ondrel/ondrel.h"
#include "ondrel/rate_class.h"
#include "passwords.h"
#include "rate_limit.h"
#include "store.h"
#include "tcp_loop.h"

namespace tocd {

struct Options {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 5190;
    QString database;  // empty: in memory
    bool registrationOpen = true;
    int keepAliveSeconds = 60;  // 0: none
    // Per session: commands allowed in a burst, and refilled per second. Burst 0: no limit.
    int rateBurst = 100;
    int ratePerSecond = 20;
    // The commands of real servers' rate class (ondrel/rate_class.h) are limited as real
    // servers limit them, by the moving average, with ERROR:903 and the disconnect, instead of
    // by the bucket above; so tests and bots meet real limits locally.
    bool realRateLimits = false;
    // Per client address: sign-ons allowed in a burst, and refilled per minute. Burst 0: no
    // limit.
    int signOnBurst = 100;
    int signOnPerMinute = 60;
    int loginTimeoutSeconds = 30;
    // Per client address: accounts it may create in a burst, and regains per hour. 0: no
    // limit. Local clients all come from loopback, so it leaves room for a demo's newcomers.
    int registrationsPerHour = 20;
    // Per client address: connections open but not signed on; past it new ones are closed at
    // once. 0: no limit.
    int waitingPerAddress = 32;
    PasswordCost passwordCost = PasswordCost::Standard;
    // Password checks hashed at once. 0: one per processor.
    int passwordThreads = 0;
    bool verbose = false;
    // Milliseconds from any fixed origin, never decreasing, for every limit and deadline;
    // empty: the system clock. Tests move time with it.
    std::function<qint64()> clock;
};

class Server {
public:
    // The longest client command payload, its trailing NUL included; longer ends the connection.
    static constexpr std::size_t kMaxCommand = lantry::Ondrel::kMaxCommandPayload;
    static constexpr std::size_t kMaxSessionsPerAccount = 5;
    // Wrong passwords (at sign-on or in a password change) per client address, or per account
    // and address where the address once signed on to the account: a burst, and as many again
    // each minute.
    static constexpr int kWrongPasswordsPerMinute = 5;
    // Wrong passwords per account from addresses that never signed on to it: a burst, and
    // kUnprovenGuessesPerHour more an hour. Addresses that did are not held to it.
    static constexpr int kUnprovenGuessBurst = 10;
    static constexpr int kUnprovenGuessesPerHour = 30;
    // Addresses remembered per account as having signed on to it, the most recent kept.
    static constexpr int kKnownAddressesPerAccount = 16;
    // Password checks waiting for a hashing thread, per client address and in all; past either
    // a sign-on is refused with ERROR:981 and its connection closed.
    static constexpr std::size_t kMaxChecksPerAddress = 64;
    static constexpr std::size_t kMaxQueuedChecks = 1024;
    // Invitations one account may send one other account: a burst, and as many again a minute.
    // Names repeated in one command count once; invitations past it are dropped and logged.
    static constexpr int kInvitationsPerMinute = 3;
    // Bytes of a profile or an away message.
    static constexpr std::size_t kMaxProfileText = 1024;
    // Bytes of an account's stored configuration (groups, buddies, aliases, permits, denies),
    // counted as the CONFIG2 lines that carry it.
    static constexpr std::size_t kMaxConfigBytes = 32 * 1024;
    // Bytes a client may send while its password is being checked.
    static constexpr std::size_t kMaxInputWhileChecking = 64 * 1024;
    // How long turns may run back to back before the sockets are read (and written) again.
    static constexpr std::chrono::microseconds kTurnPassBudget{1000};
    // Bytes of input a session may have waiting for its turns before its connection is held.
    static constexpr std::size_t kMaxWaitingInput = 16 * 1024;
    // Bytes queued for a client that does not read; past this its connection ends.
    static constexpr qint64 kMaxPendingOutput = 1 << 20;
    static constexpr std::string_view kEchoBot = "echobot";
    // The group that new accounts start with, holding kEchoBot.
    static constexpr std::string_view kDefaultGroup = "Buddies";
    // The answer to a command, or a new account's sign-on, whose change the database refused.
    static constexpr std::string_view kNotStored =
        "ERROR:913:the server's database could not save this";

    using SessionId = unsigned long long;

    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the store and starts listening (see TcpLoop for the descriptor limit). False with
    // `error` set when either fails.
    bool start(QString* error);
    // Opens the store only, for sessions that come through openSession rather than a
    // listening socket. False with `error` set when it fails.
    bool openStore(QString* error);
    QHostAddress address() const { return loop_ ? loop_->address() : QHostAddress(); }
    quint16 port() const { return loop_ ? loop_->port() : 0; }

    // Starts a session on a connection that is already open; the server owns the connection
    // from here on and closes it when the session ends. The ID stays unused once the session
    // is gone.
    SessionId openSession(std::unique_ptr<Connection> connection);
    // Bytes the client sent, in order of arrival. Unless the session already waits for its turn,
    // its first whole command is handled, and its answers written, before this returns; the
    // others wait for their turns (see above). A session that must end reads nothing more; its
    // connection is closed, and the others told it left, when control next returns to the event
    // loop. Bytes for a session that is ending or gone are ignored.
    void receive(SessionId id, std::string_view bytes);
    // Ends the current turn and runs turns until no session has a whole command waiting, for
    // hosts that drive sessions without running an event loop between their input.
    void finishTurns();
    // The client went away: the session ends as if its connection were lost.
    void closeSession(SessionId id);
    // Waits for the password checks under way and queued and handles their results, for hosts
    // that drive sessions without running an event loop between their input.
    void finishPasswordChecks();
    // Ends connections past their sign-on deadline (not while their password is checked) and
    // forgets limits that are full again. Runs every second once started; hosts that move the
    // clock themselves may call it.
    void sweep();

private:
    enum class Phase { Greeting, SignOnFrame, Login, Online, Http };

    struct Account;

    // A room this session was invited to; the serial tells it from a later room of that ID.
    struct Invitation {
        std::int32_t room = 0;
        std::uint64_t serial = 0;
    };

    struct Session {
        SessionId id = 0;
        std::unique_ptr<Connection> connection;
        std::string peer;  // client address, for the sign-on limit
        Phase phase = Phase::Greeting;
        std::string input;  // bytes not yet handled (at most one partial frame)
        std::uint16_t sequence = 0;
        Account* account = nullptr;
        bool initDone = false;
        bool checking = false;       // a password check is queued or under way: input waits
        bool unhashed = false;       // its check waits in checksByPeer_
        bool waiting = false;        // counted in waitingByPeer_
        bool closing = false;        // no more input is read nor output sent
        bool queued = false;         // waiting in dropped_ for its cleanup
        bool inTurn = false;         // waiting in turns_
        std::uint64_t lastTurn = 0;  // before sign-on: the turn it last used
        bool held = false;           // its connection's input is held
        std::vector<std::int32_t> rooms;
        std::deque<Invitation> invitations;  // oldest first
        double tokens = 0;
        qint64 tokensAt = 0;
        lantry::RateAverage rate;  // with realRateLimits
        qint64 deadline = 0;       // ms since start; sign-on must finish by then
    };

    struct Account {
        std::string name;  // normalised
        std::string formatted;
        std::string profile;
        int pdMode = 1;
        BuddyList groups;
        std::set<std::string> permits;
        std::set<std::string> denies;
        std::unordered_map<std::string, int> buddyKeys;  // normalised buddy -> entries
        std::size_t configBytes = 0;                     // see kMaxConfigBytes
        std::deque<std::string> profileTokens;           // issued to this account, oldest first
        std::vector<Session*> sessions;
        int visibleSessions = 0;
        bool bot = false;
        qint64 signOnTime = 0;  // seconds since the epoch
        bool away = false;
        std::string awayMessage;
        qint64 idleSince = 0;  // seconds since the epoch; 0 not idle
        std::string caps;
        int warning = 0;
        std::deque<std::string> recentSenders;  // who may be warned, newest last
        std::uint64_t lastTurn = 0;             // the turn its sessions last used
        bool visible() const { return bot || visibleSessions > 0; }
    };

    struct Room {
        std::int32_t id = 0;
        std::uint64_t serial = 0;  // never reused, unlike the ID
        std::string name;
        std::string key;
        std::vector<Session*> members;
    };

    // What a profile link lets its holder see, and until when.
    struct ProfileGrant {
        std::string requester;  // normalised
        std::string target;     // normalised
        qint64 expiresMs = 0;   // on the nowMs() clock
    };

    using Args = std::vector<std::string>;
    using Handler = void (Server::*)(Session&, const Args&);

    // Connections and framing (server.cpp).
    Session* findSession(SessionId id);
    // Handles the session's next command, then queues it for another turn if one more waits.
    void takeTurn(Session& s);
    void queueTurn(Session& s);
    // Runs turns while some are queued, for up to kTurnPassBudget.
    void runTurns();
    void runTurn();
    // The turn the session's account (its own before sign-on) last used.
    std::uint64_t& lastTurn(Session& s) { return s.account ? s.account->lastTurn : s.lastTurn; }
    void holdWhenFull(Session& s);
    bool handleGreeting(Session& s);
    bool handleFrame(Session& s, std::uint8_t type, std::string_view payload);
    void handleSignOnFrame(Session& s, std::string_view payload);
    void processInput(Session& s);
    void handleLogin(Session& s, std::string_view line);
    void refuseSignOn(Session& s, std::string_view name, const char* error, const char* why);
    void finishSignOn(Session& s, const std::string& name);
    // Queues `work` for the pool, then runs `done` on the event thread with the session (null
    // when it ended while hashing); the session's input waits until then. When the session ends
    // before hashing starts, or the queue is full, `unrun` runs instead of both; false when
    // the queue was full.
    bool checkPassword(Session& s, std::function<void()> work, std::function<void(Session*)> done,
                       std::function<void()> unrun);
    // Starts queued checks, addresses in turn, while hashing threads are free.
    void startChecks();
    void forgetQueuedCheck(Session& s);
    // Reserves a wrong password of `name` from `peer` before its check; false, with nothing
    // reserved and the refusal logged, when none is left. `proven`: `peer` once signed on to the
    // account, so only their pair's limit applies, not the address's nor the account's.
    bool reserveGuess(const std::string& name, const std::string& peer, bool proven);
    // Gives back a reservation whose password was right or whose check never ran.
    void returnGuess(const std::string& name, const std::string& peer, bool proven);
    void stopWaiting(Session& s);
    // Logs that a limit refused something, at most every few seconds per limit and client.
    void logLimit(const char* limit, const std::string& who);
    void sendFrame(Session& s, std::uint8_t type, std::string_view payload);
    void send(Session& s, std::string_view message);
    void sendToAccount(Account& a, std::string_view message, const Session* except = nullptr);
    void drop(Session& s, const char* reason);
    void finishDrops();
    void detach(Session& s);
    void sendKeepAlives();
    qint64 nowMs() const;
    static qint64 epochSeconds();

    // Commands (commands.cpp).
    void dispatch(Session& s, std::string_view line);
    bool takeCommandToken(Session& s);
    void initDone(Session& s, const Args& args);
    void sendIm(Session& s, const Args& args);
    void sendImEnc(Session& s, const Args& args);
    void deliverIm(Session& s, std::string_view to, std::string_view text, bool autoReply);
    void newBuddies(Session& s, const Args& args);
    void removeBuddy(Session& s, const Args& args);
    void newGroup(Session& s, const Args& args);
    void delGroup(Session& s, const Args& args);
    void addPermit(Session& s, const Args& args);
    void removePermit(Session& s, const Args& args);
    void addDeny(Session& s, const Args& args);
    void removeDeny(Session& s, const Args& args);
    void changeList(Session& s, const Args& args, ListKind kind, bool add);
    void setPdMode(Session& s, const Args& args);
    void setAway(Session& s, const Args& args);
    void setIdle(Session& s, const Args& args);
    void setCaps(Session& s, const Args& args);
    // The online account args[0] names, if the session may see it; otherwise answers the
    // error (911 without a name, 901 for someone offline or hidden) and gives null.
    const Account* visibleTarget(Session& s, const Args& args);
    void getStatus(Session& s, const Args& args);
    void setInfo(Session& s, const Args& args);
    void getInfo(Session& s, const Args& args);
    void evil(Session& s, const Args& args);
    void formatNickname(Session& s, const Args& args);
    void changePassword(Session& s, const Args& args);
    void clientEvent(Session& s, const Args& args);

    // Presence and privacy (presence.cpp).
    Account* loadAccount(std::string_view name);
    void unloadAccount(Account& a);
    Account* onlineAccount(std::string_view name);
    static bool permits(const Account& owner, std::string_view other);
    static bool mutuallyAllowed(const Account& a, const Account& b);
    // Whether the account named `viewerKey` is online, has `a` on its buddy list and may see it.
    bool seenBy(const Account& a, const std::string& viewerKey);
    // Tells that viewer of `a` its presence when whether it sees `a` changed from `was`.
    void announceIfChanged(Account& a, const std::string& viewerKey, bool was);
    static std::string presenceLine(const Account& a);
    static std::string goneLine(const Account& a);
    void watch(Account& watcher, const std::string& key);
    void unwatch(Account& watcher, const std::string& key);
    // Who sees `a` right now, for comparing before and after a change of its privacy.
    std::vector<Account*> viewers(const Account& a);
    void announceChange(Account& a, const std::vector<Account*>& before);
    void announce(Account& a);
    void announceGone(Account& a);
    void sendPresenceOf(Account& watcher, const Account& buddy);
    void sendBuddyPresence(Session& s);
    // What an entry (group, buddy with its alias, permit, deny) adds to an account's
    // configBytes: its CONFIG2 line, "b:NAME:ALIAS\n" say.
    static std::size_t configEntryBytes(std::string_view name, std::string_view alias = {}) {
        return 3 + name.size() + (alias.empty() ? 0 : 1 + alias.size());
    }
    // Whether an entry of `bytes` more still fits the account's configuration; logs when not.
    bool configRoom(Account& a, std::size_t bytes);
    // A write of `what` to `account` that the store refused: logged with its cause, and `s`
    // answered kNotStored unless null.
    void notStored(Session* s, std::string_view account, const char* what);

    // Profile links and pages (profile_page.cpp).
    // A token that lets `requester` fetch `target`'s page for a short time.
    std::string issueProfileToken(Account& requester, const Account& target);
    void forgetProfileTokens(Account& a);
    void serveHttp(Session& s);
    // The target's page, or nullopt unless the token lets its holder see the target now.
    std::optional<std::string> profilePage(std::string_view name, std::string_view token);

    // Chat rooms (chat.cpp).
    void chatJoin(Session& s, const Args& args);
    void chatAccept(Session& s, const Args& args);
    void chatSend(Session& s, const Args& args);
    void chatWhisper(Session& s, const Args& args);
    void chatInvite(Session& s, const Args& args);
    void chatLeave(Session& s, const Args& args);
    // False, with the refusal sent, when the session cannot take part in one more room.
    bool joinRoom(Session& s, Room& room);
    void rememberInvitation(Session& s, const Room& room);
    void leaveRoom(Session& s, Room& room);
    Room* memberRoom(Session& s, std::string_view idText);

    Options options_;
    AccountStore store_;
    QObject context_;  // timers' and password results' receiver
    QTimer sweepTimer_;
    QTimer keepAliveTimer_;
    QTimer dropTimer_;
    QTimer turnTimer_;
    std::deque<SessionId> turns_;  // sessions with a whole command waiting, the next first
    std::uint64_t turn_ = 1;       // the turn now running
    qint64 startMs_ = 0;
    std::unique_ptr<TcpLoop> loop_;  // before sessions_: their connections need it
    SessionId nextSessionId_ = 1;
    std::unordered_map<SessionId, std::unique_ptr<Session>> sessions_;
    std::vector<Session*> dropped_;
    std::string frame_;  // the frame being sent, its memory kept between frames
    std::unordered_map<std::string, std::unique_ptr<Account>> accounts_;
    std::unordered_map<std::string, std::unordered_set<Account*>> watchers_;
    std::unordered_map<std::int32_t, std::unique_ptr<Room>> rooms_;
    std::unordered_map<std::string, Room*> roomsByKey_;
    std::int32_t nextRoomId_ = 1;
    std::uint64_t nextRoomSerial_ = 1;
    std::unordered_map<std::string, ProfileGrant> profileGrants_;
    RateLimit signOns_;
    RateLimit registrations_;
    RateLimit unprovenGuessesByAccount_;
    RateLimit wrongPasswordsByPeer_;
    RateLimit wrongPasswordsByKnownPeer_;  // keyed by account and the address it signed on from
    RateLimit invitations_;                // keyed by inviter and invited account
    std::unordered_map<std::string, int> waitingByPeer_;
    struct LimitNote {
        qint64 at = 0;
        int unlogged = 0;
    };
    std::unordered_map<std::string, LimitNote> limitNotes_;
    struct PasswordCheck {
        SessionId session = 0;
        std::function<void()> work;
        std::function<void(Session*)> done;
        std::function<void()> unrun;
    };
    std::unordered_map<std::string, std::deque<PasswordCheck>> checksByPeer_;
    std::deque<std::string> checkTurns_;  // addresses with checks queued, the next one first
    std::size_t checksQueued_ = 0;
    int checksRunning_ = 0;
    // Last: destroyed first, waiting for the checks under way while everything they post to
    // still exists.
    QThreadPool hashers_;
};

}  // namespace tocd

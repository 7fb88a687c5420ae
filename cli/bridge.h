// `ondrel bridge`: the control as a JSON-RPC 2.0 service, one JSON object per line, on stdin and
// stdout or (bridge_server.h) on a socket for any number of clients.
//
// The bridge is a late-bound host of the component layer: it creates the control by its
// programmatic identifier, finds members and events by name in the layer's description of the
// boundary, calls by dispatch identifier and hears events by number. Each request line calls
// one member (or one of the bridge's own methods: Subscribe, Unsubscribe, Session); a request
// with an id gets exactly one response line, a notification (no id) gets none. Each event
// becomes a notification line to every client subscribed to it. Text maps between JSON strings
// and the control's bytes as the TextMode says (UTF-8 unless told otherwise). Order on each
// client's output is the order of happening: events raised during a call come before that
// call's response. A bad line is answered with an error and never ends the bridge.
//
// Errors in the answer: the control raises its events synchronously from inside the call that
// causes them, so the first Error or WinsockError raised during a call also becomes that call's
// error response (kCallFailed; Error's code as data.intErrorCode). A member that sends a
// command is answered kNotSignedOn, and not called, unless the session is signed on (LoggedIn
// seen, no LoggedOut or WinsockError since); SendPacket only needs a connection begun by Login.
//
// Commands that the control holds back for the server's rate limit (on unless --pace off) go out
// in order as their time comes. At end of stdin the bridge waits until none is held, closes
// the connection, gives it a bounded time to send what is queued, and quits the event loop with
// exit code 0.

#pragma once

#include <QObject>
#include <QVariantList>

#include <bitset>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "line_io.h"
#include "ondrel/component.h"
#include "ondrel/events.h"

class QTimer;

namespace lantry::cli {

// JSON-RPC error codes of the bridge's answers.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
// The member failed, or raised Error or WinsockError while it ran.
inline constexpr int kCallFailed = -32000;
// The member sends a command and the session is not signed on; nothing was called.
inline constexpr int kNotSignedOn = -32001;

// The events a client hears: bit n - 1 stands for event number n.
using EventSet = std::bitset<kEventCount>;

// Event names (as eventTable spells them) as a set; nullopt with `error` naming the unknown
// ones.
std::optional<EventSet> eventSetOf(const std::vector<std::string>& names, std::string& error);

// One reader and writer of request lines: stdin and stdout, or one connection of the daemon.
class BridgeClient {
public:
    explicit BridgeClient(EventSet events) : events(events) {}
    virtual ~BridgeClient() = default;
    // Writes one line. A client that cannot take it may cut itself off: it then asks its owner
    // to remove it and ignores later lines.
    virtual void sendLine(std::string_view line) = 0;

    // The notifications this client gets; Subscribe and Unsubscribe change it.
    EventSet events;
};

// Where a sign-on stands, as the bridge has seen it from the control's events.
enum class SessionState { SignedOff, SigningOn, SignedOn };

class Bridge final : public QObject {
    Q_OBJECT
public:
    Bridge(std::unique_ptr<ControlObject> control, TextMode mode, QObject* parent = nullptr);

    // Starts serving stdin and stdout as one client hearing `events`. The event loop must run;
    // the bridge quits it at end of input.
    void start(EventSet events);

    // Events reach `client` from now on until removeClient; the caller keeps it alive until
    // then.
    void addClient(BridgeClient* client);
    void removeClient(BridgeClient* client);

    // One request line from `client` in, its response line out ("" when it gets none). Events
    // raised by the call are sent (to `client` too) before this returns.
    std::string handleRequest(BridgeClient& client, const std::string& line);

    // Signs off for good: gives held commands up to kSignOffGraceMs to leave, reports on stderr
    // those that could not, calls LogOff when a session was begun (its LoggedOut reaches the
    // clients), closes the connection and calls `done` once it has sent what was queued.
    void signOff(std::function<void()> done);
    static constexpr int kSignOffGraceMs = 10000;

    SessionState session() const { return session_; }

private:
    struct CallCapture;

    void relay(int eventNumber, const QVariantList& args);
    void noteSession(int eventNumber, const QVariantList& args);
    std::string subscription(BridgeClient& client, const std::string& id, bool subscribe,
                             const QJsonValue& params);
    std::string sessionResult() const;
    // Why `member` cannot be called in this session; "" when it can.
    std::string sessionRefusal(const MemberInfo& member) const;
    void finish();
    void finishSignOff();

    std::unique_ptr<ControlObject> control_;
    TextMode mode_;
    std::vector<BridgeClient*> clients_;
    // Set while a member runs: the first Error or WinsockError it raised.
    CallCapture* capture_ = nullptr;
    SessionState session_ = SessionState::SignedOff;
    std::string userName_;

    // stdin mode
    std::unique_ptr<BridgeClient> stdio_;
    LineReader reader_;
    bool finishing_ = false;

    // signOff
    bool signingOff_ = false;
    std::function<void()> signedOff_;
    QTimer* graceTimer_ = nullptr;
};

// The control by its programmatic identifier, or from this library's own class factory when
// the identifier is not registered; a registration that cannot be used is reported on stderr
// and passed over. Null, with `error` saying why, when neither gives one. Needs a
// QApplication.
std::unique_ptr<ControlObject> createControl(std::string& error);

struct BridgeOptions {
    TextMode text = TextMode::Utf8;
    bool pacing = true;
    // Every event unless --events names some.
    EventSet events = EventSet().set();
    // --listen: "unix:PATH" or "tcp:HOST:PORT" with a loopback HOST; empty for stdin mode.
    std::string listen;
};

// The options of `ondrel bridge` (--text utf-8|bytes|plain, --pace on|off, --events NAMES,
// --listen ADDRESS); nullopt with `error` saying what is wrong.
std::optional<BridgeOptions> parseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error);

// Runs the bridge with `options` on this control until it ends (end of stdin, or SIGTERM or
// SIGINT for a daemon); the exit status. Needs a QApplication.
int runBridge(std::unique_ptr<ControlObject> control, const BridgeOptions& options);

// The text of `ondrel bridge --help`.
std::string bridgeHelp();

}  // namespace lantry::cli

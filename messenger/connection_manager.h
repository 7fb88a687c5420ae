// One account's connection, through one Ondrel control reached only by the component layer:
// signs on, hands every event of the control on (controlEvent), and keeps the session alive:
// a connection that was signed on and is lost is made again after growing pauses (1, 2, 4 ...
// up to 60 seconds; the wait is a random part of each, see ondrel/reconnect_backoff.h), or at
// once by reconnectNow.
//
// States: SignedOff -> Connecting -> SignedOn; a lost connection goes to Waiting, and the pause
// ends in Connecting again. A refusal while connecting (bad password, an unreachable server on
// the first attempt) goes back to SignedOff and says why through signOnFailed; a refusal on a
// reconnection that a later attempt may overcome (the server is busy or unreachable) waits
// again instead.
//
// Threading: the GUI thread. controlEvent is emitted from inside the control's event, before
// this object acts on the event itself, so a slot sees the connection's old state. Slots may
// call the control; they must not destroy this object (use deleteLater).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <functional>

#include "ondrel/component.h"

namespace messenger {

struct Account {
    QString host;
    quint16 port = 5190;
    QString name;  // as typed
    QString password;
};

// "HOST[:PORT]" read into host and port; false, with `error` in words, when it is unusable.
bool parseServer(const QString& text, QString& host, quint16& port, QString& error);

class ConnectionManager : public QObject {
    Q_OBJECT
public:
    enum class State { SignedOff, Connecting, SignedOn, Waiting };
    // Takes ownership of `control` (not null); its face stays hidden.
    explicit ConnectionManager(lantry::ControlObject* control, QObject* parent = nullptr);
    ~ConnectionManager() override;

    void signOn(const Account& account);
    // Signs off (LoggedOut is raised) and stops any reconnection.
    void signOff();
    // While waiting to reconnect: try now, and start the pauses over.
    void reconnectNow();

    State state() const { return state_; }
    // The state in words, for a status line.
    QString statusText() const;
    // Seconds until the next attempt while waiting; 0 otherwise.
    int secondsToNextAttempt() const;
    // The bound of the pause now running (or that ran last), in seconds, and the wait drawn
    // within it, in milliseconds.
    int pauseSeconds() const { return pauseSeconds_; }
    int waitMilliseconds() const { return waitMilliseconds_; }
    // Where the waits' randomness comes from (a number in [0, 1) per call); by default the
    // system's generator.
    void setRandomSource(std::function<double()> unitRandom) {
        unitRandom_ = std::move(unitRandom);
    }
    const Account& account() const { return account_; }
    // The screen name as the server formats it, once signed on.
    QString formattedName() const { return formattedName_; }

    // Calls a member by dispatch identifier. A failure of the call itself is reported through
    // problem and returned.
    lantry::DispatchResult call(lantry::DispatchId id, const QVariantList& args = {});
    // Sends text in as many parts as the command limit needs. Returns the number of parts.
    int sendIm(const QString& wireName, const QString& text, bool autoResponse = false);
    // Into the joined room `wireRoomName` with that chat ID.
    int sendChat(const QString& wireRoomName, int chatId, const QString& text);
    // Commands the control holds back for the server's rate limit (see heldCommandsLeft).
    int heldCommands() const { return control_->heldCommands(); }

signals:
    void controlEvent(int eventNumber, const QVariantList& args);
    void stateChanged(State state);
    void signedOn();
    // The sign-on did not succeed and will not be tried again; `why` in words.
    void signOnFailed(const QString& why);
    // A signed-on connection was lost; reconnection is under way.
    void connectionLost(const QString& why);
    // A server error or a failed call while signed on, in words.
    void problem(const QString& why);
    // Held commands left the control's queue, in order: `sent` went out, then `dropped` were
    // lost with the connection.
    void heldCommandsLeft(int sent, int dropped);

private:
    void onEvent(int eventNumber, QVariantList& args);
    void attempt();
    void scheduleRetry(const QString& why);
    void setState(State state);

    lantry::ControlObject* control_;
    Account account_;
    State state_ = State::SignedOff;
    QString formattedName_;
    QString lastProblem_;
    // Whether this sign-on has succeeded once: only then is a lost connection made again.
    bool wasSignedOn_ = false;
    int failedAttempts_ = 0;
    int pauseSeconds_ = 0;
    int waitMilliseconds_ = 0;
    std::function<double()> unitRandom_;
    QTimer retryTimer_;
};

}  // namespace messenger

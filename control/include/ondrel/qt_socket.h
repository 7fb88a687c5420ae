// The control's real socket: the socket contract over QTcpSocket, driven by the Qt event loop
// of the thread that creates it.
//
// Every Connect uses a fresh QTcpSocket; Close detaches the current one, which still sends what
// was queued and then goes away on its own, so no notification of an old connection ever
// reaches the listener. Notifications are delivered from Qt's signals; the listener may
// destroy this object from inside any of them.
//
// Output is bounded: at most kMaxUnsentBytes wait to be sent. A SendData that would queue more
// (a server that no longer reads while the control answers its keep-alives) aborts the
// connection at once, drops what was queued, and reports socketError with a description of
// why, later from the event loop and never from inside SendData; until then State() is 0, so
// nothing more is queued. A Close or Connect before that report cancels it.
//
// Pacing (on by default): real servers drop commands of their rate-limited class sent faster
// than their moving average allows (ERROR:903) and end the connection soon after. The socket
// mirrors that average (ondrel/rate_class.h) and holds such a command back until sending it
// keeps the average kPacingMarginMs above the server's level; order is kept, so a held command
// holds every frame behind it. An ERROR:903 received all the same (commandDropped) makes it
// wait until the server's class would be clear again. Held frames leave from the event loop
// as their time comes; each change of the held count is told to the heldCommands handler.
// Held frames are never lost silently: a connection ended by the server or by a failure
// reports how many were not sent in the description of its socketError (instead of a plain
// socketClosed), and Close or Connect with frames held tells the handler they were dropped.
//
// State() gives the socket state numbers of the socket contract (socket.h, where 7 is
// StateConnected): 0 closed, 4 resolving the host, 6 connecting, 7 connected, 8 closing.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <functional>

#include "ondrel/rate_class.h"
#include "ondrel/socket.h"

namespace lantry {

class QtSocket final : public QObject, public Socket {
    Q_OBJECT
public:
    // Bytes queued and not yet taken by the network, per connection. Far above any real burst
    // of commands, which the network takes as fast as they come.
    static constexpr qint64 kMaxUnsentBytes = qint64{1} << 20;

    explicit QtSocket(QObject* parent = nullptr);
    ~QtSocket() override;

    int State() const override;
    void Connect(const std::string& host, std::int32_t port) override;
    void SendData(std::string_view bytes) override;
    void GetData(std::string& bytes) override;
    void Close() override;
    void commandDropped() override;

    // Pacing as described above; turning it off sends what is held at once and every later
    // frame as it comes (for tools that check frames as they are made).
    void setPacing(bool on);
    bool pacing() const { return pacing_; }
    // The class mirrored and the margin kept: the server's own (kServerRateClass,
    // kPacingMarginMs) unless a host that knows its server's figures sets others. Takes effect
    // at the next connection.
    void setRateClass(const RateClass& rates, double marginMs = kPacingMarginMs);
    // Frames held back now, commands and the frames queued behind them.
    int heldCommands() const { return static_cast<int>(held_.size()); }
    // Called from the event loop (never from inside SendData, Close or Connect) after held
    // frames leave the queue: `sent` went out, `dropped` were lost with their connection (for a
    // connection that ended by itself, the socketError saying so comes first). One handler; a
    // new one replaces the old. It may destroy this object.
    using HeldHandler = std::function<void(int sent, int dropped)>;
    void setHeldHandler(HeldHandler handler) { heldHandler_ = std::move(handler); }

    // True while a closed connection is still sending what was queued before Close; a program
    // that is about to exit waits for this to turn false.
    bool isFlushing() const;
    // Calls `flushed` from the event loop once isFlushing() is false, or after kFlushLimitMs.
    // Nothing is called when this object goes first.
    void whenFlushed(std::function<void()> flushed);
    static constexpr int kFlushLimitMs = 6000;

private:
    // Delivers one notification of `from`; the listener may destroy this object inside it.
    template <class Call>
    void notify(QTcpSocket* from, Call&& call);
    // Reports a failure from the event loop, unless Close or Connect comes first.
    void reportLater(int number, const std::string& description);

    // Sends what is held and due now, and sets the timer for the next.
    void releaseHeld();
    // Forgets what is held, gone with its connection, and tells the handler.
    void dropHeld();
    // Tells the handler later (from the event loop) what left the queue.
    void tellHeld(int sent, int dropped);
    // Writes one frame; a paced command is counted in the average.
    void write(std::string_view frame, bool counted);
    // " (N commands waiting to be sent were not sent)" for the frames held now, or "".
    std::string heldNotSentSuffix() const;

    struct HeldFrame {
        std::string bytes;
        bool counted;  // of the rate-limited class
    };

    QPointer<QTcpSocket> tcp_;
    bool pacing_ = true;
    RateAverage rate_;
    RateClass rates_ = kServerRateClass;
    double marginMs_ = kPacingMarginMs;
    QElapsedTimer clock_;
    std::deque<HeldFrame> held_;
    QTimer releaseTimer_;
    HeldHandler heldHandler_;
    // The connection whose signal is being delivered, if any.
    QTcpSocket* signalling_ = nullptr;
    // Bumped by Close (and so by Connect): a report due for an earlier connection is dropped.
    quint64 generation_ = 0;
};

}  // namespace lantry

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
// State() follows the classic socket control's numbers: 0 closed, 4 resolving the host,
// 6 connecting, 7 connected, 8 closing.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <functional>

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

    QPointer<QTcpSocket> tcp_;
    // The connection whose signal is being delivered, if any.
    QTcpSocket* signalling_ = nullptr;
    // Bumped by Close (and so by Connect): a report due for an earlier connection is dropped.
    quint64 generation_ = 0;
};

}  // namespace lantry

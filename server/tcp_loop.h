// tocd's sockets on one epoll set: the listening socket and every client connection, read and
// written without blocking. The Qt event loop watches the epoll descriptor alone (one
// QSocketNotifier), so a wake-up costs the same with ten connections as with twenty thousand and
// touches only the sockets that are ready.
//
// Descriptors: listen() raises the process's soft descriptor limit to its hard one and logs what
// it got. Connections are accepted while fewer than maxConnections() are open: the limit less the
// descriptors in use when listening began and kReservedDescriptors (the store, the hashing
// threads, the log). There the listening socket is left alone, so clients wait in its queue,
// until a connection closes. An accept that fails for want of descriptors all the same pauses
// accepting for kRetryMs; nothing ends for it.
//
// Output: Connection::write only queues. Queued bytes go out, in one send per connection however
// many frames it got, when control returns to the event loop; what the client does not take yet
// waits for it to read. A send that fails discards the connection's output; its end is then
// reported as for a client that went away.
//
// Input: each ready connection is read once per wake-up, at most kReadChunk bytes, so that one
// busy client cannot keep the others waiting. A connection whose input is held is not read until
// released.
//
// Callbacks run on the loop's thread from the event loop, never inside write() or close().
// Threading: the thread that made the loop; it must outlive every connection it made.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"

namespace tocd {

class TcpLoop {
public:
    // Descriptors kept free for everything but client connections.
    static constexpr int kReservedDescriptors = 64;
    static constexpr std::size_t kReadChunk = 64 * 1024;
    // How long a closed connection may take to send its last bytes.
    static constexpr qint64 kCloseGraceMs = 5000;
    // Pause after an accept failed for want of descriptors.
    static constexpr int kRetryMs = 1000;

    using ConnectionId = std::uint64_t;
    struct Handlers {
        // A new connection; returns the ID its bytes and its end are reported with, 0 when the
        // connection was closed at once.
        std::function<ConnectionId(std::unique_ptr<Connection>)> accepted;
        std::function<void(ConnectionId, std::string_view)> received;
        // The client went away or the connection failed; the connection is still to be closed.
        std::function<void(ConnectionId)> ended;
    };

    explicit TcpLoop(Handlers handlers);
    ~TcpLoop();
    TcpLoop(const TcpLoop&) = delete;
    TcpLoop& operator=(const TcpLoop&) = delete;

    // Starts listening; false with `error` set when it cannot.
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    QHostAddress address() const { return address_; }
    quint16 port() const { return port_; }
    int maxConnections() const { return maxOpen_; }
    int openConnections() const { return open_; }

private:
    class Handle;
    struct Socket {
        std::uint64_t token = 0;  // its low half is 0 while the slot is free
        int fd = -1;
        ConnectionId session = 0;
        std::string out;
        std::size_t sent = 0;  // bytes of `out` already sent
        std::uint32_t events = 0;
        bool closing = false;  // closed by the server: no more callbacks
        bool ended = false;    // its end was reported
        bool held = false;
        bool queued = false;  // in dirty_
    };

    void handleReady();
    void acceptAll();
    void setAccepting(bool on);
    void readFrom(std::uint64_t token, Socket& s);
    void end(Socket& s);
    void queue(std::uint64_t token, Socket& s, std::string_view bytes);
    void scheduleFlush();
    void flush();
    void sendOut(std::uint64_t token, Socket& s);
    void watchEvents(std::uint64_t token, Socket& s);
    void close(std::uint64_t token, bool flushFirst);
    void release(std::uint64_t token);
    void hold(std::uint64_t token, bool held);
    void expireClosing();
    Socket* find(std::uint64_t token);
    Socket& addSocket(int fd);

    Handlers handlers_;
    int epoll_ = -1;
    int listener_ = -1;
    bool accepting_ = false;
    QHostAddress address_;
    quint16 port_ = 0;
    int maxOpen_ = 0;
    int open_ = 0;
    qint64 limitLoggedAt_ = 0;  // when the limit was last logged
    // Sockets by slot: a token is the slot's index + 1 in its low 32 bits and the slot's use
    // count above, so a token of a released socket never finds the slot's next socket. A deque,
    // so that a Handle's reference stays valid as slots are added.
    std::deque<Socket> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::vector<std::uint64_t> dirty_;  // sockets with output queued since the last flush
    bool flushPosted_ = false;
    std::deque<std::pair<qint64, std::uint64_t>> closing_;  // deadline and socket, oldest first
    std::vector<char> readBuffer_;
    QObject context_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer graceTimer_;
    QTimer retryTimer_;
};

}  // namespace tocd

// The socket contract: what the control expects of its child `Sock`.
//
// The engine never touches the network itself. A Socket implementation (QtSocket over
// QTcpSocket in the platform layer, a fake in tests) moves the bytes and reports what happened
// through the SocketListener that the control installs.
//
// Threading: one thread. Every call and every notification happens on the thread that owns
// the socket (the host's event loop). Notifications are delivered synchronously and may
// destroy the socket's owner: an implementation must not touch itself after a notification
// returns unless it knows it is still alive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lantry {

// The notifications of a socket, implemented by its owner.
class SocketListener {
public:
    // The TCP connection is established.
    virtual void socketConnected() = 0;
    // Bytes are waiting; the listener reads them with Socket::GetData.
    virtual void socketDataArrival() = 0;
    // The socket failed (connect refused, host not found, reset, ...). `number` is the
    // socket layer's own error number; `description` says what happened in words.
    virtual void socketError(int number, const std::string& description) = 0;
    // The peer closed the connection in an orderly way; bytes it sent before closing have been
    // announced by socketDataArrival first.
    virtual void socketClosed() = 0;

protected:
    ~SocketListener() = default;
};

// A TCP client socket.
class Socket {
public:
    // The value of State() while the connection is open.
    static constexpr int StateConnected = 7;

    virtual ~Socket() = default;

    // 7 while connected; any other value means not connected.
    virtual int State() const = 0;
    // Starts connecting to host:port; the outcome arrives as socketConnected or socketError.
    // Connecting an already open socket first closes it.
    virtual void Connect(const std::string& host, std::int32_t port) = 0;
    // Queues the bytes for sending; no effect while not connected.
    virtual void SendData(std::string_view bytes) = 0;
    // Appends every byte received so far to `bytes` and forgets them.
    virtual void GetData(std::string& bytes) = 0;
    // Closes the connection (or the attempt); no notification follows. Safe in any state.
    virtual void Close() = 0;
    // The server dropped a command for coming too fast (ERROR:903). A socket that paces what
    // it sends slows down; any other ignores it.
    virtual void commandDropped() {}

    // The listener receives the notifications; the socket does not own it.
    void setListener(SocketListener* listener) { listener_ = listener; }

protected:
    SocketListener* listener() const { return listener_; }

private:
    SocketListener* listener_ = nullptr;
};

}  // namespace lantry

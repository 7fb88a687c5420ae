// One client connection as tocd's server sees it: a place to write bytes, and the two ways it
// ends. Bytes the client sends do not come through here; whoever owns the transport hands them
// to Server::receive.
//
// Ownership and threading: the server owns each connection through its session and uses it on
// its own thread only. After close() or abort() it calls nothing on the connection but its
// destructor.
#pragma once

#include <QHostAddress>
#include <QtGlobal>

#include <string_view>

namespace tocd {

class Connection {
public:
    virtual ~Connection() = default;

    // Queues bytes for the client; never blocks.
    virtual void write(std::string_view bytes) = 0;
    // Bytes queued by write() that the client has not taken yet.
    virtual qint64 bytesToWrite() const = 0;
    // Ends the connection once the queued bytes are out. Destroying the connection after this
    // must not cut those bytes short.
    virtual void close() = 0;
    // Ends the connection at once; queued bytes are lost.
    virtual void abort() = 0;
    // While held, the client's bytes are not taken from it (they wait in the transport) and
    // none reach the server; releasing takes them up again.
    virtual void holdInput(bool held) = 0;
    // The address and port the client reached the server at.
    virtual QHostAddress localAddress() const = 0;
    virtual quint16 localPort() const = 0;
    // The client's address.
    virtual QHostAddress peerAddress() const = 0;
};

}  // namespace tocd

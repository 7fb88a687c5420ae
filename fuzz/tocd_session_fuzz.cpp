// tocd's sessions fed arbitrary client bytes without a socket, on two sessions of one
// in-memory server that may sign on to the same or different accounts and talk to each other.
// Everything the server writes is checked: an HTTP answer or whole FLAP frames (types 1, 2 or 5,
// consecutive sequence numbers from 0, the sign-on frame first, data frames "KEYWORD:..."
// without any NUL), and nothing after the connection ended. After each input both clients hang
// up, and each connection must then have been closed.
//
// Input: a control byte c, then up to c >> 1 bytes that arrive in one read on session c & 1;
// c >> 1 == 0 means that session's client hangs up. Repeated to the end.
#include <QCoreApplication>
#include <QHostAddress>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "connection.h"
#include "ondrel/wire.h"
#include "server.h"

namespace {

namespace wire = lantry::wire;

[[noreturn]] void violation(const char* what, std::string_view bytes) {
    std::fprintf(stderr, "tocd stream violation: %s (%zu bytes)\n", what, bytes.size());
    std::abort();
}

// What one client saw of its connection; outlives the connection so that the end can be
// checked after the server let go of it.
struct Peer {
    bool closed = false;
    bool ended = false;  // closed or aborted
    bool destroyed = false;
    bool http = false;
    std::size_t writes = 0;
    std::uint16_t sequence = 0;
};

bool isKeywordLine(std::string_view payload) {
    const auto colon = payload.find(':');
    return colon != 0 && colon != std::string_view::npos &&
           payload.substr(0, colon).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
               std::string_view::npos;
}

class MemoryConnection final : public tocd::Connection {
public:
    explicit MemoryConnection(Peer& peer) : peer_(peer) {}
    ~MemoryConnection() override { peer_.destroyed = true; }

    void write(std::string_view bytes) override {
        if (peer_.ended)
            violation("write after the connection ended", bytes);
        if (peer_.writes++ == 0 && bytes.starts_with("HTTP/1.0 ")) {
            peer_.http = true;
            checkHttp(bytes);
            return;
        }
        if (peer_.http)
            violation("more than one HTTP response", bytes);
        checkFrame(bytes);
    }
    qint64 bytesToWrite() const override { return 0; }
    void close() override {
        end();
        peer_.closed = true;
    }
    void abort() override { end(); }
    void holdInput(bool) override {}
    QHostAddress localAddress() const override { return QHostAddress(QHostAddress::LocalHost); }
    quint16 localPort() const override { return 5190; }
    QHostAddress peerAddress() const override { return QHostAddress(QHostAddress::LocalHost); }

private:
    void end() {
        if (peer_.ended)
            violation("a connection ended twice", {});
        peer_.ended = true;
    }
    void checkFrame(std::string_view bytes) {
        if (bytes.size() < wire::kFrameHeaderSize || bytes[0] != wire::kFrameMarker ||
            wire::frameLength(bytes) != bytes.size())
            violation("not one whole frame", bytes);
        const auto type = static_cast<std::uint8_t>(bytes[1]);
        const auto sequence = static_cast<std::uint16_t>(wire::decodeWord(bytes.substr(2)));
        if (sequence != peer_.sequence++)
            violation("sequence number skipped", bytes);
        const auto payload = bytes.substr(wire::kFrameHeaderSize);
        if ((type == wire::kFrameSignOn) != (peer_.writes == 1))
            violation("the sign-on frame is not the first and only one", bytes);
        if (type == wire::kFrameSignOn) {
            if (payload != std::string_view("\0\0\0\1", 4))
                violation("sign-on frame without FLAP version 1", bytes);
        } else if (type == wire::kFrameData) {
            // A client ends a message at a NUL: one inside would cut it short.
            if (payload.find('\0') != std::string_view::npos || !isKeywordLine(payload))
                violation("data frame that is not KEYWORD:... without a NUL", bytes);
        } else if (type != wire::kFrameKeepAlive) {
            violation("frame type the server never sends", bytes);
        }
    }

    static void checkHttp(std::string_view bytes) {
        const auto end = bytes.find("\r\n\r\n");
        const auto at = bytes.find("\r\nContent-Length: ");
        if (end == std::string_view::npos || at == std::string_view::npos || at > end)
            violation("HTTP response without a whole header holding Content-Length", bytes);
        const std::size_t length = std::strtoul(bytes.data() + at + 18, nullptr, 10);
        const std::size_t body = bytes.size() - end - 4;
        // A HEAD answer states the length of the body it leaves out.
        if (body != length && body != 0)
            violation("HTTP body disagrees with Content-Length", bytes);
    }

    Peer& peer_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Peer peers[2];
    {
        tocd::Options options;
        options.passwordCost = tocd::PasswordCost::Minimum;
        tocd::Server server(options);
        QString error;
        if (!server.openStore(&error))
            violation(qPrintable(error), {});
        const tocd::Server::SessionId ids[2] = {
            server.openSession(std::make_unique<MemoryConnection>(peers[0])),
            server.openSession(std::make_unique<MemoryConnection>(peers[1]))};

        std::size_t at = 0;
        while (at < size) {
            const std::uint8_t control = data[at++];
            const tocd::Server::SessionId id = ids[control & 1];
            const std::size_t count = std::min<std::size_t>(control >> 1, size - at);
            if (control >> 1 == 0) {
                server.closeSession(id);
            } else {
                server.receive(id,
                               std::string_view(reinterpret_cast<const char*>(data) + at, count));
                at += count;
            }
            // Sessions the server ended are closed from the event loop.
            server.finishPasswordChecks();
            server.finishTurns();
            QCoreApplication::processEvents();
        }
        for (auto id : ids)
            server.closeSession(id);
        QCoreApplication::processEvents();
        for (const Peer& p : peers) {
            if (!p.closed || !p.destroyed)
                violation("a session the client left was not closed and let go", {});
        }
    }
    return 0;
}

// A scripted TOC2 peer on 127.0.0.1 that plays the server side byte for byte, for tests that
// play a hostile or impersonated server against a client. Every wait blocks for a bounded time
// and runs no event loop: a client in another process is served from the test's thread, a
// client on the test's own event loop from a thread of its own that creates and uses the peer.
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <ostream>
#include <utility>

// Failure messages show byte strings as text.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace lantry::testing {

// The server side of one TOC2 connection at a time.
class ScriptedPeer {
public:
    ScriptedPeer() { server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    // Exactly n bytes, or fewer when they do not come in time.
    QByteArray read(int n) {
        while (conn_->bytesAvailable() < n && conn_->waitForReadyRead(5000)) {
        }
        return conn_->read(n);
    }
    // The next frame's type and payload; type -1 when none comes.
    std::pair<int, QByteArray> readFrame() {
        const QByteArray h = read(6);
        if (h.size() < 6 || h[0] != '*')
            return {-1, {}};
        return {uchar(h[1]), read(uchar(h[4]) * 256 + uchar(h[5]))};
    }
    // The command line of the next data frame (its NUL checked and removed), or "" on failure.
    QByteArray readCommand() {
        const auto [type, payload] = readFrame();
        return type == 2 && payload.endsWith('\0') ? payload.chopped(1) : QByteArray();
    }
    // True when the client sends nothing for `ms` milliseconds.
    bool quietFor(int ms) { return conn_->bytesAvailable() == 0 && !conn_->waitForReadyRead(ms); }
    // Plays a whole sign-on on a new connection; false when the client strays from it.
    bool serveSignOn(const QByteArray& configuration) {
        if (!takeLogin())
            return false;
        send(2, "SIGN_ON:TOC2.0");
        send(2, "CONFIG2:" + configuration);
        return readCommand() == "toc_init_done";
    }
    // Takes a new connection up to its login line, answers it with `error` ("ERROR:980") and
    // hangs up, as servers refuse a sign-on.
    bool refuseSignOn(const QByteArray& error) {
        if (!takeLogin())
            return false;
        send(2, error);
        close();
        return true;
    }
    // Whether a client connects within `ms` milliseconds (the connection is left waiting).
    bool connectionComes(int ms) { return server_.waitForNewConnection(ms); }
    // One frame as a server sends it (data frames without a trailing NUL).
    void send(int type, const QByteArray& payload) {
        const int seq = serverSequence_++, size = int(payload.size());
        const char header[] = {'*',       char(type),      char(seq >> 8),
                               char(seq), char(size >> 8), char(size)};
        conn_->write(QByteArray(header, 6) + payload);
        conn_->flush();
    }
    // The toc2_login line of the last sign-on served.
    const QByteArray& login() const { return login_; }
    void close() { conn_->disconnectFromHost(); }
    bool closedByClient() {
        return conn_->state() == QAbstractSocket::UnconnectedState ||
               conn_->waitForDisconnected(5000);
    }

private:
    // A new connection's handshake, up to the login line (kept in login_).
    bool takeLogin() {
        if (!server_.waitForNewConnection(5000))
            return false;
        conn_.reset(server_.nextPendingConnection());
        conn_->setParent(nullptr);
        serverSequence_ = 0;
        if (read(8) != "FLAPON\n\n")
            return false;
        send(1, QByteArray("\0\0\0\1", 4));
        if (readFrame().first != 1)
            return false;
        login_ = readCommand();
        return login_.startsWith("toc2_login ");
    }

    QTcpServer server_;
    std::unique_ptr<QTcpSocket> conn_;
    int serverSequence_ = 0;
    QByteArray login_;
};

}  // namespace lantry::testing

// `ondrel bridge --listen ADDRESS`: the bridge as a daemon that holds one control (one session)
// for any number of JSON-RPC clients on a socket.
//
// Each connection is a client of the Bridge (bridge.h): it sends request lines, gets its own
// responses and the notifications it subscribed to (the --events set at first). A client leaving
// changes nothing in the session. A client that leaves more than kMaxUnread bytes unread is cut
// off at once; the others go on. A Unix socket is created with mode 0600 (the owner alone may
// connect); a stale socket file that nobody accepts on is replaced, any other file is left alone.
// TCP is only for a loopback address, and any local user can connect to it.
//
// SIGTERM and SIGINT stop accepting, remove the socket file, sign off (Bridge::signOff: held
// commands get a bounded time, LoggedOut reaches the clients) and quit the event loop with 0.
// Lines on stderr tell of listening, clients and the end.
#pragma once

#include <QHostAddress>
#include <QObject>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge.h"

class QIODevice;
class QLocalServer;
class QSocketNotifier;
class QTcpServer;

namespace lantry::cli {

struct ListenAddress {
    // A Unix socket at `path`, else TCP on host:port (port 0: one the system picks).
    bool local = true;
    std::string path;
    QHostAddress host;
    quint16 port = 0;
};

// "unix:PATH" or "tcp:HOST:PORT" with HOST a loopback address (IPv6 in brackets); nullopt with
// `error` saying what is wrong.
std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string& error);

class BridgeServer final : public QObject {
    Q_OBJECT
public:
    // Output a client may leave unread before it is cut off.
    static constexpr std::int64_t kMaxUnread = std::int64_t{1} << 20;
    // How long the clients' last lines may take to leave at the end.
    static constexpr int kFinalFlushMs = 2000;

    BridgeServer(Bridge& bridge, EventSet events, QObject* parent = nullptr);
    ~BridgeServer() override;

    // Listens and reports on stderr where; false with `error` when it cannot. Installs the
    // SIGTERM and SIGINT handling.
    bool listen(const ListenAddress& address, std::string& error);

private:
    class Connection;

    void accept(QIODevice* socket);
    void drop(Connection* connection, const char* why);
    void shutDown();
    void removeSocketFile();

    Bridge& bridge_;
    EventSet events_;
    QLocalServer* local_ = nullptr;
    QTcpServer* tcp_ = nullptr;
    std::string path_;
    // The socket file this process made, so that only it is removed.
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    std::vector<Connection*> connections_;
    int nextNumber_ = 1;
    QSocketNotifier* signals_ = nullptr;
    bool stopping_ = false;
};

}  // namespace lantry::cli

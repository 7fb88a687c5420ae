// The bridge as a daemon on a socket; see bridge_server.h.
#include "bridge_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace lantry::cli {

namespace {

// The write end of the pipe that carries signals into the event loop.
int signalPipeWrite = -1;

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWrite, &byte, 1);
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(const std::string& text, std::string& error) {
    ListenAddress address;
    if (text.rfind("unix:", 0) == 0) {
        address.path = text.substr(5);
        if (address.path.empty() || address.path.size() >= sizeof(sockaddr_un{}.sun_path)) {
            error = "--listen unix:PATH needs a path of 1 to " +
                    std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes";
            return std::nullopt;
        }
        return address;
    }
    const std::size_t colon = text.rfind(':');
    if (text.rfind("tcp:", 0) != 0 || colon < 4) {
        error = "--listen takes unix:PATH or tcp:127.0.0.1:PORT, not \"" + text + "\"";
        return std::nullopt;
    }
    std::string host = text.substr(4, colon - 4);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string port = text.substr(colon + 1);
    address.local = false;
    if (!address.host.setAddress(QString::fromStdString(host)) || !address.host.isLoopback()) {
        error = "--listen tcp: takes a loopback address (127.0.0.1 or [::1]), not \"" + host +
                "\": the bridge signs on for whoever connects";
        return std::nullopt;
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
        error = "--listen tcp: needs a port from 0 to 65535, not \"" + port + "\"";
        return std::nullopt;
    }
    address.port = static_cast<quint16>(std::stoi(port));
    return address;
}

// One client on a socket: request lines in, response and notification lines out.
class BridgeServer::Connection final : public QObject, public BridgeClient {
public:
    Connection(BridgeServer& server, QIODevice* socket, int number)
        : BridgeClient(server.events_), server_(server), socket_(socket), number_(number) {
        setParent(&server);
        socket_->setParent(this);
        connect(socket_, &QIODevice::readyRead, this, &Connection::readAvailable);
    }

    int number() const { return number_; }
    QIODevice* socket() const { return socket_; }

    void sendLine(std::string_view line) override {
        if (closed_)
            return;
        socket_->write(line.data(), static_cast<qint64>(line.size()));
        socket_->write("\n", 1);
        if (socket_->bytesToWrite() > kMaxUnread)
            server_.drop(this, "cut off: it left more than the limit unread");
    }

    // The peer has gone; a last line without LF is still carried out.
    void ended() {
        if (closed_)
            return;
        readAvailable();
        if (!skipping_ && !buffer_.empty() && !closed_)
            server_.bridge_.handleRequest(*this, buffer_);
        buffer_.clear();
        server_.drop(this, "left");
    }

    void close() {
        closed_ = true;
        socket_->disconnect(this);
    }
    bool closed() const { return closed_; }

private:
    void readAvailable() {
        while (!closed_ && socket_->bytesAvailable() > 0) {
            const QByteArray chunk = socket_->read(64 * 1024);
            buffer_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
            deliverLines();
        }
    }

    void deliverLines() {
        std::size_t from = 0;
        for (std::size_t end; !closed_ && (end = buffer_.find('\n', from)) != std::string::npos;
             from = end + 1) {
            if (skipping_) {
                skipping_ = false;
                continue;
            }
            std::string line = buffer_.substr(from, end - from);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string response = server_.bridge_.handleRequest(*this, line);
            if (!response.empty())
                sendLine(response);
        }
        buffer_.erase(0, std::min(from, buffer_.size()));
        if (buffer_.size() > LineReader::kMaxLine && !closed_) {
            // The line cannot be carried out; what is held and the rest of it are dropped.
            buffer_.clear();
            if (!skipping_)
                sendLine(R"({"jsonrpc":"2.0","id":null,"error":{"code":)" +
                         std::to_string(kInvalidRequest) + R"(,"message":"line longer than )" +
                         std::to_string(LineReader::kMaxLine) + R"( bytes, dropped"}})");
            skipping_ = true;
        }
    }

    BridgeServer& server_;
    QIODevice* socket_;
    int number_;
    std::string buffer_;
    bool skipping_ = false;
    bool closed_ = false;
};

BridgeServer::BridgeServer(Bridge& bridge, EventSet events, QObject* parent)
    : QObject(parent), bridge_(bridge), events_(events) {
}

BridgeServer::~BridgeServer() {
    for (Connection* connection : connections_)
        bridge_.removeClient(connection);
    removeSocketFile();
}

bool BridgeServer::listen(const ListenAddress& address, std::string& error) {
    if (address.local) {
        const char* path = address.path.c_str();
        struct stat existing {};
        if (::lstat(path, &existing) == 0) {
            if (!S_ISSOCK(existing.st_mode)) {
                error = "cannot listen on " + address.path + ": it exists and is no socket";
                return false;
            }
            QLocalSocket probe;
            probe.connectToServer(QString::fromStdString(address.path));
            if (probe.waitForConnected(1000)) {
                error = "cannot listen on " + address.path + ": another program accepts on it";
                return false;
            }
            ::unlink(path);
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un name{};
        name.sun_family = AF_UNIX;
        std::memcpy(name.sun_path, path, address.path.size());
        // The file is made with mode 0600 from the start: no moment in which others may connect.
        const mode_t mask = ::umask(0177);
        const bool bound =
            fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&name), sizeof name) == 0;
        ::umask(mask);
        if (!bound || ::listen(fd, SOMAXCONN) != 0) {
            error = "cannot listen on " + address.path + ": " + std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            if (bound)
                ::unlink(path);
            return false;
        }
        struct stat made {};
        ::stat(path, &made);
        device_ = made.st_dev;
        inode_ = made.st_ino;
        path_ = address.path;
        local_ = new QLocalServer(this);
        if (!local_->listen(fd)) {
            error = "cannot listen on " + address.path + ": " + local_->errorString().toStdString();
            ::close(fd);
            removeSocketFile();
            return false;
        }
        connect(local_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = local_->nextPendingConnection()) {
                accept(socket);
                connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                    for (Connection* c : connections_)
                        if (c->socket() == socket)
                            return c->ended();
                });
            }
        });
        std::fprintf(stderr, "ondrel bridge: listening on unix:%s\n", path);
    } else {
        tcp_ = new QTcpServer(this);
        if (!tcp_->listen(address.host, address.port)) {
            error = "cannot listen on " + address.host.toString().toStdString() + ":" +
                    std::to_string(address.port) + ": " + tcp_->errorString().toStdString();
            return false;
        }
        connect(tcp_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = tcp_->nextPendingConnection()) {
                accept(socket);
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    for (Connection* c : connections_)
                        if (c->socket() == socket)
                            return c->ended();
                });
            }
        });
        const QString host = address.host.protocol() == QAbstractSocket::IPv6Protocol
                                 ? "[" + address.host.toString() + "]"
                                 : address.host.toString();
        std::fprintf(stderr, "ondrel bridge: listening on tcp:%s:%u\n", qPrintable(host),
                     static_cast<unsigned>(tcp_->serverPort()));
    }

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot watch for signals: ") + std::strerror(errno);
        return false;
    }
    signalPipeWrite = pipe[1];
    signals_ = new QSocketNotifier(pipe[0], QSocketNotifier::Read, this);
    connect(signals_, &QSocketNotifier::activated, this, [this, fd = pipe[0]] {
        char bytes[16];
        bool signalled = false;
        while (::read(fd, bytes, sizeof bytes) > 0)
            signalled = true;
        // A wake-up without a byte is no signal.
        if (signalled)
            shutDown();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A client that hangs up while a line is written to it must not end the daemon.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stderr);
    return true;
}

void BridgeServer::accept(QIODevice* socket) {
    if (stopping_) {
        socket->deleteLater();
        return;
    }
    auto* connection = new Connection(*this, socket, nextNumber_++);
    connections_.push_back(connection);
    bridge_.addClient(connection);
    std::fprintf(stderr, "ondrel bridge: client %d connected\n", connection->number());
}

void BridgeServer::drop(Connection* connection, const char* why) {
    if (connection->closed())
        return;
    connection->close();
    bridge_.removeClient(connection);
    connections_.erase(std::remove(connections_.begin(), connections_.end(), connection),
                       connections_.end());
    std::fprintf(stderr, "ondrel bridge: client %d %s\n", connection->number(), why);
    if (auto* local = qobject_cast<QLocalSocket*>(connection->socket()))
        local->abort();
    else if (auto* tcp = qobject_cast<QTcpSocket*>(connection->socket()))
        tcp->abort();
    // It may be in the middle of its own request or of a relay: deleted from the event loop.
    connection->deleteLater();
}

void BridgeServer::shutDown() {
    if (stopping_)
        return;
    stopping_ = true;
    std::fprintf(stderr, "ondrel bridge: signing off\n");
    if (local_)
        local_->close();
    if (tcp_)
        tcp_->close();
    removeSocketFile();
    bridge_.signOff([this] {
        // The clients' last lines (LoggedOut) get a bounded time to leave.
        const QDeadlineTimer deadline(kFinalFlushMs);
        for (Connection* connection : connections_)
            while (connection->socket()->bytesToWrite() > 0 &&
                   connection->socket()->waitForBytesWritten(
                       static_cast<int>(deadline.remainingTime()))) {
            }
        std::fprintf(stderr, "ondrel bridge: signed off\n");
        QCoreApplication::exit(0);
    });
}

void BridgeServer::removeSocketFile() {
    if (path_.empty())
        return;
    struct stat now {};
    if (::lstat(path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_)
        ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace lantry::cli

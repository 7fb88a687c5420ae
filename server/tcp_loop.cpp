#include "tcp_loop.h"

#include <QDateTime>
#include <QDir>
#include <QMetaObject>
#include <QtDebug>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tocd {

namespace {

constexpr std::uint64_t kListenerToken = 0;
constexpr int kEventsPerWake = 256;
// Connections accepted per wake-up, so that a crowd at the door does not delay the ones inside.
constexpr int kAcceptsPerWake = 64;
// At the connection limit, which is logged at most this often.
constexpr qint64 kLimitLogMs = 10000;
// A drained output buffer larger than this gives its memory back.
constexpr std::size_t kKeptOutputCapacity = 64 * 1024;

QHostAddress toAddress(const sockaddr_storage& storage) {
    QHostAddress address(reinterpret_cast<const sockaddr*>(&storage));
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

quint16 toPort(const sockaddr_storage& storage) {
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port);
}

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                .size());
}

}  // namespace

// The server's view of one socket; the loop keeps the socket itself, so that bytes queued before
// close() still go out after the session let go of this.
class TcpLoop::Handle final : public Connection {
public:
    Handle(TcpLoop& loop, std::uint64_t token, Socket& socket, QHostAddress local,
           quint16 localPort, QHostAddress peer)
        : loop_(loop),
          token_(token),
          socket_(socket),
          local_(std::move(local)),
          localPort_(localPort),
          peer_(std::move(peer)) {}
    ~Handle() override {
        if (!done_)
            loop_.close(token_, false);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    // After close() the slot may hold another connection: the token tells.
    void write(std::string_view bytes) override {
        if (socket_.token == token_)
            loop_.queue(token_, socket_, bytes);
    }
    qint64 bytesToWrite() const override {
        return socket_.token == token_ ? static_cast<qint64>(socket_.out.size() - socket_.sent) : 0;
    }
    void close() override {
        done_ = true;
        loop_.close(token_, true);
    }
    void abort() override {
        done_ = true;
        loop_.close(token_, false);
    }
    void holdInput(bool held) override { loop_.hold(token_, held); }
    QHostAddress localAddress() const override { return local_; }
    quint16 localPort() const override { return localPort_; }
    QHostAddress peerAddress() const override { return peer_; }

private:
    TcpLoop& loop_;
    std::uint64_t token_;
    Socket& socket_;  // its slot; reused only after this closed it
    QHostAddress local_;
    quint16 localPort_;
    QHostAddress peer_;
    bool done_ = false;
};

TcpLoop::TcpLoop(Handlers handlers) : handlers_(std::move(handlers)), readBuffer_(kReadChunk) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &context_,
                         [this] { handleReady(); });
    }
    graceTimer_.setInterval(1000);
    QObject::connect(&graceTimer_, &QTimer::timeout, &context_, [this] { expireClosing(); });
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, &context_, [this] {
        if (open_ < maxOpen_)
            setAccepting(true);
    });
}

TcpLoop::~TcpLoop() {
    notifier_.reset();
    for (const Socket& s : slots_) {
        if (s.fd >= 0)
            ::close(s.fd);
    }
    if (listener_ >= 0)
        ::close(listener_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

bool TcpLoop::listen(const QHostAddress& address, quint16 port, QString* error) {
    const auto fail = [&](const char* what) {
        if (error) {
            *error = QStringLiteral("cannot listen on %1:%2: %3 (%4)")
                         .arg(address.toString())
                         .arg(port)
                         .arg(QString::fromLocal8Bit(std::strerror(errno)), QLatin1String(what));
        }
        return false;
    };
    if (epoll_ < 0)
        return fail("epoll");
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);

    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto& in = reinterpret_cast<sockaddr_in&>(storage);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof in;
    } else {
        // IPv6, or any address of either protocol.
        family = AF_INET6;
        auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? address.toIPv6Address()
                                     : Q_IPV6ADDR{};
        std::memcpy(&in6.sin6_addr, &bytes, sizeof in6.sin6_addr);
        length = sizeof in6;
    }
    listener_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return fail("socket");
    const int on = 1;
    const int off = 0;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (family == AF_INET6 && address.protocol() != QAbstractSocket::IPv6Protocol)
        setsockopt(listener_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&storage), length) != 0)
        return fail("bind");
    if (::listen(listener_, SOMAXCONN) != 0)
        return fail("listen");
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    address_ = toAddress(bound);
    port_ = toPort(bound);

    const auto descriptors = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT32_MAX));
    maxOpen_ = std::max(1, descriptors - openDescriptors() - kReservedDescriptors);
    qInfo("tocd: %d file descriptors, up to %d connections at once", descriptors, maxOpen_);
    setAccepting(true);
    return true;
}

void TcpLoop::setAccepting(bool on) {
    if (on == accepting_ || listener_ < 0)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kListenerToken;
    if (epoll_ctl(epoll_, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listener_, &event) != 0)
        return;
    accepting_ = on;
}

TcpLoop::Socket* TcpLoop::find(std::uint64_t token) {
    const std::uint64_t index = (token & 0xffffffffu) - 1;
    if (token == kListenerToken || index >= slots_.size())
        return nullptr;
    Socket& s = slots_[index];
    return s.token == token ? &s : nullptr;
}

TcpLoop::Socket& TcpLoop::addSocket(int fd) {
    std::uint32_t index = 0;
    std::uint64_t uses = 0;
    if (freeSlots_.empty()) {
        index = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    } else {
        index = freeSlots_.back();
        freeSlots_.pop_back();
        uses = slots_[index].token >> 32;
    }
    Socket& s = slots_[index];
    s = Socket{};
    s.token = ((uses + 1) << 32) | (index + 1);
    s.fd = fd;
    return s;
}

void TcpLoop::handleReady() {
    epoll_event events[kEventsPerWake];
    const int n = epoll_wait(epoll_, events, kEventsPerWake, 0);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t token = events[i].data.u64;
        if (token == kListenerToken) {
            acceptAll();
            continue;
        }
        Socket* s = find(token);
        if (!s)
            continue;
        const std::uint32_t ready = events[i].events;
        if ((ready & EPOLLOUT) && s->sent < s->out.size())
            sendOut(token, *s);
        s = find(token);
        if (s && (ready & (EPOLLIN | EPOLLHUP | EPOLLERR)))
            readFrom(token, *s);
    }
    flush();
}

void TcpLoop::acceptAll() {
    for (int i = 0; i < kAcceptsPerWake; ++i) {
        if (open_ >= maxOpen_) {
            if (nowMs() - limitLoggedAt_ >= kLimitLogMs) {
                limitLoggedAt_ = nowMs();
                qInfo("tocd: %d connections open, at the limit: accepting only as they close",
                      open_);
            }
            setAccepting(false);
            return;
        }
        sockaddr_storage peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &peerLength,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                qWarning("tocd: cannot accept (%s) with %d connections open: retrying in %d ms",
                         std::strerror(errno), open_, kRetryMs);
                setAccepting(false);
                retryTimer_.start(kRetryMs);
                return;
            }
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
                continue;
            return;  // EAGAIN: nobody else waiting
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
        Socket& s = addSocket(fd);
        const std::uint64_t token = s.token;
        s.events = EPOLLIN;
        epoll_event event{};
        event.events = s.events;
        event.data.u64 = token;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        ++open_;
        const ConnectionId id = handlers_.accepted(std::make_unique<Handle>(
            *this, token, s, toAddress(local), toPort(local), toAddress(peer)));
        if (Socket* kept = find(token); kept && !kept->closing)
            kept->session = id;
    }
}

void TcpLoop::readFrom(std::uint64_t token, Socket& s) {
    const ssize_t n = ::read(s.fd, readBuffer_.data(), readBuffer_.size());
    if (n > 0) {
        if (!s.closing)
            handlers_.received(s.session,
                               std::string_view(readBuffer_.data(), static_cast<std::size_t>(n)));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (s.closing)
        return release(token);
    end(s);
}

void TcpLoop::end(Socket& s) {
    // Nothing more comes from it nor goes to it; the server closes it in its own time.
    epoll_ctl(epoll_, EPOLL_CTL_DEL, s.fd, nullptr);
    s.events = 0;
    s.out.clear();
    s.sent = 0;
    if (std::exchange(s.ended, true))
        return;
    handlers_.ended(s.session);
}

void TcpLoop::queue(std::uint64_t token, Socket& s, std::string_view bytes) {
    if (s.closing || s.ended)
        return;
    s.out.append(bytes);
    if (!std::exchange(s.queued, true)) {
        dirty_.push_back(token);
        scheduleFlush();
    }
}

void TcpLoop::scheduleFlush() {
    if (std::exchange(flushPosted_, true))
        return;
    QMetaObject::invokeMethod(
        &context_, [this] { flush(); }, Qt::QueuedConnection);
}

void TcpLoop::flush() {
    flushPosted_ = false;
    // Sending may release a socket, which never adds to dirty_.
    std::vector<std::uint64_t> tokens;
    tokens.swap(dirty_);
    for (const std::uint64_t token : tokens) {
        if (Socket* s = find(token)) {
            s->queued = false;
            sendOut(token, *s);
        }
    }
}

void TcpLoop::sendOut(std::uint64_t token, Socket& s) {
    while (s.sent < s.out.size()) {
        const ssize_t n =
            ::send(s.fd, s.out.data() + s.sent, s.out.size() - s.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            s.sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // The client is gone: what it did not take is lost.
        if (s.closing)
            return release(token);
        return end(s);
    }
    if (s.sent == s.out.size()) {
        s.out.clear();
        s.sent = 0;
        if (s.out.capacity() > kKeptOutputCapacity)
            std::string().swap(s.out);
        if (s.closing)
            return release(token);
    } else if (s.sent > s.out.size() / 2) {
        s.out.erase(0, s.sent);
        s.sent = 0;
    }
    watchEvents(token, s);
}

void TcpLoop::watchEvents(std::uint64_t token, Socket& s) {
    if (s.ended)
        return;
    std::uint32_t events = 0;
    if (!s.held || s.closing)
        events |= EPOLLIN;
    if (s.sent < s.out.size())
        events |= EPOLLOUT;
    if (events == s.events)
        return;
    s.events = events;
    epoll_event event{};
    event.events = events;
    event.data.u64 = token;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, s.fd, &event);
}

void TcpLoop::close(std::uint64_t token, bool flushFirst) {
    Socket* s = find(token);
    if (!s || s->closing)
        return;
    s->closing = true;
    if (!flushFirst || s->ended || s->sent == s->out.size())
        return release(token);
    // The rest goes out as the client takes it; input is read and dropped meanwhile.
    s->held = false;
    watchEvents(token, *s);
    closing_.emplace_back(nowMs() + kCloseGraceMs, token);
    if (!graceTimer_.isActive())
        graceTimer_.start();
}

void TcpLoop::release(std::uint64_t token) {
    Socket* s = find(token);
    if (!s)
        return;
    ::close(s->fd);
    // The slot keeps its use count in the token's upper half for its next socket.
    const std::uint64_t uses = s->token >> 32;
    *s = Socket{};
    s->token = uses << 32;
    freeSlots_.push_back(static_cast<std::uint32_t>((token & 0xffffffffu) - 1));
    if (--open_ < maxOpen_ && !accepting_ && !retryTimer_.isActive())
        setAccepting(true);
}

void TcpLoop::hold(std::uint64_t token, bool held) {
    Socket* s = find(token);
    if (!s || s->closing || s->held == held)
        return;
    s->held = held;
    watchEvents(token, *s);
}

void TcpLoop::expireClosing() {
    const qint64 now = nowMs();
    while (!closing_.empty() && closing_.front().first <= now) {
        release(closing_.front().second);
        closing_.pop_front();
    }
    if (closing_.empty())
        graceTimer_.stop();
}

}  // namespace tocd

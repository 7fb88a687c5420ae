#include "ondrel/qt_socket.h"

#include "ondrel/wire.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace lantry {

namespace {

// A detached connection gets this long to flush what was queued before it is cut.
constexpr int kLingerMs = 5000;

void detach(QTcpSocket* tcp) {
    tcp->disconnect();
    if (tcp->state() == QAbstractSocket::ConnectedState && tcp->bytesToWrite() > 0) {
        QObject::connect(tcp, &QAbstractSocket::disconnected, tcp, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, tcp, [tcp] { tcp->abort(); });
        tcp->disconnectFromHost();
    } else {
        tcp->abort();
        // Later, not now: we may be inside one of this socket's own signals.
        tcp->deleteLater();
    }
}

}  // namespace

namespace {

// The command line of a data frame, or empty for any other bytes (the greeting, other frames).
std::string_view commandOf(std::string_view frame) {
    if (frame.size() <= wire::kFrameHeaderSize || frame[0] != wire::kFrameMarker ||
        static_cast<unsigned char>(frame[1]) != wire::kFrameData)
        return {};
    return frame.substr(wire::kFrameHeaderSize);
}

}  // namespace

QtSocket::QtSocket(QObject* parent) : QObject(parent) {
    clock_.start();
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setTimerType(Qt::PreciseTimer);
    connect(&releaseTimer_, &QTimer::timeout, this, &QtSocket::releaseHeld);
}

QtSocket::~QtSocket() {
    // A socket whose signal is being delivered right now must outlive that signal: it leaves
    // our hands (a parent deletes its children at once) and goes when Qt is done with it.
    if (signalling_) {
        signalling_->setParent(nullptr);
        detach(signalling_);
        if (signalling_ == tcp_)
            tcp_ = nullptr;
    }
    if (tcp_)
        detach(tcp_);
}

template <class Call>
void QtSocket::notify(QTcpSocket* from, Call&& call) {
    SocketListener* l = listener();
    if (!l)
        return;
    const QPointer<QtSocket> alive(this);
    QTcpSocket* const outer = signalling_;
    signalling_ = from;
    call(*l);
    if (alive)
        signalling_ = outer;
}

bool QtSocket::isFlushing() const {
    const auto connections = findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly);
    return std::any_of(connections.begin(), connections.end(),
                       [this](const QTcpSocket* tcp) { return tcp != tcp_; });
}

void QtSocket::whenFlushed(std::function<void()> flushed) {
    auto* timer = new QTimer(this);
    QElapsedTimer clock;
    clock.start();
    connect(timer, &QTimer::timeout, this,
            [this, timer, clock, flushed = std::move(flushed)]() mutable {
                if (isFlushing() && !clock.hasExpired(kFlushLimitMs))
                    return;
                timer->stop();
                timer->deleteLater();
                // From a fresh turn of the loop: `flushed` may destroy this object and so the
                // timer whose signal is running now.
                QTimer::singleShot(0, this, std::move(flushed));
            });
    timer->start(10);
}

int QtSocket::State() const {
    if (!tcp_)
        return 0;
    switch (tcp_->state()) {
        case QAbstractSocket::HostLookupState:
            return 4;
        case QAbstractSocket::ConnectingState:
            return 6;
        case QAbstractSocket::ConnectedState:
            return StateConnected;
        case QAbstractSocket::ClosingState:
            return 8;
        default:
            return 0;
    }
}

void QtSocket::reportLater(int number, const std::string& description) {
    QTimer::singleShot(0, this, [this, number, description, generation = generation_] {
        if (generation == generation_)
            notify(nullptr, [&](SocketListener& l) { l.socketError(number, description); });
    });
}

void QtSocket::Connect(const std::string& host, std::int32_t port) {
    Close();
    if (port < 1 || port > 65535) {
        // Reported like any other failure: later, from the event loop.
        reportLater(QAbstractSocket::UnknownSocketError,
                    "Invalid port number " + std::to_string(port));
        return;
    }
    auto* tcp = new QTcpSocket(this);
    tcp_ = tcp;
    tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(tcp, &QTcpSocket::connected, this, [this, tcp] {
        rate_ = RateAverage(rates_);
        rate_.reset(clock_.elapsed());
        notify(tcp, [](SocketListener& l) { l.socketConnected(); });
    });
    connect(tcp, &QTcpSocket::readyRead, this,
            [this, tcp] { notify(tcp, [](SocketListener& l) { l.socketDataArrival(); }); });
    connect(tcp, &QAbstractSocket::errorOccurred, this,
            [this, tcp](QAbstractSocket::SocketError error) {
                // An orderly close by the peer is reported once, as the disconnection.
                if (error == QAbstractSocket::RemoteHostClosedError)
                    return;
                const std::string text =
                    tcp->errorString().toLatin1().toStdString() + heldNotSentSuffix();
                dropHeld();
                notify(tcp, [&](SocketListener& l) { l.socketError(error, text); });
            });
    connect(tcp, &QAbstractSocket::disconnected, this, [this, tcp] {
        if (held_.empty()) {
            notify(tcp, [](SocketListener& l) { l.socketClosed(); });
            return;
        }
        const std::string text = "The server closed the connection" + heldNotSentSuffix();
        dropHeld();
        notify(tcp, [&](SocketListener& l) {
            l.socketError(QAbstractSocket::RemoteHostClosedError, text);
        });
    });
    tcp->connectToHost(QString::fromLatin1(host.data(), static_cast<qsizetype>(host.size())),
                       static_cast<quint16>(port));
}

void QtSocket::SendData(std::string_view bytes) {
    if (!tcp_ || tcp_->state() != QAbstractSocket::ConnectedState)
        return;
    const bool counted = pacing_ && isRateLimitedCommand(commandOf(bytes));
    if (pacing_ &&
        (!held_.empty() || (counted && clock_.elapsed() < rate_.earliestNext(marginMs_)))) {
        held_.push_back({std::string(bytes), counted});
        if (!releaseTimer_.isActive())
            releaseHeld();
        return;
    }
    write(bytes, counted);
}

void QtSocket::write(std::string_view bytes, bool counted) {
    if (counted)
        rate_.count(clock_.elapsed());
    const auto size = static_cast<qint64>(bytes.size());
    if (const qint64 unsent = tcp_->bytesToWrite(); unsent + size > kMaxUnsentBytes) {
        // A peer that stopped reading would otherwise make the queue grow without end.
        tcp_->disconnect();
        tcp_->abort();
        tcp_->deleteLater();
        tcp_ = nullptr;
        reportLater(QAbstractSocket::SocketResourceError,
                    "Connection closed: the server stopped reading, with " +
                        std::to_string(unsent) + " bytes still unsent (the limit is " +
                        std::to_string(kMaxUnsentBytes) + ")" + heldNotSentSuffix());
        dropHeld();
        return;
    }
    tcp_->write(bytes.data(), size);
}

void QtSocket::GetData(std::string& bytes) {
    if (!tcp_)
        return;
    const qint64 waiting = tcp_->bytesAvailable();
    if (waiting <= 0)
        return;
    const std::size_t held = bytes.size();
    bytes.resize(held + static_cast<std::size_t>(waiting));
    const qint64 got = tcp_->read(bytes.data() + held, waiting);
    bytes.resize(held + static_cast<std::size_t>(got > 0 ? got : 0));
}

void QtSocket::Close() {
    ++generation_;
    dropHeld();
    if (!tcp_)
        return;
    QTcpSocket* tcp = tcp_;
    tcp_ = nullptr;
    detach(tcp);
}

void QtSocket::commandDropped() {
    if (pacing_)
        rate_.serverDropped();
}

void QtSocket::setRateClass(const RateClass& rates, double marginMs) {
    rates_ = rates;
    marginMs_ = marginMs;
}

void QtSocket::setPacing(bool on) {
    pacing_ = on;
    if (!on)
        releaseHeld();
}

void QtSocket::releaseHeld() {
    releaseTimer_.stop();
    int sent = 0;
    while (!held_.empty() && tcp_ && tcp_->state() == QAbstractSocket::ConnectedState) {
        const HeldFrame& next = held_.front();
        if (pacing_ && next.counted) {
            const qint64 wait = rate_.earliestNext(marginMs_) - clock_.elapsed();
            if (wait > 0) {
                releaseTimer_.start(static_cast<int>(wait));
                break;
            }
        }
        const HeldFrame frame = std::move(held_.front());
        held_.pop_front();
        ++sent;
        write(frame.bytes, pacing_ && frame.counted);
    }
    if (sent > 0)
        tellHeld(sent, 0);
}

void QtSocket::dropHeld() {
    releaseTimer_.stop();
    if (held_.empty())
        return;
    tellHeld(0, static_cast<int>(held_.size()));
    held_.clear();
}

void QtSocket::tellHeld(int sent, int dropped) {
    QTimer::singleShot(0, this, [this, sent, dropped] {
        if (heldHandler_) {
            const HeldHandler handler = heldHandler_;
            handler(sent, dropped);
        }
    });
}

std::string QtSocket::heldNotSentSuffix() const {
    if (held_.empty())
        return {};
    const std::size_t n = held_.size();
    return "; " + std::to_string(n) + (n == 1 ? " command" : " commands") + " waiting to be sent " +
           (n == 1 ? "was" : "were") + " not sent";
}

}  // namespace lantry

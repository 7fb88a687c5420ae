#include "connection_manager.h"

#include <QRandomGenerator>
#include <QWidget>

#include "ondrel/events.h"
#include "ondrel/reconnect_backoff.h"
#include "wire_strings.h"

namespace messenger {

bool parseServer(const QString& text, QString& host, quint16& port, QString& error) {
    const QString trimmed = text.trimmed();
    host = trimmed;
    port = 5190;
    if (trimmed.isEmpty()) {
        error = QObject::tr("Type the server as HOST or HOST:PORT, e.g. 127.0.0.1:5190.");
        return false;
    }
    const qsizetype colon = trimmed.lastIndexOf(u':');
    if (colon >= 0) {
        bool ok = false;
        const uint number = trimmed.mid(colon + 1).toUInt(&ok);
        if (!ok || number < 1 || number > 65535) {
            error = QObject::tr("The port after the colon must be a number from 1 to 65535.");
            return false;
        }
        host = trimmed.left(colon).trimmed();
        port = quint16(number);
    }
    if (host.isEmpty() || host.contains(u' ')) {
        error = QObject::tr("The server name is missing or holds a blank.");
        return false;
    }
    return true;
}

ConnectionManager::ConnectionManager(lantry::ControlObject* control, QObject* parent)
    : QObject(parent), control_(control) {
    control_->widget()->hide();
    control_->connectEvents([this](int number, QVariantList& args) { onEvent(number, args); });
    control_->setHeldCommandsHandler(
        [this](int sent, int dropped) { emit heldCommandsLeft(sent, dropped); });
    retryTimer_.setSingleShot(true);
    retryTimer_.setTimerType(Qt::PreciseTimer);
    connect(&retryTimer_, &QTimer::timeout, this, &ConnectionManager::attempt);
}

ConnectionManager::~ConnectionManager() {
    // Destroying the control closes its connection and raises nothing.
    delete control_->widget();
}

void ConnectionManager::signOn(const Account& account) {
    account_ = account;
    wasSignedOn_ = false;
    failedAttempts_ = 0;
    formattedName_.clear();
    retryTimer_.stop();
    attempt();
}

void ConnectionManager::signOff() {
    retryTimer_.stop();
    wasSignedOn_ = false;
    const State before = state_;
    setState(State::SignedOff);
    if (before != State::SignedOff)
        call(lantry::DispId::LogOff);
}

void ConnectionManager::reconnectNow() {
    if (state_ != State::Waiting)
        return;
    retryTimer_.stop();
    failedAttempts_ = 0;
    attempt();
}

void ConnectionManager::attempt() {
    setState(State::Connecting);
    call(lantry::DispId::Login,
         {toWire(account_.name), toWire(account_.password), account_.host, int(account_.port)});
}

void ConnectionManager::scheduleRetry(const QString& why) {
    lastProblem_ = why;
    const std::chrono::seconds pause = lantry::reconnectPause(failedAttempts_);
    ++failedAttempts_;
    pauseSeconds_ = int(pause.count());
    const double unit = unitRandom_ ? unitRandom_() : QRandomGenerator::global()->generateDouble();
    waitMilliseconds_ = int(lantry::reconnectWait(pause, unit).count());
    retryTimer_.start(waitMilliseconds_);
    setState(State::Waiting);
}

void ConnectionManager::setState(State state) {
    if (state == state_)
        return;
    state_ = state;
    emit stateChanged(state);
}

QString ConnectionManager::statusText() const {
    switch (state_) {
        case State::SignedOff:
            return tr("Signed off");
        case State::Connecting:
            return wasSignedOn_ ? tr("Reconnecting to %1 ...").arg(account_.host)
                                : tr("Signing on to %1 ...").arg(account_.host);
        case State::SignedOn:
            return tr("Signed on as %1").arg(formattedName_);
        case State::Waiting:
            return tr("Connection lost: %1. Trying again in %2 s.")
                .arg(lastProblem_)
                .arg(secondsToNextAttempt());
    }
    return {};
}

int ConnectionManager::secondsToNextAttempt() const {
    if (state_ != State::Waiting || !retryTimer_.isActive())
        return 0;
    return (retryTimer_.remainingTime() + 999) / 1000;
}

lantry::DispatchResult ConnectionManager::call(lantry::DispatchId id, const QVariantList& args) {
    lantry::DispatchResult result = control_->call(id, args);
    if (!result.ok())
        emit problem(result.description);
    return result;
}

int ConnectionManager::sendIm(const QString& wireName, const QString& text, bool autoResponse) {
    const auto parts =
        lantry::splitForIm(lantry::toWireText(text), wireName.toLatin1(), autoResponse);
    if (parts.isEmpty())
        emit problem(
            tr("The screen name %1 is too long to send anything to.").arg(fromWire(wireName)));
    for (const QByteArray& part : parts)
        call(lantry::DispId::SendIM, {wireName, part, autoResponse});
    return int(parts.size());
}

int ConnectionManager::sendChat(const QString& wireRoomName, int chatId, const QString& text) {
    const auto parts = lantry::splitForChat(lantry::toWireText(text), chatId);
    for (const QByteArray& part : parts)
        call(lantry::DispId::SendChat, {wireRoomName, part, chatId});
    return int(parts.size());
}

void ConnectionManager::onEvent(int eventNumber, QVariantList& args) {
    emit controlEvent(eventNumber, args);
    using lantry::EventNumber;
    switch (static_cast<EventNumber>(eventNumber)) {
        case EventNumber::ScreennameFormat:
            formattedName_ = fromWire(args.value(0).toString());
            break;
        case EventNumber::LoggedIn:
            if (formattedName_.isEmpty())
                formattedName_ = fromWire(args.value(0).toString());
            wasSignedOn_ = true;
            failedAttempts_ = 0;
            setState(State::SignedOn);
            emit signedOn();
            break;
        case EventNumber::Error: {
            const int code = args.value(0).toInt();
            const QString sentence = fromWire(args.value(1).toString());
            if (state_ != State::Connecting) {
                emit problem(sentence);
            } else if (wasSignedOn_ && lantry::isPassingSignOnRefusal(code)) {
                scheduleRetry(sentence);
            } else {
                // The server closes after a refusal; that close must not count as a loss.
                setState(State::SignedOff);
                wasSignedOn_ = false;
                // The control's sentence for 983 speaks only of signing on; tocd also sends it
                // for new accounts past the address's allowance.
                emit signOnFailed(code == 983 ? tr("Signing on too often, or too many new "
                                                   "accounts from this address (error 983).")
                                              : sentence);
            }
            break;
        }
        case EventNumber::WinsockError: {
            const QString sentence = fromWire(args.value(0).toString());
            if (state_ == State::SignedOn) {
                scheduleRetry(sentence);
                emit connectionLost(sentence);
            } else if (state_ == State::Connecting && wasSignedOn_) {
                scheduleRetry(sentence);
            } else if (state_ == State::Connecting) {
                setState(State::SignedOff);
                emit signOnFailed(tr("Cannot reach %1:%2: %3")
                                      .arg(account_.host)
                                      .arg(account_.port)
                                      .arg(sentence));
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace messenger

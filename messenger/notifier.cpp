#include "notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace messenger {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

bool serviceRunning() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(kService).value();
}

}  // namespace

Notifier::Notifier(std::function<bool(const QString&, const QString&)> fallback, QObject* parent)
    : QObject(parent), fallback_(std::move(fallback)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kService,
                                                     QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QStringList> reply = *w;
        bodyMarkup_ = !reply.isError() && reply.value().contains(QStringLiteral("body-markup"));
        w->deleteLater();
    });
}

Notifier::Via Notifier::notify(const QString& title, const QString& body) {
    if (serviceRunning()) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
        call << QStringLiteral("Ondrel Messenger") << 0u << QStringLiteral("ondrel-messenger")
             << title << (bodyMarkup_ ? body.toHtmlEscaped() : body) << QStringList()
             << QVariantMap{{QStringLiteral("category"), QStringLiteral("im.received")}} << -1;
        QDBusConnection::sessionBus().asyncCall(call);
        return Via::Service;
    }
    return fallback_ && fallback_(title, body) ? Via::Fallback : Via::Nowhere;
}

}  // namespace messenger

// Desktop notifications: through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications) where it is running, otherwise through `fallback` (the tray
// icon's balloon). The title and body are plain text; they are escaped for services that read
// markup in the body. GUI thread only.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace messenger {

class Notifier : public QObject {
    Q_OBJECT
public:
    enum class Via { Service, Fallback, Nowhere };

    // `fallback` shows a title and a body some other way, and says whether it could.
    explicit Notifier(std::function<bool(const QString&, const QString&)> fallback,
                      QObject* parent = nullptr);

    // Raises one notification; returns where it went.
    Via notify(const QString& title, const QString& body);

private:
    std::function<bool(const QString&, const QString&)> fallback_;
    bool bodyMarkup_ = false;  // the service reads markup in bodies
};

}  // namespace messenger

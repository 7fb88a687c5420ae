#include "window_geometry.h"

#include <QEvent>
#include <QSettings>
#include <QWidget>

namespace messenger {

namespace {

class GeometryKeeper : public QObject {
public:
    GeometryKeeper(QWidget* window, QSettings* settings, const QString& key)
        : QObject(window), settings_(settings), key_(QStringLiteral("geometry/") + key) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide || event->type() == QEvent::Close) {
            settings_->setValue(key_, static_cast<QWidget*>(watched)->saveGeometry());
        }
        return false;
    }

private:
    QSettings* settings_;
    QString key_;
};

}  // namespace

void rememberGeometry(QWidget* window, QSettings* settings, const QString& key) {
    const QByteArray saved = settings->value(QStringLiteral("geometry/") + key).toByteArray();
    if (!saved.isEmpty())
        window->restoreGeometry(saved);
    window->installEventFilter(new GeometryKeeper(window, settings, key));
}

}  // namespace messenger

// Windows that come back where the person left them: restores a window's geometry from
// QSettings (under "geometry/<key>") and saves it whenever the window is hidden or closed.
#pragma once

#include <QObject>
#include <QString>

class QSettings;
class QWidget;

namespace messenger {

// Restores `window`'s saved geometry (when there is one) and keeps saving it. `settings` must
// outlive the window.
void rememberGeometry(QWidget* window, QSettings* settings, const QString& key);

}  // namespace messenger

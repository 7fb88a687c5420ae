// The notification-area icon, where the desktop has a notification area: shows the number of
// unread messages on the icon and in its tooltip; a click brings the buddy list back.
#pragma once

#include <QObject>

class QMenu;
class QSystemTrayIcon;

namespace messenger {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // `menu` (owned by the caller) becomes the icon's context menu. Nothing shows when the
    // desktop has no notification area.
    TrayIcon(QMenu* menu, QObject* parent = nullptr);

    bool available() const { return icon_ != nullptr; }
    void setUnread(int count);
    int unread() const { return unread_; }
    QString toolTip() const;
    // Shows a balloon message by the icon; false when there is no icon.
    bool showMessage(const QString& title, const QString& body);

signals:
    void activated();

private:
    QSystemTrayIcon* icon_ = nullptr;
    int unread_ = 0;
};

}  // namespace messenger

#include "tray_icon.h"

#include <QFont>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace messenger {

namespace {

QIcon drawIcon(int unread) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1a, 0x4f, 0xb0));
    p.drawRoundedRect(QRectF(2, 6, 24, 18), 5, 5);
    p.drawPolygon(QPolygonF({QPointF(8, 23), QPointF(8, 30), QPointF(15, 23)}));
    if (unread > 0) {
        p.setBrush(QColor(0xd0, 0x2a, 0x1a));
        p.drawEllipse(QRectF(15, 0, 17, 17));
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(15, 0, 17, 17), Qt::AlignCenter,
                   unread > 99 ? QStringLiteral("99") : QString::number(unread));
    }
    return QIcon(pixmap);
}

}  // namespace

TrayIcon::TrayIcon(QMenu* menu, QObject* parent) : QObject(parent) {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    icon_ = new QSystemTrayIcon(drawIcon(0), this);
    icon_->setContextMenu(menu);
    icon_->setToolTip(toolTip());
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit activated();
            });
    icon_->show();
}

void TrayIcon::setUnread(int count) {
    unread_ = count;
    if (!icon_)
        return;
    icon_->setIcon(drawIcon(count));
    icon_->setToolTip(toolTip());
}

QString TrayIcon::toolTip() const {
    if (unread_ == 0)
        return tr("Ondrel Messenger");
    return unread_ == 1 ? tr("Ondrel Messenger: 1 unread message")
                        : tr("Ondrel Messenger: %1 unread messages").arg(unread_);
}

}  // namespace messenger

namespace messenger {

bool TrayIcon::showMessage(const QString& title, const QString& body) {
    if (!icon_ || !QSystemTrayIcon::supportsMessages())
        return false;
    icon_->showMessage(title, body);
    return true;
}

}  // namespace messenger

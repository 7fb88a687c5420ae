#include "sign_on_window.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "connection_manager.h"

namespace messenger {

SignOnWindow::SignOnWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("signOnWindow"));
    setWindowTitle(tr("Sign On - Ondrel Messenger"));

    server_ = new QLineEdit(QLatin1String(kDefaultServer), this);
    server_->setObjectName(QStringLiteral("server"));
    server_->setAccessibleName(tr("Server"));
    server_->setAccessibleDescription(tr("Host name or address, and the port after a colon"));
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("screenName"));
    name_->setAccessibleName(tr("Screen name"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setAccessibleName(tr("Password"));
    password_->setEchoMode(QLineEdit::Password);
    remember_ = new QCheckBox(tr("&Remember me"), this);
    remember_->setObjectName(QStringLiteral("rememberMe"));
    remember_->setAccessibleName(tr("Remember my password"));
    remember_->setToolTip(tr("Keeps the password in the desktop's secret service."));
    button_ = new QPushButton(tr("&Sign On"), this);
    button_->setObjectName(QStringLiteral("signOnButton"));
    button_->setAccessibleName(tr("Sign on"));
    button_->setDefault(true);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setAccessibleName(tr("Sign-on status"));
    status_->setWordWrap(true);
    status_->setTextFormat(Qt::PlainText);

    auto* form = new QFormLayout;
    form->addRow(tr("Ser&ver:"), server_);
    form->addRow(tr("Screen &name:"), name_);
    form->addRow(tr("&Password:"), password_);
    form->addRow(QString(), remember_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(button_);
    layout->addWidget(status_);
    layout->addStretch();
    setTabOrder(server_, name_);
    setTabOrder(name_, password_);
    setTabOrder(password_, remember_);
    setTabOrder(remember_, button_);

    connect(button_, &QPushButton::clicked, this, [this] {
        if (busy_)
            emit cancelRequested();
        else
            submit();
    });
    name_->setFocus();
}

void SignOnWindow::setServer(const QString& server) {
    server_->setText(server);
}
void SignOnWindow::setScreenName(const QString& name) {
    name_->setText(name);
}
void SignOnWindow::setPassword(const QString& password) {
    password_->setText(password);
}
void SignOnWindow::setRemember(bool remember) {
    remember_->setChecked(remember);
}

void SignOnWindow::setBusy(bool busy) {
    busy_ = busy;
    for (QWidget* w : std::initializer_list<QWidget*>{server_, name_, password_, remember_})
        w->setEnabled(!busy);
    button_->setText(busy ? tr("&Cancel") : tr("&Sign On"));
    button_->setAccessibleName(busy ? tr("Cancel signing on") : tr("Sign on"));
}

void SignOnWindow::keyPressEvent(QKeyEvent* event) {
    // The fields and the check box leave Enter to the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        submit();
    else
        QWidget::keyPressEvent(event);
}

void SignOnWindow::setStatus(const QString& text, bool isError) {
    status_->setText(text);
    status_->setStyleSheet(isError ? QStringLiteral("color: #b0281a") : QString());
}

QString SignOnWindow::status() const {
    return status_->text();
}

void SignOnWindow::submit() {
    if (busy_)
        return;
    QString host;
    quint16 port = 0;
    QString error;
    if (!parseServer(server_->text(), host, port, error)) {
        setStatus(error, true);
        server_->setFocus();
        return;
    }
    if (name_->text().trimmed().isEmpty()) {
        setStatus(tr("Type your screen name."), true);
        name_->setFocus();
        return;
    }
    if (password_->text().isEmpty()) {
        setStatus(tr("Type your password."), true);
        password_->setFocus();
        return;
    }
    emit signOnRequested(host, port, name_->text().trimmed(), password_->text(),
                         remember_->isChecked());
}

}  // namespace messenger

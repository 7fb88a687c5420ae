#include "sign_on_window.h"

#include <QCheckBox>
#include <QFormLayout>
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
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("screenName"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    remember_ = new QCheckBox(tr("&Remember me"), this);
    remember_->setObjectName(QStringLiteral("rememberMe"));
    remember_->setToolTip(
        tr("Keeps the server and screen name, and the password in the "
           "desktop's secret service."));
    button_ = new QPushButton(tr("&Sign On"), this);
    button_->setObjectName(QStringLiteral("signOnButton"));
    button_->setDefault(true);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
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
    for (QLineEdit* field : {server_, name_, password_})
        connect(field, &QLineEdit::returnPressed, this, &SignOnWindow::submit);
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

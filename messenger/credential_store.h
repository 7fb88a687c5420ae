// The account last signed on with: the server and the screen name always go into QSettings;
// with "remember me" the password goes to the desktop's secret service through QtKeychain,
// never into a file of ours. Where no secret service answers, the password is not kept and
// problem says so in words.
//
// Keychain jobs run asynchronously; passwordRead and stored arrive later on the GUI thread.
#pragma once

#include <QObject>
#include <QSettings>
#include <QString>

namespace messenger {

struct RememberedAccount {
    bool remember = false;
    QString server;  // "HOST[:PORT]" as typed
    QString name;
};

class CredentialStore : public QObject {
    Q_OBJECT
public:
    // `settings` must outlive the store.
    explicit CredentialStore(QSettings* settings, QObject* parent = nullptr);

    RememberedAccount remembered() const;
    // Keeps the server and name. With `rememberMe` it hands the password to the secret service;
    // without, it drops the password stored before, if any.
    void remember(const QString& server, const QString& name, const QString& password,
                  bool rememberMe);
    // Asks the secret service for the password of `name` on `server`: passwordRead follows
    // (with an empty password when none is stored or the service cannot be reached).
    void readPassword(const QString& server, const QString& name);

signals:
    void passwordRead(const QString& password);
    // The password could not be stored or read; `why` in words.
    void problem(const QString& why);
    // The secret service took the password.
    void stored();

private:
    static QString keyFor(const QString& server, const QString& name);

    QSettings* settings_;
};

}  // namespace messenger

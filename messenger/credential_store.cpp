#include "credential_store.h"

#include <qt6keychain/keychain.h>

namespace messenger {

namespace {

const QString kService = QStringLiteral("Ondrel Messenger");

// Why a keychain job failed, and what that means for the password, in words.
QString sentenceFor(QKeychain::Job* job, bool storing) {
    const QString outcome = storing ? QObject::tr("so the password was not stored")
                                    : QObject::tr("so the password could not be read; type it");
    switch (job->error()) {
        case QKeychain::NoBackendAvailable:
        case QKeychain::OtherError:
            // Without a session bus or keyring daemon the library can say no more than this.
            return QObject::tr(
                       "No secret service (such as GNOME Keyring or KWallet) is "
                       "available (%1), %2.")
                .arg(job->errorString(), outcome);
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            return QObject::tr("The secret service refused access, %1.").arg(outcome);
        default:
            return QObject::tr("The secret service failed (%1), %2.")
                .arg(job->errorString(), outcome);
    }
}

}  // namespace

CredentialStore::CredentialStore(QSettings* settings, QObject* parent)
    : QObject(parent), settings_(settings) {
}

QString CredentialStore::keyFor(const QString& server, const QString& name) {
    return name.toLower().remove(u' ') + u'@' + server.trimmed().toLower();
}

RememberedAccount CredentialStore::remembered() const {
    RememberedAccount a;
    a.remember = settings_->value(QStringLiteral("account/remember"), false).toBool();
    a.server = settings_->value(QStringLiteral("account/server")).toString();
    a.name = settings_->value(QStringLiteral("account/name")).toString();
    return a;
}

void CredentialStore::remember(const QString& server, const QString& name, const QString& password,
                               bool rememberMe) {
    const RememberedAccount before = remembered();
    settings_->setValue(QStringLiteral("account/remember"), rememberMe);
    settings_->setValue(QStringLiteral("account/server"), server);
    settings_->setValue(QStringLiteral("account/name"), name);
    settings_->sync();
    if (!rememberMe) {
        if (before.remember && !before.name.isEmpty()) {
            auto* job = new QKeychain::DeletePasswordJob(kService, this);
            job->setInsecureFallback(false);
            job->setAutoDelete(true);
            job->setKey(keyFor(before.server, before.name));
            job->start();
        }
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(kService, this);
    // Without a secret service the job must fail, not fall back to a plain file.
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->setKey(keyFor(server, name));
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job* done) {
        if (done->error() == QKeychain::NoError)
            emit stored();
        else
            emit problem(sentenceFor(done, true));
    });
    job->start();
}

void CredentialStore::readPassword(const QString& server, const QString& name) {
    auto* job = new QKeychain::ReadPasswordJob(kService, this);
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    job->setKey(keyFor(server, name));
    connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job* done) {
        const auto* read = static_cast<QKeychain::ReadPasswordJob*>(done);
        if (done->error() != QKeychain::NoError && done->error() != QKeychain::EntryNotFound)
            emit problem(sentenceFor(done, false));
        emit passwordRead(done->error() == QKeychain::NoError ? read->textData() : QString());
    });
    job->start();
}

}  // namespace messenger

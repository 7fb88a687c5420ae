#include "store.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QSqlError>
#include <QSqlQuery>
#include <QtDebug>

#include <map>
#include <utility>

#include "ondrel/wire.h"

namespace tocd {

namespace {

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string text(const QVariant& value) {
    const QByteArray b = value.toByteArray();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

QString listTable(ListKind kind) {
    return kind == ListKind::Permit ? QStringLiteral("permits") : QStringLiteral("denies");
}

}  // namespace

AccountStore::AccountStore() {
    static QAtomicInt counter;
    connection_ = QStringLiteral("tocd-store-%1").arg(counter.fetchAndAddRelaxed(1));
}

AccountStore::~AccountStore() {
    statements_.clear();
    if (db_.isValid()) {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool AccountStore::open(const QString& file, QString* error) {
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db_.setDatabaseName(file.isEmpty() ? QStringLiteral(":memory:") : file);
    const auto fail = [&](const QSqlError& why) {
        if (error) {
            *error = QStringLiteral("cannot use the database %1: %2")
                         .arg(file.isEmpty() ? QStringLiteral("in memory") : file, why.text());
        }
        return false;
    };
    if (!db_.open())
        return fail(db_.lastError());
    const char* schema[] = {
        "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL",
        "PRAGMA foreign_keys=ON",
        "CREATE TABLE IF NOT EXISTS accounts (name BLOB PRIMARY KEY, formatted BLOB NOT NULL,"
        " salt BLOB NOT NULL, hash BLOB NOT NULL, iterations INTEGER NOT NULL,"
        " profile BLOB NOT NULL DEFAULT x'', pdmode INTEGER NOT NULL DEFAULT 1)",
        "CREATE TABLE IF NOT EXISTS groups (account BLOB NOT NULL REFERENCES accounts(name),"
        " name BLOB NOT NULL, UNIQUE(account, name))",
        "CREATE TABLE IF NOT EXISTS buddies (account BLOB NOT NULL REFERENCES accounts(name),"
        " grp BLOB NOT NULL, name BLOB NOT NULL, key BLOB NOT NULL, alias BLOB NOT NULL,"
        " UNIQUE(account, grp, key))",
        "CREATE TABLE IF NOT EXISTS permits (account BLOB NOT NULL REFERENCES accounts(name),"
        " name BLOB NOT NULL, UNIQUE(account, name))",
        "CREATE TABLE IF NOT EXISTS denies (account BLOB NOT NULL REFERENCES accounts(name),"
        " name BLOB NOT NULL, UNIQUE(account, name))",
        "CREATE TABLE IF NOT EXISTS addresses (account BLOB NOT NULL REFERENCES accounts(name),"
        " address TEXT NOT NULL, seen INTEGER NOT NULL, UNIQUE(account, address))",
    };
    for (const char* sql : schema) {
        QSqlQuery q(db_);
        if (!q.exec(QString::fromLatin1(sql)))
            return fail(q.lastError());
    }
    return true;
}

bool AccountStore::exec(const QString& sql, std::initializer_list<QVariant> values) {
    // Each write is prepared once: preparing costs more than running most of them.
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        QSqlQuery q(db_);
        if (!q.prepare(sql))
            return false;
        it = statements_.insert(sql, std::move(q));
    }
    QSqlQuery& q = *it;
    int i = 0;
    for (const auto& v : values)
        q.bindValue(i++, v);
    const bool written = q.exec() && q.numRowsAffected() > 0;
    q.finish();
    return written;
}

AccountStore::Lookup AccountStore::password(std::string_view name, PasswordRecord* record) {
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT salt, hash, iterations FROM accounts WHERE name = ?"));
    q.addBindValue(bytes(name));
    if (!q.exec())
        return Lookup::Failed;
    if (!q.next())
        return Lookup::NoAccount;
    *record = {text(q.value(1)), text(q.value(0)), q.value(2).toInt()};
    return Lookup::Found;
}

bool AccountStore::create(std::string_view name, const PasswordRecord& password) {
    return exec(QStringLiteral("INSERT OR IGNORE INTO accounts (name, formatted, salt, hash, "
                               "iterations) VALUES (?, ?, ?, ?, ?)"),
                {bytes(name), bytes(name), bytes(password.salt), bytes(password.hash),
                 password.iterations});
}

bool AccountStore::knownAddress(std::string_view name, std::string_view address) {
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT 1 FROM addresses WHERE account = ? AND address = ?"));
    q.addBindValue(bytes(name));
    q.addBindValue(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
    return q.exec() && q.next();
}

bool AccountStore::rememberAddress(std::string_view name, std::string_view address,
                                   qint64 seenSeconds, int keep) {
    const QString peer =
        QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size()));
    const bool stored =
        exec(QStringLiteral("INSERT INTO addresses (account, address, seen) VALUES (?, ?, ?) "
                            "ON CONFLICT (account, address) DO UPDATE SET seen = excluded.seen"),
             {bytes(name), peer, seenSeconds});
    exec(QStringLiteral("DELETE FROM addresses WHERE account = ? AND rowid NOT IN (SELECT rowid "
                        "FROM addresses WHERE account = ? ORDER BY seen DESC, rowid DESC LIMIT ?)"),
         {bytes(name), bytes(name), keep});
    return stored;
}

bool AccountStore::exists(std::string_view name) {
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT 1 FROM accounts WHERE name = ?"));
    q.addBindValue(bytes(name));
    return q.exec() && q.next();
}

std::optional<std::string> AccountStore::profile(std::string_view name) {
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT profile FROM accounts WHERE name = ?"));
    q.addBindValue(bytes(name));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return text(q.value(0));
}

std::optional<StoredAccount> AccountStore::load(std::string_view name) {
    StoredAccount a;
    const QByteArray key = bytes(name);
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT formatted, profile, pdmode FROM accounts WHERE name = ?"));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return std::nullopt;
    a.name = name;
    a.formatted = text(q.value(0));
    a.profile = text(q.value(1));
    a.pdMode = q.value(2).toInt();

    q.prepare(QStringLiteral("SELECT name FROM groups WHERE account = ? ORDER BY rowid"));
    q.addBindValue(key);
    if (!q.exec())
        return std::nullopt;
    while (q.next())
        a.groups.push_back({text(q.value(0)), {}});

    std::map<std::string, std::size_t> groupAt;
    for (std::size_t i = 0; i < a.groups.size(); ++i)
        groupAt.emplace(a.groups[i].name, i);
    q.prepare(QStringLiteral(
        "SELECT grp, name, key, alias FROM buddies WHERE account = ? ORDER BY rowid"));
    q.addBindValue(key);
    if (!q.exec())
        return std::nullopt;
    while (q.next()) {
        const auto g = groupAt.find(text(q.value(0)));
        if (g != groupAt.end()) {
            a.groups[g->second].buddies.push_back(
                {text(q.value(1)), text(q.value(2)), text(q.value(3))});
        }
    }
    for (auto kind : {ListKind::Permit, ListKind::Deny}) {
        q.prepare(QStringLiteral("SELECT name FROM %1 WHERE account = ? ORDER BY rowid")
                      .arg(listTable(kind)));
        q.addBindValue(key);
        if (!q.exec())
            return std::nullopt;
        auto& list = kind == ListKind::Permit ? a.permits : a.denies;
        while (q.next())
            list.push_back(text(q.value(0)));
    }
    return a;
}

bool AccountStore::setPassword(std::string_view name, const PasswordRecord& password) {
    return exec(QStringLiteral("UPDATE accounts SET salt = ?, hash = ?, iterations = ? "
                               "WHERE name = ?"),
                {bytes(password.salt), bytes(password.hash), password.iterations, bytes(name)});
}

bool AccountStore::setFormatted(std::string_view name, std::string_view formatted) {
    return exec(QStringLiteral("UPDATE accounts SET formatted = ? WHERE name = ?"),
                {bytes(formatted), bytes(name)});
}

bool AccountStore::setProfile(std::string_view name, std::string_view profile) {
    return exec(QStringLiteral("UPDATE accounts SET profile = ? WHERE name = ?"),
                {bytes(profile), bytes(name)});
}

bool AccountStore::setPdMode(std::string_view name, int mode) {
    return exec(QStringLiteral("UPDATE accounts SET pdmode = ? WHERE name = ?"),
                {mode, bytes(name)});
}

bool AccountStore::addGroup(std::string_view name, std::string_view group) {
    return exec(QStringLiteral("INSERT OR IGNORE INTO groups (account, name) VALUES (?, ?)"),
                {bytes(name), bytes(group)});
}

bool AccountStore::removeGroup(std::string_view name, std::string_view group) {
    if (batchDepth_ == 0 && !db_.transaction())
        return false;
    exec(QStringLiteral("DELETE FROM buddies WHERE account = ? AND grp = ?"),
         {bytes(name), bytes(group)});
    const bool removed = exec(QStringLiteral("DELETE FROM groups WHERE account = ? AND name = ?"),
                              {bytes(name), bytes(group)});
    if (batchDepth_ == 0 && !db_.commit()) {
        db_.rollback();
        return false;
    }
    return removed;
}

AccountStore::Batch::Batch(AccountStore& store) : store_(store) {
    if (store_.batchDepth_++ == 0)
        store_.batchOpen_ = store_.db_.transaction();
}

AccountStore::Batch::~Batch() {
    if (--store_.batchDepth_ > 0 || !std::exchange(store_.batchOpen_, false))
        return;
    if (!store_.db_.commit()) {
        qWarning("store: a batch of writes was lost: %s",
                 qPrintable(store_.db_.lastError().text()));
        store_.db_.rollback();
    }
}

bool AccountStore::addBuddy(std::string_view name, std::string_view group, std::string_view buddy,
                            std::string_view alias) {
    return exec(QStringLiteral("INSERT OR IGNORE INTO buddies (account, grp, name, key, alias) "
                               "VALUES (?, ?, ?, ?, ?)"),
                {bytes(name), bytes(group), bytes(buddy), bytes(lantry::wire::normalizeName(buddy)),
                 bytes(alias)});
}

bool AccountStore::removeBuddy(std::string_view name, std::string_view group,
                               std::string_view buddyKey) {
    return exec(QStringLiteral("DELETE FROM buddies WHERE account = ? AND grp = ? AND key = ?"),
                {bytes(name), bytes(group), bytes(buddyKey)});
}

bool AccountStore::addListEntry(std::string_view name, ListKind kind, std::string_view entry) {
    return exec(QStringLiteral("INSERT OR IGNORE INTO %1 (account, name) VALUES (?, ?)")
                    .arg(listTable(kind)),
                {bytes(name), bytes(entry)});
}

bool AccountStore::removeListEntry(std::string_view name, ListKind kind, std::string_view entry) {
    return exec(
        QStringLiteral("DELETE FROM %1 WHERE account = ? AND name = ?").arg(listTable(kind)),
        {bytes(name), bytes(entry)});
}

}  // namespace tocd

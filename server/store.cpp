#include "store.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QtDebug>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// The byte of the database file a serving process locks: far past the bytes SQLite locks
// (from 1 GiB on) and past any real database.
constexpr off_t kServingLockByte = off_t{1} << 62;

// The other tocd processes that have `file` open, as " (process 12 34)", or "" when none can
// be seen: the lock itself does not tell its holder.
QString holders(const QString& file) {
    struct stat target = {};
    if (::stat(QFile::encodeName(file).constData(), &target) != 0)
        return {};
    QStringList pids;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid == self || !pid.front().isDigit())
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "tocd")
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd :
             fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat open = {};
            if (::stat(QFile::encodeName(fds.filePath(fd)).constData(), &open) == 0 &&
                open.st_dev == target.st_dev && open.st_ino == target.st_ino) {
                pids << pid;
                break;
            }
        }
    }
    return pids.isEmpty() ? QString() : QStringLiteral(" (process %1)").arg(pids.join(u' '));
}

// Opens `file` (created, readable by its owner only, when missing) and locks its serving byte
// for as long as the descriptor stays open; the descriptor, or -1 with `error` set. The lock
// belongs to the descriptor, so SQLite opening and closing the file does not drop it.
int lockForServing(const QString& file, QString* error) {
    const QByteArray path = QFile::encodeName(file);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kServingLockByte;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return fd;
    const int why = errno;
    ::close(fd);
    if (why == EACCES || why == EAGAIN) {
        *error = QStringLiteral("another tocd%1 is serving it").arg(holders(file));
    } else {
        *error = QStringLiteral("cannot lock it: %1").arg(QString::fromLocal8Bit(strerror(why)));
    }
    return -1;
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
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool AccountStore::open(const QString& file, QString* error, User user) {
    const auto refuse = [&](const QString& why) {
        if (error) {
            *error = QStringLiteral("cannot use the database %1: %2")
                         .arg(file.isEmpty() ? QStringLiteral("in memory") : file, why);
        }
        return false;
    };
    if (!file.isEmpty() && user == User::Operator && !QFileInfo::exists(file))
        return refuse(QStringLiteral("no such file"));
    if (!file.isEmpty() && user == User::Server) {
        QString why;
        lockFd_ = lockForServing(file, &why);
        if (lockFd_ < 0)
            return refuse(why);
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db_.setDatabaseName(file.isEmpty() ? QStringLiteral(":memory:") : file);
    const auto fail = [&](const QSqlError& why) { return refuse(why.text()); };
    if (!db_.open())
        return fail(db_.lastError());
    const char* schema[] = {
        "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL",
        "PRAGMA foreign_keys=ON",
        "CREATE TABLE IF NOT EXISTS accounts (name BLOB PRIMARY KEY, formatted BLOB NOT NULL,"
        " salt BLOB NOT NULL, hash BLOB NOT NULL, iterations INTEGER NOT NULL,"
        " profile BLOB NOT NULL DEFAULT x'', pdmode INTEGER NOT NULL DEFAULT 1,"
        " created INTEGER NOT NULL DEFAULT 0)",
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
    // Databases of older versions have no creation times.
    QSqlQuery columns(db_);
    if (!columns.exec(QStringLiteral("SELECT 1 FROM pragma_table_info('accounts') "
                                     "WHERE name = 'created'")))
        return fail(columns.lastError());
    if (!columns.next()) {
        QSqlQuery q(db_);
        if (!q.exec(QStringLiteral(
                "ALTER TABLE accounts ADD COLUMN created INTEGER NOT NULL DEFAULT 0")))
            return fail(q.lastError());
    }
    return true;
}

bool AccountStore::failed(const QSqlError& why) {
    lastError_ = why.databaseText().isEmpty() ? why.text() : why.databaseText();
    return false;
}

bool AccountStore::exec(const QString& sql, std::initializer_list<QVariant> values) {
    lastError_.clear();
    // Each write is prepared once: preparing costs more than running most of them.
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        QSqlQuery q(db_);
        if (!q.prepare(sql))
            return failed(q.lastError());
        it = statements_.insert(sql, std::move(q));
    }
    QSqlQuery& q = *it;
    int i = 0;
    for (const auto& v : values)
        q.bindValue(i++, v);
    if (!q.exec()) {
        failed(q.lastError());
        q.finish();
        return false;
    }
    const bool written = q.numRowsAffected() > 0;
    q.finish();
    return written;
}

template <typename Writes>
bool AccountStore::transaction(Writes writes) {
    lastError_.clear();
    // Inside a batch its transaction holds these writes too.
    if (batchDepth_ > 0)
        return writes();
    if (!db_.transaction())
        return failed(db_.lastError());
    if (!writes()) {
        const QString why = lastError_;
        db_.rollback();
        lastError_ = why;
        return false;
    }
    if (!db_.commit()) {
        failed(db_.lastError());
        db_.rollback();
        return false;
    }
    return true;
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

bool AccountStore::create(std::string_view name, const PasswordRecord& password,
                          qint64 createdSeconds, std::string_view group, std::string_view buddy) {
    return transaction([&] {
        return exec(QStringLiteral("INSERT OR IGNORE INTO accounts (name, formatted, salt, hash, "
                                   "iterations, created) VALUES (?, ?, ?, ?, ?, ?)"),
                    {bytes(name), bytes(name), bytes(password.salt), bytes(password.hash),
                     password.iterations, createdSeconds}) &&
               (group.empty() || addGroup(name, group)) &&
               (buddy.empty() || addBuddy(name, group, buddy, ""));
    });
}

bool AccountStore::remove(std::string_view name) {
    return transaction([&] {
        for (const char* table : {"buddies", "groups", "permits", "denies", "addresses"}) {
            if (!exec(QStringLiteral("DELETE FROM %1 WHERE account = ?").arg(QLatin1String(table)),
                      {bytes(name)}) &&
                !lastError_.isEmpty())
                return false;
        }
        return exec(QStringLiteral("DELETE FROM accounts WHERE name = ?"), {bytes(name)});
    });
}

std::optional<std::vector<AccountSummary>> AccountStore::accounts() {
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT name, formatted, created, (SELECT MAX(seen) FROM "
                               "addresses WHERE account = accounts.name) FROM accounts "
                               "ORDER BY name"))) {
        failed(q.lastError());
        return std::nullopt;
    }
    std::vector<AccountSummary> out;
    while (q.next()) {
        out.push_back(
            {text(q.value(0)), text(q.value(1)), q.value(2).toLongLong(), q.value(3).toLongLong()});
    }
    return out;
}

bool AccountStore::backup(const QString& target, QString* error) {
    const QVariant handle = db_.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        *error = QStringLiteral("the database driver is not SQLite's");
        return false;
    }
    sqlite3* source = *static_cast<sqlite3* const*>(handle.constData());
    // The copy holds password hashes: readable by its owner only, as the database is.
    const QByteArray path = QFile::encodeName(target);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::close(fd);
    sqlite3* copy = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &copy, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup* b = sqlite3_backup_init(copy, "main", source, "main");
        rc = b ? sqlite3_backup_step(b, -1) : sqlite3_errcode(copy);
        if (b && sqlite3_backup_finish(b) != SQLITE_OK && rc == SQLITE_DONE)
            rc = sqlite3_errcode(copy);
    }
    const bool done = rc == SQLITE_DONE;
    if (!done) {
        *error =
            QStringLiteral("cannot copy the database into %1: %2")
                .arg(target, QString::fromUtf8(copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc)));
    }
    sqlite3_close(copy);
    return done;
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
    if (!stored)
        return false;
    return exec(QStringLiteral("DELETE FROM addresses WHERE account = ? AND rowid NOT IN (SELECT "
                               "rowid FROM addresses WHERE account = ? ORDER BY seen DESC, rowid "
                               "DESC LIMIT ?)"),
                {bytes(name), bytes(name), keep}) ||
           lastError_.isEmpty();
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
    return transaction([&] {
        return (exec(QStringLiteral("DELETE FROM buddies WHERE account = ? AND grp = ?"),
                     {bytes(name), bytes(group)}) ||
                lastError_.isEmpty()) &&
               exec(QStringLiteral("DELETE FROM groups WHERE account = ? AND name = ?"),
                    {bytes(name), bytes(group)});
    });
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

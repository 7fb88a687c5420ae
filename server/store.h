// Persistent accounts of tocd: names, formatted names, password hashes, profiles, privacy mode
// and the stored buddy, permit and deny lists, in SQLite through Qt SQL.
//
// Names are normalised screen names (see wire::normalizeName); every other text is bytes,
// stored as blobs so that codes 128-255 survive unchanged. Passwords are kept only as hashes
// (passwords.h), made by the caller: the store never hashes. Every write goes straight to the
// database; a failed write returns false, leaves the stored data as it was and keeps its cause
// in lastError().
//
// A server and any number of operator tools may use one database file at once (WAL mode; a
// write waits up to Qt's busy timeout for another's to end). Only one server may: a server's
// open() holds a lock on the file until the store is destroyed.
//
// Threading: one thread, the one that opened the store.
#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "buddy_list.h"
#include "passwords.h"

namespace tocd {

// A stored buddy is the same record as one in memory.
using StoredBuddy = BuddyList::Buddy;

struct StoredGroup {
    std::string name;
    std::vector<StoredBuddy> buddies;
};

// One line of an account listing. Times are seconds since the epoch; 0 when unknown (accounts
// made before creation times were kept) or never (no sign-on yet).
struct AccountSummary {
    std::string name;
    std::string formatted;
    qint64 created = 0;
    qint64 lastSignOn = 0;
};

struct StoredAccount {
    std::string name;
    std::string formatted;
    std::string profile;
    int pdMode = 1;
    std::vector<StoredGroup> groups;  // in the order they were created
    std::vector<std::string> permits;
    std::vector<std::string> denies;
};

enum class ListKind { Permit, Deny };

class AccountStore {
public:
    enum class Lookup { Found, NoAccount, Failed };
    // Server: the one process that serves the database; open() fails while another holds it.
    // Operator: a tool beside a running server; open() fails when the file does not exist.
    enum class User { Server, Operator };

    // The writes made while a Batch lives are committed together when the outermost one ends,
    // so a command that changes many entries pays for one transaction, not one per entry. A
    // write in a batch still returns false when it fails; should the commit itself fail, every
    // write of the batch is lost, and that is logged.
    class Batch {
    public:
        explicit Batch(AccountStore& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        AccountStore& store_;
    };

    AccountStore();
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Opens (and for a Server creates when needed) the database in `file`; an empty name opens
    // a private in-memory database. False with `error` set when it cannot be opened or
    // prepared, or when another process serves it (`error` then names the file and that
    // process).
    bool open(const QString& file, QString* error, User user = User::Server);

    // Why the last write failed, as SQLite words it ("database or disk is full"); empty when it
    // succeeded or only had nothing to change (a row already there, none to remove).
    const QString& lastError() const { return lastError_; }

    // The stored password of the account, into `record` when Found.
    Lookup password(std::string_view name, PasswordRecord* record);
    // A new account whose formatted name is its normalised name, made at `createdSeconds`
    // (since the epoch) with `group` holding `buddy` (none when empty): all of it or nothing.
    // False when it exists or cannot be written.
    bool create(std::string_view name, const PasswordRecord& password, qint64 createdSeconds,
                std::string_view group = {}, std::string_view buddy = {});
    // Removes the account with its lists, profile and known addresses; false when there was
    // none or it cannot be written.
    bool remove(std::string_view name);
    // Every account, by name; nullopt when the database cannot be read.
    std::optional<std::vector<AccountSummary>> accounts();
    // A copy of the whole database into the file `target` (replaced), consistent as of one
    // moment while others go on writing. False with `error` set when it fails.
    bool backup(const QString& target, QString* error);
    std::optional<StoredAccount> load(std::string_view name);
    bool exists(std::string_view name);
    std::optional<std::string> profile(std::string_view name);

    bool setPassword(std::string_view name, const PasswordRecord& password);
    // Client addresses the account signed on from: whether `address` is one, and recording it
    // (at `seenSeconds`, since the epoch), keeping the `keep` seen last.
    bool knownAddress(std::string_view name, std::string_view address);
    bool rememberAddress(std::string_view name, std::string_view address, qint64 seenSeconds,
                         int keep);
    bool setFormatted(std::string_view name, std::string_view formatted);
    bool setProfile(std::string_view name, std::string_view profile);
    bool setPdMode(std::string_view name, int mode);
    bool addGroup(std::string_view name, std::string_view group);
    // Removes the group with every buddy in it.
    bool removeGroup(std::string_view name, std::string_view group);
    bool addBuddy(std::string_view name, std::string_view group, std::string_view buddy,
                  std::string_view alias);
    // Removes the buddy whose normalised name is `buddyKey` from the group.
    bool removeBuddy(std::string_view name, std::string_view group, std::string_view buddyKey);
    bool addListEntry(std::string_view name, ListKind kind, std::string_view entry);
    bool removeListEntry(std::string_view name, ListKind kind, std::string_view entry);

private:
    bool exec(const QString& sql, std::initializer_list<QVariant> values);
    bool failed(const QSqlError& why);
    // Runs `writes` in one transaction; false, with everything rolled back, when one fails.
    template <typename Writes>
    bool transaction(Writes writes);

    QString connection_;
    QSqlDatabase db_;
    int lockFd_ = -1;  // the serving lock on the database file, for a Server
    QString lastError_;
    QHash<QString, QSqlQuery> statements_;  // prepared writes, by their text
    int batchDepth_ = 0;
    bool batchOpen_ = false;  // the outermost batch began a transaction
};

}  // namespace tocd

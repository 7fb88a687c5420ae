// Persistent accounts of tocd: names, formatted names, password hashes, profiles, privacy mode
// and the stored buddy, permit and deny lists, in SQLite through Qt SQL.
//
// Names are normalised screen names (see wire::normalizeName); every other text is bytes,
// stored as blobs so that codes 128-255 survive unchanged. Passwords are kept only as hashes
// (passwords.h), made by the caller: the store never hashes. Every write goes straight to the
// database; a failed write returns false and leaves the stored data as it was.
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

    // Opens (and creates when needed) the database in `file`; an empty name opens a private
    // in-memory database. False with `error` set when it cannot be opened or prepared.
    bool open(const QString& file, QString* error);

    // The stored password of the account, into `record` when Found.
    Lookup password(std::string_view name, PasswordRecord* record);
    // A new account whose formatted name is its normalised name; false when it exists.
    bool create(std::string_view name, const PasswordRecord& password);
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

    QString connection_;
    QSqlDatabase db_;
    QHash<QString, QSqlQuery> statements_;  // prepared writes, by their text
    int batchDepth_ = 0;
    bool batchOpen_ = false;  // the outermost batch began a transaction
};

}  // namespace tocd

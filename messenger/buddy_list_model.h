// The buddy list as an item model: groups at the top level, buddies below them, kept current by
// the control's events (fed in through handleEvent) and by the changes this client makes itself
// (the server confirms those only to the account's other sessions).
//
// Rows keep the stored order; BuddyListProxy sorts and filters them for the window. A change of
// presence changes the buddy's row and its group's row (the group shows how many are online).
// Names and groups are held as the wire gives them (one character per byte), which is what
// commands must name, and shown decoded: a buddy shows under the name the server formats
// (UPDATE_BUDDY2) once it has sent one, else as stored. A buddy may be in several groups;
// presence is per person. Works without any window: tests feed it events.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <vector>

#include "wire_strings.h"

namespace messenger {

// What the server last said about one person.
struct Presence {
    bool online = false;
    bool away = false;
    int idleMinutes = 0;
    int warningPercent = 0;
    qint64 onlineSince = 0;  // seconds since the epoch, 0 when unknown
    QString formattedName;   // wire form, as the server last sent it; empty until it does
};

// Where a buddy stands, in the order the list sorts by status. Away outranks idle.
enum class BuddyStatus { Online, Away, Idle, Offline };
BuddyStatus statusOf(const Presence& presence);

class BuddyListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        WireNameRole = Qt::UserRole + 1,  // the buddy's or group's name as the wire gives it
        IsGroupRole,
        OnlineRole,
        AwayRole,
        IdleMinutesRole,
        WarningRole,
        StatusRole,     // BuddyStatus as int
        OrderRole,      // position in the stored list
        ShownNameRole,  // the alias, or the formatted name, as a person reads it
    };

    explicit BuddyListModel(QObject* parent = nullptr);
    ~BuddyListModel() override;

    // Reacts to LoggedIn (the whole list anew), BuddyUpdate, BuddyAdded, BuddyRemoved,
    // GroupAdded, GroupRemoved and LoggedOut (everyone offline); ignores every other event.
    void handleEvent(int eventNumber, const QVariantList& args);
    // The connection is gone: nobody is known to be online any more.
    void setEveryoneOffline();

    // This client's own changes, in wire form.
    void addGroup(const QString& group);
    void removeGroup(const QString& group);
    void addBuddy(const QString& group, const QString& name, const QString& alias = {});
    void removeBuddy(const QString& group, const QString& name);

    // Messages from `name` not read yet, shown beside the name (0: none).
    void setUnread(const QString& name, int count);
    Presence presence(const QString& name) const;
    bool contains(const QString& name) const;
    QStringList groupNames() const;  // wire form, in order
    int onlineCount() const;
    // The index of the group, or of the buddy in that group (column 0); invalid when absent.
    QModelIndex groupIndex(const QString& group) const;
    QModelIndex buddyIndex(const QString& group, const QString& name) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Buddy {
        QString name;  // wire form, as stored
        QString alias;
        int order = 0;  // position in the stored list
    };
    struct Group {
        QString name;
        std::vector<Buddy> buddies;
    };

    void resetList(const QStringList& entries);
    void updatePresence(const QString& name, const Presence& presence);
    int groupRow(const QString& group) const;
    Group& ensureGroup(const QString& group);
    QModelIndex indexOf(const Group& group) const;

    std::vector<std::unique_ptr<Group>> groups_;
    QHash<QString, Presence> presence_;  // by normalised name
    QHash<QString, int> unread_;         // by normalised name
    int nextOrder_ = 0;
};

}  // namespace messenger

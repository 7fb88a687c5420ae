#include "buddy_list_model.h"

#include <QBrush>
#include <QDateTime>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

#include "ondrel/events.h"
#include "safe_markup.h"
#include "wire_strings.h"

namespace messenger {

namespace {

constexpr QLatin1StringView kGroupMarker("[group]");

QIcon dot(const QColor& colour) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return QIcon(pixmap);
}

}  // namespace

BuddyStatus statusOf(const Presence& presence) {
    if (!presence.online)
        return BuddyStatus::Offline;
    if (presence.away)
        return BuddyStatus::Away;
    return presence.idleMinutes > 0 ? BuddyStatus::Idle : BuddyStatus::Online;
}

BuddyListModel::BuddyListModel(QObject* parent) : QAbstractItemModel(parent) {
}

BuddyListModel::~BuddyListModel() = default;

void BuddyListModel::handleEvent(int eventNumber, const QVariantList& args) {
    using lantry::EventNumber;
    const auto text = [&](int i) { return args.value(i).toString(); };
    switch (static_cast<EventNumber>(eventNumber)) {
        case EventNumber::LoggedIn:
            resetList(args.value(1).toStringList());
            break;
        case EventNumber::BuddyUpdate: {
            Presence p;
            p.online = args.value(1).toBool();
            p.warningPercent = args.value(2).toInt();
            p.onlineSince = p.online ? args.value(3).toLongLong() : 0;
            p.idleMinutes = p.online ? args.value(4).toInt() : 0;
            const QString userClass = text(5);
            p.away = p.online && userClass.size() >= 3 && userClass[2] == u'U';
            p.formattedName = text(0);
            updatePresence(text(0), p);
            break;
        }
        case EventNumber::BuddyAdded:
            addBuddy(text(0), text(1), text(2));
            break;
        case EventNumber::BuddyRemoved:
            removeBuddy(text(0), text(1));
            break;
        case EventNumber::GroupAdded:
            addGroup(text(0));
            break;
        case EventNumber::GroupRemoved:
            removeGroup(text(0));
            break;
        case EventNumber::LoggedOut:
            setEveryoneOffline();
            break;
        default:
            break;
    }
}

void BuddyListModel::resetList(const QStringList& entries) {
    beginResetModel();
    groups_.clear();
    presence_.clear();
    nextOrder_ = 0;
    for (const QString& entry : entries) {
        if (entry.startsWith(kGroupMarker)) {
            if (entry.size() > kGroupMarker.size())
                groups_.push_back(
                    std::make_unique<Group>(Group{entry.mid(kGroupMarker.size()), {}}));
            continue;
        }
        if (groups_.empty())
            groups_.push_back(std::make_unique<Group>(Group{QStringLiteral("Buddies"), {}}));
        const qsizetype colon = entry.indexOf(u':');
        groups_.back()->buddies.push_back(
            Buddy{entry.left(colon), colon < 0 ? QString() : entry.mid(colon + 1), nextOrder_++});
    }
    endResetModel();
}

void BuddyListModel::setEveryoneOffline() {
    const QStringList names = presence_.keys();
    for (const QString& name : names) {
        if (const Presence was = presence_.value(name); was.online) {
            Presence offline;
            offline.formattedName = was.formattedName;
            updatePresence(name, offline);
        }
    }
}

void BuddyListModel::updatePresence(const QString& name, const Presence& presence) {
    const QString key = normalizedName(name);
    presence_[key] = presence;
    for (auto& group : groups_) {
        for (int row = 0; row < int(group->buddies.size()); ++row) {
            if (normalizedName(group->buddies[row].name) != key)
                continue;
            const QModelIndex groupAt = indexOf(*group);
            const QModelIndex at = index(row, 0, groupAt);
            emit dataChanged(at, at);
            emit dataChanged(groupAt, groupAt);
            break;
        }
    }
}

int BuddyListModel::groupRow(const QString& group) const {
    for (int i = 0; i < int(groups_.size()); ++i) {
        if (normalizedName(groups_[i]->name) == normalizedName(group))
            return i;
    }
    return -1;
}

BuddyListModel::Group& BuddyListModel::ensureGroup(const QString& group) {
    const int row = groupRow(group);
    if (row >= 0)
        return *groups_[row];
    const int end = int(groups_.size());
    beginInsertRows({}, end, end);
    groups_.push_back(std::make_unique<Group>(Group{group, {}}));
    endInsertRows();
    return *groups_.back();
}

void BuddyListModel::addGroup(const QString& group) {
    // Real servers announce a nameless group before list changes; it is no group.
    if (!group.isEmpty())
        ensureGroup(group);
}

void BuddyListModel::removeGroup(const QString& group) {
    const int row = groupRow(group);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    groups_.erase(groups_.begin() + row);
    endRemoveRows();
}

void BuddyListModel::addBuddy(const QString& group, const QString& name, const QString& alias) {
    Group& g = ensureGroup(group);
    const QString key = normalizedName(name);
    if (std::any_of(g.buddies.begin(), g.buddies.end(),
                    [&](const Buddy& b) { return normalizedName(b.name) == key; }))
        return;
    const int end = int(g.buddies.size());
    beginInsertRows(indexOf(g), end, end);
    g.buddies.push_back(Buddy{name, alias, nextOrder_++});
    endInsertRows();
}

void BuddyListModel::removeBuddy(const QString& group, const QString& name) {
    const int gRow = groupRow(group);
    if (gRow < 0)
        return;
    Group& g = *groups_[gRow];
    const QString key = normalizedName(name);
    for (int row = 0; row < int(g.buddies.size()); ++row) {
        if (normalizedName(g.buddies[row].name) != key)
            continue;
        beginRemoveRows(indexOf(g), row, row);
        g.buddies.erase(g.buddies.begin() + row);
        endRemoveRows();
        return;
    }
}

void BuddyListModel::setUnread(const QString& name, int count) {
    const QString key = normalizedName(name);
    if (unread_.value(key) == count)
        return;
    if (count > 0)
        unread_.insert(key, count);
    else
        unread_.remove(key);
    for (const auto& g : groups_) {
        for (std::size_t row = 0; row < g->buddies.size(); ++row) {
            if (normalizedName(g->buddies[row].name) == key) {
                const QModelIndex at = createIndex(int(row), 0, g.get());
                emit dataChanged(at, at);
            }
        }
    }
}

Presence BuddyListModel::presence(const QString& name) const {
    return presence_.value(normalizedName(name));
}

bool BuddyListModel::contains(const QString& name) const {
    const QString key = normalizedName(name);
    return std::any_of(groups_.begin(), groups_.end(), [&](const auto& g) {
        return std::any_of(g->buddies.begin(), g->buddies.end(),
                           [&](const Buddy& b) { return normalizedName(b.name) == key; });
    });
}

QStringList BuddyListModel::groupNames() const {
    QStringList names;
    for (const auto& g : groups_)
        names.append(g->name);
    return names;
}

int BuddyListModel::onlineCount() const {
    return int(std::count_if(presence_.begin(), presence_.end(),
                             [](const Presence& p) { return p.online; }));
}

QModelIndex BuddyListModel::groupIndex(const QString& group) const {
    const int row = groupRow(group);
    return row < 0 ? QModelIndex() : createIndex(row, 0, nullptr);
}

QModelIndex BuddyListModel::buddyIndex(const QString& group, const QString& name) const {
    const int gRow = groupRow(group);
    if (gRow < 0)
        return {};
    const Group& g = *groups_[gRow];
    for (int row = 0; row < int(g.buddies.size()); ++row) {
        if (normalizedName(g.buddies[row].name) == normalizedName(name))
            return createIndex(row, 0, const_cast<Group*>(&g));
    }
    return {};
}

QModelIndex BuddyListModel::indexOf(const Group& group) const {
    for (int i = 0; i < int(groups_.size()); ++i) {
        if (groups_[i].get() == &group)
            return createIndex(i, 0, nullptr);
    }
    return {};
}

QModelIndex BuddyListModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < int(groups_.size()) ? createIndex(row, 0, nullptr) : QModelIndex();
    if (parent.internalPointer() || parent.row() >= int(groups_.size()))
        return {};
    Group* g = groups_[parent.row()].get();
    return row < int(g->buddies.size()) ? createIndex(row, 0, g) : QModelIndex();
}

QModelIndex BuddyListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || !child.internalPointer())
        return {};
    return indexOf(*static_cast<const Group*>(child.internalPointer()));
}

int BuddyListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return int(groups_.size());
    if (parent.internalPointer() || parent.row() >= int(groups_.size()))
        return 0;
    return int(groups_[parent.row()]->buddies.size());
}

int BuddyListModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant BuddyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (!index.internalPointer()) {
        const Group& g = *groups_[index.row()];
        switch (role) {
            case Qt::DisplayRole: {
                const auto online =
                    std::count_if(g.buddies.begin(), g.buddies.end(),
                                  [&](const Buddy& b) { return presence(b.name).online; });
                return QStringLiteral("%1 (%2/%3)")
                    .arg(fromWire(g.name))
                    .arg(online)
                    .arg(g.buddies.size());
            }
            case WireNameRole:
                return g.name;
            case IsGroupRole:
                return true;
            default:
                return {};
        }
    }
    const auto* g = static_cast<const Group*>(index.internalPointer());
    const Buddy& b = g->buddies[index.row()];
    const Presence p = presence(b.name);
    const QString formatted = p.formattedName.isEmpty() ? b.name : p.formattedName;
    const QString shown = shownText(b.alias.isEmpty() ? formatted : b.alias);
    switch (role) {
        case Qt::DisplayRole: {
            QString text = shown;
            if (p.away)
                text += tr(" (away)");
            if (p.idleMinutes > 0)
                text += tr(" (idle %1 min)").arg(p.idleMinutes);
            if (const int unread = unread_.value(normalizedName(b.name)); unread > 0)
                text += tr(" [%n unread]", nullptr, unread);
            return text;
        }
        case Qt::FontRole: {
            if (unread_.value(normalizedName(b.name)) == 0)
                return {};
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        case Qt::DecorationRole: {
            static const QIcon dots[] = {
                dot(QColor(0x3c, 0xb3, 0x4a)), dot(QColor(0xf2, 0xb6, 0x1b)),
                dot(QColor(0x9a, 0xb8, 0xd8)), dot(QColor(0xc8, 0xc8, 0xc8))};
            return dots[int(statusOf(p))];
        }
        case Qt::ForegroundRole:
            // Greyed while not there to answer: offline lighter than away or idle.
            return !p.online                     ? QBrush(Qt::gray)
                   : p.away || p.idleMinutes > 0 ? QBrush(Qt::darkGray)
                                                 : QVariant();
        case Qt::ToolTipRole: {
            QString tip = shownText(formatted);
            if (!b.alias.isEmpty())
                tip += tr(" (shown as %1)").arg(shownText(b.alias));
            if (!p.online)
                return toolTipText(tip + tr("\nNot online"));
            tip += p.away ? tr("\nAway") : tr("\nOnline");
            if (p.onlineSince > 0)
                tip += tr(" since %1")
                           .arg(QDateTime::fromSecsSinceEpoch(p.onlineSince)
                                    .toString(QStringLiteral("ddd hh:mm")));
            if (p.idleMinutes > 0)
                tip += tr("\nIdle for %1 minutes").arg(p.idleMinutes);
            tip += tr("\nWarning level %1%").arg(p.warningPercent);
            return toolTipText(tip);
        }
        case WireNameRole:
            return b.name;
        case IsGroupRole:
            return false;
        case OnlineRole:
            return p.online;
        case AwayRole:
            return p.away;
        case IdleMinutesRole:
            return p.idleMinutes;
        case WarningRole:
            return p.warningPercent;
        case StatusRole:
            return int(statusOf(p));
        case OrderRole:
            return b.order;
        case ShownNameRole:
            return shown;
        default:
            return {};
    }
}

}  // namespace messenger

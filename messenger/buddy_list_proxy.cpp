#include "buddy_list_proxy.h"

#include "buddy_list_model.h"

namespace messenger {

BuddyListProxy::BuddyListProxy(BuddyListModel* model, QObject* parent)
    : QSortFilterProxyModel(parent), model_(model) {
    setSourceModel(model);
    setDynamicSortFilter(true);
    sort(0);
}

void BuddyListProxy::setShowOffline(bool show) {
    if (show == showOffline_)
        return;
    showOffline_ = show;
    invalidateFilter();
    emit optionsChanged();
}

void BuddyListProxy::setSortBy(SortBy by) {
    if (by == sortBy_)
        return;
    sortBy_ = by;
    invalidate();
    emit optionsChanged();
}

bool BuddyListProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (showOffline_ || !sourceParent.isValid())
        return true;
    return model_->index(sourceRow, 0, sourceParent).data(BuddyListModel::OnlineRole).toBool();
}

bool BuddyListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    if (!left.parent().isValid())
        return left.row() < right.row();
    if (sortBy_ == SortBy::Status) {
        const int a = left.data(BuddyListModel::StatusRole).toInt();
        const int b = right.data(BuddyListModel::StatusRole).toInt();
        if (a != b)
            return a < b;
    } else {
        const int byName = QString::compare(left.data(BuddyListModel::ShownNameRole).toString(),
                                            right.data(BuddyListModel::ShownNameRole).toString(),
                                            Qt::CaseInsensitive);
        if (byName != 0)
            return byName < 0;
    }
    return left.data(BuddyListModel::OrderRole).toInt() <
           right.data(BuddyListModel::OrderRole).toInt();
}

}  // namespace messenger

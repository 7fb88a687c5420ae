// What the buddy-list window shows of BuddyListModel: groups in their stored order, and in
// each group its buddies sorted by status (online, away, idle, offline) or by shown name
// (without regard to case), ties in the stored order; offline buddies hidden or shown. The
// order and the filter follow every change of the model. The two choices are state of this
// proxy alone; optionsChanged tells whoever keeps them.
#pragma once

#include <QSortFilterProxyModel>

namespace messenger {

class BuddyListModel;

class BuddyListProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    enum class SortBy { Status, Name };

    // `model` must outlive the proxy.
    explicit BuddyListProxy(BuddyListModel* model, QObject* parent = nullptr);

    BuddyListModel* buddies() const { return model_; }
    bool showsOffline() const { return showOffline_; }
    void setShowOffline(bool show);
    SortBy sortBy() const { return sortBy_; }
    void setSortBy(SortBy by);

signals:
    void optionsChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    BuddyListModel* model_;
    bool showOffline_ = true;
    SortBy sortBy_ = SortBy::Status;
};

}  // namespace messenger

#include "buddy_list_window.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "add_buddy_dialog.h"
#include "buddy_list_model.h"
#include "buddy_list_proxy.h"
#include "wire_strings.h"

namespace messenger {
namespace {

constexpr int kDefaultWidth = 260;
constexpr int kDefaultHeight = 460;

// One line of text elided to the label's width, the whole of it in the tooltip.
class ElidingLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        elide();
    }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() {
        setText(fontMetrics().elidedText(full_, Qt::ElideRight, contentsRect().width()));
    }
    QString full_;
};

// The line typed into a one-line dialog, trimmed; empty when cancelled or left blank.
QString askLine(QWidget* parent, const QString& title, const QString& label,
                const QString& initial = {}) {
    bool ok = false;
    const QString line =
        QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok).trimmed();
    return ok ? line : QString();
}

}  // namespace

BuddyListWindow::BuddyListWindow(BuddyListProxy* proxy, QWidget* parent)
    : QMainWindow(parent), proxy_(proxy), model_(proxy->buddies()) {
    setObjectName(QStringLiteral("buddyListWindow"));
    setWindowTitle(tr("Buddy List - Ondrel Messenger"));
    auto* central = new QWidget(this);
    view_ = new QTreeView(central);
    view_->setObjectName(QStringLiteral("buddies"));
    view_->setAccessibleName(tr("Buddy list"));
    view_->setModel(proxy_);
    view_->setHeaderHidden(true);
    view_->setRootIsDecorated(true);
    view_->setUniformRowHeights(true);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    note_ = new QLabel(central);
    note_->setObjectName(QStringLiteral("note"));
    note_->setTextFormat(Qt::PlainText);
    note_->setWordWrap(true);
    note_->setFrameShape(QFrame::StyledPanel);
    note_->setMargin(4);
    note_->hide();
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(view_, 1);
    layout->addWidget(note_);
    setCentralWidget(central);
    noteTimer_.setSingleShot(true);
    connect(&noteTimer_, &QTimer::timeout, note_, [this] {
        note_->clear();
        note_->hide();
    });
    status_ = new ElidingLabel(this);
    status_->setObjectName(QStringLiteral("connectionStatus"));
    status_->setAccessibleName(tr("Connection"));
    status_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(status_, 1);

    // Groups open as they appear, so buddies are seen without a click.
    connect(proxy_, &QAbstractItemModel::modelReset, view_, &QTreeView::expandAll);
    connect(proxy_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) {
                    for (int row = first; row <= last; ++row)
                        view_->expand(proxy_->index(row, 0));
                }
            });
    connect(view_, &QTreeView::activated, this, [this](const QModelIndex& index) {
        if (!index.data(BuddyListModel::IsGroupRole).toBool())
            emit imRequested(index.data(BuddyListModel::WireNameRole).toString());
    });
    connect(view_, &QWidget::customContextMenuRequested, this, &BuddyListWindow::showContextMenu);
    buildMenus();
    view_->expandAll();
    resize(std::max(kDefaultWidth, menuBar()->sizeHint().width()), kDefaultHeight);
}

void BuddyListWindow::buildMenus() {
    const auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys, auto slot) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    add(file, tr("&History..."), QKeySequence(Qt::CTRL | Qt::Key_H),
        [this] { emit historyRequested(); });
    add(file, tr("Sign &Off"), QKeySequence(Qt::CTRL | Qt::Key_D),
        [this] { emit signOffRequested(); });
    add(file, tr("&Quit"), QKeySequence::Quit, [this] { emit quitRequested(); });

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    QAction* offline =
        add(viewMenu, tr("Show &Offline Buddies"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
            [this](bool on) { proxy_->setShowOffline(on); });
    offline->setObjectName(QStringLiteral("showOffline"));
    offline->setCheckable(true);
    viewMenu->addSeparator();
    auto* sorting = new QActionGroup(this);
    QAction* byStatus = add(viewMenu, tr("Sort by &Status"), QKeySequence(),
                            [this] { proxy_->setSortBy(BuddyListProxy::SortBy::Status); });
    byStatus->setObjectName(QStringLiteral("sortByStatus"));
    QAction* byName = add(viewMenu, tr("Sort by &Name"), QKeySequence(),
                          [this] { proxy_->setSortBy(BuddyListProxy::SortBy::Name); });
    byName->setObjectName(QStringLiteral("sortByName"));
    for (QAction* a : {byStatus, byName}) {
        a->setCheckable(true);
        sorting->addAction(a);
    }
    const auto showOptions = [this, offline, byStatus, byName] {
        offline->setChecked(proxy_->showsOffline());
        const bool status = proxy_->sortBy() == BuddyListProxy::SortBy::Status;
        byStatus->setChecked(status);
        byName->setChecked(!status);
    };
    connect(proxy_, &BuddyListProxy::optionsChanged, this, showOptions);
    showOptions();

    QMenu* buddies = menuBar()->addMenu(tr("&Buddies"));
    add(buddies, tr("Send &Instant Message..."), QKeySequence(Qt::CTRL | Qt::Key_N),
        &BuddyListWindow::askForIm);
    add(buddies, tr("Get &Profile"), QKeySequence(Qt::CTRL | Qt::Key_I), [this] {
        if (!selectedBuddy().isEmpty())
            emit profileRequested(selectedBuddy());
    });
    buddies->addSeparator();
    add(buddies, tr("&Add Buddy..."), QKeySequence(Qt::CTRL | Qt::Key_B),
        &BuddyListWindow::askToAddBuddy);
    add(buddies, tr("Add &Group..."), QKeySequence(Qt::CTRL | Qt::Key_G),
        &BuddyListWindow::askToAddGroup);
    add(buddies, tr("&Remove"), QKeySequence::Delete, &BuddyListWindow::removeSelected);
    buddies->addSeparator();
    add(buddies, tr("B&lock"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), [this] {
        if (!selectedBuddy().isEmpty())
            emit blockRequested(selectedBuddy());
    });
    add(buddies, tr("&Unblock"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U), [this] {
        if (!selectedBuddy().isEmpty())
            emit unblockRequested(selectedBuddy());
    });

    add(buddies, tr("&Warn..."), QKeySequence(), [this] {
        if (!selectedBuddy().isEmpty())
            emit warnRequested(selectedBuddy());
    });

    QMenu* rooms = menuBar()->addMenu(tr("&Rooms"));
    add(rooms, tr("&Join Chat Room..."), QKeySequence(Qt::CTRL | Qt::Key_J),
        &BuddyListWindow::askToJoin);

    QMenu* me = menuBar()->addMenu(tr("&Me"));
    away_ = add(me, tr("Set &Away Message..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A),
                [this] { emit awayRequested(); });
    back_ = add(me, tr("I'm &Back"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K),
                [this] { emit backRequested(); });
    back_->setEnabled(false);
    add(me, tr("Edit My &Profile..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
        [this] { emit profileEditRequested(); });
    add(me, tr("Change Pass&word..."), QKeySequence(), [this] { emit passwordChangeRequested(); });
    add(me, tr("&Format Screen Name..."), QKeySequence(), [this] { emit formatRequested(); });
    add(me, tr("&Settings..."), QKeySequence(Qt::CTRL | Qt::Key_Comma),
        [this] { emit settingsRequested(); });

    QMenu* connection = menuBar()->addMenu(tr("&Connection"));
    reconnect_ = add(connection, tr("&Reconnect Now"), QKeySequence(Qt::Key_F5),
                     [this] { emit reconnectRequested(); });
    reconnect_->setEnabled(false);
}

bool BuddyListWindow::select(const QString& group, const QString& wireName) {
    const QModelIndex at = proxy_->mapFromSource(model_->buddyIndex(group, wireName));
    if (!at.isValid())
        return false;
    view_->setCurrentIndex(at);
    return true;
}

void BuddyListWindow::setConnectionStatus(const QString& text, bool canReconnect) {
    static_cast<ElidingLabel*>(status_)->setFullText(text);
    reconnect_->setEnabled(canReconnect);
}

QString BuddyListWindow::connectionStatus() const {
    return status_->toolTip();
}

void BuddyListWindow::showNote(const QString& text) {
    note_->setText(text);
    note_->setToolTip(text);
    note_->show();
    noteTimer_.start(kNoteMilliseconds);
}

QString BuddyListWindow::note() const {
    return note_->text();
}

void BuddyListWindow::setAway(bool away) {
    back_->setEnabled(away);
    setWindowTitle(away ? tr("Buddy List (away) - Ondrel Messenger")
                        : tr("Buddy List - Ondrel Messenger"));
}

void BuddyListWindow::setBlockedCheck(std::function<bool(const QString&)> isBlocked) {
    isBlocked_ = std::move(isBlocked);
}

QString BuddyListWindow::selectedBuddy() const {
    const QModelIndex index = view_->currentIndex();
    if (!index.isValid() || index.data(BuddyListModel::IsGroupRole).toBool())
        return {};
    return index.data(BuddyListModel::WireNameRole).toString();
}

QString BuddyListWindow::selectedGroup() const {
    QModelIndex index = view_->currentIndex();
    if (index.isValid() && !index.data(BuddyListModel::IsGroupRole).toBool())
        index = index.parent();
    return index.isValid() ? index.data(BuddyListModel::WireNameRole).toString() : QString();
}

void BuddyListWindow::showContextMenu(const QPoint& at) {
    // The menu key opens the menu of the current row, wherever the pointer is.
    QModelIndex index = view_->indexAt(at);
    if (!index.isValid())
        index = view_->currentIndex();
    if (!index.isValid())
        return;
    view_->setCurrentIndex(index);
    QMenu menu(this);
    if (index.data(BuddyListModel::IsGroupRole).toBool()) {
        menu.addAction(tr("Remove Group"), this, &BuddyListWindow::removeSelected);
    } else {
        const QString name = selectedBuddy();
        menu.addAction(tr("Send Instant Message"), this, [this, name] { emit imRequested(name); });
        menu.addAction(tr("Get Profile"), this, [this, name] { emit profileRequested(name); });
        if (isBlocked_ && isBlocked_(name))
            menu.addAction(tr("Unblock"), this, [this, name] { emit unblockRequested(name); });
        else
            menu.addAction(tr("Block"), this, [this, name] { emit blockRequested(name); });
        menu.addAction(tr("Warn..."), this, [this, name] { emit warnRequested(name); });
        menu.addAction(tr("Remove"), this, &BuddyListWindow::removeSelected);
    }
    menu.exec(view_->viewport()->mapToGlobal(at));
}

void BuddyListWindow::askToAddBuddy() {
    QStringList groups;
    for (const QString& g : model_->groupNames())
        groups.append(fromWire(g));
    AddBuddyDialog dialog(groups, fromWire(selectedGroup()), this);
    if (dialog.exec() == QDialog::Accepted)
        emit addBuddyRequested(dialog.group(), dialog.name());
}

void BuddyListWindow::askToAddGroup() {
    if (const QString group = askLine(this, tr("Add Group"), tr("Group name:")); !group.isEmpty())
        emit addGroupRequested(group);
}

void BuddyListWindow::askForIm() {
    const QString name =
        askLine(this, tr("Send Instant Message"), tr("Screen name:"), fromWire(selectedBuddy()));
    if (!name.isEmpty())
        emit imToNameRequested(name);
}

void BuddyListWindow::askToJoin() {
    if (const QString room = askLine(this, tr("Join Chat Room"), tr("Room name:")); !room.isEmpty())
        emit joinRoomRequested(room);
}

void BuddyListWindow::removeSelected() {
    const QString buddy = selectedBuddy();
    const QString group = selectedGroup();
    if (group.isEmpty())
        return;
    const QString question =
        buddy.isEmpty()
            ? tr("Remove the group %1 and everyone in it from your list?").arg(fromWire(group))
            : tr("Remove %1 from %2?").arg(fromWire(buddy), fromWire(group));
    if (QMessageBox::question(this, tr("Remove"), question) != QMessageBox::Yes)
        return;
    if (buddy.isEmpty())
        emit removeGroupRequested(group);
    else
        emit removeBuddyRequested(group, buddy);
}

}  // namespace messenger

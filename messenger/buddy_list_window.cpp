#include "buddy_list_window.h"

#include <QAction>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTreeView>

#include "buddy_list_model.h"
#include "wire_strings.h"

namespace messenger {
namespace {

// The line typed into a one-line dialog, trimmed; empty when cancelled or left blank.
QString askLine(QWidget* parent, const QString& title, const QString& label,
                const QString& initial = {}) {
    bool ok = false;
    const QString line =
        QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok).trimmed();
    return ok ? line : QString();
}

}  // namespace

BuddyListWindow::BuddyListWindow(BuddyListModel* model, QWidget* parent)
    : QMainWindow(parent), model_(model) {
    setObjectName(QStringLiteral("buddyListWindow"));
    setWindowTitle(tr("Buddy List - Ondrel Messenger"));
    view_ = new QTreeView(this);
    view_->setObjectName(QStringLiteral("buddies"));
    view_->setModel(model_);
    view_->setHeaderHidden(true);
    view_->setRootIsDecorated(true);
    view_->setUniformRowHeights(true);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setCentralWidget(view_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("connectionStatus"));
    status_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(status_, 1);
    resize(260, 460);

    // Groups open as they appear, so buddies are seen without a click.
    connect(model_, &QAbstractItemModel::modelReset, view_, &QTreeView::expandAll);
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) {
                    for (int row = first; row <= last; ++row)
                        view_->expand(model_->index(row, 0));
                }
            });
    connect(view_, &QTreeView::activated, this, [this](const QModelIndex& index) {
        if (!index.data(BuddyListModel::IsGroupRole).toBool())
            emit imRequested(index.data(BuddyListModel::WireNameRole).toString());
    });
    connect(view_, &QWidget::customContextMenuRequested, this, &BuddyListWindow::showContextMenu);
    buildMenus();
    view_->expandAll();
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

void BuddyListWindow::setConnectionStatus(const QString& text, bool canReconnect) {
    status_->setText(text);
    reconnect_->setEnabled(canReconnect);
}

QString BuddyListWindow::connectionStatus() const {
    return status_->text();
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
    const QString name = askLine(this, tr("Add Buddy"), tr("Screen name:"));
    if (name.isEmpty())
        return;
    QStringList groups;
    for (const QString& g : model_->groupNames())
        groups.append(fromWire(g));
    if (groups.isEmpty())
        groups.append(QStringLiteral("Buddies"));
    const QString current = fromWire(selectedGroup());
    bool ok = false;
    const QString group =
        QInputDialog::getItem(this, tr("Add Buddy"), tr("Group:"), groups,
                              std::max<qsizetype>(0, groups.indexOf(current)), true, &ok)
            .trimmed();
    if (ok && !group.isEmpty())
        emit addBuddyRequested(group, name);
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

// The main window once signed on: the buddy list (online first, away and idle shown, warning
// level in the tooltip), menus with shortcuts for everything a person does, a context menu on
// buddies, and a status line for the connection. It only shows the model and asks: every
// request goes out as a signal, with names in wire form, for Messenger to carry out.
#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QTreeView;

namespace messenger {

class BuddyListModel;

class BuddyListWindow : public QMainWindow {
    Q_OBJECT
public:
    BuddyListWindow(BuddyListModel* model, QWidget* parent = nullptr);

    QTreeView* view() const { return view_; }
    // Connection state in words; `canReconnect` enables "Reconnect Now".
    void setConnectionStatus(const QString& text, bool canReconnect);
    QString connectionStatus() const;
    void setAway(bool away);
    // Decides whether the context menu offers Block or Unblock.
    void setBlockedCheck(std::function<bool(const QString& wireName)> isBlocked);
    // The wire name of the selected buddy, or empty.
    QString selectedBuddy() const;
    // The wire name of the selected buddy's group, or of the selected group.
    QString selectedGroup() const;

signals:
    void imRequested(const QString& wireName);
    // A name typed by the person (not from the list).
    void imToNameRequested(const QString& typedName);
    void profileRequested(const QString& wireName);
    void addBuddyRequested(const QString& group, const QString& typedName);
    void addGroupRequested(const QString& typedGroup);
    void removeBuddyRequested(const QString& group, const QString& wireName);
    void removeGroupRequested(const QString& group);
    void blockRequested(const QString& wireName);
    void unblockRequested(const QString& wireName);
    void joinRoomRequested(const QString& typedRoom);
    void awayRequested();
    void backRequested();
    void profileEditRequested();
    void settingsRequested();
    void historyRequested();
    void warnRequested(const QString& wireName);
    void passwordChangeRequested();
    void formatRequested();
    void reconnectRequested();
    void signOffRequested();
    void quitRequested();

private:
    void buildMenus();
    void showContextMenu(const QPoint& at);
    void askToAddBuddy();
    void askToAddGroup();
    void askForIm();
    void askToJoin();
    void removeSelected();

    BuddyListModel* model_;
    QTreeView* view_;
    QLabel* status_;
    QAction* reconnect_ = nullptr;
    QAction* away_ = nullptr;
    QAction* back_ = nullptr;
    std::function<bool(const QString&)> isBlocked_;
};

}  // namespace messenger

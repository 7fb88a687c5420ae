// The main window once signed on: the buddy list as BuddyListProxy orders and filters it (away
// and idle shown, warning level in the tooltip), menus with shortcuts for everything a person
// does (View sets the proxy's choices), a context menu on buddies, a status line for the
// connection (elided to the window's width, in full in its tooltip) and, above it, notes that
// stay for kNoteMilliseconds without covering it. It opens at least as wide as its menu bar.
// It only shows the models and asks: every request goes out as a signal, with names in wire
// form, for Messenger to carry out.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <functional>

class QAction;
class QLabel;
class QTreeView;

namespace messenger {

class BuddyListModel;
class BuddyListProxy;

class BuddyListWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kNoteMilliseconds = 15000;

    // `proxy` must outlive the window.
    explicit BuddyListWindow(BuddyListProxy* proxy, QWidget* parent = nullptr);

    QTreeView* view() const { return view_; }
    // Selects the buddy in that group (wire names); false when the list does not show it.
    bool select(const QString& group, const QString& wireName);
    // Connection state in words; `canReconnect` enables "Reconnect Now".
    void setConnectionStatus(const QString& text, bool canReconnect);
    QString connectionStatus() const;
    // A sentence for the person (a problem, a confirmation), plain text, until the next one or
    // kNoteMilliseconds; note() is empty once it is gone.
    void showNote(const QString& text);
    QString note() const;
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

    BuddyListProxy* proxy_;
    BuddyListModel* model_;
    QTreeView* view_;
    QLabel* note_;
    QTimer noteTimer_;
    QLabel* status_;
    QAction* reconnect_ = nullptr;
    QAction* away_ = nullptr;
    QAction* back_ = nullptr;
    std::function<bool(const QString&)> isBlocked_;
};

}  // namespace messenger

// One messenger session: the connection, the models over it and the windows that show them.
// It turns what the windows ask for into calls on the control (by dispatch identifier) and the
// control's events (by number) into model changes and windows: an incoming message opens its
// window, a joined room its room window, an invitation a question (InvitationQueue).
//
// Own presence: an away message (set, cleared, and sent as an automatic reply to the first
// message of each person, again after kAutoReplyMinutes), idle reported after kIdleMinutes
// without keyboard or mouse input, the profile (kept in the settings, sent at each sign-on).
// After a lost connection comes back, the rooms that were open are joined again and the away
// message is set again.
//
// Attention: a message arriving in a window that is not active raises a desktop notification
// (Notifier) and marks the window urgent, each unless turned off in the settings
// ("notify/desktop", "notify/urgent"); unread counts show in the buddy list and the tray.
//
// History: each account's conversations are kept in its own file under the user's data
// directory (HistoryStore), opened at sign-on, unless the setting "history/logging" is off.
//
// Threading: the GUI thread. Settings (server, name, geometry, profile, history, the buddy
// list's view: "buddyList/showOffline", "buddyList/sortBy") live in the QSettings given; the
// password only in the secret service (CredentialStore).
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include "buddy_list_model.h"
#include "buddy_list_proxy.h"
#include "connection_manager.h"
#include "conversation_store.h"
#include "credential_store.h"
#include "history_store.h"
#include "invitation_queue.h"
#include "notifier.h"
#include "safe_markup.h"

class QMenu;

namespace messenger {

class BuddyListWindow;
class ChatRoomWindow;
class HistoryWindow;
class ImWindow;
class ProfileViewer;
class SignOnWindow;
class TrayIcon;

class Messenger : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleMinutes = 10;
    static constexpr int kAutoReplyMinutes = 10;
    // The exchange rooms are joined on (the usual one for user rooms).
    static constexpr int kRoomExchange = 4;

    // Takes ownership of `control` (not null). `settings` must outlive the messenger.
    Messenger(lantry::ControlObject* control, QSettings* settings, QObject* parent = nullptr);
    ~Messenger() override;

    // Shows the sign-on window, filled from what was remembered; `server` (when not empty)
    // replaces the remembered server.
    void start(const QString& server = {});

    ConnectionManager& connection() { return *connection_; }
    BuddyListModel& buddies() { return buddies_; }
    BuddyListProxy& shownBuddies() { return shownBuddies_; }
    ConversationStore& conversations() { return conversations_; }
    CredentialStore& credentials() { return credentials_; }
    InvitationQueue& invitations() { return invitations_; }
    HistoryStore& history() { return history_; }
    SignOnWindow* signOnWindow() const { return signOnWindow_; }
    BuddyListWindow* buddyListWindow() const { return buddyListWindow_; }
    // The window of a conversation (ConversationStore keys), or null.
    ImWindow* imWindow(const QString& key) const;
    ChatRoomWindow* roomWindow(const QString& key) const;
    // The profile window opened last, or null.
    ProfileViewer* lastProfileViewer() const;
    TrayIcon* trayIcon() const { return tray_; }
    int privacyMode() const { return privacyMode_; }
    bool isBlocked(const QString& wireName) const;

    // Opens (or raises) the conversation window with a person.
    ImWindow* openIm(const QString& wireName, bool activate = true);
    // Opens (or raises) the History window.
    HistoryWindow* openHistory();
    void setLogging(bool on);
    // Whether a message in a window that is not active raises a notification, marks the window
    // urgent.
    void setAttention(bool notify, bool urgent);
    // Warns a person (anonymously or not). The server answers only a refusal, shown as one;
    // the person's level shows in the buddy list when the server reports it.
    void warn(const QString& wireName, bool anonymous);
    // Asks for confirmation (saying what a warning does, anonymous as a choice), then warns.
    void askToWarn(const QString& wireName);
    // The server answers with "Password changed." or, for a wrong old password, says so.
    void changePassword(const QString& oldPassword, const QString& newPassword);
    // Only capitals and blanks may differ from the signed-on name; anything else is refused here.
    void formatScreenName(const QString& typed);
    // `message` as typed (plain text, lines kept); empty: back.
    void setAwayMessage(const QString& message);
    void setPrivacyMode(int mode);
    // The permit list (wire form), as the server last said.
    QStringList permitList() const { return permitted_; }
    QStringList blockList() const { return blocked_; }
    void permit(const QString& wireName);
    void unpermit(const QString& wireName);
    void block(const QString& wireName);
    void unblock(const QString& wireName);

signals:
    void quitRequested();
    // A message arrived in the conversation `key` while its window was not active.
    void attentionRaised(const QString& key, Notifier::Via notification, bool urgent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectWindows();
    void onControlEvent(int eventNumber, const QVariantList& args);
    void onSignedOn(const QVariantList& loggedIn);
    void showConnectionState();
    void sendIm(const QString& wireName, const QString& typed, TextStyle style);
    void sendTyping(const QString& wireName, int state);
    void answerWhileAway(const QString& wireName, bool wasAutomatic);
    void requestProfile(const QString& wireName);
    void openRoom(const QString& key);
    void joinRoom(const QString& wireRoomName);
    void checkIdle();
    void raiseAttention(const QString& key);
    void showUnread();
    void editAway();
    void editProfile();
    void editSettings();
    void showProblem(const QString& why);
    bool requireSignedOn();

    QSettings* settings_;
    ConnectionManager* connection_;
    HistoryStore history_;    // before the conversations, which write to it
    QString historyAccount_;  // the account whose history is open (normalised)
    QPointer<HistoryWindow> historyWindow_;
    BuddyListModel buddies_;
    BuddyListProxy shownBuddies_{&buddies_};
    ConversationStore conversations_;
    CredentialStore credentials_;
    InvitationQueue invitations_;

    SignOnWindow* signOnWindow_ = nullptr;
    BuddyListWindow* buddyListWindow_ = nullptr;
    QHash<QString, QPointer<ImWindow>> imWindows_;
    QHash<QString, QPointer<ChatRoomWindow>> roomWindows_;
    QQueue<QPointer<ProfileViewer>> pendingProfiles_;
    QPointer<ProfileViewer> lastProfileViewer_;
    // Every viewer opened (a closed one deletes itself); those still open go with the session.
    QList<QPointer<ProfileViewer>> profileViewers_;
    QMenu* trayMenu_ = nullptr;
    TrayIcon* tray_ = nullptr;
    Notifier* notifier_ = nullptr;

    int privacyMode_ = 1;
    QStringList blocked_;    // wire form
    QStringList permitted_;  // wire form
    QString awayMessage_;    // as typed
    // The away message as it goes out: escaped, its lines kept.
    QString awayMarkup() const;
    // Requests the server answers only with an error when it refuses, oldest first.
    struct Pending {
        enum class What { Warning, Password, Format } what;
        QString subject;  // the person warned, the new password, the new name
        QElapsedTimer since;
    };
    QList<Pending> pending_;
    bool errorAnswered_ = false;  // the error being handled answered one of pending_
    bool answerError(int code, const QString& sentence);
    QHash<QString, QElapsedTimer> lastAutoReply_;  // by normalised name
    // Rooms open when the connection was lost, to join again (wire names).
    QStringList roomsToRejoin_;
    QElapsedTimer sinceInput_;
    bool idleReported_ = false;
    QTimer idleTimer_;
    QTimer countdown_;  // refreshes the "trying again in N s" status
};

}  // namespace messenger

// The window of one chat room: the transcript, the member list (kept by ChatUserUpdate) and a
// line to type in; Invite asks for names and a message. Closing the window leaves the room;
// while the room is not joined (left, or the connection was lost) typing is locked and Rejoin
// is offered.
#pragma once

#include "conversation_window.h"

class QListWidget;
class QPushButton;

namespace messenger {

class ChatRoomWindow : public ConversationWindow {
    Q_OBJECT
public:
    ChatRoomWindow(ConversationStore* store, const QString& key, QWidget* parent = nullptr);

    QListWidget* memberList() const { return members_; }

signals:
    // Names separated by commas, and the invitation's text.
    void inviteRequested(const QString& names, const QString& message);
    void leaveRequested();
    void rejoinRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showMembers();
    void showJoined();
    void askForInvitees();

    QListWidget* members_;
    QPushButton* invite_;
    QPushButton* rejoin_;
};

}  // namespace messenger

// The window of one chat room: the transcript, the member list (kept by ChatUserUpdate) and a
// line to type in; Invite asks for names and a message. Closing the window leaves the room;
// while the room is not joined (left, or the connection was lost) typing is locked and Rejoin
// is offered.
#pragma once

#include <QWidget>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace messenger {

class ConversationStore;
class MessageView;

class ChatRoomWindow : public QWidget {
    Q_OBJECT
public:
    ChatRoomWindow(ConversationStore* store, const QString& key, QWidget* parent = nullptr);

    QString key() const { return key_; }
    MessageView* transcript() const { return view_; }
    QListWidget* memberList() const { return members_; }

signals:
    void sendRequested(const QString& text);
    // Names separated by commas, and the invitation's text.
    void inviteRequested(const QString& names, const QString& message);
    void leaveRequested();
    void rejoinRequested();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void appendNewLines();
    void showMembers();
    void showJoined();
    void askForInvitees();

    ConversationStore* store_;
    QString key_;
    MessageView* view_;
    QListWidget* members_;
    QLineEdit* input_;
    QPushButton* invite_;
    QPushButton* rejoin_;
};

}  // namespace messenger

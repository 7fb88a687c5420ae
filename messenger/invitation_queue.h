// Invitations to rooms, asked about one question at a time. A server, or anyone who can make it
// deliver invitations, may send thousands at once: they wait in a bounded queue, those from one
// sender to one room fold into one question (counted, with the latest message), and the person
// can ignore a sender's invitations until the messenger quits.
//
// The question is a window-less QMessageBox (object name "invitation") with Yes, No and
// "Ignore invitations from ..."; every text in it comes from the server and shows as plain
// text, hidden and direction characters made visible (lantry::visibleText). Answering one shows
// the next. GUI thread.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class QMessageBox;

namespace messenger {

class InvitationQueue : public QObject {
    Q_OBJECT
public:
    // Questions waiting behind the one shown (each a room and sender). Past it, a new one is
    // dropped, and dropped() says so.
    static constexpr int kMaxWaiting = 50;

    explicit InvitationQueue(QObject* parent = nullptr);
    ~InvitationQueue() override;

    // One invitation (ChatInvite's texts as the control gives them, one character per byte).
    void add(const QString& wireRoom, int chatId, const QString& wireFrom,
             const QString& wireMessage);
    // Forgets every invitation and closes the question shown: their rooms were on a connection
    // that is gone. Ignored senders stay ignored.
    void clear();

    // The question shown, or null.
    QMessageBox* question() const;
    int waiting() const { return int(waiting_.size()); }

signals:
    // The person said yes to joining room `chatId`.
    void accepted(int chatId);
    // An invitation was dropped because too many questions were waiting; `total` so far.
    void dropped(int total);
    // The person chose to ignore `shownName`'s invitations.
    void ignored(const QString& shownName);

private:
    struct Invitation {
        QString key;     // normalised sender and room
        QString sender;  // normalised
        QString wireSender;
        QString wireRoom;
        QString wireMessage;  // the latest
        int chatId = 0;       // the latest
        int count = 1;
    };

    void showNext();
    void updateQuestion();
    void answered(int button);

    QList<Invitation> waiting_;  // oldest first
    Invitation current_;
    QPointer<QMessageBox> box_;
    QSet<QString> ignored_;  // normalised names
    int dropped_ = 0;
};

}  // namespace messenger

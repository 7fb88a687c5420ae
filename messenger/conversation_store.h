// The conversations of one session: instant-message conversations, one per person, and chat
// rooms, one per room name. Each keeps its lines (rendered once, safely) in a TranscriptModel,
// its unread count, and for rooms the chat ID and the member list. Fed by the control's events
// through handleEvent and by what this client sends; windows only show and edit what it holds.
// Works without any window.
//
// With a history (setHistory), every line added is written to it, a conversation that comes
// into being loads its latest lines from it, and loadOlder brings back older ones.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <vector>

#include "transcript_model.h"

namespace messenger {

class HistoryStore;

// A message of ours that the control holds back for the server's rate limit.
struct WaitingLine {
    ChatLine line;  // added to the transcript once it has gone out, unless a room echoes it
    bool echoed = false;
    QString text;   // as typed, shown while it waits
    int ahead = 0;  // held commands before it leaves, itself included
};

struct Conversation {
    enum class Type { Im, Room };
    Type type = Type::Im;
    QString key;       // see ConversationStore::imKey / roomKey
    QString wireName;  // the person's screen name or the room's name, as the wire gives it
    QString title;     // the same, decoded
    std::unique_ptr<TranscriptModel> transcript;
    bool loadingOlder = false;  // history asked for older lines, no answer yet
    int unread = 0;
    // Rooms: whether joined, the chat ID while joined (0 is a room too), and the members, wire
    // form, in order.
    bool joined = false;
    int chatId = 0;
    QStringList members;
    // Instant messages: the other person's typing status (0 none, 1 paused, 2 typing).
    int typing = 0;
    // Our messages still held back, oldest first.
    QList<WaitingLine> waiting;
};

class ConversationStore : public QObject {
    Q_OBJECT
public:
    explicit ConversationStore(QObject* parent = nullptr);
    ~ConversationStore() override;

    // This user's own screen name (wire form): room lines from it are marked as sent.
    void setOwnName(const QString& wireName) { ownName_ = wireName; }
    // Lines are written to `history` (which must outlive the store) from now on; null: none.
    void setHistory(HistoryStore* history);

    static QString imKey(const QString& wireName);
    static QString roomKey(const QString& wireRoomName);

    // Reacts to InstantMessage, TypingStatus, JoinedChat, ChatMessage, ChatUserUpdate and
    // LeftChat. InstantMessage and JoinedChat create their conversation.
    void handleEvent(int eventNumber, const QVariantList& args);
    // The connection is gone: every room is left (its window stays, with a notice).
    void leaveAllRooms(const QString& why);

    Conversation* find(const QString& key);
    Conversation* roomById(int chatId);
    // The conversation with a person, created when there is none.
    Conversation& im(const QString& wireName);
    // The room of that name, created (not joined) when there is none.
    Conversation& room(const QString& wireRoomName);
    QStringList keys() const;

    // Adds a line; an incoming line counts as unread until markRead.
    void addLine(const QString& key, ChatLine line);
    void addNotice(const QString& key, const QString& text);
    // Our message went into the control's queue of held commands with `ahead` commands to leave
    // before it is out (itself included): it waits, shown as waiting, until heldLeft says so.
    // A room's own message is shown by its echo, an IM's by `line` when it leaves.
    void addWaiting(const QString& key, WaitingLine waiting);
    // Held commands left the control's queue, in order: `sent` went out, then `dropped` were
    // lost with the connection (every message still waiting then becomes a "not sent" notice).
    void heldLeft(int sent, int dropped);
    // Asks the history for lines older than those held, unless asked already or none are left.
    void loadOlder(const QString& key);
    // Whether the history may still hold lines of `key` older than those held.
    bool canLoadOlder(const QString& key);
    // Clears the history and every transcript.
    void clearHistory();
    void markRead(const QString& key);
    int unreadTotal() const;

signals:
    // A conversation came into being (a window may want to open for it).
    void conversationAdded(const QString& key);
    void lineAdded(const QString& key);
    void membersChanged(const QString& key);
    void typingChanged(const QString& key);
    void waitingChanged(const QString& key);
    // Older lines from the history went in before the others.
    void olderLoaded(const QString& key);
    // Joined or left.
    void roomStateChanged(const QString& key);
    void unreadChanged(int total);

private:
    Conversation& ensure(Conversation::Type type, const QString& key, const QString& wireName);

    std::vector<std::unique_ptr<Conversation>> conversations_;
    QHash<QString, Conversation*> byKey_;
    QString ownName_;
    HistoryStore* history_ = nullptr;
};

}  // namespace messenger

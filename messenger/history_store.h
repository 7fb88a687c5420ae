// The history of one account's conversations: an SQLite file per account (a file named for the
// normalised screen name in a folder, usually the XDG data directory), one row per line: the
// conversation, the time, the kind (direction), the sender and the text as received.
//
// Every query runs on a thread of its own, in the order asked: writing never waits on the
// disk, and a read sees every line appended before it was asked. Lines appended in one turn of
// the event loop are written in one transaction. Each line gets its row id when appended
// (append returns it), so a model can ask for what is older than the lines it holds.
//
// Failures: a file that cannot be opened or written is reported once through `problem`, not
// per line; after a write succeeds again, the next failure is reported again. Lines that could
// not be written are lost. Threading: every member is called on the GUI thread, and every
// signal arrives there.
#pragma once

#include <QList>
#include <QObject>
#include <QThread>

#include "transcript_model.h"

namespace messenger {

class HistoryWorker;

// A line found by a search, with the conversation it belongs to.
struct HistoryHit {
    QString key;    // ConversationStore key
    QString title;  // the conversation's title when the line was written
    ChatLine line;
};

class HistoryStore : public QObject {
    Q_OBJECT
public:
    // Lines a reopened conversation shows from the history, and lines loaded per request for
    // older ones.
    static constexpr int kLinesPerLoad = 100;
    // Hits a search returns at most, newest first.
    static constexpr int kMaxHits = 500;

    explicit HistoryStore(QObject* parent = nullptr);
    ~HistoryStore() override;

    // Closes the file open now and opens the account's own in `folder` (made when missing).
    // Waits for the file to open: the one blocking call. False, reported, when it cannot.
    bool open(const QString& folder, const QString& account);
    bool isOpen() const { return open_; }
    // While off, append writes nothing and returns 0; what is kept stays readable.
    void setLogging(bool on) { logging_ = on; }
    bool logging() const { return logging_; }

    // Queues the line to be written; returns its row id, or 0 when nothing is written.
    qint64 append(const QString& key, const QString& title, const ChatLine& line);
    // Asks for up to `count` lines of `key` older than row `beforeId` (0: older than every line
    // appended so far): olderLoaded answers, oldest first.
    void requestOlder(const QString& key, qint64 beforeId, int count = kLinesPerLoad);
    // Asks for lines containing `text` (case-insensitive for ASCII), in the conversation `key`
    // or, when it is empty, in all of them: found answers with `request` and the hits.
    int search(const QString& text, const QString& key = {});
    // Removes every line of the account.
    void clear();

signals:
    // `exhausted`: nothing is older than these.
    void olderLoaded(const QString& key, const QList<ChatLine>& lines, bool exhausted);
    void found(int request, const QList<HistoryHit>& hits);
    void problem(const QString& why);

private:
    void report(const QString& why);

    QThread thread_;
    HistoryWorker* worker_;
    bool open_ = false;
    bool logging_ = true;
    qint64 nextId_ = 1;
    int lastRequest_ = 0;
};

}  // namespace messenger

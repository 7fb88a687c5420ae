// The lines of one conversation as an item model: one row per line, oldest first. It keeps the
// latest lines in memory (at most kMaxLines plus kTrimChunk); older ones live in the history and
// come back through prependOlder when a view asks for them. Appending costs the same however
// many lines came before: no row is touched but the new one, and trimming drops a whole chunk
// at once. GUI thread only; works without any view.
#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>

namespace messenger {

struct ChatLine {
    enum class Kind { Incoming, Outgoing, AutoReply, Notice };
    Kind kind = Kind::Notice;
    QDateTime time;
    QString sender;  // decoded, shown as it is; empty for notices
    QString html;    // the text, rendered by renderMarkup (or written by us for notices)
    QString text;    // messages: the text as received or typed, decoded; empty for notices
    qint64 id = 0;   // the line's row in the history, 0 when it is not kept there
};

class TranscriptModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Lines kept in memory; past kMaxLines + kTrimChunk the oldest kTrimChunk go.
    static constexpr int kMaxLines = 5000;
    static constexpr int kTrimChunk = 1000;

    enum Role {
        HtmlRole = Qt::UserRole,  // the whole line as safe HTML: time, sender, text
        KindRole,
        IdRole,
    };

    explicit TranscriptModel(QObject* parent = nullptr);

    // Qt::DisplayRole is the line as plain text ("[hh:mm:ss] sender: text").
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const ChatLine& line(int row) const { return lines_[row]; }
    const QList<ChatLine>& lines() const { return lines_; }
    void append(ChatLine line);
    // Lines from the history older than every line held, oldest first; `exhausted` when the
    // history has nothing older than these.
    void prependOlder(QList<ChatLine> older, bool exhausted);
    // Drops every line; nothing older is left to load.
    void clear();
    // The history's id of the oldest line held that has one, or 0.
    qint64 oldestId() const { return oldestId_; }
    // Whether the history may hold lines older than those here.
    bool mayHaveOlder() const { return mayHaveOlder_; }

    // The line as safe HTML: "[hh:mm:ss] sender: text", the time stamp and sender written by us.
    static QString lineHtml(const ChatLine& line);

private:
    QList<ChatLine> lines_;
    qint64 oldestId_ = 0;
    bool mayHaveOlder_ = true;
};

}  // namespace messenger

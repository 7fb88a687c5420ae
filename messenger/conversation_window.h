// What the IM and chat room windows share: the conversation they show (`key` in `store`, which
// must outlive the window), a transcript that shows the conversation's lines as they come (and
// older ones from the history when scrolled back to the oldest), a line to type in, our
// messages still waiting to go out (held back for the server's rate limit), a find bar (Ctrl+F:
// Enter finds the previous line containing the text, searching the history further back when
// the lines held have none), marking the conversation read whenever the window is active, and
// a format bar: bold, italic and underline (Ctrl+B, Ctrl+I, Ctrl+U, or its checkable buttons)
// for the whole message being typed, shown in the line as it is typed, kept for the next one.
// What is typed is plain text: "<b>" typed is sent as those three characters.
// A window made for a key the store no longer has stays empty and is titled by the key.
#pragma once

#include <QKeySequence>
#include <QWidget>

#include <functional>

#include "safe_markup.h"

class QAction;
class QLabel;
class QLineEdit;

namespace messenger {

class ConversationStore;
class TranscriptView;

class ConversationWindow : public QWidget {
    Q_OBJECT
public:
    QString key() const { return key_; }
    TranscriptView* transcript() const { return view_; }
    // Shows the find bar with `text` and finds its latest line before the one selected.
    void find(const QString& text);
    QString findStatus() const;
    // The formatting the next message goes with.
    TextStyle style() const;

signals:
    // Text typed and confirmed (plain, never empty or blank) with its formatting; the line to
    // type in is cleared.
    void sendRequested(const QString& typed, TextStyle style);

protected:
    // The transcript, the waiting messages, the find bar and the line to type in are made here
    // and are the subclass's to lay out.
    ConversationWindow(ConversationStore* store, const QString& key, QWidget* parent);

    // The conversation's title, or the key when the store no longer has it.
    QString title() const;
    // Calls `show` whenever `changed` names this window's conversation.
    void follow(void (ConversationStore::*changed)(const QString&), std::function<void()> show);
    // Closes the window on any of `keys`.
    void closeOn(const QList<QKeySequence>& keys);
    // Sends the typed text (sendRequested) and clears the line; leaves the line as it is when
    // only blanks were typed.
    void send();
    void showWaiting();

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    ConversationStore* store_;
    QString key_;
    TranscriptView* view_;
    QLabel* waiting_;   // hidden while nothing waits
    QWidget* findBar_;  // hidden until Ctrl+F
    QWidget* formatBar_;
    QLineEdit* input_;

private:
    // Looks for the find text in rows `from` down to 0; true when found and shown.
    bool findFrom(int from);
    void findPrevious();
    QAction* addFormat(const QString& name, const QString& label, QKeySequence::StandardKey key);
    void showStyle();

    QLineEdit* findText_;
    QLabel* findStatus_;
    QAction* bold_;
    QAction* italic_;
    QAction* underline_;
    int searchedBelow_ = -1;  // rows held when the history was asked for more, while finding
};

}  // namespace messenger

// What the IM and chat room windows share: the conversation they show (`key` in `store`, which
// must outlive the window), a transcript that shows each line the store gains, a line to type
// in, our messages still waiting to go out (held back for the server's rate limit), and marking
// the conversation read whenever the window is active. A window made for a key
// the store no longer has stays empty and is titled by the key.
#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

namespace messenger {

class ConversationStore;
class MessageView;

class ConversationWindow : public QWidget {
    Q_OBJECT
public:
    QString key() const { return key_; }
    MessageView* transcript() const { return view_; }

signals:
    // Text typed and confirmed, never empty or blank; the line to type in is cleared.
    void sendRequested(const QString& text);

protected:
    // The transcript, the waiting messages and the line to type in are made here and are the
    // subclass's to lay out;
    // the subclass shows the lines already kept by calling appendNewLines once it is laid out.
    ConversationWindow(ConversationStore* store, const QString& key, QWidget* parent);

    // The conversation's title, or the key when the store no longer has it.
    QString title() const;
    // Calls `show` whenever `changed` names this window's conversation.
    void follow(void (ConversationStore::*changed)(const QString&), std::function<void()> show);
    // Closes the window on any of `keys`.
    void closeOn(const QList<QKeySequence>& keys);
    // Returns the typed text and clears the line; returns an empty string, leaving the line as
    // it is, when only blanks were typed.
    QString takeInput();
    void appendNewLines();
    void showWaiting();

    bool event(QEvent* event) override;

    ConversationStore* store_;
    QString key_;
    MessageView* view_;
    QLabel* waiting_;  // hidden while nothing waits
    QLineEdit* input_;
};

}  // namespace messenger

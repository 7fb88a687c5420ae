// The window of one instant-message conversation: the transcript (time stamps, markup shown
// safely, automatic replies marked), the other person's typing notice and a line to type in.
// Enter sends; what is sent is Messenger's business (sendRequested). Activating the window
// marks its lines read.
#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace messenger {

class ConversationStore;
class MessageView;

class ImWindow : public QWidget {
    Q_OBJECT
public:
    // Seconds without a keystroke after which "typing" becomes "paused".
    static constexpr int kTypingPauseSeconds = 5;

    // Shows the conversation `key` of `store` (which must outlive the window).
    ImWindow(ConversationStore* store, const QString& key, QWidget* parent = nullptr);

    QString key() const { return key_; }
    MessageView* transcript() const { return view_; }

signals:
    void sendRequested(const QString& text);
    // This user's typing status for the other person (0 none, 1 paused, 2 typing).
    void typingStateChanged(int state);
    void profileRequested();

protected:
    bool event(QEvent* event) override;

private:
    void appendNewLines();
    void showTyping();
    void send();
    void setOwnTyping(int state);

    ConversationStore* store_;
    QString key_;
    MessageView* view_;
    QLabel* typing_;
    QLineEdit* input_;
    int ownTyping_ = 0;
    QTimer pauseTimer_;
};

}  // namespace messenger

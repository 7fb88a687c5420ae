// The window of one instant-message conversation: the transcript (time stamps, markup shown
// safely, automatic replies marked), the other person's typing notice and a line to type in.
// Enter sends; what is sent is Messenger's business (sendRequested).
#pragma once

#include <QTimer>

#include "conversation_window.h"

class QLabel;

namespace messenger {

class ImWindow : public ConversationWindow {
    Q_OBJECT
public:
    // Seconds without a keystroke after which "typing" becomes "paused".
    static constexpr int kTypingPauseSeconds = 5;

    ImWindow(ConversationStore* store, const QString& key, QWidget* parent = nullptr);

signals:
    // This user's typing status for the other person (0 none, 1 paused, 2 typing).
    void typingStateChanged(int state);
    void profileRequested();

private:
    void showTyping();
    void sendTyped();
    void setOwnTyping(int state);

    QLabel* typing_;
    int ownTyping_ = 0;
    QTimer pauseTimer_;
};

}  // namespace messenger

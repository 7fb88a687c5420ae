// A transcript of one conversation: a read-only QTextBrowser that shows ChatLines, one block
// per line, opens nothing by itself and loads no resource of any kind (images, style sheets),
// so received text can never reach the network. A link that is clicked opens in the desktop's
// browser only when isSafeLink says it may.
#pragma once

#include <QTextBrowser>

#include "conversation_store.h"

namespace messenger {

class MessageView : public QTextBrowser {
    Q_OBJECT
public:
    explicit MessageView(QWidget* parent = nullptr);

    // Appends one line: "[hh:mm:ss] sender: text", the time stamp and sender written by us.
    void appendLine(const ChatLine& line);
    // Appends the lines `conversation` gained since the last call (only the ones it still
    // keeps, when more came than it holds).
    void showNewLines(const Conversation& conversation);
    // Shows `html` (already made safe) as the whole content.
    void showSafeHtml(const QString& html);

    QVariant loadResource(int type, const QUrl& name) override;

private:
    qint64 shownLines_ = 0;  // Conversation::linesAdded when last shown
};

}  // namespace messenger

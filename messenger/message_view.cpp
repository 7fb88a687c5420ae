#include "message_view.h"

#include <QDesktopServices>
#include <QScrollBar>
#include <QTextCursor>

#include <algorithm>

#include "ondrel/text.h"
#include "safe_markup.h"

namespace messenger {

MessageView::MessageView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
    document()->setMaximumBlockCount(ConversationStore::kMaxLines);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (isSafeLink(url.toString()))
            QDesktopServices::openUrl(url);
    });
}

void MessageView::showNewLines(const Conversation& conversation) {
    const qint64 fresh =
        std::min<qint64>(conversation.linesAdded - shownLines_, conversation.lines.size());
    for (qsizetype i = conversation.lines.size() - fresh; i < conversation.lines.size(); ++i)
        appendLine(conversation.lines[i]);
    shownLines_ = conversation.linesAdded;
}

void MessageView::appendLine(const ChatLine& line) {
    QString colour;
    switch (line.kind) {
        case ChatLine::Kind::Incoming:
            colour = QStringLiteral("#b0281a");
            break;
        case ChatLine::Kind::Outgoing:
            colour = QStringLiteral("#1a4fb0");
            break;
        case ChatLine::Kind::AutoReply:
            colour = QStringLiteral("#7a4fb0");
            break;
        case ChatLine::Kind::Notice:
            colour = QStringLiteral("#707070");
            break;
    }
    QString head = QStringLiteral("[%1] ").arg(line.time.toString(QStringLiteral("hh:mm:ss")));
    if (line.kind == ChatLine::Kind::Notice) {
        head = QStringLiteral("<span style=\"color:%1\">%2<i>%3</i></span>")
                   .arg(colour, head, line.html);
    } else {
        const QString marker = line.kind == ChatLine::Kind::AutoReply ? tr(" (auto reply)") : "";
        head = QStringLiteral("<span style=\"color:%1\">%2<b>%3</b>%4:</span> %5")
                   .arg(colour, head, lantry::visibleText(line.sender).toHtmlEscaped(), marker,
                        line.html);
    }
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!document()->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    // Nothing of the line before carries over: each line starts in plain text.
    cursor.setCharFormat(QTextCharFormat());
    cursor.insertHtml(head);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void MessageView::showSafeHtml(const QString& html) {
    setHtml(html);
}

QVariant MessageView::loadResource(int, const QUrl&) {
    return {};
}

}  // namespace messenger

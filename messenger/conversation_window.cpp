#include "conversation_window.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>

#include "conversation_store.h"
#include "message_view.h"

namespace messenger {

ConversationWindow::ConversationWindow(ConversationStore* store, const QString& key,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), key_(key) {
    view_ = new MessageView(this);
    view_->setObjectName(QStringLiteral("transcript"));
    waiting_ = new QLabel(this);
    waiting_->setObjectName(QStringLiteral("waiting"));
    waiting_->setTextFormat(Qt::PlainText);
    waiting_->setWordWrap(true);
    waiting_->setStyleSheet(QStringLiteral("color: #707070"));
    waiting_->hide();
    input_ = new QLineEdit(this);
    input_->setObjectName(QStringLiteral("input"));
    follow(&ConversationStore::lineAdded, [this] { appendNewLines(); });
    follow(&ConversationStore::waitingChanged, [this] { showWaiting(); });
}

void ConversationWindow::showWaiting() {
    const Conversation* c = store_->find(key_);
    if (!c || c->waiting.isEmpty()) {
        waiting_->hide();
        return;
    }
    QStringList shown{tr("Waiting to go out (the server takes about one message every 4 s):")};
    for (const WaitingLine& w : c->waiting)
        shown.append(QStringLiteral("\u231b ") + w.text);
    waiting_->setText(shown.join(u'\n'));
    waiting_->show();
}

QString ConversationWindow::title() const {
    const Conversation* c = store_->find(key_);
    return c ? c->title : key_;
}

void ConversationWindow::follow(void (ConversationStore::*changed)(const QString&),
                                std::function<void()> show) {
    connect(store_, changed, this, [this, show = std::move(show)](const QString& k) {
        if (k == key_)
            show();
    });
}

void ConversationWindow::closeOn(const QList<QKeySequence>& keys) {
    auto* close = new QAction(this);
    close->setShortcuts(keys);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

QString ConversationWindow::takeInput() {
    const QString text = input_->text();
    if (text.trimmed().isEmpty())
        return {};
    input_->clear();
    return text;
}

void ConversationWindow::appendNewLines() {
    const Conversation* c = store_->find(key_);
    if (!c)
        return;
    view_->showNewLines(*c);
    if (isActiveWindow())
        store_->markRead(key_);
}

bool ConversationWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        store_->markRead(key_);
    return QWidget::event(event);
}

}  // namespace messenger

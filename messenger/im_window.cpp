#include "im_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "conversation_store.h"
#include "transcript_view.h"

namespace messenger {

ImWindow::ImWindow(ConversationStore* store, const QString& key, QWidget* parent)
    : ConversationWindow(store, key, parent) {
    setObjectName(QStringLiteral("imWindow"));
    setWindowTitle(tr("%1 - Instant Message").arg(title()));
    typing_ = new QLabel(this);
    typing_->setObjectName(QStringLiteral("typing"));
    typing_->setTextFormat(Qt::PlainText);
    input_->setPlaceholderText(tr("Type a message and press Enter"));
    auto* sendButton = new QPushButton(tr("&Send"), this);
    auto* infoButton = new QPushButton(tr("&Info"), this);
    infoButton->setToolTip(tr("Show this person's profile"));

    auto* row = new QHBoxLayout;
    row->addWidget(input_, 1);
    row->addWidget(sendButton);
    row->addWidget(infoButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addWidget(findBar_);
    layout->addWidget(waiting_);
    layout->addWidget(typing_);
    layout->addWidget(formatBar_);
    layout->addLayout(row);
    resize(460, 360);
    closeOn({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});

    connect(input_, &QLineEdit::returnPressed, this, &ImWindow::sendTyped);
    connect(sendButton, &QPushButton::clicked, this, &ImWindow::sendTyped);
    connect(infoButton, &QPushButton::clicked, this, &ImWindow::profileRequested);
    connect(input_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty()) {
            pauseTimer_.stop();
            setOwnTyping(0);
            return;
        }
        setOwnTyping(2);
        pauseTimer_.start(kTypingPauseSeconds * 1000);
    });
    pauseTimer_.setSingleShot(true);
    connect(&pauseTimer_, &QTimer::timeout, this, [this] { setOwnTyping(1); });
    follow(&ConversationStore::typingChanged, [this] { showTyping(); });
    showTyping();
    input_->setFocus();
}

void ImWindow::showTyping() {
    const Conversation* c = store_->find(key_);
    const int state = c ? c->typing : 0;
    typing_->setText(state == 2   ? tr("%1 is typing ...").arg(c->title)
                     : state == 1 ? tr("%1 stopped typing.").arg(c->title)
                                  : QString());
}

void ImWindow::sendTyped() {
    if (input_->text().trimmed().isEmpty())
        return;
    pauseTimer_.stop();
    ownTyping_ = 0;
    send();
}

void ImWindow::setOwnTyping(int state) {
    if (state == ownTyping_)
        return;
    ownTyping_ = state;
    emit typingStateChanged(state);
}

}  // namespace messenger

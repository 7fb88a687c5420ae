#include "chat_room_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "conversation_store.h"
#include "transcript_view.h"
#include "wire_strings.h"

namespace messenger {

ChatRoomWindow::ChatRoomWindow(ConversationStore* store, const QString& key, QWidget* parent)
    : ConversationWindow(store, key, parent) {
    setObjectName(QStringLiteral("chatRoomWindow"));
    setWindowTitle(tr("%1 - Chat Room").arg(title()));
    members_ = new QListWidget(this);
    members_->setObjectName(QStringLiteral("members"));
    input_->setPlaceholderText(tr("Type to the room and press Enter"));
    invite_ = new QPushButton(tr("&Invite..."), this);
    rejoin_ = new QPushButton(tr("&Rejoin"), this);
    auto* leave = new QPushButton(tr("&Leave"), this);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(view_);
    splitter->addWidget(members_);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    auto* row = new QHBoxLayout;
    row->addWidget(input_, 1);
    row->addWidget(invite_);
    row->addWidget(rejoin_);
    row->addWidget(leave);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(findBar_);
    layout->addWidget(waiting_);
    layout->addWidget(formatBar_);
    layout->addLayout(row);
    resize(560, 380);
    closeOn({QKeySequence::Close});

    connect(input_, &QLineEdit::returnPressed, this, &ChatRoomWindow::send);
    connect(invite_, &QPushButton::clicked, this, &ChatRoomWindow::askForInvitees);
    connect(rejoin_, &QPushButton::clicked, this, &ChatRoomWindow::rejoinRequested);
    connect(leave, &QPushButton::clicked, this, &QWidget::close);
    follow(&ConversationStore::membersChanged, [this] { showMembers(); });
    follow(&ConversationStore::roomStateChanged, [this] { showJoined(); });
    showMembers();
    showJoined();
    input_->setFocus();
}

void ChatRoomWindow::closeEvent(QCloseEvent* event) {
    const Conversation* c = store_->find(key_);
    if (c && c->joined)
        emit leaveRequested();
    event->accept();
}

void ChatRoomWindow::showMembers() {
    members_->clear();
    if (const Conversation* c = store_->find(key_)) {
        for (const QString& m : c->members)
            members_->addItem(shownText(m));
    }
}

void ChatRoomWindow::showJoined() {
    const Conversation* c = store_->find(key_);
    const bool joined = c && c->joined;
    input_->setEnabled(joined);
    invite_->setEnabled(joined);
    rejoin_->setVisible(!joined);
}

void ChatRoomWindow::askForInvitees() {
    bool ok = false;
    const QString names = QInputDialog::getText(this, tr("Invite"),
                                                tr("Screen names to invite (separated by commas):"),
                                                QLineEdit::Normal, QString(), &ok);
    if (!ok || names.trimmed().isEmpty())
        return;
    const Conversation* c = store_->find(key_);
    const QString message =
        QInputDialog::getText(this, tr("Invite"), tr("Invitation text:"), QLineEdit::Normal,
                              tr("Join me in %1.").arg(c ? c->title : QString()), &ok);
    if (ok)
        emit inviteRequested(names, message);
}

}  // namespace messenger

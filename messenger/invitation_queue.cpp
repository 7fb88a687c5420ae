#include "invitation_queue.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTextDocumentFragment>

#include "ondrel/text.h"
#include "safe_markup.h"
#include "wire_strings.h"

namespace messenger {

InvitationQueue::InvitationQueue(QObject* parent) : QObject(parent) {
}

InvitationQueue::~InvitationQueue() {
    delete box_.data();
}

void InvitationQueue::add(const QString& wireRoom, int chatId, const QString& wireFrom,
                          const QString& wireMessage) {
    const QString sender = normalizedName(wireFrom);
    if (ignored_.contains(sender))
        return;
    Invitation invitation;
    invitation.key = sender + u'\n' + normalizedName(wireRoom);
    invitation.sender = sender;
    invitation.wireSender = wireFrom;
    invitation.wireRoom = wireRoom;
    invitation.wireMessage = wireMessage;
    invitation.chatId = chatId;
    const auto fold = [&](Invitation& into) {
        ++into.count;
        into.chatId = chatId;
        into.wireMessage = wireMessage;
    };
    if (box_ && current_.key == invitation.key) {
        fold(current_);
        updateQuestion();
        return;
    }
    for (Invitation& w : waiting_) {
        if (w.key == invitation.key) {
            fold(w);
            return;
        }
    }
    if (waiting_.size() >= kMaxWaiting) {
        emit dropped(++dropped_);
        return;
    }
    waiting_.append(invitation);
    if (!box_)
        showNext();
}

void InvitationQueue::clear() {
    waiting_.clear();
    delete box_.data();
}

QMessageBox* InvitationQueue::question() const {
    return box_;
}

void InvitationQueue::showNext() {
    if (box_ || waiting_.isEmpty())
        return;
    current_ = waiting_.takeFirst();
    auto* box = new QMessageBox(QMessageBox::Question, tr("Chat Invitation"), QString(),
                                QMessageBox::Yes | QMessageBox::No);
    box->setObjectName(QStringLiteral("invitation"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* ignore =
        box->addButton(tr("Ignore invitations from %1").arg(shownText(current_.wireSender)),
                       QMessageBox::RejectRole);
    ignore->setObjectName(QStringLiteral("ignore"));
    box->setEscapeButton(QMessageBox::No);
    box_ = box;
    updateQuestion();
    connect(box, &QMessageBox::finished, this, [this, box, ignore] {
        answered(box->clickedButton() == ignore                          ? -1
                 : box->clickedButton() == box->button(QMessageBox::Yes) ? 1
                                                                         : 0);
    });
    box->open();
}

// Texts are kept as received and turned into plain text here, for the one question shown.
void InvitationQueue::updateQuestion() {
    const QString message = lantry::visibleText(
        QTextDocumentFragment::fromHtml(renderMarkup(fromWire(current_.wireMessage)))
            .toPlainText());
    const QString room = shownText(current_.wireRoom);
    const QString from = shownText(current_.wireSender);
    box_->setText(
        current_.count == 1
            ? tr("%1 invites you to the room %2:\n\n%3\n\nJoin the room?").arg(from, room, message)
            : tr("%1 invites you to the room %2 (%3 invitations; the last one:)\n\n%4\n\nJoin the "
                 "room?")
                  .arg(from, room, QString::number(current_.count), message));
}

void InvitationQueue::answered(int button) {
    box_ = nullptr;
    if (button == 1) {
        emit accepted(current_.chatId);
    } else if (button == -1) {
        ignored_.insert(current_.sender);
        waiting_.removeIf([&](const Invitation& w) { return w.sender == current_.sender; });
        emit ignored(shownText(current_.wireSender));
    }
    // The next question once this one has gone: a flood never stacks windows.
    QMetaObject::invokeMethod(this, &InvitationQueue::showNext, Qt::QueuedConnection);
}

}  // namespace messenger

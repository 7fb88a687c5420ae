#include "conversation_store.h"

#include "buddy_list_model.h"
#include "history_store.h"
#include "ondrel/events.h"
#include "safe_markup.h"
#include "wire_strings.h"

namespace messenger {

ConversationStore::ConversationStore(QObject* parent) : QObject(parent) {
}

ConversationStore::~ConversationStore() = default;

QString ConversationStore::imKey(const QString& wireName) {
    return QStringLiteral("im:") + normalizedName(wireName);
}

QString ConversationStore::roomKey(const QString& wireRoomName) {
    return QStringLiteral("room:") + wireRoomName.toLower();
}

void ConversationStore::handleEvent(int eventNumber, const QVariantList& args) {
    using lantry::EventNumber;
    const auto text = [&](int i) { return args.value(i).toString(); };
    switch (static_cast<EventNumber>(eventNumber)) {
        case EventNumber::InstantMessage: {
            Conversation& c = im(text(0));
            if (c.typing != 0) {
                c.typing = 0;
                emit typingChanged(c.key);
            }
            const bool automatic = args.value(2).toBool();
            const QString received = fromWire(text(1));
            addLine(c.key,
                    ChatLine{automatic ? ChatLine::Kind::AutoReply : ChatLine::Kind::Incoming,
                             QDateTime::currentDateTime(), fromWire(text(0)),
                             renderMarkup(received), received, 0});
            break;
        }
        case EventNumber::TypingStatus: {
            Conversation* c = find(imKey(text(0)));
            if (c && c->typing != args.value(1).toInt()) {
                c->typing = args.value(1).toInt();
                emit typingChanged(c->key);
            }
            break;
        }
        case EventNumber::JoinedChat: {
            Conversation& c = room(text(0));
            c.joined = true;
            c.chatId = args.value(1).toInt();
            c.members.clear();
            emit membersChanged(c.key);
            emit roomStateChanged(c.key);
            addNotice(c.key, tr("You are in %1.").arg(c.title.toHtmlEscaped()));
            break;
        }
        case EventNumber::ChatMessage: {
            if (Conversation* c = roomById(args.value(0).toInt())) {
                const bool mine = normalizedName(text(1)) == normalizedName(ownName_);
                const QString received = fromWire(text(2));
                addLine(c->key, ChatLine{mine ? ChatLine::Kind::Outgoing : ChatLine::Kind::Incoming,
                                         QDateTime::currentDateTime(), fromWire(text(1)),
                                         renderMarkup(received), received, 0});
            }
            break;
        }
        case EventNumber::ChatUserUpdate: {
            Conversation* c = roomById(args.value(2).toInt());
            if (!c)
                break;
            const QString name = text(0);
            const bool inside = args.value(1).toBool();
            const auto same = [&](const QString& m) {
                return normalizedName(m) == normalizedName(name);
            };
            const bool known = std::any_of(c->members.begin(), c->members.end(), same);
            if (inside == known)
                break;
            if (inside)
                c->members.append(name);
            else
                c->members.removeIf(same);
            emit membersChanged(c->key);
            addNotice(
                c->key,
                (inside ? tr("%1 came in.") : tr("%1 left.")).arg(shownText(name).toHtmlEscaped()));
            break;
        }
        case EventNumber::LeftChat: {
            if (Conversation* c = roomById(args.value(0).toInt())) {
                c->joined = false;
                c->members.clear();
                emit membersChanged(c->key);
                emit roomStateChanged(c->key);
                addNotice(c->key, tr("You left %1.").arg(c->title.toHtmlEscaped()));
            }
            break;
        }
        default:
            break;
    }
}

void ConversationStore::leaveAllRooms(const QString& why) {
    for (const auto& c : conversations_) {
        if (c->type != Conversation::Type::Room || !c->joined)
            continue;
        c->joined = false;
        c->members.clear();
        emit membersChanged(c->key);
        emit roomStateChanged(c->key);
        addNotice(c->key, why.toHtmlEscaped());
    }
}

Conversation* ConversationStore::find(const QString& key) {
    return byKey_.value(key);
}

Conversation* ConversationStore::roomById(int chatId) {
    for (const auto& c : conversations_) {
        if (c->type == Conversation::Type::Room && c->joined && c->chatId == chatId)
            return c.get();
    }
    return nullptr;
}

Conversation& ConversationStore::im(const QString& wireName) {
    return ensure(Conversation::Type::Im, imKey(wireName), wireName);
}

Conversation& ConversationStore::room(const QString& wireRoomName) {
    return ensure(Conversation::Type::Room, roomKey(wireRoomName), wireRoomName);
}

QStringList ConversationStore::keys() const {
    QStringList out;
    for (const auto& c : conversations_)
        out.append(c->key);
    return out;
}

Conversation& ConversationStore::ensure(Conversation::Type type, const QString& key,
                                        const QString& wireName) {
    if (Conversation* c = byKey_.value(key))
        return *c;
    auto c = std::make_unique<Conversation>();
    c->type = type;
    c->key = key;
    c->wireName = wireName;
    c->title = shownText(wireName);
    c->transcript = std::make_unique<TranscriptModel>();
    Conversation& made = *c;
    conversations_.push_back(std::move(c));
    byKey_.insert(key, &made);
    // Asked before any line of this session is written, so only earlier lines come back.
    loadOlder(key);
    emit conversationAdded(key);
    return made;
}

void ConversationStore::addLine(const QString& key, ChatLine line) {
    Conversation* c = find(key);
    if (!c)
        return;
    const bool unread =
        line.kind == ChatLine::Kind::Incoming || line.kind == ChatLine::Kind::AutoReply;
    if (history_)
        line.id = history_->append(key, c->title, line);
    c->transcript->append(std::move(line));
    // Counted before the windows hear of the line, so a window being read can clear it.
    if (unread)
        ++c->unread;
    emit lineAdded(key);
    if (unread)
        emit unreadChanged(unreadTotal());
}

void ConversationStore::addWaiting(const QString& key, WaitingLine waiting) {
    Conversation* c = find(key);
    if (!c)
        return;
    c->waiting.append(std::move(waiting));
    emit waitingChanged(key);
}

void ConversationStore::heldLeft(int sent, int dropped) {
    for (const auto& owned : conversations_) {
        Conversation& c = *owned;
        if (c.waiting.isEmpty())
            continue;
        QList<WaitingLine> gone;
        for (WaitingLine& w : c.waiting)
            w.ahead -= sent;
        while (!c.waiting.isEmpty() && (c.waiting.front().ahead <= 0 || dropped > 0))
            gone.append(c.waiting.takeFirst());
        for (WaitingLine& w : gone) {
            if (w.ahead > 0) {
                addNotice(
                    c.key,
                    tr("Not sent (the connection ended first): %1").arg(w.text.toHtmlEscaped()));
            } else if (!w.echoed) {
                w.line.time = QDateTime::currentDateTime();
                addLine(c.key, std::move(w.line));
            }
        }
        if (!gone.isEmpty())
            emit waitingChanged(c.key);
    }
}

void ConversationStore::addNotice(const QString& key, const QString& text) {
    addLine(key, ChatLine{ChatLine::Kind::Notice, QDateTime::currentDateTime(), {}, text, {}, 0});
}

void ConversationStore::setHistory(HistoryStore* history) {
    if (history_)
        disconnect(history_, nullptr, this, nullptr);
    history_ = history;
    if (!history_)
        return;
    connect(history_, &HistoryStore::olderLoaded, this,
            [this](const QString& key, const QList<ChatLine>& lines, bool exhausted) {
                Conversation* c = find(key);
                if (!c || !c->loadingOlder)
                    return;
                c->loadingOlder = false;
                c->transcript->prependOlder(lines, exhausted);
                emit olderLoaded(key);
            });
}

void ConversationStore::loadOlder(const QString& key) {
    Conversation* c = find(key);
    if (!history_ || !c || c->loadingOlder || !c->transcript->mayHaveOlder())
        return;
    c->loadingOlder = true;
    history_->requestOlder(key, c->transcript->oldestId());
}

bool ConversationStore::canLoadOlder(const QString& key) {
    const Conversation* c = find(key);
    return history_ && history_->isOpen() && c && c->transcript->mayHaveOlder();
}

void ConversationStore::clearHistory() {
    if (history_)
        history_->clear();
    for (const auto& c : conversations_) {
        c->loadingOlder = false;
        c->transcript->clear();
    }
}

void ConversationStore::markRead(const QString& key) {
    Conversation* c = find(key);
    if (!c || c->unread == 0)
        return;
    c->unread = 0;
    emit unreadChanged(unreadTotal());
}

int ConversationStore::unreadTotal() const {
    int total = 0;
    for (const auto& c : conversations_)
        total += c->unread;
    return total;
}

}  // namespace messenger

// The control's events as lines for a person, and the answers that settle requests; see
// chat_client.h. Every text from the server goes through terminal_text.h on its way out.
#include <QNetworkReply>
#include <QUrl>

#include <algorithm>
#include <utility>

#include "chat_client.h"
#include "ondrel/profile_page.h"
#include "ondrel/reconnect_backoff.h"
#include "ondrel/text.h"
#include "ondrel/wire.h"
#include "terminal_text.h"

namespace lantry::cli {

namespace {

// Presence arrives right after sign-on; the list is shown once it has had time to come in.
constexpr int kBuddyListDelayMs = 700;
// A person who writes again while we are away gets the away message again after this long.
constexpr std::chrono::minutes kAwayReplyInterval{10};
constexpr int kProfileTimeoutMs = 10000;
constexpr qint64 kMaxProfileBytes = 1 << 20;

// Whether an error sentence is about `name` (normalised): servers name people normalised.
bool mentions(const std::string& sentence, const std::string& name) {
    return name.empty() || (" " + sentence + " ").find(" " + name + " ") != std::string::npos;
}

}  // namespace

// --- Buddy list ---

std::string ChatClient::presenceText(const std::string& buddy) const {
    const auto it = presence_.find(wire::normalizeName(buddy));
    if (it == presence_.end() || !it->second.online)
        return "offline";
    const Presence& p = it->second;
    std::string text = p.away ? "away" : "online";
    if (p.idleMinutes > 0)
        text += ", idle " + std::to_string(p.idleMinutes) + " min";
    if (p.warning > 0)
        text += ", warning " + std::to_string(p.warning) + "%";
    return text;
}

void ChatClient::showBuddyList() {
    if (groups_.empty()) {
        note("Your buddy list is empty. /add GROUP NAME adds someone.");
        return;
    }
    std::vector<std::pair<std::string, std::string>> rows;  // shown name, presence; per group
    std::size_t width = 0;
    for (const Group& g : groups_) {
        for (const std::string& entry : g.buddies) {
            const auto colon = entry.find(':');
            const std::string name = wireForTerminal(entry.substr(0, colon));
            const std::string shown =
                colon == std::string::npos
                    ? name
                    : wireForTerminal(entry.substr(colon + 1)) + " (" + name + ")";
            width = std::max(width, displayWidth(shown));
        }
    }
    note("Buddy list:");
    for (const Group& g : groups_) {
        note("  " + wireForTerminal(g.name));
        for (const std::string& entry : g.buddies) {
            const auto colon = entry.find(':');
            const std::string name = entry.substr(0, colon);
            const std::string shown =
                colon == std::string::npos
                    ? wireForTerminal(name)
                    : wireForTerminal(entry.substr(colon + 1)) + " (" + wireForTerminal(name) + ")";
            const std::string state = presenceText(name);
            note("    " + padded(shown, width) + "  " +
                 (state == "offline" ? state : paint(state, "32")));
        }
    }
}

void ChatClient::fetchProfile(const std::string& url) {
    const Request* request = awaiting(Awaits::Profile);
    if (request == nullptr) {
        warn("The server sent a profile address nobody asked for; it is not fetched: " +
             wireForTerminal(url));
        return;
    }
    const std::string command = request->command;
    const Buffer::Kind kind = request->bufferKind;
    const std::string target = request->bufferTarget;
    settle(request);
    const ProfileAddress address =
        profileAddress(fromWireText(QByteArrayView(url.data(), qsizetype(url.size()))),
                       QString::fromStdString(options_.host), static_cast<quint16>(options_.port));
    if (address.verdict == ProfileVerdict::NotAPage) {
        warn(command +
             ": the server gave an address that is not a web page: " + wireForTerminal(url));
        return;
    }
    if (address.verdict == ProfileVerdict::OtherHost) {
        warn(command + ": the profile is on another host than the server's; not fetched: " +
             terminalText(address.url.toString(QUrl::FullyEncoded)));
        return;
    }
    QNetworkReply* reply = web_.get(profileRequest(address.url, kProfileTimeoutMs));
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxProfileBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, command, kind, target] {
        reply->deleteLater();
        Buffer* into = buffers_.find(kind, target);
        sink_ = into != nullptr ? into : &buffers_.status();
        const struct Reset {
            Buffer*& sink;
            ~Reset() { sink = nullptr; }
        } reset{sink_};
        // Qt's sentence for an HTTP failure holds the address, and with it the session's cookie.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 404) {
            warn(command + ": " + command.substr(command.find(' ') + 1) +
                 " is not online, so the server shows no profile.");
            return;
        }
        if (status != 0 && reply->error() != QNetworkReply::NoError) {
            warn(command + ": the profile could not be fetched: the server answered " +
                 std::to_string(status) + " " +
                 terminalText(
                     reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()) +
                 ".");
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            warn(command +
                 ": the profile could not be fetched: " + terminalText(reply->errorString()) + ".");
            return;
        }
        const QByteArray page = reply->readAll();
        say("Profile (" + command.substr(command.find(' ') + 1) + "):");
        for (const std::string& line : pageForTerminal(page.toStdString()))
            note("  " + line);
    });
}

// --- Events ---

void ChatClient::IncomingPacket(std::string strPacket) {
    // The server's sign-on frame: the connection is up and the credentials go out now.
    if (!signedOn_ && strPacket.size() > 1 && strPacket[1] == 1)
        say("Connected; signing on ...");
}

void ChatClient::ScreennameFormat(std::string strFormattedSN) {
    formattedName_ = strFormattedSN;
    buffers_.touch();
    if (signedOn_)
        say("Screen name now shows as " + wireForTerminal(strFormattedSN) + ".");
}

void ChatClient::ScreenNameFormatted() {
    settle(awaiting(Awaits::Nick));
}

void ChatClient::PasswordChanged() {
    if (const Request* r = awaiting(Awaits::Password)) {
        // /reconnect signs on with the password the server now holds.
        options_.password = r->newPassword;
        settle(r);
    }
    say("Password changed.");
}

void ChatClient::LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                          Collection& PrivateList, Collection&, std::string,
                          std::int16_t PrivacyMode) {
    signedOn_ = true;
    exitStatus_ = ChatExit::Done;
    privacyMode_ = PrivacyMode >= kAllowAll && PrivacyMode <= kBuddiesOnly
                       ? PrivacyMode
                       : std::int16_t{kAllowAll};
    groups_.clear();
    for (const std::string& item : BuddyList) {
        if (item.rfind("[group]", 0) == 0) {
            if (item.size() > 7)
                groups_.push_back(Group{item.substr(7), {}});
        } else {
            if (groups_.empty())
                groups_.push_back(Group{"Buddies", {}});
            groups_.back().buddies.push_back(item);
        }
    }
    // The server's own way of writing the name ("Ivy Auth"), when it gave one.
    const std::string shown =
        wire::normalizeName(formattedName_) == strUserName ? formattedName_ : strUserName;
    say(paint("Signed on as " + wireForTerminal(shown) + ".", "1") + " Type /help for commands.");
    if (!BlockList.empty() || !PrivateList.empty())
        say("Blocked: " + std::to_string(BlockList.size()) +
            ", permitted: " + std::to_string(PrivateList.size()) + ".");
    buddyListTimer_.start(kBuddyListDelayMs);
    reconnecting_ = false;
    reconnectFailures_ = 0;
    buffers_.touch();
    // After this handler, before the waiting lines: the rooms and the away message as they
    // were when the connection was lost.
    QTimer::singleShot(0, this, [this] {
        if (!signedOn_)
            return;
        for (const std::string& room : std::exchange(roomsToRejoin_, {}))
            joinRoom(room);
        if (awayMessage_) {
            control_->SetAwayMessage(*awayMessage_);
            awayRepliedAt_.clear();
            say("You are still away: " + *awayMessage_);
        }
    });
    // After this handler: the server hears "toc_init_done" before the waiting commands.
    QTimer::singleShot(0, this, &ChatClient::runWaiting);
}

void ChatClient::LoggedOut(std::string) {
    const bool was = connected_;
    signedOn_ = false;
    connected_ = false;
    buddyListTimer_.stop();
    presence_.clear();
    requests_.clear();
    if (was)
        say("Signed off.");
    buffers_.touch();
}

void ChatClient::BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                             std::int32_t, std::int32_t lngIdleTime, std::string strUserClass) {
    Presence now;
    now.online = blnOnline;
    now.away = blnOnline && strUserClass.size() >= 3 && strUserClass[2] == 'U';
    now.idleMinutes = blnOnline ? lngIdleTime : 0;
    now.warning = intWarningLevel;
    Presence& held = presence_[wire::normalizeName(strBuddy)];
    const bool changed = held.online != now.online || held.away != now.away ||
                         (held.idleMinutes > 0) != (now.idleMinutes > 0) ||
                         held.warning != now.warning;
    held = now;
    const std::string name = wireForTerminal(strBuddy);
    if (const Request* r = awaiting(Awaits::Quit, strBuddy)) {
        settle(r);
        QTimer::singleShot(0, this, &ChatClient::finishWhenSettled);
        return;
    }
    if (const Request* r = awaiting(Awaits::Warning, strBuddy)) {
        if (!r->refused)
            say(name + "'s warning level is now " + std::to_string(intWarningLevel) + "%.");
        settle(r);
    }
    if (const Request* r = awaiting(Awaits::Status, strBuddy)) {
        Buffer& into = bufferOf(*r);
        settle(r);
        sayIn(into, name + " is " + presenceText(strBuddy) + ".");
        return;
    }
    // Until the list is shown, presence goes into it instead of separate lines.
    if (changed && !buddyListTimer_.isActive())
        say(name + " is " + presenceText(strBuddy) + ".");
}

void ChatClient::InstantMessage(std::string& strUserName, std::string& strMessage,
                                bool& blnAutoResponse, std::string&) {
    lastSender_ = strUserName;
    Buffer& query = queryBuffer(strUserName);
    sayIn(query,
          paint("<" + wireForTerminal(strUserName) + ">", "1;36") +
              (blnAutoResponse ? " (auto)" : "") + " " + messageForTerminal(strMessage),
          Activity::Highlight);
    if (!awayMessage_ || blnAutoResponse || !signedOn_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto [it, first] = awayRepliedAt_.try_emplace(wire::normalizeName(strUserName), now);
    if (!first && now - it->second < kAwayReplyInterval)
        return;
    it->second = now;
    const QByteArray name = QByteArray::fromStdString(strUserName);
    for (const QByteArray& part : splitForIm(QByteArray::fromStdString(*awayMessage_), name, true))
        control_->SendIM(strUserName, part.toStdString(), true);
    sayIn(query, "(your away message went to " + wireForTerminal(strUserName) + ")");
}

void ChatClient::TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) {
    Buffer* query = buffers_.find(Buffer::Kind::Query, strUserName);
    Buffer& into = query != nullptr ? *query : buffers_.status();
    switch (intTypingStatus) {
        case 2:
            sayIn(into, wireForTerminal(strUserName) + " is typing ...", Activity::None);
            break;
        case 1:
            sayIn(into, wireForTerminal(strUserName) + " stopped typing.", Activity::None);
            break;
        default:
            break;
    }
}

void ChatClient::JoinedChat(std::string& strChatName, std::int32_t& lngChatID) {
    settle(awaiting(Awaits::Room));
    // Entering a room again (a rejoin gets the same ID) keeps one entry for it.
    std::erase_if(rooms_, [&](const Room& r) { return r.id == lngChatID; });
    rooms_.push_back(Room{lngChatID, strChatName});
    Buffer& room = roomBuffer(strChatName);
    room.joined = true;
    room.members.clear();
    buffers_.select(buffers_.numberOf(room));
    currentRoom_ = lngChatID;
    textToRoom_ = true;
    QTimer::singleShot(0, this, &ChatClient::runWaiting);
    sayIn(room, "You are in " + wireForTerminal(strChatName) + " (chat " +
                    std::to_string(lngChatID) + "). Plain text now goes there.");
}

void ChatClient::ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                             std::string& strMessage) {
    const std::string name = control_->GetChatName(lngChatID);
    const std::string text = paint("<" + wireForTerminal(strUserName) + ">", "1;33") + " " +
                             messageForTerminal(strMessage);
    // A message that names us is addressed to us.
    const std::string me = wire::normalizeName(options_.user);
    const bool mine = wire::normalizeName(strUserName) == me;
    const bool named =
        !mine && wire::normalizeName(wire::removeHtml(strMessage)).find(me) != std::string::npos;
    sayIn(roomBuffer(name), text, named ? Activity::Highlight : Activity::Message,
          "[" + wireForTerminal(name) + "] " + text);
}

void ChatClient::ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) {
    const std::string name = control_->GetChatName(lngChatID);
    Buffer& room = roomBuffer(name);
    if (blnInside)
        room.members.insert(wireForTerminal(strUserName));
    else
        room.members.erase(wireForTerminal(strUserName));
    buffers_.touch();
    sayIn(room, wireForTerminal(strUserName) + (blnInside ? " is in " : " left ") +
                    wireForTerminal(name) + ".");
}

void ChatClient::LeftChat(std::int32_t& lngChatID) {
    // The control has freed the slot already; the name is our own copy.
    const auto it = std::find_if(rooms_.begin(), rooms_.end(),
                                 [&](const Room& r) { return r.id == lngChatID; });
    const std::string name =
        it == rooms_.end() ? "chat " + std::to_string(lngChatID) : wireForTerminal(it->name);
    Buffer* room = it != rooms_.end() ? buffers_.find(Buffer::Kind::Room, it->name) : nullptr;
    if (it != rooms_.end())
        rooms_.erase(it);
    if (room != nullptr) {
        room->joined = false;
        room->members.clear();
        buffers_.touch();
    }
    sayIn(room != nullptr ? *room : sink(), "You left " + name + ".");
    if (currentRoom_ == lngChatID)
        currentRoom_ = rooms_.empty() ? std::nullopt : std::optional(rooms_.back().id);
}

void ChatClient::ChatInvite(std::string& strChatName, std::int32_t& lngChatID,
                            std::string& strFromUser, std::string& strInviteMessage) {
    lastInvite_ = lngChatID;
    sayIn(buffers_.status(),
          wireForTerminal(strFromUser) + " invites you to " + wireForTerminal(strChatName) + ": " +
              messageForTerminal(strInviteMessage) + "  (/accept to join)",
          Activity::Highlight);
}

void ChatClient::BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) {
    auto g = std::find_if(groups_.begin(), groups_.end(),
                          [&](const Group& x) { return x.name == strGroup; });
    if (g == groups_.end())
        g = groups_.insert(groups_.end(), Group{strGroup, {}});
    g->buddies.push_back(strAlias.empty() ? strBuddy : strBuddy + ":" + strAlias);
    say("Buddy " + wireForTerminal(strBuddy) + " added to " + wireForTerminal(strGroup) + ".");
}

void ChatClient::GroupAdded(std::string& strGroup) {
    // Real servers announce a nameless group before list changes; it is no group.
    if (strGroup.empty())
        return;
    if (std::none_of(groups_.begin(), groups_.end(),
                     [&](const Group& g) { return g.name == strGroup; }))
        groups_.push_back(Group{strGroup, {}});
    say("Group " + wireForTerminal(strGroup) + " added.");
}

void ChatClient::BuddyRemoved(std::string& strGroup, std::string& strBuddy) {
    for (Group& g : groups_) {
        if (g.name != strGroup)
            continue;
        std::erase_if(g.buddies, [&](const std::string& entry) {
            return wire::normalizeName(entry.substr(0, entry.find(':'))) ==
                   wire::normalizeName(strBuddy);
        });
    }
    say("Buddy " + wireForTerminal(strBuddy) + " removed from " + wireForTerminal(strGroup) + ".");
}

void ChatClient::GroupRemoved(std::string& strGroup) {
    std::erase_if(groups_, [&](const Group& g) { return g.name == strGroup; });
    say("Group " + wireForTerminal(strGroup) + " removed.");
}

void ChatClient::PrivateBuddyAdded(std::string& strBuddy) {
    say(wireForTerminal(strBuddy) + " added to your permit list.");
}

void ChatClient::PrivateBuddyRemoved(std::string& strBuddy) {
    say(wireForTerminal(strBuddy) + " removed from your permit list.");
}

void ChatClient::BuddyBlocked(std::string& strBuddy) {
    say(wireForTerminal(strBuddy) + " blocked.");
}

void ChatClient::BuddyUnblocked(std::string& strBuddy) {
    say(wireForTerminal(strBuddy) + " unblocked.");
}

void ChatClient::UserProfile(std::string& strURL) {
    fetchProfile(strURL);
}

void ChatClient::Error(std::int16_t& intErrorCode, std::string& strError) {
    ++errorsShown_;
    const std::string sentence = wireForTerminal(strError);
    if (connected_ && !signedOn_) {
        refused_ = true;
        refusalCode_ = intErrorCode;
        // The control's sentence for 983 speaks only of signing on; tocd also sends it for new
        // accounts past the address's allowance.
        warn("Sign-on failed: " +
             (intErrorCode == 983 ? "signing on too often, or too many new accounts from this "
                                    "address"
                                  : sentence) +
             " (error " + std::to_string(intErrorCode) + ")");
        return;
    }
    dropExpired();
    // Real servers refuse a warning without naming the person; the answers come in order.
    const auto it = std::find_if(requests_.begin(), requests_.end(), [&](const Request& r) {
        return r.errors.count(intErrorCode) != 0 &&
               ((r.awaits == Awaits::Warning && intErrorCode == 902) ||
                mentions(strError, r.subject));
    });
    if (it == requests_.end()) {
        ++failedLines_;  // a dropped message, most likely
        warn(sentence + " (error " + std::to_string(intErrorCode) + ")");
        return;
    }
    Request& request = *it;
    sink_ = &bufferOf(request);
    const struct Reset {
        Buffer*& sink;
        ~Reset() { sink = nullptr; }
    } reset{sink_};
    if (request.awaits == Awaits::Quit) {
        settle(&request);
        QTimer::singleShot(0, this, &ChatClient::finishWhenSettled);
        return;
    }
    // "Not online" answers a question; to anything else it is a refusal.
    if (request.awaits != Awaits::Status && request.awaits != Awaits::Profile)
        ++failedLines_;
    answered(&request);
    // A refused warning is followed by the answer to the status asked with it: not shown.
    if (request.awaits == Awaits::Warning && request.refused) {
        settle(&request);
        return;
    }
    const std::string& words = request.errors.at(intErrorCode);
    warn(request.command + ": " + (words.empty() ? sentence : words) + ".");
    if (request.awaits == Awaits::Warning && intErrorCode == 902) {
        request.refused = true;
        return;
    }
    const bool join = request.awaits == Awaits::Room;
    settle(&request);
    // The lines that waited for the room run now, and find themselves without one.
    if (join)
        QTimer::singleShot(0, this, &ChatClient::runWaiting);
}

void ChatClient::WinsockError(std::string& strError) {
    const bool wasOn = signedOn_;
    const ChatExit status = wasOn      ? ChatExit::ConnectionLost
                            : refused_ ? ChatExit::SignOnRefused
                                       : ChatExit::NoConnection;
    const bool again =
        options_.reconnect && !quitting_ && !inputEnded_ &&
        (wasOn || (reconnecting_ && (!refused_ || isPassingSignOnRefusal(refusalCode_))));
    if (wasOn) {
        roomsToRejoin_.clear();
        for (const Room& room : rooms_)
            roomsToRejoin_.push_back(room.name);
    }
    const std::string lost =
        (wasOn ? "Connection lost: " : "Could not sign on: ") + wireForTerminal(strError) + ".";
    // After a refusal the server hangs up; the refusal, shown already, is the reason.
    if (!quitting_ && again)
        warn(lost);
    else if (!quitting_ && refused_ && !wasOn)
        say("Type /reconnect to sign on again.");
    else if (!quitting_)
        warn(lost + " Type /reconnect to sign on again.");
    // The rooms wait for the next sign-on, automatic or by /reconnect.
    if (!again)
        reconnecting_ = false;
    connectionEnded(status);
    if (again)
        scheduleReconnect();
}

void ChatClient::Warned(std::string& intWarningLevel, std::string& strFromUser) {
    warn("You were warned" +
         (strFromUser.empty() ? std::string(" anonymously")
                              : " by " + wireForTerminal(strFromUser)) +
         "; your warning level is now " + wireForTerminal(intWarningLevel) + "%.");
}

void ChatClient::RendevousRequest(std::string& strUserName, std::string& strUUID, std::string&,
                                  std::string&, std::string&, std::string&, std::int32_t&) {
    say(wireForTerminal(strUserName) + " proposes a direct connection (" +
        wireForTerminal(strUUID) + "); this client does not take part in those.");
}

}  // namespace lantry::cli

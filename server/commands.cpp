// Client commands after sign-on: dispatch, instant messages, stored lists, privacy, presence
// settings and account commands.
#include <QString>
#include <QtDebug>

#include <algorithm>
#include <memory>

#include "ondrel/wire.h"
#include "server.h"
#include "text.h"

namespace tocd {

namespace wire = lantry::wire;

namespace {

constexpr std::size_t kMaxRecentSenders = 32;
constexpr int kWarnNormal = 10;
constexpr int kWarnAnonymous = 3;
constexpr std::size_t kMaxGroups = 100;
constexpr std::size_t kMaxBuddies = 500;
constexpr std::size_t kMaxListEntries = 500;

}  // namespace

bool Server::takeCommandToken(Session& s) {
    if (options_.rateBurst <= 0)
        return true;
    const qint64 now = nowMs();
    s.tokens = std::min<double>(options_.rateBurst,
                                s.tokens + (now - s.tokensAt) * options_.ratePerSecond / 1000.0);
    s.tokensAt = now;
    if (s.tokens < 1)
        return false;
    s.tokens -= 1;
    return true;
}

void Server::dispatch(Session& s, std::string_view line) {
    static const std::unordered_map<std::string_view, Handler> handlers = {
        {"toc_init_done", &Server::initDone},
        {"toc_send_im", &Server::sendIm},
        {"toc2_send_im", &Server::sendIm},
        {"toc2_send_im_enc", &Server::sendImEnc},
        {"toc2_new_buddies", &Server::newBuddies},
        {"toc2_remove_buddy", &Server::removeBuddy},
        {"toc2_new_group", &Server::newGroup},
        {"toc2_del_group", &Server::delGroup},
        {"toc2_add_permit", &Server::addPermit},
        {"toc2_remove_permit", &Server::removePermit},
        {"toc2_add_deny", &Server::addDeny},
        {"toc2_remove_deny", &Server::removeDeny},
        {"toc2_set_pdmode", &Server::setPdMode},
        {"toc_set_away", &Server::setAway},
        {"toc_set_idle", &Server::setIdle},
        {"toc_set_caps", &Server::setCaps},
        {"toc_get_status", &Server::getStatus},
        {"toc_set_info", &Server::setInfo},
        {"toc_get_info", &Server::getInfo},
        {"toc_evil", &Server::evil},
        {"toc_format_nickname", &Server::formatNickname},
        {"toc_change_passwd", &Server::changePassword},
        {"toc2_client_event", &Server::clientEvent},
        {"toc_chat_join", &Server::chatJoin},
        {"toc_chat_accept", &Server::chatAccept},
        {"toc_chat_send", &Server::chatSend},
        {"toc_chat_whisper", &Server::chatWhisper},
        {"toc_chat_invite", &Server::chatInvite},
        {"toc_chat_leave", &Server::chatLeave},
    };
    if (options_.realRateLimits && lantry::isRateLimitedCommand(line)) {
        switch (s.rate.count(nowMs())) {
            case lantry::RateAverage::Verdict::Passed:
                break;
            case lantry::RateAverage::Verdict::Dropped:
                send(s, "ERROR:903");
                return;
            case lantry::RateAverage::Verdict::Disconnect:
                drop(s, "sending too fast");
                return;
        }
    } else if (!takeCommandToken(s)) {
        send(s, "ERROR:903");
        return;
    }
    const auto keyword = line.substr(0, line.find(' '));
    const auto handler = handlers.find(keyword);
    const auto args = wire::parseArguments(line.substr(keyword.size()));
    if (handler == handlers.end() || !args) {
        qInfo("session %llu: refused %s", s.id, printable(line.substr(0, 80)).c_str());
        send(s, "ERROR:911");
        return;
    }
    (this->*handler->second)(s, *args);
}

void Server::initDone(Session& s, const Args&) {
    if (s.initDone)
        return;
    Account& a = *s.account;
    s.initDone = true;
    if (++a.visibleSessions == 1) {
        a.signOnTime = epochSeconds();
        announce(a);
    }
    sendBuddyPresence(s);
}

void Server::sendIm(Session& s, const Args& args) {
    if (args.size() < 2)
        return send(s, "ERROR:911");
    deliverIm(s, args[0], args[1], args.size() > 2 && args[2] == "auto");
}

void Server::sendImEnc(Session& s, const Args& args) {
    if (args.size() < 5)
        return send(s, "ERROR:911");
    deliverIm(s, args[0], args[4], args.size() > 5 && args[5] == "auto");
}

void Server::deliverIm(Session& s, std::string_view to, std::string_view text, bool autoReply) {
    Account& from = *s.account;
    const std::string key = wire::normalizeName(to);
    Account* target = onlineAccount(key);
    if (!target || !target->visible() || !mutuallyAllowed(from, *target)) {
        return send(s, "ERROR:901:" + key);
    }
    auto& recent = target->recentSenders;
    recent.erase(std::remove(recent.begin(), recent.end(), from.name), recent.end());
    recent.push_back(from.name);
    if (recent.size() > kMaxRecentSenders)
        recent.pop_front();

    const std::string userClass = std::string(" O") + (from.away ? "U" : " ");
    std::string message = "IM_IN_ENC2:" + from.formatted + ":" + (autoReply ? "T" : "F") +
                          ":F:T:" + userClass + ":F:L:en:";
    message.append(text);
    sendToAccount(*target, message);
    if (target->bot && !autoReply) {
        sendToAccount(from,
                      "IM_IN_ENC2:" + target->formatted + ":F:F:T: O :F:L:en:" + std::string(text));
    }
}

void Server::newBuddies(Session& s, const Args& args) {
    if (args.empty())
        return send(s, "ERROR:911");
    const AccountStore::Batch batch(store_);
    Account& a = *s.account;
    for (const auto& entry : parseBuddyText(args[0], kDefaultGroup)) {
        const bool nameOk = entry.name.empty() || isValidScreenName(entry.name);
        if (!isSafeField(entry.group) || !nameOk ||
            (!entry.alias.empty() && !isSafeField(entry.alias))) {
            send(s, "ERROR:911");
            continue;
        }
        if (!a.groups.find(entry.group)) {
            if (a.groups.groupCount() >= kMaxGroups ||
                !configRoom(a, configEntryBytes(entry.group))) {
                send(s, "ERROR:913");
                continue;
            }
            if (!store_.addGroup(a.name, entry.group)) {
                notStored(&s, a.name, "a new group");
                continue;
            }
            a.groups.addGroup(entry.group);
            a.configBytes += configEntryBytes(entry.group);
            sendToAccount(a, "INSERTED2:g:" + entry.group, &s);
        }
        if (entry.name.empty())
            continue;
        const std::string key = wire::normalizeName(entry.name);
        const bool present = a.groups.contains(entry.group, key);
        if (!present) {
            if (a.groups.buddyCount() >= kMaxBuddies ||
                !configRoom(a, configEntryBytes(entry.name, entry.alias))) {
                send(s, "ERROR:913");
                continue;
            }
            if (!store_.addBuddy(a.name, entry.group, entry.name, entry.alias)) {
                notStored(&s, a.name, "a new buddy");
                continue;
            }
            const bool seen = seenBy(a, key);
            a.groups.addBuddy(entry.group, {entry.name, key, entry.alias});
            a.configBytes += configEntryBytes(entry.name, entry.alias);
            watch(a, key);
            sendToAccount(a, "INSERTED2:b:" + entry.alias + ":" + entry.name + ":" + entry.group,
                          &s);
            announceIfChanged(a, key, seen);
        }
        send(s, "NEW_BUDDY_REPLY2:" + entry.name + ":added");
        const Account* buddy = onlineAccount(key);
        if (!present && buddy && buddy != &a && buddy->visible() && permits(*buddy, a.name)) {
            sendPresenceOf(a, *buddy);
        }
    }
}

void Server::removeBuddy(Session& s, const Args& args) {
    if (args.size() < 2)
        return send(s, "ERROR:911");
    const AccountStore::Batch batch(store_);
    Account& a = *s.account;
    const std::string& groupName = args.back();
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string key = wire::normalizeName(args[i]);
        if (!a.groups.contains(groupName, key))
            continue;
        if (!store_.removeBuddy(a.name, groupName, key)) {
            notStored(&s, a.name, "a buddy's removal");
            continue;
        }
        const bool seen = seenBy(a, key);
        const auto buddy = a.groups.removeBuddy(groupName, key);
        a.configBytes -= configEntryBytes(buddy->name, buddy->alias);
        unwatch(a, key);
        sendToAccount(a, "DELETED2:b:" + buddy->name + ":" + groupName, &s);
        announceIfChanged(a, key, seen);
    }
}

void Server::newGroup(Session& s, const Args& args) {
    if (args.empty() || !isSafeField(args[0]))
        return send(s, "ERROR:911");
    Account& a = *s.account;
    if (a.groups.find(args[0]))
        return;
    if (a.groups.groupCount() >= kMaxGroups || !configRoom(a, configEntryBytes(args[0])))
        return send(s, "ERROR:913");
    if (!store_.addGroup(a.name, args[0]))
        return notStored(&s, a.name, "a new group");
    a.groups.addGroup(args[0]);
    a.configBytes += configEntryBytes(args[0]);
    sendToAccount(a, "INSERTED2:g:" + args[0], &s);
}

void Server::delGroup(Session& s, const Args& args) {
    if (args.empty())
        return send(s, "ERROR:911");
    const AccountStore::Batch batch(store_);
    Account& a = *s.account;
    const BuddyList::Group* group = a.groups.find(args[0]);
    if (!group)
        return;
    if (!store_.removeGroup(a.name, args[0]))
        return notStored(&s, a.name, "a group's removal");
    std::vector<std::pair<std::string, bool>> seen;
    for (const auto& b : group->buddies) {
        seen.emplace_back(b.key, seenBy(a, b.key));
        a.configBytes -= configEntryBytes(b.name, b.alias);
    }
    a.configBytes -= configEntryBytes(group->name);
    a.groups.removeGroup(args[0]);
    for (const auto& [key, was] : seen)
        unwatch(a, key);
    sendToAccount(a, "DELETED2:g:" + args[0], &s);
    for (const auto& [key, was] : seen)
        announceIfChanged(a, key, was);
}

void Server::addPermit(Session& s, const Args& args) {
    changeList(s, args, ListKind::Permit, true);
}
void Server::removePermit(Session& s, const Args& args) {
    changeList(s, args, ListKind::Permit, false);
}
void Server::addDeny(Session& s, const Args& args) {
    changeList(s, args, ListKind::Deny, true);
}
void Server::removeDeny(Session& s, const Args& args) {
    changeList(s, args, ListKind::Deny, false);
}

void Server::changeList(Session& s, const Args& args, ListKind kind, bool add) {
    if (args.empty())
        return send(s, "ERROR:911");
    const AccountStore::Batch batch(store_);
    Account& a = *s.account;
    auto& list = kind == ListKind::Permit ? a.permits : a.denies;
    const std::string tag = kind == ListKind::Permit ? "p:" : "d:";
    for (const auto& arg : args) {
        const std::string key = wire::normalizeName(arg);
        if (!isValidScreenName(arg)) {
            send(s, "ERROR:911");
            continue;
        }
        const bool seen = seenBy(a, key);
        if (add) {
            if (list.count(key))
                continue;
            if (list.size() >= kMaxListEntries || !configRoom(a, configEntryBytes(key))) {
                send(s, "ERROR:913");
                continue;
            }
            if (!store_.addListEntry(a.name, kind, key)) {
                notStored(&s, a.name, kind == ListKind::Permit ? "a permit" : "a deny");
                continue;
            }
            list.insert(key);
            a.configBytes += configEntryBytes(key);
        } else {
            if (!list.count(key))
                continue;
            if (!store_.removeListEntry(a.name, kind, key)) {
                notStored(&s, a.name,
                          kind == ListKind::Permit ? "a permit's removal" : "a deny's removal");
                continue;
            }
            list.erase(key);
            a.configBytes -= configEntryBytes(key);
        }
        sendToAccount(a, (add ? "INSERTED2:" : "DELETED2:") + tag + key, &s);
        announceIfChanged(a, key, seen);
    }
}

void Server::setPdMode(Session& s, const Args& args) {
    const auto mode = args.empty() ? std::nullopt : wire::toInteger(args[0], 1, 5);
    if (!mode)
        return send(s, "ERROR:911");
    Account& a = *s.account;
    if (a.pdMode == *mode)
        return;
    if (!store_.setPdMode(a.name, static_cast<int>(*mode)))
        return notStored(&s, a.name, "the privacy mode");
    const auto before = viewers(a);
    a.pdMode = static_cast<int>(*mode);
    announceChange(a, before);
}

void Server::setAway(Session& s, const Args& args) {
    Account& a = *s.account;
    if (!args.empty() && args[0].size() > kMaxProfileText) {
        logLimit("away message longer than the limit", a.name);
        return send(s, "ERROR:911");
    }
    a.away = !args.empty() && !args[0].empty();
    a.awayMessage = a.away ? args[0] : std::string();
    announce(a);
}

void Server::setIdle(Session& s, const Args& args) {
    const auto seconds = args.empty() ? std::nullopt : wire::toInteger(args[0], 0, INT32_MAX);
    if (!seconds)
        return send(s, "ERROR:911");
    Account& a = *s.account;
    a.idleSince = *seconds == 0 ? 0 : epochSeconds() - *seconds;
    announce(a);
}

void Server::setCaps(Session& s, const Args& args) {
    Account& a = *s.account;
    a.caps.clear();
    for (const auto& arg : args) {
        if (arg.empty())
            continue;
        if (!a.caps.empty())
            a.caps += ',';
        a.caps += arg;
    }
    const std::string line = "BUDDY_CAPS2:" + a.formatted + ":" + a.caps;
    for (Account* w : viewers(a))
        sendToAccount(*w, line);
}

const Server::Account* Server::visibleTarget(Session& s, const Args& args) {
    if (args.empty()) {
        send(s, "ERROR:911");
        return nullptr;
    }
    const std::string key = wire::normalizeName(args[0]);
    const Account* target = onlineAccount(key);
    if (!target || !target->visible() || !permits(*target, s.account->name)) {
        send(s, "ERROR:901:" + key);
        return nullptr;
    }
    return target;
}

void Server::getStatus(Session& s, const Args& args) {
    if (const Account* target = visibleTarget(s, args))
        send(s, presenceLine(*target));
}

void Server::setInfo(Session& s, const Args& args) {
    if (args.empty())
        return send(s, "ERROR:911");
    Account& a = *s.account;
    if (args[0].size() > kMaxProfileText) {
        logLimit("profile longer than the limit", a.name);
        return send(s, "ERROR:911");
    }
    if (!store_.setProfile(a.name, args[0]))
        return notStored(&s, a.name, "the profile");
    a.profile = args[0];
}

void Server::getInfo(Session& s, const Args& args) {
    const Account* target = visibleTarget(s, args);
    if (!target)
        return;
    // The address the client reached us at is one it can reach again.
    const QHostAddress address = s.connection->localAddress();
    QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    send(s, "GOTO_URL:profile:http://" + host.toStdString() + ":" +
                std::to_string(s.connection->localPort()) + "/profile/" + target->name +
                "?token=" + issueProfileToken(*s.account, *target));
}

void Server::evil(Session& s, const Args& args) {
    if (args.empty())
        return send(s, "ERROR:911");
    Account& from = *s.account;
    const std::string key = wire::normalizeName(args[0]);
    const bool anonymous = args.size() > 1 && args[1] == "anon";
    Account* target = onlineAccount(key);
    // One warning for each message received from the target, as the service ruled.
    auto& recent = from.recentSenders;
    const auto sent = std::find(recent.begin(), recent.end(), key);
    if (!target || target == &from || target->bot || !target->visible() || sent == recent.end() ||
        !mutuallyAllowed(from, *target)) {
        return send(s, "ERROR:902:" + key);
    }
    recent.erase(sent);
    target->warning = std::min(100, target->warning + (anonymous ? kWarnAnonymous : kWarnNormal));
    sendToAccount(*target, "EVILED:" + std::to_string(target->warning) + ":" +
                               (anonymous ? std::string() : from.formatted));
    announce(*target);
}

void Server::formatNickname(Session& s, const Args& args) {
    Account& a = *s.account;
    if (args.empty() || !isValidScreenName(args[0]) || wire::normalizeName(args[0]) != a.name) {
        return send(s, "ERROR:911");
    }
    if (!store_.setFormatted(a.name, args[0]))
        return notStored(&s, a.name, "the formatted name");
    a.formatted = args[0];
    send(s, "ADMIN_NICK_STATUS:0");
    sendToAccount(a, "NICK:" + a.formatted);
    announce(a);
}

void Server::notStored(Session* s, std::string_view account, const char* what) {
    const QString& cause = store_.lastError();
    qWarning("database write failed: %s of %s not saved: %s", what, printable(account).c_str(),
             cause.isEmpty() ? "the database did not change" : qPrintable(cause));
    if (s)
        send(*s, kNotStored);
}

bool Server::configRoom(Account& a, std::size_t bytes) {
    if (a.configBytes + bytes <= kMaxConfigBytes)
        return true;
    logLimit("stored configuration bytes", a.name);
    return false;
}

void Server::changePassword(Session& s, const Args& args) {
    Account& a = *s.account;
    if (args.size() < 2 || args[1].empty() || args[1].size() > 64)
        return send(s, "ERROR:911");
    struct Check {
        PasswordRecord stored;
        PasswordRecord fresh;
        bool matches = false;
    };
    auto check = std::make_shared<Check>();
    if (store_.password(a.name, &check->stored) != AccountStore::Lookup::Found)
        return send(s, "ERROR:913");
    // The session signed on from its address, a known one.
    if (!reserveGuess(a.name, s.peer, true)) {
        qInfo("password change of %s from %s refused: too many wrong passwords", a.name.c_str(),
              s.peer.c_str());
        return send(s, "ERROR:911");
    }
    const PasswordCost cost = options_.passwordCost;
    const bool queued = checkPassword(
        s,
        [check, old = args[0], fresh = args[1], cost] {
            check->matches = verifyPassword(check->stored, old);
            if (check->matches)
                check->fresh = hashPassword(fresh, cost);
        },
        [this, check, name = a.name, peer = s.peer](Session* s) {
            PasswordRecord now;
            const bool current = store_.password(name, &now) == AccountStore::Lookup::Found &&
                                 now.hash == check->stored.hash;
            if (!check->matches || !current) {
                qInfo("password change of %s from %s refused: wrong password", name.c_str(),
                      peer.c_str());
                if (s)
                    send(*s, "ERROR:911");
                return;
            }
            returnGuess(name, peer, true);
            // Only a client still there learns whether its change was made.
            if (!s)
                return;
            if (check->fresh.hash.empty())
                return send(*s, "ERROR:913");
            if (!store_.setPassword(name, check->fresh))
                return notStored(s, name, "a new password");
            qInfo("%s changed the password", name.c_str());
            send(*s, "ADMIN_PASSWD_STATUS:0");
            // The others signed on with the old password.
            for (Session* other : s->account->sessions) {
                if (other != s)
                    drop(*other, "the password was changed in another session");
            }
        },
        [this, name = a.name, peer = s.peer] { returnGuess(name, peer, true); });
    if (!queued)
        send(s, "ERROR:981");
}

void Server::clientEvent(Session& s, const Args& args) {
    const auto status = args.size() < 2 ? std::nullopt : wire::toInteger(args[1], 0, 2);
    if (!status)
        return send(s, "ERROR:911");
    Account* target = onlineAccount(wire::normalizeName(args[0]));
    if (!target || target->bot || !target->visible() || !mutuallyAllowed(*s.account, *target)) {
        return;
    }
    sendToAccount(*target, "CLIENT_EVENT2:" + s.account->formatted + ":" + std::to_string(*status));
}

}  // namespace tocd

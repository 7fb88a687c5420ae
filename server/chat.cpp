// Chat rooms: one room per exchange and case-insensitive name, alive while it has members.
// Anyone may join a room by name; a room is entered by its ID only on an invitation.
#include <algorithm>

#include "ondrel/wire.h"
#include "server.h"
#include "text.h"

namespace tocd {

namespace wire = lantry::wire;

namespace {

constexpr std::size_t kMaxRoomsPerSession = 20;
constexpr std::size_t kMaxRoomMembers = 1000;
// Invitations a session keeps; past it the oldest is forgotten.
constexpr std::size_t kMaxInvitations = 32;
// A member list longer than this goes out in several messages, well below any frame limit.
constexpr std::size_t kMemberListChunk = 1024;

std::string roomKey(std::int64_t exchange, std::string_view name) {
    std::string key = std::to_string(exchange) + ":";
    for (char c : name)
        key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    return key;
}

}  // namespace

void Server::chatJoin(Session& s, const Args& args) {
    const auto exchange = args.size() < 2 ? std::nullopt : wire::toInteger(args[0], 0, 65535);
    if (!exchange)
        return send(s, "ERROR:911");
    const std::string name(wire::trimBlanks(args[1]));
    if (!isSafeField(name))
        return send(s, "ERROR:911");
    const std::string key = roomKey(*exchange, name);
    auto found = roomsByKey_.find(key);
    Room* room = found == roomsByKey_.end() ? nullptr : found->second;
    if (!room) {
        if (s.rooms.size() >= kMaxRoomsPerSession)
            return send(s, "ERROR:951:" + name + ":24");
        // IDs are positive and never 0, which clients read as "no room".
        while (rooms_.count(nextRoomId_)) {
            nextRoomId_ = nextRoomId_ == INT32_MAX ? 1 : nextRoomId_ + 1;
        }
        auto owned = std::make_unique<Room>();
        room = owned.get();
        room->id = nextRoomId_;
        room->serial = nextRoomSerial_++;
        room->name = name;
        room->key = key;
        nextRoomId_ = nextRoomId_ == INT32_MAX ? 1 : nextRoomId_ + 1;
        rooms_.emplace(room->id, std::move(owned));
        roomsByKey_.emplace(key, room);
    }
    joinRoom(s, *room);
}

void Server::chatAccept(Session& s, const Args& args) {
    const auto id = args.empty() ? std::nullopt : wire::toInteger(args[0], 1, INT32_MAX);
    if (!id)
        return send(s, "ERROR:911");
    const auto invitation =
        std::find_if(s.invitations.begin(), s.invitations.end(),
                     [&](const Invitation& i) { return i.room == static_cast<std::int32_t>(*id); });
    const auto it = rooms_.find(static_cast<std::int32_t>(*id));
    // Without an invitation a room that exists looks like one that does not.
    if (invitation == s.invitations.end() || it == rooms_.end() ||
        it->second->serial != invitation->serial) {
        return send(s, "ERROR:950:" + args[0]);
    }
    if (joinRoom(s, *it->second))
        s.invitations.erase(invitation);
}

bool Server::joinRoom(Session& s, Room& room) {
    const std::string id = std::to_string(room.id);
    const bool member = std::find(s.rooms.begin(), s.rooms.end(), room.id) != s.rooms.end();
    if (!member) {
        if (s.rooms.size() >= kMaxRoomsPerSession || room.members.size() >= kMaxRoomMembers) {
            send(s, "ERROR:951:" + room.name + ":24");
            return false;
        }
        const std::string arrival = "CHAT_UPDATE_BUDDY:" + id + ":T:" + s.account->formatted;
        for (Session* m : room.members)
            send(*m, arrival);
        room.members.push_back(&s);
        s.rooms.push_back(room.id);
    }
    send(s, "CHAT_JOIN:" + id + ":" + room.name);
    const std::string head = "CHAT_UPDATE_BUDDY:" + id + ":T";
    std::string list = head;
    for (Session* m : room.members) {
        const std::string& name = m->account->formatted;
        if (list.size() > head.size() && list.size() + 1 + name.size() > kMemberListChunk) {
            send(s, list);
            list = head;
        }
        list += ":" + name;
    }
    send(s, list);
    return true;
}

Server::Room* Server::memberRoom(Session& s, std::string_view idText) {
    const auto id = wire::toInteger(idText, 1, INT32_MAX);
    if (!id)
        return nullptr;
    if (std::find(s.rooms.begin(), s.rooms.end(), *id) == s.rooms.end())
        return nullptr;
    const auto it = rooms_.find(static_cast<std::int32_t>(*id));
    return it == rooms_.end() ? nullptr : it->second.get();
}

void Server::chatSend(Session& s, const Args& args) {
    if (args.size() < 2)
        return send(s, "ERROR:911");
    Room* room = memberRoom(s, args[0]);
    if (!room)
        return send(s, "ERROR:950:" + args[0]);
    const std::string line = "CHAT_IN_ENC:" + std::to_string(room->id) + ":" +
                             s.account->formatted + ":F:A:en:" + args[1];
    for (Session* m : room->members)
        send(*m, line);
}

void Server::chatWhisper(Session& s, const Args& args) {
    if (args.size() < 3)
        return send(s, "ERROR:911");
    Room* room = memberRoom(s, args[0]);
    if (!room)
        return send(s, "ERROR:950:" + args[0]);
    const std::string key = wire::normalizeName(args[1]);
    const std::string line = "CHAT_IN_ENC:" + std::to_string(room->id) + ":" +
                             s.account->formatted + ":T:A:en:" + args[2];
    const Account* target = onlineAccount(key);
    bool found = false;
    // The same privacy as an IM, and someone who is not in the room cannot be told apart.
    if (target && mutuallyAllowed(*s.account, *target)) {
        for (Session* t : target->sessions) {
            if (std::find(t->rooms.begin(), t->rooms.end(), room->id) != t->rooms.end()) {
                send(*t, line);
                found = true;
            }
        }
    }
    if (!found)
        send(s, "ERROR:901:" + key);
}

void Server::chatInvite(Session& s, const Args& args) {
    if (args.size() < 3)
        return send(s, "ERROR:911");
    Room* room = memberRoom(s, args[0]);
    if (!room)
        return send(s, "ERROR:950:" + args[0]);
    const std::string line = "CHAT_INVITE:" + room->name + ":" + std::to_string(room->id) + ":" +
                             s.account->formatted + ":" + args[1];
    std::unordered_set<std::string> named;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string key = wire::normalizeName(args[i]);
        if (!named.insert(key).second)
            continue;
        Account* target = onlineAccount(key);
        if (!target || target->bot || !target->visible() || !mutuallyAllowed(*s.account, *target)) {
            send(s, "ERROR:901:" + key);
            continue;
        }
        if (!invitations_.take(s.account->name + ' ' + key, nowMs())) {
            logLimit("invitations to one account", s.account->name + " to " + key);
            continue;
        }
        sendToAccount(*target, line);
        for (Session* t : target->sessions)
            rememberInvitation(*t, *room);
    }
}

void Server::rememberInvitation(Session& s, const Room& room) {
    std::erase_if(s.invitations, [&](const Invitation& i) { return i.room == room.id; });
    s.invitations.push_back({room.id, room.serial});
    if (s.invitations.size() > kMaxInvitations)
        s.invitations.pop_front();
}

void Server::chatLeave(Session& s, const Args& args) {
    if (args.empty())
        return send(s, "ERROR:911");
    const auto id = wire::toInteger(args[0], 1, INT32_MAX);
    if (!id)
        return send(s, "ERROR:911");
    if (Room* room = memberRoom(s, args[0]))
        leaveRoom(s, *room);
    // Leaving declines an invitation to the room as well.
    std::erase_if(s.invitations,
                  [&](const Invitation& i) { return i.room == static_cast<std::int32_t>(*id); });
    // Even for a room the client is not in: its table loses a stale entry.
    send(s, "CHAT_LEFT:" + std::to_string(*id));
}

void Server::leaveRoom(Session& s, Room& room) {
    s.rooms.erase(std::remove(s.rooms.begin(), s.rooms.end(), room.id), s.rooms.end());
    room.members.erase(std::remove(room.members.begin(), room.members.end(), &s),
                       room.members.end());
    const std::string departure =
        "CHAT_UPDATE_BUDDY:" + std::to_string(room.id) + ":F:" + s.account->formatted;
    for (Session* m : room.members)
        send(*m, departure);
    if (room.members.empty()) {
        roomsByKey_.erase(room.key);
        rooms_.erase(room.id);
    }
}

}  // namespace tocd

// Presence and stored-list notices: UPDATE_BUDDY2, BUDDY_CAPS2, BART2, INSERTED2, DELETED2.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

bool Ondrel::handleUpdateBuddy2(std::string_view message) {
    const auto f = wire::cutFields<8>(message);
    if (!f.has(6))
        return true;
    const bool online = f[2] != "F";
    const auto warning = wire::toInt16(f[3]);
    const auto onlineTime = wire::toInt32(f[4]);
    const auto idleTime = wire::toInt32(f[5]);
    if (!warning || !onlineTime || !idleTime)
        return true;
    return raise([&](__Ondrel& sink) {
        sink.BuddyUpdate(std::string(f[1]), online, *warning, *onlineTime, *idleTime,
                         std::string(f[6]));
    });
}

bool Ondrel::handleBuddyCaps2(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(2))
        return true;
    return raise(
        [&](__Ondrel& sink) { sink.BuddyCapabilities(std::string(f[1]), std::string(f[2])); });
}

bool Ondrel::handleBart2(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(2))
        return true;
    return raise([&](__Ondrel& sink) { sink.BuddyBart(std::string(f[1]), std::string(f[2])); });
}

bool Ondrel::handleInserted2(std::string_view message) {
    const auto kind = wire::cutFields<3>(message);
    if (!kind.has(1))
        return true;
    if (kind[1] == "b") {
        const auto f = wire::cutFields<5>(message);
        if (!f.has(4))
            return true;
        std::string group(f[4]), buddy(f[3]), alias(f[2]);
        return raise([&](__Ondrel& sink) { sink.BuddyAdded(group, buddy, alias); });
    }
    if (!kind.has(2))
        return true;
    std::string value(kind[2]);
    if (kind[1] == "g")
        return raise([&](__Ondrel& sink) { sink.GroupAdded(value); });
    if (kind[1] == "p")
        return raise([&](__Ondrel& sink) { sink.PrivateBuddyAdded(value); });
    if (kind[1] == "d")
        return raise([&](__Ondrel& sink) { sink.BuddyBlocked(value); });
    return true;
}

bool Ondrel::handleDeleted2(std::string_view message) {
    const auto f = wire::cutFields<4>(message);
    if (!f.has(1))
        return true;
    const auto kind = f[1];
    if (kind == "b") {
        if (!f.has(3))
            return true;
        std::string group(f[3]), buddy(f[2]);
        return raise([&](__Ondrel& sink) { sink.BuddyRemoved(group, buddy); });
    }
    if (kind == "p") {
        // Cut into four pieces: the name ends at the next colon.
        if (!f.has(2))
            return true;
        std::string buddy(f[2]);
        return raise([&](__Ondrel& sink) { sink.PrivateBuddyRemoved(buddy); });
    }
    const auto rest = wire::cutFields<3>(message);
    if (!rest.has(2))
        return true;
    std::string value(rest[2]);
    if (kind == "g")
        return raise([&](__Ondrel& sink) { sink.GroupRemoved(value); });
    if (kind == "d")
        return raise([&](__Ondrel& sink) { sink.BuddyUnblocked(value); });
    return true;
}

}  // namespace lantry

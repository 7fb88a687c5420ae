// Accounts in memory, who may see whom, and the UPDATE_BUDDY2 traffic that follows.
#include <QtDebug>

#include <algorithm>

#include "ondrel/wire.h"
#include "server.h"

namespace tocd {

namespace wire = lantry::wire;

Server::Account* Server::onlineAccount(std::string_view name) {
    const auto it = accounts_.find(std::string(name));
    return it == accounts_.end() ? nullptr : it->second.get();
}

Server::Account* Server::loadAccount(std::string_view name) {
    if (Account* a = onlineAccount(name))
        return a;
    auto stored = store_.load(name);
    if (!stored)
        return nullptr;
    auto owned = std::make_unique<Account>();
    Account* a = owned.get();
    a->name = stored->name;
    a->formatted = stored->formatted;
    a->profile = stored->profile;
    a->pdMode = stored->pdMode;
    a->permits.insert(stored->permits.begin(), stored->permits.end());
    a->denies.insert(stored->denies.begin(), stored->denies.end());
    accounts_.emplace(a->name, std::move(owned));
    for (auto& g : stored->groups) {
        a->configBytes += configEntryBytes(g.name);
        a->groups.addGroup(g.name);
        for (auto& b : g.buddies) {
            a->configBytes += configEntryBytes(b.name, b.alias);
            watch(*a, b.key);
            a->groups.addBuddy(g.name, {std::move(b.name), std::move(b.key), std::move(b.alias)});
        }
    }
    for (const auto* list : {&a->permits, &a->denies}) {
        for (const auto& entry : *list)
            a->configBytes += configEntryBytes(entry);
    }
    return a;
}

void Server::unloadAccount(Account& a) {
    forgetProfileTokens(a);
    for (const auto& [key, count] : a.buddyKeys) {
        const auto w = watchers_.find(key);
        if (w == watchers_.end())
            continue;
        w->second.erase(&a);
        if (w->second.empty())
            watchers_.erase(w);
    }
    const std::string name = a.name;  // the key must outlive the account it names
    accounts_.erase(name);
}

void Server::watch(Account& watcher, const std::string& key) {
    if (watcher.buddyKeys[key]++ == 0)
        watchers_[key].insert(&watcher);
}

void Server::unwatch(Account& watcher, const std::string& key) {
    const auto it = watcher.buddyKeys.find(key);
    if (it == watcher.buddyKeys.end() || --it->second > 0)
        return;
    watcher.buddyKeys.erase(it);
    const auto w = watchers_.find(key);
    if (w == watchers_.end())
        return;
    w->second.erase(&watcher);
    if (w->second.empty())
        watchers_.erase(w);
}

bool Server::permits(const Account& owner, std::string_view other) {
    const std::string key(other);
    switch (owner.pdMode) {
        case 2:
            return false;
        case 3:
            return owner.permits.count(key) > 0;
        case 4:
            return owner.denies.count(key) == 0;
        case 5:
            return owner.buddyKeys.count(key) > 0;
        default:
            return true;
    }
}

bool Server::mutuallyAllowed(const Account& a, const Account& b) {
    return a.name == b.name || (permits(a, b.name) && permits(b, a.name));
}

bool Server::seenBy(const Account& a, const std::string& viewerKey) {
    const Account* viewer = onlineAccount(viewerKey);
    return viewer && viewer != &a && a.visible() && viewer->buddyKeys.count(a.name) > 0 &&
           permits(a, viewerKey);
}

void Server::announceIfChanged(Account& a, const std::string& viewerKey, bool was) {
    if (seenBy(a, viewerKey) == was)
        return;
    Account& viewer = *onlineAccount(viewerKey);
    if (was) {
        sendToAccount(viewer, goneLine(a));
    } else {
        sendPresenceOf(viewer, a);
    }
}

std::string Server::presenceLine(const Account& a) {
    const qint64 idleMinutes = a.idleSince > 0 ? (epochSeconds() - a.idleSince) / 60 : 0;
    return "UPDATE_BUDDY2:" + a.formatted + ":T:" + std::to_string(a.warning) + ":" +
           std::to_string(a.signOnTime) + ":" + std::to_string(idleMinutes) + ": O" +
           (a.away ? "U" : " ") + ":";
}

std::string Server::goneLine(const Account& a) {
    return "UPDATE_BUDDY2:" + a.formatted + ":F:0:0:0:   :";
}

std::vector<Server::Account*> Server::viewers(const Account& a) {
    std::vector<Account*> out;
    if (!a.visible())
        return out;
    const auto it = watchers_.find(a.name);
    if (it == watchers_.end())
        return out;
    for (Account* w : it->second) {
        if (w != &a && permits(a, w->name))
            out.push_back(w);
    }
    return out;
}

void Server::sendPresenceOf(Account& watcher, const Account& buddy) {
    sendToAccount(watcher, presenceLine(buddy));
    if (!buddy.caps.empty())
        sendToAccount(watcher, "BUDDY_CAPS2:" + buddy.formatted + ":" + buddy.caps);
}

void Server::announce(Account& a) {
    // The same lines for every watcher: made once.
    const std::string line = presenceLine(a);
    const std::string caps =
        a.caps.empty() ? std::string() : "BUDDY_CAPS2:" + a.formatted + ":" + a.caps;
    for (Account* w : viewers(a)) {
        sendToAccount(*w, line);
        if (!caps.empty())
            sendToAccount(*w, caps);
    }
}

void Server::announceGone(Account& a) {
    const auto it = watchers_.find(a.name);
    if (it == watchers_.end())
        return;
    const std::string line = goneLine(a);
    for (Account* w : it->second) {
        if (w != &a && permits(a, w->name))
            sendToAccount(*w, line);
    }
}

void Server::announceChange(Account& a, const std::vector<Account*>& before) {
    const auto after = viewers(a);
    const std::unordered_set<Account*> was(before.begin(), before.end());
    const std::unordered_set<Account*> is(after.begin(), after.end());
    for (Account* w : before) {
        if (!is.count(w))
            sendToAccount(*w, goneLine(a));
    }
    for (Account* w : after) {
        if (!was.count(w))
            sendPresenceOf(*w, a);
    }
}

void Server::sendBuddyPresence(Session& s) {
    Account& a = *s.account;
    for (const auto& [key, count] : a.buddyKeys) {
        const Account* buddy = onlineAccount(key);
        if (buddy && buddy != &a && buddy->visible() && permits(*buddy, a.name)) {
            send(s, presenceLine(*buddy));
            if (!buddy->caps.empty())
                send(s, "BUDDY_CAPS2:" + buddy->formatted + ":" + buddy->caps);
        }
    }
}

}  // namespace tocd

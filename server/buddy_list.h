// One account's buddy list in memory: groups in the order they were made, the buddies of each
// group in the order they were added. A group is found by its name and a buddy by its
// normalised key in O(log n), and adding or removing either costs the same, so a command's work
// grows with its own entries only, never with what the list already holds.
//
// Not copyable: each group indexes its buddies by position.
#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tocd {

class BuddyList {
public:
    struct Buddy {
        std::string name;  // as the owner typed it (case and blanks kept)
        std::string key;   // normalised
        std::string alias;
    };

    struct Group {
        std::string name;
        std::list<Buddy> buddies;
        std::map<std::string, std::list<Buddy>::iterator, std::less<>> byKey;
    };

    BuddyList() = default;
    BuddyList(const BuddyList&) = delete;
    BuddyList& operator=(const BuddyList&) = delete;

    // The groups in order, each with its buddies in order.
    auto begin() const { return groups_.cbegin(); }
    auto end() const { return groups_.cend(); }
    std::size_t groupCount() const { return groups_.size(); }
    std::size_t buddyCount() const { return buddyCount_; }

    const Group* find(std::string_view group) const {
        const auto g = byName_.find(group);
        return g == byName_.end() ? nullptr : &*g->second;
    }

    bool contains(std::string_view group, std::string_view key) const {
        const Group* g = find(group);
        return g && g->byKey.count(key) > 0;
    }

    // False when a group of that name exists already.
    bool addGroup(std::string group) {
        if (find(group))
            return false;
        groups_.push_back({group, {}, {}});
        byName_.emplace(std::move(group), std::prev(groups_.end()));
        return true;
    }

    // False when the group is missing or holds that key already.
    bool addBuddy(std::string_view group, Buddy buddy) {
        const auto g = byName_.find(group);
        if (g == byName_.end() || g->second->byKey.count(buddy.key))
            return false;
        Group& target = *g->second;
        target.buddies.push_back(std::move(buddy));
        target.byKey.emplace(target.buddies.back().key, std::prev(target.buddies.end()));
        ++buddyCount_;
        return true;
    }

    // The buddy taken out, or nullopt when the group does not hold that key.
    std::optional<Buddy> removeBuddy(std::string_view group, std::string_view key) {
        const auto g = byName_.find(group);
        if (g == byName_.end())
            return std::nullopt;
        Group& target = *g->second;
        const auto b = target.byKey.find(key);
        if (b == target.byKey.end())
            return std::nullopt;
        Buddy taken = std::move(*b->second);
        target.buddies.erase(b->second);
        target.byKey.erase(b);
        --buddyCount_;
        return taken;
    }

    // False when there is no such group.
    bool removeGroup(std::string_view group) {
        const auto g = byName_.find(group);
        if (g == byName_.end())
            return false;
        buddyCount_ -= g->second->buddies.size();
        groups_.erase(g->second);
        byName_.erase(g);
        return true;
    }

private:
    std::list<Group> groups_;
    std::map<std::string, std::list<Group>::iterator, std::less<>> byName_;
    std::size_t buddyCount_ = 0;
};

}  // namespace tocd

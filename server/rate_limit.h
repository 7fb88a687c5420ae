// Token buckets keyed by text (a client address, an account name): each key may spend `burst`
// tokens at once and regains `perMinute` of them a minute. Keys whose bucket is full again are
// forgotten by forgetFull(), so memory follows the keys that acted recently.
//
// Threading: one thread. Times are milliseconds from any fixed origin, never decreasing.
#pragma once

#include <QtGlobal>

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_map>

namespace tocd {

class RateLimit {
public:
    // burst <= 0: no limit, every take() succeeds.
    RateLimit(double burst, double perMinute) : burst_(burst), perMs_(perMinute / 60000.0) {}

    bool unlimited() const { return burst_ <= 0; }

    // Spends one token of `key`; false (nothing spent) when it has none left.
    bool take(const std::string& key, qint64 now) {
        if (unlimited())
            return true;
        Bucket& b = refill(key, now);
        if (b.tokens < 1)
            return false;
        b.tokens -= 1;
        return true;
    }

    // Returns a token spent by take() that turned out not to count (a guess whose password was
    // right, or whose check never ran).
    void giveBack(const std::string& key, qint64 now) {
        if (unlimited())
            return;
        Bucket& b = refill(key, now);
        b.tokens = std::min(burst_, b.tokens + 1);
    }

    void forgetFull(qint64 now) {
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            const bool full = it->second.tokens + (now - it->second.at) * perMs_ >= burst_;
            it = full ? buckets_.erase(it) : std::next(it);
        }
    }

private:
    struct Bucket {
        double tokens = 0;
        qint64 at = 0;
    };

    Bucket& refill(const std::string& key, qint64 now) {
        auto [it, fresh] = buckets_.try_emplace(key, Bucket{burst_, now});
        Bucket& b = it->second;
        b.tokens = std::min(burst_, b.tokens + (now - b.at) * perMs_);
        b.at = now;
        return b;
    }

    double burst_;
    double perMs_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace tocd

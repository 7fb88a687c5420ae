// The moving-average rate class of real TOC2 servers, for pacing senders and strict servers.
#include "ondrel/rate_class.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace lantry {

bool isRateLimitedCommand(std::string_view command) {
    // Commands that reach another person; setting one's own profile or away text is not
    // counted.
    static constexpr std::array<std::string_view, 10> kKeywords{
        "toc_send_im",     "toc2_send_im", "toc2_send_im_enc", "toc_chat_send", "toc_chat_whisper",
        "toc_chat_invite", "toc_evil",     "toc_get_info",     "toc2_get_info", "toc_get_status",
    };
    const auto end = command.find_first_of(std::string_view(" \0", 2));
    const auto keyword = command.substr(0, end);
    return std::find(kKeywords.begin(), kKeywords.end(), keyword) != kKeywords.end();
}

RateAverage::RateAverage(const RateClass& rates) : rates_(rates), average_(rates.initialAverage) {
}

void RateAverage::reset(std::int64_t now) {
    average_ = rates_.initialAverage;
    last_ = now;
    limited_ = false;
}

RateAverage::Verdict RateAverage::count(std::int64_t now) {
    const auto elapsed = static_cast<double>(std::max<std::int64_t>(0, now - last_));
    average_ =
        std::min(rates_.maxAverage, (average_ * (rates_.window - 1) + elapsed) / rates_.window);
    last_ = std::max(last_, now);
    if (average_ < rates_.disconnectLevel)
        return Verdict::Disconnect;
    if (limited_) {
        if (average_ < rates_.clearLevel)
            return Verdict::Dropped;
        limited_ = false;
        return Verdict::Passed;
    }
    if (average_ < rates_.limitLevel) {
        limited_ = true;
        return Verdict::Dropped;
    }
    return Verdict::Passed;
}

std::int64_t RateAverage::earliestNext(double margin) const {
    const double target = (limited_ ? rates_.clearLevel : rates_.limitLevel) + margin;
    const double wait = target * rates_.window - average_ * (rates_.window - 1);
    return last_ + static_cast<std::int64_t>(std::ceil(std::max(0.0, wait)));
}

void RateAverage::serverDropped() {
    average_ = std::min(average_, rates_.disconnectLevel);
    limited_ = true;
}

}  // namespace lantry

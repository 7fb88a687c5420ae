#include "ondrel/reconnect_backoff.h"

#include <algorithm>

namespace lantry {

std::chrono::seconds reconnectPause(int failedAttempts) {
    // Past six doublings the bound is over a minute anyway; the shift must not overflow.
    const int doublings = std::clamp(failedAttempts, 0, 6);
    return std::min(kLongestReconnectPause, kFirstReconnectPause * (1 << doublings));
}

std::chrono::milliseconds reconnectWait(std::chrono::seconds pause, double unitRandom) {
    const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(pause);
    if (bound.count() <= 0)
        return std::chrono::milliseconds(0);
    const double unit = std::clamp(unitRandom, 0.0, 1.0);
    const auto wait = static_cast<std::chrono::milliseconds::rep>(unit * double(bound.count()));
    return std::chrono::milliseconds(std::min(wait, bound.count() - 1));
}

bool isPassingSignOnRefusal(int errorCode) {
    return errorCode == 914 || errorCode == 981 || errorCode == 983 || errorCode == 989;
}

}  // namespace lantry

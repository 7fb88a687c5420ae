// The rate limit that real TOC2 servers apply to a session's commands, as data and as a model
// that a sender (the Qt socket's pacer) and a server (tocd's --real-rate-limits) both use.
//
// Real servers limit the commands that reach another person (IMs, chat messages, whispers,
// invitations, warnings, profile and status look-ups) together, as one class kept as a moving
// average of the milliseconds between them:
//     average = (average × (window − 1) + elapsed) / window, never above maxAverage,
// starting at initialAverage when the connection opens. A command that brings the average
// below limitLevel is dropped with ERROR:903, and the class stays limited (every command
// dropped) until the average is back at clearLevel or more; one that brings it below
// disconnectLevel ends the connection. Commands outside the class are not counted.
//
// Pure functions of timestamps (milliseconds from any fixed origin, never decreasing); no
// clock, no state beyond the members, safe to copy. Threading: none of its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace lantry {

struct RateClass {
    int window;
    double initialAverage;
    double maxAverage;
    double limitLevel;
    double clearLevel;
    double disconnectLevel;
};

// The class as the revival server in use today applies it.
inline constexpr RateClass kServerRateClass{20, 6000, 6000, 4000, 5100, 3000};

// How far above the server's levels a paced sender keeps its average, so that delays in the
// network (a late command counts as sent faster than it was) cannot bring it to the edge: a
// single command may arrive this much × window (4 s) late without consequence.
inline constexpr double kPacingMarginMs = 200;

// Whether a command line (a data frame's payload, its trailing NUL allowed) belongs to the
// rate-limited class, judged by its keyword.
bool isRateLimitedCommand(std::string_view command);

// One session's standing in a rate class.
class RateAverage {
public:
    explicit RateAverage(const RateClass& rates = kServerRateClass);

    // A new connection opened at `now`: the average starts again, full.
    void reset(std::int64_t now);

    // What a command of the class arriving at `now` does to the average (it is counted either
    // way, as servers count dropped commands too).
    enum class Verdict { Passed, Dropped, Disconnect };
    Verdict count(std::int64_t now);

    // For a sender keeping `margin` above the levels: the earliest time at which one more
    // command of the class keeps the average at or above limitLevel + margin (clearLevel +
    // margin while limited). Never earlier than the last command counted.
    std::int64_t earliestNext(double margin) const;

    // The server dropped a command all the same (it is stricter than this model, or measured
    // the gaps shorter): assume the worst that still kept the connection, and be limited.
    void serverDropped();

    double average() const { return average_; }
    bool limited() const { return limited_; }

private:
    RateClass rates_;
    double average_;
    std::int64_t last_ = 0;
    bool limited_ = false;
};

}  // namespace lantry

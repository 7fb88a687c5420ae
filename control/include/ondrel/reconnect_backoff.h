// How a client waits before signing on again after losing its connection. The bound of the
// wait doubles with each attempt that fails, from kFirstReconnectPause up to
// kLongestReconnectPause, and the wait itself is drawn uniformly between zero and that bound.
// Clients cut off together (a server restarting) then come back spread over the bound rather
// than all in the same second, which a server checking passwords one at a time needs.
//
// Pure functions: the caller supplies the randomness, so that tests can choose it.
#pragma once

#include <chrono>

namespace lantry {

inline constexpr std::chrono::seconds kFirstReconnectPause{1};
inline constexpr std::chrono::seconds kLongestReconnectPause{60};

// The bound of the wait once `failedAttempts` attempts in a row have failed (0: right after
// the connection was lost).
std::chrono::seconds reconnectPause(int failedAttempts);

// The part of `pause` that `unitRandom` picks: unitRandom in [0, 1) (clamped into it) maps
// linearly onto [0, pause).
std::chrono::milliseconds reconnectWait(std::chrono::seconds pause, double unitRandom);

// Whether a sign-on refused with this error code may succeed if tried again later (the server
// is busy or the sign-ons come too often), as a wrong password never will.
bool isPassingSignOnRefusal(int errorCode);

}  // namespace lantry

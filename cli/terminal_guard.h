// Puts the terminal back as it was found on every way out of the program: a normal return,
// exit(), and the signals that end it (a crash included: SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, and SIGTERM, SIGHUP, SIGQUIT). After restoring, a signal takes its default action,
// so a crash still dumps core and the exit status still names the signal.
//
// One terminal per process; everything is static so that a signal handler can reach it. The
// restore is async-signal-safe (tcsetattr and write only) and happens once.
#pragma once

#include <string>

namespace lantry::cli {

class TerminalGuard {
public:
    // Saves the settings of terminal `fd` and arms the restore. `reset` is written to `fd`
    // before the settings are restored (e.g. leaving the alternate screen); at most 255 bytes.
    static void arm(int fd, const std::string& reset = {});
    // Changes what is written on restore.
    static void setReset(const std::string& reset);
    // Restores now, if armed and not yet restored.
    static void restore();
    // The program has put the terminal back itself: nothing more to restore.
    static void disarm();
};

}  // namespace lantry::cli

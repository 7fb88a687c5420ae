// Restoring the terminal on every way out; see terminal_guard.h.
#include "terminal_guard.h"

#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace lantry::cli {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGHUP, SIGQUIT};

int terminalFd = -1;
termios saved{};
char reset[256];
std::size_t resetSize = 0;
std::atomic<bool> armed{false};

void onSignal(int signal) {
    TerminalGuard::restore();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void TerminalGuard::arm(int fd, const std::string& text) {
    if (tcgetattr(fd, &saved) != 0)
        return;
    terminalFd = fd;
    setReset(text);
    static bool installed = false;
    if (!installed) {
        installed = true;
        std::atexit(&TerminalGuard::restore);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (const int s : kSignals)
            sigaction(s, &action, nullptr);
    }
    armed = true;
}

void TerminalGuard::setReset(const std::string& text) {
    resetSize = std::min(text.size(), sizeof reset);
    std::memcpy(reset, text.data(), resetSize);
}

void TerminalGuard::restore() {
    if (!armed.exchange(false))
        return;
    for (std::size_t done = 0; done < resetSize;) {
        const ssize_t n = ::write(terminalFd, reset + done, resetSize - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    tcsetattr(terminalFd, TCSANOW, &saved);
}

void TerminalGuard::disarm() {
    armed = false;
}

}  // namespace lantry::cli

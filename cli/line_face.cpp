// The line stream face and the terminal line reader; see line_face.h.
#include "line_face.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

#include "terminal_guard.h"
#include "terminal_text.h"

namespace lantry::cli {

namespace {

constexpr char kCtrlC = 0x03;
constexpr char kCtrlD = 0x04;
constexpr char kCtrlU = 0x15;
constexpr char kCtrlW = 0x17;
constexpr char kEscape = 0x1b;
constexpr char kDelete = 0x7f;
constexpr char kBackspace = 0x08;

std::size_t lastCharStart(const std::string& text) {
    std::size_t i = text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
        --i;
    return i;
}

std::string stampOf(const Line& line) {
    const std::time_t t = std::chrono::system_clock::to_time_t(line.time);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "[%H:%M:%S]", &local);
    return stamp;
}

}  // namespace

TerminalLineReader::TerminalLineReader(QObject* parent) : QObject(parent) {
}

TerminalLineReader::~TerminalLineReader() {
    TerminalGuard::restore();
}

void TerminalLineReader::start() {
    TerminalGuard::arm(STDIN_FILENO);
    termios raw{};
    tcgetattr(STDIN_FILENO, &raw);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    echoFd_ = isatty(STDOUT_FILENO) ? STDOUT_FILENO : isatty(STDERR_FILENO) ? STDERR_FILENO : -1;
    notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminalLineReader::readAvailable);
}

void TerminalLineReader::readAvailable() {
    char chunk[4096];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        notifier_->setEnabled(false);
        if (!std::exchange(ended_, true))
            emit endOfInput();
        return;
    }
    for (ssize_t i = 0; i < got && !ended_; ++i)
        take(chunk[i]);
}

void TerminalLineReader::take(char c) {
    if (escape_ == 1) {
        escape_ = c == '[' || c == 'O' ? 2 : 0;
        return;
    }
    if (escape_ == 2) {
        if (c >= 0x40 && c <= 0x7e)
            escape_ = 0;
        return;
    }
    switch (c) {
        case '\r':
        case '\n': {
            echo("\r\n");
            std::string line = std::move(line_);
            line_.clear();
            if (std::exchange(tooLong_, false))
                emit lineTooLong();
            else
                emit lineRead(line);
            return;
        }
        case kDelete:
        case kBackspace:
            if (!line_.empty()) {
                const std::size_t start = lastCharStart(line_);
                line_.erase(start);
                eraseCells(1);
            }
            return;
        case kCtrlU:
            eraseCells(displayWidth(line_));
            line_.clear();
            return;
        case kCtrlW: {
            std::size_t end = line_.size();
            while (end > 0 && line_[end - 1] == ' ')
                --end;
            while (end > 0 && line_[end - 1] != ' ')
                --end;
            eraseCells(displayWidth(std::string_view(line_).substr(end)));
            line_.erase(end);
            return;
        }
        case kCtrlD:
            if (line_.empty()) {
                ended_ = true;
                notifier_->setEnabled(false);
                emit endOfInput();
            }
            return;
        case kCtrlC:
            emit interrupted();
            return;
        case kEscape:
            escape_ = 1;
            return;
        default:
            break;
    }
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
        return;
    if (line_.size() >= LineReader::kMaxLine) {
        tooLong_ = true;
        return;
    }
    line_ += c;
    echo(std::string_view(&c, 1));
}

void TerminalLineReader::echo(std::string_view text) {
    if (secret_ || echoFd_ < 0)
        return;
    while (!text.empty()) {
        const ssize_t n = ::write(echoFd_, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void TerminalLineReader::eraseCells(std::size_t cells) {
    std::string erase;
    for (std::size_t i = 0; i < cells; ++i)
        erase += "\b \b";
    echo(erase);
}

void TerminalLineReader::around(const std::function<void()>& write) {
    if (line_.empty() || secret_ || echoFd_ < 0) {
        write();
        return;
    }
    echo("\r\x1b[K");
    write();
    echo(line_);
}

LineFace::LineFace(ChatClient& client, bool terminal, bool colour)
    : client_(client), colour_(colour) {
    if (terminal)
        terminal_ = new TerminalLineReader(this);
}

void LineFace::start() {
    const auto tooLong = [] { writeLine("Input line too long; dropped."); };
    if (terminal_ != nullptr) {
        connect(terminal_, &TerminalLineReader::lineRead, &client_, &ChatClient::handleLine);
        connect(terminal_, &TerminalLineReader::lineTooLong, this, tooLong);
        connect(terminal_, &TerminalLineReader::endOfInput, &client_, &ChatClient::inputEnded);
        connect(terminal_, &TerminalLineReader::interrupted, &client_, &ChatClient::interrupted);
        terminal_->start();
        return;
    }
    connect(&pipe_, &LineReader::lineRead, &client_, &ChatClient::handleLine);
    connect(&pipe_, &LineReader::lineTooLong, this, tooLong);
    connect(&pipe_, &LineReader::endOfInput, &client_, &ChatClient::inputEnded);
    pipe_.start();
}

void LineFace::lineAdded(const Buffer&, const Line& line) {
    const std::string& text = line.streamText.empty() ? line.text : line.streamText;
    std::string out = text;
    if (line.stamped) {
        const std::string stamp = stampOf(line);
        out = (colour_ ? "\x1b[2m" + stamp + "\x1b[0m" : stamp) + " " + text;
    }
    if (terminal_ != nullptr)
        terminal_->around([&] { writeLine(out); });
    else
        writeLine(out);
}

void LineFace::askSecret(const std::string& prompt) {
    // The prompt goes where a person looks even when stdout is a pipe.
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    if (terminal_ != nullptr)
        terminal_->setSecret(true);
}

void LineFace::secretDone() {
    if (terminal_ != nullptr)
        terminal_->setSecret(false);
    std::fputs("\n", stderr);
}

}  // namespace lantry::cli

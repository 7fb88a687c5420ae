// stdin lines through the event loop, stdout lines flushed; see line_io.h.
#include "line_io.h"

#include <QCoreApplication>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace lantry::cli {

namespace {
constexpr std::size_t kReadChunk = 64 * 1024;
}

LineReader::LineReader(QObject* parent) : QObject(parent) {
}

void LineReader::start() {
    notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &LineReader::readAvailable);
}

void LineReader::readAvailable() {
    if (ended_)
        return;
    char chunk[kReadChunk];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        ended_ = true;
        notifier_->setEnabled(false);
    } else {
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
    deliverLines();
}

void LineReader::deliverLines() {
    for (;;) {
        const std::size_t end = buffer_.find('\n', std::max(consumed_, scanned_));
        if (end == std::string::npos)
            break;
        if (skipping_) {
            skipping_ = false;
            consumed_ = end + 1;
            continue;
        }
        std::string line = buffer_.substr(consumed_, end - consumed_);
        consumed_ = end + 1;
        if (line.size() > kMaxLine) {
            emit lineTooLong();
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        emit lineRead(line);
    }
    buffer_.erase(0, consumed_);
    consumed_ = 0;
    scanned_ = buffer_.size();
    if (buffer_.size() > kMaxLine) {
        // The line cannot be delivered; drop what we hold and the rest of it as it comes.
        buffer_.clear();
        scanned_ = 0;
        if (!skipping_)
            emit lineTooLong();
        skipping_ = true;
    }
    if (!ended_ || endSignalled_)
        return;
    if (!buffer_.empty() && !skipping_) {
        std::string last = std::move(buffer_);
        if (last.back() == '\r')
            last.pop_back();
        emit lineRead(last);
    }
    buffer_.clear();
    endSignalled_ = true;
    emit endOfInput();
}

void exitWhenFlushed(QtSocket* socket, int exitCode) {
    socket->whenFlushed([exitCode] { QCoreApplication::exit(exitCode); });
}

void writeLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace lantry::cli

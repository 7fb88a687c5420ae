// Line input from stdin inside the Qt event loop, and line output to stdout.
//
// LineReader watches file descriptor 0 with a QSocketNotifier and reads what is there without
// blocking the loop for longer than one read, so socket traffic and input interleave on one
// thread. Lines end with LF; a CR before it is removed; a last line without LF is delivered
// at end of input. After endOfInput nothing more is emitted. Memory stays bounded by kMaxLine
// plus one read, whatever arrives.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include "ondrel/qt_socket.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace lantry::cli {

class LineReader final : public QObject {
    Q_OBJECT
public:
    explicit LineReader(QObject* parent = nullptr);

    // Longest line delivered; a longer one is dropped whole and reported by lineTooLong.
    static constexpr std::size_t kMaxLine = 8u << 20;

    // Starts watching stdin; lines arrive from the event loop.
    void start();

signals:
    void lineRead(const std::string& line);
    void lineTooLong();
    void endOfInput();

private:
    void readAvailable();
    void deliverLines();

    QSocketNotifier* notifier_ = nullptr;
    std::string buffer_;
    std::size_t consumed_ = 0;
    // Bytes of buffer_ already searched for LF, so a long line is scanned once.
    std::size_t scanned_ = 0;
    // True while the rest of an overlong line is being skipped.
    bool skipping_ = false;
    bool ended_ = false;
    bool endSignalled_ = false;
};

// Quits the event loop with `exitCode` once `socket` has sent what its closed connections had
// queued, or after a few seconds at most.
void exitWhenFlushed(QtSocket* socket, int exitCode);

// Writes `line` and a LF to stdout and flushes, so a reader at the other end of a pipe sees
// every line as soon as it is complete.
void writeLine(std::string_view line);

}  // namespace lantry::cli

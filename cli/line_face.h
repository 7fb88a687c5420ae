// The line stream face of `ondrel chat`: every buffer's lines in one stream on stdout, a
// time stamp before each event line, the line named by its buffer where the text alone would
// not say ("[Den] <bob> hi"). Input comes from stdin through LineReader, or, when stdin is a
// terminal, through TerminalLineReader below, so that a long pasted line is not cut.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <string>

#include "chat_client.h"
#include "chat_face.h"
#include "line_io.h"

namespace lantry::cli {

// Lines from a terminal read without its own line editing (whose line buffer cuts a line at
// 4095 bytes without a word), with a minimal editing of our own: Backspace, Ctrl-U (the
// line), Ctrl-W (a word), Enter; Ctrl-D on an empty line ends input, Ctrl-C is reported by
// interrupted(). Escape sequences (arrow keys) and other control characters are dropped.
// Typed text is echoed to the terminal unless secret. The terminal's settings come back on
// every exit path (TerminalGuard) and when the reader is destroyed.
class TerminalLineReader final : public QObject {
    Q_OBJECT
public:
    explicit TerminalLineReader(QObject* parent = nullptr);
    ~TerminalLineReader() override;

    void start();
    // While secret, typed text is not echoed.
    void setSecret(bool secret) { secret_ = secret; }
    // Clears the partly typed line from view before `write` and shows it again after.
    void around(const std::function<void()>& write);

signals:
    void lineRead(const std::string& line);
    void lineTooLong();
    void endOfInput();
    void interrupted();

private:
    void readAvailable();
    void take(char c);
    void echo(std::string_view text);
    void eraseCells(std::size_t cells);

    QSocketNotifier* notifier_ = nullptr;
    int echoFd_ = -1;
    std::string line_;
    bool secret_ = false;
    bool tooLong_ = false;
    bool ended_ = false;
    // Inside an escape sequence: 1 after ESC, 2 inside CSI or SS3 up to its final byte.
    int escape_ = 0;
};

class LineFace final : public QObject, public ChatFace {
    Q_OBJECT
public:
    // Reads stdin as a terminal when `terminal`; `colour` paints the time stamps.
    LineFace(ChatClient& client, bool terminal, bool colour);

    void start();

    void lineAdded(const Buffer& buffer, const Line& line) override;
    void changed() override {}
    void askSecret(const std::string& prompt) override;
    void secretDone() override;

private:
    ChatClient& client_;
    bool colour_;
    LineReader pipe_;
    TerminalLineReader* terminal_ = nullptr;
};

}  // namespace lantry::cli

// The full-screen face of `ondrel chat` on ncurses (wide-character build): a title line, the
// current window's lines (and a room's members on wide terminals), a status bar and the input
// line, which arriving text never overwrites. It only draws what the client's buffers hold
// and turns keys into the input line's edits and the client's input (key_bindings.h).
//
// start() takes the terminal: the alternate screen, no echo, raw keys (Ctrl-C is a key),
// bracketed paste. The terminal comes back as it was when the Screen is destroyed and on every
// other way out (TerminalGuard), a crash included. Resizing redraws. NO_COLOR keeps emphasis
// to bold and dim. Input history is loaded from and saved to `historyPath` (empty: none).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <string>
#include <vector>

#include "chat_client.h"
#include "chat_face.h"
#include "input_line.h"
#include "key_bindings.h"

namespace lantry::cli::screen {

class Screen final : public QObject, public ChatFace {
    Q_OBJECT
public:
    // Room windows show their members at this width and above; narrower ones have /names.
    static constexpr int kMemberListFrom = 100;
    static constexpr int kMemberListWidth = 18;

    Screen(ChatClient& client, bool colour, std::string historyPath);
    ~Screen() override;

    // False when this terminal cannot be drawn on; nothing has changed then.
    bool start();

    void lineAdded(const Buffer& buffer, const Line& line) override;
    void changed() override;
    void askSecret(const std::string& prompt) override;
    void secretDone() override;

private:
    // One screen row of a line: text holding the client's SGR sequences.
    struct Row {
        std::string text;
        bool marker = false;  // the unread marker
    };

    void readKeys();
    void press(const Key& key);
    void run(Action action, int argument);
    void resized();
    void scheduleDraw();
    void draw();
    void drawTitle(int width);
    void drawLines(int top, int height, int width);
    void drawMembers(int top, int height, int left, int width);
    void drawStatusBar(int row, int width);
    void drawInput(int row, int width);
    // Writes `text` (with SGR sequences) from the cursor in at most `cells` cells.
    void put(const std::string& text, int cells, attr_t base = A_NORMAL);
    std::vector<Row> rowsOf(const Line& line, int width) const;
    void scroll(int pages);

    ChatClient& client_;
    bool colour_;
    std::string historyPath_;
    bool started_ = false;
    InputLine input_;
    bool secret_ = false;
    std::string secretPrompt_;
    bool pasting_ = false;
    std::string paste_;
    // Rows scrolled back from the end, per buffer.
    std::map<const Buffer*, int> scrolled_;
    int pageRows_ = 1;
    QSocketNotifier* keys_ = nullptr;
    QSocketNotifier* resize_ = nullptr;
    QTimer drawTimer_;
    QTimer clock_;
};

}  // namespace lantry::cli::screen

// The full-screen client's input line: UTF-8 text with a cursor, edited the way irssi and
// readline users expect, with the session's history and Tab completion. It draws nothing: a
// screen asks view() for the part that fits and where the cursor stands in it.
//
// Positions are byte offsets that always fall on the start of a character. Widths are terminal
// cells: a wide (East Asian) character counts two, a combining one none; they follow the
// process's LC_CTYPE, which must be a UTF-8 locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lantry::cli {

// The cells `utf8` takes on a terminal.
std::size_t cellWidth(std::string_view utf8);

class InputLine {
public:
    // Lines of history kept, in memory and on disk.
    static constexpr std::size_t kMaxHistory = 500;
    // A longer line is sent but not kept in history.
    static constexpr std::size_t kMaxHistoryLine = 64 * 1024;

    const std::string& text() const { return text_; }
    std::size_t cursor() const { return cursor_; }

    // Inserts at the cursor; line ends and tabs become blanks, other control characters go.
    void insert(std::string_view utf8);
    void left();
    void right();
    void home();
    void end();
    void backspace();
    void deleteChar();
    void killWord();   // the word before the cursor, and the blanks after it
    void killLine();   // everything
    void killToEnd();  // from the cursor to the end

    // Enter: returns the line and clears it; a non-blank line is kept in the history unless
    // `keep` is false (a password).
    std::string take(bool keep = true);

    // Up and Down: an earlier or a later line of the history; below the newest, the line
    // that was being typed.
    void historyUp();
    void historyDown();
    const std::vector<std::string>& history() const { return history_; }
    void setHistory(std::vector<std::string> lines);

    // Tab: the word before the cursor completed with the first of `words` it starts
    // (case-insensitive); Tab again, with no other edit between, the next one, round. The first
    // word of a line that starts with '/' completes commands (words starting with '/', followed
    // by a blank); other words complete the rest (a name first on the line followed by ": ").
    void complete(const std::vector<std::string>& words);

    // The part of the line to show in `width` cells: bytes [from, to) and the cursor's cell.
    // The view scrolls by half its width when the cursor would leave it.
    struct View {
        std::size_t from = 0;
        std::size_t to = 0;
        std::size_t cursorCell = 0;
    };
    View view(std::size_t width);

private:
    void edited() { completing_ = false; }

    std::string text_;
    std::size_t cursor_ = 0;
    std::vector<std::string> history_;
    std::size_t historyAt_ = 0;  // history_.size(): the line being typed
    std::string draft_;
    bool completing_ = false;
    std::vector<std::string> matches_;
    std::size_t matchAt_ = 0;
    std::size_t wordStart_ = 0;
    std::size_t scroll_ = 0;
};

// History kept between sessions: one line per entry, oldest first, the last kMaxHistory.
// Lines starting with /passwd are never written. A missing file is an empty history.
std::vector<std::string> loadHistory(const std::string& path);
// Written privately (0600), folders made as needed; false when it cannot be written.
bool saveHistory(const std::string& path, const std::vector<std::string>& lines);

}  // namespace lantry::cli

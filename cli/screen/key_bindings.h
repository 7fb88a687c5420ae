// The full-screen client's keys, as data: which key does what. A key is a character (Ctrl
// keys are their control characters), a curses function key, or either with Alt (Meta: ESC
// first). The screen looks a key up here and runs the action; nothing else binds keys.
#pragma once

// The wide-character functions, and curses' names as functions rather than macros (a macro
// erase() would take std::string::erase).
#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#ifndef NCURSES_NOMACROS
#define NCURSES_NOMACROS
#endif
#include <curses.h>

namespace lantry::cli::screen {

enum class Action {
    Enter,
    Left,
    Right,
    Home,
    End,
    Backspace,
    Delete,
    KillWord,
    KillLine,
    KillToEnd,
    HistoryUp,
    HistoryDown,
    Complete,
    PageUp,
    PageDown,
    NextWindow,
    PreviousWindow,
    Window,  // the window numbered by the binding's argument
    Redraw,
    Interrupt,
};

struct Key {
    int code = 0;
    bool function = false;  // a curses KEY_ code, not a character
    bool meta = false;
    bool operator==(const Key&) const = default;
};

struct KeyBinding {
    Key key;
    Action action;
    int argument = 0;
};

constexpr int ctrl(char c) {
    return c & 0x1f;
}

// Codes this program gives the bracketed paste's start and end sequences.
constexpr int kPasteStart = KEY_MAX + 1;
constexpr int kPasteEnd = KEY_MAX + 2;

inline constexpr KeyBinding kKeyBindings[] = {
    {{'\r'}, Action::Enter},
    {{'\n'}, Action::Enter},
    {{KEY_ENTER, true}, Action::Enter},
    {{KEY_LEFT, true}, Action::Left},
    {{ctrl('B')}, Action::Left},
    {{KEY_RIGHT, true}, Action::Right},
    {{ctrl('F')}, Action::Right},
    {{KEY_HOME, true}, Action::Home},
    {{ctrl('A')}, Action::Home},
    {{KEY_END, true}, Action::End},
    {{ctrl('E')}, Action::End},
    {{KEY_BACKSPACE, true}, Action::Backspace},
    {{0x7f}, Action::Backspace},
    {{ctrl('H')}, Action::Backspace},
    {{KEY_DC, true}, Action::Delete},
    {{ctrl('D')}, Action::Delete},
    {{ctrl('W')}, Action::KillWord},
    {{0x7f, false, true}, Action::KillWord},
    {{ctrl('U')}, Action::KillLine},
    {{ctrl('K')}, Action::KillToEnd},
    {{KEY_UP, true}, Action::HistoryUp},
    {{KEY_DOWN, true}, Action::HistoryDown},
    {{'\t'}, Action::Complete},
    {{KEY_PPAGE, true}, Action::PageUp},
    {{KEY_NPAGE, true}, Action::PageDown},
    {{ctrl('N')}, Action::NextWindow},
    {{ctrl('P')}, Action::PreviousWindow},
    {{KEY_RIGHT, true, true}, Action::NextWindow},
    {{KEY_LEFT, true, true}, Action::PreviousWindow},
    {{'1', false, true}, Action::Window, 1},
    {{'2', false, true}, Action::Window, 2},
    {{'3', false, true}, Action::Window, 3},
    {{'4', false, true}, Action::Window, 4},
    {{'5', false, true}, Action::Window, 5},
    {{'6', false, true}, Action::Window, 6},
    {{'7', false, true}, Action::Window, 7},
    {{'8', false, true}, Action::Window, 8},
    {{'9', false, true}, Action::Window, 9},
    {{'0', false, true}, Action::Window, 10},
    {{ctrl('L')}, Action::Redraw},
    {{KEY_RESIZE, true}, Action::Redraw},
    {{ctrl('C')}, Action::Interrupt},
};

}  // namespace lantry::cli::screen

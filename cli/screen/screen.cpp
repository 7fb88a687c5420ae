// The full-screen face on ncurses; see screen.h.
#include "screen.h"

#include <sys/ioctl.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <cwchar>

#include "terminal_guard.h"

namespace lantry::cli::screen {

namespace {

constexpr int kStampCells = 11;  // "[HH:MM:SS] "
constexpr short kRed = 1;
constexpr short kGreen = 2;
constexpr short kYellow = 3;
constexpr short kCyan = 4;
constexpr short kBar = 5;
constexpr short kMagenta = 6;
constexpr const char* kPasteOn = "\x1b[?2004h";
constexpr const char* kPasteOff = "\x1b[?2004l";

int resizePipe[2] = {-1, -1};

void onResize(int) {
    const char c = 'r';
    [[maybe_unused]] const ssize_t n = ::write(resizePipe[1], &c, 1);
}

std::string terminfo(const char* name) {
    const char* s = tigetstr(const_cast<char*>(name));
    return s == nullptr || s == reinterpret_cast<char*>(-1) ? std::string() : std::string(s);
}

std::string stampOf(std::chrono::system_clock::time_point time, const char* format) {
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, format, &local);
    return stamp;
}

std::size_t nextChar(std::string_view text, std::size_t at) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        ++at;
    return at;
}

// The attributes of one SGR sequence's codes ("1;36").
attr_t attributesOf(std::string_view codes, bool colour) {
    attr_t a = A_NORMAL;
    std::size_t at = 0;
    while (at <= codes.size()) {
        const std::size_t end = std::min(codes.find(';', at), codes.size());
        const std::string_view code = codes.substr(at, end - at);
        if (code == "1")
            a |= A_BOLD;
        else if (code == "2")
            a |= A_DIM;
        else if (code == "4")
            a |= A_UNDERLINE;
        else if (colour && code == "31")
            a |= COLOR_PAIR(kRed);
        else if (colour && code == "32")
            a |= COLOR_PAIR(kGreen);
        else if (colour && code == "33")
            a |= COLOR_PAIR(kYellow);
        else if (colour && code == "36")
            a |= COLOR_PAIR(kCyan);
        at = end + 1;
    }
    return a;
}

}  // namespace

Screen::Screen(ChatClient& client, bool colour, std::string historyPath)
    : client_(client), colour_(colour), historyPath_(std::move(historyPath)) {
    drawTimer_.setSingleShot(true);
    connect(&drawTimer_, &QTimer::timeout, this, &Screen::draw);
    connect(&clock_, &QTimer::timeout, this, &Screen::scheduleDraw);
}

Screen::~Screen() {
    if (!started_)
        return;
    std::fputs(kPasteOff, stdout);
    std::fflush(stdout);
    endwin();
    TerminalGuard::disarm();
    std::signal(SIGWINCH, SIG_DFL);
}

bool Screen::start() {
    TerminalGuard::arm(STDIN_FILENO);
    // Resizing wakes the event loop through a pipe; set before curses, which then keeps out.
    if (::pipe(resizePipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    if (newterm(nullptr, stdout, stdin) == nullptr) {
        TerminalGuard::disarm();
        std::signal(SIGWINCH, SIG_DFL);
        return false;
    }
    started_ = true;
    TerminalGuard::setReset(std::string(kPasteOff) + terminfo("rmkx") + terminfo("sgr0") +
                            terminfo("cnorm") + terminfo("rmcup"));
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    define_key("\x1b[200~", kPasteStart);
    define_key("\x1b[201~", kPasteEnd);
    if (colour_ && has_colors()) {
        start_color();
        use_default_colors();
        init_pair(kRed, COLOR_RED, -1);
        init_pair(kGreen, COLOR_GREEN, -1);
        init_pair(kYellow, COLOR_YELLOW, -1);
        init_pair(kCyan, COLOR_CYAN, -1);
        init_pair(kMagenta, COLOR_MAGENTA, -1);
        init_pair(kBar, COLOR_WHITE, COLOR_BLUE);
    } else {
        colour_ = false;
    }
    std::fputs(kPasteOn, stdout);
    std::fflush(stdout);
    if (!historyPath_.empty())
        input_.setHistory(loadHistory(historyPath_));
    keys_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(keys_, &QSocketNotifier::activated, this, &Screen::readKeys);
    resize_ = new QSocketNotifier(resizePipe[0], QSocketNotifier::Read, this);
    connect(resize_, &QSocketNotifier::activated, this, &Screen::resized);
    clock_.start(std::chrono::seconds(1));
    draw();
    return true;
}

void Screen::lineAdded(const Buffer&, const Line&) {
    scheduleDraw();
}

void Screen::changed() {
    scheduleDraw();
}

void Screen::askSecret(const std::string& prompt) {
    secret_ = true;
    secretPrompt_ = prompt;
    scheduleDraw();
}

void Screen::secretDone() {
    secret_ = false;
    secretPrompt_.clear();
    scheduleDraw();
}

void Screen::scheduleDraw() {
    if (started_ && !drawTimer_.isActive())
        drawTimer_.start(0);
}

void Screen::resized() {
    char drain[64];
    [[maybe_unused]] const ssize_t n = ::read(resizePipe[0], drain, sizeof drain);
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resize_term(size.ws_row, size.ws_col);
    clearok(stdscr, TRUE);
    draw();
}

void Screen::readKeys() {
    for (;;) {
        wint_t c = 0;
        const int kind = wget_wch(stdscr, &c);
        if (kind == ERR)
            break;
        Key key{static_cast<int>(c), kind == KEY_CODE_YES, false};
        if (!key.function && key.code == 0x1b && !pasting_) {
            // Alt sends ESC first; a lone ESC does nothing.
            wint_t next = 0;
            const int nextKind = wget_wch(stdscr, &next);
            if (nextKind == ERR)
                continue;
            key = Key{static_cast<int>(next), nextKind == KEY_CODE_YES, true};
        }
        press(key);
    }
    scheduleDraw();
}

void Screen::press(const Key& key) {
    if (key.function && key.code == kPasteStart) {
        pasting_ = true;
        return;
    }
    if (key.function && key.code == kPasteEnd) {
        pasting_ = false;
        input_.insert(paste_);
        paste_.clear();
        return;
    }
    if (pasting_ && !key.function) {
        // A pasted line end does not send: the paste is one text to look over first.
        char utf8[MB_LEN_MAX];
        std::mbstate_t state{};
        const std::size_t n = std::wcrtomb(utf8, static_cast<wchar_t>(key.code), &state);
        if (n != static_cast<std::size_t>(-1))
            paste_.append(utf8, n);
        return;
    }
    for (const KeyBinding& b : kKeyBindings) {
        if (b.key == key) {
            run(b.action, b.argument);
            return;
        }
    }
    if (key.function || key.meta || key.code < 0x20)
        return;
    char utf8[MB_LEN_MAX];
    std::mbstate_t state{};
    const std::size_t n = std::wcrtomb(utf8, static_cast<wchar_t>(key.code), &state);
    if (n != static_cast<std::size_t>(-1))
        input_.insert(std::string_view(utf8, n));
}

void Screen::run(Action action, int argument) {
    BufferList& buffers = client_.buffers();
    switch (action) {
        case Action::Enter: {
            const bool secret = secret_;
            const std::string line = input_.take(!secret);
            if (!secret && !historyPath_.empty())
                saveHistory(historyPath_, input_.history());
            scrolled_.erase(&buffers.current());
            client_.handleLine(line);
            return;
        }
        case Action::Left:
            return input_.left();
        case Action::Right:
            return input_.right();
        case Action::Home:
            return input_.home();
        case Action::End:
            return input_.end();
        case Action::Backspace:
            return input_.backspace();
        case Action::Delete:
            return input_.deleteChar();
        case Action::KillWord:
            return input_.killWord();
        case Action::KillLine:
            return input_.killLine();
        case Action::KillToEnd:
            return input_.killToEnd();
        case Action::HistoryUp:
            if (!secret_)
                input_.historyUp();
            return;
        case Action::HistoryDown:
            if (!secret_)
                input_.historyDown();
            return;
        case Action::Complete:
            if (!secret_)
                input_.complete(client_.completions());
            return;
        case Action::PageUp:
            return scroll(1);
        case Action::PageDown:
            return scroll(-1);
        case Action::NextWindow:
            return buffers.select(buffers.currentNumber() % buffers.size() + 1);
        case Action::PreviousWindow:
            return buffers.select((buffers.currentNumber() + buffers.size() - 2) % buffers.size() +
                                  1);
        case Action::Window:
            return buffers.select(static_cast<std::size_t>(argument));
        case Action::Redraw:
            clearok(stdscr, TRUE);
            return;
        case Action::Interrupt:
            return client_.interrupted();
    }
}

void Screen::scroll(int pages) {
    int& rows = scrolled_[&client_.buffers().current()];
    rows = std::max(0, rows + pages * std::max(1, pageRows_ - 2));
}

std::vector<Screen::Row> Screen::rowsOf(const Line& line, int width) const {
    std::vector<Row> rows;
    const std::string stamp =
        line.stamped ? "\x1b[2m" + stampOf(line.time, "[%H:%M:%S]") + "\x1b[0m " : std::string();
    std::string_view text = line.text;
    bool first = true;
    while (first || !text.empty()) {
        const std::size_t lf = std::min(text.find('\n'), text.size());
        const std::string_view piece = text.substr(0, lf);
        text.remove_prefix(std::min(lf + 1, text.size()));
        // Wrapped rows start under the text, past the stamp; the SGR state carries over.
        std::string row = first ? stamp : std::string();
        int cells = first && line.stamped ? kStampCells : 0;
        std::string sgr;
        for (std::size_t i = 0; i < piece.size();) {
            if (piece[i] == '\x1b') {
                const std::size_t end = std::min(piece.find('m', i), piece.size() - 1);
                sgr = std::string(piece.substr(i, end + 1 - i));
                row += sgr;
                i = end + 1;
                continue;
            }
            const std::size_t next = nextChar(piece, i);
            const int w = static_cast<int>(cellWidth(piece.substr(i, next - i)));
            if (cells + w > width && cells > kStampCells) {
                rows.push_back(Row{row + "\x1b[0m"});
                row = std::string(line.stamped ? kStampCells : 2, ' ') + sgr;
                cells = line.stamped ? kStampCells : 2;
            }
            row.append(piece.substr(i, next - i));
            cells += w;
            i = next;
        }
        rows.push_back(Row{row});
        first = false;
    }
    return rows;
}

void Screen::draw() {
    if (!started_)
        return;
    werase(stdscr);
    const int height = LINES;
    const int width = COLS;
    if (height < 4 || width < 10) {
        mvaddstr(0, 0, "too small");
        wrefresh(stdscr);
        return;
    }
    drawTitle(width);
    const Buffer& current = client_.buffers().current();
    const bool members = current.kind == Buffer::Kind::Room && width >= kMemberListFrom;
    const int textWidth = members ? width - kMemberListWidth - 1 : width;
    pageRows_ = height - 3;
    drawLines(1, height - 3, textWidth);
    if (members)
        drawMembers(1, height - 3, textWidth, kMemberListWidth + 1);
    drawStatusBar(height - 2, width);
    drawInput(height - 1, width);
    wrefresh(stdscr);
}

void Screen::put(const std::string& text, int cells, attr_t base) {
    attr_t attributes = base;
    wattrset(stdscr, attributes);
    int used = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\x1b') {
            const std::size_t end = text.find('m', i);
            if (end == std::string::npos)
                break;
            const std::string_view codes = std::string_view(text).substr(i + 2, end - i - 2);
            const attr_t a = attributesOf(codes, colour_);
            // A colour of the text's own replaces the base's (a highlight on the bar).
            attributes = codes == "0" || codes.empty() ? base
                         : (a & A_COLOR) != 0          ? (base & ~A_COLOR) | a
                                                       : base | a;
            wattrset(stdscr, attributes);
            i = end + 1;
            continue;
        }
        const std::size_t next = nextChar(text, i);
        const int w = static_cast<int>(cellWidth(std::string_view(text).substr(i, next - i)));
        if (used + w > cells)
            break;
        waddnstr(stdscr, text.data() + i, static_cast<int>(next - i));
        used += w;
        i = next;
    }
    wattrset(stdscr, base);
    for (; used < cells; ++used)
        waddch(stdscr, ' ');
    wattrset(stdscr, A_NORMAL);
}

void Screen::drawTitle(int width) {
    BufferList& buffers = client_.buffers();
    const Buffer& b = buffers.current();
    std::string title;
    switch (b.kind) {
        case Buffer::Kind::Status:
            title = "Ondrel: status. /help lists the commands, Alt+N or Ctrl+N/P change windows";
            break;
        case Buffer::Kind::Query:
            title = "Conversation with " + b.name;
            break;
        case Buffer::Kind::Room:
            title = "Room " + b.name +
                    (b.joined ? " (" + std::to_string(b.members.size()) + " here" +
                                    (width < kMemberListFrom ? "; /names lists them)" : ")")
                              : " (you left it)");
            break;
    }
    wmove(stdscr, 0, 0);
    put(" " + title, width, A_REVERSE);
}

void Screen::drawLines(int top, int height, int width) {
    const Buffer& b = client_.buffers().current();
    const std::uint64_t firstNumber = b.added - b.lines.size();
    int& scrolled = scrolled_[&b];
    // Rows from the newest line back, enough for the view and what is scrolled past.
    std::vector<Row> rows;
    const std::size_t need = static_cast<std::size_t>(height + scrolled);
    for (std::size_t i = b.lines.size(); i-- > 0 && rows.size() < need + 1;) {
        std::vector<Row> lineRows = rowsOf(b.lines[i], width);
        for (auto r = lineRows.rbegin(); r != lineRows.rend(); ++r)
            rows.push_back(std::move(*r));
        if (b.unreadFrom != Buffer::kNoUnread && firstNumber + i == b.unreadFrom)
            rows.push_back(Row{"", true});
    }
    scrolled = std::clamp(scrolled, 0, std::max(0, static_cast<int>(rows.size()) - height));
    for (int y = 0; y < height; ++y) {
        const std::size_t index = static_cast<std::size_t>(scrolled + height - 1 - y);
        if (index >= rows.size())
            continue;
        wmove(stdscr, top + y, 0);
        const Row& row = rows[index];
        if (row.marker) {
            wattrset(stdscr, colour_ ? COLOR_PAIR(kMagenta) : A_DIM);
            whline(stdscr, ACS_HLINE, width);
            mvwaddstr(stdscr, top + y, 2, " unread ");
            wattrset(stdscr, A_NORMAL);
        } else {
            put(row.text, width);
        }
    }
}

void Screen::drawMembers(int top, int height, int left, int width) {
    const Buffer& b = client_.buffers().current();
    wmove(stdscr, top, left);
    wvline(stdscr, ACS_VLINE, height);
    int y = 0;
    for (const std::string& member : b.members) {
        if (y >= height)
            break;
        wmove(stdscr, top + y++, left + 1);
        put(member, width - 1);
    }
}

void Screen::drawStatusBar(int row, int width) {
    BufferList& buffers = client_.buffers();
    const ChatClient::Summary s = client_.summary();
    const attr_t bar = colour_ ? COLOR_PAIR(kBar) : A_REVERSE;
    // Appended, not joined with +: g++ 12 at -O3 takes "[" + a temporary for an overlapping copy.
    std::string text = "[";
    text += stampOf(std::chrono::system_clock::now(), "%H:%M");
    text += "] [" + s.name + (s.away ? " (away)" : "") + (s.signedOn ? "" : " (offline)") + "] [" +
            std::to_string(buffers.currentNumber()) + ":" + buffers.current().name + "]";
    if (scrolled_[&buffers.current()] > 0)
        text += " [more below]";
    std::string activity;
    for (std::size_t n = 1; n <= buffers.size(); ++n) {
        const Buffer& b = *buffers.at(n);
        if (b.activity == Activity::None || n == buffers.currentNumber())
            continue;
        const std::string number = std::to_string(n);
        activity += (activity.empty() ? "" : ",") +
                    (b.activity == Activity::Highlight ? "\x1b[1;4;31m" + number + "\x1b[0m"
                     : b.activity == Activity::Message ? "\x1b[1m" + number + "\x1b[0m"
                                                       : number);
    }
    if (!activity.empty())
        text += " [Act: " + activity + "]";
    wmove(stdscr, row, 0);
    // On the bar, a message is bold; one addressed to us bold, underlined and red.
    put(text, width, bar);
}

void Screen::drawInput(int row, int width) {
    const Buffer& b = client_.buffers().current();
    const std::string prompt = secret_                          ? secretPrompt_
                               : b.kind == Buffer::Kind::Status ? ""
                                                                : "[" + b.name + "] ";
    const int promptCells = std::min(static_cast<int>(cellWidth(prompt)), width / 2);
    wmove(stdscr, row, 0);
    put(prompt, promptCells);
    if (secret_) {
        wclrtoeol(stdscr);
        return;
    }
    const InputLine::View v = input_.view(static_cast<std::size_t>(width - promptCells));
    put(input_.text().substr(v.from, v.to - v.from), width - promptCells);
    wmove(stdscr, row, promptCells + static_cast<int>(v.cursorCell));
}

}  // namespace lantry::cli::screen

// The input line, its history and completion; see input_line.h.
#include "input_line.h"

#include <sys/stat.h>
#include <algorithm>
#include <cctype>
#include <cwchar>
#include <filesystem>
#include <fstream>

namespace lantry::cli {

namespace {

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t nextStart(const std::string& text, std::size_t at) {
    if (at >= text.size())
        return text.size();
    ++at;
    while (at < text.size() && continuation(text[at]))
        ++at;
    return at;
}

std::size_t previousStart(const std::string& text, std::size_t at) {
    if (at == 0)
        return 0;
    --at;
    while (at > 0 && continuation(text[at]))
        --at;
    return at;
}

char32_t decode(std::string_view text, std::size_t at) {
    const auto b = static_cast<unsigned char>(text[at]);
    const int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int i = 1; i <= extra && at + i < text.size(); ++i)
        c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    return c;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isPasswordLine(const std::string& line) {
    return line.starts_with("/passwd") && (line.size() == 7 || line[7] == ' ');
}

}  // namespace

std::size_t cellWidth(std::string_view utf8) {
    std::size_t cells = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (continuation(utf8[i]))
            continue;
        const int w = ::wcwidth(static_cast<wchar_t>(decode(utf8, i)));
        cells += w < 0 ? 1 : static_cast<std::size_t>(w);
    }
    return cells;
}

void InputLine::insert(std::string_view utf8) {
    std::string clean;
    clean.reserve(utf8.size());
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r' || c == '\t')
            clean += ' ';
        else if (b >= 0x20 && b != 0x7F)
            clean += c;
    }
    text_.insert(cursor_, clean);
    cursor_ += clean.size();
    edited();
}

void InputLine::left() {
    cursor_ = previousStart(text_, cursor_);
    edited();
}

void InputLine::right() {
    cursor_ = nextStart(text_, cursor_);
    edited();
}

void InputLine::home() {
    cursor_ = 0;
    edited();
}

void InputLine::end() {
    cursor_ = text_.size();
    edited();
}

void InputLine::backspace() {
    const std::size_t from = previousStart(text_, cursor_);
    text_.erase(from, cursor_ - from);
    cursor_ = from;
    edited();
}

void InputLine::deleteChar() {
    text_.erase(cursor_, nextStart(text_, cursor_) - cursor_);
    edited();
}

void InputLine::killWord() {
    std::size_t from = cursor_;
    while (from > 0 && text_[from - 1] == ' ')
        --from;
    while (from > 0 && text_[from - 1] != ' ')
        --from;
    text_.erase(from, cursor_ - from);
    cursor_ = from;
    edited();
}

void InputLine::killLine() {
    text_.clear();
    cursor_ = 0;
    edited();
}

void InputLine::killToEnd() {
    text_.erase(cursor_);
    edited();
}

std::string InputLine::take(bool keep) {
    std::string line = std::move(text_);
    text_.clear();
    cursor_ = 0;
    scroll_ = 0;
    draft_.clear();
    edited();
    const bool blank = line.find_first_not_of(' ') == std::string::npos;
    if (keep && !blank && !isPasswordLine(line) && line.size() <= kMaxHistoryLine &&
        (history_.empty() || history_.back() != line)) {
        history_.push_back(line);
        if (history_.size() > kMaxHistory)
            history_.erase(history_.begin());
    }
    historyAt_ = history_.size();
    return line;
}

void InputLine::historyUp() {
    if (historyAt_ == 0)
        return;
    if (historyAt_ == history_.size())
        draft_ = text_;
    text_ = history_[--historyAt_];
    cursor_ = text_.size();
    edited();
}

void InputLine::historyDown() {
    if (historyAt_ >= history_.size())
        return;
    ++historyAt_;
    text_ = historyAt_ == history_.size() ? draft_ : history_[historyAt_];
    cursor_ = text_.size();
    edited();
}

void InputLine::setHistory(std::vector<std::string> lines) {
    history_ = std::move(lines);
    if (history_.size() > kMaxHistory)
        history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(kMaxHistory));
    historyAt_ = history_.size();
}

void InputLine::complete(const std::vector<std::string>& words) {
    if (!completing_) {
        wordStart_ = cursor_;
        while (wordStart_ > 0 && text_[wordStart_ - 1] != ' ')
            --wordStart_;
        const std::string word =
            lower(std::string_view(text_).substr(wordStart_, cursor_ - wordStart_));
        const bool command = wordStart_ == 0 && text_.starts_with('/');
        matches_.clear();
        for (const std::string& w : words) {
            if ((w.starts_with('/') == command) && lower(w).starts_with(word)) {
                std::string filled = w;
                if (!command)
                    std::erase(filled, ' ');
                matches_.push_back(filled + (command ? " " : wordStart_ == 0 ? ": " : ""));
            }
        }
        if (matches_.empty())
            return;
        matchAt_ = 0;
    } else {
        matchAt_ = (matchAt_ + 1) % matches_.size();
    }
    text_.replace(wordStart_, cursor_ - wordStart_, matches_[matchAt_]);
    cursor_ = wordStart_ + matches_[matchAt_].size();
    completing_ = true;
}

InputLine::View InputLine::view(std::size_t width) {
    width = std::max<std::size_t>(width, 2);
    const std::string_view all(text_);
    scroll_ = std::min(scroll_, cursor_);
    while (scroll_ > 0 && continuation(text_[scroll_]))
        --scroll_;
    if (cellWidth(all.substr(scroll_, cursor_ - scroll_)) >= width) {
        // The cursor left on the right: it goes to the middle.
        scroll_ = cursor_;
        while (scroll_ > 0 && cellWidth(all.substr(scroll_, cursor_ - scroll_)) < width / 2)
            scroll_ = previousStart(text_, scroll_);
    } else if (scroll_ == cursor_ && scroll_ > 0) {
        // It left on the left: half a view goes back into sight.
        while (scroll_ > 0 && cellWidth(all.substr(scroll_, cursor_ - scroll_)) < width / 2)
            scroll_ = previousStart(text_, scroll_);
    }
    View v;
    v.from = scroll_;
    v.cursorCell = cellWidth(all.substr(scroll_, cursor_ - scroll_));
    std::size_t cells = 0;
    v.to = scroll_;
    while (v.to < text_.size()) {
        const std::size_t next = nextStart(text_, v.to);
        const std::size_t w = cellWidth(all.substr(v.to, next - v.to));
        if (cells + w > width - 1)
            break;
        cells += w;
        v.to = next;
    }
    return v;
}

std::vector<std::string> loadHistory(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && !isPasswordLine(line) && line.size() <= InputLine::kMaxHistoryLine)
            lines.push_back(line);
    }
    if (lines.size() > InputLine::kMaxHistory)
        lines.erase(lines.begin(),
                    lines.end() - static_cast<std::ptrdiff_t>(InputLine::kMaxHistory));
    return lines;
}

bool saveHistory(const std::string& path, const std::vector<std::string>& lines) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc | std::ios::binary);
        ::chmod(temporary.c_str(), 0600);
        const std::size_t first =
            lines.size() > InputLine::kMaxHistory ? lines.size() - InputLine::kMaxHistory : 0;
        for (std::size_t i = first; i < lines.size(); ++i)
            if (!isPasswordLine(lines[i]))
                out << lines[i] << '\n';
        if (!out)
            return false;
    }
    std::filesystem::rename(temporary, path, error);
    return !error;
}

}  // namespace lantry::cli

// Assembling one client command line: keyword, then arguments separated by one blank.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ondrel/wire.h"

namespace lantry {

class CommandLine {
public:
    // `keyword` without its trailing blank.
    explicit CommandLine(std::string_view keyword) : line_(keyword) {}

    // One argument between double quotes, written as given (the caller escapes).
    CommandLine& quoted(std::string_view text) {
        line_.reserve(line_.size() + text.size() + 3);
        line_ += " \"";
        line_ += text;
        line_ += '"';
        return *this;
    }
    CommandLine& quoted(std::int64_t number) { return quoted(std::to_string(number)); }
    // A value the protocol takes verbatim: only \ and " get a backslash, so that the value
    // cannot end its quoted argument early.
    CommandLine& verbatim(std::string_view text) { return quoted(wire::escapeQuoted(text)); }
    // One argument without quotes.
    CommandLine& bare(std::string_view text) {
        line_ += ' ';
        line_ += text;
        return *this;
    }
    const std::string& text() const { return line_; }

private:
    std::string line_;
};

}  // namespace lantry

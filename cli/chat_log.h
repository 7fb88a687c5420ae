// Conversation logs, as a person at a terminal expects to find them: one plain-text file per
// account and correspondent or room, DIRECTORY/logs/ACCOUNT/NAME.log (a room's file is
// "#ROOM.log"; bytes other than letters, digits, '-' and '.' in a name as %XX), each line
// "YYYY-MM-DD HH:MM:SS text" appended when it happens. The status buffer is not logged.
// Folders are made private (0700) and files private (0600): they hold conversations.
//
// Writes are best effort: a file that cannot be written is reported once by failed() and
// logging goes on for the others.
#pragma once

#include <string>

#include "chat_buffers.h"

namespace lantry::cli {

class ChatLog {
public:
    // Logs go under `directory` for `account` (normalised); empty directory: no logs.
    void open(const std::string& directory, const std::string& account);
    bool enabled() const { return enabled_ && !directory_.empty(); }
    void setEnabled(bool on) { enabled_ = on; }
    // Appends `line` to the file of `buffer` when logging and the buffer is a conversation.
    void write(const Buffer& buffer, const Line& line);
    // The file `buffer` is logged to.
    std::string fileOf(const Buffer& buffer) const;
    // The first file that could not be written since the last call, or empty.
    std::string failed();

private:
    std::string directory_;
    bool enabled_ = true;
    std::string failed_;
    bool reported_ = false;
};

// `text` without the SGR sequences the client adds for emphasis.
std::string withoutEmphasis(const std::string& text);

}  // namespace lantry::cli

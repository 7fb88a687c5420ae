// The terminal client's buffers and windows, apart from any way of drawing them.
//
// A buffer holds dated lines: buffer 1 is the status buffer (connection, server notices, buddy
// list, errors, help); each IM correspondent and each room gets one of its own. Buffers are
// numbered from 1 in order of opening; closing one renumbers those after it. One buffer is
// current: the one a screen shows and plain text goes to. Lines that arrive in another buffer
// are unread until it has been current and left again, and give it an activity level.
//
// Every text held here is already safe for a terminal (terminal_text.h): no control character
// but the LF that starts a message's further lines, and the SGR sequences ESC [ codes m that
// the client itself adds for emphasis. Faces hear of changes through BufferList's handlers;
// they run on the caller's thread, inside the change.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace lantry::cli {

// How much activity a buffer has had since it was last read, least first.
enum class Activity { None, Event, Message, Highlight };

struct Line {
    std::chrono::system_clock::time_point time;
    std::string text;  // as a window shows it
    // As the line-mode stream shows it, where that differs (it names the buffer); else empty.
    std::string streamText;
    // Whether the line is timestamped (help and lists are not).
    bool stamped = true;
    Activity activity = Activity::Event;
};

struct Buffer {
    enum class Kind { Status, Query, Room };
    Kind kind = Kind::Status;
    // The correspondent's name or the room's name as received, for sending and matching.
    std::string target;
    // The name as shown in titles and the status bar (terminal-safe).
    std::string name;
    // Members of a room, terminal-safe, in name order.
    std::set<std::string> members;
    // Whether the room is joined now; a room's buffer stays after leaving it.
    bool joined = false;
    std::deque<Line> lines;
    // Lines ever added; the first held line has the number added - lines.size().
    std::uint64_t added = 0;
    // Number of the first unread line, or none.
    std::uint64_t unreadFrom = kNoUnread;
    Activity activity = Activity::None;

    static constexpr std::uint64_t kNoUnread = ~std::uint64_t{0};
};

class BufferList {
public:
    // Lines a buffer keeps; older ones go.
    static constexpr std::size_t kMaxLines = 5000;

    BufferList();

    Buffer& status() { return *buffers_.front(); }
    std::size_t size() const { return buffers_.size(); }
    // The buffer numbered `number` (from 1), or null.
    Buffer* at(std::size_t number);
    std::size_t numberOf(const Buffer& buffer) const;
    Buffer& current() { return *buffers_[current_]; }
    std::size_t currentNumber() const { return current_ + 1; }

    // The buffer of a correspondent (matched by normalised name) or a room (by name), or null.
    Buffer* find(Buffer::Kind kind, const std::string& target);
    // That buffer, opened at the end when there is none. `name` is the shown name.
    Buffer& open(Buffer::Kind kind, const std::string& target, const std::string& name);

    // Makes the buffer current; the one left has been read.
    void select(std::size_t number);
    // Closes a buffer other than the status buffer; the one before it becomes current when it
    // was. False for the status buffer or a number out of range.
    bool close(std::size_t number);

    void add(Buffer& buffer, Line line);
    // A change other than a line (a name, members, the list itself).
    void touch();

    std::function<void(const Buffer&, const Line&)> lineAdded;
    std::function<void()> changed;
    // The current buffer became another one.
    std::function<void(Buffer&)> selected;

private:
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::size_t current_ = 0;
};

}  // namespace lantry::cli

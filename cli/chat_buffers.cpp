// Buffers of dated lines and the current one; see chat_buffers.h.
#include "chat_buffers.h"

#include <algorithm>

#include "ondrel/wire.h"

namespace lantry::cli {

BufferList::BufferList() {
    auto status = std::make_unique<Buffer>();
    status->name = "status";
    buffers_.push_back(std::move(status));
}

Buffer* BufferList::at(std::size_t number) {
    return number >= 1 && number <= buffers_.size() ? buffers_[number - 1].get() : nullptr;
}

std::size_t BufferList::numberOf(const Buffer& buffer) const {
    for (std::size_t i = 0; i < buffers_.size(); ++i)
        if (buffers_[i].get() == &buffer)
            return i + 1;
    return 0;
}

Buffer* BufferList::find(Buffer::Kind kind, const std::string& target) {
    const std::string key = kind == Buffer::Kind::Query ? wire::normalizeName(target) : target;
    for (const auto& b : buffers_) {
        if (b->kind != kind)
            continue;
        if ((kind == Buffer::Kind::Query ? wire::normalizeName(b->target) : b->target) == key)
            return b.get();
    }
    return nullptr;
}

Buffer& BufferList::open(Buffer::Kind kind, const std::string& target, const std::string& name) {
    if (Buffer* b = find(kind, target))
        return *b;
    auto b = std::make_unique<Buffer>();
    b->kind = kind;
    b->target = target;
    b->name = name;
    buffers_.push_back(std::move(b));
    touch();
    return *buffers_.back();
}

void BufferList::select(std::size_t number) {
    if (number < 1 || number > buffers_.size() || number - 1 == current_)
        return;
    Buffer& left = current();
    left.unreadFrom = Buffer::kNoUnread;
    left.activity = Activity::None;
    current_ = number - 1;
    current().activity = Activity::None;
    if (selected)
        selected(current());
    touch();
}

bool BufferList::close(std::size_t number) {
    if (number < 2 || number > buffers_.size())
        return false;
    const bool wasCurrent = number - 1 == current_;
    buffers_.erase(buffers_.begin() + static_cast<std::ptrdiff_t>(number - 1));
    if (current_ >= number - 1 && current_ > 0)
        --current_;
    if (wasCurrent) {
        current().activity = Activity::None;
        if (selected)
            selected(current());
    }
    touch();
    return true;
}

void BufferList::add(Buffer& buffer, Line line) {
    if (&buffer != &current()) {
        if (buffer.unreadFrom == Buffer::kNoUnread)
            buffer.unreadFrom = buffer.added;
        buffer.activity = std::max(buffer.activity, line.activity);
    }
    buffer.lines.push_back(std::move(line));
    ++buffer.added;
    if (buffer.lines.size() > kMaxLines)
        buffer.lines.pop_front();
    if (lineAdded)
        lineAdded(buffer, buffer.lines.back());
}

void BufferList::touch() {
    if (changed)
        changed();
}

}  // namespace lantry::cli

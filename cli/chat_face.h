// What the terminal client's core needs from a face: a way to show its buffers and to ask for
// a secret. Two faces exist: the line stream (line_face.h) and the full screen (screen/).
//
// A face feeds input to the core (ChatClient::handleLine, inputEnded, interrupted) and hears
// of every line and change below, on the event loop's thread, from inside the core's work: it
// must not call back into the core from these.
#pragma once

#include <string>

#include "chat_buffers.h"

namespace lantry::cli {

class ChatFace {
public:
    virtual ~ChatFace() = default;

    virtual void lineAdded(const Buffer& buffer, const Line& line) = 0;
    // Anything else the face shows changed: the buffer list, names, members, away, sign-on.
    virtual void changed() = 0;
    // The next input line answers `prompt` (a password): not shown, not kept in any history.
    virtual void askSecret(const std::string& prompt) = 0;
    // The secret has been answered.
    virtual void secretDone() = 0;
};

}  // namespace lantry::cli

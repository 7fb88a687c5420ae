// Runs `ondrel chat` with the face its terminal allows: the full screen when input and output
// are a terminal that can be drawn on (and --line-mode is not given), else the line stream.
#pragma once

#include "chat_client.h"

namespace lantry::cli {

// Needs a QCoreApplication; returns the exit status (a ChatExit) once the client quits.
int runChatClient(ChatOptions options);

}  // namespace lantry::cli

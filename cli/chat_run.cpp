// Choosing and running the face of `ondrel chat`; see chat_run.h.
#include "chat_run.h"

#include <QCoreApplication>

#include <langinfo.h>
#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "line_face.h"
#include "ondrel/wire.h"
#include "screen/screen.h"

namespace lantry::cli {

namespace {

// The client's text is UTF-8; curses and the cell widths need a UTF-8 character type.
void useUtf8Characters() {
    std::setlocale(LC_ALL, "");
    if (std::string_view(nl_langinfo(CODESET)) != "UTF-8")
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace

int runChatClient(ChatOptions options) {
    const bool wantScreen = options.screen;
    const bool lineOnTerminal = options.interactive;
    const bool colour = isatty(STDOUT_FILENO) != 0 && !std::getenv("NO_COLOR");
    const std::string account = wire::normalizeName(options.user);
    ChatClient client(std::move(options));
    std::unique_ptr<screen::Screen> screen;
    std::unique_ptr<LineFace> line;
    if (wantScreen) {
        useUtf8Characters();
        const std::string data = ChatClient::dataDirectory();
        screen = std::make_unique<screen::Screen>(
            client, !std::getenv("NO_COLOR"), data.empty() ? data : data + "/history/" + account);
        if (screen->start())
            client.setFace(screen.get());
        else
            screen.reset();
    }
    if (!screen) {
        line = std::make_unique<LineFace>(client, lineOnTerminal, colour);
        client.setFace(line.get());
        line->start();
    }
    client.start();
    const int status = QCoreApplication::exec();
    client.setFace(nullptr);
    return status;
}

}  // namespace lantry::cli

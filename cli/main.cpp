// The `ondrel` command line: subcommands bridge, chat, register and unregister.
#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bridge.h"
#include "chat_run.h"
#include "registration.h"

namespace {

constexpr const char* kUsage = R"(Usage: ondrel COMMAND [OPTIONS]

The command line of the Ondrel TOC2 client control.

Commands
  chat         a terminal client: ondrel chat [--server HOST[:PORT]] --user NAME
  bridge       the control as a JSON-RPC 2.0 service on stdin/stdout, for scripts and bots
  register     record the control so that hosts can create it by name (Lantry.Ondrel)
  unregister   remove that record
  --help       this text; every command also takes --help

Run "ondrel COMMAND --help" for the details of one command.
)";

bool wantsHelp(int argc, char** argv, int from) {
    for (int i = from; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

int runBridge(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(lantry::cli::bridgeHelp().c_str(), stdout);
        return 0;
    }
    std::string error;
    const auto options =
        lantry::cli::parseBridgeOptions(std::vector<std::string>(argv + 2, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "ondrel bridge: %s\nTry: ondrel bridge --help\n", error.c_str());
        return 2;
    }
    // The control is a widget, so the bridge needs a QApplication, but it never shows a
    // window: the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto control = lantry::cli::createControl(error);
    if (!control) {
        std::fprintf(stderr, "ondrel bridge: cannot create the control: %s\n", error.c_str());
        return 1;
    }
    return lantry::cli::runBridge(std::move(control), *options);
}

int runChat(int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(lantry::cli::chatHelp().c_str(), stdout);
        return 0;
    }
    std::string error;
    auto options =
        lantry::cli::parseChatOptions(std::vector<std::string>(argv + 2, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "ondrel chat: %s\nTry: ondrel chat --help\n", error.c_str());
        return 2;
    }
    QCoreApplication app(argc, argv);
    return lantry::cli::runChatClient(std::move(*options));
}

int runRegistration(bool registering, int argc, char** argv) {
    if (wantsHelp(argc, argv, 2)) {
        std::fputs(lantry::cli::registrationHelp().c_str(), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    return lantry::cli::runRegistration(registering,
                                        std::vector<std::string>(argv + 2, argv + argc));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command.empty() || command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, command.empty() ? stderr : stdout);
        return command.empty() ? 2 : 0;
    }
    if (command == "bridge")
        return runBridge(argc, argv);
    if (command == "chat")
        return runChat(argc, argv);
    if (command == "register" || command == "unregister")
        return runRegistration(command == "register", argc, argv);
    std::fprintf(stderr, "ondrel: unknown command \"%s\"\n\n%s", argv[1], kUsage);
    return 2;
}

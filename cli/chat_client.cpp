// The terminal client's session, input, output and requests awaiting an answer; see
// chat_client.h.
#include "chat_client.h"

#include <QByteArrayView>
#include <QRandomGenerator>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ondrel/reconnect_backoff.h"
#include "ondrel/text.h"
#include "ondrel/wire.h"
#include "terminal_text.h"

namespace lantry::cli {

namespace {

// How long an error may take to arrive and still be shown beside the command that caused it.
constexpr std::chrono::seconds kAnswerWindow{10};
// A second Ctrl-C within this time quits.
constexpr std::chrono::seconds kInterruptWindow{3};

std::optional<std::string> readPasswordFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the password file " + path;
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// A typed line as it goes out: UTF-8 (a terminal in another encoding sent Latin-1), without
// the control characters a stray key leaves (a tab counts as a blank).
std::string typedText(const std::string& line) {
    std::string clean;
    clean.reserve(line.size());
    for (const char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\t')
            clean += ' ';
        else if (b >= 0x20 && b != 0x7F)
            clean += c;
    }
    return toWireText(fromWireText(QByteArrayView(clean.data(), qsizetype(clean.size()))))
        .toStdString();
}

}  // namespace

std::optional<ChatOptions> parseChatOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    ChatOptions o;
    std::optional<std::string> server;
    bool noLog = false;
    std::optional<bool> reconnect;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            const auto eq = arg.find('=');
            if (eq != std::string::npos)
                return arg.substr(eq + 1);
            if (i + 1 < args.size())
                return args[++i];
            error = arg + " needs a value";
            return std::nullopt;
        };
        const std::string key = arg.substr(0, arg.find('='));
        const auto onOff = [&]() -> std::optional<bool> {
            const auto v = value();
            if (v && (*v == "on" || *v == "off"))
                return *v == "on";
            if (v)
                error = key + " takes on or off";
            return std::nullopt;
        };
        if (arg == "--line-mode") {
            o.lineMode = true;
        } else if (arg == "--no-log") {
            noLog = true;
        } else if (key == "--server") {
            server = value();
            if (!server)
                return std::nullopt;
        } else if (key == "--user") {
            auto v = value();
            if (!v)
                return std::nullopt;
            o.user = *v;
        } else if (key == "--pace") {
            const auto on = onOff();
            if (!on)
                return std::nullopt;
            o.pacing = *on;
        } else if (key == "--reconnect") {
            reconnect = onOff();
            if (!reconnect)
                return std::nullopt;
        } else if (key == "--password-file") {
            auto v = value();
            if (!v)
                return std::nullopt;
            o.password = readPasswordFile(*v, error);
            if (!o.password)
                return std::nullopt;
        } else {
            error = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (server && server->empty()) {
        error = "--server needs HOST[:PORT]";
        return std::nullopt;
    }
    // Where tocd listens unless told otherwise.
    if (!server)
        server = "127.0.0.1";
    if (wire::normalizeName(o.user).empty()) {
        error = "--user NAME is required";
        return std::nullopt;
    }
    o.host = *server;
    const auto colon = server->rfind(':');
    if (colon != std::string::npos) {
        const auto port = wire::toInteger(server->substr(colon + 1), 1, 65535);
        if (!port) {
            error = "the port in --server " + *server + " is not a number from 1 to 65535";
            return std::nullopt;
        }
        o.host = server->substr(0, colon);
        o.port = static_cast<std::int32_t>(*port);
    }
    o.interactive = isatty(STDIN_FILENO) != 0;
    const char* term = std::getenv("TERM");
    const bool drawable = isatty(STDOUT_FILENO) != 0 && term && std::string_view(term) != "dumb" &&
                          std::string_view(term) != "";
    o.screen = o.interactive && drawable && !o.lineMode;
    // The screen decides itself how to show emphasis.
    o.colour = o.screen || (drawable && !std::getenv("NO_COLOR"));
    o.log = o.interactive && !noLog;
    o.reconnect = reconnect.value_or(o.interactive);
    return o;
}

std::string chatHelp() {
    std::string out =
        R"(Usage: ondrel chat [--server HOST[:PORT]] --user NAME [--password-file FILE]
                   [--pace on|off] [--reconnect on|off] [--line-mode] [--no-log]

A terminal client for TOC2. The server defaults to 127.0.0.1, where tocd listens unless told
otherwise, and the port to 5190. The password is asked for without
echo on a terminal; with --password-file it is the file's first line; when input is not a
terminal and no file is given, the first input line is the password. A new name signs up on
tocd and starts with the built-in buddy "echobot", which answers every message:
  /im echobot hello

On a terminal the client runs full screen: window 1 is the status window, each person and
room you talk with gets a window of its own, a status bar shows the time, your name, the
window and the windows with news (highlighted when they hold a message to you), and the input
line stays at the bottom. Keys: Alt+1..Alt+9, Alt+0 or /window N select a window, Ctrl+N and
Ctrl+P the next and previous one, /close closes it; Left, Right, Home, End, Ctrl+A, Ctrl+E,
Ctrl+W, Ctrl+U, Ctrl+K, Backspace and Delete edit; Up and Down recall earlier lines (kept
between sessions, /passwd lines never); Tab completes commands, names and rooms (again: the
next one); PgUp and PgDn scroll; Ctrl+L redraws; Ctrl-C twice quits. Conversations are logged
under $XDG_DATA_HOME/ondrel/logs (--no-log or /log off: not). Pipes, TERM=dumb and
--line-mode get the line stream instead: one line per happening.

Type a command, or plain text to talk to the room you are in (or the person you last sent
an instant message to). Words with blanks can be put in double quotes, the last one too
(/add "My Group" "Alice Ux"). Text goes out as UTF-8; received text is shown as UTF-8 when it
is, otherwise as Latin-1, with control characters made visible (^[ for ESC). A message too
long for one command goes out in several parts (ten at most). Colours are used only when
output is a terminal and TERM is not dumb (NO_COLOR turns them off).

Lines wait for what they need, in order: lines typed during the sign-on run once signed on,
and lines after /join or /accept once the room is entered. Servers accept about one message
every 4 seconds after a burst of six; faster messages are queued (and shown so) rather than
dropped (--pace off sends at once, and servers then drop what comes too fast). End of input is /quit, once the waiting lines have run and every queued message has
gone out, so "printf 'PASSWORD\n/join Lobby\nhello\n' | ondrel chat ..." works in scripts.

When a connection that was signed on is lost, the client on a terminal signs on again by
itself, rejoins its rooms and sets its away message again: after up to 1 second, then within
pauses that double up to a minute while the server stays away (a random part of each, so that
clients cut off together do not all come back at once); /reconnect tries at once, /logoff or
/quit stops. A refused password stops it. On a pipe it is off unless --reconnect on is given.

Exit status
  0  done: the last sign-on ended by /logoff, /quit or end of input
  2  unusable arguments
  3  the server refused the sign-on (name or password, or too many sign-ons)
  4  the server could not be reached
  5  the connection was lost while signed on
  6  signed on and off, but a line was refused by the server or never sent

Commands
)";
    return out + ChatClient::commandHelp();
}

ChatClient::ChatClient(ChatOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    auto socket = std::make_unique<QtSocket>();
    socket_ = socket.get();
    control_ = std::make_unique<Ondrel>(std::move(socket), static_cast<__Ondrel*>(this));
    socket_->setPacing(options_.pacing);
    socket_->setHeldHandler([this](int sent, int dropped) { heldLeft(sent, dropped); });
    buffers_.lineAdded = [this](const Buffer& buffer, const Line& line) {
        log_.write(buffer, line);
        if (face_ != nullptr)
            face_->lineAdded(buffer, line);
    };
    buffers_.changed = [this] {
        if (face_ != nullptr)
            face_->changed();
    };
    buffers_.selected = [this](Buffer& buffer) { follow(buffer); };
    waitingTimer_.setSingleShot(true);
    connect(&waitingTimer_, &QTimer::timeout, this, &ChatClient::runWaiting);
    buddyListTimer_.setSingleShot(true);
    connect(&buddyListTimer_, &QTimer::timeout, this, &ChatClient::showBuddyList);
    reconnectTimer_.setSingleShot(true);
    connect(&reconnectTimer_, &QTimer::timeout, this, [this] {
        reconnecting_ = true;
        signOn();
    });
}

ChatClient::~ChatClient() {
    if (prompt_ != Prompt::None && face_ != nullptr)
        face_->secretDone();
    control_->setEventSink(nullptr);
}

std::string ChatClient::dataDirectory() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return std::string(data) + "/ondrel";
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/share/ondrel" : "";
}

void ChatClient::start() {
    if (options_.log)
        log_.open(dataDirectory(), options_.user);
    if (options_.password) {
        signOn();
    } else {
        promptFor(Prompt::LoginPassword, ("Password for " + options_.user + ": ").c_str());
    }
}

// --- Output ---

std::string ChatClient::paint(const std::string& text, const char* code) const {
    if (!options_.colour)
        return text;
    return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
}

void ChatClient::sayIn(Buffer& buffer, const std::string& text, Activity activity,
                       const std::string& streamText, bool stamped) {
    Line line;
    line.time = std::chrono::system_clock::now();
    line.text = text;
    line.streamText = streamText;
    line.stamped = stamped;
    line.activity = activity;
    buffers_.add(buffer, std::move(line));
    if (const std::string failed = log_.failed(); !failed.empty())
        sayIn(buffers_.status(),
              paint("Cannot write the log " + failed + "; /log off stops logs.", "31"));
}

void ChatClient::say(const std::string& text) {
    sayIn(sink(), text);
}

void ChatClient::note(const std::string& text) {
    sayIn(sink(), text, Activity::Event, {}, false);
}

void ChatClient::warn(const std::string& text) {
    say(paint(text, "31"));
}

Buffer& ChatClient::queryBuffer(const std::string& name) {
    return buffers_.open(Buffer::Kind::Query, name, wireForTerminal(name));
}

Buffer& ChatClient::roomBuffer(const std::string& name) {
    return buffers_.open(Buffer::Kind::Room, name, wireForTerminal(name));
}

Buffer& ChatClient::bufferOf(const Request& request) {
    Buffer* b = buffers_.find(request.bufferKind, request.bufferTarget);
    return b != nullptr ? *b : buffers_.status();
}

void ChatClient::follow(Buffer& buffer) {
    if (buffer.kind == Buffer::Kind::Query) {
        imTarget_ = buffer.target;
        textToRoom_ = false;
        return;
    }
    if (buffer.kind != Buffer::Kind::Room)
        return;
    const auto it = std::find_if(rooms_.begin(), rooms_.end(),
                                 [&](const Room& r) { return r.name == buffer.target; });
    if (it != rooms_.end()) {
        currentRoom_ = it->id;
        textToRoom_ = true;
    }
}

ChatClient::Summary ChatClient::summary() const {
    Summary s;
    s.name = wireForTerminal(formattedName_.empty() ? options_.user : formattedName_);
    s.away = awayMessage_.has_value();
    s.signedOn = signedOn_;
    return s;
}

std::vector<std::string> ChatClient::completions() {
    std::vector<std::string> words;
    const auto add = [&](const std::string& word) {
        if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
            words.push_back(word);
    };
    for (const Command& c : commands())
        add(std::string("/") + c.name);
    for (const Group& g : groups_)
        for (const std::string& entry : g.buddies)
            add(wireForTerminal(entry.substr(0, entry.find(':'))));
    for (const std::string& member : buffers_.current().members)
        add(member);
    for (std::size_t n = 1; n <= buffers_.size(); ++n)
        if (const Buffer* b = buffers_.at(n); b->kind != Buffer::Kind::Status)
            add(b->name);
    for (const Room& r : rooms_)
        add(wireForTerminal(r.name));
    return words;
}

void ChatClient::promptFor(Prompt prompt, const char* text) {
    prompt_ = prompt;
    if (options_.interactive && face_ != nullptr)
        face_->askSecret(text);
}

void ChatClient::interrupted() {
    const auto now = std::chrono::steady_clock::now();
    if (now - interruptedAt_ < kInterruptWindow) {
        finish();
        return;
    }
    interruptedAt_ = now;
    sayIn(buffers_.current(), paint("Ctrl-C again to quit.", "1"));
}

// --- Session ---

void ChatClient::signOn() {
    reconnectTimer_.stop();
    signedOn_ = false;
    connected_ = true;
    refused_ = false;
    refusalCode_ = 0;
    groups_.clear();
    presence_.clear();
    rooms_.clear();
    requests_.clear();
    currentRoom_.reset();
    textToRoom_ = false;
    lastInvite_.reset();
    formattedName_.clear();
    failedLines_ = 0;
    say("Connecting to " + options_.host + ":" + std::to_string(options_.port) + " as " +
        options_.user + " ...");
    control_->Login(options_.user, *options_.password, options_.host, options_.port);
}

void ChatClient::scheduleReconnect() {
    const auto pause = reconnectPause(reconnectFailures_++);
    const auto wait = reconnectWait(pause, QRandomGenerator::global()->generateDouble());
    reconnectTimer_.start(wait);
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.1f", double(wait.count()) / 1000);
    say(std::string("Reconnecting in ") + seconds + " s; /reconnect tries now, /logoff stops.");
}

void ChatClient::stopReconnecting() {
    reconnectTimer_.stop();
    reconnecting_ = false;
    reconnectFailures_ = 0;
    roomsToRejoin_.clear();
}

void ChatClient::inputEnded() {
    inputEnded_ = true;
    // A sign-on in progress finishes first; the waiting lines then run and the client quits.
    if (!connected_ || prompt_ == Prompt::LoginPassword || (waiting_.empty() && !blocked()))
        finish();
}

void ChatClient::finish() {
    if (quitting_)
        return;
    quitting_ = true;
    dropWaiting();
    dropExpired();
    if (signedOn_ && !requests_.empty()) {
        // A refusal of a line sent last would otherwise come after the client has gone.
        control_->GetStatus(options_.user);
        expect(Awaits::Quit, "/quit", options_.user, {{901, ""}});
        connect(&quitTimer_, &QTimer::timeout, this, &ChatClient::finishWhenSettled);
        quitTimer_.start(std::chrono::seconds(1));
    }
    if (const int held = socket_->heldCommands(); connected_ && held > 0) {
        say("Waiting for " + std::to_string(held) + " queued command" + (held == 1 ? "" : "s") +
            " to go out before signing off ...");
    }
    finishWhenSettled();
}

void ChatClient::finishWhenSettled() {
    if (connected_ && socket_->heldCommands() > 0)
        return;
    if (connected_ && awaiting(Awaits::Quit) != nullptr)
        return;
    finishNow();
}

void ChatClient::finishNow() {
    if (exiting_)
        return;
    stopReconnecting();
    exiting_ = true;
    quitting_ = true;
    if (connected_)
        control_->LogOff();
    if (failedLines_ > 0)
        warn(std::to_string(failedLines_) + (failedLines_ == 1 ? " line was" : " lines were") +
             " refused by the server or not sent.");
    exitWhenFlushed(socket_, static_cast<int>(exitStatus()));
}

ChatExit ChatClient::exitStatus() const {
    if (exitStatus_ != ChatExit::Done)
        return exitStatus_;
    return failedLines_ > 0 ? ChatExit::NotAllSent : ChatExit::Done;
}

void ChatClient::connectionEnded(ChatExit status) {
    signedOn_ = false;
    connected_ = false;
    exitStatus_ = status;
    buddyListTimer_.stop();
    presence_.clear();
    rooms_.clear();
    requests_.clear();
    currentRoom_.reset();
    lastInvite_.reset();
    dropWaiting();
    if (quitting_)
        finishNow();
    else if (inputEnded_)
        finish();
}

bool ChatClient::requireOnline() {
    if (signedOn_)
        return true;
    warn(connected_ ? "Not signed on yet; wait for the sign-on to finish."
                    : "Not signed on. Type /reconnect to sign on again.");
    return false;
}

void ChatClient::handleLine(const std::string& typed) {
    if (quitting_)
        return;
    if (prompt_ != Prompt::None) {
        const Prompt answered = prompt_;
        prompt_ = Prompt::None;
        if (options_.interactive && face_ != nullptr)
            face_->secretDone();
        switch (answered) {
            case Prompt::LoginPassword:
                options_.password = typed;
                signOn();
                return;
            case Prompt::OldPassword:
                oldPassword_ = typed;
                promptFor(Prompt::NewPassword, "New password: ");
                return;
            case Prompt::NewPassword:
                if (requireOnline())
                    changePassword(oldPassword_, typed);
                oldPassword_.clear();
                return;
            case Prompt::None:
                return;
        }
    }
    const std::string text = typedText(typed);
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return;
    const std::string line = text[first] == '/' ? text.substr(first) : text;
    // A person at a terminal may leave or ask for help at any time; a script's lines keep
    // their order.
    const bool atOnce =
        options_.interactive && (line.starts_with("/quit") || line.starts_with("/help"));
    if (!atOnce && (!waiting_.empty() || blocked())) {
        waiting_.push_back(line);
        return;
    }
    execute(line);
}

void ChatClient::execute(const std::string& line) {
    // Commands answer in the window they were typed in.
    sink_ = &buffers_.current();
    const int heldBefore = socket_->heldCommands();
    if (line[0] == '/')
        runCommand(line);
    else
        sendText(line);
    if (const int held = socket_->heldCommands(); held > heldBefore && !quitting_) {
        say(paint("(" + std::to_string(held) + (held == 1 ? " command" : " commands") +
                      " queued for the server's rate limit; about one goes out every " +
                      std::to_string(static_cast<int>(
                          (kServerRateClass.limitLevel + kPacingMarginMs) / 1000)) +
                      " s)",
                  "2"));
        queueShown_ = true;
    }
    sink_ = nullptr;
}

bool ChatClient::blocked() {
    if (connected_ && !signedOn_)
        return true;
    if (awaiting(Awaits::Room) == nullptr)
        return false;
    // Looked at again in a while: a join the server never answers stops holding lines once
    // its answer window has passed.
    if (!waitingTimer_.isActive())
        waitingTimer_.start(std::chrono::seconds(1));
    return true;
}

void ChatClient::runWaiting() {
    while (!waiting_.empty() && !quitting_ && !blocked()) {
        const std::string line = waiting_.front();
        waiting_.erase(waiting_.begin());
        execute(line);
    }
    if (inputEnded_ && waiting_.empty() && !quitting_ && !blocked())
        finish();
}

void ChatClient::dropWaiting() {
    if (waiting_.empty())
        return;
    const auto n = static_cast<int>(waiting_.size());
    failedLines_ += n;
    warn("Dropped " + std::to_string(n) + (n == 1 ? " line that was" : " lines that were") +
         " waiting for the sign-on or a room.");
    waiting_.clear();
}

void ChatClient::heldLeft(int sent, int dropped) {
    failedLines_ += dropped;
    const auto now = std::chrono::steady_clock::now();
    for (Request& r : requests_) {
        if (r.held > 0 && (r.held = std::max(0, r.held - sent)) == 0)
            r.expiry = now + kAnswerWindow;
    }
    if (socket_->heldCommands() > 0)
        return;
    if (queueShown_ && dropped == 0)
        say("Every queued command has gone out.");
    queueShown_ = false;
    if (quitting_)
        finishWhenSettled();
}

// --- Requests awaiting an answer ---

ChatClient::Request& ChatClient::expect(Awaits awaits, std::string command, std::string subject,
                                        std::map<std::int16_t, std::string> errors) {
    Request r;
    r.awaits = awaits;
    r.command = std::move(command);
    r.subject = wire::normalizeName(subject);
    r.errors = std::move(errors);
    r.held = socket_->heldCommands();
    r.bufferKind = sink().kind;
    r.bufferTarget = sink().target;
    r.expiry = std::chrono::steady_clock::now() + kAnswerWindow;
    return requests_.emplace_back(std::move(r));
}

void ChatClient::dropExpired() {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(requests_, [&](const Request& r) { return r.held == 0 && r.expiry < now; });
}

ChatClient::Request* ChatClient::awaiting(Awaits awaits, const std::string& subject) {
    dropExpired();
    const std::string key = wire::normalizeName(subject);
    for (Request& r : requests_)
        if (r.awaits == awaits && (key.empty() || r.subject == key))
            return &r;
    return nullptr;
}

void ChatClient::answered(const Request* request) {
    if (request == nullptr)
        return;
    // The server answers in order: commands sent before this one that get no answer when they
    // succeed would have had their error by now.
    const auto at = std::find_if(requests_.begin(), requests_.end(),
                                 [&](const Request& r) { return &r == request; });
    for (auto r = requests_.begin(); r != at;)
        r = r->awaits == Awaits::Nothing ? requests_.erase(r) : std::next(r);
}

void ChatClient::settle(const Request* request) {
    answered(request);
    std::erase_if(requests_, [&](const Request& r) { return &r == request; });
}

}  // namespace lantry::cli

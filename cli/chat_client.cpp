// The terminal client; see chat_client.h.
#include "chat_client.h"

#include <QCoreApplication>
#include <QTime>

#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace lantry::cli {

namespace {

// Presence arrives right after sign-on; the list is shown once it has had time to come in.
constexpr int kBuddyListDelayMs = 700;
constexpr std::int16_t kDefaultExchange = 4;

std::string normalized(std::string_view name) {
    std::string out;
    for (const char c : name)
        if (c != ' ')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Splits `text` into blank-separated words ("double quotes" group blanks into one word). The
// first `words` words are split off and the rest stays as one last piece, blanks kept.
std::vector<std::string> splitArgs(const std::string& text, int words) {
    std::vector<std::string> out;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ')
            ++i;
    };
    skipBlanks();
    while (i < text.size()) {
        if (static_cast<int>(out.size()) == words) {
            out.push_back(text.substr(i));
            break;
        }
        std::string word;
        if (text[i] == '"') {
            const std::size_t end = text.find('"', i + 1);
            word = text.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            i = end == std::string::npos ? text.size() : end + 1;
        } else {
            const std::size_t end = std::min(text.find(' ', i), text.size());
            word = text.substr(i, end - i);
            i = end;
        }
        out.push_back(std::move(word));
        skipBlanks();
    }
    return out;
}

std::optional<std::int64_t> toInteger(const std::string& text, std::int64_t low,
                                      std::int64_t high) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || v < low || v > high)
        return std::nullopt;
    return v;
}

void setEcho(bool on) {
    termios t{};
    if (tcgetattr(STDIN_FILENO, &t) != 0)
        return;
    if (on)
        t.c_lflag |= ECHO;
    else
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

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

}  // namespace

std::optional<ChatOptions> parseChatOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    ChatOptions o;
    std::optional<std::string> server;
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
        if (key == "--server") {
            server = value();
            if (!server)
                return std::nullopt;
        } else if (key == "--user") {
            auto v = value();
            if (!v)
                return std::nullopt;
            o.user = *v;
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
    if (!server || server->empty()) {
        error = "--server HOST[:PORT] is required";
        return std::nullopt;
    }
    if (normalized(o.user).empty()) {
        error = "--user NAME is required";
        return std::nullopt;
    }
    o.host = *server;
    const auto colon = server->rfind(':');
    if (colon != std::string::npos) {
        const auto port = toInteger(server->substr(colon + 1), 1, 65535);
        if (!port) {
            error = "the port in --server " + *server + " is not a number from 1 to 65535";
            return std::nullopt;
        }
        o.host = server->substr(0, colon);
        o.port = static_cast<std::int32_t>(*port);
    }
    o.interactive = isatty(STDIN_FILENO) != 0;
    const char* term = std::getenv("TERM");
    o.colour = isatty(STDOUT_FILENO) != 0 && term && std::string_view(term) != "dumb" &&
               std::string_view(term) != "" && !std::getenv("NO_COLOR");
    return o;
}

const std::vector<ChatClient::Command>& ChatClient::commands() {
    static const std::vector<Command> table = {
        {"help", "[COMMAND]", "this list, or the usage of one command", 0, 1, &ChatClient::cmdHelp},
        {"im", "NAME TEXT", "send an instant message", 2, 2, &ChatClient::cmdIm},
        {"r", "TEXT", "reply to the last person who sent you a message", 1, 1,
         &ChatClient::cmdReply},
        {"away", "[TEXT]", "set an away message; without text: back", 0, 1, &ChatClient::cmdAway},
        {"idle", "MINUTES", "report yourself idle for that long (0: not idle)", 1, 1,
         &ChatClient::cmdIdle},
        {"info", "NAME", "ask for someone's profile", 1, 1, &ChatClient::cmdInfo},
        {"status", "NAME", "ask for someone's presence", 1, 1, &ChatClient::cmdStatus},
        {"buddies", "", "show the buddy list", 0, 0, &ChatClient::cmdBuddies},
        {"add", "GROUP NAME", "add a buddy to a group", 2, 2, &ChatClient::cmdAdd},
        {"remove", "GROUP NAME", "remove a buddy from a group", 2, 2, &ChatClient::cmdRemove},
        {"group", "GROUP", "add a group", 1, 1, &ChatClient::cmdGroup},
        {"ungroup", "GROUP", "remove a group", 1, 1, &ChatClient::cmdUngroup},
        {"block", "NAME", "add someone to your block (deny) list", 1, 1, &ChatClient::cmdBlock},
        {"unblock", "NAME", "remove someone from your block list", 1, 1, &ChatClient::cmdUnblock},
        {"permit", "NAME", "add someone to your permit list", 1, 1, &ChatClient::cmdPermit},
        {"unpermit", "NAME", "remove someone from your permit list", 1, 1,
         &ChatClient::cmdUnpermit},
        {"privacy", "MODE",
         "who may reach you: all, none, permit (permit list only), deny (all but the block "
         "list), buddies; or 1-5",
         1, 1, &ChatClient::cmdPrivacy},
        {"join", "ROOM", "join (or create) a chat room; it becomes the current room", 1, 1,
         &ChatClient::cmdJoin},
        {"say", "TEXT", "talk in the current room", 1, 1, &ChatClient::cmdSay},
        {"leave", "[ROOM]", "leave the current room, or the room named", 0, 1,
         &ChatClient::cmdLeave},
        {"invite", "NAME [TEXT]", "invite someone into the current room", 1, 2,
         &ChatClient::cmdInvite},
        {"accept", "[CHAT-ID]", "accept the last invitation, or the one with that ID", 0, 1,
         &ChatClient::cmdAccept},
        {"rooms", "", "list the rooms you are in", 0, 0, &ChatClient::cmdRooms},
        {"warn", "NAME [anon]", "warn someone, openly or anonymously", 1, 2, &ChatClient::cmdWarn},
        {"nick", "FORMAT", "change how your screen name is shown (case and blanks)", 1, 1,
         &ChatClient::cmdNick},
        {"passwd", "[OLD NEW]", "change your password (asked for when not given)", 0, 2,
         &ChatClient::cmdPasswd},
        {"profile", "TEXT", "set your profile", 1, 1, &ChatClient::cmdProfile},
        {"caps", "UUID", "announce a capability", 1, 1, &ChatClient::cmdCaps},
        {"raw", "COMMAND", "send one TOC command line as it stands", 1, 1, &ChatClient::cmdRaw},
        {"reconnect", "", "sign on again", 0, 0, &ChatClient::cmdReconnect},
        {"logoff", "", "sign off and stay", 0, 0, &ChatClient::cmdLogoff},
        {"quit", "", "sign off and leave", 0, 0, &ChatClient::cmdQuit},
    };
    return table;
}

std::string chatHelp() {
    std::string out = R"(Usage: ondrel chat --server HOST[:PORT] --user NAME [--password-file FILE]

A terminal client for TOC2. The port defaults to 5190. The password is asked for without
echo on a terminal; with --password-file it is the file's first line; when input is not a
terminal and no file is given, the first input line is the password. A new name signs up on
tocd and starts with the built-in buddy "echobot", which answers every message:
  /im echobot hello

Type a command, or plain text to talk to the room you are in (or the person you last sent
an instant message to). Words with blanks can be put in double quotes ("/add "My Group" bob").
End of input is /quit. Colours are used only when output is a terminal and TERM is not dumb
(NO_COLOR turns them off).

Commands
)";
    return out + ChatClient::commandHelp();
}

std::string ChatClient::commandHelp() {
    std::string out;
    for (const Command& c : commands()) {
        std::string head = std::string("  /") + c.name + (*c.usage ? " " : "") + c.usage;
        head.resize(std::max<std::size_t>(head.size() + 1, 24), ' ');
        out += head + c.summary + "\n";
    }
    return out;
}

ChatClient::ChatClient(ChatOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    auto socket = std::make_unique<QtSocket>();
    socket_ = socket.get();
    control_ = std::make_unique<Ondrel>(std::move(socket), static_cast<__Ondrel*>(this));
    buddyListTimer_.setSingleShot(true);
    connect(&buddyListTimer_, &QTimer::timeout, this, &ChatClient::showBuddyList);
    connect(&reader_, &LineReader::lineRead, this, &ChatClient::handleLine);
    connect(&reader_, &LineReader::lineTooLong, this,
            [this] { warn("Input line too long; dropped."); });
    connect(&reader_, &LineReader::endOfInput, this, &ChatClient::finish);
}

ChatClient::~ChatClient() {
    if (prompt_ != Prompt::None && options_.interactive)
        setEcho(true);
    control_->setEventSink(nullptr);
}

void ChatClient::start() {
    reader_.start();
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

void ChatClient::say(const std::string& text) {
    const QByteArray stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toLatin1();
    writeLine(paint("[" + stamp.toStdString() + "]", "2") + " " + text);
}

void ChatClient::note(const std::string& text) {
    writeLine(text);
}

void ChatClient::warn(const std::string& text) {
    say(paint(text, "31"));
}

void ChatClient::promptFor(Prompt prompt, const char* text) {
    prompt_ = prompt;
    // The prompt goes where a person looks even when stdout is a pipe.
    std::fputs(text, stderr);
    std::fflush(stderr);
    if (options_.interactive)
        setEcho(false);
}

// --- Session ---

void ChatClient::signOn() {
    signedOn_ = false;
    connected_ = true;
    groups_.clear();
    presence_.clear();
    rooms_.clear();
    currentRoom_ = 0;
    say("Connecting to " + options_.host + ":" + std::to_string(options_.port) + " as " +
        options_.user + " ...");
    control_->Login(options_.user, *options_.password, options_.host, options_.port);
}

void ChatClient::finish() {
    if (quitting_)
        return;
    quitting_ = true;
    if (connected_)
        control_->LogOff();
    exitWhenFlushed(socket_, 0);
}

bool ChatClient::requireOnline() {
    if (signedOn_)
        return true;
    warn(connected_ ? "Not signed on yet; wait for the sign-on to finish."
                    : "Not signed on. Type /reconnect to sign on again.");
    return false;
}

void ChatClient::handleLine(const std::string& line) {
    if (quitting_)
        return;
    if (prompt_ != Prompt::None) {
        const Prompt answered = prompt_;
        prompt_ = Prompt::None;
        if (options_.interactive) {
            setEcho(true);
            std::fputs("\n", stderr);
        }
        switch (answered) {
            case Prompt::LoginPassword:
                options_.password = line;
                signOn();
                return;
            case Prompt::OldPassword:
                oldPassword_ = line;
                promptFor(Prompt::NewPassword, "New password: ");
                return;
            case Prompt::NewPassword:
                if (requireOnline()) {
                    control_->ChangePassword(oldPassword_, line);
                    say("Password change sent.");
                }
                oldPassword_.clear();
                return;
            case Prompt::None:
                return;
        }
    }
    if (line.find_first_not_of(' ') == std::string::npos)
        return;
    if (connected_ && !signedOn_ && line.rfind("/quit", 0) != 0 && line.rfind("/help", 0) != 0) {
        // Typed ahead while signing on: carried out, in order, once signed on.
        typedAhead_.push_back(line);
        return;
    }
    if (line[0] != '/') {
        sendText(line);
        return;
    }
    const std::size_t nameEnd = std::min(line.find(' '), line.size());
    const std::string name = line.substr(1, nameEnd - 1);
    const auto& table = commands();
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const Command& c) { return name == c.name; });
    if (it == table.end()) {
        warn("Unknown command /" + name + ". Type /help for the list.");
        return;
    }
    const std::string rest = line.substr(nameEnd);
    const bool extra = it->maxArgs == 0 && rest.find_first_not_of(' ') != std::string::npos;
    const std::vector<std::string> args = splitArgs(rest, std::max(it->maxArgs - 1, 0));
    if (extra || static_cast<int>(args.size()) < it->minArgs) {
        warn(std::string("Usage: /") + it->name + (*it->usage ? " " : "") + it->usage);
        return;
    }
    (this->*(it->handler))(args);
}

void ChatClient::sendText(const std::string& text) {
    if (currentRoom_ != 0) {
        cmdSay({text});
    } else if (!imTarget_.empty()) {
        cmdIm({imTarget_, text});
    } else {
        warn("No conversation yet: use /im NAME TEXT, or /join ROOM. /help lists all commands.");
    }
}

// --- Buddy list ---

std::string ChatClient::presenceText(const std::string& buddy) const {
    const auto it = presence_.find(normalized(buddy));
    if (it == presence_.end() || !it->second.online)
        return "offline";
    const Presence& p = it->second;
    std::string text = p.away ? "away" : "online";
    if (p.idleMinutes > 0)
        text += ", idle " + std::to_string(p.idleMinutes) + " min";
    if (p.warning > 0)
        text += ", warning " + std::to_string(p.warning) + "%";
    return text;
}

void ChatClient::showBuddyList() {
    if (groups_.empty()) {
        note("Your buddy list is empty. Try: /add Buddies echobot");
        return;
    }
    note("Buddy list:");
    for (const Group& g : groups_) {
        note("  " + g.name);
        for (const std::string& entry : g.buddies) {
            const auto colon = entry.find(':');
            const std::string name = entry.substr(0, colon);
            const std::string shown =
                colon == std::string::npos ? name : entry.substr(colon + 1) + " (" + name + ")";
            const std::string state = presenceText(name);
            note("    " + shown + "  " + (state == "offline" ? state : paint(state, "32")));
        }
    }
}

// --- Commands ---

void ChatClient::cmdHelp(const std::vector<std::string>& a) {
    if (a.empty()) {
        for (std::string_view rest = commandHelp(); !rest.empty();) {
            const auto end = rest.find('\n');
            note(std::string(rest.substr(0, end)));
            rest.remove_prefix(end + 1);
        }
        note("Plain text goes to the current room, or to the last /im partner.");
        return;
    }
    const std::string name = a[0][0] == '/' ? a[0].substr(1) : a[0];
    for (const Command& c : commands()) {
        if (name == c.name) {
            note(std::string("/") + c.name + (*c.usage ? " " : "") + c.usage + "  " + c.summary);
            return;
        }
    }
    warn("Unknown command /" + name + ". Type /help for the list.");
}

void ChatClient::cmdIm(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->SendIM(a[0], a[1], false);
    imTarget_ = a[0];
    currentRoom_ = 0;
    say(paint("-> " + a[0], "36") + ": " + a[1]);
}

void ChatClient::cmdReply(const std::vector<std::string>& a) {
    if (lastSender_.empty()) {
        warn("Nobody has sent you a message yet.");
        return;
    }
    cmdIm({lastSender_, a[0]});
}

void ChatClient::cmdAway(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    const std::string text = a.empty() ? std::string() : a[0];
    control_->SetAwayMessage(text);
    say(text.empty() ? "You are back." : "You are away: " + text);
}

void ChatClient::cmdIdle(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    const auto minutes = toInteger(a[0], 0, INT32_MAX);
    if (!minutes) {
        warn("Usage: /idle MINUTES (a whole number)");
        return;
    }
    try {
        control_->SetIdleTime(static_cast<std::int32_t>(*minutes));
    } catch (const std::exception& e) {
        warn(e.what());
        return;
    }
    say(*minutes == 0 ? "You are no longer idle." : "Idle time set to " + a[0] + " minutes.");
}

void ChatClient::cmdInfo(const std::vector<std::string>& a) {
    if (requireOnline())
        control_->GetProfile(a[0]);
}

void ChatClient::cmdStatus(const std::vector<std::string>& a) {
    if (requireOnline())
        control_->GetStatus(a[0]);
}

void ChatClient::cmdBuddies(const std::vector<std::string>&) {
    showBuddyList();
}

void ChatClient::cmdAdd(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->AddBuddy(a[0], a[1]);
    // The server confirms an addition only to the account's other sessions.
    auto g = std::find_if(groups_.begin(), groups_.end(),
                          [&](const Group& x) { return x.name == a[0]; });
    if (g == groups_.end())
        g = groups_.insert(groups_.end(), Group{a[0], {}});
    g->buddies.push_back(a[1]);
    say("Added " + a[1] + " to " + a[0] + ".");
}

void ChatClient::cmdRemove(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->RemoveBuddy(a[0], a[1]);
    for (Group& g : groups_) {
        if (g.name != a[0])
            continue;
        std::erase_if(g.buddies, [&](const std::string& entry) {
            return normalized(entry.substr(0, entry.find(':'))) == normalized(a[1]);
        });
    }
    say("Removed " + a[1] + " from " + a[0] + ".");
}

void ChatClient::cmdGroup(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->AddGroup(a[0]);
    if (std::none_of(groups_.begin(), groups_.end(),
                     [&](const Group& g) { return g.name == a[0]; }))
        groups_.push_back(Group{a[0], {}});
    say("Added group " + a[0] + ".");
}

void ChatClient::cmdUngroup(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->RemoveGroup(a[0]);
    std::erase_if(groups_, [&](const Group& g) { return g.name == a[0]; });
    say("Removed group " + a[0] + ".");
}

void ChatClient::cmdBlock(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->BlockUser(a[0]);
    say("Blocked " + a[0] + ".");
}

void ChatClient::cmdUnblock(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->UnblockUser(a[0]);
    say("Unblocked " + a[0] + ".");
}

void ChatClient::cmdPermit(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->AddPrivateUser(a[0]);
    say("Added " + a[0] + " to your permit list.");
}

void ChatClient::cmdUnpermit(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->RemovePrivateUser(a[0]);
    say("Removed " + a[0] + " from your permit list.");
}

void ChatClient::cmdPrivacy(const std::vector<std::string>& a) {
    static const std::pair<const char*, std::int16_t> modes[] = {
        {"all", 1}, {"none", 2}, {"permit", 3}, {"deny", 4}, {"buddies", 5}};
    std::optional<std::int16_t> mode;
    for (const auto& [word, value] : modes)
        if (a[0] == word)
            mode = value;
    if (!mode) {
        if (auto n = toInteger(a[0], 1, 5))
            mode = static_cast<std::int16_t>(*n);
    }
    if (!mode) {
        warn("Usage: /privacy all|none|permit|deny|buddies (or 1-5)");
        return;
    }
    if (!requireOnline())
        return;
    control_->SetPrivacy(*mode);
    say("Privacy mode " + std::to_string(*mode) + " set.");
}

void ChatClient::cmdJoin(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->JoinChat(a[0], kDefaultExchange);
    say("Joining " + a[0] + " ...");
}

void ChatClient::cmdSay(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (currentRoom_ == 0) {
        warn("You are in no room; /join ROOM first.");
        return;
    }
    control_->SendChat(std::string(), a[0], currentRoom_);
}

void ChatClient::cmdLeave(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (!a.empty()) {
        control_->LeaveChat(a[0]);
        return;
    }
    if (currentRoom_ == 0) {
        warn("You are in no room.");
        return;
    }
    control_->LeaveChat(std::string(), currentRoom_);
}

void ChatClient::cmdInvite(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (currentRoom_ == 0) {
        warn("You are in no room; /join ROOM first.");
        return;
    }
    const std::string text =
        a.size() > 1 ? a[1] : "Join me in " + control_->GetChatName(currentRoom_);
    control_->InviteUsers(std::string(), text, a[0], currentRoom_);
    say("Invited " + a[0] + " to " + control_->GetChatName(currentRoom_) + ".");
}

void ChatClient::cmdAccept(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    std::int32_t id = lastInvite_;
    if (!a.empty()) {
        const auto n = toInteger(a[0], INT32_MIN, INT32_MAX);
        if (!n) {
            warn("Usage: /accept [CHAT-ID]");
            return;
        }
        id = static_cast<std::int32_t>(*n);
    }
    if (id == 0) {
        warn("No invitation to accept.");
        return;
    }
    control_->AcceptChatInvite(id);
    say("Accepting the invitation to chat " + std::to_string(id) + " ...");
}

void ChatClient::cmdRooms(const std::vector<std::string>&) {
    if (rooms_.empty()) {
        note("You are in no room.");
        return;
    }
    for (const auto& [id, name] : rooms_)
        note("  " + name + " (chat " + std::to_string(id) + ")" +
             (id == currentRoom_ ? "  <- current" : "") +
             (id == control_->LastChatID() ? "  (joined last)" : ""));
}

void ChatClient::cmdWarn(const std::vector<std::string>& a) {
    const bool anonymous = a.size() > 1 && a[1] == "anon";
    if (a.size() > 1 && !anonymous) {
        warn("Usage: /warn NAME [anon]");
        return;
    }
    if (!requireOnline())
        return;
    control_->WarnUser(a[0], anonymous);
    say("Warned " + a[0] + (anonymous ? " anonymously." : "."));
}

void ChatClient::cmdNick(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->FormatUserName(a[0]);
}

void ChatClient::cmdPasswd(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (a.size() == 2) {
        control_->ChangePassword(a[0], a[1]);
        say("Password change sent.");
    } else if (a.empty()) {
        promptFor(Prompt::OldPassword, "Old password: ");
    } else {
        warn("Usage: /passwd [OLD NEW]");
    }
}

void ChatClient::cmdProfile(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->SetProfile(a[0]);
    say("Profile set.");
}

void ChatClient::cmdCaps(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->SetCapability(a[0]);
    say("Capability " + a[0] + " announced.");
}

void ChatClient::cmdRaw(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->SendPacket(2, a[0]);
}

void ChatClient::cmdReconnect(const std::vector<std::string>&) {
    signOn();
}

void ChatClient::cmdLogoff(const std::vector<std::string>&) {
    if (!connected_) {
        warn("Not signed on.");
        return;
    }
    control_->LogOff();
}

void ChatClient::cmdQuit(const std::vector<std::string>&) {
    finish();
}

// --- Events ---

void ChatClient::IncomingPacket(std::string strPacket) {
    // The server's sign-on frame: the connection is up and the credentials go out now.
    if (!signedOn_ && strPacket.size() > 1 && strPacket[1] == 1)
        say("Connected; signing on ...");
}

void ChatClient::ScreennameFormat(std::string strFormattedSN) {
    if (signedOn_)
        say("Your screen name is now shown as " + strFormattedSN + ".");
}

void ChatClient::LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                          Collection& PrivateList, Collection&, std::string, std::int16_t) {
    signedOn_ = true;
    groups_.clear();
    for (const std::string& item : BuddyList) {
        if (item.rfind("[group]", 0) == 0) {
            groups_.push_back(Group{item.substr(7), {}});
        } else {
            if (groups_.empty())
                groups_.push_back(Group{"Buddies", {}});
            groups_.back().buddies.push_back(item);
        }
    }
    say(paint("Signed on as " + strUserName + ".", "1") + " Type /help for commands.");
    if (!BlockList.empty() || !PrivateList.empty())
        say("Blocked: " + std::to_string(BlockList.size()) +
            ", permitted: " + std::to_string(PrivateList.size()) + ".");
    buddyListTimer_.start(kBuddyListDelayMs);
    // After this handler: the server hears "toc_init_done" before the typed-ahead commands.
    QTimer::singleShot(0, this, &ChatClient::runTypedAhead);
}

void ChatClient::runTypedAhead() {
    auto lines = std::move(typedAhead_);
    typedAhead_.clear();
    for (const std::string& line : lines) {
        if (!signedOn_ || quitting_)
            return;
        handleLine(line);
    }
}

void ChatClient::dropTypedAhead() {
    if (typedAhead_.empty())
        return;
    warn("Dropped " + std::to_string(typedAhead_.size()) +
         " line(s) typed before the sign-on finished.");
    typedAhead_.clear();
}

void ChatClient::LoggedOut(std::string) {
    const bool was = connected_;
    signedOn_ = false;
    connected_ = false;
    buddyListTimer_.stop();
    if (was)
        say("Signed off.");
}

void ChatClient::BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                             std::int32_t, std::int32_t lngIdleTime, std::string strUserClass) {
    Presence now;
    now.online = blnOnline;
    now.away = blnOnline && strUserClass.size() >= 3 && strUserClass[2] == 'U';
    now.idleMinutes = blnOnline ? lngIdleTime : 0;
    now.warning = intWarningLevel;
    Presence& held = presence_[normalized(strBuddy)];
    const bool changed = held.online != now.online || held.away != now.away ||
                         (held.idleMinutes > 0) != (now.idleMinutes > 0) ||
                         held.warning != now.warning;
    held = now;
    // Until the list is shown, presence goes into it instead of separate lines.
    if (changed && !buddyListTimer_.isActive())
        say(strBuddy + " is " + (now.online ? presenceText(strBuddy) : "offline") + ".");
}

void ChatClient::InstantMessage(std::string& strUserName, std::string& strMessage,
                                bool& blnAutoResponse, std::string&) {
    lastSender_ = strUserName;
    say(paint("<" + strUserName + ">", "1;36") + (blnAutoResponse ? " (auto)" : "") + " " +
        Ondrel::RemoveHtml(strMessage));
}

void ChatClient::TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) {
    switch (intTypingStatus) {
        case 2:
            say(strUserName + " is typing ...");
            break;
        case 1:
            say(strUserName + " stopped typing.");
            break;
        default:
            break;
    }
}

void ChatClient::JoinedChat(std::string& strChatName, std::int32_t& lngChatID) {
    rooms_.push_back(Room{lngChatID, strChatName});
    currentRoom_ = lngChatID;
    say("You are in " + strChatName + " (chat " + std::to_string(lngChatID) +
        "). Plain text now goes there.");
}

void ChatClient::ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                             std::string& strMessage) {
    say("[" + control_->GetChatName(lngChatID) + "] " + paint("<" + strUserName + ">", "1;33") +
        " " + Ondrel::RemoveHtml(strMessage));
}

void ChatClient::ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) {
    say(strUserName + (blnInside ? " is in " : " left ") + control_->GetChatName(lngChatID) + ".");
}

void ChatClient::LeftChat(std::int32_t& lngChatID) {
    // The control has freed the slot already; the name is our own copy.
    const auto it = std::find_if(rooms_.begin(), rooms_.end(),
                                 [&](const Room& r) { return r.id == lngChatID; });
    const std::string name = it == rooms_.end() ? "chat " + std::to_string(lngChatID) : it->name;
    if (it != rooms_.end())
        rooms_.erase(it);
    say("You left " + name + ".");
    if (currentRoom_ == lngChatID)
        currentRoom_ = rooms_.empty() ? 0 : rooms_.back().id;
}

void ChatClient::ChatInvite(std::string& strChatName, std::int32_t& lngChatID,
                            std::string& strFromUser, std::string& strInviteMessage) {
    lastInvite_ = lngChatID;
    say(strFromUser + " invites you to " + strChatName + ": " +
        Ondrel::RemoveHtml(strInviteMessage) + "  (/accept to join)");
}

void ChatClient::BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) {
    auto g = std::find_if(groups_.begin(), groups_.end(),
                          [&](const Group& x) { return x.name == strGroup; });
    if (g == groups_.end())
        g = groups_.insert(groups_.end(), Group{strGroup, {}});
    g->buddies.push_back(strAlias.empty() ? strBuddy : strBuddy + ":" + strAlias);
    say("Buddy " + strBuddy + " added to " + strGroup + ".");
}

void ChatClient::GroupAdded(std::string& strGroup) {
    if (std::none_of(groups_.begin(), groups_.end(),
                     [&](const Group& g) { return g.name == strGroup; }))
        groups_.push_back(Group{strGroup, {}});
    say("Group " + strGroup + " added.");
}

void ChatClient::BuddyRemoved(std::string& strGroup, std::string& strBuddy) {
    for (Group& g : groups_) {
        if (g.name != strGroup)
            continue;
        std::erase_if(g.buddies, [&](const std::string& entry) {
            return normalized(entry.substr(0, entry.find(':'))) == normalized(strBuddy);
        });
    }
    say("Buddy " + strBuddy + " removed from " + strGroup + ".");
}

void ChatClient::GroupRemoved(std::string& strGroup) {
    std::erase_if(groups_, [&](const Group& g) { return g.name == strGroup; });
    say("Group " + strGroup + " removed.");
}

void ChatClient::PrivateBuddyAdded(std::string& strBuddy) {
    say(strBuddy + " added to your permit list.");
}
void ChatClient::PrivateBuddyRemoved(std::string& strBuddy) {
    say(strBuddy + " removed from your permit list.");
}
void ChatClient::BuddyBlocked(std::string& strBuddy) {
    say(strBuddy + " blocked.");
}
void ChatClient::BuddyUnblocked(std::string& strBuddy) {
    say(strBuddy + " unblocked.");
}

void ChatClient::UserProfile(std::string& strURL) {
    say("Profile: " + strURL);
}

void ChatClient::Error(std::int16_t& intErrorCode, std::string& strError) {
    const std::string text = strError + " (error " + std::to_string(intErrorCode) + ")";
    warn(signedOn_ || !connected_ ? text : "Sign-on failed: " + text);
}

void ChatClient::WinsockError(std::string& strError) {
    const bool wasOn = signedOn_;
    signedOn_ = false;
    connected_ = false;
    buddyListTimer_.stop();
    rooms_.clear();
    currentRoom_ = 0;
    if (quitting_)
        return;
    dropTypedAhead();
    warn((wasOn ? "Connection lost: " : "Could not sign on: ") + strError +
         ". Type /reconnect to sign on again.");
}

void ChatClient::Warned(std::string& intWarningLevel, std::string& strFromUser) {
    warn("You were warned" +
         (strFromUser.empty() ? std::string(" anonymously") : " by " + strFromUser) +
         "; your warning level is now " + intWarningLevel + "%.");
}

void ChatClient::RendevousRequest(std::string& strUserName, std::string& strUUID, std::string&,
                                  std::string&, std::string&, std::string&, std::int32_t&) {
    say(strUserName + " proposes a direct connection (" + strUUID +
        "); this client does not take part in those.");
}

void ChatClient::PasswordChanged() {
    say("The server answered the password change.");
}

void ChatClient::ScreenNameFormatted() {
    say("The server answered the screen-name format.");
}

}  // namespace lantry::cli

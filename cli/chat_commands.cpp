// The terminal client's command table and its handlers; see chat_client.h.
#include <QByteArray>
#include <QUuid>

#include <algorithm>
#include <stdexcept>

#include "chat_client.h"
#include "ondrel/text.h"
#include "ondrel/wire.h"
#include "terminal_text.h"

namespace lantry::cli {

namespace {

constexpr std::int16_t kDefaultExchange = 4;
// Parts past this many would run into servers' rate limits and be dropped; a longer text is
// refused whole, so nothing goes out half.
constexpr qsizetype kMaxMessageParts = 10;
// How long /status waits for the server before it says the status is unknown; well inside
// the window in which a request awaits its answer.
constexpr std::chrono::seconds kStatusWait{3};

std::string tooLong(qsizetype parts) {
    return "the text is too long: it would take " + std::to_string(parts) +
           " messages, and at most " + std::to_string(kMaxMessageParts) + " go out at once.";
}

// Privacy modes in words, as /privacy takes and shows them; the older words still work.
constexpr std::pair<const char*, std::int16_t> kPrivacyWords[] = {
    {"allow-all", ChatClient::kAllowAll},     {"block-all", ChatClient::kBlockAll},
    {"permit-list", ChatClient::kPermitList}, {"block-list", ChatClient::kBlockList},
    {"buddies", ChatClient::kBuddiesOnly},    {"all", ChatClient::kAllowAll},
    {"none", ChatClient::kBlockAll},          {"permit", ChatClient::kPermitList},
    {"deny", ChatClient::kBlockList},
};

std::string privacyWord(std::int16_t mode) {
    for (const auto& [word, value] : kPrivacyWords)
        if (value == mode)
            return word;
    return std::to_string(mode);
}

std::string privacyMeaning(std::int16_t mode) {
    switch (mode) {
        case ChatClient::kAllowAll:
            return "everyone may reach you";
        case ChatClient::kBlockAll:
            return "nobody may reach you";
        case ChatClient::kPermitList:
            return "only the people on your permit list may reach you";
        case ChatClient::kBlockList:
            return "everyone but the people on your block list may reach you";
        case ChatClient::kBuddiesOnly:
            return "only the people on your buddy list may reach you";
        default:
            return "a mode this client does not know";
    }
}

// Splits `text` into blank-separated words ("double quotes" group blanks into one word). The
// first `words` words are split off and the rest stays as one last piece, blanks kept; that
// piece loses its double quotes when `lastIsText` is false and it is one quoted word.
std::vector<std::string> splitArgs(const std::string& text, int words, bool lastIsText) {
    std::vector<std::string> out;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ')
            ++i;
    };
    skipBlanks();
    while (i < text.size()) {
        if (static_cast<int>(out.size()) == words) {
            std::string rest = text.substr(i);
            const auto last = rest.find_last_not_of(' ');
            if (!lastIsText && rest.size() > 1 && rest[0] == '"' && rest.find('"', 1) == last)
                rest = rest.substr(1, last - 1);
            out.push_back(std::move(rest));
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

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + (w.find(' ') == std::string::npos ? w : '"' + w + '"');
    return out;
}

std::string notOnline(const std::string& name) {
    return name + " is not online";
}

}  // namespace

const std::vector<ChatClient::Command>& ChatClient::commands() {
    static const std::vector<Command> table = {
        {"help", "[COMMAND]", "this list, or the usage of one command", 0, 1, false,
         &ChatClient::cmdHelp},
        {"im", "NAME TEXT", "send an instant message", 2, 2, true, &ChatClient::cmdIm},
        {"r", "TEXT", "reply to the last person who sent you a message", 1, 1, true,
         &ChatClient::cmdReply},
        {"away", "[TEXT]", "set an away message, answered once to each caller; no text: back", 0, 1,
         true, &ChatClient::cmdAway},
        {"idle", "MINUTES", "report yourself idle for that long (0: not idle)", 1, 1, false,
         &ChatClient::cmdIdle},
        {"info", "NAME", "show someone's profile", 1, 1, false, &ChatClient::cmdInfo},
        {"status", "NAME", "show someone's presence", 1, 1, false, &ChatClient::cmdStatus},
        {"buddies", "", "show the buddy list", 0, 0, false, &ChatClient::cmdBuddies},
        {"add", "GROUP NAME", "add a buddy to a group", 2, 2, false, &ChatClient::cmdAdd},
        {"remove", "GROUP NAME", "remove a buddy from a group", 2, 2, false,
         &ChatClient::cmdRemove},
        {"group", "GROUP", "add a group", 1, 1, false, &ChatClient::cmdGroup},
        {"ungroup", "GROUP", "remove a group", 1, 1, false, &ChatClient::cmdUngroup},
        {"block", "NAME", "add someone to your block list (and block that list)", 1, 1, false,
         &ChatClient::cmdBlock},
        {"unblock", "NAME", "remove someone from your block list", 1, 1, false,
         &ChatClient::cmdUnblock},
        {"permit", "NAME", "add someone to your permit list", 1, 1, false, &ChatClient::cmdPermit},
        {"unpermit", "NAME", "remove someone from your permit list", 1, 1, false,
         &ChatClient::cmdUnpermit},
        {"privacy", "[MODE]",
         "show or set who may reach you: allow-all, block-all, permit-list, block-list, "
         "buddies (or 1-5)",
         0, 1, false, &ChatClient::cmdPrivacy},
        {"join", "ROOM", "join (or create) a chat room; it becomes the current room", 1, 1, false,
         &ChatClient::cmdJoin},
        {"say", "TEXT", "talk in the current room", 1, 1, true, &ChatClient::cmdSay},
        {"leave", "[ROOM]", "leave the current room, or the room named", 0, 1, false,
         &ChatClient::cmdLeave},
        {"invite", "NAME [TEXT]", "invite someone into the current room", 1, 2, true,
         &ChatClient::cmdInvite},
        {"accept", "[CHAT-ID]", "accept the last invitation, or the one with that ID", 0, 1, false,
         &ChatClient::cmdAccept},
        {"rooms", "", "list the rooms you are in", 0, 0, false, &ChatClient::cmdRooms},
        {"warn", "NAME [anon]", "warn someone, openly or anonymously", 1, 2, false,
         &ChatClient::cmdWarn},
        {"nick", "FORMAT", "change how your screen name is shown (case and blanks)", 1, 1, false,
         &ChatClient::cmdNick},
        {"passwd", "[OLD NEW]", "change your password (asked for when not given)", 0, 2, false,
         &ChatClient::cmdPasswd},
        {"profile", "TEXT", "set your profile", 1, 1, true, &ChatClient::cmdProfile},
        {"caps", "UUID", "announce a capability", 1, 1, false, &ChatClient::cmdCaps},
        {"raw", "COMMAND", "send one TOC command line as it stands", 1, 1, true,
         &ChatClient::cmdRaw},
        {"reconnect", "", "sign on again", 0, 0, false, &ChatClient::cmdReconnect},
        {"logoff", "", "sign off and stay", 0, 0, false, &ChatClient::cmdLogoff},
        {"quit", "", "sign off and leave", 0, 0, false, &ChatClient::cmdQuit},
        {"window", "[N]", "show window N (Alt+N), or list the windows", 0, 1, false,
         &ChatClient::cmdWindow},
        {"close", "", "close the current window (leaving its room)", 0, 0, false,
         &ChatClient::cmdClose},
        {"names", "", "list the members of the current room", 0, 0, false, &ChatClient::cmdNames},
        {"log", "[on|off]", "keep conversation logs, or stop; no word: where they go", 0, 1, false,
         &ChatClient::cmdLog},
    };
    return table;
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

void ChatClient::runCommand(const std::string& line) {
    const std::size_t nameEnd = std::min(line.find(' '), line.size());
    const std::string name = line.substr(1, nameEnd - 1);
    const auto& table = commands();
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const Command& c) { return name == c.name; });
    if (it == table.end()) {
        warn("Unknown command /" + terminalText(QString::fromStdString(name)) +
             ". Type /help for the list.");
        return;
    }
    const std::string rest = line.substr(nameEnd);
    const bool extra = it->maxArgs == 0 && rest.find_first_not_of(' ') != std::string::npos;
    const std::vector<std::string> args =
        splitArgs(rest, std::max(it->maxArgs - 1, 0), it->lastIsText);
    if (extra || static_cast<int>(args.size()) < it->minArgs) {
        warn(std::string("Usage: /") + it->name + (*it->usage ? " " : "") + it->usage);
        return;
    }
    (this->*(it->handler))(args);
}

void ChatClient::sendText(const std::string& text) {
    if (textToRoom_ && currentRoom_) {
        cmdSay({text});
    } else if (!imTarget_.empty()) {
        cmdIm({imTarget_, text});
    } else {
        warn("No conversation yet: use /im NAME TEXT, or /join ROOM. /help lists all commands.");
    }
}

bool ChatClient::sentWhole(const std::string& command, const std::function<void()>& call) {
    // The control refuses a command it cannot send (too long for servers) with an Error at once.
    expect(Awaits::Nothing, command, {}, {{0, ""}});
    const std::uint64_t before = errorsShown_;
    call();
    return errorsShown_ == before;
}

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
    const auto parts = splitForIm(QByteArray::fromStdString(a[1]), QByteArray::fromStdString(a[0]));
    if (parts.isEmpty()) {
        warn("/im " + a[0] + ": the name is too long to send a message to.");
        return;
    }
    if (parts.size() > kMaxMessageParts) {
        warn("/im " + a[0] + ": " + tooLong(parts.size()));
        return;
    }
    for (const QByteArray& part : parts)
        control_->SendIM(a[0], part.toStdString(), false);
    Buffer& query = queryBuffer(a[0]);
    buffers_.select(buffers_.numberOf(query));
    sink_ = &query;
    expect(Awaits::Nothing, "/im " + a[0], a[0], {{901, notOnline(a[0])}});
    imTarget_ = a[0];
    textToRoom_ = false;
    const std::string sentIn =
        parts.size() > 1 ? "  (sent in " + std::to_string(parts.size()) + " parts)" : "";
    sayIn(query,
          paint("<" + summary().name + ">", "1") + " " +
              terminalText(QString::fromStdString(a[1])) + sentIn,
          Activity::Message, paint("-> " + a[0], "36") + ": " + a[1] + sentIn);
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
    if (!sentWhole("/away", [&] { control_->SetAwayMessage(text); }))
        return;
    awayRepliedAt_.clear();
    buffers_.touch();
    if (text.empty()) {
        awayMessage_.reset();
        say("You are back.");
    } else {
        awayMessage_ = text;
        say("You are away: " + text);
    }
}

void ChatClient::cmdIdle(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    const auto minutes = wire::toInteger(a[0], INT32_MIN, INT32_MAX);
    if (!minutes) {
        warn("Usage: /idle MINUTES (a whole number)");
        return;
    }
    if (*minutes < 0) {
        warn("/idle " + a[0] + ": minutes start at 0 (0: not idle).");
        return;
    }
    try {
        control_->SetIdleTime(static_cast<std::int32_t>(*minutes));
    } catch (const std::overflow_error&) {
        warn("/idle " + a[0] + ": too many minutes; the most is " + std::to_string(INT32_MAX / 60) +
             ".");
        return;
    }
    say(*minutes == 0 ? "You are no longer idle." : "Idle time set to " + a[0] + " minutes.");
}

void ChatClient::cmdInfo(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->GetProfile(a[0]);
    expect(Awaits::Profile, "/info " + a[0], a[0],
           {{901, notOnline(a[0]) + ", so the server shows no profile"}});
}

void ChatClient::cmdStatus(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->GetStatus(a[0]);
    expect(Awaits::Status, "/status " + a[0], a[0], {{901, notOnline(a[0])}});
    waitForStatus(a[0]);
}

void ChatClient::waitForStatus(const std::string& name) {
    QTimer::singleShot(kStatusWait, this, [this, name] {
        const Request* r = awaiting(Awaits::Status, name);
        if (r && r->held > 0) {
            waitForStatus(name);  // still queued: the wait starts once it has gone out
        } else if (r) {
            settle(r);
            say(name + ": unknown; the server did not answer.");
        }
    });
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
    // Only a refusal comes back to this session; it names no one.
    expect(Awaits::Nothing, "/add " + a[0] + " " + a[1], {}, {{913, ""}});
    say("Adding " + a[1] + " to " + a[0] + " ...");
}

void ChatClient::cmdRemove(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->RemoveBuddy(a[0], a[1]);
    for (Group& g : groups_) {
        if (g.name != a[0])
            continue;
        std::erase_if(g.buddies, [&](const std::string& entry) {
            return wire::normalizeName(entry.substr(0, entry.find(':'))) ==
                   wire::normalizeName(a[1]);
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
    // A block list counts only in the mode that uses it.
    if (privacyMode_ == kAllowAll)
        setPrivacy(kBlockList);
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
    if (a.empty()) {
        say("Privacy: " + privacyWord(privacyMode_) + " (" + privacyMeaning(privacyMode_) + ").");
        return;
    }
    std::optional<std::int16_t> mode;
    for (const auto& [word, value] : kPrivacyWords)
        if (a[0] == word)
            mode = value;
    if (!mode) {
        if (auto n = wire::toInteger(a[0], kAllowAll, kBuddiesOnly))
            mode = static_cast<std::int16_t>(*n);
    }
    if (!mode) {
        warn("Usage: /privacy allow-all|block-all|permit-list|block-list|buddies (or 1-5)");
        return;
    }
    if (requireOnline())
        setPrivacy(static_cast<PrivacyMode>(*mode));
}

void ChatClient::setPrivacy(PrivacyMode mode) {
    control_->SetPrivacy(mode);
    privacyMode_ = mode;
    say("Privacy is now " + privacyWord(mode) + ": " + privacyMeaning(mode) + ".");
}

void ChatClient::cmdJoin(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    joinRoom(a[0]);
}

void ChatClient::joinRoom(const std::string& name) {
    control_->JoinChat(name, kDefaultExchange);
    const std::string shown = wireForTerminal(name);
    expect(Awaits::Room, "/join " + shown, {}, {{950, "the room is not available"}, {951, ""}});
    say("Joining " + shown + " ...");
}

void ChatClient::cmdSay(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (!currentRoom_) {
        warn("You are in no room; /join ROOM first.");
        return;
    }
    const auto parts = splitForChat(QByteArray::fromStdString(a[0]), *currentRoom_);
    if (parts.size() > kMaxMessageParts) {
        warn("/say: " + tooLong(parts.size()));
        return;
    }
    textToRoom_ = true;
    for (const QByteArray& part : parts)
        control_->SendChat(roomName(*currentRoom_), part.toStdString(), *currentRoom_);
    if (parts.size() > 1)
        sayIn(roomBuffer(roomName(*currentRoom_)),
              "(sent in " + std::to_string(parts.size()) + " parts)");
}

void ChatClient::cmdLeave(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    std::optional<std::int32_t> id = currentRoom_;
    if (!a.empty()) {
        const auto it = std::find_if(rooms_.begin(), rooms_.end(),
                                     [&](const Room& r) { return r.name == a[0]; });
        if (it == rooms_.end()) {
            warn("/leave " + a[0] + ": you are not in a room of that name; /rooms lists yours.");
            return;
        }
        id = it->id;
    }
    if (!id) {
        warn("You are in no room.");
        return;
    }
    control_->LeaveChat(roomName(*id), *id);
}

void ChatClient::cmdInvite(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (!currentRoom_) {
        warn("You are in no room; /join ROOM first.");
        return;
    }
    const std::string room = roomName(*currentRoom_);
    const std::string text = a.size() > 1 ? a[1] : "Join me in " + room;
    control_->InviteUsers(room, text, a[0], *currentRoom_);
    expect(Awaits::Nothing, "/invite " + a[0], a[0], {{901, notOnline(a[0])}});
    say("Invited " + a[0] + " to " + wireForTerminal(room) + ".");
}

void ChatClient::cmdAccept(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    std::optional<std::int32_t> id = lastInvite_;
    if (!a.empty()) {
        const auto n = wire::toInt32(a[0]);
        if (!n) {
            warn("Usage: /accept [CHAT-ID]");
            return;
        }
        id = *n;
    }
    if (!id) {
        warn("No invitation to accept.");
        return;
    }
    const std::string room = std::to_string(*id);
    control_->AcceptChatInvite(*id);
    expect(Awaits::Room, "/accept " + room, {},
           {{950, "there is no invitation to room " + room},
            {911, "there is no invitation to room " + room},
            {951, ""}});
    say("Accepting the invitation to chat " + room + " ...");
}

void ChatClient::cmdRooms(const std::vector<std::string>&) {
    if (rooms_.empty()) {
        note("You are in no room.");
        return;
    }
    for (const auto& [id, name] : rooms_)
        note("  " + wireForTerminal(name) + " (chat " + std::to_string(id) + ")" +
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
    // The server answers a warning only with a refusal; the status asked next shows the level.
    control_->GetStatus(a[0]);
    expect(Awaits::Warning, "/warn " + joined(a), a[0],
           {{902, "refused: the server does not let you warn " + a[0] + " now"},
            {901, notOnline(a[0])}});
}

void ChatClient::cmdNick(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    control_->FormatUserName(a[0]);
    expect(Awaits::Nick, "/nick " + a[0], {},
           {{911, "only capital letters and blanks may change"},
            {913, "the server could not store it"}});
}

void ChatClient::cmdPasswd(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (a.size() == 2 && a[1].empty()) {
        warn("/passwd: the new password is empty.");
    } else if (a.size() == 2) {
        changePassword(a[0], a[1]);
    } else if (a.empty()) {
        promptFor(Prompt::OldPassword, "Old password: ");
    } else {
        warn("Usage: /passwd [OLD NEW]");
    }
}

void ChatClient::changePassword(const std::string& oldPassword, const std::string& newPassword) {
    control_->ChangePassword(oldPassword, newPassword);
    expect(Awaits::Password, "/passwd", {},
           {{980, "refused: the old password is wrong"},
            {911, "refused: the old password is wrong"},
            {913, "refused: the server could not store it"}})
        .newPassword = newPassword;
}

void ChatClient::cmdProfile(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    if (sentWhole("/profile", [&] { control_->SetProfile(a[0]); }))
        say("Profile set.");
}

void ChatClient::cmdCaps(const std::vector<std::string>& a) {
    if (QUuid::fromString(QString::fromStdString(a[0])).isNull()) {
        warn("/caps " + a[0] +
             ": a capability is a UUID, such as 09461343-4C7F-11D1-8222-444553540000.");
        return;
    }
    if (!requireOnline())
        return;
    control_->SetCapability(a[0]);
    say("Capability " + a[0] + " announced.");
}

void ChatClient::cmdRaw(const std::vector<std::string>& a) {
    if (!requireOnline())
        return;
    sentWhole("/raw", [&] { control_->SendPacket(2, a[0]); });
}

std::string ChatClient::roomName(std::int32_t id) const {
    // The control finds a room by name when its ID is 0, as the first room's is on real
    // servers; the name it holds is the one the server confirmed, as kept here.
    const auto it =
        std::find_if(rooms_.begin(), rooms_.end(), [&](const Room& r) { return r.id == id; });
    return it == rooms_.end() ? control_->GetChatName(id) : it->name;
}

void ChatClient::cmdReconnect(const std::vector<std::string>&) {
    // The pauses start over; a failure of this attempt is retried only when one was under way.
    reconnectFailures_ = 0;
    signOn();
}

void ChatClient::cmdLogoff(const std::vector<std::string>&) {
    if (reconnectTimer_.isActive()) {
        stopReconnecting();
        say("Stopped reconnecting. Type /reconnect to sign on again.");
        return;
    }
    stopReconnecting();
    if (!connected_) {
        warn("Not signed on.");
        return;
    }
    control_->LogOff();
}

void ChatClient::cmdQuit(const std::vector<std::string>&) {
    finish();
}

void ChatClient::cmdWindow(const std::vector<std::string>& a) {
    if (a.empty()) {
        for (std::size_t n = 1; n <= buffers_.size(); ++n) {
            const Buffer& b = *buffers_.at(n);
            note("  " + std::to_string(n) + "  " + b.name +
                 (b.kind == Buffer::Kind::Room ? (b.joined ? "  (room)" : "  (room, left)") : "") +
                 (n == buffers_.currentNumber() ? "  <- current" : ""));
        }
        return;
    }
    const auto n = wire::toInteger(a[0], 1, static_cast<std::int64_t>(buffers_.size()));
    if (!n) {
        warn("/window " + a[0] + ": there are windows 1 to " + std::to_string(buffers_.size()) +
             ".");
        return;
    }
    buffers_.select(static_cast<std::size_t>(*n));
    sink_ = &buffers_.current();
}

void ChatClient::cmdClose(const std::vector<std::string>&) {
    Buffer& b = buffers_.current();
    if (b.kind == Buffer::Kind::Status) {
        warn("The status window stays.");
        return;
    }
    if (b.kind == Buffer::Kind::Room && b.joined && signedOn_) {
        const auto it = std::find_if(rooms_.begin(), rooms_.end(),
                                     [&](const Room& r) { return r.name == b.target; });
        if (it != rooms_.end())
            control_->LeaveChat(it->name, it->id);
    }
    buffers_.close(buffers_.currentNumber());
    sink_ = &buffers_.current();
}

void ChatClient::cmdNames(const std::vector<std::string>&) {
    const Buffer& b = buffers_.current();
    if (b.kind != Buffer::Kind::Room || !b.joined) {
        warn("/names lists a room's members; this window is no room you are in.");
        return;
    }
    std::string list;
    for (const std::string& member : b.members)
        list += (list.empty() ? "" : ", ") + member;
    note(b.name + " (" + std::to_string(b.members.size()) + "): " + list);
}

void ChatClient::cmdLog(const std::vector<std::string>& a) {
    if (!a.empty() && a[0] != "on" && a[0] != "off") {
        warn("Usage: /log [on|off]");
        return;
    }
    if (!a.empty()) {
        if (a[0] == "on" && !options_.log) {
            options_.log = true;
            log_.open(dataDirectory(), options_.user);
        }
        log_.setEnabled(a[0] == "on");
    }
    if (!log_.enabled()) {
        say("Conversations are not logged.");
        return;
    }
    const Buffer& b = buffers_.current();
    say("Conversations are logged" +
        (b.kind == Buffer::Kind::Status ? "." : "; this one to " + log_.fileOf(b)));
}

}  // namespace lantry::cli

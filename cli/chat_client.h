// `ondrel chat`: a line-oriented terminal client on the control, for a person at a terminal
// or over ssh, and equally usable with pipes (no terminal, TERM=dumb: plain text, no colour).
//
// Input: one line per command ("/im bob hi", see chatHelp()) or plain text for the current
// conversation; control characters typed by accident (Ctrl-L) are dropped, and what goes out
// is UTF-8. A line waits, in order with the lines after it, until the state it needs exists:
// lines typed during the sign-on run once signed on, and lines after a /join or /accept run
// once the room is entered (or the join has failed). Output: one line per happening, each
// event line with a time stamp; every text that came from the server passes through
// terminal_text.h. Commands that the socket holds back for the server's rate limit are shown
// as queued until they go out.
//
// Lines go into buffers (chat_buffers.h), which a face (chat_face.h) shows: the status buffer,
// one per correspondent and one per room. What a command says goes to the current buffer;
// messages, room events and the answers to a command go to the buffer they concern; other
// events go to the status buffer. Plain text goes to the current buffer's correspondent or
// room, and from the status buffer to the last one written to. Everything runs on the Qt event
// loop's thread. The client quits the loop after /quit, or at end of input once the waiting lines
// have run and every queued command has gone out, when the connection has sent what was queued; the
// exit status is a ChatExit.
//
// The class's work is spread over files by seam: chat_client.cpp (session, input, output,
// requests awaiting an answer), chat_commands.cpp (the command table and its handlers),
// chat_events.cpp (the control's events as lines for a person).
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat_buffers.h"
#include "chat_face.h"
#include "chat_log.h"
#include "line_io.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

namespace lantry::cli {

// Exit statuses of `ondrel chat`, for scripts. The status says how the last sign-on went.
enum class ChatExit : int {
    Done = 0,            // signed on and off, or quit before any failure
    BadArguments = 2,    // the command line was unusable
    SignOnRefused = 3,   // the server refused the name or password (or the sign-on)
    NoConnection = 4,    // the server could not be reached
    ConnectionLost = 5,  // the connection ended while signed on
    NotAllSent = 6,      // signed on and off, but some lines were refused or never sent
};

struct ChatOptions {
    std::string host;
    std::int32_t port = Ondrel::kDefaultPort;
    std::string user;
    // Unset: read from the terminal without echo, or as the first input line without one.
    std::optional<std::string> password;
    bool colour = false;
    // Hold messages back so that the server's rate limit never drops them.
    bool pacing = true;
    // Sign on again by itself after losing a signed-on connection; on for a person at a
    // terminal, off on a pipe (a script learns of the loss from the exit status).
    bool reconnect = false;
    // Input is a terminal: password prompts are shown and switch its echo off.
    bool interactive = false;
    // Output is a terminal that can be drawn on: the full screen, unless lineMode.
    bool screen = false;
    bool lineMode = false;  // --line-mode: the line stream even on a terminal
    // Conversations are logged under the data directory; on for a person at a terminal.
    bool log = false;
};

// Parses the arguments after "chat". Returns nullopt with `error` set when they are unusable.
std::optional<ChatOptions> parseChatOptions(const std::vector<std::string>& args,
                                            std::string& error);

class ChatClient final : public QObject, private __Ondrel {
    Q_OBJECT
public:
    explicit ChatClient(ChatOptions options, QObject* parent = nullptr);
    ~ChatClient() override;

    // `face` shows the buffers from now on; it outlives the client's use of it.
    void setFace(ChatFace* face) { face_ = face; }
    // Signs on (after asking for the password if needed).
    void start();

    // One input line: a command, plain text, or the answer to a password prompt.
    void handleLine(const std::string& line);
    // No more input will come: /quit once the waiting lines have run.
    void inputEnded();
    // Ctrl-C: the first asks to press it again; a second within a few seconds quits.
    void interrupted();

    BufferList& buffers() { return buffers_; }
    // What a status bar shows of the session.
    struct Summary {
        std::string name;  // terminal-safe
        bool away = false;
        bool signedOn = false;
    };
    Summary summary() const;
    // Words for completion: the commands (with their slash), then screen names (buddies, the
    // current room's members, correspondents) and room names, each once.
    std::vector<std::string> completions();
    // Input history and logs live under this directory (the XDG data directory's "ondrel").
    static std::string dataDirectory();

    // One line per command: usage and what it does.
    static std::string commandHelp();

    // Privacy modes as the control numbers them (SetPrivacy, LoggedIn).
    enum PrivacyMode : std::int16_t {
        kAllowAll = 1,
        kBlockAll = 2,
        kPermitList = 3,
        kBlockList = 4,
        kBuddiesOnly = 5
    };

private:
    struct Presence {
        bool online = false;
        bool away = false;
        std::int32_t idleMinutes = 0;
        std::int16_t warning = 0;
    };
    struct Group {
        std::string name;
        std::vector<std::string> buddies;  // as stored: "name" or "name:alias"
    };
    struct Room {
        std::int32_t id;
        std::string name;
    };
    enum class Prompt { None, LoginPassword, OldPassword, NewPassword };

    using Handler = void (ChatClient::*)(const std::vector<std::string>& args);
    struct Command {
        const char* name;
        const char* usage;  // the arguments, for the usage line and /help
        const char* summary;
        int minArgs;
        // Arguments the handler takes; the last one keeps the rest of the line.
        int maxArgs;
        // The last argument is free text, kept as typed; otherwise a word, whose double quotes
        // are removed.
        bool lastIsText;
        Handler handler;
    };
    static const std::vector<Command>& commands();

    // A command whose outcome arrives later: an Error naming it, or an event that settles it.
    // Quit: the status of our own name, asked when quitting, whose answer follows the answers
    // to every command sent before it.
    enum class Awaits { Nothing, Status, Warning, Profile, Nick, Password, Room, Quit };
    struct Request {
        Awaits awaits;
        std::string command;  // as typed, to name it beside an error
        std::string subject;  // the normalised name the answer concerns, or empty
        // Error codes this command can cause, each with the words shown after the command.
        std::map<std::int16_t, std::string> errors;
        std::string newPassword;
        // The buffer the command was typed in, where its answer goes.
        Buffer::Kind bufferKind = Buffer::Kind::Status;
        std::string bufferTarget;
        bool refused = false;
        // Commands the socket held back when this one was made, itself included: its answer
        // window starts once they have gone out.
        int held = 0;
        std::chrono::steady_clock::time_point expiry;
    };

    // Output: to the buffer in sink_, else the status buffer.
    void say(const std::string& text);   // a line with a time stamp
    void note(const std::string& text);  // a plain line (help, lists, usage)
    void warn(const std::string& text);  // an error line with a time stamp
    // A line for `buffer`; `streamText` is how the line stream shows it when that differs.
    void sayIn(Buffer& buffer, const std::string& text, Activity activity = Activity::Event,
               const std::string& streamText = {}, bool stamped = true);
    std::string paint(const std::string& text, const char* code) const;
    Buffer& sink() { return sink_ != nullptr ? *sink_ : buffers_.status(); }
    Buffer& queryBuffer(const std::string& name);
    Buffer& roomBuffer(const std::string& name);
    // The buffer a request's answer goes to.
    Buffer& bufferOf(const Request& request);
    // The current buffer's correspondent or room takes plain text.
    void follow(Buffer& buffer);

    // Session.
    void signOn();
    // After a lost connection, or an automatic attempt that failed in a way a later one may
    // overcome: signs on again after a random part of the next pause.
    void scheduleReconnect();
    void stopReconnecting();
    // /quit and end of input: once every queued command has gone out, signs off and exits.
    void finish();
    // Exits once nothing is queued and the last answers are in.
    void finishWhenSettled();
    void finishNow();
    ChatExit exitStatus() const;
    void promptFor(Prompt prompt, const char* text);
    bool requireOnline();
    // Whether a line must wait now: signing on, or a room being entered.
    bool blocked();
    // Runs the waiting lines that can run now, in order.
    void runWaiting();
    void dropWaiting();
    // Held commands left the socket's queue.
    void heldLeft(int sent, int dropped);
    // Runs `line` and says so when it left commands queued.
    void execute(const std::string& line);
    void connectionEnded(ChatExit status);
    void runCommand(const std::string& line);
    void sendText(const std::string& text);

    // Requests awaiting an answer.
    Request& expect(Awaits awaits, std::string command, std::string subject,
                    std::map<std::int16_t, std::string> errors);
    // Forgets requests whose answer window has passed.
    void dropExpired();
    // The oldest live request awaiting `awaits` about `subject` (any subject when empty).
    Request* awaiting(Awaits awaits, const std::string& subject = {});
    // Drops the requests before `request` that are answered only when they fail.
    void answered(const Request* request);
    // `request` (when not null) has had its answer: it goes, with those answered() drops.
    void settle(const Request* request);

    // Buddy list and presence.
    void showBuddyList();
    std::string presenceText(const std::string& buddy) const;
    void fetchProfile(const std::string& url);
    // Says a /status went unanswered once it has been out for a while.
    void waitForStatus(const std::string& name);

    // Commands.
    void cmdHelp(const std::vector<std::string>& a);
    void cmdIm(const std::vector<std::string>& a);
    void cmdReply(const std::vector<std::string>& a);
    void cmdAway(const std::vector<std::string>& a);
    void cmdIdle(const std::vector<std::string>& a);
    void cmdInfo(const std::vector<std::string>& a);
    void cmdStatus(const std::vector<std::string>& a);
    void cmdAdd(const std::vector<std::string>& a);
    void cmdRemove(const std::vector<std::string>& a);
    void cmdGroup(const std::vector<std::string>& a);
    void cmdUngroup(const std::vector<std::string>& a);
    void cmdBlock(const std::vector<std::string>& a);
    void cmdUnblock(const std::vector<std::string>& a);
    void cmdPermit(const std::vector<std::string>& a);
    void cmdUnpermit(const std::vector<std::string>& a);
    void cmdPrivacy(const std::vector<std::string>& a);
    void cmdJoin(const std::vector<std::string>& a);
    void cmdSay(const std::vector<std::string>& a);
    void cmdLeave(const std::vector<std::string>& a);
    void cmdInvite(const std::vector<std::string>& a);
    void cmdAccept(const std::vector<std::string>& a);
    void cmdRooms(const std::vector<std::string>& a);
    void cmdWarn(const std::vector<std::string>& a);
    void cmdNick(const std::vector<std::string>& a);
    void cmdPasswd(const std::vector<std::string>& a);
    void cmdProfile(const std::vector<std::string>& a);
    void cmdCaps(const std::vector<std::string>& a);
    void cmdRaw(const std::vector<std::string>& a);
    void cmdBuddies(const std::vector<std::string>& a);
    void cmdReconnect(const std::vector<std::string>& a);
    void cmdLogoff(const std::vector<std::string>& a);
    void cmdQuit(const std::vector<std::string>& a);
    void cmdWindow(const std::vector<std::string>& a);
    void cmdClose(const std::vector<std::string>& a);
    void cmdNames(const std::vector<std::string>& a);
    void cmdLog(const std::vector<std::string>& a);
    // Runs a control call that sends one command; false when the control refused it at once
    // (an Error, shown beside `command`).
    bool sentWhole(const std::string& command, const std::function<void()>& call);
    void changePassword(const std::string& oldPassword, const std::string& newPassword);
    // The name of a joined room, as the control's chat commands want it beside the ID.
    std::string roomName(std::int32_t id) const;
    void setPrivacy(PrivacyMode mode);
    // Joins (or creates) the room `name` on the default exchange; its answer settles a request.
    void joinRoom(const std::string& name);

    // Events of the control.
    void JoinedChat(std::string& strChatName, std::int32_t& lngChatID) override;
    void ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                     std::string& strMessage) override;
    void ChatInvite(std::string& strChatName, std::int32_t& lngChatID, std::string& strFromUser,
                    std::string& strInviteMessage) override;
    void LeftChat(std::int32_t& lngChatID) override;
    void ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) override;
    void BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                     std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                     std::string strUserClass) override;
    void BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) override;
    void GroupAdded(std::string& strGroup) override;
    void PrivateBuddyAdded(std::string& strBuddy) override;
    void BuddyBlocked(std::string& strBuddy) override;
    void BuddyRemoved(std::string& strGroup, std::string& strBuddy) override;
    void GroupRemoved(std::string& strGroup) override;
    void PrivateBuddyRemoved(std::string& strBuddy) override;
    void BuddyUnblocked(std::string& strBuddy) override;
    void LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                  Collection& PrivateList, Collection& MiscData, std::string strPreferences,
                  std::int16_t PrivacyMode) override;
    void LoggedOut(std::string strUserName) override;
    void ScreennameFormat(std::string strFormattedSN) override;
    void InstantMessage(std::string& strUserName, std::string& strMessage, bool& blnAutoResponse,
                        std::string& strUserClass) override;
    void UserProfile(std::string& strURL) override;
    void Error(std::int16_t& intErrorCode, std::string& strError) override;
    void Warned(std::string& intWarningLevel, std::string& strFromUser) override;
    void TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) override;
    void WinsockError(std::string& strError) override;
    void RendevousRequest(std::string& strUserName, std::string& strUUID, std::string& strCookie,
                          std::string& strRendevousIP, std::string& strProposerIP,
                          std::string& strVerifiedIP, std::int32_t& lngPort) override;
    void IncomingPacket(std::string strPacket) override;
    void PasswordChanged() override;
    void ScreenNameFormatted() override;

    ChatOptions options_;
    QtSocket* socket_ = nullptr;  // owned by control_
    std::unique_ptr<Ondrel> control_;
    BufferList buffers_;
    ChatFace* face_ = nullptr;
    // Where say() writes while a command runs or an answer is shown; else the status buffer.
    Buffer* sink_ = nullptr;
    ChatLog log_;
    std::chrono::steady_clock::time_point interruptedAt_{};
    QTimer buddyListTimer_;
    QNetworkAccessManager web_;

    bool signedOn_ = false;
    // Lines waiting for the state they need (see blocked()); dropped, with a note, when the
    // connection ends first.
    std::vector<std::string> waiting_;
    QTimer waitingTimer_;  // wakes runWaiting when a join's answer window ends
    QTimer quitTimer_;     // looks again whether the last answers are in
    QTimer reconnectTimer_;
    // The sign-on in progress was started after a loss, by the client itself: when it fails,
    // another follows. Reset by a sign-on that succeeds and by /logoff, /quit.
    bool reconnecting_ = false;
    int reconnectFailures_ = 0;  // automatic attempts failed in a row
    // The rooms joined when the connection was lost, entered again at the next sign-on
    // (forgotten by /logoff and /quit).
    std::vector<std::string> roomsToRejoin_;
    std::int16_t refusalCode_ = 0;  // why the sign-on in progress was refused
    bool exiting_ = false;
    bool queueShown_ = false;  // a "queued" note is showing; say when the queue is empty
    int failedLines_ = 0;      // refused by the server, or held when the connection ended
    bool connected_ = false;   // between Login and the connection's end
    bool refused_ = false;     // the server refused the sign-on in progress
    bool inputEnded_ = false;
    bool quitting_ = false;
    ChatExit exitStatus_ = ChatExit::Done;
    Prompt prompt_ = Prompt::None;
    std::string oldPassword_;
    std::list<Request> requests_;  // oldest first
    std::uint64_t errorsShown_ = 0;

    std::vector<Group> groups_;
    std::map<std::string, Presence> presence_;  // by normalised name
    std::int16_t privacyMode_ = kAllowAll;
    std::string formattedName_;  // as the server shows our name
    std::string lastSender_;
    std::string imTarget_;
    // Chat IDs start at 0 on real servers: no room is nullopt, not 0.
    std::optional<std::int32_t> currentRoom_;
    bool textToRoom_ = false;  // plain text goes to currentRoom_, else to imTarget_
    std::vector<Room> rooms_;  // joined, in order of joining
    std::optional<std::int32_t> lastInvite_;
    // Set while away: the text, and when each person (normalised) last got it as a reply.
    std::optional<std::string> awayMessage_;
    std::map<std::string, std::chrono::steady_clock::time_point> awayRepliedAt_;
};

// The text of `ondrel chat --help`.
std::string chatHelp();

}  // namespace lantry::cli

// `ondrel chat`: a line-oriented terminal client on the control, for a person at a terminal
// or over ssh, and equally usable with pipes (no terminal, TERM=dumb: plain text, no colour).
//
// Input: one line per command ("/im bob hi", see chatHelp()) or plain text for the current
// conversation. Output: one line per happening, each event line with a time stamp, markup
// removed. Everything runs on the Qt event loop's thread; the client quits the loop after
// /quit or end of input, once the connection has sent what was queued.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "line_io.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

namespace lantry::cli {

struct ChatOptions {
    std::string host;
    std::int32_t port = Ondrel::kDefaultPort;
    std::string user;
    // Unset: read from the terminal without echo, or as the first input line without one.
    std::optional<std::string> password;
    bool colour = false;
    // Input is a terminal: password prompts switch its echo off.
    bool interactive = false;
};

// Parses the arguments after "chat". Returns nullopt with `error` set when they are unusable.
std::optional<ChatOptions> parseChatOptions(const std::vector<std::string>& args,
                                            std::string& error);

class ChatClient final : public QObject, private __Ondrel {
    Q_OBJECT
public:
    explicit ChatClient(ChatOptions options, QObject* parent = nullptr);
    ~ChatClient() override;

    // Signs on (after reading the password if needed) and starts reading commands.
    void start();

    // One input line: a command, plain text, or the answer to a password prompt.
    void handleLine(const std::string& line);

    // One line per command: usage and what it does.
    static std::string commandHelp();

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
    enum class Prompt { None, LoginPassword, OldPassword, NewPassword };
    using Handler = void (ChatClient::*)(const std::vector<std::string>& args);
    struct Command {
        const char* name;
        const char* usage;  // the arguments, for the usage line and /help
        const char* summary;
        int minArgs;
        // Arguments the handler takes; the last one keeps the rest of the line, blanks and all.
        int maxArgs;
        Handler handler;
    };
    static const std::vector<Command>& commands();

    // Output.
    void say(const std::string& text);   // a line with a time stamp
    void note(const std::string& text);  // a plain line (help, lists, usage)
    void warn(const std::string& text);  // an error line with a time stamp
    std::string paint(const std::string& text, const char* code) const;

    void signOn();
    void finish();
    void promptFor(Prompt prompt, const char* text);
    void showBuddyList();
    std::string presenceText(const std::string& buddy) const;
    bool requireOnline();
    void runTypedAhead();
    void dropTypedAhead();
    void sendText(const std::string& text);

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
    LineReader reader_;
    QTimer buddyListTimer_;

    bool signedOn_ = false;
    // Lines typed while signing on; run once signed on, dropped (with a note) if it fails.
    std::vector<std::string> typedAhead_;
    bool connected_ = false;  // between Login and the connection's end
    bool quitting_ = false;
    Prompt prompt_ = Prompt::None;
    std::string oldPassword_;

    std::vector<Group> groups_;
    std::map<std::string, Presence> presence_;  // by normalised name
    std::string lastSender_;
    std::string imTarget_;
    std::int32_t currentRoom_ = 0;
    struct Room {
        std::int32_t id;
        std::string name;
    };
    std::vector<Room> rooms_;  // joined, in order of joining
    std::int32_t lastInvite_ = 0;
};

// The text of `ondrel chat --help`.
std::string chatHelp();

}  // namespace lantry::cli

// The event interface of the control, `__Ondrel`.
//
// A host derives from __Ondrel, overrides the events it wants (every default body is empty) and
// hands the object to the control. Events are raised synchronously on the host's thread from
// inside the operation that detects them, mostly from inside the socket's data-arrival
// notification; the control continues only after the handler returns.
//
// Parameters follow the declared passing. By-value text arrives as a std::string of the host's
// own. By-reference parameters are references to temporaries that the control discards after
// the event, so assigning to them changes nothing in the control, with one exception:
// JoinedChat's lngChatID is the control's LastChatID itself, and a handler that assigns to it
// changes the property. The collections of LoggedIn are created for that one event.
//
// A handler may call any method of the control, LogOff and Login included, and may destroy the
// control; the control then stops at once and touches nothing of itself afterwards.
//
// Text is bytes: every char holds one character code 0-255, exactly as it travelled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Default bodies are empty, so their parameters are unused by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace lantry {

// The host environment's ordered collection: items appended as text, read by position.
using Collection = std::vector<std::string>;

// Event numbers (each event's dispatch identifier).
enum class EventNumber : int {
    JoinedChat = 1,
    ChatMessage = 2,
    ChatInvite = 3,
    LeftChat = 4,
    ChatUserUpdate = 5,
    BuddyUpdate = 6,
    AddBuddy = 7,
    BuddyCapabilities = 8,
    BuddyBart = 9,
    BuddyAdded = 10,
    GroupAdded = 11,
    PrivateBuddyAdded = 12,
    BuddyBlocked = 13,
    BuddyRemoved = 14,
    GroupRemoved = 15,
    PrivateBuddyRemoved = 16,
    BuddyUnblocked = 17,
    LoggedIn = 18,
    LoggedOut = 19,
    ScreennameFormat = 20,
    InstantMessage = 21,
    UserProfile = 22,
    Error = 23,
    Warned = 24,
    TypingStatus = 25,
    WinsockError = 26,
    RendevousRequest = 27,
    IncomingPacket = 28,
    PasswordChanged = 29,
    ScreenNameFormatted = 30,
};

constexpr int kEventCount = 30;

// NOLINTNEXTLINE(bugprone-reserved-identifier): the interface's published name.
class __Ondrel {
public:
    virtual ~__Ondrel() = default;

    // 1: this user is in a chat room (CHAT_JOIN). lngChatID is LastChatID itself.
    virtual void JoinedChat(std::string& strChatName, std::int32_t& lngChatID) {}
    // 2: something was said in a chat room.
    virtual void ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                             std::string& strMessage) {}
    // 3: an invitation to a chat room; answer with AcceptChatInvite(lngChatID).
    virtual void ChatInvite(std::string& strChatName, std::int32_t& lngChatID,
                            std::string& strFromUser, std::string& strInviteMessage) {}
    // 4: this user is no longer in a chat room.
    virtual void LeftChat(std::int32_t& lngChatID) {}
    // 5: a user entered (blnInside) or left a chat room.
    virtual void ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) {}
    // 6: a buddy's presence. Times are the server's numbers, unchanged.
    virtual void BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                             std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                             std::string strUserClass) {}
    // 7: declared by the interface and never raised.
    virtual void AddBuddy(std::string& strGroup, std::string& strBuddy) {}
    // 8: a buddy's capability list, uninterpreted.
    virtual void BuddyCapabilities(std::string strUserName, std::string strCaps) {}
    // 9: a buddy's buddy-art data, uninterpreted.
    virtual void BuddyBart(std::string strUserName, std::string strBart) {}
    // 10-17: changes of the lists the server stores for this account.
    virtual void BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) {}
    virtual void GroupAdded(std::string& strGroup) {}
    virtual void PrivateBuddyAdded(std::string& strBuddy) {}
    virtual void BuddyBlocked(std::string& strBuddy) {}
    virtual void BuddyRemoved(std::string& strGroup, std::string& strBuddy) {}
    virtual void GroupRemoved(std::string& strGroup) {}
    virtual void PrivateBuddyRemoved(std::string& strBuddy) {}
    virtual void BuddyUnblocked(std::string& strBuddy) {}
    // 18: sign-on complete, with the stored configuration. BuddyList holds "[group]NAME"
    // markers and buddy entries in text order. "toc_init_done" is sent after this returns, so
    // commands sent from the handler reach the server before it.
    virtual void LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                          Collection& PrivateList, Collection& MiscData, std::string strPreferences,
                          std::int16_t PrivacyMode) {}
    // 19: raised by LogOff, with the name it signed off.
    virtual void LoggedOut(std::string strUserName) {}
    // 20: the screen name as the server formats it (NICK).
    virtual void ScreennameFormat(std::string strFormattedSN) {}
    // 21: an instant message, markup and all (see Ondrel::RemoveHtml).
    virtual void InstantMessage(std::string& strUserName, std::string& strMessage,
                                bool& blnAutoResponse, std::string& strUserClass) {}
    // 22: an address the server asks the host to open (answer to GetProfile).
    virtual void UserProfile(std::string& strURL) {}
    // 23: a server ERROR as a sentence; code 0 for the control's own findings.
    virtual void Error(std::int16_t& intErrorCode, std::string& strError) {}
    // 24: this user was warned; the level is decimal text.
    virtual void Warned(std::string& intWarningLevel, std::string& strFromUser) {}
    // 25: another user's typing status (0 none, 1 paused, 2 typing by convention).
    virtual void TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) {}
    // 26: the connection failed, was closed by the server, or was cut because the server stopped
    // reading what the control sent; the socket is closed.
    virtual void WinsockError(std::string& strError) {}
    // 27: a rendezvous proposal, reported and never answered by the control.
    virtual void RendevousRequest(std::string& strUserName, std::string& strUUID,
                                  std::string& strCookie, std::string& strRendevousIP,
                                  std::string& strProposerIP, std::string& strVerifiedIP,
                                  std::int32_t& lngPort) {}
    // 28: every incoming frame, header included, before it is acted on.
    virtual void IncomingPacket(std::string strPacket) {}
    // 29: the server answered ChangePassword (success or not).
    virtual void PasswordChanged() {}
    // 30: the server answered FormatUserName (success or not).
    virtual void ScreenNameFormatted() {}
};

}  // namespace lantry

#pragma GCC diagnostic pop

// An event sink that turns every event of the control into one JSON-RPC notification line:
// {"jsonrpc":"2.0","method":EVENT,"params":{NAME:VALUE,...}} with the event's parameter names
// in declared order (see eventTable()). Lines go to the writer given, synchronously, from
// inside the event.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "json_text.h"
#include "ondrel/events.h"

namespace lantry::cli {

class EventRelay final : public __Ondrel {
public:
    using Writer = std::function<void(const std::string& line)>;
    explicit EventRelay(Writer writer) : writer_(std::move(writer)) {}

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
    void AddBuddy(std::string& strGroup, std::string& strBuddy) override;
    void BuddyCapabilities(std::string strUserName, std::string strCaps) override;
    void BuddyBart(std::string strUserName, std::string strBart) override;
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

private:
    void notify(EventNumber number, std::vector<Value> args);

    Writer writer_;
};

}  // namespace lantry::cli

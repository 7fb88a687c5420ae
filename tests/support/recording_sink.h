// An event sink that writes every event as one line of text, arguments in declared order,
// so that scenario tests compare what happened with one list.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ondrel/events.h"

namespace lantry::testing {

class RecordingSink : public __Ondrel {
public:
    std::vector<std::string> events;
    // Optional hook, run after an event has been recorded (for handlers that call back).
    std::function<void(const std::string& name)> after;

    void JoinedChat(std::string& strChatName, std::int32_t& lngChatID) override {
        add("JoinedChat", {strChatName, num(lngChatID)});
    }
    void ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                     std::string& strMessage) override {
        add("ChatMessage", {num(lngChatID), strUserName, strMessage});
    }
    void ChatInvite(std::string& strChatName, std::int32_t& lngChatID, std::string& strFromUser,
                    std::string& strInviteMessage) override {
        add("ChatInvite", {strChatName, num(lngChatID), strFromUser, strInviteMessage});
    }
    void LeftChat(std::int32_t& lngChatID) override { add("LeftChat", {num(lngChatID)}); }
    void ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) override {
        add("ChatUserUpdate", {strUserName, flag(blnInside), num(lngChatID)});
    }
    void BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                     std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                     std::string strUserClass) override {
        add("BuddyUpdate", {strBuddy, flag(blnOnline), num(intWarningLevel), num(lngOnlineTime),
                            num(lngIdleTime), strUserClass});
    }
    void AddBuddy(std::string& strGroup, std::string& strBuddy) override {
        add("AddBuddy", {strGroup, strBuddy});
    }
    void BuddyCapabilities(std::string strUserName, std::string strCaps) override {
        add("BuddyCapabilities", {strUserName, strCaps});
    }
    void BuddyBart(std::string strUserName, std::string strBart) override {
        add("BuddyBart", {strUserName, strBart});
    }
    void BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) override {
        add("BuddyAdded", {strGroup, strBuddy, strAlias});
    }
    void GroupAdded(std::string& strGroup) override { add("GroupAdded", {strGroup}); }
    void PrivateBuddyAdded(std::string& strBuddy) override { add("PrivateBuddyAdded", {strBuddy}); }
    void BuddyBlocked(std::string& strBuddy) override { add("BuddyBlocked", {strBuddy}); }
    void BuddyRemoved(std::string& strGroup, std::string& strBuddy) override {
        add("BuddyRemoved", {strGroup, strBuddy});
    }
    void GroupRemoved(std::string& strGroup) override { add("GroupRemoved", {strGroup}); }
    void PrivateBuddyRemoved(std::string& strBuddy) override {
        add("PrivateBuddyRemoved", {strBuddy});
    }
    void BuddyUnblocked(std::string& strBuddy) override { add("BuddyUnblocked", {strBuddy}); }
    void LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                  Collection& PrivateList, Collection& MiscData, std::string strPreferences,
                  std::int16_t PrivacyMode) override {
        add("LoggedIn", {strUserName, list(BuddyList), list(BlockList), list(PrivateList),
                         list(MiscData), strPreferences, num(PrivacyMode)});
    }
    void LoggedOut(std::string strUserName) override { add("LoggedOut", {strUserName}); }
    void ScreennameFormat(std::string strFormattedSN) override {
        add("ScreennameFormat", {strFormattedSN});
    }
    void InstantMessage(std::string& strUserName, std::string& strMessage, bool& blnAutoResponse,
                        std::string& strUserClass) override {
        add("InstantMessage", {strUserName, strMessage, flag(blnAutoResponse), strUserClass});
    }
    void UserProfile(std::string& strURL) override { add("UserProfile", {strURL}); }
    void Error(std::int16_t& intErrorCode, std::string& strError) override {
        add("Error", {num(intErrorCode), strError});
    }
    void Warned(std::string& intWarningLevel, std::string& strFromUser) override {
        add("Warned", {intWarningLevel, strFromUser});
    }
    void TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) override {
        add("TypingStatus", {strUserName, num(intTypingStatus)});
    }
    void WinsockError(std::string& strError) override { add("WinsockError", {strError}); }
    void RendevousRequest(std::string& strUserName, std::string& strUUID, std::string& strCookie,
                          std::string& strRendevousIP, std::string& strProposerIP,
                          std::string& strVerifiedIP, std::int32_t& lngPort) override {
        add("RendevousRequest", {strUserName, strUUID, strCookie, strRendevousIP, strProposerIP,
                                 strVerifiedIP, num(lngPort)});
    }
    void IncomingPacket(std::string strPacket) override {
        if (recordPackets)
            add("IncomingPacket", {strPacket});
    }
    void PasswordChanged() override { add("PasswordChanged", {}); }
    void ScreenNameFormatted() override { add("ScreenNameFormatted", {}); }

    // IncomingPacket accompanies every frame; most scenarios leave it out.
    bool recordPackets = false;

private:
    static std::string num(long long v) { return std::to_string(v); }
    static std::string flag(bool v) { return v ? "true" : "false"; }
    static std::string list(const Collection& items) {
        std::string out = "[";
        // An empty item shows as '' so that it differs from an empty collection.
        for (std::size_t i = 0; i < items.size(); ++i) {
            out += (i ? "|" : "") + (items[i].empty() ? std::string("''") : items[i]);
        }
        return out + "]";
    }
    void add(const std::string& name, const std::vector<std::string>& args) {
        std::string line = name + "(";
        for (std::size_t i = 0; i < args.size(); ++i)
            line += (i ? "," : "") + args[i];
        events.push_back(line + ")");
        if (after)
            after(name);
    }
};

}  // namespace lantry::testing

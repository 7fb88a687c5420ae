// Events as JSON-RPC notifications; see event_relay.h.
#include "event_relay.h"

#include "control_tables.h"

namespace lantry::cli {

namespace {
Value num(std::int64_t n) {
    return Value(n);
}
}  // namespace

void EventRelay::notify(EventNumber number, std::vector<Value> args) {
    const EventInfo& info = eventInfo(number);
    JsonObjectWriter params;
    for (std::size_t i = 0; i < info.params.size() && i < args.size(); ++i)
        params.add(info.params[i], args[i]);
    writer_(JsonObjectWriter()
                .add("jsonrpc", std::string("2.0"))
                .add("method", std::string(info.name))
                .addRaw("params", params.finish())
                .finish());
}

using E = EventNumber;

void EventRelay::JoinedChat(std::string& strChatName, std::int32_t& lngChatID) {
    notify(E::JoinedChat, {strChatName, num(lngChatID)});
}
void EventRelay::ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                             std::string& strMessage) {
    notify(E::ChatMessage, {num(lngChatID), strUserName, strMessage});
}
void EventRelay::ChatInvite(std::string& strChatName, std::int32_t& lngChatID,
                            std::string& strFromUser, std::string& strInviteMessage) {
    notify(E::ChatInvite, {strChatName, num(lngChatID), strFromUser, strInviteMessage});
}
void EventRelay::LeftChat(std::int32_t& lngChatID) {
    notify(E::LeftChat, {num(lngChatID)});
}
void EventRelay::ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) {
    notify(E::ChatUserUpdate, {std::move(strUserName), blnInside, num(lngChatID)});
}
void EventRelay::BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                             std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                             std::string strUserClass) {
    notify(E::BuddyUpdate, {std::move(strBuddy), blnOnline, num(intWarningLevel),
                            num(lngOnlineTime), num(lngIdleTime), std::move(strUserClass)});
}
void EventRelay::AddBuddy(std::string& strGroup, std::string& strBuddy) {
    notify(E::AddBuddy, {strGroup, strBuddy});
}
void EventRelay::BuddyCapabilities(std::string strUserName, std::string strCaps) {
    notify(E::BuddyCapabilities, {std::move(strUserName), std::move(strCaps)});
}
void EventRelay::BuddyBart(std::string strUserName, std::string strBart) {
    notify(E::BuddyBart, {std::move(strUserName), std::move(strBart)});
}
void EventRelay::BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) {
    notify(E::BuddyAdded, {strGroup, strBuddy, strAlias});
}
void EventRelay::GroupAdded(std::string& strGroup) {
    notify(E::GroupAdded, {strGroup});
}
void EventRelay::PrivateBuddyAdded(std::string& strBuddy) {
    notify(E::PrivateBuddyAdded, {strBuddy});
}
void EventRelay::BuddyBlocked(std::string& strBuddy) {
    notify(E::BuddyBlocked, {strBuddy});
}
void EventRelay::BuddyRemoved(std::string& strGroup, std::string& strBuddy) {
    notify(E::BuddyRemoved, {strGroup, strBuddy});
}
void EventRelay::GroupRemoved(std::string& strGroup) {
    notify(E::GroupRemoved, {strGroup});
}
void EventRelay::PrivateBuddyRemoved(std::string& strBuddy) {
    notify(E::PrivateBuddyRemoved, {strBuddy});
}
void EventRelay::BuddyUnblocked(std::string& strBuddy) {
    notify(E::BuddyUnblocked, {strBuddy});
}
void EventRelay::LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                          Collection& PrivateList, Collection& MiscData, std::string strPreferences,
                          std::int16_t PrivacyMode) {
    notify(E::LoggedIn, {std::move(strUserName), BuddyList, BlockList, PrivateList, MiscData,
                         std::move(strPreferences), num(PrivacyMode)});
}
void EventRelay::LoggedOut(std::string strUserName) {
    notify(E::LoggedOut, {std::move(strUserName)});
}
void EventRelay::ScreennameFormat(std::string strFormattedSN) {
    notify(E::ScreennameFormat, {std::move(strFormattedSN)});
}
void EventRelay::InstantMessage(std::string& strUserName, std::string& strMessage,
                                bool& blnAutoResponse, std::string& strUserClass) {
    notify(E::InstantMessage, {strUserName, strMessage, blnAutoResponse, strUserClass});
}
void EventRelay::UserProfile(std::string& strURL) {
    notify(E::UserProfile, {strURL});
}
void EventRelay::Error(std::int16_t& intErrorCode, std::string& strError) {
    notify(E::Error, {num(intErrorCode), strError});
}
void EventRelay::Warned(std::string& intWarningLevel, std::string& strFromUser) {
    notify(E::Warned, {intWarningLevel, strFromUser});
}
void EventRelay::TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) {
    notify(E::TypingStatus, {strUserName, num(intTypingStatus)});
}
void EventRelay::WinsockError(std::string& strError) {
    notify(E::WinsockError, {strError});
}
void EventRelay::RendevousRequest(std::string& strUserName, std::string& strUUID,
                                  std::string& strCookie, std::string& strRendevousIP,
                                  std::string& strProposerIP, std::string& strVerifiedIP,
                                  std::int32_t& lngPort) {
    notify(E::RendevousRequest, {strUserName, strUUID, strCookie, strRendevousIP, strProposerIP,
                                 strVerifiedIP, num(lngPort)});
}
void EventRelay::IncomingPacket(std::string strPacket) {
    notify(E::IncomingPacket, {std::move(strPacket)});
}
void EventRelay::PasswordChanged() {
    notify(E::PasswordChanged, {});
}
void EventRelay::ScreenNameFormatted() {
    notify(E::ScreenNameFormatted, {});
}

}  // namespace lantry::cli

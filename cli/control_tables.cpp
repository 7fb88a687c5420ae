// The member and event tables; see control_tables.h.
#include "control_tables.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lantry::cli {

namespace {

constexpr ParamInfo text(const char* name) {
    return {name, ParamType::Text, false};
}
constexpr ParamInfo int16(const char* name) {
    return {name, ParamType::Int16, false};
}
constexpr ParamInfo int32(const char* name) {
    return {name, ParamType::Int32, false};
}
constexpr ParamInfo optInt32(const char* name) {
    return {name, ParamType::Int32, true};
}
constexpr ParamInfo boolean(const char* name) {
    return {name, ParamType::Boolean, false};
}

using A = const Arguments&;
// Integers a JSON number (a double) holds exactly.
constexpr std::int64_t kExactLimit = std::int64_t{1} << 53;
const std::string kNull = "null";

std::vector<MemberInfo> buildMembers() {
    return {
        {"Login",
         {text("UserName"),
          text("Password"),
          text("TOCServer"),
          int32("Port"),
          {"AuthServer", ParamType::Variant, true}},
         [](Ondrel& o, A a) {
             // The caller's variable: Login writes the default host into a blank one.
             std::string authServer =
                 a.has(4) ? a.text(4) : std::string(Ondrel::kDefaultAuthServer);
             o.Login(a.text(0), a.text(1), a.text(2), a.int32(3), authServer);
             return JsonObjectWriter().add("AuthServer", authServer).finish();
         }},
        {"LogOff", {}, [](Ondrel& o, A) { return o.LogOff(), kNull; }},
        {"SendPacket",
         {int16("intChannel"), text("strData")},
         [](Ondrel& o, A a) { return o.SendPacket(a.int16(0), a.text(1)), kNull; }},
        {"LastChatID",
         {{"value", ParamType::Int32, true}},
         [](Ondrel& o, A a) {
             if (!a.has(0))
                 return std::to_string(o.LastChatID());
             o.LastChatID(a.int32(0));
             return kNull;
         }},
        {"JoinChat",
         {text("strRoomName"), int16("intExchange")},
         [](Ondrel& o, A a) { return o.JoinChat(a.text(0), a.int16(1)), kNull; }},
        {"LeaveChat",
         {text("strChatName"), optInt32("lngChatID")},
         [](Ondrel& o, A a) { return o.LeaveChat(a.text(0), a.int32(1)), kNull; }},
        {"SendChat",
         {text("strChatName"), text("strMessage"), optInt32("lngChatID")},
         [](Ondrel& o, A a) { return o.SendChat(a.text(0), a.text(1), a.int32(2)), kNull; }},
        {"GetProfile",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.GetProfile(a.text(0)), kNull; }},
        {"SendIM",
         {text("strUserName"), text("strMessage"), boolean("AutoResponse")},
         [](Ondrel& o, A a) { return o.SendIM(a.text(0), a.text(1), a.boolean(2)), kNull; }},
        {"ChangePassword",
         {text("strOldPassword"), text("strNewPassword")},
         [](Ondrel& o, A a) { return o.ChangePassword(a.text(0), a.text(1)), kNull; }},
        {"FormatUserName",
         {text("strFormatted")},
         [](Ondrel& o, A a) { return o.FormatUserName(a.text(0)), kNull; }},
        {"SetAwayMessage",
         {text("strAwayMessage")},
         [](Ondrel& o, A a) { return o.SetAwayMessage(a.text(0)), kNull; }},
        {"SetProfile",
         {text("strProfile")},
         [](Ondrel& o, A a) { return o.SetProfile(a.text(0)), kNull; }},
        {"GetStatus",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.GetStatus(a.text(0)), kNull; }},
        {"SetIdleTime",
         {int32("lngMinutes")},
         [](Ondrel& o, A a) { return o.SetIdleTime(a.int32(0)), kNull; }},
        {"AcceptChatInvite",
         {int32("lngChatID")},
         [](Ondrel& o, A a) { return o.AcceptChatInvite(a.int32(0)), kNull; }},
        {"InviteUsers",
         {text("strChatName"), text("strInviteMessage"), text("strUsers"), optInt32("lngChatID")},
         [](Ondrel& o, A a) {
             return o.InviteUsers(a.text(0), a.text(1), a.text(2), a.int32(3)), kNull;
         }},
        {"WarnUser",
         {text("strUserName"), boolean("blnAnonymous")},
         [](Ondrel& o, A a) { return o.WarnUser(a.text(0), a.boolean(1)), kNull; }},
        {"AddBuddy",
         {text("strGroup"), text("strBuddy")},
         [](Ondrel& o, A a) { return o.AddBuddy(a.text(0), a.text(1)), kNull; }},
        {"RemoveBuddy",
         {text("strGroup"), text("strBuddy")},
         [](Ondrel& o, A a) { return o.RemoveBuddy(a.text(0), a.text(1)), kNull; }},
        {"AddGroup",
         {text("strGroup")},
         [](Ondrel& o, A a) { return o.AddGroup(a.text(0)), kNull; }},
        {"RemoveGroup",
         {text("strGroup")},
         [](Ondrel& o, A a) { return o.RemoveGroup(a.text(0)), kNull; }},
        {"BlockUser",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.BlockUser(a.text(0)), kNull; }},
        {"UnblockUser",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.UnblockUser(a.text(0)), kNull; }},
        {"AddPrivateUser",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.AddPrivateUser(a.text(0)), kNull; }},
        {"RemovePrivateUser",
         {text("strUserName")},
         [](Ondrel& o, A a) { return o.RemovePrivateUser(a.text(0)), kNull; }},
        {"SetPrivacy",
         {int16("intMode")},
         [](Ondrel& o, A a) { return o.SetPrivacy(a.int16(0)), kNull; }},
        {"SetCapability",
         {text("strCapUUID")},
         [](Ondrel& o, A a) { return o.SetCapability(a.text(0)), kNull; }},
        {"RemoveHtml",
         {text("strMessage")},
         [](Ondrel&, A a) { return jsonString(Ondrel::RemoveHtml(a.text(0))); }},
        {"GetChatName",
         {int32("lngChatID")},
         [](Ondrel& o, A a) { return jsonString(o.GetChatName(a.int32(0))); }},
    };
}

std::vector<EventInfo> buildEvents() {
    using E = EventNumber;
    return {
        {E::JoinedChat, "JoinedChat", {"strChatName", "lngChatID"}},
        {E::ChatMessage, "ChatMessage", {"lngChatID", "strUserName", "strMessage"}},
        {E::ChatInvite,
         "ChatInvite",
         {"strChatName", "lngChatID", "strFromUser", "strInviteMessage"}},
        {E::LeftChat, "LeftChat", {"lngChatID"}},
        {E::ChatUserUpdate, "ChatUserUpdate", {"strUserName", "blnInside", "lngChatID"}},
        {E::BuddyUpdate,
         "BuddyUpdate",
         {"strBuddy", "blnOnline", "intWarningLevel", "lngOnlineTime", "lngIdleTime",
          "strUserClass"}},
        {E::AddBuddy, "AddBuddy", {"strGroup", "strBuddy"}},
        {E::BuddyCapabilities, "BuddyCapabilities", {"strUserName", "strCaps"}},
        {E::BuddyBart, "BuddyBart", {"strUserName", "strBart"}},
        {E::BuddyAdded, "BuddyAdded", {"strGroup", "strBuddy", "strAlias"}},
        {E::GroupAdded, "GroupAdded", {"strGroup"}},
        {E::PrivateBuddyAdded, "PrivateBuddyAdded", {"strBuddy"}},
        {E::BuddyBlocked, "BuddyBlocked", {"strBuddy"}},
        {E::BuddyRemoved, "BuddyRemoved", {"strGroup", "strBuddy"}},
        {E::GroupRemoved, "GroupRemoved", {"strGroup"}},
        {E::PrivateBuddyRemoved, "PrivateBuddyRemoved", {"strBuddy"}},
        {E::BuddyUnblocked, "BuddyUnblocked", {"strBuddy"}},
        {E::LoggedIn,
         "LoggedIn",
         {"strUserName", "BuddyList", "BlockList", "PrivateList", "MiscData", "strPreferences",
          "PrivacyMode"}},
        {E::LoggedOut, "LoggedOut", {"strUserName"}},
        {E::ScreennameFormat, "ScreennameFormat", {"strFormattedSN"}},
        {E::InstantMessage,
         "InstantMessage",
         {"strUserName", "strMessage", "blnAutoResponse", "strUserClass"}},
        {E::UserProfile, "UserProfile", {"strURL"}},
        {E::Error, "Error", {"intErrorCode", "strError"}},
        {E::Warned, "Warned", {"intWarningLevel", "strFromUser"}},
        {E::TypingStatus, "TypingStatus", {"strUserName", "intTypingStatus"}},
        {E::WinsockError, "WinsockError", {"strError"}},
        {E::RendevousRequest,
         "RendevousRequest",
         {"strUserName", "strUUID", "strCookie", "strRendevousIP", "strProposerIP", "strVerifiedIP",
          "lngPort"}},
        {E::IncomingPacket, "IncomingPacket", {"strPacket"}},
        {E::PasswordChanged, "PasswordChanged", {}},
        {E::ScreenNameFormatted, "ScreenNameFormatted", {}},
    };
}

std::optional<std::int64_t> integral(const QJsonValue& json, std::int64_t low, std::int64_t high) {
    if (!json.isDouble())
        return std::nullopt;
    const double d = json.toDouble();
    if (std::trunc(d) != d || d < static_cast<double>(low) || d > static_cast<double>(high))
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

std::string rangeText(std::int64_t low, std::int64_t high) {
    return "must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
}

}  // namespace

const std::vector<MemberInfo>& memberTable() {
    static const std::vector<MemberInfo> table = buildMembers();
    return table;
}

const MemberInfo* findMember(std::string_view name) {
    const auto& table = memberTable();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const MemberInfo& m) { return name == m.name; });
    return it == table.end() ? nullptr : &*it;
}

const std::vector<EventInfo>& eventTable() {
    static const std::vector<EventInfo> table = buildEvents();
    return table;
}

const EventInfo& eventInfo(EventNumber number) {
    return eventTable()[static_cast<std::size_t>(number) - 1];
}

std::optional<Value> convertParam(const ParamInfo& info, const QJsonValue& json,
                                  std::string& error) {
    switch (info.type) {
        case ParamType::Text:
            if (!json.isString()) {
                error = "must be a string";
                return std::nullopt;
            }
            if (auto bytes = bytesFromJson(json.toString()))
                return Value(std::move(*bytes));
            error = "has a character above U+00FF (text is one byte per character)";
            return std::nullopt;
        case ParamType::Int16:
        case ParamType::Int32: {
            const bool wide = info.type == ParamType::Int32;
            const std::int64_t low = wide ? std::numeric_limits<std::int32_t>::min() : -32768;
            const std::int64_t high = wide ? std::numeric_limits<std::int32_t>::max() : 32767;
            if (auto n = integral(json, low, high))
                return Value(*n);
            error = rangeText(low, high);
            return std::nullopt;
        }
        case ParamType::Boolean:
            if (json.isBool())
                return Value(json.toBool());
            // The host's rule: -1 is true, every other number false.
            if (auto n = integral(json, -kExactLimit, kExactLimit))
                return Value(*n == -1);
            error = "must be true, false or a number (-1 is true)";
            return std::nullopt;
        case ParamType::Variant:
            if (json.isString()) {
                if (auto bytes = bytesFromJson(json.toString()))
                    return Value(std::move(*bytes));
                error = "has a character above U+00FF (text is one byte per character)";
                return std::nullopt;
            }
            if (auto n = integral(json, -kExactLimit, kExactLimit))
                return Value(std::to_string(*n));
            error = "must be a string or an integer";
            return std::nullopt;
    }
    error = "has an unknown type";
    return std::nullopt;
}

}  // namespace lantry::cli

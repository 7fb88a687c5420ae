// Buddy-list, privacy, profile and account commands.
#include <stdexcept>

#include "callbacks.h"
#include "command_line.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

void Ondrel::GetProfile(const std::string& strUserName) {
    sendLine(CommandLine("toc_get_info").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::GetStatus(const std::string& strUserName) {
    sendLine(CommandLine("toc_get_status").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::SetProfile(const std::string& strProfile) {
    sendLine(CommandLine("toc_set_info").quoted(EscapeText(strProfile)).text());
}

void Ondrel::SetAwayMessage(const std::string& strAwayMessage) {
    sendLine(CommandLine("toc_set_away").quoted(EscapeText(strAwayMessage)).text());
}

void Ondrel::SetIdleTime(std::int32_t lngMinutes) {
    const std::int64_t seconds = std::int64_t{lngMinutes} * 60;
    if (seconds < INT32_MIN || seconds > INT32_MAX) {
        throw std::overflow_error("SetIdleTime: " + std::to_string(lngMinutes) +
                                  " minutes overflow the 32-bit number of seconds");
    }
    sendLine(CommandLine("toc_set_idle").quoted(seconds).text());
}

void Ondrel::SetCapability(const std::string& strCapUUID) {
    sendLine(CommandLine("toc_set_caps").verbatim(strCapUUID).text());
}

void Ondrel::FormatUserName(const std::string& strFormatted) {
    sendLine(CommandLine("toc_format_nickname").verbatim(strFormatted).text());
}

void Ondrel::ChangePassword(const std::string& strOldPassword, const std::string& strNewPassword) {
    CommandLine line("toc_change_passwd");
    line.quoted(EscapeText(strOldPassword)).quoted(EscapeText(strNewPassword));
    sendLine(line.text());
}

void Ondrel::WarnUser(const std::string& strUserName, bool blnAnonymous) {
    CommandLine line("toc_evil");
    line.verbatim(NormalizeName(strUserName)).quoted(blnAnonymous ? "anon" : "norm");
    sendLine(line.text());
}

void Ondrel::AddBuddy(const std::string& strGroup, const std::string& strBuddy) {
    std::string list = "g:" + EscapeText(strGroup) + "\nb:" + EscapeText(strBuddy) + "\n";
    sendLine(CommandLine("toc2_new_buddies").quoted(list).text());
}

void Ondrel::RemoveBuddy(const std::string& strGroup, const std::string& strBuddy) {
    CommandLine line("toc2_remove_buddy");
    line.verbatim(strBuddy).quoted(EscapeText(strGroup));
    sendLine(line.text());
}

void Ondrel::AddGroup(const std::string& strGroup) {
    sendLine(CommandLine("toc2_new_group").quoted(EscapeText(strGroup)).text());
}

void Ondrel::RemoveGroup(const std::string& strGroup) {
    sendLine(CommandLine("toc2_del_group").quoted(EscapeText(strGroup)).text());
}

void Ondrel::BlockUser(const std::string& strUserName) {
    sendLine(CommandLine("toc2_add_deny").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::UnblockUser(const std::string& strUserName) {
    sendLine(CommandLine("toc2_remove_deny").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::AddPrivateUser(const std::string& strUserName) {
    sendLine(CommandLine("toc2_add_permit").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::RemovePrivateUser(const std::string& strUserName) {
    sendLine(CommandLine("toc2_remove_permit").verbatim(NormalizeName(strUserName)).text());
}

void Ondrel::SetPrivacy(std::int16_t intMode) {
    sendLine(CommandLine("toc2_set_pdmode").bare(std::to_string(intMode)).text());
}

}  // namespace lantry

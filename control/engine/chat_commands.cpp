// Chat-room commands and the lookup of joined rooms by name or ID.
#include "callbacks.h"
#include "command_line.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

bool Ondrel::selectChat(const std::string& strChatName, std::int32_t lngChatID,
                        std::int32_t& chatId) const {
    if (lngChatID != 0) {
        chatId = lngChatID;
        return true;
    }
    for (const auto& slot : ChatTable) {
        if (slot.inUse && slot.strChatName == strChatName) {
            chatId = slot.lngChatID;
            return true;
        }
    }
    return false;
}

void Ondrel::JoinChat(const std::string& strRoomName, std::int16_t intExchange) {
    CommandLine line("toc_chat_join");
    line.quoted(intExchange).verbatim(wire::trimBlanks(strRoomName));
    sendLine(line.text());
}

void Ondrel::LeaveChat(const std::string& strChatName, std::int32_t lngChatID) {
    std::int32_t chatId = 0;
    if (!selectChat(strChatName, lngChatID, chatId))
        return;
    sendLine(CommandLine("toc_chat_leave").quoted(chatId).text());
}

void Ondrel::SendChat(const std::string& strChatName, const std::string& strMessage,
                      std::int32_t lngChatID) {
    std::int32_t chatId = 0;
    if (!selectChat(strChatName, lngChatID, chatId))
        return;
    sendLine(chatCommand(chatId, strMessage));
}

std::string Ondrel::chatCommand(std::int32_t lngChatID, const std::string& strMessage) {
    return CommandLine("toc_chat_send").quoted(lngChatID).quoted(EscapeText(strMessage)).text();
}

void Ondrel::InviteUsers(const std::string& strChatName, const std::string& strInviteMessage,
                         const std::string& strUsers, std::int32_t lngChatID) {
    std::int32_t chatId = 0;
    if (!selectChat(strChatName, lngChatID, chatId))
        return;
    CommandLine line("toc_chat_invite");
    line.quoted(chatId).quoted(EscapeText(strInviteMessage)).verbatim(NormalizeName(strUsers));
    sendLine(line.text());
}

void Ondrel::AcceptChatInvite(std::int32_t lngChatID) {
    sendLine(CommandLine("toc_chat_accept").quoted(lngChatID).text());
}

std::string Ondrel::GetChatName(std::int32_t lngChatID) const {
    for (const auto& slot : ChatTable) {
        if (slot.inUse && slot.lngChatID == lngChatID)
            return slot.strChatName;
    }
    return "[No Chat Name Found for ID]";
}

}  // namespace lantry

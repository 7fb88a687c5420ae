// Instant messages and chat-room traffic: IM_IN_ENC2, CHAT_JOIN, CHAT_UPDATE_BUDDY,
// CHAT_IN_ENC, CHAT_LEFT, CHAT_INVITE; keeps ChatTable and LastChatID current.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

bool Ondrel::handleImInEnc2(std::string_view message, std::string& textBuffer) {
    const auto f = wire::cutFields<10>(message);
    if (!f.has(9))
        return true;
    std::string sender(f[1]), userClass(f[5]);
    textBuffer.assign(f[9]);
    bool autoResponse = f[2] != "F";
    return raise(
        [&](__Ondrel& sink) { sink.InstantMessage(sender, textBuffer, autoResponse, userClass); });
}

bool Ondrel::handleChatJoin(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(1))
        return true;
    // A join whose ID is not a number cannot be recorded or left again: dropped whole.
    const auto chatId = wire::toInt32(f[1]);
    if (!chatId)
        return true;
    for (auto& slot : ChatTable) {
        if (!slot.inUse) {
            slot.inUse = true;
            slot.lngChatID = *chatId;
            if (f.has(2))
                slot.strChatName = f[2];
            break;
        }
    }
    lastChatId_ = *chatId;
    if (!f.has(2))
        return true;
    std::string name(f[2]);
    return raise([&](__Ondrel& sink) { sink.JoinedChat(name, lastChatId_); });
}

bool Ondrel::handleChatUpdateBuddy(std::string_view message) {
    const auto f = wire::cutAllFields(message);
    if (f.size() < 3)
        return true;
    const auto chatId = wire::toInt32(f[1]);
    if (!chatId)
        return true;
    if (f[2] == "T") {
        for (std::size_t i = 3; i < f.size(); ++i) {
            if (!raise([&](__Ondrel& sink) {
                    sink.ChatUserUpdate(std::string(f[i]), true, *chatId);
                })) {
                return false;
            }
        }
        return true;
    }
    if (f.size() < 4)
        return true;
    return raise([&](__Ondrel& sink) { sink.ChatUserUpdate(std::string(f[3]), false, *chatId); });
}

bool Ondrel::handleChatInEnc(std::string_view message, std::string& textBuffer) {
    const auto f = wire::cutFields<7>(message);
    if (!f.has(6))
        return true;
    auto chatId = wire::toInt32(f[1]);
    if (!chatId)
        return true;
    std::string sender(f[2]);
    textBuffer.assign(f[6]);
    return raise([&](__Ondrel& sink) { sink.ChatMessage(*chatId, sender, textBuffer); });
}

bool Ondrel::handleChatLeft(std::string_view message) {
    const auto f = wire::cutFields<2>(message);
    if (!f.has(1))
        return true;
    auto chatId = wire::toInt32(f[1]);
    if (!chatId)
        return true;
    for (auto& slot : ChatTable) {
        if (slot.inUse && slot.lngChatID == *chatId) {
            slot = ChatEntry{};
            break;
        }
    }
    return raise([&](__Ondrel& sink) { sink.LeftChat(*chatId); });
}

bool Ondrel::handleChatInvite(std::string_view message) {
    const auto f = wire::cutFields<5>(message);
    if (!f.has(4))
        return true;
    auto chatId = wire::toInt32(f[2]);
    if (!chatId)
        return true;
    std::string room(f[1]), inviter(f[3]), text(f[4]);
    return raise([&](__Ondrel& sink) { sink.ChatInvite(room, *chatId, inviter, text); });
}

}  // namespace lantry

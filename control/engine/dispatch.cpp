// The keyword dispatch of data frames, and the sign-on completion: NICK and the stored
// configuration of CONFIG2.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

namespace {

constexpr std::string_view kConfigEnd = "done:\n";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool Ondrel::dispatchMessage(std::string_view message, std::string& textBuffer) {
    if (message.empty())
        return true;
    const auto keyword = message.substr(0, message.find(':'));
    // Ordered as the protocol lists them; the first equal keyword decides.
    if (keyword == "SIGN_ON")
        return true;
    if (keyword == "NICK")
        return handleNick(message);
    if (keyword == "CONFIG2")
        return handleConfig2(message);
    if (keyword == "ERROR")
        return handleError(message);
    if (keyword == "UPDATE_BUDDY2")
        return handleUpdateBuddy2(message);
    if (keyword == "BUDDY_CAPS2")
        return handleBuddyCaps2(message);
    if (keyword == "BART2")
        return handleBart2(message);
    if (keyword == "CHAT_JOIN")
        return handleChatJoin(message);
    if (keyword == "CHAT_UPDATE_BUDDY")
        return handleChatUpdateBuddy(message);
    if (keyword == "CHAT_IN_ENC")
        return handleChatInEnc(message, textBuffer);
    if (keyword == "CHAT_LEFT")
        return handleChatLeft(message);
    if (keyword == "IM_IN_ENC2")
        return handleImInEnc2(message, textBuffer);
    if (keyword == "INSERTED2")
        return handleInserted2(message);
    if (keyword == "CHAT_INVITE")
        return handleChatInvite(message);
    if (keyword == "UPDATED2")
        return true;
    if (keyword == "DELETED2")
        return handleDeleted2(message);
    if (keyword == "GOTO_URL")
        return handleGotoUrl(message);
    if (keyword == "EVILED")
        return handleEviled(message);
    if (keyword == "ADMIN_NICK_STATUS") {
        return raise([](__Ondrel& sink) { sink.ScreenNameFormatted(); });
    }
    if (keyword == "ADMIN_PASSWD_STATUS") {
        return raise([](__Ondrel& sink) { sink.PasswordChanged(); });
    }
    if (keyword == "RVOUS_PROPOSE")
        return handleRvousPropose(message);
    if (keyword == "CLIENT_EVENT2")
        return handleClientEvent2(message);
    return true;
}

bool Ondrel::handleNick(std::string_view message) {
    const auto fields = wire::cutFields<2>(message);
    if (!fields.has(1))
        return true;
    return raise([&](__Ondrel& sink) { sink.ScreennameFormat(std::string(fields[1])); });
}

bool Ondrel::handleConfig2(std::string_view message) {
    constexpr std::size_t kPrefix = sizeof("CONFIG2:") - 1;
    const auto text = message.size() > kPrefix ? message.substr(kPrefix) : std::string_view{};
    if (text.find(kConfigEnd) == std::string_view::npos) {
        if (strConfigBuffer.size() + text.size() > kConfigBufferLimit) {
            // Whatever a server sends, the held configuration stays bounded.
            const auto dropped = strConfigBuffer.size() + text.size();
            strConfigBuffer.clear();
            strConfigBuffer.shrink_to_fit();
            std::int16_t code = 0;
            std::string sentence = "Configuration discarded: " + std::to_string(dropped) +
                                   " bytes arrived without its end, more than the limit of " +
                                   std::to_string(kConfigBufferLimit);
            return raise([&](__Ondrel& sink) { sink.Error(code, sentence); });
        }
        strConfigBuffer.append(text);
        return true;
    }
    if (strConfigBuffer.empty())
        return raiseLoggedIn(text);
    std::string whole = std::move(strConfigBuffer);
    strConfigBuffer.clear();
    whole.append(text);
    return raiseLoggedIn(whole);
}

bool Ondrel::raiseLoggedIn(std::string_view text) {
    Collection buddyList;
    Collection blockList;
    Collection privateList;
    Collection miscData;
    std::string preferences;
    std::int16_t privacyMode = 0;
    bool sawDone = false;

    while (!text.empty() && !sawDone) {
        const auto lineEnd = text.find('\n');
        const auto line = text.substr(0, lineEnd);
        text = lineEnd == std::string_view::npos ? std::string_view{} : text.substr(lineEnd + 1);
        if (startsWith(line, "g:")) {
            std::string item = "[group]";
            item.append(line.substr(2));
            buddyList.push_back(std::move(item));
        } else if (startsWith(line, "b:")) {
            std::string item;
            auto rest = line.substr(2);
            for (auto run = rest.find(":::::"); run != std::string_view::npos;
                 run = rest.find(":::::")) {
                item.append(rest.substr(0, run + 1));
                rest.remove_prefix(run + 5);
            }
            item.append(rest);
            buddyList.push_back(std::move(item));
        } else if (startsWith(line, "d:")) {
            blockList.emplace_back(line.substr(2));
        } else if (startsWith(line, "pref:")) {
            preferences = line.substr(5);
        } else if (startsWith(line, "p:")) {
            privateList.emplace_back(line.substr(2));
        } else if (startsWith(line, "m:")) {
            if (line.size() > 2 && line[2] >= '0' && line[2] <= '9') {
                privacyMode = static_cast<std::int16_t>(line[2] - '0');
            }
        } else if (startsWith(line, "done:")) {
            sawDone = true;
        } else {
            miscData.emplace_back(line);
        }
    }
    if (sawDone && !raise([&](__Ondrel& sink) {
            sink.LoggedIn(strLoginName, buddyList, blockList, privateList, miscData,
                          std::move(preferences), privacyMode);
        })) {
        return false;
    }
    return sendLine("toc_init_done");
}

}  // namespace lantry

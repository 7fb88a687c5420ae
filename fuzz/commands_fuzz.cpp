// Every command builder of the control with arbitrary arguments. Each call must produce either
// one well-formed data frame whose line splits back into exactly the arguments given (quotes
// balanced, no argument ended early or merged with the next, no NUL inside the line), or no
// frame and an Error event saying why.
//
// Input layout: byte 0 picks the command, byte 1 is a number argument (chat ID, exchange,
// minutes, mode), the rest is cut at each 0xFF byte into up to three text arguments.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame_checker.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace {

using ondrel_fuzz::CheckingSocket;
using Args = std::vector<std::string>;

class ErrorCounter final : public lantry::__Ondrel {
public:
    void Error(std::int16_t& code, std::string&) override {
        if (code == 0)
            ++errors;
    }
    int errors = 0;
};

[[noreturn]] void mismatch(std::string_view line, const Args& expected) {
    std::fprintf(stderr, "line does not split into its arguments: [%.*s]\nexpected:",
                 static_cast<int>(line.size()), line.data());
    for (const auto& a : expected)
        std::fprintf(stderr, " [%s]", a.c_str());
    std::fprintf(stderr, "\n");
    std::abort();
}

std::string number(long long value) {
    return std::to_string(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto which = static_cast<unsigned char>(input[0]);
    const auto n = static_cast<std::int8_t>(input[1]);
    input.remove_prefix(2);
    std::array<std::string, 3> text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto cut = i + 1 < text.size() ? input.find('\xFF') : std::string_view::npos;
        text[i] = std::string(input.substr(0, cut));
        input = cut == std::string_view::npos ? std::string_view{} : input.substr(cut + 1);
    }
    const std::string& a = text[0];
    const std::string& b = text[1];
    const std::string& c = text[2];
    const std::int32_t chatId = n == 0 ? 1 : n;
    const auto norm = [](const std::string& s) { return lantry::wire::normalizeName(s); };

    ErrorCounter host;
    auto owned = std::make_unique<CheckingSocket>();
    CheckingSocket* sock = owned.get();
    lantry::Ondrel control(std::move(owned), &host);
    control.Login("fuzz", "pw", "127.0.0.1", 5190);
    sock->connectNow();

    Args expected;
    switch (which % 24) {
        case 0:
            control.SendIM(a, b, n < 0);
            expected = {"toc_send_im", norm(a), b};
            if (n < 0)
                expected.emplace_back("auto");
            break;
        case 1:
            control.SendChat("", a, chatId);
            expected = {"toc_chat_send", number(chatId), a};
            break;
        case 2:
            control.InviteUsers("", a, b, chatId);
            expected = {"toc_chat_invite", number(chatId), a, norm(b)};
            break;
        case 3:
            control.JoinChat(a, n);
            expected = {"toc_chat_join", number(n), std::string(lantry::wire::trimBlanks(a))};
            break;
        case 4:
            control.LeaveChat("", chatId);
            expected = {"toc_chat_leave", number(chatId)};
            break;
        case 5:
            control.AcceptChatInvite(chatId);
            expected = {"toc_chat_accept", number(chatId)};
            break;
        case 6:
            control.GetProfile(a);
            expected = {"toc_get_info", norm(a)};
            break;
        case 7:
            control.GetStatus(a);
            expected = {"toc_get_status", norm(a)};
            break;
        case 8:
            control.SetProfile(a);
            expected = {"toc_set_info", a};
            break;
        case 9:
            control.SetAwayMessage(a);
            expected = {"toc_set_away", a};
            break;
        case 10: {
            // Odd values stay small; even ones reach the edges of the 32-bit range.
            const std::int32_t minutes = n % 2 != 0 ? n : n * 16777216;
            try {
                control.SetIdleTime(minutes);
                expected = {"toc_set_idle", number(std::int64_t{minutes} * 60)};
            } catch (const std::overflow_error&) {
                if (!sock->dataPayloads.empty())
                    std::abort();
                return 0;
            }
            break;
        }
        case 11:
            control.SetCapability(a);
            expected = {"toc_set_caps", a};
            break;
        case 12:
            control.FormatUserName(a);
            expected = {"toc_format_nickname", a};
            break;
        case 13:
            control.ChangePassword(a, b);
            expected = {"toc_change_passwd", a, b};
            break;
        case 14:
            control.WarnUser(a, n < 0);
            expected = {"toc_evil", norm(a), n < 0 ? "anon" : "norm"};
            break;
        case 15:
            control.AddBuddy(a, b);
            expected = {"toc2_new_buddies", "g:" + a + "\nb:" + b + "\n"};
            break;
        case 16:
            control.RemoveBuddy(a, b);
            expected = {"toc2_remove_buddy", b, a};
            break;
        case 17:
            control.AddGroup(a);
            expected = {"toc2_new_group", a};
            break;
        case 18:
            control.RemoveGroup(a);
            expected = {"toc2_del_group", a};
            break;
        case 19:
            control.BlockUser(a);
            expected = {"toc2_add_deny", norm(a)};
            break;
        case 20:
            control.UnblockUser(a);
            expected = {"toc2_remove_deny", norm(a)};
            break;
        case 21:
            control.AddPrivateUser(a);
            expected = {"toc2_add_permit", norm(a)};
            break;
        case 22:
            control.RemovePrivateUser(c.empty() ? a : c);
            expected = {"toc2_remove_permit", norm(c.empty() ? a : c)};
            break;
        case 23:
            control.SetPrivacy(n);
            expected = {"toc2_set_pdmode", number(n)};
            break;
    }

    if (sock->dataPayloads.empty()) {
        // Nothing sent is only right when the control said why.
        if (host.errors != 1)
            std::abort();
        return 0;
    }
    if (sock->dataPayloads.size() != 1 || host.errors != 0)
        std::abort();
    const std::string& line = sock->dataPayloads.front();
    if (line.find('\0') != std::string::npos)
        mismatch(line, expected);
    const auto parsed = lantry::wire::parseArguments(line);
    if (!parsed || *parsed != expected)
        mismatch(line, expected);
    return 0;
}

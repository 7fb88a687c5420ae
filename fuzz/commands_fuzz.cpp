// The control's commands with arbitrary arguments, one command for each way a line is built
// (the rest share those builders). Each call must produce either one well-formed data frame whose
// line splits back into exactly the arguments given (quotes balanced, no argument ended early or
// merged with the next, no NUL inside the line) and fits the size servers accept, or no frame
// and an Error event saying why: a NUL, or the command's size over that limit.
//
// Input layout: byte 0 picks the command, byte 1 is a number argument (chat ID, exchange,
// minutes), the rest is cut at the first 0xFF byte into two text arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame_checker.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const auto which = data[0];
    const auto n = static_cast<std::int8_t>(data[1]);
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const auto cut = input.find('\xFF');
    const std::string a(input.substr(0, cut));
    const std::string b(cut == std::string_view::npos ? std::string_view{} : input.substr(cut + 1));
    const std::int32_t chatId = n == 0 ? 1 : n;
    const auto norm = [](const std::string& s) { return lantry::wire::normalizeName(s); };

    lantry::testing::RecordingSink host;
    auto owned = std::make_unique<ondrel_fuzz::CheckingSocket>();
    auto* sock = owned.get();
    lantry::Ondrel control(std::move(owned), &host);
    control.Login("fuzz", "pw", "127.0.0.1", 5190);
    sock->connectNow();

    std::vector<std::string> expected;
    switch (which % 9) {
        case 0:
            control.SendIM(a, b, n < 0);
            expected = {"toc_send_im", norm(a), b};
            if (n < 0)
                expected.emplace_back("auto");
            break;
        case 1:
            control.SendChat("", a, chatId);
            expected = {"toc_chat_send", std::to_string(chatId), a};
            break;
        case 2:
            control.InviteUsers("", a, b, chatId);
            expected = {"toc_chat_invite", std::to_string(chatId), a, norm(b)};
            break;
        case 3:
            control.JoinChat(a, n);
            expected = {"toc_chat_join", std::to_string(n),
                        std::string(lantry::wire::trimBlanks(a))};
            break;
        case 4:
            control.BlockUser(a);
            expected = {"toc2_add_deny", norm(a)};
            break;
        case 5:
            control.SetProfile(a);
            expected = {"toc_set_info", a};
            break;
        case 6: {
            // Odd values stay small; even ones reach the edges of the 32-bit range.
            const std::int32_t minutes = n % 2 != 0 ? n : n * 16777216;
            try {
                control.SetIdleTime(minutes);
                expected = {"toc_set_idle", std::to_string(std::int64_t{minutes} * 60)};
            } catch (const std::overflow_error&) {
                if (!sock->dataPayloads.empty())
                    std::abort();
                return 0;
            }
            break;
        }
        case 7:
            control.RemoveBuddy(a, b);
            expected = {"toc2_remove_buddy", b, a};
            break;
        case 8:
            control.AddBuddy(a, b);
            expected = {"toc2_new_buddies", "g:" + a + "\nb:" + b + "\n"};
            break;
    }

    // Nothing sent is only right when the control said why; a line sent must split back whole.
    const auto& sent = sock->dataPayloads;
    const auto errors =
        std::count_if(host.events.begin(), host.events.end(),
                      [](const std::string& e) { return e.starts_with("Error(0,"); });
    if (sent.size() + errors != 1)
        ondrel_fuzz::violation("not one line or one refusal", {});
    if (errors != 0 && host.events.back().find("NUL") == std::string::npos &&
        host.events.back().find("-byte limit of one command") == std::string::npos)
        ondrel_fuzz::violation("refused without saying why", host.events.back());
    if (!sent.empty() && sent[0].size() + 1 > lantry::Ondrel::kMaxCommandPayload)
        ondrel_fuzz::violation("line longer than servers accept", sent[0]);
    if (!sent.empty() && (sent[0].find('\0') != std::string::npos ||
                          lantry::wire::parseArguments(sent[0]) != expected))
        ondrel_fuzz::violation("line does not split into its arguments", sent[0]);
    return 0;
}

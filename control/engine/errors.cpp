// Server ERROR messages, each turned into one Error event with a finished English sentence.
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

namespace {

std::string chatJoinReason(std::string_view reason) {
    if (reason == "-1")
        return "': Possible Reset";
    if (reason == "24")
        return "': Chat Full";
    if (reason == "48")
        return "': Rated";
    if (reason == "74")
        return "': Ejected";
    return "': Unknown error";
}

}  // namespace

bool Ondrel::handleError(std::string_view message) {
    const auto fields = wire::cutFields<3>(message);
    const auto code = fields.has(1) ? fields[1] : std::string_view{};
    std::int16_t number = 0;
    std::string sentence;

    if (code == "902" && !fields.has(2)) {
        // Real servers refuse a warning without naming anyone; silence would read as success.
        number = 902;
        sentence = "Warning is not currently available";
    } else if (code == "901" || code == "902") {
        if (!fields.has(2))
            return true;
        number = code == "901" ? 901 : 902;
        sentence = code == "901"
                       ? std::string(fields[2]) + " is not available"
                       : "Warning of " + std::string(fields[2]) + " is not currently available";
    } else if (code == "903") {
        Sock->commandDropped();
        number = 903;
        sentence = "A message has been dropped, you are exceeding the server speed limit";
    } else if (code == "911") {
        number = 911;
        sentence = "Error validating input";
    } else if (code == "951") {
        const auto chat = wire::cutFields<4>(message);
        if (!chat.has(2))
            return true;
        number = 951;
        sentence = "Could not join chat '" + std::string(chat[2]) +
                   chatJoinReason(chat.has(3) ? chat[3] : std::string_view{});
    } else if (code == "980") {
        number = 980;
        sentence = "Invalid account or password";
    } else if (code == "983") {
        number = 983;
        sentence = "You are attempting to sign on again too soon";
    } else if (code == "989") {
        if (!fields.has(2))
            return true;
        const auto sub = fields[2];
        if (sub == "7") {
            number = 989;
            sentence = "The screenname or password you entered is not valid";
        } else if (sub == "17") {
            number = 989;
            sentence = "Sign on Blocked";
        } else {
            const auto converted = wire::toInt16(sub);
            if (!converted)
                return true;
            number = *converted;
            sentence = "Unknown error code 989, sub error: " + std::string(sub);
        }
    } else {
        const auto converted = wire::toInt16(code);
        if (!converted)
            return true;
        number = *converted;
        sentence = "Error code: " + std::string(code);
        // Codes without a sentence of their own may carry the server's explanation.
        if (fields.has(2) && !fields[2].empty())
            sentence += ": " + std::string(fields[2]);
    }
    return raise([&](__Ondrel& sink) { sink.Error(number, sentence); });
}

}  // namespace lantry

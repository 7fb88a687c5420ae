// Other server notices: GOTO_URL, EVILED, RVOUS_PROPOSE, CLIENT_EVENT2. (The two ADMIN_*
// replies carry nothing to read and are raised straight from the dispatch.)
#include <string>

#include "callbacks.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

bool Ondrel::handleGotoUrl(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(2))
        return true;
    std::string url(f[2]);
    return raise([&](__Ondrel& sink) { sink.UserProfile(url); });
}

bool Ondrel::handleEviled(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(2))
        return true;
    const auto level = wire::toInt16(f[1]);
    if (!level)
        return true;
    std::string levelText = std::to_string(*level), warner(f[2]);
    return raise([&](__Ondrel& sink) { sink.Warned(levelText, warner); });
}

bool Ondrel::handleRvousPropose(std::string_view message) {
    const auto f = wire::cutAllFields(message);
    if (f.size() < 9)
        return true;
    auto port = wire::toInt32(f[8]);
    if (!port)
        return true;
    std::string user(f[1]), uuid(f[2]), cookie(f[3]), rendezvousIp(f[5]), proposerIp(f[6]),
        verifiedIp(f[7]);
    return raise([&](__Ondrel& sink) {
        sink.RendevousRequest(user, uuid, cookie, rendezvousIp, proposerIp, verifiedIp, *port);
    });
}

bool Ondrel::handleClientEvent2(std::string_view message) {
    const auto f = wire::cutFields<3>(message);
    if (!f.has(2))
        return true;
    auto status = wire::toInt16(f[2]);
    if (!status)
        return true;
    std::string user(f[1]);
    return raise([&](__Ondrel& sink) { sink.TypingStatus(user, *status); });
}

}  // namespace lantry

// The control's shell: construction, destruction and the private routines shared by all areas.
#include "ondrel/ondrel.h"

#include "callbacks.h"
#include "ondrel/wire.h"

namespace lantry {

Ondrel::Ondrel(std::unique_ptr<Socket> sock, __Ondrel* events)
    : Sock(std::move(sock)), events_(events) {
    Sock->setListener(this);
}

Ondrel::~Ondrel() {
    for (CallbackGuard* guard = guards_; guard != nullptr; guard = guard->outer) {
        guard->destroyed = true;
    }
    Sock->setListener(nullptr);
}

void Ondrel::clearChatTable() {
    ChatTable.fill(ChatEntry{});
}

std::string Ondrel::EncodeWord(std::int32_t value) {
    return wire::encodeWord(value);
}

std::int32_t Ondrel::DecodeWord(std::string_view text) {
    return wire::decodeWord(text);
}

std::string Ondrel::RoastPassword(std::string_view password) {
    return wire::roastPassword(password);
}

std::string Ondrel::EscapeText(std::string_view text) {
    return wire::escapeText(text);
}

std::string Ondrel::NormalizeName(std::string_view name) {
    return wire::normalizeName(name);
}

}  // namespace lantry

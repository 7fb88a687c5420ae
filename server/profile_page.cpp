// Profile pages over HTTP on the TOC2 port. A page is served only through a link that
// toc_get_info handed to one requester for one target: it expires after a minute, and it works
// only while the target lets the requester see it. Anything else is answered 404, the same as
// for a name that does not exist, so the page tells nothing about who is online or who denied
// whom. The page holds the profile and nothing about presence.
#include <QRandomGenerator>
#include <QtDebug>

#include "ondrel/wire.h"
#include "server.h"
#include "text.h"

namespace tocd {

namespace wire = lantry::wire;

namespace {

constexpr std::size_t kMaxHttpRequest = 8192;
constexpr qint64 kProfileLinkMs = 60'000;
// Links one account holds at a time; asking for more forgets the oldest.
constexpr std::size_t kMaxProfileLinks = 16;
constexpr std::string_view kProfilePath = "/profile/";
constexpr std::string_view kTokenParameter = "token=";

// 128 bits from the system's generator, as hex.
std::string newToken() {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        const quint32 word = QRandomGenerator::system()->generate();
        for (int shift = 28; shift >= 0; shift -= 4)
            token.push_back(kHex[(word >> shift) & 15]);
    }
    return token;
}

}  // namespace

std::string Server::issueProfileToken(Account& requester, const Account& target) {
    const qint64 now = nowMs();
    std::string token = newToken();
    profileGrants_.emplace(token, ProfileGrant{requester.name, target.name, now + kProfileLinkMs});
    auto& tokens = requester.profileTokens;
    tokens.push_back(token);
    while (tokens.size() > kMaxProfileLinks || profileGrants_.at(tokens.front()).expiresMs < now) {
        profileGrants_.erase(tokens.front());
        tokens.pop_front();
    }
    return token;
}

void Server::forgetProfileTokens(Account& a) {
    for (const auto& token : a.profileTokens)
        profileGrants_.erase(token);
    a.profileTokens.clear();
}

std::optional<std::string> Server::profilePage(std::string_view name, std::string_view token) {
    const auto grant = profileGrants_.find(std::string(token));
    if (grant == profileGrants_.end() || grant->second.target != name ||
        grant->second.expiresMs < nowMs()) {
        return std::nullopt;
    }
    // The requester is online: its links are forgotten when it leaves.
    const Account* target = onlineAccount(grant->second.target);
    if (!target || !target->visible() || !permits(*target, grant->second.requester))
        return std::nullopt;
    const std::string shown = pageText(target->formatted);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + shown +
           "</title></head>\n<body>\n<h1>" + shown + "</h1>\n<div class=\"profile\">" +
           pageText(target->profile) + "</div>\n</body></html>\n";
}

void Server::serveHttp(Session& s) {
    const auto end = s.input.find("\r\n\r\n");
    if (end == std::string::npos && s.input.find("\n\n") == std::string::npos) {
        if (s.input.size() > kMaxHttpRequest)
            drop(s, "HTTP request too long");
        return;
    }
    const std::string_view request = std::string_view(s.input).substr(0, s.input.find('\n'));
    const auto firstBlank = request.find(' ');
    const auto method = request.substr(0, firstBlank);
    auto target =
        firstBlank == std::string_view::npos ? std::string_view{} : request.substr(firstBlank + 1);
    target = target.substr(0, target.find(' '));
    const auto query = target.find('?');
    const auto path = target.substr(0, query);
    const auto parameters =
        query == std::string_view::npos ? std::string_view{} : target.substr(query + 1);

    int status = 200;
    std::string body;
    if (method != "GET" && method != "HEAD") {
        status = 405;
        body = "<html><body><p>Only GET is served here.</p></body></html>\n";
    } else {
        std::optional<std::string> page;
        if (path.starts_with(kProfilePath) && parameters.starts_with(kTokenParameter)) {
            page = profilePage(wire::normalizeName(path.substr(kProfilePath.size())),
                               parameters.substr(kTokenParameter.size()));
        }
        if (page) {
            body = std::move(*page);
        } else {
            status = 404;
            body = "<html><body><p>No such page.</p></body></html>\n";
        }
    }
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Method Not Allowed";
    std::string response = "HTTP/1.0 " + std::to_string(status) + " " + reason +
                           "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (method != "HEAD")
        response += body;
    s.connection->write(response);
    // The path only: the token is as good as a password for a minute.
    if (options_.verbose)
        qInfo("session %llu: HTTP %d for %s", s.id, status, printable(path).c_str());
    s.input.clear();
    drop(s, "HTTP response sent");
}

}  // namespace tocd

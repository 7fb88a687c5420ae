// Profile pages for every host that shows them: where the address of a GOTO_URL leads, and
// whether a host may fetch it. A server, or whoever speaks for it, can name any address; a
// host fetches only the page of a profile its user asked for, and only from the host it is
// connected to, so that a hostile server cannot make it reach other machines (an internal
// address, a page that records who visits).
//
// Pure functions and one request builder; any thread.
#pragma once

#include <QNetworkRequest>
#include <QString>
#include <QStringView>
#include <QUrl>

namespace lantry {

enum class ProfileVerdict {
    Fetch,      // an http or https page on the server's host (any port)
    OtherHost,  // a web page elsewhere: shown as an address, never fetched
    NotAPage,   // no http or https address, or one with user information ("user@host")
};

struct ProfileAddress {
    QUrl url;
    ProfileVerdict verdict = ProfileVerdict::NotAPage;
};

// `address` (as the server sent it, decoded) resolved against http://serverHost:serverPort/,
// as TOC clients resolve it: "info?x" and "/info" are pages of the server's host, and so is
// "//host/x" only when host is the server's. Hosts compare as names without regard to case or
// a final dot, or as addresses (IPv4, IPv6); a name and its address count as different hosts,
// since nothing is looked up.
ProfileAddress profileAddress(QStringView address, const QString& serverHost, quint16 serverPort);

// A GET of a profile page: redirects followed only to the same scheme, host and port, the
// transfer given up after `timeoutMs` without progress.
QNetworkRequest profileRequest(const QUrl& url, int timeoutMs);

}  // namespace lantry

// Profile pages; see profile_page.h.
#include "ondrel/profile_page.h"

#include <QHostAddress>

namespace lantry {

namespace {

QString hostKey(QString host) {
    if (host.endsWith(u'.'))
        host.chop(1);
    return host.toLower();
}

bool isServerHost(const QUrl& url, const QString& serverHost) {
    QUrl server;
    server.setHost(serverHost);
    const QString a = hostKey(url.host());
    const QString b = hostKey(server.host());
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QHostAddress addressA(a);
    const QHostAddress addressB(b);
    if (!addressA.isNull() || !addressB.isNull())
        return addressA.isEqual(addressB, QHostAddress::StrictConversion);
    return a == b;
}

}  // namespace

ProfileAddress profileAddress(QStringView address, const QString& serverHost, quint16 serverPort) {
    QUrl base;
    base.setScheme(QStringLiteral("http"));
    base.setHost(serverHost);
    base.setPort(serverPort);
    base.setPath(QStringLiteral("/"));
    ProfileAddress out;
    out.url = base.resolved(QUrl(address.trimmed().toString()));
    const QString scheme = out.url.scheme();
    if (!out.url.isValid() || out.url.host().isEmpty() || !out.url.userInfo().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        out.verdict = ProfileVerdict::NotAPage;
    else
        out.verdict =
            isServerHost(out.url, serverHost) ? ProfileVerdict::Fetch : ProfileVerdict::OtherHost;
    return out;
}

QNetworkRequest profileRequest(const QUrl& url, int timeoutMs) {
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    return request;
}

}  // namespace lantry

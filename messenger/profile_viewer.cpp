#include "profile_viewer.h"

#include <QAction>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QVBoxLayout>

#include "message_view.h"
#include "ondrel/profile_page.h"
#include "ondrel/text.h"
#include "safe_markup.h"
#include "wire_strings.h"

namespace messenger {

ProfileViewer::ProfileViewer(const QString& personShown, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("profileViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Profile of %1").arg(personShown));
    status_ = new QLabel(tr("Asking the server ..."), this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    page_ = new MessageView(this);
    page_->setObjectName(QStringLiteral("page"));
    network_ = new QNetworkAccessManager(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(page_, 1);
    resize(420, 320);
    auto* close = new QAction(this);
    close->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
}

ProfileViewer::~ProfileViewer() {
    if (reply_)
        reply_->abort();
}

void ProfileViewer::fetch(const QString& address, const QString& serverHost, quint16 serverPort) {
    const lantry::ProfileAddress page = lantry::profileAddress(address, serverHost, serverPort);
    if (page.verdict == lantry::ProfileVerdict::NotAPage) {
        status_->setText(tr("The server named an address that is not a web page: %1")
                             .arg(lantry::visibleText(address)));
        emit finished();
        return;
    }
    const QString target = page.url.toString(QUrl::FullyEncoded);
    if (page.verdict == lantry::ProfileVerdict::OtherHost) {
        status_->setText(tr("The profile is on another host than the server's, %1; it is not "
                            "fetched. Open the link only if you trust that host.")
                             .arg(page.url.host(QUrl::FullyEncoded)));
        page_->showSafeHtml(renderMarkup(QStringLiteral("<a href=\"%1\">%2</a>")
                                             .arg(target.toHtmlEscaped(), target.toHtmlEscaped())));
        emit finished();
        return;
    }
    status_->setText(tr("Fetching %1 ...").arg(target));
    const QNetworkRequest request = lantry::profileRequest(page.url, kTimeoutSeconds * 1000);
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > kMaxBytes && reply_) {
            tooBig_ = true;
            reply_->abort();
        }
    });
    QNetworkReply* reply = reply_;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { done(reply); });
}

void ProfileViewer::done(QNetworkReply* reply) {
    reply->deleteLater();
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        status_->setText(
            tooBig_ ? tr("The profile page is larger than %1 KB; it is not shown.")
                          .arg(kMaxBytes / 1024)
                    : tr("The profile could not be fetched: %1").arg(reply->errorString()));
        emit finished();
        return;
    }
    // Pages are read like messages: UTF-8 when valid, Latin-1 otherwise, whatever they claim.
    const QString text = lantry::fromWireText(body);
    page_->showSafeHtml(renderMarkup(text, OtherMarkup::Drop));
    status_->setText(tr("Profile fetched."));
    emit finished();
}

void ProfileViewer::fail(const QString& why) {
    status_->setText(why);
    emit finished();
}

QString ProfileViewer::status() const {
    return status_->text();
}

}  // namespace messenger

// Shows another person's profile: fetches the page the server names (GOTO_URL, resolved
// against the server's own host and port as TOC clients resolve it) with Qt Network, and
// shows it through the safe renderer in its page form: no script, no style, nothing loaded.
// Only http and https pages on the host the messenger is connected to are fetched (with no
// redirect to another host, scheme or port), within kTimeoutSeconds and kMaxBytes; a page
// elsewhere shows as a link, not fetched (lantry::profileAddress); failures show in words.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;

namespace messenger {

class MessageView;

class ProfileViewer : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimeoutSeconds = 10;
    static constexpr qint64 kMaxBytes = 256 * 1024;

    ProfileViewer(const QString& personShown, QWidget* parent = nullptr);
    ~ProfileViewer() override;

    // Fetches `address` (from UserProfile) relative to http://serverHost:serverPort/.
    void fetch(const QString& address, const QString& serverHost, quint16 serverPort);

    // The server will not show the profile; `why` in words.
    void fail(const QString& why);

    QString status() const;
    MessageView* page() const { return page_; }

signals:
    void finished();

private:
    void done(QNetworkReply* reply);

    QLabel* status_;
    MessageView* page_;
    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    bool tooBig_ = false;
};

}  // namespace messenger

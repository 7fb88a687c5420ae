// A page of received text (a profile): a read-only QTextBrowser that opens nothing by itself and
// loads no resource of any kind (images, style sheets), so received text can never reach the
// network. A link that is clicked opens in the desktop's browser only when isSafeLink says it
// may.
#pragma once

#include <QTextBrowser>

namespace messenger {

class MessageView : public QTextBrowser {
    Q_OBJECT
public:
    explicit MessageView(QWidget* parent = nullptr);

    // Shows `html` (already made safe) as the whole content.
    void showSafeHtml(const QString& html);

    QVariant loadResource(int type, const QUrl& name) override;
};

}  // namespace messenger

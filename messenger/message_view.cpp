#include "message_view.h"

#include <QDesktopServices>
#include "safe_markup.h"

namespace messenger {

MessageView::MessageView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setReadOnly(true);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (isSafeLink(url.toString()))
            QDesktopServices::openUrl(url);
    });
}

void MessageView::showSafeHtml(const QString& html) {
    setHtml(html);
}

QVariant MessageView::loadResource(int, const QUrl&) {
    return {};
}

}  // namespace messenger

#include "history_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocumentFragment>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "history_store.h"
#include "ondrel/text.h"

namespace messenger {

HistoryWindow::HistoryWindow(HistoryStore* history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(tr("History"));
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("search"));
    text_->setPlaceholderText(tr("Search every conversation and press Enter"));
    text_->setAccessibleName(tr("Search the history"));
    hits_ = new QTreeWidget(this);
    hits_->setObjectName(QStringLiteral("hits"));
    hits_->setAccessibleName(tr("Lines found"));
    hits_->setRootIsDecorated(false);
    hits_->setHeaderLabels({tr("Time"), tr("Conversation"), tr("From"), tr("Text")});
    hits_->header()->setStretchLastSection(true);
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(hits_, 1);
    layout->addWidget(status_);
    resize(640, 400);

    connect(text_, &QLineEdit::returnPressed, this, [this] { search(text_->text()); });
    connect(
        history_, &HistoryStore::found, this, [this](int request, const QList<HistoryHit>& found) {
            if (request != request_)
                return;
            hits_->clear();
            for (const HistoryHit& hit : found) {
                const QString line = QTextDocumentFragment::fromHtml(hit.line.html).toPlainText();
                hits_->addTopLevelItem(new QTreeWidgetItem(
                    {hit.line.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                     lantry::visibleText(hit.title), lantry::visibleText(hit.line.sender), line}));
            }
            status_->setText(found.isEmpty() ? tr("Nothing found.")
                             : found.size() >= HistoryStore::kMaxHits
                                 ? tr("The latest %1 lines found.").arg(found.size())
                                 : tr("%1 lines found.").arg(found.size()));
        });
}

void HistoryWindow::search(const QString& text) {
    text_->setText(text);
    if (text.isEmpty())
        return;
    status_->setText(tr("Searching..."));
    request_ = history_->search(text);
}

QString HistoryWindow::status() const {
    return status_->text();
}

}  // namespace messenger

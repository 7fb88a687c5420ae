#include "transcript_view.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

#include "safe_markup.h"
#include "transcript_model.h"

namespace messenger {

namespace {

// Rows laid out beyond those on screen before the ones farthest away are dropped.
constexpr int kKeptDocuments = 400;

// A line's document loads nothing, whatever a line might name.
class LineDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

}  // namespace

TranscriptView::TranscriptView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(1);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Conversation"));
}

TranscriptView::~TranscriptView() = default;

void TranscriptView::setModel(TranscriptModel* model) {
    if (model_)
        disconnect(model_, nullptr, this, nullptr);
    model_ = model;
    if (model_) {
        connect(model_, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) { rowsInserted(first, last); });
        connect(model_, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex&, int first, int last) { rowsRemoved(first, last); });
        connect(model_, &QAbstractItemModel::modelReset, this, &TranscriptView::reset);
        connect(model_, &QObject::destroyed, this, [this] {
            model_ = nullptr;
            reset();
        });
    }
    reset();
}

bool TranscriptView::atEnd() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() == bar->maximum();
}

void TranscriptView::scrollToEnd() {
    updateRange(true);
}

void TranscriptView::showRow(int row) {
    if (!model_ || row < 0 || row >= model_->rowCount())
        return;
    selected_ = row;
    verticalScrollBar()->setValue(row);
    viewport()->update();
}

void TranscriptView::reset() {
    documents_.clear();
    selected_ = -1;
    updateRange(true);
}

void TranscriptView::rowsInserted(int first, int last) {
    const bool follow = atEnd();
    const int count = last - first + 1;
    if (first < model_->rowCount() - count) {
        // Rows before others: every row after them moves down, the one at the bottom too.
        documents_.clear();
        if (selected_ >= first)
            selected_ += count;
        updateRange(follow);
        if (!follow) {
            adjusting_ = true;
            verticalScrollBar()->setValue(verticalScrollBar()->value() + count);
            adjusting_ = false;
        }
        return;
    }
    updateRange(follow);
}

void TranscriptView::rowsRemoved(int first, int last) {
    const bool follow = atEnd();
    const int count = last - first + 1;
    const int value = verticalScrollBar()->value();
    documents_.clear();
    selected_ = selected_ > last ? selected_ - count : selected_ >= first ? -1 : selected_;
    updateRange(follow);
    if (!follow && value > last) {
        adjusting_ = true;
        verticalScrollBar()->setValue(value - count);
        adjusting_ = false;
    }
}

void TranscriptView::updateRange(bool follow) {
    adjusting_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, model_ ? std::max(0, model_->rowCount() - 1) : 0);
    if (follow)
        bar->setValue(bar->maximum());
    adjusting_ = false;
    viewport()->update();
}

const QTextDocument* TranscriptView::lineDocument(int row) {
    const int width = std::max(20, viewport()->width());
    if (width != docWidth_) {
        documents_.clear();
        docWidth_ = width;
    }
    std::shared_ptr<QTextDocument>& doc = documents_[row];
    if (!doc) {
        doc = std::make_shared<LineDocument>();
        doc->setDefaultFont(font());
        doc->setDocumentMargin(2);
        doc->setHtml(model_->data(model_->index(row), TranscriptModel::HtmlRole).toString());
        doc->setTextWidth(width);
    }
    return doc.get();
}

void TranscriptView::place() {
    placed_.clear();
    if (!model_ || model_->rowCount() == 0)
        return;
    const int height = viewport()->height();
    const int bottom = std::min(verticalScrollBar()->value(), model_->rowCount() - 1);
    int y = height;
    for (int row = bottom; row >= 0 && y > 0; --row) {
        const int h = int(std::ceil(lineDocument(row)->size().height()));
        y -= h;
        placed_.prepend(Placed{row, y, h});
    }
    if (y > 0) {
        // Everything up to the bottom row fits with room to spare: the oldest line goes at the
        // top, and later lines fill the rest.
        placed_.clear();
        y = 0;
        for (int row = 0; row < model_->rowCount() && y < height; ++row) {
            const int h = int(std::ceil(lineDocument(row)->size().height()));
            placed_.append(Placed{row, y, h});
            y += h;
        }
    }
    verticalScrollBar()->setPageStep(std::max(1, int(placed_.size()) - 1));
    if (documents_.size() > kKeptDocuments) {
        const int low = placed_.front().row - kKeptDocuments / 4;
        const int high = placed_.back().row + kKeptDocuments / 4;
        documents_.removeIf(
            [&](const auto& item) { return item.key() < low || item.key() > high; });
    }
    if (placed_.front().row == 0 && model_->mayHaveOlder())
        QTimer::singleShot(0, this, &TranscriptView::olderWanted);
}

void TranscriptView::paintEvent(QPaintEvent*) {
    place();
    QPainter painter(viewport());
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text, palette().color(QPalette::Text));
    for (const Placed& p : std::as_const(placed_)) {
        const QRect rect(0, p.top, viewport()->width(), p.height);
        if (p.row == selected_)
            painter.fillRect(rect, palette().color(QPalette::Highlight).lighter(170));
        painter.save();
        painter.translate(0, p.top);
        context.clip = QRectF(0, 0, rect.width(), rect.height());
        documents_.value(p.row)->documentLayout()->draw(&painter, context);
        painter.restore();
    }
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
    const bool follow = atEnd();
    QAbstractScrollArea::resizeEvent(event);
    if (follow)
        scrollToEnd();
}

void TranscriptView::scrollContentsBy(int, int) {
    viewport()->update();
}

const TranscriptView::Placed* TranscriptView::placedAt(const QPoint& at) const {
    for (const Placed& p : placed_) {
        if (at.y() >= p.top && at.y() < p.top + p.height)
            return &p;
    }
    return nullptr;
}

QString TranscriptView::anchorAt(const QPoint& at) {
    const Placed* p = placedAt(at);
    if (!p)
        return {};
    return lineDocument(p->row)->documentLayout()->anchorAt(QPointF(at.x(), at.y() - p->top));
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
    if (const Placed* p = placedAt(event->position().toPoint())) {
        selected_ = p->row;
        viewport()->update();
    }
    const QString href = anchorAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && !href.isEmpty() && isSafeLink(href))
        QDesktopServices::openUrl(QUrl(href));
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
    const QString href = anchorAt(event->position().toPoint());
    viewport()->setCursor(href.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    viewport()->setToolTip(href);
}

void TranscriptView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy && model_ && selected_ >= 0) {
        QGuiApplication::clipboard()->setText(
            model_->data(model_->index(selected_), Qt::DisplayRole).toString());
        return;
    }
    if (event->key() == Qt::Key_End) {
        scrollToEnd();
        return;
    }
    if (event->key() == Qt::Key_Home) {
        verticalScrollBar()->setValue(0);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

}  // namespace messenger

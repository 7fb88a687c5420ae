// Shows a TranscriptModel: only the lines on screen are laid out (each as its own small
// document, kept while it stays near the screen), so a new line costs the same however long the
// conversation is, and a burst of lines is drawn once. The scroll bar counts lines: its value is
// the line drawn at the bottom. While that is the last line the view follows new lines; scrolled
// back, it stays where it is, and reaching the oldest line held asks for older ones
// (olderWanted). Received text is already safe HTML; nothing is loaded from anywhere, and a
// clicked link opens in the desktop's browser only when isSafeLink says it may. Clicking a line
// selects it; Ctrl+C copies it as text.
#pragma once

#include <QAbstractScrollArea>
#include <QHash>

#include <memory>

class QTextDocument;

namespace messenger {

class TranscriptModel;

class TranscriptView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TranscriptView(QWidget* parent = nullptr);
    ~TranscriptView() override;

    // `model` must outlive the view or be replaced first; null shows nothing.
    void setModel(TranscriptModel* model);
    TranscriptModel* model() const { return model_; }

    // Whether the latest line is the one at the bottom (new lines then scroll into view).
    bool atEnd() const;
    void scrollToEnd();
    // Brings `row` to the bottom of the view and selects it.
    void showRow(int row);
    int selectedRow() const { return selected_; }
    // The laid-out line as drawn (for what it holds: links, formats), at the view's width.
    const QTextDocument* lineDocument(int row);

signals:
    // The oldest line held is on screen: a good moment to load older ones.
    void olderWanted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Placed {
        int row;
        int top;
        int height;
    };
    void rowsInserted(int first, int last);
    void rowsRemoved(int first, int last);
    void reset();
    void updateRange(bool follow);
    // Lays out what fits on screen, bottom row first, into placed_.
    void place();
    const Placed* placedAt(const QPoint& at) const;
    QString anchorAt(const QPoint& at);

    TranscriptModel* model_ = nullptr;
    QHash<int, std::shared_ptr<QTextDocument>> documents_;  // by row, at docWidth_
    int docWidth_ = 0;
    QList<Placed> placed_;
    int selected_ = -1;
    bool adjusting_ = false;  // the range is being set by us, not scrolled by a person
};

}  // namespace messenger

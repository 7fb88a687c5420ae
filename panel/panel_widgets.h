// The small widgets signpad's window is made of: clickable labels and hot spots, the drag
// surface beneath everything, and the rectangle frames behind the status labels.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QValidator>
#include <QWidget>

namespace signpad {

// A one-line label that always shows its whole caption: a caption wider than the label is
// drawn narrower (scaled horizontally) instead of being cut off at the label's edge.
class FittedLabel : public QLabel {
    Q_OBJECT
public:
    explicit FittedLabel(const QString& text, QWidget* parent = nullptr);

    // The horizontal scale the caption is drawn with: 1, or less when it would not fit.
    double captionScale() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A label that reports a click: a left-button press and release both inside it. With no text
// and no background it is an invisible hot spot.
class ClickLabel : public FittedLabel {
    Q_OBJECT
public:
    explicit ClickLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

// Moves its window while a mouse button is held on it (any button, any modifier), and likewise
// on the bare parent around it (the surface need not cover every row of the window). It hands
// the move to the window system when the platform supports that; otherwise (no window
// manager, offscreen) it moves the window itself by following the pointer until release.
class DragSurface : public QWidget {
    Q_OBJECT
public:
    explicit DragSurface(QWidget* parent);

    // True while this widget moves the window itself.
    bool followingPointer() const { return following_; }

signals:
    // A move began: `bySystem` when the window system took it over.
    void moveStarted(bool bySystem);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool following_ = false;
    QPoint pressGlobal_;
    QPoint windowAtPress_;
};

// A one-pixel rectangle outline with a transparent inside; it takes no mouse input.
class FrameShape : public QWidget {
    Q_OBJECT
public:
    FrameShape(const QColor& color, QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// Accepts only text whose characters are codes 0 to 255: the control carries text as bytes.
class Latin1Validator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

}  // namespace signpad

#include "panel_widgets.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace signpad {

FittedLabel::FittedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
}

double FittedLabel::captionScale() const {
    const QFontMetricsF metrics(font());
    const QString caption = text();
    // The ink may reach past the advance (a glyph's overhang), so both count.
    const qreal needed =
        qMax(metrics.horizontalAdvance(caption), metrics.boundingRect(caption).right() + 1.0);
    return needed > width() ? width() / needed : 1.0;
}

void FittedLabel::paintEvent(QPaintEvent* event) {
    const qreal scale = captionScale();
    if (scale == 1.0) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    // Condensed glyphs need smoothing to stay legible.
    QFont condensed = font();
    condensed.setStyleStrategy(QFont::PreferAntialias);
    p.setFont(condensed);
    p.setPen(palette().color(foregroundRole()));
    p.scale(scale, 1.0);
    p.drawText(QRectF(0, 0, width() / scale, height()), int(alignment()), text());
}

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : FittedLabel(text, parent) {
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) {
        emit clicked();
    }
}

DragSurface::DragSurface(QWidget* parent) : QWidget(parent) {
    parent->installEventFilter(this);
}

bool DragSurface::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                mousePressEvent(static_cast<QMouseEvent*>(event));
                return true;
            case QEvent::MouseMove:
                mouseMoveEvent(static_cast<QMouseEvent*>(event));
                return true;
            case QEvent::MouseButtonRelease:
                mouseReleaseEvent(static_cast<QMouseEvent*>(event));
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DragSurface::mousePressEvent(QMouseEvent* event) {
    event->accept();
    QWindow* handle = window()->windowHandle();
    if (handle && handle->startSystemMove()) {
        emit moveStarted(true);
        return;
    }
    following_ = true;
    pressGlobal_ = event->globalPosition().toPoint();
    windowAtPress_ = window()->pos();
    emit moveStarted(false);
}

void DragSurface::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (following_) {
        window()->move(windowAtPress_ + event->globalPosition().toPoint() - pressGlobal_);
    }
}

void DragSurface::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->buttons() == Qt::NoButton) {
        following_ = false;
    }
}

FrameShape::FrameShape(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FrameShape::setColor(const QColor& color) {
    color_ = color;
    update();
}

void FrameShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(color_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

QValidator::State Latin1Validator::validate(QString& input, int&) const {
    for (const QChar c : input) {
        if (c.unicode() > 0xff) {
            return Invalid;
        }
    }
    return Acceptable;
}

}  // namespace signpad

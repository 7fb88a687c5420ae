// Draws the control's logo, a 125 x 37 24-bit bitmap, so that it can be regenerated:
//   ninja -C <build> ondrel_make_logo
//   QT_QPA_PLATFORM=offscreen <build>/bin/ondrel_make_logo control/platform/assets/logo.bmp
// The mark is a speech bubble with a ring in it ("O" for Ondrel); the name sits beside it.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    QImage image(125, 37, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient paper(0, 0, 0, 37);
    paper.setColorAt(0, QColor(0xfb, 0xfc, 0xfe));
    paper.setColorAt(1, QColor(0xe6, 0xec, 0xf5));
    p.fillRect(image.rect(), paper);
    p.setPen(QColor(0xc3, 0xcd, 0xdc));
    p.drawLine(0, 36, 124, 36);

    // The mark: a rounded bubble with a tail, a white ring and a dot of presence.
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(4, 4, 28, 24), 7, 7);
    QPainterPath tail;
    tail.moveTo(10, 26);
    tail.lineTo(8, 33);
    tail.lineTo(17, 27);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    QLinearGradient ink(4, 4, 32, 32);
    ink.setColorAt(0, QColor(0x2f, 0x8f, 0xf0));
    ink.setColorAt(1, QColor(0x12, 0x4a, 0xb0));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(bubble);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 3.2));
    p.drawEllipse(QPointF(18, 16), 6.5, 6.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xb3, 0x1a));
    p.drawEllipse(QPointF(26.5, 8.5), 3, 3);

    // The name.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(21);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.3);
    p.setFont(font);
    p.setPen(QColor(0x1c, 0x2b, 0x45));
    p.drawText(QRectF(38, 2, 86, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ondrel"));
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(7);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    p.setFont(small);
    p.setPen(QColor(0x5a, 0x6b, 0x86));
    p.drawText(QRectF(39, 25, 86, 9), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("MESSENGER"));
    p.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "BMP")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

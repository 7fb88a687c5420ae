// Draws signpad's assets into a folder: the 161 x 232 skin (24-bit BMP), the window icon (PNG)
// and the 13 x 1 shape bitmap (24-bit BMP) whose pixels carry the window's region-data block.
//
// Usage: signpad_make_assets OUTPUT_DIR
// Run it again after changing the drawing; the committed assets are its output.
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <array>
#include <cstdint>
#include <cstdio>

#include "layout.h"
#include "window_shape.h"

namespace {

using namespace signpad;

const QColor kInk(0x0e, 0x1c, 0x33);
const QColor kPlateTop(0x4d, 0x7d, 0xc4);
const QColor kPlateBottom(0x2a, 0x52, 0x91);
const QColor kLegend(0xc9, 0xd8, 0xef);

QFont legendFont(int pixels, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// A recessed well: dark outline outside `inner`, a light lower-right edge, `fill` inside.
void drawWell(QPainter& p, const QRect& inner, const QColor& fill) {
    const QRect outer = inner.adjusted(-1, -1, 1, 1);
    p.fillRect(outer, kInk);
    p.fillRect(QRect(outer.left(), outer.bottom(), outer.width(), 1), QColor(0x6f, 0x93, 0xc9));
    p.fillRect(QRect(outer.right(), outer.top(), 1, outer.height()), QColor(0x6f, 0x93, 0xc9));
    p.fillRect(inner, fill);
}

// A raised button plate behind an action label.
void drawPlate(QPainter& p, const QRect& label) {
    const QRectF r = QRectF(label.adjusted(-2, -1, 0, 1)).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kPlateTop);
    g.setColorAt(1, kPlateBottom);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x0b, 0x18, 0x2e), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(r.left() + 3, r.top() + 1), QPointF(r.right() - 3, r.top() + 1));
    p.setRenderHint(QPainter::Antialiasing, false);
}

void drawLegend(QPainter& p, const QRect& box, const QString& text, Qt::Alignment align) {
    p.setFont(legendFont(8));
    p.setPen(kLegend);
    p.drawText(box, int(align | Qt::AlignVCenter), text);
}

// The speech-bubble mark used by the skin's header and by the icon.
void drawMark(QPainter& p, const QRectF& box) {
    const qreal w = box.width();
    const qreal h = box.height();
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(box.left(), box.top(), w, h * 0.78), w * 0.24, w * 0.24);
    QPainterPath tail;
    tail.moveTo(box.left() + w * 0.22, box.top() + h * 0.70);
    tail.lineTo(box.left() + w * 0.16, box.bottom());
    tail.lineTo(box.left() + w * 0.46, box.top() + h * 0.70);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    QLinearGradient g(box.topLeft(), box.bottomLeft());
    g.setColorAt(0, QColor(0xff, 0xd4, 0x5a));
    g.setColorAt(1, QColor(0xf0, 0x9a, 0x1e));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x5a, 0x33, 0x05), qMax<qreal>(1.0, w / 24)));
    p.setBrush(g);
    p.drawPath(bubble);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5a, 0x33, 0x05));
    const qreal dot = w * 0.12;
    for (int i = 0; i < 3; ++i) {
        const qreal cx = box.left() + w * (0.28 + 0.22 * i);
        p.drawEllipse(QPointF(cx, box.top() + h * 0.39), dot / 2, dot / 2);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

QImage drawSkin() {
    QImage img(kClientSize, QImage::Format_RGB32);
    img.fill(QColor(0x10, 0x1a, 0x2c));
    QPainter p(&img);
    const QRect panel = kFallbackShape;

    QLinearGradient body(panel.topLeft(), panel.bottomLeft());
    body.setColorAt(0.0, QColor(0x33, 0x5b, 0x96));
    body.setColorAt(0.45, QColor(0x22, 0x41, 0x73));
    body.setColorAt(1.0, QColor(0x16, 0x2b, 0x4f));
    p.fillRect(panel, body);

    // Title strip across the top, between the close and minimise spots.
    const QRect title(panel.left(), panel.top(), panel.width(), 16);
    QLinearGradient strip(title.topLeft(), title.bottomLeft());
    strip.setColorAt(0, QColor(0x1b, 0x2f, 0x52));
    strip.setColorAt(1, QColor(0x11, 0x20, 0x3a));
    p.fillRect(title, strip);
    p.fillRect(QRect(title.left(), title.bottom() + 1, title.width(), 1), QColor(0x5d, 0x86, 0xc6));
    p.setFont(legendFont(9, true));
    p.setPen(QColor(0xe8, 0xef, 0xfa));
    p.drawText(QRect(18, title.top(), 118, title.height()), Qt::AlignCenter,
               QStringLiteral("Signpad"));

    // Close (top left) and minimise (top right) glyphs inside their hot spots.
    const QRect closeBox = kCloseSpot.intersected(panel).adjusted(2, 2, -2, -2);
    const QRect minBox = kMinimiseSpot.intersected(panel).adjusted(2, 2, -2, -2);
    for (const QRect& box : {closeBox, minBox}) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(0x07, 0x10, 0x20), 1));
        p.setBrush(box == closeBox ? QColor(0xb8, 0x3a, 0x32) : QColor(0x3d, 0x66, 0xa8));
        p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        const QRectF g = QRectF(box).adjusted(3.5, 3.5, -3.5, -3.5);
        if (box == closeBox) {
            p.drawLine(g.topLeft(), g.bottomRight());
            p.drawLine(g.topRight(), g.bottomLeft());
        } else {
            p.drawLine(QPointF(g.left(), g.bottom()), g.bottomRight());
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    // Header: the mark and the product's name.
    drawMark(p, QRectF(14, 27, 26, 26));
    p.setFont(legendFont(16, true));
    p.setPen(QColor(0x0b, 0x16, 0x2a));
    p.drawText(QRect(47, 26, 100, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ondrel"));
    p.setPen(Qt::white);
    p.drawText(QRect(46, 25, 100, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ondrel"));
    p.setFont(legendFont(8));
    p.setPen(kLegend);
    p.drawText(QRect(47, 46, 100, 10), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("TOC2 messenger"));
    p.fillRect(QRect(8, 62, 137, 1), QColor(0x0e, 0x1c, 0x33));
    p.fillRect(QRect(8, 63, 137, 1), QColor(0x4f, 0x78, 0xb8));

    // Sign-on section.
    const QColor field(0xf7, 0xf9, 0xfc);
    drawLegend(p, QRect(3, kText1.top(), kText1.left() - 6, kText1.height()),
               QStringLiteral("Name"), Qt::AlignRight);
    drawLegend(p, QRect(3, kText2.top(), kText2.left() - 6, kText2.height()),
               QStringLiteral("Password"), Qt::AlignRight);
    drawWell(p, kText1, field);
    drawWell(p, kText2, field);
    drawPlate(p, kLabel4);
    drawPlate(p, kLabel5);
    drawWell(p, kShape1, QColor(0x0c, 0x17, 0x2b));

    // Password-change section.
    p.fillRect(QRect(8, 137, 137, 1), QColor(0x0e, 0x1c, 0x33));
    p.fillRect(QRect(8, 138, 137, 1), QColor(0x4f, 0x78, 0xb8));
    p.setFont(legendFont(8, true));
    p.setPen(QColor(0xe8, 0xef, 0xfa));
    p.drawText(QRect(10, 142, 135, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Change your password"));
    drawLegend(p, QRect(3, kText4.top(), kText4.left() - 6, kText4.height()), QStringLiteral("Old"),
               Qt::AlignRight);
    drawLegend(p, QRect(3, kText3.top(), kText3.left() - 6, kText3.height()), QStringLiteral("New"),
               Qt::AlignRight);
    drawWell(p, kText4, field);
    drawWell(p, kText3, field);
    drawPlate(p, kLabel7);
    drawWell(p, kShape2, QColor(0x0c, 0x17, 0x2b));

    // A one-pixel bevel around the visible panel.
    p.setPen(QColor(0x7d, 0xa2, 0xda));
    p.drawLine(panel.topLeft(), panel.topRight());
    p.drawLine(panel.topLeft(), panel.bottomLeft());
    p.setPen(QColor(0x08, 0x11, 0x22));
    p.drawLine(panel.bottomLeft(), panel.bottomRight());
    p.drawLine(panel.topRight(), panel.bottomRight());
    p.end();
    return img;
}

QImage drawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF tile(0.5, 0.5, size - 1.0, size - 1.0);
    QLinearGradient g(tile.topLeft(), tile.bottomLeft());
    g.setColorAt(0, QColor(0x3a, 0x66, 0xa8));
    g.setColorAt(1, QColor(0x16, 0x2b, 0x4f));
    p.setPen(QPen(QColor(0x0b, 0x16, 0x2a), 1));
    p.setBrush(g);
    p.drawRoundedRect(tile, size * 0.18, size * 0.18);
    const qreal m = size * 0.17;
    drawMark(p, tile.adjusted(m, m * 1.1, -m, -m * 0.9));
    p.end();
    return img;
}

// A 24-bit BMP of `width` x 1 whose pixels hold `pixels` as blue, green, red triples.
QByteArray oneRowBmp(int width, const QByteArray& pixels) {
    const int rowBytes = (width * 3 + 3) & ~3;
    QByteArray row = pixels.left(width * 3);
    row.resize(rowBytes, '\0');
    QByteArray out;
    auto put16 = [&out](std::uint16_t v) {
        out.append(char(v & 0xff));
        out.append(char(v >> 8));
    };
    auto put32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.append(char((v >> (8 * i)) & 0xff));
        }
    };
    out.append("BM");
    put32(14 + 40 + rowBytes);
    put32(0);
    put32(14 + 40);
    put32(40);  // BITMAPINFOHEADER
    put32(std::uint32_t(width));
    put32(1);
    put16(1);
    put16(24);
    put32(0);  // no compression
    put32(std::uint32_t(rowBytes));
    put32(3780);  // 96 dpi
    put32(3780);
    put32(0);
    put32(0);
    out.append(row);
    return out;
}

// The shape bitmap: pixel i carries bytes 4i..4i+2 of the block (its fourth byte is the zero
// that a 32-bit read adds); the thirteenth pixel is padding.
QByteArray drawShapeBitmap() {
    const QByteArray block = encodeRegionData({kFallbackShape});
    QByteArray pixels;
    for (int i = 0; i < kShapeBitmapWidth; ++i) {
        for (int c = 0; c < 3; ++c) {
            const int at = 4 * i + c;
            pixels.append(at < block.size() ? block[at] : '\0');
        }
    }
    return oneRowBmp(kShapeBitmapWidth, pixels);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = drawSkin().save(dir.filePath(QStringLiteral("skin.bmp")), "BMP") &&
                    drawIcon(64).save(dir.filePath(QStringLiteral("icon.png")), "PNG") &&
                    writeFile(dir.filePath(QStringLiteral("shape.bmp")), drawShapeBitmap());
    if (!ok) {
        std::fprintf(stderr, "cannot write the assets into %s\n", argv[1]);
        return 1;
    }
    return 0;
}

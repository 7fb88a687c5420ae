#include "window_shape.h"

#include <cstdint>

namespace signpad {

namespace {

constexpr qsizetype kHeaderBytes = 32;
constexpr qsizetype kRectBytes = 16;
constexpr std::int32_t kTypeRectangles = 1;
// Far beyond any screen; keeps widths and heights inside int.
constexpr std::int32_t kCoordinateLimit = 1 << 24;

void put32(QByteArray& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xffu));
    }
}

std::int32_t get32(QByteArrayView bytes, qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= std::uint32_t(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return static_cast<std::int32_t>(v);
}

std::int32_t clampCoordinate(std::int32_t v) {
    return qBound(-kCoordinateLimit, v, kCoordinateLimit);
}

void putRect(QByteArray& out, const QRect& r) {
    put32(out, r.left());
    put32(out, r.top());
    put32(out, r.left() + r.width());
    put32(out, r.top() + r.height());
}

}  // namespace

QByteArray encodeRegionData(const QList<QRect>& rects) {
    QRect bound;
    for (const QRect& r : rects) {
        bound = bound.united(r);
    }
    QByteArray out;
    put32(out, kHeaderBytes);
    put32(out, kTypeRectangles);
    put32(out, std::int32_t(rects.size()));
    put32(out, std::int32_t(rects.size() * kRectBytes));
    putRect(out, bound);
    for (const QRect& r : rects) {
        putRect(out, r);
    }
    return out;
}

std::optional<QRegion> decodeRegionData(QByteArrayView block) {
    if (block.size() < kHeaderBytes || get32(block, 0) != kHeaderBytes ||
        get32(block, 4) != kTypeRectangles) {
        return std::nullopt;
    }
    const std::int32_t count = get32(block, 8);
    if (count < 0 || qint64(count) * kRectBytes > block.size() - kHeaderBytes) {
        return std::nullopt;
    }
    QRegion region;
    for (std::int32_t i = 0; i < count; ++i) {
        const qsizetype at = kHeaderBytes + qsizetype(i) * kRectBytes;
        const std::int32_t left = clampCoordinate(get32(block, at));
        const std::int32_t top = clampCoordinate(get32(block, at + 4));
        const std::int32_t right = clampCoordinate(get32(block, at + 8));
        const std::int32_t bottom = clampCoordinate(get32(block, at + 12));
        if (left < right && top < bottom) {
            region += QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
        }
    }
    if (region.isEmpty()) {
        return std::nullopt;
    }
    return region;
}

QByteArray bitmapBits32(const QImage& bitmap, int count) {
    QByteArray out;
    const QImage rgb = bitmap.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height() && out.size() < count; ++y) {
        for (int x = 0; x < rgb.width() && out.size() < count; ++x) {
            const QRgb px = rgb.pixel(x, y);
            out.append(static_cast<char>(qBlue(px)));
            out.append(static_cast<char>(qGreen(px)));
            out.append(static_cast<char>(qRed(px)));
            out.append('\0');
        }
    }
    out.truncate(count);
    return out;
}

std::optional<QRegion> shapeFromBitmap(const QImage& bitmap) {
    if (bitmap.isNull()) {
        return std::nullopt;
    }
    return decodeRegionData(bitmapBits32(bitmap, kRegionDataBytes));
}

}  // namespace signpad

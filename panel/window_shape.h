// The window's shape travels among signpad's resources as a 13 x 1, 24-bit bitmap whose pixels
// are not a picture: read as 32-bit pixels (blue, green, red, zero), its first 48 bytes are a
// region-data block in its little-endian layout:
//   header: size (32), type (1 = rectangles), rectangle count, rectangle bytes, bounding
//           rectangle (left, top, right, bottom), each a 32-bit integer;
//   then `count` rectangles (left, top, right, bottom), right and bottom exclusive.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QList>
#include <QRect>
#include <QRegion>

#include <optional>

namespace signpad {

inline constexpr int kShapeBitmapWidth = 13;
inline constexpr int kRegionDataBytes = 48;

// The block describing the union of `rects` (header, bounding rectangle, rectangles).
QByteArray encodeRegionData(const QList<QRect>& rects);

// The region of a block, or nothing when the block is malformed: shorter than its header, a
// header size other than 32, a type other than 1, more rectangles than the bytes hold, or a
// region that is empty. Empty rectangles inside the block are skipped.
std::optional<QRegion> decodeRegionData(QByteArrayView block);

// The first `count` bytes of `bitmap` as a 32-bit device-dependent read returns them: rows top
// to bottom, each pixel as blue, green, red, 0. Shorter when the bitmap holds fewer.
QByteArray bitmapBits32(const QImage& bitmap, int count);

// The shape carried by `bitmap` (the first 48 bytes of its 32-bit bits), or nothing when the
// bitmap is null or the block does not decode.
std::optional<QRegion> shapeFromBitmap(const QImage& bitmap);

}  // namespace signpad

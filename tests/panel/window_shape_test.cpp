// The shape bitmap and its decoding, and the skin's drawn places for the window's elements.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include <array>
#include <cstdint>
#include <limits>

#include "layout.h"
#include "window_shape.h"

namespace {

using namespace signpad;

QByteArray dwords(std::initializer_list<std::int64_t> values) {
    QByteArray out;
    for (std::int64_t v : values) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) {
            out.append(static_cast<char>((u >> (8 * i)) & 0xffu));
        }
    }
    return out;
}

QByteArray resource(const char* name) {
    QFile f(QStringLiteral(":/signpad/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::uint32_t le(const QByteArray& b, int at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v |= std::uint32_t(static_cast<unsigned char>(b[at + i])) << (8 * i);
    }
    return v;
}

// Width, height and bits per pixel from a BMP file's info header.
std::array<std::uint32_t, 3> bmpGeometry(const QByteArray& bmp) {
    if (bmp.size() < 54 || !bmp.startsWith("BM")) {
        return {0, 0, 0};
    }
    return {le(bmp, 18, 4), le(bmp, 22, 4), le(bmp, 28, 2)};
}

TEST(ShapeBitmap, IsA13By1TrueColourBitmapCarryingTheOneRectangleBlock) {
    const QByteArray file = resource("shape.bmp");
    const auto geometry = bmpGeometry(file);
    EXPECT_EQ(geometry[0], 13u);
    EXPECT_EQ(geometry[1], 1u);
    EXPECT_EQ(geometry[2], 24u);

    const QImage bitmap = QImage::fromData(file);
    ASSERT_FALSE(bitmap.isNull());
    const QByteArray expected = dwords({32, 1, 1, 16, 1, 2, 153, 230, 1, 2, 153, 230});
    EXPECT_EQ(bitmapBits32(bitmap, kRegionDataBytes), expected);

    EXPECT_FALSE(shapeFromBitmap(bitmap.copy(0, 0, 11, 1)).has_value());  // 44 bytes: too few
    const std::optional<QRegion> shape = shapeFromBitmap(bitmap);
    ASSERT_TRUE(shape.has_value());
    EXPECT_EQ(*shape, QRegion(QRect(QPoint(1, 2), QPoint(152, 229))));
    EXPECT_EQ(shape->boundingRect().size(), QSize(152, 228));
}

TEST(RegionData, DecodesTheUnionOfItsRectanglesSkippingEmptyOnes) {
    const QByteArray two = dwords({32, 1, 2, 32, 0, 0, 30, 30,  // header
                                   0, 0, 10, 10, 20, 5, 30, 30});
    EXPECT_EQ(decodeRegionData(two), QRegion(0, 0, 10, 10) + QRegion(20, 5, 10, 25));

    const QByteArray withEmpty = dwords({32, 1, 3, 48, 0, 0, 9, 9,  // header
                                         5,  5, 5, 9,  0, 0, 4, 4, 7, 7, 3, 9});
    EXPECT_EQ(decodeRegionData(withEmpty), QRegion(0, 0, 4, 4));

    // Extra bytes after the rectangles (the shape bitmap's padding) are not read.
    EXPECT_EQ(decodeRegionData(encodeRegionData({QRect(3, 4, 5, 6)}) + QByteArray(9, '\x7f')),
              QRegion(3, 4, 5, 6));

    // Coordinates far off any screen neither crash nor wrap around.
    const auto huge =
        decodeRegionData(dwords({32, 1, 1, 16, 0, 0, 0, 0, std::numeric_limits<std::int32_t>::min(),
                                 0, std::numeric_limits<std::int32_t>::max(), 10}));
    ASSERT_TRUE(huge.has_value());
    EXPECT_TRUE(huge->contains(QPoint(0, 5)));
    EXPECT_TRUE(huge->contains(QPoint(100000, 9)));
}

TEST(RegionData, RefusesMalformedBlocks) {
    const QByteArray good = encodeRegionData({QRect(1, 2, 152, 228)});
    struct Case {
        const char* what;
        QByteArray block;
    };
    const Case cases[] = {
        {"empty", QByteArray()},
        {"shorter than the header", good.left(31)},
        {"header size not 32", dwords({40, 1, 1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"type not rectangles", dwords({32, 2, 1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"more rectangles than bytes", dwords({32, 1, 2, 32, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"rectangle cut short", good.left(47)},
        {"negative count", dwords({32, 1, -1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"count that overflows", dwords({32, 1, 0x10000001, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"no rectangles", dwords({32, 1, 0, 0, 0, 0, 0, 0})},
        {"only empty rectangles", dwords({32, 1, 1, 16, 0, 0, 0, 0, 153, 2, 1, 230})},
        {"all zero", QByteArray(48, '\0')},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(decodeRegionData(c.block).has_value()) << c.what;
    }
    EXPECT_TRUE(decodeRegionData(good).has_value());
}

int lightness(const QImage& img, QPoint p) {
    return QColor(img.pixel(p)).lightness();
}

TEST(Skin, IsA161By232TrueColourPictureWithAPlaceForEveryElement) {
    const QByteArray file = resource("skin.bmp");
    const auto geometry = bmpGeometry(file);
    EXPECT_EQ(geometry[0], 161u);
    EXPECT_EQ(geometry[1], 232u);
    EXPECT_EQ(geometry[2], 24u);
    const QImage skin = QImage::fromData(file);
    ASSERT_EQ(skin.size(), kClientSize);

    // Fields are light wells with a dark outline just outside them.
    for (const QRect& field : {kText1, kText2, kText4, kText3}) {
        EXPECT_GT(lightness(skin, field.center()), 200);
        EXPECT_LT(lightness(skin, field.topLeft() - QPoint(1, 1)), 60);
    }
    // The status frames are dark wells, set apart from the panel around them.
    for (const QRect& frame : {kShape1, kShape2}) {
        const int inside = lightness(skin, frame.center() + QPoint(frame.width() / 3, 0));
        EXPECT_LT(inside, 40);
        EXPECT_GT(lightness(skin, frame.bottomLeft() + QPoint(0, 3)), inside + 20);
    }
    // Action labels sit on plates that differ from the background around them.
    for (const QRect& action : {kLabel4, kLabel5, kLabel7}) {
        EXPECT_NE(skin.pixel(action.center()), skin.pixel(action.center() + QPoint(0, 8)));
    }
    // The close and minimise spots carry their glyphs.
    for (const QRect& spot : {kCloseSpot, kMinimiseSpot}) {
        EXPECT_NE(skin.pixel(spot.center()), skin.pixel(QPoint(spot.center().x(), 40)));
    }
    EXPECT_FALSE(QImage::fromData(resource("icon.png")).isNull());
}

}  // namespace

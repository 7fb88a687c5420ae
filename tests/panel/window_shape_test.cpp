// Region-data blocks (the window's shape travels as one; the window test checks the shape
// bitmap's), and the skin's drawn places for the window's elements.
#include <gtest/gtest.h>

#include <QImage>

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

TEST(RegionData, DecodesTheUnionOfItsRectanglesSkippingEmptyOnes) {
    const QByteArray withEmpty = dwords({32, 1, 3,  48, 0, 0, 30, 30,  // header
                                         0,  0, 10, 10, 7, 7, 3,  9,  20, 5, 30, 30});
    EXPECT_EQ(decodeRegionData(withEmpty), QRegion(0, 0, 10, 10) + QRegion(20, 5, 10, 25));

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
    ASSERT_TRUE(decodeRegionData(good).has_value());
    const std::pair<const char*, QByteArray> cases[] = {
        {"shorter than the header", good.left(31)},
        {"header size not 32", dwords({40, 1, 1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"type not rectangles", dwords({32, 2, 1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"rectangle cut short", good.left(47)},
        {"negative count", dwords({32, 1, -1, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"count that overflows", dwords({32, 1, 0x10000001, 16, 1, 2, 153, 230, 1, 2, 153, 230})},
        {"only empty rectangles", dwords({32, 1, 1, 16, 0, 0, 0, 0, 153, 2, 1, 230})},
    };
    for (const auto& [what, block] : cases) {
        EXPECT_FALSE(decodeRegionData(block).has_value()) << what;
    }
}

int lightness(const QImage& img, QPoint p) {
    return QColor(img.pixel(p)).lightness();
}

TEST(Skin, IsAPictureOfTheClientAreaWithAPlaceForEveryElement) {
    const QImage skin(QStringLiteral(":/signpad/skin.bmp"));
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
    // Action labels sit on plates; the close and minimise spots carry their glyphs.
    for (const QRect& action : {kLabel4, kLabel5, kLabel7}) {
        EXPECT_NE(skin.pixel(action.center()), skin.pixel(action.center() + QPoint(0, 8)));
    }
    for (const QRect& spot : {kCloseSpot, kMinimiseSpot}) {
        EXPECT_NE(skin.pixel(spot.center()), skin.pixel(QPoint(spot.center().x(), 40)));
    }
    EXPECT_FALSE(QImage(QStringLiteral(":/signpad/icon.png")).isNull());
}

}  // namespace

// Host values to declared types: the coercions a late-binding host relies on.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QStringList>
#include <limits>

#include "conversions.h"

namespace lantry {
namespace {

constexpr qint64 kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr qint64 kMax32 = std::numeric_limits<std::int32_t>::max();

struct IntegerCase {
    QVariant in;
    qint64 min, max;
    Conversion result;
    qint64 out;
};

TEST(Conversions, Integers) {
    const std::vector<IntegerCase> cases = {
        {QStringLiteral(" -42 "), kMin32, kMax32, Conversion::Ok, -42},
        {QStringLiteral("1e3"), kMin32, kMax32, Conversion::Ok, 1000},
        {QByteArray("77"), kMin32, kMax32, Conversion::Ok, 77},
        {2.5, kMin32, kMax32, Conversion::Ok, 2},  // half to even
        {3.5, kMin32, kMax32, Conversion::Ok, 4},
        {true, kMin32, kMax32, Conversion::Ok, -1},
        {QVariant(), kMin32, kMax32, Conversion::Ok, 0},
        {QVariant::fromValue<short>(-7), kMin32, kMax32, Conversion::Ok, -7},
        {kMax32, kMin32, kMax32, Conversion::Ok, kMax32},
        {kMax32 + 1, kMin32, kMax32, Conversion::Overflow, 0},
        {QVariant::fromValue(std::numeric_limits<qulonglong>::max()), kMin32, kMax32,
         Conversion::Overflow, 0},
        {QStringLiteral("-32769"), -32768, 32767, Conversion::Overflow, 0},
        {QStringLiteral(""), kMin32, kMax32, Conversion::Mismatch, 0},
        {std::numeric_limits<double>::quiet_NaN(), kMin32, kMax32, Conversion::Mismatch, 0},
        {QVariant(QStringList{"1"}), kMin32, kMax32, Conversion::Mismatch, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.toString().toStdString() + " as " +
                     (c.in.isValid() ? c.in.metaType().name() : "nothing"));
        qint64 out = 12345;
        QString why;
        EXPECT_EQ(toInteger(c.in, c.min, c.max, out, why), c.result);
        if (c.result == Conversion::Ok) {
            EXPECT_EQ(out, c.out);
        } else {
            EXPECT_FALSE(why.isEmpty());
        }
    }
}

TEST(Conversions, BooleansAreTheHostsOwn) {
    const std::vector<std::tuple<QVariant, Conversion, bool>> cases = {
        {-1.0, Conversion::Ok, true},
        {1, Conversion::Ok, false},  // only -1 is true
        {true, Conversion::Ok, true},
        {QStringLiteral("tRuE"), Conversion::Ok, true},
        {QStringLiteral(" False "), Conversion::Ok, false},
        {QStringLiteral("-1"), Conversion::Ok, true},
        {QStringLiteral("1"), Conversion::Ok, false},
        {QVariant(), Conversion::Ok, false},
        {QStringLiteral("yes"), Conversion::Mismatch, false},
        {QVariant(QStringList{}), Conversion::Mismatch, false},
    };
    for (const auto& [in, result, value] : cases) {
        SCOPED_TRACE(in.toString().toStdString());
        bool out = !value;
        QString why;
        EXPECT_EQ(toBoolean(in, out, why), result);
        if (result == Conversion::Ok) {
            EXPECT_EQ(out, value);
        }
    }
}

TEST(Conversions, TextIsBytesBothWays) {
    const std::vector<std::tuple<QVariant, Conversion, std::string>> cases = {
        {QStringLiteral("caf\u00e9\u00ff"), Conversion::Ok, "caf\xe9\xff"},
        {QByteArray("a\0b\xfe", 4), Conversion::Ok, std::string("a\0b\xfe", 4)},
        {5190, Conversion::Ok, "5190"},
        {2.5, Conversion::Ok, "2.5"},
        {true, Conversion::Ok, "True"},
        {QVariant(), Conversion::Ok, ""},
        {QStringLiteral("\u20ac"), Conversion::Mismatch, ""},
        {QVariant(QStringList{"a"}), Conversion::Mismatch, ""},
    };
    for (const auto& [in, result, bytes] : cases) {
        SCOPED_TRACE(in.toString().toStdString());
        std::string out = "stale";
        QString why;
        EXPECT_EQ(toText(in, out, why), result);
        if (result == Conversion::Ok) {
            EXPECT_EQ(out, bytes);
        }
    }
    // Back to the caller: bytes stay bytes, everything else becomes Latin-1 text.
    const std::string high = "\xe9\x01";
    EXPECT_EQ(textLike(QByteArray(), high), QVariant(QByteArray("\xe9\x01")));
    EXPECT_EQ(textLike(QString(), high), QVariant(QStringLiteral("\u00e9\u0001")));
    EXPECT_EQ(textLike(42, high), QVariant(QStringLiteral("\u00e9\u0001")));
}

}  // namespace
}  // namespace lantry

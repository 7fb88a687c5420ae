#include "conversions.h"

#include <QByteArray>
#include <QMetaType>
#include <cmath>

namespace lantry {

namespace {

bool isWholeType(int id) {
    switch (id) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return true;
        default:
            return false;
    }
}

bool isRealType(int id) {
    return id == QMetaType::Double || id == QMetaType::Float;
}

bool isTextType(int id) {
    return id == QMetaType::QString || id == QMetaType::QByteArray;
}

QString typeName(const QVariant& value) {
    const char* name = value.metaType().name();
    return name ? QString::fromLatin1(name) : QStringLiteral("an unknown type");
}

Conversion fromReal(double real, qint64 min, qint64 max, qint64& out, QString& why) {
    if (!std::isfinite(real)) {
        why = QStringLiteral("%1 is not a number").arg(real);
        return Conversion::Mismatch;
    }
    // nearbyint in the default rounding mode rounds half to even, as such hosts do.
    const double rounded = std::nearbyint(real);
    if (rounded < static_cast<double>(min) || rounded > static_cast<double>(max)) {
        why = QStringLiteral("%1 is outside %2 to %3").arg(real).arg(min).arg(max);
        return Conversion::Overflow;
    }
    out = static_cast<qint64>(rounded);
    return Conversion::Ok;
}

Conversion inRange(qint64 value, qint64 min, qint64 max, qint64& out, QString& why) {
    if (value < min || value > max) {
        why = QStringLiteral("%1 is outside %2 to %3").arg(value).arg(min).arg(max);
        return Conversion::Overflow;
    }
    out = value;
    return Conversion::Ok;
}

}  // namespace

Conversion toText(const QVariant& value, std::string& out, QString& why) {
    const int id = value.metaType().id();
    if (!value.isValid()) {
        out.clear();
        return Conversion::Ok;
    }
    if (id == QMetaType::QByteArray) {
        out = value.toByteArray().toStdString();
        return Conversion::Ok;
    }
    if (id == QMetaType::QString || id == QMetaType::QChar) {
        const QString s = value.toString();
        for (qsizetype i = 0; i < s.size(); ++i) {
            if (s.at(i).unicode() > 0xFF) {
                why = QStringLiteral("character U+%1 at position %2 is not a single byte")
                          .arg(s.at(i).unicode(), 4, 16, QLatin1Char('0'))
                          .arg(i);
                return Conversion::Mismatch;
            }
        }
        out = s.toLatin1().toStdString();
        return Conversion::Ok;
    }
    if (id == QMetaType::Bool) {
        out = value.toBool() ? "True" : "False";
        return Conversion::Ok;
    }
    if (isWholeType(id) || isRealType(id)) {
        out = value.toString().toStdString();
        return Conversion::Ok;
    }
    why = QStringLiteral("%1 does not convert to text").arg(typeName(value));
    return Conversion::Mismatch;
}

Conversion toInteger(const QVariant& value, qint64 min, qint64 max, qint64& out, QString& why) {
    const int id = value.metaType().id();
    if (!value.isValid()) {
        out = 0;
        return Conversion::Ok;
    }
    if (id == QMetaType::Bool)
        return inRange(value.toBool() ? -1 : 0, min, max, out, why);
    if (id == QMetaType::ULongLong || id == QMetaType::ULong) {
        const qulonglong u = value.toULongLong();
        if (u > static_cast<qulonglong>(max)) {
            why = QStringLiteral("%1 is outside %2 to %3").arg(u).arg(min).arg(max);
            return Conversion::Overflow;
        }
        out = static_cast<qint64>(u);
        return Conversion::Ok;
    }
    if (isWholeType(id))
        return inRange(value.toLongLong(), min, max, out, why);
    if (isRealType(id))
        return fromReal(value.toDouble(), min, max, out, why);
    if (isTextType(id)) {
        bool ok = false;
        const qlonglong whole = value.toLongLong(&ok);
        if (ok)
            return inRange(whole, min, max, out, why);
        const double real = value.toDouble(&ok);
        if (ok)
            return fromReal(real, min, max, out, why);
        why = QStringLiteral("\"%1\" is not a number").arg(value.toString());
        return Conversion::Mismatch;
    }
    why = QStringLiteral("%1 does not convert to a number").arg(typeName(value));
    return Conversion::Mismatch;
}

Conversion toBoolean(const QVariant& value, bool& out, QString& why) {
    const int id = value.metaType().id();
    if (!value.isValid()) {
        out = false;
        return Conversion::Ok;
    }
    if (id == QMetaType::Bool) {
        out = value.toBool();
        return Conversion::Ok;
    }
    if (isWholeType(id) || isRealType(id)) {
        out = value.toDouble() == -1.0;
        return Conversion::Ok;
    }
    if (isTextType(id)) {
        const QString s = value.toString().trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
            out = true;
            return Conversion::Ok;
        }
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            out = false;
            return Conversion::Ok;
        }
        bool ok = false;
        const double number = s.toDouble(&ok);
        if (ok) {
            out = number == -1.0;
            return Conversion::Ok;
        }
        why = QStringLiteral("\"%1\" is not a boolean").arg(value.toString());
        return Conversion::Mismatch;
    }
    why = QStringLiteral("%1 does not convert to a boolean").arg(typeName(value));
    return Conversion::Mismatch;
}

QVariant textLike(const QVariant& original, const std::string& bytes) {
    if (original.metaType().id() == QMetaType::QByteArray)
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace lantry

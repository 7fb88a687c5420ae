#include "text_codec.h"

#include <QStringDecoder>

namespace messenger {

QString fromWire(const QString& bytes) {
    const QByteArray raw = bytes.toLatin1();
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    return utf8.hasError() ? bytes : text;
}

QByteArray toWire(const QString& text) {
    return text.toUtf8();
}

namespace {

int escapedSize(char c) {
    switch (c) {
        case '\\':
        case '$':
        case '"':
        case '(':
        case ')':
        case '[':
        case ']':
        case '{':
        case '}':
            return 2;
        default:
            return 1;
    }
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}

}  // namespace

QList<QByteArray> splitForSending(const QString& text, qsizetype room) {
    room = std::max<qsizetype>(room, 4);
    const QByteArray bytes = text.toUtf8();
    QList<QByteArray> parts;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        qsizetype used = 0;
        while (end < bytes.size() && used + escapedSize(bytes[end]) <= room) {
            used += escapedSize(bytes[end]);
            ++end;
        }
        if (end < bytes.size()) {
            while (end > start && isContinuationByte(bytes[end]))
                --end;
            const qsizetype blank = bytes.lastIndexOf(' ', end - 1);
            if (blank > start + (end - start) / 2)
                end = blank + 1;
        }
        parts.append(bytes.mid(start, end - start));
        start = end;
    }
    return parts;
}

}  // namespace messenger

// Text between a person and the wire. The component layer hands text over as one character per
// byte (Latin-1); people read and type Unicode. Received bytes that are valid UTF-8 are read as
// UTF-8, anything else as Latin-1 (older clients); what a person types is sent as UTF-8.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace messenger {

// Bytes as the component layer delivers them (one character per byte), as a person reads them.
QString fromWire(const QString& bytes);
// What a person typed, as the bytes to hand to the control.
QByteArray toWire(const QString& text);

// `text` as UTF-8 parts whose escaped form (a backslash before each of \ $ " ( ) [ ] { }, as the
// control escapes free text) takes at most `room` bytes each. Cuts at the last blank of a part
// when one lies in its second half, never inside a UTF-8 character. An empty text gives no
// part; `room` below 4 is taken as 4 (one character of UTF-8).
QList<QByteArray> splitForSending(const QString& text, qsizetype room);

}  // namespace messenger

// Host values to the control's declared types, the way late-binding hosts coerce them.
#pragma once

#include <QString>
#include <QVariant>
#include <cstdint>
#include <string>

namespace lantry {

enum class Conversion { Ok, Mismatch, Overflow };

// Text: QByteArray as is, QString when every character is 0-255, numbers as decimal text,
// booleans as "True" / "False"; an invalid QVariant is empty text. `why` says what failed.
Conversion toText(const QVariant& value, std::string& out, QString& why);
// Integers of [min, max]: whole numbers, doubles rounded half to even, numeric text (blanks
// around it allowed), booleans as -1 / 0; an invalid QVariant is 0.
Conversion toInteger(const QVariant& value, qint64 min, qint64 max, qint64& out, QString& why);
// The host's boolean: a number is true exactly when it is -1; bool as itself; "True" and
// "False" in any case; an invalid QVariant is false.
Conversion toBoolean(const QVariant& value, bool& out, QString& why);

// Text back into a variable of the caller's type: QByteArray stays bytes, anything else
// becomes a Latin-1 QString.
QVariant textLike(const QVariant& original, const std::string& bytes);

}  // namespace lantry

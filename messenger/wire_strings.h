// The component layer hands text over as QString with one character per byte (Latin-1) and
// takes it back the same way; these turn such strings into what a person reads and back,
// through the hosts' shared text helper (ondrel/text.h), and compare screen names.
#pragma once

#include <QString>

#include "ondrel/text.h"

namespace messenger {

// Received text (one character per byte) as a person reads it.
inline QString fromWire(const QString& wire) {
    return lantry::fromWireText(wire.toLatin1());
}

// Received text for a plain-text label, title, list item or dialog: as fromWire, with the
// characters that hide themselves, reorder text or start lines made visible.
inline QString shownText(const QString& wire) {
    return lantry::visibleText(fromWire(wire));
}

// Typed text as the one-character-per-byte string the control takes.
inline QString toWire(const QString& typed) {
    return QString::fromLatin1(lantry::toWireText(typed));
}

// Screen names compare without regard to case and blanks.
inline QString normalizedName(const QString& name) {
    QString out = name.toLower();
    out.remove(u' ');
    return out;
}

}  // namespace messenger

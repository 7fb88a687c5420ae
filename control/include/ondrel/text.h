// Text between people and the wire, for every host that shows a person what arrives or sends
// what a person typed: the encoding of received and typed text, markup turned into plain text,
// and long messages cut into parts that servers accept.
//
// The control itself keeps text as bytes (ondrel.h); these functions are where a host turns
// them into characters and back. Pure functions: any thread, no state, nothing throws.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>

namespace lantry {

// Received text as characters. The control announces UTF-8 at sign-on and servers pass bytes
// through, so text that is valid UTF-8 is decoded as UTF-8 (a leading byte-order mark stays,
// as U+FEFF); any other text comes from an older client and is taken as Latin-1, one character
// per byte. Nothing is dropped: every byte ends up in some character.
QString fromWireText(QByteArrayView bytes);

// Typed text for the wire: UTF-8. A lone surrogate (not a character) becomes U+FFFD.
QByteArray toWireText(QStringView text);

// HTML character references replaced by their characters: the 252 names of HTML 4 (&eacute;
// &Eacute; &euro; &hellip;) as written, &apos;, and &amp; &lt; &gt; &quot; &nbsp; &apos; also in
// any case (&AMP;), and numeric ones (&#233; &#xE9;). A reference that is unknown, has no ";"
// or names no character (0, a surrogate, past U+10FFFF) stays as written. The result may hold any
// character, control characters included: what reaches a screen goes through that medium's
// renderer, which makes them harmless.
QString decodeEntities(QStringView text);

// Characters that show nothing or change how the text around them reads: format characters
// (zero-width spaces and joiners, the soft hyphen, direction marks, embeddings and isolates,
// the byte-order mark, the tags U+E0000-U+E007F), the line and paragraph separators, the
// combining grapheme joiner (U+034F) and the fillers that draw as blank space (U+115F, U+1160,
// U+3164, U+FFA0, and U+180E). Every renderer of received text shows them as visible signs.
bool isHiddenCharacter(char32_t c);

// Received text (already decoded) for a plain-text label, tooltip or dialog: C0 controls as
// their pictures (U+2400 + code, U+2421 for DEL), a tab as a blank, C1 controls and hidden
// characters as "<U+XXXX>" (at least four hex digits). Nothing else changes; the result is
// plain text, to be shown with Qt::PlainText (or escaped where only rich text is possible).
QString visibleText(QStringView text);

// A received message, invitation or profile as plain text: tags removed (as Ondrel::RemoveHtml
// does), then the encoding resolved (fromWireText), then references decoded (decodeEntities).
QString messageText(QByteArrayView wireHtml);

// How far back from the size limit a cut looks for a blank to end a part after.
constexpr std::size_t kSplitBlankReach = 160;

// A long message cut into consecutive parts that, joined, give the message back, each small
// enough that SendIM(recipient, part, autoResponse) sends a command within
// Ondrel::kMaxCommandPayload bytes (escaping and the frame's trailing NUL counted, exactly as
// the control builds the command). A part ends after the last blank within kSplitBlankReach
// bytes of where the limit falls, when there is one; a cut never falls inside a UTF-8
// character, nor inside a tag ("<" up to ">") or a character reference ("&amp;"): it moves back
// to their start, unless that would leave the part empty. A message that fits is one part, an
// empty message one empty part. Empty list when not even one character fits beside the
// recipient's name. `reserved`: command bytes kept free in every part, for text the caller
// sends around each part (as escaped).
QList<QByteArray> splitForIm(QByteArrayView message, QByteArrayView recipient,
                             bool autoResponse = false, std::size_t reserved = 0);
// The same for SendChat into the room chatId.
QList<QByteArray> splitForChat(QByteArrayView message, std::int32_t chatId,
                               std::size_t reserved = 0);

}  // namespace lantry

// Text from the network as a terminal shows it. Every text that came from the server (messages,
// names, room names, invitations, profiles, error sentences) reaches the terminal through these
// functions and nothing else, so that no text can forge a line, move the cursor, retitle the
// window or reorder what is shown.
//
// Pure functions; output is UTF-8 and never holds a control character, LF included, but for
// the line breaks of messageForTerminal: a caller writes it with its own line end.
#pragma once

#include <QStringView>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lantry::cli {

// What starts each further line of a message that holds line breaks: blanks as wide as the
// time stamp, then a hooked arrow. Only messageForTerminal starts a line inside a message (a
// received line end shows as "^J"), so no text can make a line that passes for a message.
inline constexpr std::string_view kContinuationMark = "           \u21b3 ";

// Characters for the terminal: C0 controls and DEL in caret notation ("^[" for ESC, "^M" for
// CR, "^J" for LF, "^@" for NUL, "^?" for DEL), C1 controls with a "M-" before the caret form
// of their low seven bits ("M-^[" for U+009B), and the characters that hide themselves,
// reorder text or break lines (lantry::isHiddenCharacter) as "<U+202E>". Everything else as
// it is.
std::string terminalText(QStringView text);
// Received text without markup (a name, a room, an error sentence): encoding resolved as
// fromWireText (ondrel/text.h) does, then as terminalText.
std::string wireForTerminal(std::string_view wire);
// A received message, invitation or profile: tags removed and references decoded
// (messageText in ondrel/text.h), then as terminalText. A br, p, hr or li tag ends a line:
// each further line follows a LF and kContinuationMark, and blank ones are left out.
std::string messageForTerminal(std::string_view wireHtml);
// A web page (a profile) as lines of text: the body only, a line break at <br>, at the end of a
// paragraph, heading or block, then as messageForTerminal; blank lines left out.
std::vector<std::string> pageForTerminal(std::string_view html);

// The number of characters of UTF-8 text, for lining up columns.
std::size_t displayWidth(std::string_view utf8);
// `utf8` followed by blanks up to `width` characters (never cut).
std::string padded(std::string_view utf8, std::size_t width);

}  // namespace lantry::cli

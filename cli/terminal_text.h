// Text from the network as a terminal shows it. Every text that came from the server (messages,
// names, room names, invitations, profiles, error sentences) reaches the terminal through these
// functions and nothing else, so that no text can forge a line, move the cursor, retitle the
// window or reorder what is shown.
//
// Pure functions; output is UTF-8 and never holds a control character, LF included: a caller
// writes it with its own line end.
#pragma once

#include <QStringView>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lantry::cli {

// Characters for the terminal: C0 controls and DEL in caret notation ("^[" for ESC, "^M" for
// CR, "^J" for LF, "^@" for NUL, "^?" for DEL), C1 controls with a "M-" before the caret form
// of their low seven bits ("M-^[" for U+009B), and the characters that reorder text or break
// lines (bidirectional controls, U+2028, U+2029) as "<U+202E>". Everything else as it is.
std::string terminalText(QStringView text);
// Received text without markup (a name, a room, an error sentence): encoding resolved as
// fromWireText (ondrel/text.h) does, then as terminalText.
std::string wireForTerminal(std::string_view wire);
// A received message, invitation or profile: tags removed and references decoded
// (messageText in ondrel/text.h), then as terminalText.
std::string messageForTerminal(std::string_view wireHtml);
// A web page (a profile) as lines of text: the body only, a line break at <br>, at the end of a
// paragraph, heading or block, then as messageForTerminal; blank lines left out.
std::vector<std::string> pageForTerminal(std::string_view html);

// The number of characters of UTF-8 text, for lining up columns.
std::size_t displayWidth(std::string_view utf8);
// `utf8` followed by blanks up to `width` characters (never cut).
std::string padded(std::string_view utf8, std::size_t width);

}  // namespace lantry::cli

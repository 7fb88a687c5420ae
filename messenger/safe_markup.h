// The one renderer of received text for windows: turns the markup other people send into HTML
// that a QTextDocument can show without harm.
//
// Kept: bold (b, strong), italic (i, em), underline (u), colour (font color="..." as #rrggbb)
// and links (a href with an http, https or mailto address). Character references are decoded
// (&amp; &lt; &gt; &quot; &apos; &nbsp; and numeric ones). The output holds no other element,
// no attribute but those the renderer writes itself, and nothing that loads anything.
//
// Wrapping html and body tags go; a br shows as a return sign. A message is one line: line ends,
// other control characters and the invisible characters that reorder or separate lines show as
// visible signs, so a message cannot start a line of its own and pass it off as someone else's.
#pragma once

#include <QString>

namespace messenger {

enum class OtherMarkup {
    // Any other tag shows as the text it is ("<script>" reads "<script>"): for messages.
    ShowAsText,
    // Any other tag goes; block elements (p, div, br, headings, list items, table rows) end a
    // line; script, style and head go with their content: for fetched profile pages.
    Drop,
};

// HTML for `text` (Unicode, already decoded from the wire).
QString renderMarkup(const QString& text, OtherMarkup other = OtherMarkup::ShowAsText);

// True for addresses a link may point at (http, https, mailto).
bool isSafeLink(const QString& address);

}  // namespace messenger

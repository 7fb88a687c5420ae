// The one renderer of received text for windows: turns the markup other people send into HTML
// that a QTextDocument can show without harm.
//
// Kept: bold (b, strong), italic (i, em), underline (u), colour (font color="..." as #rrggbb,
// made darker or lighter until it has kMinContrast against the window's background, the
// application palette's Base colour) and links (a href with an address isSafeLink accepts; a
// link inside a link is not kept). Character references are decoded (lantry::decodeEntities).
// The output holds no other element, no attribute but those the renderer writes itself, and
// nothing that loads anything.
//
// Links cannot lie about where they go: each carries its real host and address as its tooltip,
// and when its text reads like an address on another host ("https://bank.example/login" for
// http://evil.example/), the real host follows it in brackets, " [evil.example]" (in ASCII
// form, so that look-alike letters show as "xn--").
//
// Addresses written out in the text (http://, https://, mailto:, at the start of a word) become
// links by the same rule, except inside a link or a tag shown as text: an address runs to the next
// blank, control or hidden character, quote or angle bracket; "." "," ";" ":" "!" "?" "'" at its
// end, and a ")" or
// "]" that closes nothing opened inside it, are the sentence's and stay outside the link. An
// address isSafeLink refuses stays text. The link shows the address as written.
//
// Wrapping html and body tags go; a br shows as a return sign. A message is one line: line ends,
// other control characters and the characters that hide themselves, reorder or separate lines
// (lantry::isHiddenCharacter) show as visible signs, so a message cannot start a line of its own
// and pass it off as someone else's.
//
// Time and memory are linear in the length of the text, whatever it holds.
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

// The least contrast (as WCAG measures it, 1 to 21) a kept text colour has against the
// background.
inline constexpr double kMinContrast = 3.0;

// A tooltip showing `plain` exactly as it is, line ends included: QToolTip takes anything
// that looks like markup as rich text. Received parts go through lantry::visibleText first.
QString toolTipText(const QString& plain);

// The formatting a person chose for a whole message.
struct TextStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

// The tags that give `style` to what follows them (as renderMarkup keeps them, "<b><i><u>"),
// and those that end it again, in the reverse order.
QString openingTags(TextStyle style);
QString closingTags(TextStyle style);

// Typed text as the markup sent: every character stands for itself ("&", "<", ">" and '"'
// written as references), between the style's tags. renderMarkup shows it exactly as typed.
QString typedMarkup(const QString& typed, TextStyle style);

// True for addresses a link may point at: http and https with a host, mailto with an address
// and no parameters but subject and body; never one with user information ("user@host").
bool isSafeLink(const QString& address);

}  // namespace messenger

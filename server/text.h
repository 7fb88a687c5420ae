// Text rules of tocd that do not depend on a connection: screen names, the configuration text
// of CONFIG2 and toc2_new_buddies, HTML escaping and log-safe renderings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tocd {

// A screen name has at most this many characters besides blanks, and at most this many bytes
// in all, so that no name costs more than a few bytes wherever it is compared or sent.
constexpr std::size_t kMaxScreenNameChars = 16;
constexpr std::size_t kMaxScreenNameBytes = 32;

// Letters, digits and blanks only, at most kMaxScreenNameBytes in all; 3 to
// kMaxScreenNameChars characters once normalised, the first a letter.
bool isValidScreenName(std::string_view name);

// A group name, alias or room name that fits the colon- and line-separated server messages:
// 1-64 bytes, no colon, line break or NUL.
bool isSafeField(std::string_view text);

// One buddy entry of a toc2_new_buddies list: the group it goes into, its name, its alias.
struct BuddyEntry {
    std::string group;
    std::string name;
    std::string alias;
};

// The groups and buddies of a toc2_new_buddies text ("g:GROUP", "b:NAME[:ALIAS]" lines,
// optionally inside braces), in text order. Groups without buddies come back as entries with
// an empty name. A buddy before any group goes into `defaultGroup`. Other lines are ignored.
std::vector<BuddyEntry> parseBuddyText(std::string_view text, std::string_view defaultGroup);

// The configuration lines cut into CONFIG2 message texts of at most `maxBytes` each (a longer
// single line travels alone), always ending with the "done:" line.
std::vector<std::string> configChunks(const std::vector<std::string>& lines, std::size_t maxBytes);

// & < > " ' as character references; every other byte unchanged.
std::string htmlEscape(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or codes past
// U+10FFFF).
bool isUtf8(std::string_view bytes);

// Client text for a UTF-8 page: as is when it is valid UTF-8, otherwise read as Latin-1 and
// converted; then HTML-escaped, with control characters other than tab and line breaks
// replaced by U+FFFD.
std::string pageText(std::string_view bytes);

// Printable ASCII as is, everything else as \xNN: safe to write to a log.
std::string printable(std::string_view bytes);

}  // namespace tocd

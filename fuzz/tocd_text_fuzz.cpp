// tocd's handling of client text that needs no connection: the argument parser every command
// goes through, the buddy-list text of toc2_new_buddies, the CONFIG2 chunking, screen-name
// checks and the log, HTML and page renderings. Each is checked against a property, not just run.
//
// Input: byte 0 picks the rule, the rest is the client's text.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ondrel/wire.h"
#include "text.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "tocd text rule broken: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto rule = data[0] % 5;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    switch (rule) {
        case 0: {
            // Quoted again the way the control quotes, the arguments must parse back the same.
            const auto args = lantry::wire::parseArguments(text);
            std::string line;
            for (const auto& a : args.value_or(std::vector<std::string>{}))
                line += " \"" + lantry::wire::escapeQuoted(a) + '"';
            if (args && lantry::wire::parseArguments(line) != args)
                broken("parsed arguments do not survive quoting and parsing again");
            break;
        }
        case 1: {
            for (const auto& e : tocd::parseBuddyText(text, "Buddies")) {
                for (const auto* field : {&e.group, &e.name, &e.alias}) {
                    if (field->find('\n') != std::string::npos)
                        broken("a buddy entry holds a line break");
                }
                if (e.name.find(':') != std::string::npos)
                    broken("a buddy name holds a colon");
            }
            break;
        }
        case 2: {
            // The first byte sets the chunk size, the rest are the lines.
            const std::size_t maxBytes =
                8 + (text.empty() ? 0 : static_cast<unsigned char>(text[0]));
            std::vector<std::string> lines;
            std::string expected, joined;
            for (std::string_view rest = text.empty() ? text : text.substr(1); !rest.empty();) {
                const auto end = std::min(rest.find('\n'), rest.size());
                lines.emplace_back(rest.substr(0, end));
                expected += lines.back() + "\n";
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
            expected += "done:\n";
            for (const auto& c : tocd::configChunks(lines, maxBytes)) {
                joined += c;
                if (c.empty() || c.back() != '\n')
                    broken("a CONFIG2 chunk does not end a line");
                if (c.size() > maxBytes && c.find('\n') != c.size() - 1)
                    broken("an oversized CONFIG2 chunk holds more than one line");
            }
            if (joined != expected)
                broken("CONFIG2 chunks do not add up to the configuration and its done:");
            break;
        }
        case 3: {
            if (tocd::isValidScreenName(text)) {
                const auto key = lantry::wire::normalizeName(text);
                if (key.size() < 3 || key.size() > tocd::kMaxScreenNameChars ||
                    text.size() > tocd::kMaxScreenNameBytes)
                    broken("a valid screen name of the wrong length");
                if (key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") !=
                    std::string::npos)
                    broken("a valid screen name with a character that is not a letter or digit");
            }
            if (tocd::isSafeField(text) &&
                text.find_first_of(std::string_view(":\r\n\0", 4)) != std::string_view::npos)
                broken("a safe field with a separator");
            break;
        }
        case 4: {
            for (const char c : tocd::printable(text)) {
                if (c < 32 || c > 126)
                    broken("the log rendering lets a control byte through");
            }
            if (tocd::htmlEscape(text).find_first_of("<>\"'") != std::string::npos)
                broken("HTML escaping lets markup through");
            const std::string page = tocd::pageText(text);
            if (!tocd::isUtf8(page) || page.find_first_of("<>\"'") != std::string::npos)
                broken("page text that is not UTF-8 or lets markup through");
            if (tocd::isUtf8(text) && text.find_first_of("&<>\"'") == std::string::npos &&
                std::none_of(text.begin(), text.end(),
                             [](char c) { return (c >= 0 && c < 32) || c == 127; }) &&
                page != text)
                broken("valid UTF-8 without markup changed on the page");
            break;
        }
    }
    return 0;
}

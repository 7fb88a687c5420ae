// tocd's handling of client text that needs no connection: the argument parser every command
// goes through, the buddy-list text of toc2_new_buddies, the CONFIG2 chunking, screen-name
// checks and the log and HTML renderings. Each is checked against a property, not just run.
//
// Input: byte 0 picks the rule, the rest is the client's text.
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

// Quotes each argument the way the control does, for the round trip of the parser.
std::string requote(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& a : args) {
        line += " \"";
        line += lantry::wire::escapeQuoted(a);
        line += '"';
    }
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto rule = data[0] % 5;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    switch (rule) {
        case 0: {
            const auto args = lantry::wire::parseArguments(text);
            if (!args)
                break;
            const auto again = lantry::wire::parseArguments(requote(*args));
            if (!again || *again != *args)
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
            std::vector<std::string> lines;
            std::string_view rest = text.size() > 1 ? text.substr(1) : std::string_view{};
            const std::size_t maxBytes =
                8 + (text.empty() ? 0 : static_cast<unsigned char>(text[0]));
            while (!rest.empty()) {
                const auto end = rest.find('\n');
                lines.emplace_back(rest.substr(0, end));
                rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
            }
            const auto chunks = tocd::configChunks(lines, maxBytes);
            std::string joined, expected;
            for (const auto& l : lines)
                expected += l + "\n";
            expected += "done:\n";
            for (const auto& c : chunks) {
                joined += c;
                if (c.empty() || c.back() != '\n')
                    broken("a CONFIG2 chunk does not end a line");
                if (c.size() > maxBytes && c.find('\n') != c.size() - 1)
                    broken("an oversized CONFIG2 chunk holds more than one line");
            }
            if (joined != expected)
                broken("CONFIG2 chunks do not add up to the configuration");
            if (chunks.back().size() < 6 ||
                chunks.back().substr(chunks.back().size() - 6) != "done:\n")
                broken("the last CONFIG2 chunk does not end with done:");
            break;
        }
        case 3: {
            if (tocd::isValidScreenName(text)) {
                const auto key = lantry::wire::normalizeName(text);
                if (key.size() < 3 || key.size() > 16)
                    broken("a valid screen name of the wrong length");
                for (const char c : key) {
                    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
                        broken(
                            "a valid screen name with a character that is not a letter or digit");
                }
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
            for (const char c : tocd::htmlEscape(text)) {
                if (c == '<' || c == '>' || c == '"' || c == '\'')
                    broken("HTML escaping lets markup through");
            }
            break;
        }
    }
    return 0;
}

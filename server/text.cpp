#include "text.h"

#include "ondrel/wire.h"

namespace tocd {

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool isValidScreenName(std::string_view name) {
    for (char c : name) {
        if (!isLetter(c) && !isDigit(c) && c != ' ')
            return false;
    }
    if (name.size() > kMaxScreenNameBytes)
        return false;
    const std::string key = lantry::wire::normalizeName(name);
    return key.size() >= 3 && key.size() <= kMaxScreenNameChars && isLetter(key[0]);
}

bool isSafeField(std::string_view text) {
    if (text.empty() || text.size() > 64)
        return false;
    return text.find_first_of(std::string_view(":\r\n\0", 4)) == std::string_view::npos;
}

std::vector<BuddyEntry> parseBuddyText(std::string_view text, std::string_view defaultGroup) {
    if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, text.size() - 2);
    }
    std::vector<BuddyEntry> out;
    std::string group(defaultGroup);
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.substr(0, 2) == "g:") {
            group = line.substr(2);
            out.push_back({group, {}, {}});
        } else if (line.substr(0, 2) == "b:") {
            const auto rest = line.substr(2);
            const auto colon = rest.find(':');
            BuddyEntry entry{group, std::string(rest.substr(0, colon)), {}};
            if (colon != std::string_view::npos)
                entry.alias = rest.substr(colon + 1);
            out.push_back(std::move(entry));
        }
    }
    return out;
}

std::vector<std::string> configChunks(const std::vector<std::string>& lines, std::size_t maxBytes) {
    std::vector<std::string> chunks(1);
    auto add = [&](std::string_view line) {
        if (!chunks.back().empty() && chunks.back().size() + line.size() + 1 > maxBytes) {
            chunks.emplace_back();
        }
        chunks.back().append(line);
        chunks.back().push_back('\n');
    };
    for (const auto& line : lines)
        add(line);
    add("done:");
    return chunks;
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

bool isUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xbf;  // the range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            low = lead == 0xe0 ? 0xa0 : 0x80;   // not overlong
            high = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            low = lead == 0xf0 ? 0x90 : 0x80;   // not overlong
            high = lead == 0xf4 ? 0x8f : 0xbf;  // at most U+10FFFF
        } else {
            return false;
        }
        if (bytes.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xbf))
                return false;
        }
        i += length;
    }
    return true;
}

std::string pageText(std::string_view bytes) {
    std::string utf8;
    if (isUtf8(bytes)) {
        utf8 = bytes;
    } else {
        utf8.reserve(bytes.size() * 2);
        for (char c : bytes) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x80) {
                utf8.push_back(c);
            } else {
                utf8.push_back(static_cast<char>(0xc0 | (u >> 6)));
                utf8.push_back(static_cast<char>(0x80 | (u & 0x3f)));
            }
        }
    }
    std::string out;
    out.reserve(utf8.size());
    for (char c : htmlEscape(utf8)) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 32 && c != '\t' && c != '\n' && c != '\r') || u == 127) {
            out += "\xef\xbf\xbd";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string printable(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && c != '\\') {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    return out;
}

}  // namespace tocd

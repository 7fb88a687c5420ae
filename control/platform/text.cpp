// Text between people and the wire; see text.h.
#include "ondrel/text.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <optional>
#include <string>

#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

namespace {

// A UTF-8 character has at most three bytes after its first.
constexpr std::size_t kUtf8MaxContinuation = 3;
// The longest reference decodeEntities knows, "&#x10FFFF;", between "&" and ";".
constexpr qsizetype kLongestReference = 8;

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes each byte of a message takes on the wire. Escaping works byte by byte, so a part's
// command is its empty command plus these sizes.
const std::array<std::uint8_t, 256>& escapedSizes() {
    static const auto sizes = [] {
        std::array<std::uint8_t, 256> out{};
        for (int b = 0; b < 256; ++b)
            out[b] = static_cast<std::uint8_t>(
                wire::escapeText(std::string(1, static_cast<char>(b))).size());
        return out;
    }();
    return sizes;
}

// `overhead`: the command with an empty message, its NUL included.
QList<QByteArray> splitParts(QByteArrayView message, std::size_t overhead) {
    QList<QByteArray> parts;
    if (overhead > Ondrel::kMaxCommandPayload)
        return parts;
    const std::size_t room = Ondrel::kMaxCommandPayload - overhead;
    const auto& cost = escapedSizes();
    const char* const data = message.data();
    const auto size = static_cast<std::size_t>(message.size());
    std::size_t start = 0;
    do {
        std::size_t end = start;
        for (std::size_t used = 0; end < size; ++end) {
            used += cost[static_cast<unsigned char>(data[end])];
            if (used > room)
                break;
        }
        if (end < size) {
            std::size_t cut = end;
            for (std::size_t back = 0; back < kUtf8MaxContinuation && cut > start; ++back) {
                if (!isContinuation(data[cut]))
                    break;
                --cut;
            }
            // Still inside a run of continuation bytes: not UTF-8 here, every byte a character.
            if (isContinuation(data[cut]))
                cut = end;
            const std::size_t reachEnd =
                cut > start + kSplitBlankReach ? cut - kSplitBlankReach : start;
            for (std::size_t at = cut; at > reachEnd; --at) {
                if (data[at - 1] == ' ') {
                    cut = at;
                    break;
                }
            }
            if (cut == start)
                return {};
            end = cut;
        }
        parts.append(QByteArray(data + start, static_cast<qsizetype>(end - start)));
        start = end;
    } while (start < size);
    return parts;
}

std::optional<char32_t> namedReference(QStringView name) {
    static const struct {
        const char* name;
        char32_t character;
    } kNamed[] = {{"amp", U'&'},  {"lt", U'<'},    {"gt", U'>'},
                  {"quot", U'"'}, {"apos", U'\''}, {"nbsp", U'\u00A0'}};
    for (const auto& n : kNamed)
        if (name.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return n.character;
    return std::nullopt;
}

int digitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return 16;
}

std::optional<char32_t> numericReference(QStringView digits) {
    int base = 10;
    if (digits.startsWith(u'x', Qt::CaseInsensitive)) {
        base = 16;
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return std::nullopt;
    char32_t value = 0;
    for (const QChar c : digits) {
        const int digit = digitValue(c.unicode());
        if (digit >= base)
            return std::nullopt;
        value = value * static_cast<char32_t>(base) + static_cast<char32_t>(digit);
        if (value > 0x10FFFF)
            return std::nullopt;
    }
    if (value == 0 || QChar::isSurrogate(value))
        return std::nullopt;
    return value;
}

}  // namespace

QString fromWireText(QByteArrayView bytes) {
    // Stateless: a character cut short at the end is an error, not a wait for more bytes.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray toWireText(QStringView text) {
    return text.toUtf8();
}

QString decodeEntities(QStringView text) {
    QString out;
    out.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype amp = text.indexOf(u'&', at);
        if (amp < 0)
            break;
        out.append(text.mid(at, amp - at));
        const qsizetype semi = text.mid(amp + 1, kLongestReference + 1).indexOf(u';');
        std::optional<char32_t> decoded;
        if (semi > 0) {
            const QStringView name = text.mid(amp + 1, semi);
            decoded = name.startsWith(u'#') ? numericReference(name.mid(1)) : namedReference(name);
        }
        if (decoded) {
            out.append(QChar::fromUcs4(*decoded));
            at = amp + semi + 2;
        } else {
            out.append(u'&');
            at = amp + 1;
        }
    }
    out.append(text.mid(at));
    return out;
}

QString messageText(QByteArrayView wireHtml) {
    const std::string plain = wire::removeHtml(
        std::string_view(wireHtml.data(), static_cast<std::size_t>(wireHtml.size())));
    return decodeEntities(
        fromWireText(QByteArrayView(plain.data(), static_cast<qsizetype>(plain.size()))));
}

QList<QByteArray> splitForIm(QByteArrayView message, QByteArrayView recipient, bool autoResponse) {
    const std::string name(recipient.data(), static_cast<std::size_t>(recipient.size()));
    return splitParts(message, Ondrel::imCommand(name, std::string(), autoResponse).size() + 1);
}

QList<QByteArray> splitForChat(QByteArrayView message, std::int32_t chatId) {
    return splitParts(message, Ondrel::chatCommand(chatId, std::string()).size() + 1);
}

}  // namespace lantry

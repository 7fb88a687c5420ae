// Text between people and the wire; see text.h.
#include "ondrel/text.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace lantry {

namespace {

// A UTF-8 character has at most three bytes after its first.
constexpr std::size_t kUtf8MaxContinuation = 3;
// The longest reference decodeEntities knows, "&#x10FFFF;" or "&thetasym;", between "&" and ";".
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

// `cut`, moved back to the "<" of a tag or the "&" of a character reference it falls inside,
// when that leaves the part from `start` something.
std::size_t outsideMarkup(const char* data, std::size_t start, std::size_t cut) {
    for (std::size_t at = cut; at > start; --at) {
        if (data[at - 1] == '>')
            break;
        if (data[at - 1] == '<') {
            if (at - 1 > start)
                cut = at - 1;
            break;
        }
    }
    for (std::size_t at = cut; at > start && cut - at <= std::size_t(kLongestReference); --at) {
        const char c = data[at - 1];
        if (c == '&') {
            if (at - 1 > start)
                cut = at - 1;
            break;
        }
        if (c != '#' && !std::isalnum(static_cast<unsigned char>(c)))
            break;
    }
    return cut;
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
            cut = outsideMarkup(data, start, cut);
            if (cut == start)
                return {};
            end = cut;
        }
        parts.append(QByteArray(data + start, static_cast<qsizetype>(end - start)));
        start = end;
    } while (start < size);
    return parts;
}

// The character references of HTML 4, sorted by name (byte order).
constexpr struct {
    std::string_view name;
    char32_t character;
} kNamedReferences[] = {
    {"AElig", 0xC6},     {"Aacute", 0xC1},    {"Acirc", 0xC2},    {"Agrave", 0xC0},
    {"Alpha", 0x391},    {"Aring", 0xC5},     {"Atilde", 0xC3},   {"Auml", 0xC4},
    {"Beta", 0x392},     {"Ccedil", 0xC7},    {"Chi", 0x3A7},     {"Dagger", 0x2021},
    {"Delta", 0x394},    {"ETH", 0xD0},       {"Eacute", 0xC9},   {"Ecirc", 0xCA},
    {"Egrave", 0xC8},    {"Epsilon", 0x395},  {"Eta", 0x397},     {"Euml", 0xCB},
    {"Gamma", 0x393},    {"Iacute", 0xCD},    {"Icirc", 0xCE},    {"Igrave", 0xCC},
    {"Iota", 0x399},     {"Iuml", 0xCF},      {"Kappa", 0x39A},   {"Lambda", 0x39B},
    {"Mu", 0x39C},       {"Ntilde", 0xD1},    {"Nu", 0x39D},      {"OElig", 0x152},
    {"Oacute", 0xD3},    {"Ocirc", 0xD4},     {"Ograve", 0xD2},   {"Omega", 0x3A9},
    {"Omicron", 0x39F},  {"Oslash", 0xD8},    {"Otilde", 0xD5},   {"Ouml", 0xD6},
    {"Phi", 0x3A6},      {"Pi", 0x3A0},       {"Prime", 0x2033},  {"Psi", 0x3A8},
    {"Rho", 0x3A1},      {"Scaron", 0x160},   {"Sigma", 0x3A3},   {"THORN", 0xDE},
    {"Tau", 0x3A4},      {"Theta", 0x398},    {"Uacute", 0xDA},   {"Ucirc", 0xDB},
    {"Ugrave", 0xD9},    {"Upsilon", 0x3A5},  {"Uuml", 0xDC},     {"Xi", 0x39E},
    {"Yacute", 0xDD},    {"Yuml", 0x178},     {"Zeta", 0x396},    {"aacute", 0xE1},
    {"acirc", 0xE2},     {"acute", 0xB4},     {"aelig", 0xE6},    {"agrave", 0xE0},
    {"alefsym", 0x2135}, {"alpha", 0x3B1},    {"amp", 0x26},      {"and", 0x2227},
    {"ang", 0x2220},     {"aring", 0xE5},     {"asymp", 0x2248},  {"atilde", 0xE3},
    {"auml", 0xE4},      {"bdquo", 0x201E},   {"beta", 0x3B2},    {"brvbar", 0xA6},
    {"bull", 0x2022},    {"cap", 0x2229},     {"ccedil", 0xE7},   {"cedil", 0xB8},
    {"cent", 0xA2},      {"chi", 0x3C7},      {"circ", 0x2C6},    {"clubs", 0x2663},
    {"cong", 0x2245},    {"copy", 0xA9},      {"crarr", 0x21B5},  {"cup", 0x222A},
    {"curren", 0xA4},    {"dArr", 0x21D3},    {"dagger", 0x2020}, {"darr", 0x2193},
    {"deg", 0xB0},       {"delta", 0x3B4},    {"diams", 0x2666},  {"divide", 0xF7},
    {"eacute", 0xE9},    {"ecirc", 0xEA},     {"egrave", 0xE8},   {"empty", 0x2205},
    {"emsp", 0x2003},    {"ensp", 0x2002},    {"epsilon", 0x3B5}, {"equiv", 0x2261},
    {"eta", 0x3B7},      {"eth", 0xF0},       {"euml", 0xEB},     {"euro", 0x20AC},
    {"exist", 0x2203},   {"fnof", 0x192},     {"forall", 0x2200}, {"frac12", 0xBD},
    {"frac14", 0xBC},    {"frac34", 0xBE},    {"frasl", 0x2044},  {"gamma", 0x3B3},
    {"ge", 0x2265},      {"gt", 0x3E},        {"hArr", 0x21D4},   {"harr", 0x2194},
    {"hearts", 0x2665},  {"hellip", 0x2026},  {"iacute", 0xED},   {"icirc", 0xEE},
    {"iexcl", 0xA1},     {"igrave", 0xEC},    {"image", 0x2111},  {"infin", 0x221E},
    {"int", 0x222B},     {"iota", 0x3B9},     {"iquest", 0xBF},   {"isin", 0x2208},
    {"iuml", 0xEF},      {"kappa", 0x3BA},    {"lArr", 0x21D0},   {"lambda", 0x3BB},
    {"lang", 0x2329},    {"laquo", 0xAB},     {"larr", 0x2190},   {"lceil", 0x2308},
    {"ldquo", 0x201C},   {"le", 0x2264},      {"lfloor", 0x230A}, {"lowast", 0x2217},
    {"loz", 0x25CA},     {"lrm", 0x200E},     {"lsaquo", 0x2039}, {"lsquo", 0x2018},
    {"lt", 0x3C},        {"macr", 0xAF},      {"mdash", 0x2014},  {"micro", 0xB5},
    {"middot", 0xB7},    {"minus", 0x2212},   {"mu", 0x3BC},      {"nabla", 0x2207},
    {"nbsp", 0xA0},      {"ndash", 0x2013},   {"ne", 0x2260},     {"ni", 0x220B},
    {"not", 0xAC},       {"notin", 0x2209},   {"nsub", 0x2284},   {"ntilde", 0xF1},
    {"nu", 0x3BD},       {"oacute", 0xF3},    {"ocirc", 0xF4},    {"oelig", 0x153},
    {"ograve", 0xF2},    {"oline", 0x203E},   {"omega", 0x3C9},   {"omicron", 0x3BF},
    {"oplus", 0x2295},   {"or", 0x2228},      {"ordf", 0xAA},     {"ordm", 0xBA},
    {"oslash", 0xF8},    {"otilde", 0xF5},    {"otimes", 0x2297}, {"ouml", 0xF6},
    {"para", 0xB6},      {"part", 0x2202},    {"permil", 0x2030}, {"perp", 0x22A5},
    {"phi", 0x3C6},      {"pi", 0x3C0},       {"piv", 0x3D6},     {"plusmn", 0xB1},
    {"pound", 0xA3},     {"prime", 0x2032},   {"prod", 0x220F},   {"prop", 0x221D},
    {"psi", 0x3C8},      {"quot", 0x22},      {"rArr", 0x21D2},   {"radic", 0x221A},
    {"rang", 0x232A},    {"raquo", 0xBB},     {"rarr", 0x2192},   {"rceil", 0x2309},
    {"rdquo", 0x201D},   {"real", 0x211C},    {"reg", 0xAE},      {"rfloor", 0x230B},
    {"rho", 0x3C1},      {"rlm", 0x200F},     {"rsaquo", 0x203A}, {"rsquo", 0x2019},
    {"sbquo", 0x201A},   {"scaron", 0x161},   {"sdot", 0x22C5},   {"sect", 0xA7},
    {"shy", 0xAD},       {"sigma", 0x3C3},    {"sigmaf", 0x3C2},  {"sim", 0x223C},
    {"spades", 0x2660},  {"sub", 0x2282},     {"sube", 0x2286},   {"sum", 0x2211},
    {"sup", 0x2283},     {"sup1", 0xB9},      {"sup2", 0xB2},     {"sup3", 0xB3},
    {"supe", 0x2287},    {"szlig", 0xDF},     {"tau", 0x3C4},     {"there4", 0x2234},
    {"theta", 0x3B8},    {"thetasym", 0x3D1}, {"thinsp", 0x2009}, {"thorn", 0xFE},
    {"tilde", 0x2DC},    {"times", 0xD7},     {"trade", 0x2122},  {"uArr", 0x21D1},
    {"uacute", 0xFA},    {"uarr", 0x2191},    {"ucirc", 0xFB},    {"ugrave", 0xF9},
    {"uml", 0xA8},       {"upsih", 0x3D2},    {"upsilon", 0x3C5}, {"uuml", 0xFC},
    {"weierp", 0x2118},  {"xi", 0x3BE},       {"yacute", 0xFD},   {"yen", 0xA5},
    {"yuml", 0xFF},      {"zeta", 0x3B6},     {"zwj", 0x200D},    {"zwnj", 0x200C}};
static_assert(std::size(kNamedReferences) == 252);

// The references older clients also write in capitals (&AMP; &NBSP;); &apos; is taken in any case
// too.
constexpr std::string_view kAnyCaseReferences[] = {"amp", "lt", "gt", "quot", "nbsp"};

std::optional<char32_t> namedReference(QStringView name) {
    std::string key;
    for (const QChar c : name) {
        if (c.unicode() >= 0x80)
            return std::nullopt;
        key += static_cast<char>(c.unicode());
    }
    const auto exact = [](std::string_view wanted) -> std::optional<char32_t> {
        const auto* end = std::end(kNamedReferences);
        const auto* found =
            std::lower_bound(std::begin(kNamedReferences), end, wanted,
                             [](const auto& entry, std::string_view n) { return entry.name < n; });
        if (found != end && found->name == wanted)
            return found->character;
        return std::nullopt;
    };
    if (const auto c = exact(key))
        return c;
    std::string lower = key;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "apos")
        return U'\'';
    for (const std::string_view anyCase : kAnyCaseReferences)
        if (lower == anyCase)
            return exact(anyCase);
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

bool isHiddenCharacter(char32_t c) {
    if (c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x180E || c == 0x3164 || c == 0xFFA0 ||
        (c >= 0xE0000 && c <= 0xE007F))
        return true;
    switch (QChar::category(c)) {
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            return false;
    }
}

QString visibleText(QStringView text) {
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c == U'\t')
            out += u' ';
        else if (c < 0x20)
            out += QChar(static_cast<char16_t>(0x2400 + c));
        else if (c == 0x7F)
            out += QChar(char16_t{0x2421});
        else if ((c >= 0x80 && c < 0xA0) || isHiddenCharacter(c))
            out += QStringLiteral("<U+%1>")
                       .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                       .toUpper();
        else
            out += QStringView(QChar::fromUcs4(c));
    }
    return out;
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

QList<QByteArray> splitForIm(QByteArrayView message, QByteArrayView recipient, bool autoResponse,
                             std::size_t reserved) {
    const std::string name(recipient.data(), static_cast<std::size_t>(recipient.size()));
    return splitParts(message,
                      Ondrel::imCommand(name, std::string(), autoResponse).size() + 1 + reserved);
}

QList<QByteArray> splitForChat(QByteArrayView message, std::int32_t chatId, std::size_t reserved) {
    return splitParts(message, Ondrel::chatCommand(chatId, std::string()).size() + 1 + reserved);
}

}  // namespace lantry

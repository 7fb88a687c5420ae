// Text from the network as a terminal shows it; see terminal_text.h.
#include "terminal_text.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>

#include "ondrel/text.h"
#include "ondrel/wire.h"

namespace lantry::cli {

namespace {

constexpr char32_t kDelete = 0x7F;
constexpr char32_t kLastC1 = 0x9F;

void appendCaret(std::string& out, char32_t c) {
    out += '^';
    out += c == kDelete ? '?' : static_cast<char>(c + 0x40);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A tag's text between "<" and ">" that starts a new line of a message: br, p, hr or li.
bool endsLine(std::string_view tag) {
    std::size_t end = 0;
    while (end < tag.size() && std::isalnum(static_cast<unsigned char>(tag[end])))
        ++end;
    std::string name(tag.substr(0, end));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == "br" || name == "p" || name == "hr" || name == "li";
}

QByteArrayView view(std::string_view text) {
    return QByteArrayView(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

std::string terminalText(QStringView text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x20 || c == kDelete) {
            appendCaret(out, c);
        } else if (c > kDelete && c <= kLastC1) {
            out += "M-";
            appendCaret(out, c - 0x80);
        } else if (isHiddenCharacter(c)) {
            out += QStringLiteral("<U+%1>")
                       .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                       .toUpper()
                       .toStdString();
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::string wireForTerminal(std::string_view wire) {
    return terminalText(fromWireText(view(wire)));
}

std::string messageForTerminal(std::string_view wireHtml) {
    // Tags go as Ondrel::RemoveHtml takes them out; those that end a line leave a NUL, a byte
    // that no received text holds (the control refuses frames with one).
    std::string plain;
    plain.reserve(wireHtml.size());
    std::size_t pos = 0;
    while (pos < wireHtml.size()) {
        const auto open = wireHtml.find('<', pos);
        const auto close = open == std::string_view::npos ? open : wireHtml.find('>', open + 1);
        if (close == std::string_view::npos)
            break;
        plain.append(wireHtml.substr(pos, open - pos));
        if (endsLine(wireHtml.substr(open + 1, close - open - 1)))
            plain += '\0';
        pos = close + 1;
    }
    plain.append(wireHtml.substr(pos));
    const QStringList lines = decodeEntities(fromWireText(view(plain))).split(QChar(u'\0'));
    if (lines.size() == 1)
        return terminalText(lines.front());
    std::string out;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        if (!out.empty())
            out.append("\n").append(kContinuationMark);
        out += terminalText(line);
    }
    return out;
}

std::vector<std::string> pageForTerminal(std::string_view html) {
    static const QRegularExpression lineBreak(QStringLiteral("<br\\s*/?>|</(p|h\\d|div|li|tr)>"),
                                              QRegularExpression::CaseInsensitiveOption);
    QString text = fromWireText(view(html));
    const qsizetype body = text.indexOf(QLatin1String("<body"), 0, Qt::CaseInsensitive);
    if (body >= 0)
        text = text.mid(body);
    text.replace(lineBreak, QStringLiteral("\n"));
    const QString plain =
        decodeEntities(QString::fromStdString(wire::removeHtml(text.toStdString())));
    std::vector<std::string> lines;
    for (const QString& line : plain.split(u'\n')) {
        if (!line.trimmed().isEmpty())
            lines.push_back(terminalText(line.trimmed()));
    }
    return lines;
}

std::size_t displayWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (const char c : utf8)
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return width;
}

std::string padded(std::string_view utf8, std::size_t width) {
    std::string out(utf8);
    const std::size_t have = displayWidth(utf8);
    if (have < width)
        out.append(width - have, ' ');
    return out;
}

}  // namespace lantry::cli

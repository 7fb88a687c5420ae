// Text from the network as a terminal shows it; see terminal_text.h.
#include "terminal_text.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include "ondrel/text.h"
#include "ondrel/wire.h"

namespace lantry::cli {

namespace {

constexpr char32_t kDelete = 0x7F;
constexpr char32_t kLastC1 = 0x9F;

// Characters that make a terminal reorder text or start a new line without being controls.
bool reordersOrBreaks(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

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
        } else if (reordersOrBreaks(c)) {
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
    return terminalText(messageText(view(wireHtml)));
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

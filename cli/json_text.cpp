// Byte strings to JSON and back; see json_text.h.
#include "json_text.h"

#include <cmath>
#include <cstdio>

#include "ondrel/text.h"

namespace lantry::cli {

namespace {

void appendEscaped(std::string& out, char16_t c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    if (c >= 0x20 && c <= 0x7E) {
        out += static_cast<char>(c);
        return;
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
    out += buf;
}

}  // namespace

std::string jsonString(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    out += '"';
    for (const char b : bytes)
        appendEscaped(out, static_cast<unsigned char>(b));
    out += '"';
    return out;
}

std::string jsonString(QStringView text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()) + 2);
    out += '"';
    for (const QChar c : text)
        appendEscaped(out, c.unicode());
    out += '"';
    return out;
}

std::string jsonValue(const Value& value) {
    struct Writer {
        std::string operator()(std::monostate) const { return "null"; }
        std::string operator()(const std::string& s) const { return jsonString(s); }
        std::string operator()(std::int64_t n) const { return std::to_string(n); }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const std::vector<std::string>& items) const {
            std::string out = "[";
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i)
                    out += ',';
                out += jsonString(items[i]);
            }
            return out + ']';
        }
    };
    return std::visit(Writer{}, value);
}

std::string jsonId(const QJsonValue& id) {
    if (id.isString())
        return jsonString(QStringView(id.toString()));
    if (id.isDouble()) {
        const double d = id.toDouble();
        // Integral ids come back exactly as sent; others with full precision.
        if (std::trunc(d) == d && std::fabs(d) < 9007199254740992.0)
            return std::to_string(static_cast<std::int64_t>(d));
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", d);
        return buf;
    }
    return "null";
}

std::optional<std::string> bytesFromJson(const QString& text, TextMode mode, std::string& error) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    if (mode == TextMode::Bytes) {
        for (const QChar c : text) {
            if (c.unicode() > 0xFF) {
                error = "has a character above U+00FF (text is one byte per character)";
                return std::nullopt;
            }
            out += static_cast<char>(c.unicode());
        }
        return out;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool paired =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (paired) {
            ++i;
        } else if (c.isSurrogate()) {
            char code[8];
            std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c.unicode()));
            error = std::string("has a lone surrogate U+") + code + ", which is no character";
            return std::nullopt;
        }
    }
    return toWireText(text).toStdString();
}

std::string jsonText(std::string_view bytes, TextMode mode) {
    if (mode == TextMode::Bytes)
        return jsonString(bytes);
    return jsonString(QStringView(
        fromWireText(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())))));
}

std::string markupFromPlain(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
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
            case '\n':
                out += "<br>";
                break;
            default:
                out += c;
        }
    }
    return out;
}

QString plainFromMarkup(std::string_view markup) {
    // Tags span from "<" to the first ">" after it, as the control's remover reads them.
    std::string text;
    text.reserve(markup.size());
    std::size_t at = 0;
    for (;;) {
        const std::size_t open = markup.find('<', at);
        const std::size_t close =
            open == std::string_view::npos ? open : markup.find('>', open + 1);
        if (close == std::string_view::npos)
            break;
        std::string_view name = markup.substr(open + 1, close - open - 1);
        name = name.substr(0, name.find_first_of(" /\t"));
        const bool lineBreak =
            name.size() == 2 && (name[0] | 0x20) == 'b' && (name[1] | 0x20) == 'r';
        text.append(markup.substr(at, (lineBreak ? open : close + 1) - at));
        if (lineBreak)
            text += '\n';
        at = close + 1;
    }
    text.append(markup.substr(at));
    return messageText(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

JsonObjectWriter& JsonObjectWriter::addRaw(std::string_view key, std::string_view json) {
    if (text_.size() > 1)
        text_ += ',';
    text_ += jsonString(key);
    text_ += ':';
    text_ += json;
    return *this;
}

}  // namespace lantry::cli

#include "safe_markup.h"

#include <QColor>
#include <QList>
#include <QUrl>

namespace messenger {

namespace {

// Deeper nesting than this is ignored: real messages never need it.
constexpr int kMaxOpenElements = 32;

struct Tag {
    bool closing = false;
    QString name;  // lower case
    QList<std::pair<QString, QString>> attributes;
};

// Parses "<...>" (without the brackets); nullopt-like empty name when it is no tag.
Tag parseTag(QStringView body) {
    Tag tag;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < body.size() && body[i].isSpace())
            ++i;
    };
    if (i < body.size() && body[i] == u'/') {
        tag.closing = true;
        ++i;
    }
    const qsizetype nameStart = i;
    while (i < body.size() && (body[i].isLetterOrNumber() && body[i].unicode() < 128))
        ++i;
    tag.name = body.mid(nameStart, i - nameStart).toString().toLower();
    if (tag.name.isEmpty() || !tag.name[0].isLetter()) {
        tag.name.clear();
        return tag;
    }
    while (true) {
        skipBlanks();
        if (i >= body.size() || body[i] == u'/')
            break;
        const qsizetype attrStart = i;
        while (i < body.size() && !body[i].isSpace() && body[i] != u'=' && body[i] != u'/')
            ++i;
        const QString name = body.mid(attrStart, i - attrStart).toString().toLower();
        skipBlanks();
        QString value;
        if (i < body.size() && body[i] == u'=') {
            ++i;
            skipBlanks();
            if (i < body.size() && (body[i] == u'"' || body[i] == u'\'')) {
                const QChar quote = body[i++];
                const qsizetype end = body.indexOf(quote, i);
                const qsizetype stop = end < 0 ? body.size() : end;
                value = body.mid(i, stop - i).toString();
                i = end < 0 ? stop : stop + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < body.size() && !body[i].isSpace())
                    ++i;
                value = body.mid(valueStart, i - valueStart).toString();
            }
        }
        if (name.isEmpty())
            ++i;
        else
            tag.attributes.append({name, value});
    }
    return tag;
}

// The character a reference at `text[at]` ("&...;") stands for, and its length; 0 when none.
std::pair<char32_t, qsizetype> characterReference(QStringView text, qsizetype at);

// An attribute's value with its character references decoded.
QString attribute(const Tag& tag, const QString& name) {
    for (const auto& [key, value] : tag.attributes) {
        if (key != name)
            continue;
        QString out;
        for (qsizetype i = 0; i < value.size(); ++i) {
            const auto [code, length] =
                value[i] == u'&' ? characterReference(value, i) : std::pair<char32_t, qsizetype>{};
            if (length == 0) {
                out += value[i];
                continue;
            }
            out += QString::fromUcs4(&code, 1);
            i += length - 1;
        }
        return out;
    }
    return {};
}

std::pair<char32_t, qsizetype> characterReference(QStringView text, qsizetype at) {
    const qsizetype semicolon = text.indexOf(u';', at);
    if (semicolon < 0 || semicolon - at > 10)
        return {0, 0};
    const QStringView name = text.mid(at + 1, semicolon - at - 1);
    const qsizetype length = semicolon - at + 1;
    static const std::pair<const char16_t*, char32_t> named[] = {
        {u"amp", U'&'},  {u"lt", U'<'},    {u"gt", U'>'},
        {u"quot", U'"'}, {u"apos", U'\''}, {u"nbsp", U'\u00a0'},
    };
    for (const auto& [entity, code] : named) {
        if (name.compare(QStringView(entity), Qt::CaseInsensitive) == 0)
            return {code, length};
    }
    if (name.size() < 2 || name[0] != u'#')
        return {0, 0};
    bool ok = false;
    const uint code = name[1] == u'x' || name[1] == u'X' ? name.mid(2).toUInt(&ok, 16)
                                                         : name.mid(1).toUInt(&ok, 10);
    if (!ok || code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return {0, 0};
    return {char32_t(code), length};
}

// Characters that would start a line, reorder text or hide themselves show as visible signs.
QString visible(char32_t c, bool lineBreaksAllowed) {
    if (c == U'\n' && lineBreaksAllowed)
        return QStringLiteral("<br>");
    if (c == U'\t')
        return QStringLiteral(" ");
    if (c < 0x20)
        return QString(QChar(char16_t(0x2400 + c)));
    if (c == 0x7f)
        return QString(QChar(char16_t(0x2421)));
    const bool invisible = (c >= 0x80 && c < 0xa0) || (c >= 0x200b && c <= 0x200f) ||
                           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x206f) ||
                           c == 0xfeff;
    if (invisible)
        return QStringLiteral("&lt;U+%1&gt;").arg(QString::number(uint(c), 16).toUpper());
    return QString::fromUcs4(&c, 1).toHtmlEscaped();
}

class Renderer {
public:
    Renderer(const QString& text, OtherMarkup other) : text_(text), other_(other) {}

    QString run() {
        qsizetype i = 0;
        while (i < text_.size()) {
            const QChar c = text_[i];
            if (c == u'<') {
                const qsizetype close = text_.indexOf(u'>', i + 1);
                if (close > i && element(QStringView(text_).mid(i + 1, close - i - 1))) {
                    i = close + 1;
                    continue;
                }
                if (other_ == OtherMarkup::Drop && close > i) {
                    i = close + 1;
                    continue;
                }
            }
            if (skipping_.isEmpty()) {
                if (c == u'&') {
                    const auto [code, length] = characterReference(text_, i);
                    if (length > 0) {
                        emitCharacter(code);
                        i += length;
                        continue;
                    }
                }
                char32_t code = c.unicode();
                if (c.isHighSurrogate() && i + 1 < text_.size() && text_[i + 1].isLowSurrogate()) {
                    code = QChar::surrogateToUcs4(c, text_[i + 1]);
                    ++i;
                }
                emitCharacter(code);
            }
            ++i;
        }
        while (!open_.isEmpty())
            closeTop();
        return out_;
    }

private:
    void emitCharacter(char32_t c) {
        const bool dropMode = other_ == OtherMarkup::Drop;
        // In a page, line ends inside the source are blanks; block elements end lines.
        if (dropMode && (c == U'\n' || c == U'\r'))
            c = U' ';
        out_ += visible(c, dropMode);
    }

    // Handles a tag; false when it is to be shown as text.
    bool element(QStringView body) {
        const Tag tag = parseTag(body);
        if (tag.name.isEmpty())
            return false;
        if (other_ == OtherMarkup::Drop) {
            static const QStringList hidden{QStringLiteral("script"), QStringLiteral("style"),
                                            QStringLiteral("head"), QStringLiteral("title")};
            if (hidden.contains(tag.name)) {
                if (tag.closing)
                    skipping_.removeOne(tag.name);
                else
                    skipping_.append(tag.name);
                return true;
            }
            if (!skipping_.isEmpty())
                return true;
        }
        // Every message of the classic clients comes wrapped in these.
        if (tag.name == u"html" || tag.name == u"body")
            return true;
        if (tag.name == u"br" && other_ == OtherMarkup::ShowAsText) {
            out_ += QStringLiteral("\u21b5 ");
            return true;
        }
        const QString kind = kindOf(tag.name);
        if (kind.isEmpty()) {
            if (other_ == OtherMarkup::Drop && isBlock(tag.name) && !out_.endsWith(u"<br>"))
                out_ += QStringLiteral("<br>");
            return other_ == OtherMarkup::Drop;
        }
        if (tag.closing) {
            if (!open_.contains(kind))
                return true;
            while (open_.last() != kind)
                closeTop();
            closeTop();
            return true;
        }
        if (open_.size() >= kMaxOpenElements)
            return true;
        if (kind == u"a") {
            const QString href = attribute(tag, QStringLiteral("href")).trimmed();
            if (!isSafeLink(href))
                return other_ == OtherMarkup::Drop;
            out_ += QStringLiteral("<a href=\"%1\">")
                        .arg(QUrl(href).toString(QUrl::FullyEncoded).toHtmlEscaped());
        } else if (kind == u"font") {
            const QString name = attribute(tag, QStringLiteral("color")).trimmed();
            const QColor colour = QColor::fromString(name);
            if (!colour.isValid() || (!name.startsWith(u'#') && !isLetters(name)))
                return true;
            out_ += QStringLiteral("<span style=\"color:%1\">").arg(colour.name());
        } else {
            out_ += QStringLiteral("<%1>").arg(kind);
        }
        open_.append(kind);
        return true;
    }

    void closeTop() {
        const QString kind = open_.takeLast();
        out_ += kind == u"font" ? QStringLiteral("</span>") : QStringLiteral("</%1>").arg(kind);
    }

    static QString kindOf(const QString& name) {
        if (name == u"b" || name == u"strong")
            return QStringLiteral("b");
        if (name == u"i" || name == u"em")
            return QStringLiteral("i");
        if (name == u"u" || name == u"a" || name == u"font")
            return name;
        return {};
    }
    static bool isBlock(const QString& name) {
        static const QStringList blocks{
            QStringLiteral("br"), QStringLiteral("p"),  QStringLiteral("div"), QStringLiteral("h1"),
            QStringLiteral("h2"), QStringLiteral("h3"), QStringLiteral("h4"),  QStringLiteral("li"),
            QStringLiteral("tr"), QStringLiteral("hr"),
        };
        return blocks.contains(name);
    }
    static bool isLetters(const QString& s) {
        return std::all_of(s.begin(), s.end(),
                           [](QChar c) { return c.unicode() < 128 && c.isLetter(); });
    }

    const QString& text_;
    OtherMarkup other_;
    QString out_;
    QStringList open_;      // the kept elements open now, innermost last
    QStringList skipping_;  // hidden elements whose content is being left out
};

}  // namespace

bool isSafeLink(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (((scheme == u"http" || scheme == u"https") && !url.host().isEmpty()) ||
                             (scheme == u"mailto" && !url.path().isEmpty()));
}

QString renderMarkup(const QString& text, OtherMarkup other) {
    return Renderer(text, other).run();
}

}  // namespace messenger

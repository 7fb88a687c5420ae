#include "safe_markup.h"

#include <QColor>
#include <QList>
#include <QUrl>

#include "ondrel/text.h"

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

// An attribute's value with its character references decoded.
QString attribute(const Tag& tag, const QString& name) {
    for (const auto& [key, value] : tag.attributes) {
        if (key == name)
            return lantry::decodeEntities(value);
    }
    return {};
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
            if (text_[i] == u'<') {
                const qsizetype close = text_.indexOf(u'>', i + 1);
                if (close > i) {
                    flushText();
                    if (element(QStringView(text_).mid(i + 1, close - i - 1)) ||
                        other_ == OtherMarkup::Drop) {
                        i = close + 1;
                        continue;
                    }
                }
            }
            pending_ += text_[i++];
        }
        flushText();
        while (!open_.isEmpty())
            closeTop();
        return out_;
    }

private:
    // The text since the last tag, references decoded, each character made harmless.
    void flushText() {
        const QString text = lantry::decodeEntities(pending_);
        pending_.clear();
        if (!skipping_.isEmpty())
            return;
        for (const char32_t c : text.toUcs4())
            emitCharacter(c);
    }

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
    QString pending_;       // text not yet written
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

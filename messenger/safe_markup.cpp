#include "safe_markup.h"

#include <QColor>
#include <QGuiApplication>
#include <QList>
#include <QPalette>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>
#include <QUrlQuery>

#include "ondrel/text.h"

#include <algorithm>
#include <cmath>

namespace messenger {

namespace {

// Deeper nesting than this is ignored: real messages never need it.
constexpr int kMaxOpenElements = 32;

struct Tag {
    bool closing = false;
    QString name;  // lower case
    QList<std::pair<QString, QString>> attributes;
};

// Parses "<...>" (without the brackets); an empty name when it is no tag.
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
    // Only the elements kept with an attribute have theirs read: a tag shown as text is read
    // again from each "<" inside it, which must not cost its whole length each time.
    if (tag.closing || (tag.name != u"a" && tag.name != u"font"))
        return tag;
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
    const QString shown = lantry::visibleText(QStringView(QChar::fromUcs4(c)));
    return shown.toHtmlEscaped();
}

double luminance(const QColor& colour) {
    const auto channel = [](float v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// `colour`, moved towards black on a light background (white on a dark one) until it reads.
QColor readable(QColor colour, const QColor& background) {
    const QColor away = luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 0; step < 10 && contrast(colour, background) < kMinContrast; ++step)
        colour = QColor::fromRgbF(colour.redF() * 0.8f + away.redF() * 0.2f,
                                  colour.greenF() * 0.8f + away.greenF() * 0.2f,
                                  colour.blueF() * 0.8f + away.blueF() * 0.2f);
    return contrast(colour, background) < kMinContrast ? away : colour;
}

QColor windowBackground() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance())
               ? QGuiApplication::palette().color(QPalette::Base)
               : QColor(Qt::white);
}

// The host a text names, when it reads like an address ("https://bank.example/login",
// "www.bank.example", "bank.example/x"); empty otherwise.
QString namedHost(const QString& text) {
    static const QRegularExpression address(
        QStringLiteral(
            "^\\s*(?:[a-z][a-z0-9+.-]*:/*)?(?:[^\\s/"
            "@]*@)?((?:[\\w-]+\\.)+[a-z]{2,}|\\d+(?:\\.\\d+){3})\\.?(?::\\d+)?(?:[/?#]\\S*)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = address.match(text);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

class Renderer {
public:
    Renderer(const QString& text, OtherMarkup other) : text_(text), other_(other) {}

    QString run() {
        qsizetype i = 0;
        // The first ">" after the "<" last looked at; every search starts past the one before,
        // so the whole text is searched once.
        qsizetype close = -1;
        while (i < text_.size()) {
            if (text_[i] == u'<') {
                if (close <= i)
                    close = text_.indexOf(u'>', i + 1);
                if (close < 0)
                    close = text_.size();
                if (close < text_.size()) {
                    flushText();
                    const Handled handled = element(QStringView(text_).mid(i + 1, close - i - 1));
                    // An element shown as text keeps its addresses as text: its attributes are
                    // no sentence to link from.
                    if (handled == Handled::AsText && other_ == OtherMarkup::ShowAsText &&
                        looksLikeElement(QStringView(text_).mid(i + 1, close - i - 1)))
                        linklessEnd_ = close;
                    if (handled != Handled::AsText || other_ == OtherMarkup::Drop) {
                        // A refused tag of a kept kind shows whole, so its body is read once.
                        if (handled == Handled::Refused && other_ == OtherMarkup::ShowAsText)
                            pending_ += QStringView(text_).mid(i, close - i + 1);
                        i = close + 1;
                        continue;
                    }
                }
            }
            pending_ += text_[i++];
            if (i - 1 == linklessEnd_) {
                flushText();
                linklessEnd_ = -1;
            }
        }
        flushText();
        while (!open_.isEmpty())
            closeTop();
        return out_;
    }

private:
    // The text since the last tag, references decoded, addresses made links, each character
    // made harmless.
    void flushText() {
        const QString text = lantry::decodeEntities(pending_);
        pending_.clear();
        if (!skipping_.isEmpty())
            return;
        qsizetype done = 0;
        const bool links = linklessEnd_ < 0 && !open_.contains(QStringLiteral("a"));
        for (qsizetype at = 0; links && at < text.size();) {
            const qsizetype end = addressEnd(text, at);
            if (end <= at) {
                ++at;
                continue;
            }
            const QString address = text.mid(at, end - at);
            if (isSafeLink(address)) {
                emitText(QStringView(text).mid(done, at - done));
                writeLink(address, address);
                done = end;
            }
            // A refused address is not searched again from each of its characters.
            at = end;
        }
        emitText(QStringView(text).mid(done));
    }

    void emitText(QStringView text) {
        for (const char32_t c : text.toUcs4())
            emitCharacter(c);
    }

    // Where the address starting at `at` ends (its trailing punctuation left out), or -1 when
    // none starts there.
    static qsizetype addressEnd(const QString& text, qsizetype at) {
        static const QString schemes[] = {QStringLiteral("http://"), QStringLiteral("https://"),
                                          QStringLiteral("mailto:")};
        if (at > 0 && text[at - 1].isLetterOrNumber())
            return -1;
        const QStringView rest = QStringView(text).mid(at);
        const auto scheme =
            std::find_if(std::begin(schemes), std::end(schemes),
                         [&](const auto& s) { return rest.startsWith(s, Qt::CaseInsensitive); });
        if (scheme == std::end(schemes))
            return -1;
        qsizetype end = at + scheme->size();
        int parens = 0, brackets = 0;
        while (end < text.size()) {
            char32_t c = text[end].unicode();
            if (text[end].isHighSurrogate() && end + 1 < text.size() &&
                text[end + 1].isLowSurrogate())
                c = QChar::surrogateToUcs4(text[end], text[end + 1]);
            if (c <= 0x20 || (c >= 0x7F && c < 0xA0) || c == U'<' || c == U'>' || c == U'"' ||
                QChar::isSpace(c) || lantry::isHiddenCharacter(c))
                break;
            parens += c == U'(' ? 1 : c == U')' ? -1 : 0;
            brackets += c == U'[' ? 1 : c == U']' ? -1 : 0;
            end += QChar::requiresSurrogates(c) ? 2 : 1;
        }
        static const QString sentence = QStringLiteral(".,;:!?'");
        while (end > at + scheme->size()) {
            const QChar last = text[end - 1];
            if (last == u')' && parens < 0)
                ++parens;
            else if (last == u']' && brackets < 0)
                ++brackets;
            else if (!sentence.contains(last))
                break;
            --end;
        }
        return end > at + scheme->size() ? end : -1;
    }

    // Opens a link to `address` (isSafeLink holds), writes `shown` as its text and closes it.
    void writeLink(const QString& address, const QString& shown) {
        openLink(address);
        for (const char32_t c : shown.toUcs4())
            out_ += visible(c, false);
        endLink(shown);
    }

    void openLink(const QString& address) {
        const QUrl url(address);
        linkHost_ = url.host(QUrl::FullyEncoded);
        const QString target = url.toString(QUrl::FullyEncoded);
        out_ += QStringLiteral("<a href=\"%1\" title=\"%2\">")
                    .arg(target.toHtmlEscaped(),
                         (linkHost_.isEmpty() ? target : linkHost_ + QStringLiteral(": ") + target)
                             .toHtmlEscaped());
    }

    // A link whose text names another address says where it really goes.
    void endLink(const QString& text) {
        out_ += QStringLiteral("</a>");
        const QString named = namedHost(text);
        if (!named.isEmpty() && !linkHost_.isEmpty() && named != linkHost_.toLower())
            out_ += QStringLiteral(" [%1]").arg(lantry::visibleText(linkHost_).toHtmlEscaped());
    }

    void emitCharacter(char32_t c) {
        const bool dropMode = other_ == OtherMarkup::Drop;
        // In a page, line ends inside the source are blanks; block elements end lines.
        if (dropMode && (c == U'\n' || c == U'\r'))
            c = U' ';
        if (open_.contains(QStringLiteral("a")) && linkText_.size() < kMaxLinkText)
            linkText_ += QString::fromUcs4(&c, 1);
        out_ += visible(c, dropMode);
    }

    enum class Handled {
        Done,     // the tag was taken (kept, or dropped without a trace)
        AsText,   // no tag: the "<" is text
        Refused,  // a tag of a kept kind with an address or value that may not be kept
    };

    // Handles a tag's body (between "<" and ">").
    Handled element(QStringView body) {
        const Tag tag = parseTag(body);
        if (tag.name.isEmpty())
            return Handled::AsText;
        return take(tag) ? Handled::Done
                         : (kindOf(tag.name) == u"a" ? Handled::Refused : Handled::AsText);
    }

    // False when the tag is to be shown as text.
    bool take(const Tag& tag) {
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
        // Senders that wrap every message in <HTML> (and <BODY>) mean nothing by them.
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
            if (!isSafeLink(href) || open_.contains(kind))
                return other_ == OtherMarkup::Drop;
            openLink(href);
            linkText_.clear();
        } else if (kind == u"font") {
            const QString name = attribute(tag, QStringLiteral("color")).trimmed();
            const QColor colour = QColor::fromString(name);
            if (!colour.isValid() || (!name.startsWith(u'#') && !isLetters(name)))
                return true;
            out_ += QStringLiteral("<span style=\"color:%1\">")
                        .arg(readable(colour, background_).name());
        } else {
            out_ += QStringLiteral("<%1>").arg(kind);
        }
        open_.append(kind);
        return true;
    }

    void closeTop() {
        const QString kind = open_.takeLast();
        if (kind == u"a")
            endLink(linkText_);
        else
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
    // "<name>", "<name/>" or "<name attributes...>": no "<" of a sentence, no "<address>".
    static bool looksLikeElement(QStringView body) {
        qsizetype i = 0;
        while (i < body.size() && body[i].unicode() < 128 && body[i].isLetterOrNumber())
            ++i;
        return i > 0 && body[0].isLetter() &&
               (i == body.size() || body[i].isSpace() || body[i] == u'/');
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

    // More of a link's text than this is not looked at: no address is that long.
    static constexpr qsizetype kMaxLinkText = 2048;

    const QString& text_;
    OtherMarkup other_;
    QColor background_ = windowBackground();
    QString linkHost_;  // the host of the open link
    QString linkText_;  // the open link's text so far
    QString out_;
    QString pending_;             // text not yet written
    qsizetype linklessEnd_ = -1;  // the ">" of an element shown as text, while inside it
    QStringList open_;            // the kept elements open now, innermost last
    QStringList skipping_;        // hidden elements whose content is being left out
};

}  // namespace

bool isSafeLink(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || !url.userInfo().isEmpty())
        return false;
    if (scheme == u"http" || scheme == u"https")
        return !url.host().isEmpty();
    if (scheme != u"mailto" || url.path().isEmpty() || !url.host().isEmpty())
        return false;
    const auto items = QUrlQuery(url).queryItems();
    return std::all_of(items.begin(), items.end(), [](const auto& item) {
        return item.first.compare(u"subject", Qt::CaseInsensitive) == 0 ||
               item.first.compare(u"body", Qt::CaseInsensitive) == 0;
    });
}

QString openingTags(TextStyle style) {
    return QString(style.bold ? QStringLiteral("<b>") : QString()) +
           (style.italic ? QStringLiteral("<i>") : QString()) +
           (style.underline ? QStringLiteral("<u>") : QString());
}

QString closingTags(TextStyle style) {
    return QString(style.underline ? QStringLiteral("</u>") : QString()) +
           (style.italic ? QStringLiteral("</i>") : QString()) +
           (style.bold ? QStringLiteral("</b>") : QString());
}

QString typedMarkup(const QString& typed, TextStyle style) {
    return openingTags(style) + typed.toHtmlEscaped() + closingTags(style);
}

QString toolTipText(const QString& plain) {
    return Qt::convertFromPlainText(plain, Qt::WhiteSpaceNormal);
}

QString renderMarkup(const QString& text, OtherMarkup other) {
    return Renderer(text, other).run();
}

}  // namespace messenger

// Text between people and the wire: encodings, references and the cutting of long messages.
#include <gtest/gtest.h>

#include <string>

#include "ondrel/ondrel.h"
#include "ondrel/text.h"

using lantry::Ondrel;

TEST(Text, ReceivedBytesBecomeCharactersWithoutLosingAny) {
    const struct {
        QByteArray wire;
        QString shown;
    } rows[] = {
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", QStringLiteral("café 😀")},
        {"caf\xe9", QStringLiteral("café")},
        // One bad sequence makes the whole text Latin-1: each byte one character.
        {"\xc3\xa9\xe9", QStringLiteral("Ã©é")},
        {"\xc0\xaf", QStringLiteral("À¯")},
        {"\xef\xbb\xbfhi", QStringLiteral("\uFEFFhi")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(lantry::fromWireText(row.wire), row.shown) << row.wire.toHex().constData();
    EXPECT_EQ(lantry::toWireText(QStringLiteral("café 😀")),
              QByteArray("caf\xc3\xa9 \xf0\x9f\x98\x80"));
}

TEST(Text, ReferencesDecodeOnceAndUnknownOnesStay) {
    const struct {
        const char16_t* html;
        const char16_t* text;
    } rows[] = {
        {u"&amp;lt; &LT;&gt;&quot;&#39;&apos;&nbsp;", u"&lt; <>\"''\u00A0"},
        {u"&#233;&#xE9;&#X1F600;", u"éé😀"},
        {u"&bogus; & x; &amp &#0; &#xD800; &#1114112; &#12a; &#x;",
         u"&bogus; & x; &amp &#0; "
         u"&#xD800; &#1114112; &#12a; &#x;"},
        // HTML 4's names, exactly as written; only the few that older clients capitalise
        // are taken in any case.
        {u"&Eacute;&eacute;&thetasym;&AElig;&aelig;&zwnj;&euro;&NBSP;&Amp;",
         u"\u00C9\u00E9\u03D1\u00C6\u00E6\u200C\u20AC\u00A0&"},
        {u"&AELIG; &Copy; &EURO; &thetasym", u"&AELIG; &Copy; &EURO; &thetasym"},
        {u"a&&amp;b&", u"a&&b&"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(lantry::decodeEntities(QStringView(row.html)), QStringView(row.text));
    EXPECT_EQ(lantry::messageText("<b>caf\xe9</b> &lt;3 <i>x&amp;y</i>"),
              QStringLiteral("café <3 x&y"));
}

// Labels show received text as it is, but nothing that hides itself, reorders the line
// around it or starts a new one.
TEST(Text, VisibleTextShowsWhatWouldHideOrReorder) {
    const struct {
        const char16_t* text;
        const char16_t* shown;
    } rows[] = {
        {u"caf\u00E9 \U0001F600 \u0645\u0631\u062D\u0628\u0627",
         u"caf\u00E9 \U0001F600 "
         u"\u0645\u0631\u062D\u0628\u0627"},
        {u"a\u202Eexe.txt\u2028b\u2029", u"a<U+202E>exe.txt<U+2028>b<U+2029>"},
        {u"\u061C\u180E\u115F\u3164\uFFA0\u200B\uFEFF\u2060\u00AD\u034F\U000E0041\U000E007F",
         u"<U+061C><U+180E><U+115F><U+3164><U+FFA0><U+200B><U+FEFF><U+2060><U+00AD><U+034F>"
         u"<U+E0041><U+E007F>"},
        {u"x\n\r\x1b[2J\x7f\u0085\ty", u"x\u240A\u240D\u241B[2J\u2421<U+0085> y"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(lantry::visibleText(QStringView(row.text)), QStringView(row.shown));
}

namespace {

std::size_t imSize(const std::string& name, const QByteArray& part) {
    return Ondrel::imCommand(name, part.toStdString(), true).size() + 1;
}

std::size_t utf8Length(char lead) {
    const auto b = static_cast<unsigned char>(lead);
    return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

}  // namespace

TEST(Text, LongMessagesSplitIntoPartsTheServerAcceptsAtBlanksAndCharacters) {
    const std::string name = "Bob \"Q\"";
    // Escaped bytes, multi-byte characters and blanks at every offset against the limit.
    const QByteArray unit = "ab$\"c \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 {x}\\";
    for (int length = 1800; length < 4500; length += 7) {
        QByteArray message;
        while (message.size() < length)
            message += unit;
        const auto parts = lantry::splitForIm(message, QByteArray::fromStdString(name), true);
        ASSERT_FALSE(parts.isEmpty());
        EXPECT_EQ(parts.join(), message);
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const QByteArray& part = parts[i];
            EXPECT_LE(imSize(name, part), Ondrel::kMaxCommandPayload);
            if (i + 1 == parts.size())
                break;
            const QByteArray next = parts[i + 1];
            EXPECT_NE(static_cast<unsigned char>(next[0]) & 0xC0, 0x80) << "cut inside a character";
            // A part not ending at a blank had none near, and one more character would not fit.
            if (!part.endsWith(' ')) {
                EXPECT_EQ(part.right(lantry::kSplitBlankReach).indexOf(' '), -1);
                EXPECT_GT(imSize(name, part + next.left(utf8Length(next[0]))),
                          Ondrel::kMaxCommandPayload);
            }
        }
    }

    // Latin-1 and broken UTF-8 cut anywhere; a chat room's command is measured as SendChat's.
    const QByteArray latin(5000, '\xbf');
    const auto chatParts = lantry::splitForChat(latin, 2147483647);
    EXPECT_EQ(chatParts.join(), latin);
    EXPECT_EQ(chatParts.size(), 3);
    for (const QByteArray& part : chatParts)
        EXPECT_LE(Ondrel::chatCommand(2147483647, part.toStdString()).size() + 1,
                  Ondrel::kMaxCommandPayload);

    // A message exactly as long as one command holds is one part; a byte more makes two.
    const auto fits = static_cast<qsizetype>(Ondrel::kMaxCommandPayload - imSize("bob", ""));
    EXPECT_EQ(lantry::splitForIm(QByteArray(fits, 'x'), "bob", true).size(), 1);
    EXPECT_EQ(lantry::splitForIm(QByteArray(fits + 1, 'x'), "bob", true).size(), 2);
    EXPECT_EQ(lantry::splitForIm("", "bob"), QList<QByteArray>{QByteArray()});
    EXPECT_TRUE(lantry::splitForIm("hi", QByteArray(2100, 'b')).isEmpty());
}

// Markup is never cut inside a tag or a character reference, wherever the limit falls; room
// kept free for text around each part is kept free.
TEST(Text, LongMarkupSplitsBetweenTagsAndReferences) {
    const QByteArray units[] = {"<b>bold</b>", "&amp;", "&#x263A;", "<a href=\"x y\">", "&lt;&gt;"};
    for (const QByteArray& unit : units) {
        for (int pad = 0; pad < unit.size() + 2; ++pad) {
            QByteArray message(pad, 'x');
            while (message.size() < 5000)
                message += unit;
            SCOPED_TRACE((unit + " after " + QByteArray::number(pad)).toStdString());
            const auto parts = lantry::splitForIm(message, "bob", true, 7);
            ASSERT_GT(parts.size(), 1);
            EXPECT_EQ(parts.join(), message);
            for (const QByteArray& part : parts) {
                EXPECT_LE(imSize("bob", part) + 7, Ondrel::kMaxCommandPayload);
                EXPECT_LE(part.lastIndexOf('<'), part.lastIndexOf('>')) << part.right(20).data();
                const qsizetype amp = part.lastIndexOf('&');
                EXPECT_TRUE(amp < 0 || part.indexOf(';', amp) > amp) << part.right(20).data();
            }
        }
    }
    // A "<" or "&" that opens a part is left where it is: the part still takes something.
    const QByteArray open = "<" + QByteArray(3000, 'y');
    EXPECT_EQ(lantry::splitForChat(open, 1).join(), open);
}

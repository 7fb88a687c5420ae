// The messenger's renderer of received text. Whatever arrives, the HTML holds only what the
// renderer writes itself (b, i, u, br, a with a safe address and a title, span with a colour),
// no link inside a link, and the text between those tags holds no line end and no character
// that hides itself or reorders the line. A quadratic case shows as libFuzzer's timeout.
//
// Input: byte 0 picks the mode (messages, or fetched pages), the rest is the wire text.
#include <QApplication>
#include <QByteArrayView>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "ondrel/text.h"
#include "safe_markup.h"

namespace {

[[noreturn]] void broken(const char* what, const QString& html) {
    std::fprintf(stderr, "renderer rule broken: %s\n%s\n", what, qPrintable(html.left(400)));
    std::abort();
}

void checkText(const QString& text, const QString& html) {
    for (const char32_t c : text.toUcs4()) {
        if (c == U'\n' || c == U'\r' || lantry::isHiddenCharacter(c))
            broken("a line end or a hidden character is left in the text", html);
    }
}

// The written tags, in the forms the renderer writes them.
const QRegularExpression& writtenTag() {
    static const QRegularExpression tag(QStringLiteral(
        R"re(<(?:/?[biu]|br|/a|/span|span style="color:#[0-9a-f]{6}"|a href="([^"<>]*)" title="[^"<>]*")>)re"));
    return tag;
}

QString unescaped(const QString& attribute) {
    return QTextDocumentFragment::fromHtml(attribute).toPlainText();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto mode =
        data[0] % 2 ? messenger::OtherMarkup::Drop : messenger::OtherMarkup::ShowAsText;
    const QString text =
        lantry::fromWireText(QByteArrayView(data + 1, static_cast<qsizetype>(size - 1)));
    const QString html = messenger::renderMarkup(text, mode);
    qsizetype at = 0;
    bool inLink = false;
    while (at < html.size()) {
        const qsizetype open = html.indexOf(u'<', at);
        checkText(html.mid(at, open < 0 ? -1 : open - at), html);
        if (open < 0)
            break;
        const auto match = writtenTag().match(html, open, QRegularExpression::NormalMatch,
                                              QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch())
            broken("a tag the renderer does not write", html.mid(open));
        if (match.hasCaptured(1) && !messenger::isSafeLink(unescaped(match.captured(1))))
            broken("a link to an address that is not safe", html);
        if (match.hasCaptured(1) && std::exchange(inLink, true))
            broken("a link inside a link", html);
        if (match.captured(0) == u"</a>")
            inLink = false;
        at = match.capturedEnd(0);
    }
    return 0;
}

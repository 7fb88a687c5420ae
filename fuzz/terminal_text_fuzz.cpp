// Server text on its way to a terminal, and typed text cut into parts for the server. Each is
// checked against a property: the terminal never receives a control character (but the line
// ends before a message's marked continuation lines), and no byte is lost without a visible
// sign; parts join back into the message and each fits one command.
//
// Input: byte 0 picks the rule, the rest is the text.
#include <QByteArray>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ondrel/ondrel.h"
#include "ondrel/text.h"
#include "terminal_text.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "terminal text rule broken: %s\n", what);
    std::abort();
}

bool validUtf8(std::string_view bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    // The decoding runs when the result becomes a QString.
    const QString decoded =
        utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !utf8.hasError();
}

// UTF-8 without C0, DEL or C1 (U+0080-U+009F, encoded C2 80 to C2 9F).
void checkShowable(std::string_view out) {
    if (!validUtf8(out))
        broken("output is not UTF-8");
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<unsigned char>(out[i]);
        if (b < 0x20 || b == 0x7F)
            broken("a C0 control or DEL reaches the terminal");
        if (b == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) <= 0x9F)
            broken("a C1 control reaches the terminal");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            const std::string out = lantry::cli::wireForTerminal(text);
            checkShowable(out);
            // Every character shows as at least one, and printable ASCII as itself, in order.
            const QString characters =
                lantry::fromWireText(QByteArrayView(text.data(), qsizetype(text.size())));
            if (lantry::cli::displayWidth(out) <
                static_cast<std::size_t>(characters.toUcs4().size()))
                broken("a character vanished");
            std::size_t at = 0;
            for (const char c : text) {
                if (c <= ' ' || c > '~')
                    continue;
                at = out.find(c, at);
                if (at == std::string::npos)
                    broken("a printable byte was lost");
                ++at;
            }
            break;
        }
        case 1: {
            // Lines after the first are the message's own, marked as continuations.
            const std::string out = lantry::cli::messageForTerminal(text);
            std::size_t start = 0;
            for (std::size_t end = out.find('\n'); end != std::string::npos;
                 start = end + 1, end = out.find('\n', start)) {
                checkShowable(std::string_view(out).substr(start, end - start));
                if (std::string_view(out).substr(end + 1, lantry::cli::kContinuationMark.size()) !=
                    lantry::cli::kContinuationMark)
                    broken("a line of a message is not marked as its continuation");
            }
            checkShowable(std::string_view(out).substr(start));
            break;
        }
        case 2:
            for (const std::string& line : lantry::cli::pageForTerminal(text))
                checkShowable(line);
            break;
        case 3: {
            const QByteArray message(text.data(), qsizetype(text.size()));
            const auto parts = lantry::splitForIm(message, "Bob \"B\"", true);
            if (parts.join() != message)
                broken("parts do not join back into the message");
            const bool utf8 = validUtf8(text);
            for (const QByteArray& part : parts) {
                if (lantry::Ondrel::imCommand("Bob \"B\"", part.toStdString(), true).size() + 1 >
                    lantry::Ondrel::kMaxCommandPayload)
                    broken("a part's command is over the limit");
                if (utf8 && !part.isEmpty() && (static_cast<unsigned char>(part[0]) & 0xC0) == 0x80)
                    broken("a cut falls inside a UTF-8 character");
            }
            break;
        }
    }
    return 0;
}

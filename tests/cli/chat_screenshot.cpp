// Takes the README's picture of the full-screen client: `ondrel chat` on a pseudo-terminal
// against the tocd at 127.0.0.1:PORT, signed on as a new user who talks to echobot, a room
// and a second person (a line-mode client), and the emulated screen painted to a PNG.
// Usage: chat_screenshot PORT PASSWORD-FILE OUTPUT.png   (run by scripts/screenshot-chat.sh)
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

#include "cli_process.h"
#include "pty_screen.h"

using lantry::testing::CliProcess;
using lantry::testing::PtyScreen;

namespace {

constexpr int kRows = 26;
constexpr int kCols = 104;
const QColor kForeground(0xdd, 0xdd, 0xdd);
const QColor kBackground(0x1e, 0x1e, 0x1e);

QColor colourOf(const PtyScreen& screen, const VTermColor& colour, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour) : VTERM_COLOR_IS_DEFAULT_BG(&colour))
        return foreground ? kForeground : kBackground;
    const VTermColor rgb = screen.rgb(colour);
    return QColor(rgb.rgb.red, rgb.rgb.green, rgb.rgb.blue);
}

QImage paint(const PtyScreen& screen) {
    QFont font(QStringLiteral("Liberation Mono"));
    font.setPixelSize(15);
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(QLatin1Char('M'));
    const int h = metrics.height();
    QImage image(kCols * w + 16, kRows * h + 16, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter p(&image);
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kCols; ++x) {
            const VTermScreenCell c = screen.cell(y, x);
            QColor fg = colourOf(screen, c.fg, true);
            QColor bg = colourOf(screen, c.bg, false);
            if (c.attrs.reverse)
                std::swap(fg, bg);
            const int width = c.width == 2 ? 2 : 1;
            const QRect cell(8 + x * w, 8 + y * h, width * w, h);
            p.fillRect(cell, bg);
            if (c.chars[0] != 0 && c.chars[0] != ' ') {
                QFont f = font;
                f.setBold(c.attrs.bold);
                p.setFont(f);
                p.setPen(fg);
                p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                           QString::fromUcs4(reinterpret_cast<const char32_t*>(c.chars), 1));
            }
            x += width - 1;
        }
    }
    const VTermPos cursor = screen.cursor();
    p.fillRect(QRect(8 + cursor.col * w, 8 + cursor.row * h, w, h), kForeground);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fputs("Usage: chat_screenshot PORT PASSWORD-FILE OUTPUT.png\n", stderr);
        return 2;
    }
    const QString server = QStringLiteral("127.0.0.1:") + argv[1];
    PtyScreen screen(kRows, kCols);
    if (!screen.start(QStringLiteral(ONDREL_CLI_PATH),
                      {"chat", "--server", server, "--user", "Robin Vale", "--password-file",
                       argv[2], "--no-log"},
                      {"LANG=C.UTF-8", "TERM=xterm-256color", "XDG_DATA_HOME=/nonexistent"}) ||
        !screen.waitForText("Signed on as")) {
        std::fputs("the client did not sign on\n", stderr);
        return 1;
    }
    CliProcess sam({"chat", "--server", server, "--user", "Sam Reed"});
    sam.write("pw");
    sam.lineContaining("Signed on as");
    screen.type("/im echobot hello from the terminal\r");
    screen.waitForText("<EchoBot> hello");
    sam.write("/join Lobby");
    sam.lineContaining("You are in Lobby");
    screen.type("/join Lobby\r");
    screen.waitForText("You are in Lobby");
    sam.write("welcome, robin! the input line stays put while we talk");
    screen.waitForText("welcome, robin");
    sam.write("/im robinvale psst: Alt+4 for our own window");
    screen.waitFor([&] { return screen.row(kRows - 2).contains("Act:"); });
    screen.type("thanks, sam: and Tab completes your na");
    screen.settle(500);
    if (!paint(screen).save(QString::fromLocal8Bit(argv[3]))) {
        std::fputs("cannot write the picture\n", stderr);
        return 1;
    }
    sam.write("/quit");
    screen.type("\x15/quit\r");
    screen.waitExit();
    return 0;
}

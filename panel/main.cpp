// signpad: the sign-on panel. Without arguments it signs on to the TOC2 server on localhost,
// port 5190. --server HOST[:PORT] and --port point it elsewhere (another server, a test's
// private one); --help and --version need no display;
// --screenshot FILE saves a picture of the window as shown and exits.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <memory>

#include "ondrel/component.h"
#include "signpad_window.h"

namespace {

// The window as the screen shows it, with the pixels outside its shape made transparent.
QImage captureWindow(QWidget& window) {
    QImage shot;
    if (QScreen* screen = window.screen()) {
        shot = screen->grabWindow(window.winId()).toImage();
    }
    if (shot.size() != window.size()) {
        shot = window.grab().toImage();
    }
    QImage out(window.size(), QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setClipRegion(window.mask().isEmpty() ? QRegion(window.rect()) : window.mask());
    p.drawImage(0, 0, shot);
    p.end();
    return out;
}

bool validPort(const QString& text) {
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535;
}

bool waitForExposure(QWidget& window, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            return true;
        }
    }
    return false;
}

// --help and --version are answered without a display: they need no QApplication.
bool wantsTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version" ||
            arg == "-v") {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<QCoreApplication> app =
        wantsTextOnly(argc, argv) ? std::make_unique<QCoreApplication>(argc, argv)
                                  : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("signpad"));
    QCoreApplication::setApplicationVersion(QLatin1String(lantry::kLibraryVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The Ondrel sign-on panel: sign on, sign off and change the password."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("TOC2 server to sign on to, with its port after a colon if it is not "
                       "5190 (default: localhost)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port of the TOC2 server (default: 5190); for tests and deployments "
                       "whose server listens elsewhere."),
        QStringLiteral("PORT"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a PNG picture of the window once it is shown, then exit."),
        QStringLiteral("FILE"));
    parser.addOptions({serverOption, portOption, screenshotOption});
    parser.process(*app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "signpad: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    signpad::ServerSettings server;
    if (parser.isSet(serverOption)) {
        server.host = parser.value(serverOption).trimmed();
        const qsizetype colon = server.host.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0) {
            const QString port = server.host.mid(colon + 1);
            server.host.truncate(colon);
            if (!validPort(port)) {
                std::fprintf(stderr,
                             "signpad: the port in --server needs a number from 1 to 65535, "
                             "not '%s'\n",
                             qPrintable(port));
                return 2;
            }
            server.port = QString::number(port.toInt());
        }
        if (server.host.isEmpty()) {
            std::fprintf(stderr, "signpad: --server needs a host name\n");
            return 2;
        }
    }
    if (parser.isSet(portOption)) {
        if (!validPort(parser.value(portOption))) {
            std::fprintf(stderr, "signpad: --port needs a number from 1 to 65535, not '%s'\n",
                         qPrintable(parser.value(portOption)));
            return 2;
        }
        server.port = QString::number(parser.value(portOption).toInt());
    }

    QString error;
    lantry::ControlObject* control = lantry::createOndrelControl(&error, [](const QString& why) {
        std::fprintf(stderr, "signpad: registered the Ondrel control in %s (%s)\n",
                     qPrintable(lantry::registryFile()), qPrintable(why));
    });
    if (!control) {
        const QString text = QStringLiteral("The Ondrel control cannot be created: ") + error;
        std::fprintf(stderr, "signpad: %s\n", qPrintable(text));
        if (!parser.isSet(screenshotOption)) {
            QMessageBox::critical(nullptr, QStringLiteral("Signpad"), text);
        }
        return 1;
    }

    signpad::SignpadWindow window(control, server);
    window.show();

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        if (!waitForExposure(window, 10000)) {
            std::fprintf(stderr, "signpad: the window was never shown\n");
            return 1;
        }
        // Let the first paint reach the screen before reading it back.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        if (!captureWindow(window).save(file, "PNG")) {
            std::fprintf(stderr, "signpad: cannot write %s\n", qPrintable(file));
            return 1;
        }
        return 0;
    }
    return app->exec();
}

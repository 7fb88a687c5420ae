// ondrel-messenger: the desktop messenger. Without arguments it opens the sign-on window with
// what was remembered (server 127.0.0.1:5190 the first time). --server fills in another
// server; --settings keeps the settings in a file of one's choosing; --screenshot signs on,
// chats with echobot, saves a picture of the screen and exits (for the README).
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>

#include <cstdio>
#include <memory>

#include "buddy_list_window.h"
#include "connection_manager.h"
#include "im_window.h"
#include "messenger.h"
#include "ondrel/component.h"
#include "sign_on_window.h"

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// Signs on as `name`, talks to echobot and saves the screen with both windows to `file`.
int takeScreenshot(messenger::Messenger& m, const QString& name, const QString& password,
                   const QString& file) {
    using messenger::ConnectionManager;
    messenger::SignOnWindow* signOn = m.signOnWindow();
    signOn->move(20, 20);
    signOn->findChild<QLineEdit*>(QStringLiteral("screenName"))->setText(name);
    signOn->findChild<QLineEdit*>(QStringLiteral("password"))->setText(password);
    signOn->findChild<QPushButton*>(QStringLiteral("signOnButton"))->click();
    if (!waitFor([&] { return m.buddies().presence(QStringLiteral("echobot")).online; }, 15000)) {
        std::fprintf(stderr, "ondrel-messenger: no sign-on (%s)\n", qPrintable(signOn->status()));
        return 1;
    }
    m.buddyListWindow()->setGeometry(20, 20, 300, 400);
    messenger::ImWindow* im = m.openIm(QStringLiteral("echobot"));
    im->setGeometry(340, 20, 440, 300);
    auto* input = im->findChild<QLineEdit*>(QStringLiteral("input"));
    input->setText(
        QStringLiteral("Hello, <b>echobot</b>! Is the <font color=\"#1a7f37\">green</font> "
                       "line back?"));
    QMetaObject::invokeMethod(input, "returnPressed");
    const auto* c = m.conversations().find(im->key());
    if (!waitFor([&] { return c->transcript->rowCount() >= 2; }, 10000)) {
        std::fprintf(stderr, "ondrel-messenger: echobot did not answer\n");
        return 1;
    }
    waitFor([] { return false; }, 500);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, 800, 440);
    if (!shot.save(file, "PNG")) {
        std::fprintf(stderr, "ondrel-messenger: cannot write %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("Lantry"));
    QCoreApplication::setApplicationName(QStringLiteral("Ondrel Messenger"));
    QCoreApplication::setApplicationVersion(QLatin1String(lantry::kLibraryVersion));
    // The launcher entry installed beside the program, so the desktop matches windows to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.lantry.OndrelMessenger"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Ondrel Messenger: buddy list, instant messages and chat rooms over TOC2."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption serverOption(QStringLiteral("server"),
                                          QStringLiteral("Server to fill in, as HOST[:PORT]."),
                                          QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Keep the settings in this file instead of the usual place."),
        QStringLiteral("FILE"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral("Sign on (--user, --password-file), chat with echobot, save a PNG "
                       "picture of the screen and exit."),
        QStringLiteral("FILE"));
    const QCommandLineOption userOption(QStringLiteral("user"),
                                        QStringLiteral("Screen name for --screenshot."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password-file"),
        QStringLiteral("File whose first line is the password, for --screenshot."),
        QStringLiteral("FILE"));
    parser.addOptions({serverOption, settingsOption, screenshotOption, userOption, passwordOption});
    // Help and the version need no display: they are answered before the GUI starts.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (parser.parse(arguments) && (parser.isSet(helpOption) || parser.isSet(versionOption) ||
                                    parser.isSet(QStringLiteral("help-all")))) {
        QCoreApplication core(argc, argv);
        parser.process(core);
    }
    QApplication app(argc, argv);
    // With a notification area the messenger lives on in it when its windows are closed.
    QApplication::setQuitOnLastWindowClosed(!QSystemTrayIcon::isSystemTrayAvailable());
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "ondrel-messenger: unexpected argument '%s' (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(serverOption)) {
        QString host, error;
        quint16 port = 0;
        if (!messenger::parseServer(parser.value(serverOption), host, port, error)) {
            std::fprintf(stderr, "ondrel-messenger: --server: %s\n", qPrintable(error));
            return 2;
        }
    }
    const bool screenshot = parser.isSet(screenshotOption);
    QString password;
    if (screenshot) {
        QFile file(parser.value(passwordOption));
        if (!parser.isSet(userOption) || !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr,
                         "ondrel-messenger: --screenshot needs --user and a readable "
                         "--password-file\n");
            return 2;
        }
        password = QString::fromUtf8(file.readLine()).trimmed();
    }

    std::unique_ptr<QSettings> settings =
        parser.isSet(settingsOption)
            ? std::make_unique<QSettings>(parser.value(settingsOption), QSettings::IniFormat)
            : std::make_unique<QSettings>();

    QString error;
    lantry::ControlObject* control = lantry::createOndrelControl(&error, [](const QString& why) {
        std::fprintf(stderr, "ondrel-messenger: registered the Ondrel control in %s (%s)\n",
                     qPrintable(lantry::registryFile()), qPrintable(why));
    });
    if (!control) {
        const QString text = QStringLiteral("The Ondrel control cannot be created: ") + error;
        std::fprintf(stderr, "ondrel-messenger: %s\n", qPrintable(text));
        if (!screenshot)
            QMessageBox::critical(nullptr, QStringLiteral("Ondrel Messenger"), text);
        return 1;
    }
    messenger::Messenger messenger(control, settings.get());
    QObject::connect(&messenger, &messenger::Messenger::quitRequested, &app, &QApplication::quit);
    messenger.start(parser.value(serverOption));
    if (screenshot) {
        return takeScreenshot(messenger, parser.value(userOption), password,
                              parser.value(screenshotOption));
    }
    return app.exec();
}

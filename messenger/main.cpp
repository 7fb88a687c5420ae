// ondrel-messenger: the desktop messenger. Without arguments it opens the sign-on window with
// what was remembered (server 127.0.0.1:5190 the first time). --server fills in another
// server; --settings keeps the settings in a file of one's choosing; --screenshot signs on
// with two friends of its own making, chats with one, saves a picture of the screen and exits
// (for the README).
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

// Whether Qt has somewhere to open windows: without one, QApplication aborts the program.
bool displayAvailable(int argc, char** argv) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).startsWith("-platform"))
            return true;
    return false;
}

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

// A person of the picture: signed on through a control of its own, like any other client.
std::unique_ptr<messenger::ConnectionManager> signOnPeer(const messenger::Account& account) {
    lantry::ControlObject* control = lantry::createOndrelControl();
    if (!control)
        return nullptr;
    auto peer = std::make_unique<messenger::ConnectionManager>(control);
    peer->signOn(account);
    return peer;
}

// Signs on as `name` with two friends on the list, Mei away and Sam idle, talks with Sam (a
// line in Chinese, an emoji) and saves the screen with both windows to `file`.
int takeScreenshot(messenger::Messenger& m, const QString& server, const QString& name,
                   const QString& password, const QString& file) {
    using State = messenger::ConnectionManager::State;
    QString host, error;
    quint16 port = 0;
    messenger::parseServer(server, host, port, error);
    const auto mei = signOnPeer({host, port, QStringLiteral("Mei Lin"), password});
    const auto sam = signOnPeer({host, port, QStringLiteral("Sam Okafor"), password});
    if (!mei || !sam ||
        !waitFor([&] { return mei->state() == State::SignedOn && sam->state() == State::SignedOn; },
                 15000)) {
        std::fprintf(stderr, "ondrel-messenger: the friends of the picture did not sign on\n");
        return 1;
    }
    mei->call(lantry::DispId::FormatUserName, {QStringLiteral("Mei Lin")});
    mei->call(lantry::DispId::SetAwayMessage, {QStringLiteral("Out for lunch")});
    sam->call(lantry::DispId::FormatUserName, {QStringLiteral("Sam Okafor")});
    sam->call(lantry::DispId::SetIdleTime, {25});

    messenger::SignOnWindow* signOn = m.signOnWindow();
    signOn->move(20, 20);
    signOn->findChild<QLineEdit*>(QStringLiteral("screenName"))->setText(name);
    signOn->findChild<QLineEdit*>(QStringLiteral("password"))->setText(password);
    signOn->findChild<QPushButton*>(QStringLiteral("signOnButton"))->click();
    if (!waitFor([&] { return m.buddies().presence(QStringLiteral("echobot")).online; }, 15000)) {
        std::fprintf(stderr, "ondrel-messenger: no sign-on (%s)\n", qPrintable(signOn->status()));
        return 1;
    }
    messenger::BuddyListWindow* list = m.buddyListWindow();
    for (const QString& friendName : {QStringLiteral("Mei Lin"), QStringLiteral("Sam Okafor")})
        emit list->addBuddyRequested(QStringLiteral("Friends"), friendName);
    m.formatScreenName(name);
    if (!waitFor(
            [&] {
                const messenger::Presence a = m.buddies().presence(QStringLiteral("meilin"));
                const messenger::Presence b = m.buddies().presence(QStringLiteral("samokafor"));
                return a.away && a.formattedName == QLatin1String("Mei Lin") && b.idleMinutes > 0 &&
                       b.formattedName == QLatin1String("Sam Okafor") &&
                       m.connection().formattedName() == name;
            },
            15000)) {
        std::fprintf(stderr, "ondrel-messenger: the friends' presence did not arrive\n");
        return 1;
    }
    list->setGeometry(20, 20, list->width(), 400);

    const QString me = m.connection().formattedName();
    const QStringList fromSam{
        QStringLiteral("Are you coming to the <b>3 o'clock</b> review?"),
        QStringLiteral("会议改到星期四下午了，地点不变。"),
        QStringLiteral("Great, see you there \u2615"),
    };
    const QStringList fromMe{
        QStringLiteral("Yes, with the <font color=\"#1a7f37\">new</font> pictures."),
        QStringLiteral("Thursday works for me \U0001F44D"),
    };
    const QString key = messenger::ConversationStore::imKey(QStringLiteral("samokafor"));
    const auto linesIn = [&] {
        const auto* c = m.conversations().find(key);
        return c ? c->transcript->rowCount() : 0;
    };
    for (int i = 0; i < fromSam.size(); ++i) {
        sam->sendIm(me, fromSam[i]);
        if (!waitFor([&] { return linesIn() == 2 * i + 1; }, 10000)) {
            std::fprintf(stderr, "ondrel-messenger: Sam's message did not arrive\n");
            return 1;
        }
        if (i < fromMe.size()) {
            auto* input = m.openIm(QStringLiteral("samokafor"))
                              ->findChild<QLineEdit*>(QStringLiteral("input"));
            input->setText(fromMe[i]);
            QMetaObject::invokeMethod(input, "returnPressed");
        }
    }
    messenger::ImWindow* im = m.openIm(QStringLiteral("samokafor"));
    const int imLeft = list->geometry().right() + 20;
    im->setGeometry(imLeft, 20, 780 - imLeft, 300);
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
        QStringLiteral("Sign on (--server, --user, --password-file) with two friends made up for "
                       "the picture, chat with one, save a PNG picture of the screen and exit."),
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
    if (!displayAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "ondrel-messenger: no display to open windows on (DISPLAY and "
                     "WAYLAND_DISPLAY are not set); start it from a desktop session. For a "
                     "terminal there is \"ondrel chat\".\n");
        return 1;
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
        if (!parser.isSet(serverOption) || !parser.isSet(userOption) ||
            !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr,
                         "ondrel-messenger: --screenshot needs --server, --user and a readable "
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
        return takeScreenshot(messenger, parser.value(serverOption), parser.value(userOption),
                              password, parser.value(screenshotOption));
    }
    return app.exec();
}

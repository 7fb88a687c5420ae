// tocd: a local TOC2 server. Prints "tocd listening on ADDR:PORT" once bound; logs to stderr,
// each line after its UTC time; SIGINT and SIGTERM end it cleanly (sessions and database
// closed).
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QHostInfo>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "operator_commands.h"
#include "server.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    // Nothing else is safe in a signal handler; the event loop reads the pipe.
    [[maybe_unused]] const auto n = write(signalPipe[1], &byte, 1);
}

void logLine(QtMsgType, const QMessageLogContext&, const QString& message) {
    const QByteArray line = (QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) +
                             QLatin1Char(' ') + message + QLatin1Char('\n'))
                                .toLocal8Bit();
    // One write per line, so that lines of different threads never interleave.
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
}

bool parseCount(const QCommandLineParser& parser, const QString& name, int min, int& out) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int v = parser.value(name).toInt(&ok);
    if (!ok || v < min) {
        qCritical("tocd: --%s needs a whole number of at least %d, not %s", qPrintable(name), min,
                  qPrintable(parser.value(name)));
        return false;
    }
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (tocd::isOperatorCommand(argc, argv))
        return tocd::runOperatorCommand(argc, argv);
    qInstallMessageHandler(logLine);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tocd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local TOC2 server: accounts, stored buddy/permit/deny lists, instant messages,\n"
        "presence, chat rooms and profiles. The built-in account \"echobot\" answers every\n"
        "message. Profiles are served over HTTP on the same port.\n\n"
        "Operator commands, also while a tocd serves the database; passwords come from\n"
        "standard input, hashed as at sign-on (--password-cost applies):\n"
        "  tocd accounts list --db FILE                 name, created, last sign-on\n"
        "  tocd accounts add NAME --db FILE\n"
        "  tocd accounts reset-password NAME --db FILE\n"
        "  tocd accounts delete NAME --db FILE          its lists go too\n"
        "  tocd backup --db FILE OUT                    SQLite's online backup"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("listen"),
         QStringLiteral("Address or host name, and port, to listen on (port 0: any free "
                        "port; default 127.0.0.1:5190)."),
         QStringLiteral("HOST:PORT"), QStringLiteral("127.0.0.1:5190")},
        {QStringLiteral("db"),
         QStringLiteral("SQLite database file for accounts and lists (default: in memory)."),
         QStringLiteral("FILE")},
        {QStringLiteral("closed"),
         QStringLiteral("Refuse sign-ons to accounts that do not exist yet.")},
        {QStringLiteral("keepalive"),
         QStringLiteral("Seconds between keep-alive frames (0: none; default 60)."),
         QStringLiteral("SECS")},
        {QStringLiteral("rate-burst"),
         QStringLiteral("Commands a session may send at once (0: no limit; default 100)."),
         QStringLiteral("N")},
        {QStringLiteral("rate-per-second"),
         QStringLiteral("Commands a session regains per second (default 20)."),
         QStringLiteral("N")},
        {QStringLiteral("real-rate-limits"),
         QStringLiteral("Limit IMs, chat, invitations, warnings and look-ups as real TOC2 "
                        "servers do: a moving average of the time between them; below 4 s "
                        "a command is dropped with ERROR:903, below 3 s the connection ends.")},
        {QStringLiteral("signon-burst"),
         QStringLiteral("Sign-ons one address may make at once (0: no limit; default 100)."),
         QStringLiteral("N")},
        {QStringLiteral("signon-per-minute"),
         QStringLiteral("Sign-ons one address regains per minute (default 60)."),
         QStringLiteral("N")},
        {QStringLiteral("login-timeout"),
         QStringLiteral("Seconds a connection has to finish signing on (default 30)."),
         QStringLiteral("SECS")},
        {QStringLiteral("open-registration-rate"),
         QStringLiteral("Accounts one address may create at once, and again per hour "
                        "(0: no limit; default %1).")
             .arg(tocd::Options{}.registrationsPerHour),
         QStringLiteral("N")},
        {QStringLiteral("waiting-per-address"),
         QStringLiteral("Connections one address may hold open before signing on; past it "
                        "new ones are closed at once (0: no limit; default 32)."),
         QStringLiteral("N")},
        {QStringLiteral("password-cost"),
         QStringLiteral("Cost of Argon2id password hashes: standard (the default: 19 MiB, 2 "
                        "passes), interactive (libsodium's interactive limits, 64 MiB) or min "
                        "(libsodium's minimum limits: for tests and load generators only, never "
                        "for real accounts). Stored hashes of another cost are rehashed at "
                        "their account's next sign-on."),
         QStringLiteral("COST"), QStringLiteral("standard")},
        {QStringLiteral("verbose"), QStringLiteral("Log every frame (passwords hidden).")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        qCritical("tocd: unexpected argument %s (see --help)",
                  qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    tocd::Options options;
    options.realRateLimits = parser.isSet(QStringLiteral("real-rate-limits"));
    const QString listen = parser.value(QStringLiteral("listen"));
    const auto colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint port = colon > 0 ? listen.mid(colon + 1).toUInt(&portOk) : 0;
    QString host = colon > 0 ? listen.left(colon) : QString();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    options.address = QHostAddress(host);
    if (portOk && options.address.isNull() && !host.isEmpty()) {
        const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
        if (!found.isEmpty())
            options.address = found.first();
    }
    if (!portOk || options.address.isNull()) {
        qCritical("tocd: --listen needs HOST:PORT with an address or a known host name, not %s",
                  qPrintable(listen));
        return 2;
    }
    if (port > 65535) {
        qCritical("tocd: --listen %s: port %u is out of range (0 to 65535)", qPrintable(listen),
                  port);
        return 2;
    }
    options.port = static_cast<quint16>(port);
    options.database = parser.value(QStringLiteral("db"));
    options.registrationOpen = !parser.isSet(QStringLiteral("closed"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    if (!parseCount(parser, QStringLiteral("keepalive"), 0, options.keepAliveSeconds) ||
        !parseCount(parser, QStringLiteral("rate-burst"), 0, options.rateBurst) ||
        !parseCount(parser, QStringLiteral("rate-per-second"), 1, options.ratePerSecond) ||
        !parseCount(parser, QStringLiteral("signon-burst"), 0, options.signOnBurst) ||
        !parseCount(parser, QStringLiteral("signon-per-minute"), 1, options.signOnPerMinute) ||
        !parseCount(parser, QStringLiteral("login-timeout"), 1, options.loginTimeoutSeconds) ||
        !parseCount(parser, QStringLiteral("open-registration-rate"), 0,
                    options.registrationsPerHour) ||
        !parseCount(parser, QStringLiteral("waiting-per-address"), 0, options.waitingPerAddress)) {
        return 2;
    }
    const QString cost = parser.value(QStringLiteral("password-cost"));
    if (const auto named = tocd::passwordCostNamed(cost.toStdString())) {
        options.passwordCost = *named;
    } else {
        qCritical("tocd: --password-cost is standard, interactive or min, not %s",
                  qPrintable(cost));
        return 2;
    }

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCritical("tocd: cannot make the signal pipe: %s", std::strerror(errno));
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        bool signalled = false;
        while (read(signalPipe[0], &byte, 1) > 0)
            signalled = true;
        // A wake-up without a byte is no signal: only a byte from the handler ends the server.
        if (!signalled)
            return;
        qInfo("tocd: shutting down");
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int code = 0;
    {
        tocd::Server server(options);
        QString error;
        if (!server.start(&error)) {
            qCritical("tocd: cannot start: %s", qPrintable(error));
            return 1;
        }
        std::printf("tocd listening on %s:%u\n", qPrintable(server.address().toString()),
                    unsigned(server.port()));
        std::fflush(stdout);
        code = app.exec();
    }
    close(signalPipe[0]);
    close(signalPipe[1]);
    return code;
}

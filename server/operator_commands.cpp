#include "operator_commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

#include "ondrel/wire.h"
#include "passwords.h"
#include "server.h"
#include "store.h"
#include "text.h"

namespace tocd {

namespace {

enum Status { kDone = 0, kFailed = 1, kUsage = 2 };

int fail(const QString& message, int status = kFailed) {
    std::fprintf(stderr, "tocd: %s\n", qPrintable(message));
    return status;
}

QString when(qint64 seconds, const char* none) {
    return seconds > 0 ? QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate)
                       : QString::fromLatin1(none);
}

// The first line of standard input; on a terminal asked for without echo.
std::optional<std::string> readPassword(const std::string& name) {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved = {};
    if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fprintf(stderr, "New password for %s: ", name.c_str());
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (!read || line.empty())
        return std::nullopt;
    return line;
}

int listAccounts(AccountStore& store) {
    const auto accounts = store.accounts();
    if (!accounts)
        return fail(QStringLiteral("cannot read the accounts: %1").arg(store.lastError()));
    std::size_t width = 0;
    for (const auto& a : *accounts)
        width = std::max(width, a.name.size());
    for (const auto& a : *accounts) {
        std::printf("%-*s  %-20s  %s\n", static_cast<int>(width), printable(a.name).c_str(),
                    qPrintable(when(a.created, "-")), qPrintable(when(a.lastSignOn, "never")));
    }
    return kDone;
}

int changeAccount(AccountStore& store, const QString& verb, const std::string& typed,
                  PasswordCost cost) {
    const std::string name = lantry::wire::normalizeName(typed);
    if (!isValidScreenName(typed) || name == Server::kEchoBot)
        return fail(QStringLiteral("%1 is not a screen name an account can have")
                        .arg(QString::fromStdString(printable(typed))),
                    kUsage);
    PasswordRecord stored;
    const auto lookup = store.password(name, &stored);
    if (lookup == AccountStore::Lookup::Failed)
        return fail(QStringLiteral("cannot read the account %1").arg(name.c_str()));
    const bool exists = lookup == AccountStore::Lookup::Found;
    if (verb == QStringLiteral("add") && exists)
        return fail(QStringLiteral("the account %1 exists already").arg(name.c_str()));
    if (verb != QStringLiteral("add") && !exists)
        return fail(QStringLiteral("there is no account %1").arg(name.c_str()));

    if (verb == QStringLiteral("delete")) {
        if (!store.remove(name))
            return fail(
                QStringLiteral("account %1 not deleted: %2").arg(name.c_str(), store.lastError()));
        std::printf("Deleted the account %s and its lists.\n", name.c_str());
        return kDone;
    }
    const auto password = readPassword(name);
    if (!password)
        return fail(QStringLiteral("no password given (the first line of standard input)"));
    const PasswordRecord fresh = hashPassword(*password, cost);
    if (fresh.hash.empty())
        return fail(QStringLiteral("not enough memory to hash the password"));
    if (verb == QStringLiteral("add")) {
        if (!store.create(name, fresh, QDateTime::currentSecsSinceEpoch(), Server::kDefaultGroup,
                          Server::kEchoBot))
            return fail(
                QStringLiteral("account %1 not added: %2").arg(name.c_str(), store.lastError()));
        std::printf("Added the account %s.\n", name.c_str());
    } else {
        if (!store.setPassword(name, fresh))
            return fail(QStringLiteral("password of %1 not reset: %2")
                            .arg(name.c_str(), store.lastError()));
        std::printf("Reset the password of %s.\n", name.c_str());
    }
    return kDone;
}

}  // namespace

bool isOperatorCommand(int argc, char** argv) {
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    return first == "accounts" || first == "backup";
}

int runOperatorCommand(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("db"), QStringLiteral("The database file."), QStringLiteral("FILE")},
        {QStringLiteral("password-cost"), QStringLiteral("Cost of new password hashes."),
         QStringLiteral("COST"), QStringLiteral("standard")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see tocd --help)"), kUsage);
    const QStringList words = parser.positionalArguments();
    const QString file = parser.value(QStringLiteral("db"));
    const auto cost =
        passwordCostNamed(parser.value(QStringLiteral("password-cost")).toStdString());
    if (!cost)
        return fail(QStringLiteral("--password-cost is standard, interactive or min"), kUsage);
    if (file.isEmpty())
        return fail(QStringLiteral("%1 needs --db FILE").arg(words.join(u' ')), kUsage);

    const bool backup = words.value(0) == QStringLiteral("backup");
    const QString verb = words.value(1);
    const bool known =
        backup ? words.size() == 2
               : (verb == QStringLiteral("list") && words.size() == 2) ||
                     ((verb == QStringLiteral("add") || verb == QStringLiteral("reset-password") ||
                       verb == QStringLiteral("delete")) &&
                      words.size() == 3);
    if (!known) {
        return fail(QStringLiteral("unknown command: tocd %1 (commands: accounts list, accounts "
                                   "add NAME, accounts reset-password NAME, accounts delete NAME, "
                                   "backup OUT; each with --db FILE)")
                        .arg(words.join(u' ')),
                    kUsage);
    }
    if (backup && QFileInfo(verb).absoluteFilePath() == QFileInfo(file).absoluteFilePath())
        return fail(QStringLiteral("the backup cannot replace the database itself"), kUsage);

    if (!initPasswordHashing())
        return fail(QStringLiteral("the password hashing library cannot be used"));
    AccountStore store;
    QString error;
    if (!store.open(file, &error, AccountStore::User::Operator))
        return fail(error);
    if (backup) {
        if (!store.backup(verb, &error))
            return fail(error);
        std::printf("Copied %s into %s.\n", qPrintable(file), qPrintable(verb));
        return kDone;
    }
    if (verb == QStringLiteral("list"))
        return listAccounts(store);
    return changeAccount(store, verb, words.value(2).toStdString(), *cost);
}

}  // namespace tocd

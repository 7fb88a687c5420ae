// tocd's framing and limits. Other bad input: tests/robustness/tocd_hostile_test.cpp and
// fuzz/tocd_session_fuzz.cpp.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>

#include "harness.h"
#include "in_process.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

// A command ends at its first NUL, so the bytes after it never reach a reply where a client would
// cut the message short; a payload of 2048 bytes, its NUL included, is served, 2049 end the
// connection.
TEST(Protocol, OlderSignOnCommandsEndAtTheirFirstNulAndAt2048Bytes) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start());
    RawClient c(tocd.port());
    const std::string roasted = lantry::wire::roastPassword("pw");
    const std::string echoCommand = "toc2_send_im_enc echobot F U en \"";
    const std::string longText(2047 - echoCommand.size() - 1, 'y');
    const std::string longest = echoCommand + longText + '"';
    c.send("FLAPON\r\n\r\n" + clientFrame(1, std::string("\0\0\0\1\0\1\0\3bob", 11), 0) +
           clientFrame(2, "toc_signon host 5190 bob " + roasted + " english \"x\"" + '\0', 1) +
           clientFrame(2, std::string("toc_get_status ghost\0\0\0", 23), 2) +
           clientFrame(2, std::string("toc2_send_im_enc echobot F U en cut\0off\0", 40), 3) +
           clientFrame(2, longest + '\0', 4) +
           clientFrame(2, std::string("toc_no_such_command 1", 22), 5));
    for (const std::string& text :
         std::vector<std::string>{"CONFIG2:g:Buddies\nb:echobot\nm:1\ndone:\n", "ERROR:901:ghost",
                                  "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:cut",
                                  "IM_IN_ENC2:EchoBot:F:F:T: O :F:L:en:" + longText, "ERROR:911"}) {
        const std::string framed = clientFrame(2, text, 0).substr(4);  // its length and text
        EXPECT_TRUE(QTest::qWaitFor([&] { return c.drain(), c.input.find(framed) != c.input.npos; },
                                    kWaitMs))
            << text;
    }
    c.send(clientFrame(2, echoCommand + longText + "y\"" + '\0', 6));
    EXPECT_TRUE(c.closedWithin());
}

TEST(Protocol, KeepAliveFramesAndCleanShutdown) {
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--keepalive", "1"}));
    Client c;
    c.sink.recordPackets = true;
    ASSERT_NE(c.login("idle", "pw", tocd.port()), "");
    EXPECT_EQ(c.next("IncomingPacket(*\x05", 4000).size(), 22u) << "one empty frame";
    EXPECT_EQ(tocd.stop(), 0);
    EXPECT_NE(c.next("WinsockError("), "");
}

// Sign-on refuses reserved names and names outside the screen-name rules (letters, digits and
// blanks; 3 to 16 characters besides blanks, the first a letter; at most 32 bytes); on the
// account, the same rules hold for list entries, and a nickname may change capitals and blanks.
TEST(Rules, ScreenNamesAtSignOnAndOnTheAccount) {
    InProcessServer tocd;
    const std::pair<std::string, bool> names[] = {
        {"echobot", false},
        {"\"Echo Bot\"", false},
        {"ab", false},
        {"\"a b\"", false},
        {"1abc", false},
        {"a_bc", false},
        {"abcdefghijklmnopq", false},
        {"\"a" + std::string(30, ' ') + "bc\"", false},
        {"abcdefghijklmnop", true},
        {"\"a" + std::string(29, ' ') + "bc\"", true},
        {"Abc9", true},
    };
    for (const auto& [name, valid] : names) {
        const auto answer = tocd.take(tocd.signOn(name));
        ASSERT_FALSE(answer.empty()) << name;
        EXPECT_EQ(answer[0], valid ? "SIGN_ON:TOC2.0" : "ERROR:980") << name;
    }
    const int user = tocd.signOn("alice");
    tocd.take(user);
    const std::pair<std::string, const char*> commands[] = {
        {"toc_format_nickname \"Al Ice\"", "ADMIN_NICK_STATUS:0"},
        {"toc_format_nickname Alicia", "ERROR:911"},
        {"toc_format_nickname bob", "ERROR:911"},
        {"toc_format_nickname \"a" + std::string(28, ' ') + "lice\"", "ERROR:911"},
        {"toc2_add_permit carol", nullptr},
        {"toc2_add_permit ab", "ERROR:911"},
        {"toc2_add_deny 1abc", "ERROR:911"},
        {"toc2_add_deny abcdefghijklmnopq", "ERROR:911"},
        {"toc2_new_buddies \"g:G\nb:a_bc\n\"", "ERROR:911"},
    };
    for (const auto& [command, answer] : commands) {
        tocd.say(user, command);
        const auto got = tocd.take(user);
        EXPECT_EQ(got.empty() ? "" : got[0], answer ? answer : "") << command;
    }
}

// The burst is served and every command past it refused, exactly; the commands arrive with the
// sign-on in one read, so no refill falls between them.
TEST(Rules, TheRateLimitServesExactlyItsBurst) {
    auto options = InProcessServer::optionsForTests();
    options.rateBurst = 5;
    options.ratePerSecond = 1;
    InProcessServer tocd(options);
    std::vector<std::string> commands;
    for (int i = 0; i < 6; ++i)
        commands.push_back("toc_get_status ghost" + std::to_string(i));
    const auto answers = tocd.take(tocd.signOn("fast", true, commands));
    std::vector<std::string> errors;
    for (const auto& a : answers) {
        if (a.starts_with("ERROR:"))
            errors.push_back(a);
    }
    // toc_init_done took the first token.
    EXPECT_EQ(errors,
              (std::vector<std::string>{"ERROR:901:ghost0", "ERROR:901:ghost1", "ERROR:901:ghost2",
                                        "ERROR:901:ghost3", "ERROR:903", "ERROR:903"}));
}

// What tocd wrote to stderr, run with `args` until it ends by itself or, with `client`, until
// the client has done its part on tocd's port.
QString tocdLog(const QStringList& args, const std::function<void(int port)>& client = {}) {
    QProcess p;
    p.start(QStringLiteral(TOCD_PATH), args);
    if (client && p.waitForReadyRead(kWaitMs)) {
        const QByteArray line = p.readLine().trimmed();
        client(line.mid(line.lastIndexOf(':') + 1).toInt());
        p.terminate();
    }
    p.waitForFinished(kWaitMs);
    return QString::fromLocal8Bit(p.readAllStandardError());
}

// Every log line starts with its UTC time; refused sign-ons are logged, never their password.
TEST(Protocol, StartupErrorsNameWhatFailedAndEveryLogLineCarriesItsUtcTime) {
    std::vector<QString> logs;
    logs.push_back(tocdLog({"--listen", "127.0.0.1:99999"}));
    EXPECT_TRUE(logs.back().contains("port 99999 is out of range")) << logs.back().toStdString();
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("missing/accounts.db"));
    logs.push_back(tocdLog({"--listen", "127.0.0.1:0", "--db", db}));
    EXPECT_TRUE(logs.back().contains("cannot use the database " + db + ": "))
        << logs.back().toStdString();
    lantry::testing::TocdProcess busy;
    ASSERT_TRUE(busy.start());
    const QString taken = QStringLiteral("127.0.0.1:%1").arg(busy.port());
    logs.push_back(tocdLog({"--listen", taken}));
    EXPECT_TRUE(logs.back().contains("cannot listen on " + taken + ": "))
        << logs.back().toStdString();

    logs.push_back(tocdLog({"--listen", "127.0.0.1:0", "--password-cost", "min"}, [](int port) {
        RawClient owner(port), guesser(port);
        owner.send(signOnBytes("alice", "pw"));
        EXPECT_TRUE(receivedWithin(owner, "SIGN_ON:"));
        guesser.send(signOnBytes("alice", "Guess\xe9Me"));
        EXPECT_TRUE(guesser.closedWithin());
    }));
    EXPECT_TRUE(logs.back().contains(" sign-on refused: alice from 127.0.0.1: wrong password\n"))
        << logs.back().toStdString();
    EXPECT_FALSE(logs.back().contains("Guess"));
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z \\S"));
    for (const QString& log : logs) {
        for (const QString& line : log.split('\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
    }
}

}  // namespace
}  // namespace tocd::testing

// `ondrel chat` full screen, as a person sees it: the client on a pseudo-terminal against a
// private tocd (or a scripted peer where exact server texts matter), its output rendered by a
// terminal emulator, the screen's cells read back.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "pty_screen.h"
#include "tocd_process.h"

namespace lantry::testing {
namespace {

constexpr int kRows = 24;
constexpr int kCols = 80;
// Keys as an xterm sends them once the application has asked for its keypad.
const QByteArray kUp = "\x1bOA";
const QByteArray kLeft = "\x1bOD";

class ChatScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        QFile file(data.filePath("password"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("pw\n");
    }

    // `user` signed on with a password file, on `screen`, with the data directory in `data`.
    void run(PtyScreen& screen, quint16 port, const QString& user, QStringList extra = {}) {
        ASSERT_TRUE(
            screen.start(QStringLiteral(ONDREL_CLI_PATH),
                         QStringList{"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(port),
                                     "--user", user, "--password-file", data.filePath("password")} +
                             extra,
                         {"LANG=C.UTF-8", "TERM=xterm-256color", "XDG_DATA_HOME=" + data.path()}));
    }

    // A second person in line mode on a pipe.
    std::unique_ptr<CliProcess> lineClient(quint16 port, const QByteArray& user) {
        auto client = std::make_unique<CliProcess>(QStringList{
            "chat", "--server", QStringLiteral("127.0.0.1:%1").arg(port), "--user", user});
        client->write("pw");
        return client;
    }

    QString file(const QString& path) {
        QFile f(data.filePath(path));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static QString input(const PtyScreen& s) { return s.row(s.rows() - 1).trimmed(); }
    static QString bar(const PtyScreen& s) { return s.row(s.rows() - 2); }

    static void expectRestored(const PtyScreen& s) {
        EXPECT_FALSE(s.altScreen());
        const tcflag_t modes = ICANON | ECHO | ISIG;
        EXPECT_EQ(s.settings().c_lflag & modes, s.initialSettings().c_lflag & modes);
    }

    QTemporaryDir data;
};

TEST_F(ChatScreenTest, TypedLineStaysWhileMessagesArriveWindowsHistoryCompletionAndLogs) {
    TocdProcess tocd;
    ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString();
    PtyScreen alice(kRows, kCols);
    run(alice, tocd.port(), "alice");
    ASSERT_TRUE(alice.waitForText("Signed on as alice"));
    EXPECT_TRUE(alice.altScreen());
    ASSERT_TRUE(alice.waitForText("echobot"));

    // Tab completes a buddy; the conversation gets window 2.
    alice.type("/im ech\t");
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "/im echobot"; }))
        << input(alice).toStdString();
    alice.type(" hi\r");
    EXPECT_TRUE(alice.waitForText("<EchoBot> hi"));
    EXPECT_TRUE(alice.waitFor([&] { return alice.row(0).contains("Conversation with echobot"); }));

    auto bob = lineClient(tocd.port(), "bob");
    ASSERT_TRUE(bob->lineContaining("Signed on as bob"));
    alice.type("half typed");
    bob->write("/im alice hello alice");
    // Bob's message opens window 3, counted as activity addressed to alice; the line she was
    // typing stays whole, with the cursor after it.
    ASSERT_TRUE(alice.waitFor([&] { return bar(alice).contains("Act: 3"); }))
        << bar(alice).toStdString();
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "[echobot] half typed"; }))
        << input(alice).toStdString();
    EXPECT_EQ(alice.cursor().col, QString("[echobot] half typed").size());
    EXPECT_EQ(alice.cursor().row, kRows - 1);
    EXPECT_TRUE(alice.cell(kRows - 2, bar(alice).indexOf("Act: 3") + 5).attrs.bold);
    EXPECT_TRUE(alice.cell(kRows - 2, bar(alice).indexOf("Act: 3") + 5).attrs.underline);
    EXPECT_FALSE(alice.text().contains("hello alice"));

    alice.type(
        "\x1b"
        "3");
    ASSERT_TRUE(alice.waitForText("<bob> hello alice"));
    EXPECT_TRUE(alice.waitFor([&] {
        return alice.row(0).contains("Conversation with bob") && !bar(alice).contains("Act:");
    })) << bar(alice).toStdString();
    EXPECT_GT(alice.rowOf("<bob> hello alice"), alice.rowOf(" unread "));

    // Editing counts cells: a wide character takes two.
    alice.type("\x15\xe6\x97\xa5\xe6\x9c\xac" + kLeft + "x");
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "[bob] \xe6\x97\xa5x\xe6\x9c\xac"; }))
        << input(alice).toStdString();
    EXPECT_EQ(alice.cursor().col, 6 + 3);
    alice.type("\x15one two three\x17");
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "[bob] one two"; }));
    alice.type("\x01\x0b");
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "[bob]"; }));

    // Up recalls the line sent; a /passwd line is never kept.
    alice.type("/passwd nope other\r");
    EXPECT_TRUE(alice.waitForText("refused: the old password is wrong"));
    alice.type(kUp);
    EXPECT_TRUE(alice.waitFor([&] { return input(alice) == "[bob] /im echobot hi"; }))
        << input(alice).toStdString();

    alice.type("\x15\x03");
    EXPECT_TRUE(alice.waitForText("Ctrl-C again to quit."));
    alice.type("\x03");
    // A clean sign-off; the status says that the /passwd line was refused.
    EXPECT_EQ(alice.waitExit(), 6);
    expectRestored(alice);

    const QString history = file("ondrel/history/alice");
    EXPECT_TRUE(history.contains("/im echobot hi\n")) << history.toStdString();
    EXPECT_FALSE(history.contains("passwd"));
    EXPECT_TRUE(file("ondrel/logs/alice/bob.log").contains("<bob> hello alice"));
    EXPECT_TRUE(file("ondrel/logs/alice/echobot.log").contains("<alice> hi"));
    EXPECT_FALSE(QFile::exists(data.filePath("ondrel/logs/alice/status.log")));
}

TEST_F(ChatScreenTest, PasteOfAnyLengthGoesOutWholeRoomsShowMembersAndResizingRedraws) {
    TocdProcess tocd;
    ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString();
    PtyScreen alice(kRows, kCols);
    run(alice, tocd.port(), "alice", {"--no-log"});
    auto bob = lineClient(tocd.port(), "bob");
    ASSERT_TRUE(bob->lineContaining("Signed on as bob"));
    ASSERT_TRUE(alice.waitForText("Signed on as alice"));

    // Past the terminal's 4095-byte line, in one bracketed paste; the input line scrolls.
    const QByteArray text = QByteArray("0123456789").repeated(600);
    alice.type("/im bob \x1b[200~" + text + "\x1b[201~");
    ASSERT_TRUE(alice.waitFor([&] { return input(alice).endsWith("56789"); }))
        << input(alice).toStdString();
    EXPECT_LT(alice.cursor().col, kCols);
    alice.type("\r");
    QByteArray received;
    while (received.size() < text.size()) {
        const auto line = bob->lineContaining("<alice> ");
        ASSERT_TRUE(line);
        received += line->mid(line->indexOf("<alice> ") + 8);
    }
    EXPECT_EQ(received, text);
    EXPECT_TRUE(alice.waitForText("(sent in 3 parts)"));

    alice.type("/join Den\r");
    ASSERT_TRUE(alice.waitFor([&] { return alice.row(0).contains("Room Den"); }));
    bob->write("/join Den");
    ASSERT_TRUE(alice.waitFor([&] { return alice.row(0).contains("2 here; /names lists them"); }))
        << alice.row(0).toStdString();
    alice.type("/names\r");
    EXPECT_TRUE(alice.waitForText("Den (2): alice, bob"));

    // Wider and taller: the bars move down and the members show beside the text.
    alice.resize(30, 120);
    ASSERT_TRUE(alice.waitFor([&] { return bar(alice).contains("[3:Den]"); }))
        << alice.text().toStdString();
    EXPECT_TRUE(alice.row(1).mid(120 - 18).contains("alice"));
    EXPECT_TRUE(alice.row(2).mid(120 - 18).contains("bob"));
    EXPECT_FALSE(alice.row(0).contains("/names"));
    // Closing a room's window leaves that room.
    alice.type("/close\r");
    EXPECT_TRUE(bob->lineContaining("alice left Den."));

    alice.type("/quit\r");
    EXPECT_EQ(alice.waitExit(), 0);
    expectRestored(alice);
    EXPECT_FALSE(QDir(data.filePath("ondrel/logs")).exists());
}

// Names and texts that try to move the cursor, retitle or clear the terminal, or forge a line
// show as visible text in the window, its title and the status bar; a crash gives the
// terminal back. In line mode on a terminal a long line is read whole, with light editing.
TEST_F(ChatScreenTest, ReceivedTextStaysVisibleACrashRestoresAndLineModeReadsLongLines) {
    ScriptedPeer peer;
    PtyScreen alice(kRows, kCols);
    run(alice, peer.port(), "alice");
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    ASSERT_TRUE(alice.waitForText("Signed on as alice"));
    peer.send(2,
              "IM_IN_ENC2:ev\x1b]0;x\x07"
              "e:F:F:T: O :F:L:en:one<br>[12:00:00] &lt;eve&gt; hi &#x202e;x\x1b[2J");
    ASSERT_TRUE(alice.waitFor([&] { return bar(alice).contains("Act: 2"); }));
    alice.type(
        "\x1b"
        "2");
    ASSERT_TRUE(alice.waitForText("> one"));
    EXPECT_TRUE(alice.waitFor([&] {
        return alice.row(0).contains("Conversation with ev^[]0;x^Ge");
    })) << alice.row(0).toStdString();
    EXPECT_TRUE(alice.waitFor([&] { return bar(alice).contains("[2:ev^[]0;x^Ge]"); }))
        << bar(alice).toStdString();
    const int first = alice.rowOf("<ev^[]0;x^Ge> one");
    ASSERT_GT(first, 0);
    EXPECT_TRUE(alice.row(first + 1).startsWith(
        "           \xe2\x86\xb3 [12:00:00] <eve> hi <U+202E>x^[[2J"))
        << alice.row(first + 1).toStdString();
    peer.send(2, "CHAT_JOIN:5:Den\x1b[2J");
    EXPECT_TRUE(alice.waitFor([&] { return alice.row(0).contains("Room Den^[[2J"); }));

    alice.signal(SIGSEGV);
    EXPECT_EQ(alice.waitExit(), -SIGSEGV);
    expectRestored(alice);

    ScriptedPeer linePeer;
    PtyScreen line(kRows, kCols);
    run(line, linePeer.port(), "alice", {"--line-mode"});
    ASSERT_TRUE(linePeer.serveSignOn("done:\n"));
    ASSERT_TRUE(line.waitForText("Signed on as alice"));
    EXPECT_FALSE(line.altScreen());
    line.type("/im bob helo\x7flo wrld \x17world\r");
    EXPECT_EQ(linePeer.readCommand(), "toc_send_im \"bob\" \"hello world\"");
    const QByteArray text = QByteArray("0123456789").repeated(600);
    line.type("/im bob " + text + "\r");
    line.settle(300);
    QByteArray received;
    for (int part = 0; part < 3; ++part) {
        const QByteArray command = linePeer.readCommand();
        ASSERT_TRUE(command.startsWith("toc_send_im \"bob\" \"")) << command.left(40).data();
        received += command.mid(19).chopped(1);
    }
    EXPECT_EQ(received, text);
    line.type("\x04");
    EXPECT_EQ(linePeer.readCommand(), "toc_get_status \"alice\"");
    linePeer.send(2, "ERROR:901:alice");
    EXPECT_EQ(line.waitExit(), 0);
    expectRestored(line);
}

}  // namespace
}  // namespace lantry::testing

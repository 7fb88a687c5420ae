// `ondrel` as a process: the bridge against a scripted TOC2 peer on 127.0.0.1 that plays the
// server side byte for byte; argument errors and registration; the terminal client (pipes, no
// terminal) against that peer and against a private tocd. Every wait blocks for a bounded time.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <utility>

#include "tocd_process.h"

// Failure messages show byte strings as text.
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace lantry::testing {
namespace {

// The server side of one TOC2 connection at a time.
class ScriptedPeer {
public:
    ScriptedPeer() { server_.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return server_.serverPort(); }

    // Exactly n bytes, or fewer when they do not come in time.
    QByteArray read(int n) {
        while (conn_->bytesAvailable() < n && conn_->waitForReadyRead(5000)) {
        }
        return conn_->read(n);
    }
    // The next frame's type and payload; type -1 when none comes.
    std::pair<int, QByteArray> readFrame() {
        const QByteArray h = read(6);
        if (h.size() < 6 || h[0] != '*')
            return {-1, {}};
        return {uchar(h[1]), read(uchar(h[4]) * 256 + uchar(h[5]))};
    }
    // The command line of the next data frame (its NUL checked and removed), or "" on failure.
    QByteArray readCommand() {
        const auto [type, payload] = readFrame();
        return type == 2 && payload.endsWith('\0') ? payload.chopped(1) : QByteArray();
    }
    // Plays a whole sign-on on a new connection; false when the client strays from it.
    bool serveSignOn(const QByteArray& configuration) {
        if (!server_.waitForNewConnection(5000))
            return false;
        conn_.reset(server_.nextPendingConnection());
        conn_->setParent(nullptr);
        serverSequence_ = 0;
        if (read(8) != "FLAPON\n\n")
            return false;
        send(1, QByteArray("\0\0\0\1", 4));
        if (readFrame().first != 1 || !readCommand().startsWith("toc2_login "))
            return false;
        send(2, "SIGN_ON:TOC2.0");
        send(2, "CONFIG2:" + configuration);
        return readCommand() == "toc_init_done";
    }
    // One frame as a server sends it (data frames without a trailing NUL).
    void send(int type, const QByteArray& payload) {
        const int seq = serverSequence_++, size = int(payload.size());
        const char header[] = {'*',       char(type),      char(seq >> 8),
                               char(seq), char(size >> 8), char(size)};
        conn_->write(QByteArray(header, 6) + payload);
        conn_->flush();
    }
    void close() { conn_->disconnectFromHost(); }
    bool closedByClient() {
        return conn_->state() == QAbstractSocket::UnconnectedState ||
               conn_->waitForDisconnected(5000);
    }

private:
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> conn_;
    int serverSequence_ = 0;
};

// `ondrel ARGS` with stdin and stdout as pipes; stderr is kept apart for the test to read.
class CliProcess {
public:
    explicit CliProcess(const QStringList& args,
                        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(ONDREL_CLI_PATH), args);
        process_.waitForStarted(10000);
    }
    void write(const QByteArray& line) {
        process_.write(line + '\n');
        process_.waitForBytesWritten(5000);
    }
    void closeInput() { process_.closeWriteChannel(); }
    // The next stdout line without its LF, or nullopt when none comes in time.
    std::optional<QByteArray> nextLine() {
        const QDeadlineTimer deadline(5000);
        while (!process_.canReadLine() && process_.waitForReadyRead(deadline.remainingTime())) {
        }
        if (!process_.canReadLine())
            return std::nullopt;
        return process_.readLine().chopped(1);
    }
    std::optional<QByteArray> lineContaining(const QByteArray& needle) {
        auto line = nextLine();
        for (int skipped = 0; line && !line->contains(needle) && skipped < 200; ++skipped)
            line = nextLine();
        return line && line->contains(needle) ? line : std::nullopt;
    }
    // Exit code once the process has ended by itself (-1 for a crash), nullopt if it runs on.
    std::optional<int> waitExit() {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(10000))
            return std::nullopt;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray remainingOutput() { return process_.readAllStandardOutput(); }
    QByteArray errorOutput() { return process_.readAllStandardError(); }

private:
    QProcess process_;
};

QByteArray request(const QByteArray& id, const QByteArray& method,
                   const QByteArray& params = "[]") {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + R"(","params":)" +
           params + "}";
}

QByteArray result(const QByteArray& id, const QByteArray& value = "null") {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":)" + value + "}";
}

QByteArray event(const QByteArray& name, const QByteArray& params) {
    return R"({"jsonrpc":"2.0","method":")" + name + R"(","params":)" + params + "}";
}

TEST(BridgeTest, RelaysEventsAndCallsAnswersBadLinesAndSendsWhatIsQueuedAtTheEnd) {
    ScriptedPeer peer;
    CliProcess bridge({"bridge"});
    const auto nextEvent = [&] {
        auto line = bridge.nextLine();
        while (line && line->contains(R"("method":"IncomingPacket")"))
            line = bridge.nextLine();
        return line.value_or("(no line)");
    };
    bridge.write(request("1", "Login",
                         R"(["Alice","pw","127.0.0.1",)" + QByteArray::number(peer.port()) + "]"));
    ASSERT_EQ(bridge.nextLine(), result("1", R"({"AuthServer":"login.oscar.aol.com"})"));
    ASSERT_TRUE(peer.serveSignOn(
        "m:3\ng:Buddies\nb:bob\nb:carl:Carl C\nd:eve\np:pat\npref:x\nzz\ndone:\n"));
    // Every byte outside printable ASCII travels as one \u00XX character.
    EXPECT_EQ(bridge.nextLine(),
              event("IncomingPacket", R"({"strPacket":"*\u0001\u0000\u0000\u0000\u0004)"
                                      R"(\u0000\u0000\u0000\u0001"})"));
    EXPECT_EQ(nextEvent(),
              event("LoggedIn",
                    R"({"strUserName":"alice","BuddyList":["[group]Buddies","bob","carl:Carl C"],)"
                    R"("BlockList":["eve"],"PrivateList":["pat"],"MiscData":["zz"],)"
                    R"("strPreferences":"x","PrivacyMode":3})"));
    const std::pair<QByteArray, QByteArray> events[] = {
        {"CHAT_JOIN:77:Lobby:one",
         event("JoinedChat", R"({"strChatName":"Lobby:one","lngChatID":77})")},
        {"CHAT_IN_ENC:77:bob:F:A:en:hi: there",
         event("ChatMessage", R"({"lngChatID":77,"strUserName":"bob","strMessage":"hi: there"})")},
        {"UPDATE_BUDDY2:bob:T:10:1700000000:5: UU:",
         event("BuddyUpdate",
               R"({"strBuddy":"bob","blnOnline":true,"intWarningLevel":10,)"
               R"("lngOnlineTime":1700000000,"lngIdleTime":5,"strUserClass":" UU"})")},
        {"INSERTED2:b:Bobby:bob:Friends",
         event("BuddyAdded", R"({"strGroup":"Friends","strBuddy":"bob","strAlias":"Bobby"})")},
        {"IM_IN_ENC2:bob:F:F:T: O :F:L:en:caf\xe9\x01<b>!</b>",
         event("InstantMessage", R"({"strUserName":"bob","strMessage":"caf\u00e9\u0001<b>!</b>",)"
                                 R"("blnAutoResponse":false,"strUserClass":" O "})")},
        {"EVILED:05:bob", event("Warned", R"({"intWarningLevel":"5","strFromUser":"bob"})")},
        {"ADMIN_PASSWD_STATUS:0", event("PasswordChanged", "{}")},
    };
    for (const auto& [message, expected] : events) {
        peer.send(2, message);
        EXPECT_EQ(nextEvent(), expected) << message.toStdString();
    }

    struct Case {
        QByteArray method;
        QByteArray params;
        QByteArray command;  // the data frame the peer must see; empty: nothing is sent
        QByteArray value = "null";
    };
    const Case calls[] = {
        {"SendIM", R"(["Joe Smith","hi",true])", R"(toc_send_im "joesmith" "hi" auto)"},
        {"SendIM", R"(["bob","x",1])", R"(toc_send_im "bob" "x")"},
        {"SendIM", R"({"strMessage":"\u00e9","AutoResponse":-1,"strUserName":"bob"})",
         "toc_send_im \"bob\" \"\xe9\" auto"},
        {"JoinChat", R"(["  Lobby ",4])", R"(toc_chat_join "4" "Lobby")"},
        {"LeaveChat", R"(["Lobby:one"])", R"(toc_chat_leave "77")"},
        {"LeaveChat", R"(["nowhere",12345])", R"(toc_chat_leave "12345")"},
        {"LeaveChat", R"(["nowhere",null])", ""},
        {"InviteUsers", R"(["Lobby:one","Come","Joe Smith"])",
         R"(toc_chat_invite "77" "Come" "joesmith")"},
        {"AddBuddy", R"(["Friends","Joe Smith"])", "toc2_new_buddies \"g:Friends\nb:Joe Smith\n\""},
        {"RemoveBuddy", R"(["Friends","Joe"])", R"(toc2_remove_buddy "Joe" "Friends")"},
        {"SendPacket", R"([2,"toc_raw x"])", "toc_raw x"},
        {"RemoveHtml", R"(["a>b<c>d<<x>>"])", "", R"("a>bd>")"},
        {"GetChatName", "[77]", "", R"("Lobby:one")"},
        {"LastChatID", "[]", "", "77"},
        {"LastChatID", "[-4]", ""},
        {"LastChatID", "[]", "", "-4"},
    };
    for (const Case& c : calls) {
        bridge.write(request("7", c.method, c.params));
        EXPECT_EQ(bridge.nextLine(), result("7", c.value)) << c.method.toStdString();
        EXPECT_EQ(c.command.isEmpty() ? c.command : peer.readCommand(), c.command)
            << c.method.data();
    }
    // Other frame types go out as given, without the NUL; a stray command would come first.
    bridge.write(request("100", "SendPacket", R"([5,""])"));
    EXPECT_EQ(bridge.nextLine(), result("100"));
    EXPECT_EQ(peer.readFrame(), std::make_pair(5, QByteArray()));

    const auto error = [](const QByteArray& id, int code) {
        return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":)" + QByteArray::number(code);
    };
    const std::pair<QByteArray, QByteArray> cases[] = {
        {R"({"jsonrpc":"2.0","id":1,"method":"SendIM","params":["a","b",)", error("null", -32700)},
        {"42", error("null", -32600)},
        {R"({"id":2,"method":"LogOff"})", error("2", -32600)},
        {request(R"("four")", "logoff", "[]"), error(R"("four")", -32601)},
        {request("5", "SendIM", R"(["a","b"])"), error("5", -32602)},
        {request("7", "SendIM", R"(["a","\u0100",true])"), error("7", -32602)},
        {request("10", "JoinChat", R"(["r",32768])"), error("10", -32602)},
        {request("13", "GetStatus", R"({"strBuddy":"x"})"), error("13", -32602)},
        {request("14", "GetStatus", R"("x")"), error("14", -32602)},
        {request("15", "SetIdleTime", "[35791395]"), error("15", -32000)},
        // Notifications are carried out silently, even when they fail.
        {R"({"jsonrpc":"2.0","method":"NoSuchMember"})", ""},
        {R"({"jsonrpc":"2.0","method":"LastChatID","params":[9]})", ""},
        {"", ""},
        {request("16", "LastChatID", "[]"), result("16", "9")},
    };
    for (const auto& [line, response] : cases) {
        bridge.write(line);
        if (response.isEmpty())
            continue;
        const QByteArray answer = bridge.nextLine().value_or("");
        EXPECT_TRUE(answer.startsWith(response)) << line.toStdString() << " -> " << answer.data();
    }
    // What is queued when LogOff and the end of input come still goes out.
    const QByteArray big(60000, 'y');
    bridge.write(request("2", "SendIM", R"(["bob",")" + big + R"(",false])"));
    bridge.write(request("3", "LogOff"));
    bridge.closeInput();
    EXPECT_EQ(bridge.nextLine(), result("2"));
    EXPECT_EQ(bridge.nextLine(), event("LoggedOut", R"({"strUserName":"alice"})"));
    EXPECT_EQ(bridge.nextLine(), result("3"));
    EXPECT_EQ(peer.readCommand(), R"(toc_send_im "bob" ")" + big + '"');
    EXPECT_TRUE(peer.closedByClient());
    EXPECT_EQ(bridge.waitExit(), 0);
    EXPECT_TRUE(bridge.remainingOutput().isEmpty());
}

TEST(ChatSessionTest, ReportsALostConnectionAndSignsOnAgain) {
    ScriptedPeer peer;
    CliProcess chat(
        {"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user", "alice"});
    chat.write("pw");
    ASSERT_TRUE(peer.serveSignOn("g:Friends\nb:bob:Bobby\ndone:\n"));
    ASSERT_TRUE(chat.lineContaining("Signed on as alice"));
    peer.send(2, "UPDATE_BUDDY2:bob:T:0:1700000000:12: OU:");
    const auto entry = chat.lineContaining("Bobby (bob)").value_or("");
    EXPECT_TRUE(entry.contains("away, idle 12 min")) << entry.data();

    peer.close();
    EXPECT_TRUE(chat.lineContaining("Connection lost"));
    chat.write("/im bob hi");
    EXPECT_TRUE(chat.lineContaining("Not signed on. Type /reconnect"));

    chat.write("/reconnect");
    ASSERT_TRUE(peer.serveSignOn("g:Friends\nb:bob:Bobby\ndone:\n"));
    EXPECT_TRUE(chat.lineContaining("Signed on as alice"));
    chat.write("/im Bob hi (you)");
    EXPECT_EQ(peer.readCommand(), R"j(toc_send_im "bob" "hi \(you\)")j");
    chat.closeInput();
    EXPECT_TRUE(peer.closedByClient());
    EXPECT_EQ(chat.waitExit(), 0);
}

TEST(CommandLineTest, RefusesBadArgumentsAndRegistersTheLibrary) {
    const QStringList cases[] = {
        {"frobnicate"},
        {"chat", "--user", "alice"},
        {"chat", "--server", "127.0.0.1:99999", "--user", "alice"},
        {"chat", "--server", "127.0.0.1", "--user", " "},
        {"chat", "--server", "127.0.0.1", "--user", "alice", "--password-file", "/nonexistent/x"},
    };
    for (const QStringList& args : cases) {
        CliProcess cli(args);
        EXPECT_EQ(cli.waitExit(), 2) << args.join(' ').toStdString();
        EXPECT_FALSE(cli.errorOutput().isEmpty()) << args.join(' ').toStdString();
    }
    // Registration loads the library's entry points as a host does.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("components.ini");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ONDREL_REGISTRY", record);
    CliProcess missing({"register", "--library", dir.filePath("missing.so")}, env);
    EXPECT_EQ(missing.waitExit(), 1);
    EXPECT_TRUE(missing.errorOutput().contains("cannot load"));
    EXPECT_FALSE(QFile::exists(record));
    CliProcess reg({"register"}, env);
    ASSERT_EQ(reg.waitExit(), 0) << reg.errorOutput().toStdString();
    QSettings written(record, QSettings::IniFormat);
    const QString classId = written.value("ProgID/Lantry.Ondrel/CLSID").toString();
    const QString library = written.value("CLSID/" + classId + "/Library").toString();
    EXPECT_TRUE(QFile::exists(library) && library.contains("libondrel")) << library.toStdString();
    CliProcess unreg({"unregister"}, env);
    ASSERT_EQ(unreg.waitExit(), 0) << unreg.errorOutput().toStdString();
    written.sync();
    EXPECT_TRUE(written.allKeys().isEmpty());
}

class ChatTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString(); }

    // A client for `user`; the password comes as the first input line.
    std::unique_ptr<CliProcess> chat(const QByteArray& user, const QByteArray& password) {
        auto client = std::make_unique<CliProcess>(QStringList{
            "chat", "--server", QStringLiteral("127.0.0.1:%1").arg(tocd.port()), "--user", user});
        client->write(password);
        return client;
    }

    TocdProcess tocd;
};

TEST_F(ChatTest, TalksToEchobotAndInARoomAndAnswersBadCommandsWithUsage) {
    QTemporaryFile passwordFile;
    ASSERT_TRUE(passwordFile.open());
    passwordFile.write("s3cret\n");
    passwordFile.flush();
    CliProcess alice({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(tocd.port()), "--user",
                      "Alice", "--password-file", passwordFile.fileName()});
    const QByteArray signedOn = alice.lineContaining("Signed on as alice").value_or("");
    // Time stamps, and no colour codes on a pipe.
    EXPECT_TRUE(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\] ").match(signedOn).hasMatch());
    // A new account starts with echobot on its list, shown by group once signed on.
    EXPECT_TRUE(alice.lineContaining("Buddy list:"));
    EXPECT_TRUE(alice.lineContaining("echobot").value_or("").contains("online"));
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/frob", "Unknown command /frob. Type /help for the list."},
        {"/im", "Usage: /im NAME TEXT"},
        {"/buddies now", "Usage: /buddies"},
        {"/idle soon", "Usage: /idle MINUTES"},
        {"/idle 35791395", "overflow"},
        {"/privacy maybe", "Usage: /privacy all|none|permit|deny|buddies"},
        {"/warn bob loudly", "Usage: /warn NAME [anon]"},
        {"/accept soon", "Usage: /accept [CHAT-ID]"},
        {"/say hi", "You are in no room"},
        {"/r hi", "Nobody has sent you a message yet."},
        {"hello", "No conversation yet"},
        {"/help nope", "Unknown command /nope."},
    };
    for (const auto& [input, answer] : cases) {
        alice.write(input);
        const QByteArray line = alice.nextLine().value_or("");
        EXPECT_TRUE(line.contains(answer)) << input.data() << " -> " << line.data();
    }
    alice.write("/add Friends echobot");
    EXPECT_TRUE(alice.lineContaining("Added echobot to Friends"));
    alice.write("/im echobot hello <b>there</b> (1)");
    EXPECT_TRUE(alice.lineContaining("<EchoBot>").value_or("").endsWith("> hello there (1)"));
    // Replying goes to the last sender; plain text to the last /im partner.
    alice.write("/r second");
    EXPECT_TRUE(alice.lineContaining("<EchoBot> second"));
    alice.write("third");
    EXPECT_TRUE(alice.lineContaining("<EchoBot> third"));

    auto bob = chat("bob", "pw");
    alice.write("/join Den");
    ASSERT_TRUE(alice.lineContaining("You are in Den"));
    bob->write("/join Den");
    ASSERT_TRUE(bob->lineContaining("You are in Den"));
    EXPECT_TRUE(alice.lineContaining("bob is in Den."));
    bob->write("hello <i>all</i>");
    EXPECT_TRUE(alice.lineContaining("[Den]").value_or("").endsWith("[Den] <bob> hello all"));
    bob->write("/leave");
    EXPECT_TRUE(alice.lineContaining("bob left Den."));
    // Out of the room, an invitation brings bob back.
    alice.write("/invite bob come back");
    EXPECT_TRUE(bob->lineContaining("alice invites you to Den: come back"));
    bob->write("/accept");
    EXPECT_TRUE(alice.lineContaining("bob is in Den."));

    alice.write("/quit");
    EXPECT_TRUE(alice.lineContaining("Signed off."));
    EXPECT_EQ(alice.waitExit(), 0);
    EXPECT_FALSE(alice.remainingOutput().contains('\x1b'));
}

// A refused sign-on with the old password shows the server's reason and drops lines typed
// ahead, which otherwise run once signed on.
TEST_F(ChatTest, TypedAheadLinesAndAPasswordChangeAskedForLineByLine) {
    {
        auto dora = chat("dora", "old");
        dora->write("/im echobot typed ahead");
        dora->write("and more");
        EXPECT_TRUE(dora->lineContaining("<EchoBot> typed ahead"));
        EXPECT_TRUE(dora->lineContaining("<EchoBot> and more"));
        dora->write("/passwd");
        dora->write("old");
        dora->write("new");
        EXPECT_TRUE(dora->lineContaining("The server answered the password change."));
        dora->write("/quit");
        EXPECT_EQ(dora->waitExit(), 0);
    }
    auto refused = chat("dora", "old");
    refused->write("/im echobot never");
    const QByteArray failed = refused->lineContaining("Sign-on failed").value_or("");
    EXPECT_TRUE(failed.contains("Invalid account or password")) << failed.data();
    EXPECT_TRUE(refused->lineContaining("Dropped 1 line(s) typed before the sign-on finished."));
    EXPECT_TRUE(chat("dora", "new")->lineContaining("Signed on as dora"));
}

}  // namespace
}  // namespace lantry::testing

// `ondrel` as a process: the bridge against a scripted TOC2 peer and against tocd, the bridge
// as a daemon; argument errors and registration. The terminal client's tests are in
// chat_client_test.cpp.
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "tocd_process.h"

namespace lantry::testing {
namespace {

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

// Run once per text mode; the rows that differ say what each mode makes of the same text.
class BridgeTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BridgeTest, RelaysEventsAndCallsAnswersBadLinesAndSendsWhatIsQueuedAtTheEnd) {
    const bool utf8 = QByteArray(GetParam()) == "utf-8";
    const auto either = [utf8](const QByteArray& inUtf8, const QByteArray& inBytes) {
        return utf8 ? inUtf8 : inBytes;
    };
    ScriptedPeer peer;
    // Frames are checked as they are made, so the pacing that holds a burst back is off here.
    CliProcess bridge({"bridge", "--text", GetParam(), "--pace", "off"});
    const auto nextEvent = [&] {
        auto line = bridge.nextLine();
        while (line && line->contains(R"("method":"IncomingPacket")"))
            line = bridge.nextLine();
        return line.value_or("(no line)");
    };
    bridge.write(request("1", "Login",
                         R"(["Alice","pw","127.0.0.1",)" + QByteArray::number(peer.port()) + "]"));
    ASSERT_EQ(bridge.nextLine(), result("1", R"({"AuthServer":"login.oscar.aol.com"})"));
    ASSERT_TRUE(
        peer.serveSignOn("m:3\ng:Buddies\nb:bob\nb:carl:Carl C\nb:\x1b[2J\xc2\x9b\n"
                         "d:eve\np:pat\npref:x\nzz\ndone:\n"));
    // Every byte outside printable ASCII travels as one \u00XX character.
    EXPECT_EQ(bridge.nextLine(),
              event("IncomingPacket", R"({"strPacket":"*\u0001\u0000\u0000\u0000\u0004)"
                                      R"(\u0000\u0000\u0000\u0001"})"));
    EXPECT_EQ(
        nextEvent(),
        event("LoggedIn",
              R"({"strUserName":"alice","BuddyList":["[group]Buddies","bob","carl:Carl C",")" +
                  either(R"(\u001b[2J\u009b)", R"(\u001b[2J\u00c2\u009b)") +
                  R"("],)"
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
        {"CHAT_IN_ENC:77:bob:F:A:en:\xe6\x97\xa5 \xf0\x9f\x98\x80",
         event("ChatMessage", R"({"lngChatID":77,"strUserName":"bob","strMessage":")" +
                                  either(R"(\u65e5 \ud83d\ude00)",
                                         R"(\u00e6\u0097\u00a5 \u00f0\u009f\u0098\u0080)") +
                                  R"("})")},
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
         either("toc_send_im \"bob\" \"\xc3\xa9\" auto", "toc_send_im \"bob\" \"\xe9\" auto")},
        {"LeaveChat", R"(["nowhere",12345])", R"(toc_chat_leave "12345")"},
        {"LeaveChat", R"(["nowhere",null])", ""},
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
        {request("6", "GetStatus", R"(["a","b"])"), error("6", -32602)},
        {request("7", "RemoveHtml", R"(["\u0100"])"),
         either(result("7", R"("\u0100")"), error("7", -32602))},
        {request("8", "SendIM", R"(["a","\ud800",true])"), error("8", -32602)},
        // An id no answer could carry back as valid text is not echoed.
        {request(R"("\ud800x")", "RemoveHtml", R"(["x"])"), error("null", -32700)},
        {request(R"("\udc00")", "RemoveHtml", R"(["x"])"), error("null", -32700)},
        {request("10", "JoinChat", R"(["r",32768])"), error("10", -32602)},
        {request("13", "GetStatus", R"({"strBuddy":"x"})"), error("13", -32602)},
        {request("14", "GetStatus", R"("x")"), error("14", -32602)},
        {request("15", "SetIdleTime", "[35791395]"), error("15", -32000)},
        // Notifications are carried out silently, even when they fail.
        {R"({"jsonrpc":"2.0","method":"NoSuchMember"})", ""},
        {R"({"jsonrpc":"2.0","method":"LastChatID","params":[9]})", ""},
        {"", ""},
        {request("16", "LastChatID", "[]"), result("16", "9")},
        // Ids come back as they were sent, whatever JSON value they are.
        {request("1.5", "RemoveHtml", R"(["<b>x</b>"])"), result("1.5", R"("x")")},
        {request("-7e2", "RemoveHtml", R"(["y"])"), result("-700", R"("y")")},
        {request(R"("a\"b")", "RemoveHtml", R"(["z"])"), result(R"("a\"b")", R"("z")")},
    };
    for (const auto& [line, response] : cases) {
        bridge.write(line);
        if (response.isEmpty())
            continue;
        const QByteArray answer = bridge.nextLine().value_or("");
        EXPECT_TRUE(answer.startsWith(response)) << line.toStdString() << " -> " << answer.data();
    }
    // Every text field of an event that the server fills, one row each, fed hostile text: every
    // line (IncomingPacket's too) is JSON in printable ASCII and gives the field back, decoded
    // as UTF-8 only where the mode says and the text is UTF-8.
    const std::pair<QByteArray, bool> hostile[] = {
        {"<b>x</b>&amp;\x1b[2J\x1b]0;t\x07\r\n\xc2\x9b\xe2\x80\xae\"\\", true},
        {"caf\xe9\x7f\x9b\"\\u0041", false},
        {QByteArray(1500, 'w') + "\x1b end", false},
    };
    struct Field {
        QByteArray frame;  // with % for the hostile text
        const char* event;
        const char* name;
        const char* shown = "%";  // the field's value around the text
    };
    const Field fields[] = {
        {"NICK:%", "ScreennameFormat", "strFormattedSN"},
        {"UPDATE_BUDDY2:%:T:0:0:0: O :", "BuddyUpdate", "strBuddy"},
        {"UPDATE_BUDDY2:bob:T:0:0:0:%", "BuddyUpdate", "strUserClass"},
        {"BUDDY_CAPS2:%:x", "BuddyCapabilities", "strUserName"},
        {"BUDDY_CAPS2:bob:%", "BuddyCapabilities", "strCaps"},
        {"BART2:%:x", "BuddyBart", "strUserName"},
        {"BART2:bob:%", "BuddyBart", "strBart"},
        {"IM_IN_ENC2:%:F:F:T: O :F:L:en:hi", "InstantMessage", "strUserName"},
        {"IM_IN_ENC2:bob:F:F:T:%:F:L:en:hi", "InstantMessage", "strUserClass"},
        {"IM_IN_ENC2:bob:F:F:T: O :F:L:en:%", "InstantMessage", "strMessage"},
        {"CLIENT_EVENT2:%:2", "TypingStatus", "strUserName"},
        {"CHAT_JOIN:78:%", "JoinedChat", "strChatName"},
        {"CHAT_IN_ENC:78:%:F:A:en:hi", "ChatMessage", "strUserName"},
        {"CHAT_IN_ENC:78:bob:F:A:en:%", "ChatMessage", "strMessage"},
        {"CHAT_UPDATE_BUDDY:78:T:%", "ChatUserUpdate", "strUserName"},
        {"CHAT_INVITE:%:9:bob:hi", "ChatInvite", "strChatName"},
        {"CHAT_INVITE:Den:9:%:hi", "ChatInvite", "strFromUser"},
        {"CHAT_INVITE:Den:9:bob:%", "ChatInvite", "strInviteMessage"},
        {"INSERTED2:b:al:bob:%", "BuddyAdded", "strGroup"},
        {"INSERTED2:b:al:%:G", "BuddyAdded", "strBuddy"},
        {"INSERTED2:b:%:bob:G", "BuddyAdded", "strAlias"},
        {"INSERTED2:g:%", "GroupAdded", "strGroup"},
        {"INSERTED2:p:%", "PrivateBuddyAdded", "strBuddy"},
        {"INSERTED2:d:%", "BuddyBlocked", "strBuddy"},
        {"DELETED2:b:bob:%", "BuddyRemoved", "strGroup"},
        {"DELETED2:b:%:G", "BuddyRemoved", "strBuddy"},
        {"DELETED2:g:%", "GroupRemoved", "strGroup"},
        {"DELETED2:p:%", "PrivateBuddyRemoved", "strBuddy"},
        {"DELETED2:d:%", "BuddyUnblocked", "strBuddy"},
        {"GOTO_URL:profile:%", "UserProfile", "strURL"},
        {"ERROR:913:%", "Error", "strError", "Error code: 913: %"},
        {"EVILED:5:%", "Warned", "strFromUser"},
        {"RVOUS_PROPOSE:%:U:c:1:a:b:c:4443:x", "RendevousRequest", "strUserName"},
        {"RVOUS_PROPOSE:bob:%:c:1:a:b:c:4443:x", "RendevousRequest", "strUUID"},
        {"RVOUS_PROPOSE:bob:U:%:1:a:b:c:4443:x", "RendevousRequest", "strCookie"},
        {"RVOUS_PROPOSE:bob:U:c:1:%:b:c:4443:x", "RendevousRequest", "strRendevousIP"},
        {"RVOUS_PROPOSE:bob:U:c:1:a:%:c:4443:x", "RendevousRequest", "strProposerIP"},
        {"RVOUS_PROPOSE:bob:U:c:1:a:b:%:4443:x", "RendevousRequest", "strVerifiedIP"},
    };
    const auto safe = [](const QByteArray& line) {
        return std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    };
    for (const auto& [text, isUtf8] : hostile) {
        const QString decoded =
            utf8 && isUtf8 ? QString::fromUtf8(text) : QString::fromLatin1(text);
        for (const Field& f : fields) {
            SCOPED_TRACE(f.frame.data());
            peer.send(2, QByteArray(f.frame).replace("%", text));
            QJsonObject notice;
            for (int lines = 0;
                 lines < 2 && notice.value("method").toString() != QLatin1String(f.event);
                 ++lines) {
                const QByteArray line = bridge.nextLine().value_or("");
                EXPECT_TRUE(safe(line)) << line.data();
                QJsonParseError error;
                notice = QJsonDocument::fromJson(line, &error).object();
                EXPECT_EQ(error.error, QJsonParseError::NoError) << line.left(80).data();
            }
            EXPECT_EQ(notice.value("params")[QLatin1String(f.name)].toString(),
                      QString::fromLatin1(f.shown).replace(u'%', decoded));
        }
    }

    // What is queued when LogOff and the end of input come still goes out.
    const QByteArray big(2000, 'y');  // about the most one command may carry
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

INSTANTIATE_TEST_SUITE_P(TextModes, BridgeTest, ::testing::Values("utf-8", "bytes"));

// A bot's burst is held back for the server's rate limit rather than sent to be dropped, every
// call still answers at once, and end of input waits until the last message has gone out.
TEST(BridgePacingTest, ABurstIsHeldBackAndEndOfInputWaitsForIt) {
    ScriptedPeer peer;
    CliProcess bridge({"bridge"});
    bridge.write(request("1", "Login",
                         R"(["bot","pw","127.0.0.1",)" + QByteArray::number(peer.port()) + "]"));
    ASSERT_EQ(bridge.nextLine(), result("1", R"({"AuthServer":"login.oscar.aol.com"})"));
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    for (int i = 0; i < 8; ++i)
        bridge.write(request(QByteArray::number(10 + i), "SendIM",
                             R"(["bob","n)" + QByteArray::number(i) + R"(",false])"));
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(bridge.lineContaining(result(QByteArray::number(10 + i))));
    bridge.closeInput();
    // Six at once and a seventh soon after bring the average to its floor; then one per 4 s.
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(peer.readCommand(), "toc_send_im \"bob\" \"n" + QByteArray::number(i) + '"');
    EXPECT_TRUE(peer.quietFor(2000)) << "the eighth came before the rate limit allows";
    EXPECT_EQ(peer.readCommand(), "toc_send_im \"bob\" \"n7\"");
    EXPECT_TRUE(peer.closedByClient());
    EXPECT_EQ(bridge.waitExit(), 0);
}

// A JSON-RPC client of `ondrel bridge --listen`, with CliProcess's bounded waits.
class DaemonClient {
public:
    explicit DaemonClient(const QString& path) {
        auto* local = new QLocalSocket;
        socket_.reset(local);
        local->connectToServer(path);
        connected_ = local->waitForConnected(5000);
    }
    explicit DaemonClient(quint16 port) {
        auto* tcp = new QTcpSocket;
        socket_.reset(tcp);
        tcp->connectToHost(QHostAddress::LocalHost, port);
        connected_ = tcp->waitForConnected(5000);
    }
    bool connected() const { return connected_; }
    void write(const QByteArray& line) {
        socket_->write(line + '\n');
        while (socket_->bytesToWrite() > 0 && socket_->waitForBytesWritten(5000)) {
        }
    }
    std::optional<QByteArray> nextLine() {
        const QDeadlineTimer deadline(5000);
        while (!socket_->canReadLine() && socket_->waitForReadyRead(deadline.remainingTime())) {
        }
        if (!socket_->canReadLine())
            return std::nullopt;
        return socket_->readLine().chopped(1);
    }
    std::optional<QByteArray> lineContaining(const QByteArray& needle) {
        auto line = nextLine();
        for (int skipped = 0; line && !line->contains(needle) && skipped < 200; ++skipped)
            line = nextLine();
        return line && line->contains(needle) ? line : std::nullopt;
    }
    // True once the bridge has closed the connection and every line it sent has been read.
    bool endsAfterReading() {
        const QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            socket_->readAll();
            const auto* local = qobject_cast<QLocalSocket*>(socket_.get());
            if (local ? local->state() == QLocalSocket::UnconnectedState
                      : static_cast<QTcpSocket*>(socket_.get())->state() ==
                            QAbstractSocket::UnconnectedState)
                return true;
            socket_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
        return false;
    }

private:
    std::unique_ptr<QIODevice> socket_;
    bool connected_ = false;
};

QByteArray errorAnswer(const QByteArray& id, int code) {
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":)" + QByteArray::number(code);
}

// The bridge as a bot uses it, against tocd: its echobot sends every message back as it came.
class BridgeServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString(); }
    QByteArray login(const QByteArray& id, const QByteArray& user) {
        return request(
            id, "Login",
            R"([")" + user + R"(","pw","127.0.0.1",)" + QByteArray::number(tocd.port()) + "]");
    }

    TocdProcess tocd;
};

TEST_F(BridgeServiceTest, ErrorsRaisedByACallAnswerItAndCommandsWithoutASessionAreRefused) {
    CliProcess bridge({"bridge", "--events", "LoggedIn,LoggedOut,Error,InstantMessage"});
    // Nothing is sent, and the answer says why, until LoggedIn; look-ups need no session.
    const std::pair<QByteArray, QByteArray> signedOff[] = {
        {request("1", "SendIM", R"(["echobot","hi",false])"), errorAnswer("1", -32001)},
        {request("2", "SendPacket", R"([2,"toc_get_status echobot"])"), errorAnswer("2", -32001)},
        {request("3", "JoinChat", R"(["room",4])"), errorAnswer("3", -32001)},
        {request("4", "SendIM", R"(["echobot"])"), errorAnswer("4", -32602)},
        {request("5", "RemoveHtml", R"(["<i>x</i>"])"), result("5", R"("x")")},
        {request("6", "Session"), result("6", R"({"state":"signed-off","strUserName":""})")},
    };
    for (const auto& [line, answer] : signedOff) {
        bridge.write(line);
        EXPECT_TRUE(bridge.nextLine().value_or("").startsWith(answer)) << line.data();
    }
    bridge.write(login("7", "Errbot"));
    EXPECT_TRUE(bridge.lineContaining(R"("id":7,"result":{"AuthServer")"));
    EXPECT_TRUE(bridge.lineContaining(R"("method":"LoggedIn")"));
    bridge.write(request("8", "Session"));
    EXPECT_EQ(bridge.nextLine(), result("8", R"({"state":"signed-on","strUserName":"errbot"})"));

    // Refused by the control inside the call: the Error event, then the call's error with the
    // same sentence and code.
    bridge.write(request("9", "SendIM", R"(["echobot",")" + QByteArray(3000, 'y') + R"(",false])"));
    const QByteArray notice = bridge.nextLine().value_or("");
    const QByteArray answer = bridge.nextLine().value_or("");
    ASSERT_TRUE(notice.startsWith(R"({"jsonrpc":"2.0","method":"Error","params":{"intErrorCode":0,)"
                                  R"("strError":")"))
        << notice.data();
    const QByteArray sentence = notice.mid(notice.indexOf(R"("strError":)") + 11).chopped(2);
    EXPECT_TRUE(sentence.contains("2048")) << sentence.data();
    EXPECT_EQ(answer, R"({"jsonrpc":"2.0","id":9,"error":{"code":-32000,"message":)" + sentence +
                          R"(,"data":{"intErrorCode":0}}})");
    // The refusal cost nothing: the next message goes out and comes back.
    bridge.write(request("10", "SendIM", R"(["echobot","still here",false])"));
    EXPECT_EQ(bridge.nextLine(), result("10"));
    EXPECT_TRUE(bridge.lineContaining(R"("strMessage":"still here")"));

    bridge.write(request("11", "LogOff"));
    EXPECT_EQ(bridge.nextLine(), event("LoggedOut", R"({"strUserName":"errbot"})"));
    EXPECT_EQ(bridge.nextLine(), result("11"));
    bridge.write(request("12", "AddBuddy", R"(["Buddies","bob"])"));
    EXPECT_TRUE(bridge.nextLine().value_or("").startsWith(errorAnswer("12", -32001)));
    bridge.closeInput();
    EXPECT_EQ(bridge.waitExit(), 0);
}

// Plain text both ways between a plain bridge and one that speaks HTML, and the events each
// client hears as --events, Subscribe and Unsubscribe set them.
TEST_F(BridgeServiceTest, PlainTextBothWaysAndTheEventsAClientAskedFor) {
    CliProcess plain({"bridge", "--text", "plain", "--events", "LoggedIn,InstantMessage"});
    CliProcess html({"bridge", "--events", "LoggedIn,InstantMessage"});
    plain.write(login("1", "Plainbot"));
    html.write(login("1", "Htmlbot"));
    // Only what was asked for: no ScreennameFormat, BuddyUpdate or IncomingPacket in between.
    // An echo tells that the server has taken the sign-on's end, so messages reach the bot.
    for (CliProcess* bridge : {&plain, &html}) {
        EXPECT_TRUE(bridge->nextLine().value_or("").startsWith(R"({"jsonrpc":"2.0","id":1,)"));
        EXPECT_TRUE(bridge->nextLine().value_or("").contains(R"("method":"LoggedIn")"));
        bridge->write(request("0", "SendIM", R"(["echobot","ready",false])"));
        EXPECT_EQ(bridge->nextLine(), result("0"));
        EXPECT_TRUE(bridge->nextLine().value_or("").contains(R"("strMessage":"ready")"));
    }

    plain.write(request("2", "SendIM", R"(["htmlbot","<3 & <b>\"not bold\"</b>\nnext",false])"));
    EXPECT_EQ(plain.nextLine(), result("2"));
    EXPECT_EQ(
        html.nextLine(),
        event("InstantMessage",
              R"({"strUserName":"plainbot","strMessage":"&lt;3 &amp; &lt;b&gt;&quot;not )"
              R"(bold&quot;&lt;/b&gt;<br>next","blnAutoResponse":false,"strUserClass":" O "})"));
    html.write(request(
        "2", "SendIM",
        R"(["plainbot","<font color=\"red\">caf&eacute; &lt;3</font><BR/>x &#233;&amp;",false])"));
    EXPECT_EQ(html.nextLine(), result("2"));
    EXPECT_EQ(plain.nextLine(),
              event("InstantMessage", R"({"strUserName":"htmlbot","strMessage":"caf\u00e9 <3\nx )"
                                      R"(\u00e9&","blnAutoResponse":false,"strUserClass":" O "})"));

    // The set changes at run time; a list with an unknown name changes nothing.
    const std::pair<QByteArray, QByteArray> changes[] = {
        {request("3", "Subscribe", R"(["IncomingPacket"])"),
         result("3", R"(["LoggedIn","InstantMessage","IncomingPacket"])")},
        {request("4", "Unsubscribe", R"(["InstantMessage","LoggedIn"])"),
         result("4", R"(["IncomingPacket"])")},
        {request("5", "Subscribe", R"(["LoggedOut","Nope"])"), errorAnswer("5", -32602)},
        {request("6", "Subscribe", R"("LoggedOut")"), errorAnswer("6", -32602)},
        {request("7", "Unsubscribe", "[]"), result("7", R"(["IncomingPacket"])")},
    };
    for (const auto& [line, answer] : changes) {
        html.write(line);
        EXPECT_TRUE(html.nextLine().value_or("").startsWith(answer)) << line.data();
    }
    // The frame of the message arrives, its InstantMessage does not.
    plain.write(request("8", "SendIM", R"(["htmlbot","again",false])"));
    EXPECT_EQ(plain.nextLine(), result("8"));
    EXPECT_TRUE(html.lineContaining("IM_IN_ENC2:plainbot:"));
    html.write(request("9", "Session"));
    EXPECT_EQ(html.nextLine(), result("9", R"({"state":"signed-on","strUserName":"htmlbot"})"));
    for (CliProcess* bridge : {&plain, &html}) {
        bridge->closeInput();
        EXPECT_EQ(bridge->waitExit(), 0);
    }
}

TEST_F(BridgeServiceTest, TheDaemonKeepsOneSessionForClientsThatComeGoOrStopReading) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("bridge.sock");
    CliProcess daemon({"bridge", "--pace", "off", "--listen", "unix:" + path});
    ASSERT_TRUE(daemon.errorContaining("listening on unix:"));
    struct stat made {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0600u) << "others may reach the socket";

    std::optional<DaemonClient> first(std::in_place, path);
    DaemonClient second(path);
    ASSERT_TRUE(first->connected() && second.connected());
    second.write(request("1", "Unsubscribe", R"(["IncomingPacket"])"));
    const QByteArray events = second.nextLine().value_or("");
    EXPECT_TRUE(events.startsWith(R"({"jsonrpc":"2.0","id":1,"result":["JoinedChat",)") &&
                events.contains("WinsockError") && !events.contains("IncomingPacket"))
        << events.data();
    first->write(login("1", "Daemonbot"));
    EXPECT_TRUE(first->lineContaining(R"("id":1,"result":{"AuthServer")"));
    // Every client hears the session's events.
    EXPECT_TRUE(first->lineContaining(R"("method":"LoggedIn")"));
    EXPECT_TRUE(second.nextLine().value_or("").contains(R"("method":"ScreennameFormat")"));
    EXPECT_TRUE(second.nextLine().value_or("").contains(R"("method":"LoggedIn")"));
    second.write(request("2", "SendIM", R"(["echobot","from second",false])"));
    EXPECT_TRUE(second.lineContaining(result("2")));
    EXPECT_TRUE(second.lineContaining(R"("strMessage":"from second")"));
    EXPECT_TRUE(first->lineContaining(R"("strMessage":"from second")"));

    // A client that sends and never reads is cut off once its unread answers pass the limit.
    const int stuck = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    const QByteArray pathBytes = QFile::encodeName(path);
    std::memcpy(name.sun_path, pathBytes.constData(), static_cast<std::size_t>(pathBytes.size()));
    ASSERT_EQ(::connect(stuck, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
    const QByteArray big =
        request("0", "RemoveHtml", R"([")" + QByteArray(256 << 10, 'z') + R"("])");
    const int requests = 32;  // 8 MiB of answers, far past the limit and the socket's buffers
    int written = 0;
    for (; written < requests; ++written) {
        const QByteArray line = big + '\n';
        qsizetype at = 0;
        while (at < line.size()) {
            const ssize_t n = ::send(stuck, line.constData() + at,
                                     static_cast<std::size_t>(line.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += n;
        }
        if (at < line.size())
            break;
    }
    ASSERT_TRUE(daemon.errorContaining("cut off"));
    // What reached it is less than was asked for, and then the connection ends.
    qint64 received = 0;
    char chunk[65536];
    for (ssize_t n; (n = ::recv(stuck, chunk, sizeof chunk, 0)) > 0;)
        received += n;
    ::close(stuck);
    EXPECT_LT(received, qint64{requests} * big.size());
    // The others go on; the first leaving does not end the session.
    second.write(request("3", "RemoveHtml", R"(["<b>ok</b>"])"));
    EXPECT_TRUE(second.lineContaining(result("3", R"("ok")")));
    first.reset();
    DaemonClient third(path);
    ASSERT_TRUE(third.connected());
    third.write(request("1", "Session"));
    EXPECT_EQ(third.nextLine(), result("1", R"({"state":"signed-on","strUserName":"daemonbot"})"));
    third.write(request("2", "SendIM", R"(["echobot","from third",false])"));
    EXPECT_TRUE(third.lineContaining(result("2")));
    EXPECT_TRUE(third.lineContaining(R"("strMessage":"from third")"));
    EXPECT_TRUE(second.lineContaining(R"("strMessage":"from third")"));

    // SIGTERM signs off for every client, removes the socket and ends the daemon.
    daemon.terminate();
    EXPECT_TRUE(third.lineContaining(event("LoggedOut", R"({"strUserName":"daemonbot"})")));
    EXPECT_TRUE(second.lineContaining(R"("method":"LoggedOut")"));
    EXPECT_TRUE(third.endsAfterReading());
    EXPECT_EQ(daemon.waitExit(), 0);
    EXPECT_FALSE(QFileInfo::exists(path));
}

// Addresses that others could reach or that belong to something else are refused; TCP on
// loopback works as the socket does.
TEST(BridgeDaemonTest, ListensOnLoopbackOnlyAndLeavesOtherFilesAlone) {
    for (const char* address : {"tcp:0.0.0.0:0", "tcp:192.168.1.1:5000", "tcp:127.0.0.1:70000",
                                "tcp:localhost:0", "unix:", "udp:1"}) {
        CliProcess refused({"bridge", "--listen", address});
        EXPECT_EQ(refused.waitExit(), 2) << address;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("notes.txt");
    QFile notes(file);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("keep") == 4);
    notes.close();
    CliProcess occupied({"bridge", "--listen", "unix:" + file});
    EXPECT_EQ(occupied.waitExit(), 1);
    EXPECT_EQ(QFileInfo(file).size(), 4);

    CliProcess daemon({"bridge", "--listen", "tcp:127.0.0.1:0"});
    const QByteArray said = daemon.errorContaining("listening on tcp:127.0.0.1:").value_or("");
    const QRegularExpressionMatch port = QRegularExpression(":(\\d+)\\n").match(QString(said));
    ASSERT_TRUE(port.hasMatch()) << said.data();
    DaemonClient client(static_cast<quint16>(port.captured(1).toUInt()));
    ASSERT_TRUE(client.connected());
    client.write(request("1", "Session"));
    EXPECT_EQ(client.nextLine(), result("1", R"({"state":"signed-off","strUserName":""})"));
    daemon.terminate();
    EXPECT_TRUE(client.endsAfterReading());
    EXPECT_EQ(daemon.waitExit(), 0);
}

// The longest line the bridge reads is read whole, a byte more is refused: the limit is taken
// from the refusal, so the test follows it.
TEST(BridgeLinesTest, ALineExactlyAtTheLimitIsReadAndOneByteMoreIsRefused) {
    CliProcess bridge({"bridge"});
    const QByteArray call = request("1", "RemoveHtml", R"(["<b>x</b>"])");
    bridge.write(call + QByteArray(16 << 20, ' '));
    const QByteArray refusal = bridge.nextLine().value_or("");
    const QRegularExpression limitSaid(QStringLiteral("line longer than (\\d+) bytes"));
    const auto said = limitSaid.match(QString::fromLatin1(refusal));
    ASSERT_TRUE(said.hasMatch()) << refusal.data();
    const qsizetype limit = said.captured(1).toLongLong();
    for (const qsizetype size : {limit, limit + 1}) {
        bridge.write(call + QByteArray(size - call.size(), ' '));
        const QByteArray answer = bridge.nextLine().value_or("");
        EXPECT_EQ(answer.startsWith(result("1", R"("x")")), size == limit)
            << size << ": " << answer.left(120).data();
    }
}

TEST(CommandLineTest, RefusesBadArgumentsAndRegistersTheLibrary) {
    const QStringList cases[] = {
        {"frobnicate"},
        {"bridge", "--text", "latin9"},
        {"bridge", "--pace", "sometimes"},
        {"chat", "--server", "127.0.0.1", "--user", "alice", "--pace"},
        {"chat", "--server", "127.0.0.1", "--user", "alice", "--reconnect=often"},
        {"chat", "--server", "", "--user", "alice"},
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

}  // namespace
}  // namespace lantry::testing

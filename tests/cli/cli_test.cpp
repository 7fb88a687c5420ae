// `ondrel` as a process: the bridge against a scripted TOC2 peer; argument errors and
// registration. The terminal client's tests are in chat_client_test.cpp.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cli_process.h"

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
        // Not UTF-8, so Latin-1 in both modes.
        {"IM_IN_ENC2:bob:F:F:T: O :F:L:en:caf\xe9\x01<b>!</b>",
         event("InstantMessage", R"({"strUserName":"bob","strMessage":"caf\u00e9\u0001<b>!</b>",)"
                                 R"("blnAutoResponse":false,"strUserClass":" O "})")},
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
    };
    for (const auto& [line, response] : cases) {
        bridge.write(line);
        if (response.isEmpty())
            continue;
        const QByteArray answer = bridge.nextLine().value_or("");
        EXPECT_TRUE(answer.startsWith(response)) << line.toStdString() << " -> " << answer.data();
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

TEST(CommandLineTest, RefusesBadArgumentsAndRegistersTheLibrary) {
    const QStringList cases[] = {
        {"frobnicate"},
        {"bridge", "--text", "latin9"},
        {"bridge", "--pace", "sometimes"},
        {"chat", "--server", "127.0.0.1", "--user", "alice", "--pace"},
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

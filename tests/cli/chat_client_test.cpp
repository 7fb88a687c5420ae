// `ondrel chat` as a process (pipes, no terminal) against a scripted peer where exact server
// texts matter, and against a private tocd.
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <algorithm>

#include "cli_process.h"
#include "real_server_recording.h"
#include "tocd_process.h"

namespace lantry::testing {
namespace {

qsizetype linesWith(const QByteArrayList& lines, const QByteArray& needle) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const QByteArray& line) { return line.contains(needle); });
}

// Exact server texts: what reaches the terminal, errors beside their commands, answers that
// settle a command, and a second sign-on with a changed password.
TEST(ChatSessionTest, ShowsServerTextSafelyAndAnswersEachCommandBesideIt) {
    ScriptedPeer peer;
    // The peer has no rate limit, and its answers are what this test is about.
    CliProcess chat({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user",
                     "alice", "--pace", "off"});
    chat.write("pw");
    ASSERT_TRUE(peer.serveSignOn("m:1\ng:Friends\nb:bob:Bobby\nb:carolyn\ndone:\n"));
    ASSERT_TRUE(chat.lineContaining("Signed on as alice"));
    peer.send(2, "UPDATE_BUDDY2:bob:T:0:1700000000:12: OU:");
    const auto bobRow = chat.lineContaining("Bobby (bob)").value_or("");
    const auto carolynRow = chat.nextLine().value_or("");
    EXPECT_TRUE(bobRow.contains("away, idle 12 min")) << bobRow.data();
    EXPECT_EQ(bobRow.indexOf("away"), carolynRow.indexOf("offline")) << carolynRow.data();
    // Once the list is shown, a line for each change, none for an update that changes nothing.
    for (const char* userClass : {" O ", " O ", " OU"})
        peer.send(2, QByteArray("UPDATE_BUDDY2:carolyn:T:0:1700000000:0:") + userClass + ':');
    EXPECT_EQ(linesWith(chat.linesThrough("carolyn is away."), "carolyn is "), 2);

    // Latin-1 from an older client, a forged line, a window title, a C1 control; UTF-8 as is,
    // but for a right-to-left override (raw or as a reference) that would reverse the line.
    const std::pair<QByteArray, QByteArray> messages[] = {
        {"caf\xe9 &amp; <b>x</b>\n[12:00:00] <eve> hi\x1b]0;title\x07\x9b",
         "<bob> caf\xc3\xa9 & x^J[12:00:00]  hi^[]0;title^GM-^["},
        {"\xe2\x82\xac 5 &#233; \xe2\x80\xae"
         "fdp.exe &#x202e;",
         "<bob> \xe2\x82\xac 5 \xc3\xa9 <U+202E>fdp.exe <U+202E>"},
        // Characters that draw nothing, shown like the other format characters.
        {"a\xe2\x80\x8b"
         "b\xef\xbb\xbf\xe2\x81\xa0\xc2\xad\xcd\x8f\xf3\xa0\x81\x81\xe1\x85\x9f&#x200B;",
         "<bob> a<U+200B>b<U+FEFF><U+2060><U+00AD><U+034F><U+E0041><U+115F><U+200B>"},
    };
    for (const auto& [message, shown] : messages) {
        peer.send(2, "IM_IN_ENC2:bob:F:F:T: O :F:L:en:" + message);
        const QByteArray line = chat.lineContaining("<bob>").value_or("");
        EXPECT_TRUE(line.endsWith(shown)) << line.data();
    }
    // Line breaks of the markup: each further line marked as the message's own, so that none
    // passes for a message of its own; HTML 4's named references decoded.
    peer.send(2,
              "IM_IN_ENC2:bob:F:F:T: O :F:L:en:one<BR>two<p align=\"left\">caf&eacute; "
              "&hellip;&Omega;<hr><li>[12:00:00] &lt;eve&gt; hi</li><br>\n<br>");
    const QByteArrayList broken = chat.linesThrough("<eve>");
    ASSERT_GE(broken.size(), 4);
    EXPECT_TRUE(broken[broken.size() - 4].endsWith("<bob> one")) << broken.join('|').data();
    EXPECT_EQ(broken.mid(broken.size() - 3),
              (QByteArrayList{"           \xe2\x86\xb3 two",
                              "           \xe2\x86\xb3 caf\xc3\xa9 \xe2\x80\xa6\xce\xa9",
                              "           \xe2\x86\xb3 [12:00:00] <eve> hi"}));
    peer.send(2, "CHAT_JOIN:5:Den");
    EXPECT_TRUE(chat.lineContaining("You are in Den (chat 5)"));

    // Typed Latin-1 goes out as UTF-8; a stray Ctrl-L does not make the command plain text.
    chat.write("\x0c/im bob caf\xe9");
    EXPECT_EQ(peer.readCommand(), "toc_send_im \"bob\" \"caf\xc3\xa9\"");
    QByteArray longText;
    for (int i = 0; i < 1000; ++i)
        longText += "word ";
    chat.write("/im bob " + longText);
    QByteArray received;
    for (int part = 0; part < 3; ++part) {
        const QByteArray command = peer.readCommand();
        EXPECT_LE(command.size() + 1, 2048);
        ASSERT_TRUE(command.startsWith("toc_send_im \"bob\" \"")) << command.left(40).data();
        received += command.mid(19).chopped(1);
    }
    EXPECT_EQ(received, longText);
    EXPECT_TRUE(chat.lineContaining("(sent in 3 parts)"));
    // Past what a server takes at once, nothing goes out.
    chat.write("/im bob " + longText.repeated(5));
    EXPECT_TRUE(chat.lineContaining("/im bob: the text is too long: it would take 13 messages"));

    chat.write("/join \"My Room\"");
    EXPECT_EQ(peer.readCommand(), "toc_chat_join \"4\" \"My Room\"");
    peer.send(2, "CHAT_JOIN:6:My Room");
    EXPECT_TRUE(chat.lineContaining("You are in My Room"));
    const std::pair<QByteArray, QByteArray> sent[] = {
        {"/add Friends \"Alice Ux\"", "toc2_new_buddies \"g:Friends\nb:Alice Ux\n\""},
        {"/add \"Old Pals\" carol", "toc2_new_buddies \"g:Old Pals\nb:carol\n\""},
        {"/block eve", "toc2_add_deny \"eve\""},
        {"", "toc2_set_pdmode 4"},
        {"/privacy permit-list", "toc2_set_pdmode 3"},
        {"/privacy 4", "toc2_set_pdmode 4"},
    };
    for (const auto& [input, command] : sent) {
        if (!input.isEmpty())
            chat.write(input);
        EXPECT_EQ(peer.readCommand(), command) << input.data();
    }
    chat.write("/privacy");
    EXPECT_TRUE(chat.lineContaining("Privacy: block-list (everyone but the people on your block"));
    // Once the current room is left, plain text goes to the room still joined, not the one left.
    chat.write("/leave");
    EXPECT_EQ(peer.readCommand(), "toc_chat_leave \"6\"");
    peer.send(2, "CHAT_LEFT:6");
    EXPECT_TRUE(chat.lineContaining("You left My Room."));
    chat.write("still there?");
    EXPECT_EQ(peer.readCommand(), "toc_chat_send \"5\" \"still there?\"");
    // An IM from a room takes plain text to the person, until /say talks in the room again.
    const std::pair<QByteArray, QByteArray> plain[] = {
        {"/im bob psst", "toc_send_im \"bob\" \"psst\""},
        {"more", "toc_send_im \"bob\" \"more\""},
        {"/say back", "toc_chat_send \"5\" \"back\""},
        {"and on", "toc_chat_send \"5\" \"and on\""},
    };
    for (const auto& [input, command] : plain) {
        chat.write(input);
        EXPECT_EQ(peer.readCommand(), command) << input.data();
    }
    // Every field of an invitation is shown as text; its line breaks are marked as its own.
    peer.send(2,
              "CHAT_INVITE:Den\x1b[2J:9:ev\x1b]0;t\x07"
              "e:come<br>[12:00:00] &lt;mallory&gt; hi \xe2\x80\xae");
    const QByteArray invite = chat.lineContaining("invites you to").value_or("");
    EXPECT_TRUE(invite.contains("ev^[]0;t^Ge invites you to Den^[[2J: come")) << invite.data();
    const QByteArray inviteRest = chat.nextLine().value_or("");
    EXPECT_TRUE(inviteRest.startsWith("           \xe2\x86\xb3 [12:00:00] <mallory> hi <U+202E>"))
        << inviteRest.data();

    // A port nothing listens on, for a profile page that cannot be fetched.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    // Each answer comes after the commands the client sent for the line.
    const struct {
        QByteArray input;
        int commands;
        QByteArrayList answers;
        QByteArray shown;
    } answered[] = {
        {"/accept 99", 1, {"ERROR:950:99"}, "/accept 99: there is no invitation to room 99."},
        {"/nick Bob", 1, {"ERROR:911"}, "/nick Bob: only capital letters and blanks may change."},
        {"/warn bob", 2, {"ERROR:902:bob", "ERROR:901:bob"}, "/warn bob: refused: "},
        {"/warn bob anon",
         2,
         {"UPDATE_BUDDY2:bob:T:10:1700000000:12: OU:"},
         "bob's warning level is now 10%."},
        {"/status bob",
         1,
         {"UPDATE_BUDDY2:bob:T:10:1700000000:12: OU:"},
         "bob is away, idle 12 min, warning 10%."},
        {"/status zed", 1, {"ERROR:901:zed"}, "/status zed: zed is not online."},
        {"/status quiet", 1, {}, "quiet: unknown; the server did not answer."},
        {"/passwd pw new", 1, {"ADMIN_PASSWD_STATUS:0"}, "Password changed."},
        {"/info bob",
         1,
         {"GOTO_URL:profile:http://127.0.0.1:" + QByteArray::number(closedPort) + "/profile/bob"},
         "/info bob: the profile could not be fetched: "},
        {"/nick Alice",
         1,
         {"ADMIN_NICK_STATUS:0", "NICK:Alice"},
         "Screen name now shows as Alice."},
    };
    for (const auto& a : answered) {
        chat.write(a.input);
        for (int i = 0; i < a.commands; ++i)
            EXPECT_FALSE(peer.readCommand().isEmpty()) << a.input.data();
        for (const QByteArray& answer : a.answers)
            peer.send(2, answer);
        const QByteArrayList lines = chat.linesThrough(a.shown);
        ASSERT_FALSE(lines.isEmpty()) << a.input.data() << " did not show " << a.shown.data();
        // One line answers the command: a refused warning shows no status and no level.
        EXPECT_EQ(linesWith(lines, "/"), a.shown.startsWith('/') ? 1 : 0) << a.input.data();
        EXPECT_EQ(linesWith(lines, "warning level"), a.shown.contains("level") ? 1 : 0);
    }

    // Profile addresses a hostile server names: nothing is fetched that nobody asked for, nor
    // from another host (scheme-relative too), nor through a redirect to another host.
    QTcpServer web, elsewhere;
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
    ASSERT_TRUE(elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    const QByteArray admin = "http://127.0.0.1:" + QByteArray::number(web.serverPort()) + "/admin";
    const QByteArray other = "//127.0.0.2:" + QByteArray::number(elsewhere.serverPort()) + "/p";
    peer.send(2, "GOTO_URL:profile:" + admin);
    EXPECT_TRUE(
        chat.lineContaining("profile address nobody asked for; it is not fetched: " + admin));
    EXPECT_FALSE(web.waitForNewConnection(300));
    chat.write("/info bob");
    EXPECT_EQ(peer.readCommand(), "toc_get_info \"bob\"");
    peer.send(2, "GOTO_URL:profile:" + other);
    EXPECT_TRUE(
        chat.lineContaining("/info bob: the profile is on another host than the "
                            "server's; not fetched: http:" +
                            other));
    chat.write("/info bob");
    EXPECT_EQ(peer.readCommand(), "toc_get_info \"bob\"");
    peer.send(2, "GOTO_URL:profile:" + admin);
    ASSERT_TRUE(web.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> get(web.nextPendingConnection());
    QByteArray asked;
    while (!asked.contains("\r\n\r\n") && get->waitForReadyRead(5000))
        asked += get->readAll();
    EXPECT_TRUE(asked.startsWith("GET /admin ")) << asked.data();
    get->write("HTTP/1.1 302 Found\r\nLocation: http:" + other + "\r\nContent-Length: 0\r\n\r\n");
    get->waitForBytesWritten(5000);
    EXPECT_TRUE(chat.lineContaining("/info bob: the profile could not be fetched: "));
    EXPECT_FALSE(elsewhere.waitForNewConnection(300));
    // Real servers answer 404 for someone offline; the address, cookie and all, stays unshown.
    chat.write("/info carol");
    EXPECT_EQ(peer.readCommand(), "toc_get_info \"carol\"");
    peer.send(2, "GOTO_URL:profile:" + admin + "?cookie=c00c1e&user=carol");
    ASSERT_TRUE(web.waitForNewConnection(5000));
    get.reset(web.nextPendingConnection());
    for (asked.clear(); !asked.contains("\r\n\r\n") && get->waitForReadyRead(5000);)
        asked += get->readAll();
    get->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    get->waitForBytesWritten(5000);
    EXPECT_EQ(chat.lineContaining("/info carol:").value_or("").mid(11),
              "/info carol: carol is not online, so the server shows no profile.");

    peer.close();
    EXPECT_TRUE(chat.lineContaining("Connection lost"));
    chat.write("/im bob hi");
    EXPECT_TRUE(chat.lineContaining("Not signed on. Type /reconnect"));
    // The new password: "new" roasted.
    chat.write("/reconnect");
    ASSERT_TRUE(peer.serveSignOn("g:Friends\nb:bob:Bobby\ndone:\n"));
    EXPECT_TRUE(peer.login().contains(" alice 0x3a0c14 ")) << peer.login().data();
    EXPECT_TRUE(chat.lineContaining("Signed on as alice"));
    // The room it was in is entered again, under the name the server gave it.
    EXPECT_EQ(peer.readCommand(), "toc_chat_join \"4\" \"Den\"");
    EXPECT_TRUE(chat.lineContaining("Joining Den ..."));
    peer.send(2, "CHAT_JOIN:9:Den");
    // The list the server gave this sign-on, once: nothing of the last one is kept twice.
    EXPECT_TRUE(chat.lineContaining("Bobby (bob)"));
    chat.write("/buddies");
    chat.write("/privacy");
    EXPECT_EQ(linesWith(chat.linesThrough("Privacy:"), "Bobby (bob)"), 1);
    chat.write("/im Bob hi (you)");
    EXPECT_EQ(peer.readCommand(), R"j(toc_send_im "bob" "hi \(you\)")j");
    chat.closeInput();
    EXPECT_EQ(peer.readCommand(), "toc_get_status \"alice\"");
    peer.send(2, "UPDATE_BUDDY2:alice:T:0:1700000000:0: O :");
    EXPECT_TRUE(peer.closedByClient());
    EXPECT_EQ(chat.waitExit(), 0);
    EXPECT_FALSE(chat.remainingOutput().contains('\x1b'));
}

// Every field the terminal client prints from the wire, one row each, fed hostile text: each
// shows whole as text (controls in caret notation, markup as typed but in messages, a line end
// that cannot start a line of its own, characters that reverse the line as signs, bytes that
// are not UTF-8 as Latin-1), and no line carries a control character.
TEST(ChatSessionTest, EveryFieldFromTheServerIsPrintedAsText) {
    struct Hostile {
        QByteArray wire, asName, asMessage;
    };
    const Hostile hostile[] = {
        {"<b>x</b>&amp;\x1b[2J\x1b]0;t\x07\r\n\xc2\x9b\xe2\x80\xae",
         "<b>x</b>&amp;^[[2J^[]0;t^G^M^JM-^[<U+202E>", "x&^[[2J^[]0;t^G^M^JM-^[<U+202E>"},
        {"caf\xe9\x7f\x9b", "caf\xc3\xa9^?M-^[", "caf\xc3\xa9^?M-^["},
        {QByteArray(1500, 'w') + "\x1b end", QByteArray(1500, 'w') + "^[ end",
         QByteArray(1500, 'w') + "^[ end"},
    };
    // The frame and the line, with %n where the field is shown as a name, %m as a message.
    const std::pair<QByteArray, QByteArray> rows[] = {
        {"NICK:%", "Screen name now shows as %n."},
        {"UPDATE_BUDDY2:%:T:0:1700000000:0: O :", "%n is online."},
        {"IM_IN_ENC2:%:F:F:T: O :F:L:en:hi", "<%n> hi"},
        {"IM_IN_ENC2:bob:F:F:T: O :F:L:en:%", "<bob> %m"},
        {"CLIENT_EVENT2:%:2", "%n is typing ..."},
        {"CHAT_JOIN:5:%", "You are in %n (chat 5)."},
        {"CHAT_IN_ENC:5:%:F:A:en:hi", "<%n> hi"},
        {"CHAT_IN_ENC:5:bob:F:A:en:%", "<bob> %m"},
        {"CHAT_UPDATE_BUDDY:5:T:%", "%n is in %n."},
        {"CHAT_LEFT:5", "You left %n."},
        {"CHAT_INVITE:%:9:bob:hi", "bob invites you to %n: hi"},
        {"CHAT_INVITE:Den:9:%:hi", "%n invites you to Den: hi"},
        {"CHAT_INVITE:Den:9:bob:%", "bob invites you to Den: %m"},
        {"INSERTED2:g:%", "Group %n added."},
        {"INSERTED2:b:al:%:G", "Buddy %n added to G."},
        {"INSERTED2:b:al:bob:%", "Buddy bob added to %n."},
        {"DELETED2:b:%:G", "Buddy %n removed from G."},
        {"DELETED2:b:bob:%", "Buddy bob removed from %n."},
        {"DELETED2:g:%", "Group %n removed."},
        {"INSERTED2:p:%", "%n added to your permit list."},
        {"DELETED2:p:%", "%n removed from your permit list."},
        {"INSERTED2:d:%", "%n blocked."},
        {"DELETED2:d:%", "%n unblocked."},
        {"GOTO_URL:profile:%", "nobody asked for; it is not fetched: %n"},
        {"ERROR:901:%", "%n is not available (error 901)"},
        {"ERROR:913:%", "Error code: 913: %n (error 913)"},
        {"EVILED:5:%", "You were warned by %n; your warning level is now 5%."},
        {"RVOUS_PROPOSE:%:U:c:1:1.2.3.4:5.6.7.8:9.9.9.9:4443:x", "%n proposes a direct"},
        {"RVOUS_PROPOSE:bob:%:c:1:1.2.3.4:5.6.7.8:9.9.9.9:4443:x", "connection (%n); this"},
    };
    const auto controlFree = [](const QByteArrayList& lines) {
        return std::none_of(lines.begin(), lines.end(), [](const QByteArray& line) {
            return std::any_of(line.begin(), line.end(),
                               [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7f; }) ||
                   line.contains("\xc2\x9b") || line.contains("\xe2\x80\xae");
        });
    };
    ScriptedPeer peer;
    CliProcess chat({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user",
                     "alice", "--pace", "off"});
    chat.write("pw");
    // The stored list: a list line ends each entry, so its names hold no line end.
    const QByteArray listed = "<b>x</b>&amp;\x1b[2J\x07\xc2\x9b\xe2\x80\xae";
    const QByteArray shown = "<b>x</b>&amp;^[[2J^GM-^[<U+202E>";
    ASSERT_TRUE(peer.serveSignOn("g:" + listed + "g\nb:" + listed + "n:" + listed + "a\ndone:\n"));
    const QByteArrayList list = chat.linesThrough(" (" + shown + "n)  offline");
    ASSERT_GE(list.size(), 2);
    EXPECT_TRUE(list[list.size() - 2].endsWith("  " + shown + "g"));
    EXPECT_TRUE(list.last().endsWith("    " + shown + "a (" + shown + "n)  offline"));
    EXPECT_TRUE(controlFree(list));
    for (const Hostile& text : hostile) {
        for (const auto& [frame, line] : rows) {
            QByteArray expected = line;
            expected.replace("%n", text.asName).replace("%m", text.asMessage);
            peer.send(2, QByteArray(frame).replace("%", text.wire));
            const QByteArrayList lines = chat.linesThrough(expected);
            ASSERT_FALSE(lines.isEmpty())
                << frame.data() << " did not show as " << expected.left(80).data();
            EXPECT_TRUE(controlFree(lines)) << frame.data();
        }
    }
}

// What a real server sends (its frames, from the recording): the first room of a session is
// room 0, and it is entered, talked in, invited to, left and entered again like any other;
// lines after /accept wait for the room; a burst is queued, not dropped, and /quit waits for it.
TEST(ChatSessionTest, RoomZeroWaitingLinesAndABurstAgainstARealServersFrames) {
    const auto recording = readRecording(ONDREL_RECORDING);
    const auto real = [&](std::string_view prefix) {
        return QByteArray::fromStdString(recordedServerText(recording, "B", prefix));
    };
    ScriptedPeer peer;
    CliProcess chat({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user",
                     "benrec2953"});
    chat.write("pw");
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    ASSERT_TRUE(chat.lineContaining("Signed on as benrec2953"));
    peer.send(2, real("CHAT_INVITE:"));
    EXPECT_TRUE(chat.lineContaining("annrec2953 invites you to Room One: come in"));

    chat.write("/accept");
    chat.write("hi room: all");
    EXPECT_EQ(peer.readCommand(), "toc_chat_accept \"0\"");
    EXPECT_TRUE(peer.quietFor(300)) << "the text went out before the room was entered";
    peer.send(2, real("CHAT_JOIN:0:"));
    peer.send(2, real("CHAT_UPDATE_BUDDY:0:T:"));
    EXPECT_EQ(peer.readCommand(), "toc_chat_send \"0\" \"hi room: all\"");
    peer.send(2, real("CHAT_IN_ENC:0:benrec2953:"));
    EXPECT_TRUE(chat.lineContaining("[Room One] <benrec2953> hi room: all"));
    chat.write("/invite annrec2953 come back");
    EXPECT_EQ(peer.readCommand(), "toc_chat_invite \"0\" \"come back\" \"annrec2953\"");
    chat.write("/leave");
    EXPECT_EQ(peer.readCommand(), "toc_chat_leave \"0\"");
    peer.send(2, real("CHAT_LEFT:0"));
    EXPECT_TRUE(chat.lineContaining("You left Room One."));
    for (int join = 0; join < 2; ++join) {
        chat.write("/join \"Room One\"");
        EXPECT_EQ(peer.readCommand(), "toc_chat_join \"4\" \"Room One\"");
        peer.send(2, real("CHAT_JOIN:0:"));
    }
    chat.write("/rooms");
    const QByteArrayList rooms = chat.linesThrough("<- current");
    EXPECT_EQ(linesWith(rooms, "  Room One (chat 0)"), 1);

    // Two messages went out already; four more pass at once, the last two wait their turn.
    for (int i = 0; i < 6; ++i)
        chat.write("/im annrec2953 burst " + QByteArray::number(i));
    chat.write("/quit");
    chat.closeInput();
    EXPECT_TRUE(chat.lineContaining("queued for the server's rate limit"));
    EXPECT_TRUE(chat.lineContaining("Waiting for 2 queued commands to go out"));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(peer.readCommand(),
                  "toc_send_im \"annrec2953\" \"burst " + QByteArray::number(i) + '"');
    // Its own status, asked last: once it is answered, every earlier refusal has come.
    EXPECT_EQ(peer.readCommand(), "toc_get_status \"benrec2953\"");
    peer.send(2, real("UPDATE_BUDDY2:annrec2953:").replace("annrec2953", "benrec2953"));
    EXPECT_TRUE(chat.lineContaining("Every queued command has gone out."));
    EXPECT_EQ(chat.waitExit(), 0);
}

// Scripts: the exit status says how the session ended, and no prompt is printed on a pipe.
// A person at a terminal who loses the server is signed on again, in the rooms and away as
// before; a busy server's refusal is tried again, a refused password is not.
TEST(ChatSessionTest, SignsOnAgainByItselfAfterALossUntilThePasswordIsRefused) {
    ScriptedPeer peer;
    CliProcess chat({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user",
                     "alice", "--pace", "off", "--reconnect", "on"});
    chat.write("pw");
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    chat.write("/join Den");
    EXPECT_EQ(peer.readCommand(), "toc_chat_join \"4\" \"Den\"");
    peer.send(2, "CHAT_JOIN:7:Den");
    chat.write("/away gone fishing");
    EXPECT_EQ(peer.readCommand(), "toc_set_away \"gone fishing\"");

    peer.close();
    EXPECT_TRUE(chat.lineContaining("Connection lost"));
    // A random part of a bound that doubles from 1 s, to a tenth (so 0.95 s prints as "1.0").
    const QByteArray first = chat.lineContaining("Reconnecting in ").value_or("");
    EXPECT_TRUE(QString(first).contains(QRegularExpression("in (0\\.[0-9]|1\\.0) s")))
        << first.data();
    ASSERT_TRUE(peer.refuseSignOn("ERROR:983"));
    EXPECT_TRUE(chat.lineContaining("Sign-on failed"));
    const QByteArray next = chat.lineContaining("Reconnecting in ").value_or("");
    EXPECT_TRUE(QString(next).contains(QRegularExpression("in ([01]\\.[0-9]|2\\.0) s")))
        << next.data();
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    EXPECT_EQ(peer.readCommand(), "toc_chat_join \"4\" \"Den\"");
    EXPECT_EQ(peer.readCommand(), "toc_set_away \"gone fishing\"");
    EXPECT_TRUE(chat.lineContaining("You are still away: gone fishing"));

    // The password changed elsewhere: no attempt follows the refusal.
    peer.close();
    ASSERT_TRUE(peer.refuseSignOn("ERROR:980"));
    EXPECT_TRUE(chat.lineContaining("Type /reconnect to sign on again."));
    EXPECT_FALSE(peer.connectionComes(2500));
    chat.closeInput();
    EXPECT_EQ(chat.waitExit(), 3);
}

TEST(ChatSessionTest, ExitStatusSaysWhetherTheServerWasLostOrNeverReached) {
    ScriptedPeer peer;
    CliProcess lost(
        {"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user", "alice"});
    lost.write("pw");
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    ASSERT_TRUE(lost.lineContaining("Signed on as alice"));
    // Messages still queued when the server goes are counted, not sent later.
    for (int i = 0; i < 8; ++i)
        lost.write("/im bob " + QByteArray::number(i));
    EXPECT_TRUE(lost.lineContaining("2 commands queued"));
    peer.close();
    const QByteArray gone = lost.lineContaining("Connection lost").value_or("");
    EXPECT_TRUE(gone.contains("2 commands waiting to be sent were not sent")) << gone.data();
    lost.closeInput();
    EXPECT_EQ(lost.waitExit(), 5);
    EXPECT_EQ(lost.errorOutput(), "");

    // A message the server refuses makes a script's run a failure, and says so.
    CliProcess refused(
        {"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user", "alice"});
    refused.write("pw");
    ASSERT_TRUE(peer.serveSignOn("done:\n"));
    refused.write("/im nobody hi");
    EXPECT_EQ(peer.readCommand(), "toc_send_im \"nobody\" \"hi\"");
    peer.send(2, "ERROR:901:nobody");
    EXPECT_TRUE(refused.lineContaining("nobody is not online"));
    refused.closeInput();
    EXPECT_TRUE(refused.lineContaining("1 line was refused by the server or not sent."));
    EXPECT_EQ(refused.waitExit(), 6);

    quint16 freePort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        freePort = probe.serverPort();
    }
    CliProcess unreachable(
        {"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(freePort), "--user", "alice"});
    unreachable.write("pw");
    unreachable.closeInput();
    EXPECT_TRUE(unreachable.lineContaining("Could not sign on"));
    EXPECT_EQ(unreachable.waitExit(), 4);

    // Without --server, where tocd listens by default (a name no server accepts: nothing is made
    // on whatever listens there).
    CliProcess local({"chat", "--user", "9default"});
    local.write("pw");
    local.closeInput();
    EXPECT_TRUE(local.lineContaining("Connecting to 127.0.0.1:5190 as 9default"));
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
    // A new account starts with echobot on its list, shown by group once signed on. Whether its
    // presence beat the list's short delay depends on load, so the online state is read from a
    // list asked for after a status answer, which the server sends after sign-on's presence.
    EXPECT_TRUE(alice.lineContaining("Buddy list:"));
    EXPECT_TRUE(alice.lineContaining("    echobot"));
    alice.write("/status echobot");
    EXPECT_TRUE(alice.lineContaining("EchoBot is online."));
    alice.write("/buddies");
    EXPECT_TRUE(alice.lineContaining("Buddy list:"));
    EXPECT_TRUE(alice.lineContaining("    echobot").value_or("").contains("online"));
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/frob", "Unknown command /frob. Type /help for the list."},
        {"/im", "Usage: /im NAME TEXT"},
        {"/buddies now", "Usage: /buddies"},
        {"/idle soon", "Usage: /idle MINUTES"},
        {"/idle 35791395", "too many minutes"},
        {"/idle -5", "/idle -5: minutes start at 0"},
        {"/privacy maybe", "Usage: /privacy allow-all|block-all|permit-list|block-list|buddies"},
        {"/caps nope", "/caps nope: a capability is a UUID"},
        {"/leave Nowhere", "/leave Nowhere: you are not in a room of that name"},
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
    EXPECT_TRUE(alice.lineContaining("Adding echobot to Friends ..."));
    // What is known, even when nothing changed; the profile page the server points to.
    alice.write("/status echobot");
    EXPECT_TRUE(alice.lineContaining("EchoBot is online."));
    alice.write("/info echobot");
    EXPECT_TRUE(alice.lineContaining("Profile (echobot):"));
    EXPECT_TRUE(alice.lineContaining("I answer every message with the same text."));
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

    // Away: the first message from each person gets the away message, a second one does not,
    // and an away message is never the answer to one: two people away would answer forever.
    alice.write("/away gone fishing");
    EXPECT_TRUE(alice.lineContaining("You are away"));
    bob->write("/away at sea");
    EXPECT_TRUE(bob->lineContaining("You are away"));
    bob->write("/im alice one");
    EXPECT_TRUE(bob->lineContaining("<alice> (auto) gone fishing"));
    bob->write("/im alice two");
    const QByteArrayList untilTwo = alice.linesThrough("<bob> two");
    ASSERT_FALSE(untilTwo.isEmpty());
    EXPECT_EQ(linesWith(untilTwo, "(auto)"), 0);
    bob->write("/away");
    EXPECT_TRUE(bob->lineContaining("You are back."));
    bob->write("/im echobot ping");
    const QByteArrayList untilPing = bob->linesThrough("<EchoBot> ping");
    ASSERT_FALSE(untilPing.isEmpty());
    EXPECT_EQ(linesWith(untilPing, "(auto)"), 0);

    // Signed off, nobody shows as online.
    alice.write("/logoff");
    EXPECT_TRUE(alice.lineContaining("Signed off."));
    alice.write("/buddies");
    EXPECT_TRUE(alice.lineContaining("    echobot").value_or("").endsWith("offline"));
    alice.write("/quit");
    EXPECT_EQ(alice.waitExit(), 0);
    EXPECT_FALSE(alice.remainingOutput().contains('\x1b'));
}

// Lines typed while signing on run once signed on; a refused sign-on shows the server's
// reason, drops them and ends with its own status. A piped script signs on even when its input
// ends at once, and quits after what it sent went out.
TEST_F(ChatTest, TypedAheadLinesPasswordChangesAndScriptsOnAPipe) {
    {
        auto dora = chat("dora", "old");
        dora->write("/im echobot typed ahead");
        dora->write("and more");
        EXPECT_TRUE(dora->lineContaining("<EchoBot> typed ahead"));
        EXPECT_TRUE(dora->lineContaining("<EchoBot> and more"));
        dora->write("/passwd wrong x");
        EXPECT_TRUE(dora->lineContaining("/passwd: refused: the old password is wrong"));
        dora->write("/passwd");
        dora->write("old");
        dora->write("new");
        EXPECT_TRUE(dora->lineContaining("Password changed."));
        dora->write("/reconnect");
        EXPECT_TRUE(dora->lineContaining("Signed on as dora"));
        dora->write("/quit");
        EXPECT_EQ(dora->waitExit(), 0);
        EXPECT_EQ(dora->errorOutput(), "");
    }
    auto refused = chat("dora", "old");
    refused->write("/im echobot never");
    refused->closeInput();
    const QByteArray failed = refused->lineContaining("Sign-on failed").value_or("");
    EXPECT_TRUE(failed.contains("Invalid account or password")) << failed.data();
    EXPECT_TRUE(refused->lineContaining("Dropped 1 line that was waiting for the sign-on"));
    EXPECT_EQ(refused->waitExit(), 3);

    auto dora = chat("dora", "new");
    ASSERT_TRUE(dora->lineContaining("Signed on as dora"));
    auto script = chat("scripted", "pw");
    script->write("/im dora from a script");
    script->closeInput();
    EXPECT_TRUE(dora->lineContaining("<scripted> from a script"));
    EXPECT_EQ(script->waitExit(), 0);
}

}  // namespace
}  // namespace lantry::testing

// `ondrel chat` as a process (pipes, no terminal) against a scripted peer where exact server
// texts matter, and against a private tocd.
#include <QRegularExpression>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "tocd_process.h"

namespace lantry::testing {
namespace {

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

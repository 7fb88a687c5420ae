// `ondrel chat` as a process (pipes, no terminal) against a private tocd.
#include <QRegularExpression>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include "cli_harness.h"
#include "tocd_process.h"

namespace lantry::testing {
namespace {

class ChatTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString(); }

    // A client signed on as `user`; the password comes as the first input line.
    std::unique_ptr<CliProcess> signOn(const QByteArray& user, const QByteArray& password = "pw") {
        auto client = std::make_unique<CliProcess>(QStringList{
            "chat", "--server", QStringLiteral("127.0.0.1:%1").arg(tocd.port()), "--user", user});
        client->write(password);
        return client;
    }

    TocdProcess tocd;
};

TEST_F(ChatTest, SignsOnTalksToEchobotAndAnswersBadCommandsWithUsage) {
    QTemporaryFile passwordFile;
    ASSERT_TRUE(passwordFile.open());
    passwordFile.write("s3cret\n");
    passwordFile.flush();
    CliProcess alice({"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(tocd.port()), "--user",
                      "Alice", "--password-file", passwordFile.fileName()});
    const auto signedOn = alice.lineContaining("Signed on as alice");
    ASSERT_TRUE(signedOn);
    // Time stamps, and no colour codes on a pipe.
    EXPECT_TRUE(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\] ").match(*signedOn).hasMatch());
    // A new account starts with echobot on its list, shown by group once signed on.
    EXPECT_TRUE(alice.lineContaining("Buddy list:"));
    const auto online = alice.lineContaining("echobot");
    ASSERT_TRUE(online);
    EXPECT_TRUE(online->contains("online")) << online->toStdString();
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/frob", "Unknown command /frob. Type /help for the list."},
        {"/im", "Usage: /im NAME TEXT"},
        {"/idle soon", "Usage: /idle MINUTES"},
        {"/idle 35791395", "overflow"},
        {"/privacy maybe", "Usage: /privacy all|none|permit|deny|buddies"},
        {"/warn bob loudly", "Usage: /warn NAME [anon]"},
        {"/buddies now", "Usage: /buddies"},
        {"/accept soon", "Usage: /accept [CHAT-ID]"},
        {"/say hi", "You are in no room"},
        {"/r hi", "Nobody has sent you a message yet."},
        {"hello", "No conversation yet"},
        {"/help nope", "Unknown command /nope."},
    };
    for (const auto& [input, answer] : cases) {
        alice.write(input);
        const auto line = alice.nextLine();
        ASSERT_TRUE(line) << input.toStdString();
        EXPECT_TRUE(line->contains(answer)) << input.toStdString() << " -> " << line->toStdString();
    }
    alice.write("/add Friends echobot");
    EXPECT_TRUE(alice.lineContaining("Added echobot to Friends"));

    alice.write("/im echobot hello <b>there</b> (1)");
    const auto echo = alice.lineContaining("<EchoBot>");
    ASSERT_TRUE(echo);
    EXPECT_TRUE(echo->endsWith("<EchoBot> hello there (1)")) << echo->toStdString();

    // Replying goes to the last sender; plain text to the last /im partner.
    alice.write("/r second");
    EXPECT_TRUE(alice.lineContaining("<EchoBot> second"));
    alice.write("third");
    EXPECT_TRUE(alice.lineContaining("<EchoBot> third"));

    alice.write("/quit");
    EXPECT_TRUE(alice.lineContaining("Signed off."));
    EXPECT_EQ(alice.waitExit(), 0);
    EXPECT_FALSE(alice.remainingOutput().contains('\x1b'));
}

TEST_F(ChatTest, TwoClientsMeetTalkAndPartInARoom) {
    auto alice = signOn("alice");
    ASSERT_TRUE(alice->lineContaining("Signed on as alice"));
    auto bob = signOn("bob");
    ASSERT_TRUE(bob->lineContaining("Signed on as bob"));

    alice->write("/join Den");
    ASSERT_TRUE(alice->lineContaining("You are in Den"));
    bob->write("/join Den");
    ASSERT_TRUE(bob->lineContaining("You are in Den"));
    EXPECT_TRUE(alice->lineContaining("bob is in Den."));

    bob->write("hello <i>all</i>");
    const auto said = alice->lineContaining("[Den]");
    ASSERT_TRUE(said);
    EXPECT_TRUE(said->endsWith("[Den] <bob> hello all")) << said->toStdString();
    alice->write("/say hi bob");
    EXPECT_TRUE(bob->lineContaining("[Den] <alice> hi bob"));

    bob->write("/leave");
    EXPECT_TRUE(bob->lineContaining("You left Den."));
    EXPECT_TRUE(alice->lineContaining("bob left Den."));

    // Out of the room, an invitation brings bob back.
    alice->write("/invite bob come back");
    EXPECT_TRUE(bob->lineContaining("alice invites you to Den: come back"));
    bob->write("/accept");
    EXPECT_TRUE(bob->lineContaining("You are in Den"));
    EXPECT_TRUE(alice->lineContaining("bob is in Den."));
}

// A refused sign-on with the old password shows the server's reason and drops lines typed
// ahead, which otherwise run once signed on.
TEST_F(ChatTest, TypedAheadLinesAndAPasswordChangeAskedForLineByLine) {
    {
        auto dora = signOn("dora", "old");
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
    auto refused = signOn("dora", "old");
    refused->write("/im echobot never");
    const auto failed = refused->lineContaining("Sign-on failed");
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->contains("Invalid account or password")) << failed->toStdString();
    EXPECT_TRUE(refused->lineContaining("Dropped 1 line(s) typed before the sign-on finished."));
    EXPECT_TRUE(signOn("dora", "new")->lineContaining("Signed on as dora"));
}

}  // namespace
}  // namespace lantry::testing

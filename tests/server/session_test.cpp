// Real controls signed on to a running tocd: what one user does, the others see.
#include <QFile>
#include <QTemporaryDir>

#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tocd.start({"--signon-burst", "0"})) << tocd.errorText().toStdString();
    }
    lantry::testing::TocdProcess tocd;
};

TEST_F(Session, StoredConfigurationSurvivesARestart) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("accounts.db"));
    ASSERT_TRUE(tocd.start({"--db", db, "--rate-burst", "0"}));
    {
        Client alice;
        EXPECT_EQ(alice.login("Alice", "Sesame42", tocd.port()),
                  "LoggedIn(alice,[[group]Buddies|echobot],[],[],[],,1)");
        alice.control.AddBuddy("Friends", "Joe Smith");
        alice.control.AddGroup("Empty");
        alice.control.BlockUser("Mallory");
        alice.control.AddPrivateUser("carol");
        alice.control.SetPrivacy(4);
        // Enough buddies that the configuration travels in several CONFIG2 messages.
        for (int i = 0; i < 120; ++i)
            alice.control.AddBuddy("Many", "buddy" + std::to_string(i));
        alice.sync();
    }
    ASSERT_TRUE(tocd.restart());
    Client again;
    const std::string loggedIn = again.login("alice", "Sesame42", tocd.port());
    std::string many;
    for (int i = 0; i < 120; ++i)
        many += "|buddy" + std::to_string(i);
    EXPECT_EQ(loggedIn,
              "LoggedIn(alice,[[group]Buddies|echobot|[group]Friends|Joe Smith|[group]Empty|"
              "[group]Many" +
                  many + "],[mallory],[carol],[],,4)");

    Client wrong;
    wrong.control.Login("alice", "sesame42", "127.0.0.1", tocd.port());
    EXPECT_EQ(wrong.next("Error("), "Error(980,Invalid account or password)");
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("Sesame42"));
}

TEST_F(Session, InstantMessagesBothWaysToEchoAndOffline) {
    Client alice, bob;
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    bob.sync();
    const std::string text = "Hi <b>bob</b>: \"quoted\" $5 {x} [y] (z) back\\slash \xe9";
    alice.control.SendIM("Bob", text, false);
    EXPECT_EQ(bob.next("InstantMessage("), "InstantMessage(alice," + text + ",false, O )");
    bob.control.SendIM("alice", "away now", true);
    EXPECT_EQ(alice.next("InstantMessage("), "InstantMessage(bob,away now,true, O )");
    alice.control.SendIM("nobody", "hello?", false);
    EXPECT_EQ(alice.next("Error("), "Error(901,nobody is not available)");
    alice.control.SendIM("echobot", "ping 1", false);
    EXPECT_EQ(alice.next("InstantMessage("), "InstantMessage(EchoBot,ping 1,false, O )");
    alice.control.AddBuddy("Friends", "bob");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true"), "");
    bob.control.LogOff();
    EXPECT_NE(alice.next("BuddyUpdate(bob,false"), "");
    alice.control.SendIM("bob", "still there?", false);
    EXPECT_EQ(alice.next("Error("), "Error(901,bob is not available)");
}

TEST_F(Session, PresenceFollowsSignOnAwayIdleWarningsAndSignOff) {
    Client alice, bob;
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    alice.control.AddBuddy("Friends", "bob");
    alice.control.AddBuddy("Friends", "echobot");
    EXPECT_NE(alice.next("BuddyUpdate(EchoBot,true,0,"), "");
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    bob.control.AddBuddy("Buddies", "alice");
    // Each side hears of the other: alice when bob becomes visible, bob when he adds her.
    const auto online = alice.next("BuddyUpdate(bob,");
    EXPECT_NE(online.find("BuddyUpdate(bob,true,0,"), std::string::npos) << online;
    EXPECT_NE(online.find(",0, O )"), std::string::npos) << online;
    EXPECT_NE(bob.next("BuddyUpdate(alice,true,0,"), "");
    // A later session of alice hears of every online buddy when it becomes visible.
    Client alice2;
    ASSERT_NE(alice2.login("alice", "pw1", tocd.port()), "");
    EXPECT_NE(alice2.next("BuddyUpdate(bob,true,0,"), "");

    bob.control.SetAwayMessage("out to lunch");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,0,").find(", OU)"), std::string::npos);
    bob.control.SetIdleTime(7);
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,0,").find(",7, OU)"), std::string::npos);
    bob.control.SetAwayMessage("");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,0,").find(",7, O )"), std::string::npos);
    bob.control.SetCapability("09461343-4C7F-11D1-8222-444553540000");
    EXPECT_EQ(alice.next("BuddyCapabilities("),
              "BuddyCapabilities(bob,09461343-4C7F-11D1-8222-444553540000)");

    // Warnings: one per message received, the level reaching the warned user and watchers.
    alice.control.WarnUser("bob", false);
    EXPECT_EQ(alice.next("Error("), "Error(902,Warning of bob is not currently available)");
    bob.control.SendIM("alice", "hi", false);
    ASSERT_NE(alice.next("InstantMessage(bob"), "");
    alice.control.WarnUser("bob", false);
    EXPECT_EQ(bob.next("Warned("), "Warned(10,alice)");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,10,"), "");
    bob.control.SendIM("alice", "again", false);
    ASSERT_NE(alice.next("InstantMessage(bob"), "");
    alice.control.WarnUser("bob", true);
    EXPECT_EQ(bob.next("Warned("), "Warned(13,)");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,13,"), "");

    alice.control.GetStatus("bob");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,13,"), "");
    bob.control.LogOff();
    EXPECT_EQ(alice.next("BuddyUpdate(bob,"), "BuddyUpdate(bob,false,0,0,0,   )");
    alice.control.GetStatus("bob");
    EXPECT_EQ(alice.next("Error("), "Error(901,bob is not available)");
}

TEST_F(Session, ChatJoinSendInviteWhisperLeave) {
    Client alice, bob;
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    bob.sync();
    alice.control.JoinChat("Lounge", 4);
    const std::string joined = alice.next("JoinedChat(Lounge,");
    ASSERT_NE(joined, "");
    const std::int32_t id = alice.control.LastChatID();
    ASSERT_NE(id, 0);
    const std::string sid = std::to_string(id);
    EXPECT_EQ(alice.next("ChatUserUpdate("), "ChatUserUpdate(alice,true," + sid + ")");

    alice.control.InviteUsers("Lounge", "Come (now)", "Bob");
    EXPECT_EQ(bob.next("ChatInvite("), "ChatInvite(Lounge," + sid + ",alice,Come (now))");
    bob.control.AcceptChatInvite(id);
    EXPECT_EQ(bob.next("JoinedChat("), "JoinedChat(Lounge," + sid + ")");
    EXPECT_EQ(bob.next("ChatUserUpdate("), "ChatUserUpdate(alice,true," + sid + ")");
    EXPECT_EQ(bob.next("ChatUserUpdate("), "ChatUserUpdate(bob,true," + sid + ")");
    EXPECT_EQ(alice.next("ChatUserUpdate("), "ChatUserUpdate(bob,true," + sid + ")");

    bob.control.SendChat("Lounge", "hello: all");
    for (Client* c : {&alice, &bob}) {
        EXPECT_EQ(c->next("ChatMessage("), "ChatMessage(" + sid + ",bob,hello: all)");
    }
    // A second join by name finds the same room, whatever the case.
    Client carol;
    ASSERT_NE(carol.login("carol", "pw3", tocd.port()), "");
    carol.control.JoinChat("lounge", 4);
    EXPECT_EQ(carol.next("JoinedChat("), "JoinedChat(Lounge," + sid + ")");
    carol.control.JoinChat("Lounge", 5);
    const std::string otherExchange = carol.next("JoinedChat(Lounge,");
    EXPECT_NE(otherExchange, "");
    EXPECT_NE(otherExchange, "JoinedChat(Lounge," + sid + ")");

    alice.control.SendPacket(2, "toc_chat_whisper " + sid + " bob \"just you\"");
    alice.control.SendChat("Lounge", "to all");
    EXPECT_EQ(bob.next("ChatMessage("), "ChatMessage(" + sid + ",alice,just you)");
    EXPECT_EQ(carol.next("ChatMessage("), "ChatMessage(" + sid + ",alice,to all)");

    bob.control.LeaveChat("Lounge");
    EXPECT_EQ(bob.next("LeftChat("), "LeftChat(" + sid + ")");
    EXPECT_EQ(alice.next("ChatUserUpdate(bob"), "ChatUserUpdate(bob,false," + sid + ")");
    bob.control.SendChat("", "gone", id);
    EXPECT_EQ(bob.next("Error("), "Error(950,Error code: 950)");
    carol.control.LogOff();
    EXPECT_EQ(alice.next("ChatUserUpdate(carol"), "ChatUserUpdate(carol,false," + sid + ")");
}

TEST_F(Session, ListChangesReachTheAccountsOtherSessions) {
    Client first, second;
    ASSERT_NE(first.login("alice", "pw1", tocd.port()), "");
    ASSERT_NE(second.login("alice", "pw1", tocd.port()), "");
    second.sync();
    first.control.AddBuddy("Friends", "Joe Smith");
    first.control.AddGroup("Work");
    first.control.RemoveBuddy("Friends", "joesmith");
    first.control.RemoveGroup("Work");
    first.control.BlockUser("mallory");
    first.control.UnblockUser("mallory");
    first.control.AddPrivateUser("carol");
    first.control.RemovePrivateUser("carol");
    first.sync();
    second.sync();
    const std::vector<std::string> expected = {
        "GroupAdded(Friends)",        "BuddyAdded(Friends,Joe Smith,)",
        "GroupAdded(Work)",           "BuddyRemoved(Friends,Joe Smith)",
        "GroupRemoved(Work)",         "BuddyBlocked(mallory)",
        "BuddyUnblocked(mallory)",    "PrivateBuddyAdded(carol)",
        "PrivateBuddyRemoved(carol)",
    };
    std::vector<std::string> got;
    for (const auto& e : second.sink.events) {
        if (e.find("Group") == 0 || e.find("Buddy") == 0 || e.find("Private") == 0) {
            if (e.find("BuddyUpdate") != 0)
                got.push_back(e);
        }
    }
    EXPECT_EQ(got, expected);
    for (const auto& e : first.sink.events)
        EXPECT_EQ(e.find("BuddyAdded"), std::string::npos);
}

// Privacy modes decide both presence and messages; table-driven over what bob allows.
TEST_F(Session, PrivacyModesGovernPresenceAndMessages) {
    const struct {
        int mode;
        bool permit, deny, buddy, visible;
    } cases[] = {
        {1, false, true, false, true},  {2, true, false, true, false},
        {3, true, false, false, true},  {3, false, false, true, false},
        {4, false, true, false, false}, {4, true, false, false, true},
        {5, false, false, true, true},  {5, true, false, false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " case " + std::to_string(n));
        const std::string bobName = "bob" + std::to_string(n++);
        Client bob, alice;
        ASSERT_NE(bob.login(bobName, "pw2", tocd.port()), "");
        if (c.permit)
            bob.control.AddPrivateUser("alice");
        if (c.deny)
            bob.control.BlockUser("alice");
        if (c.buddy)
            bob.control.AddBuddy("Friends", "alice");
        bob.control.SetPrivacy(static_cast<std::int16_t>(c.mode));
        bob.sync();
        ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
        alice.control.GetStatus(bobName);
        alice.control.SendIM(bobName, "knock", false);
        alice.sync();
        EXPECT_EQ(alice.seen("BuddyUpdate(" + bobName + ",true").size(), c.visible ? 1u : 0u);
        EXPECT_EQ(alice.seen("Error(901").size(), c.visible ? 0u : 2u);
        bob.sync();
        EXPECT_EQ(bob.seen("InstantMessage(alice,knock").size(), c.visible ? 1u : 0u);
    }

    // A change of mode reaches a watcher at once.
    Client bob, alice;
    ASSERT_NE(bob.login("bobby", "pw2", tocd.port()), "");
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    alice.control.AddBuddy("Friends", "bobby");
    EXPECT_NE(alice.next("BuddyUpdate(bobby,true"), "");
    bob.control.SetPrivacy(2);
    EXPECT_EQ(alice.next("BuddyUpdate(bobby,"), "BuddyUpdate(bobby,false,0,0,0,   )");
    bob.control.SetPrivacy(1);
    EXPECT_NE(alice.next("BuddyUpdate(bobby,true"), "");
}

TEST_F(Session, WrongPasswordClosedRegistrationAndTooManySessions) {
    Client alice;
    ASSERT_NE(alice.login("alice", "right", tocd.port()), "");
    Client wrong;
    wrong.control.Login("alice", "wrong", "127.0.0.1", tocd.port());
    EXPECT_EQ(wrong.next("Error("), "Error(980,Invalid account or password)");
    EXPECT_NE(wrong.next("WinsockError("), "");

    std::vector<std::unique_ptr<Client>> more;
    for (int i = 0; i < 4; ++i) {
        more.push_back(std::make_unique<Client>());
        ASSERT_NE(more.back()->login("alice", "right", tocd.port()), "");
    }
    Client sixth;
    sixth.control.Login("alice", "right", "127.0.0.1", tocd.port());
    EXPECT_EQ(sixth.next("Error("), "Error(913,Error code: 913)");

    ASSERT_TRUE(tocd.start({"--closed"}));
    Client stranger;
    stranger.control.Login("stranger", "pw", "127.0.0.1", tocd.port());
    EXPECT_EQ(stranger.next("Error("), "Error(980,Invalid account or password)");
}

TEST_F(Session, PasswordChangeAndNicknameFormat) {
    {
        Client alice, bob;
        ASSERT_NE(alice.login("alice", "old", tocd.port()), "");
        ASSERT_NE(bob.login("bob", "pw", tocd.port()), "");
        bob.control.AddBuddy("Friends", "alice");
        EXPECT_NE(bob.next("BuddyUpdate(alice,true"), "");

        alice.control.ChangePassword("wrong", "new");
        EXPECT_EQ(alice.next("Error("), "Error(911,Error validating input)");
        const auto mark = alice.mark();
        alice.control.ChangePassword("old", "new pass");
        EXPECT_NE(alice.next("PasswordChanged("), "");
        alice.sync();
        EXPECT_TRUE(alice.seen("Error(", mark).empty());
        EXPECT_EQ(alice.seen("PasswordChanged(").size(), 1u) << "a refusal is only an error";

        alice.control.FormatUserName("Al Ice");
        EXPECT_NE(alice.next("ScreenNameFormatted("), "");
        EXPECT_EQ(alice.next("ScreennameFormat("), "ScreennameFormat(Al Ice)");
        EXPECT_NE(bob.next("BuddyUpdate(Al Ice,true"), "");
        alice.control.FormatUserName("Alicia");
        EXPECT_EQ(alice.next("Error("), "Error(911,Error validating input)");
        alice.sync();
        EXPECT_EQ(alice.seen("ScreenNameFormatted(").size(), 1u) << "a refusal is only an error";
    }
    Client oldPassword;
    oldPassword.control.Login("alice", "old", "127.0.0.1", tocd.port());
    EXPECT_EQ(oldPassword.next("Error("), "Error(980,Invalid account or password)");
    Client newPassword;
    newPassword.control.Login("alice", "new pass", "127.0.0.1", tocd.port());
    EXPECT_EQ(newPassword.next("ScreennameFormat("), "ScreennameFormat(Al Ice)");
    EXPECT_NE(newPassword.next("LoggedIn("), "");
}

TEST_F(Session, ProfileIsServedOverHttpWithMarkupMadeSafe) {
    Client alice, bob;
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    alice.control.SetProfile("<script>alert(1)</script> Tom & Jerry \xe9");
    alice.sync();
    bob.control.GetProfile("Alice");
    const std::string event = bob.next("UserProfile(");
    const std::string prefix = "UserProfile(http://127.0.0.1:" + std::to_string(tocd.port());
    ASSERT_EQ(event.rfind(prefix, 0), 0u) << event;
    const std::string path = event.substr(prefix.size(), event.size() - prefix.size() - 1);
    EXPECT_EQ(path, "/profile/alice");

    QTcpSocket http;
    http.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(tocd.port()));
    ASSERT_TRUE(http.waitForConnected(kWaitMs));
    http.write(QByteArray("GET ") + path.c_str() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    QByteArray response;
    while (http.waitForReadyRead(kWaitMs))
        response += http.readAll();
    EXPECT_TRUE(response.startsWith("HTTP/1.0 200 OK\r\n")) << response.toStdString();
    EXPECT_TRUE(response.contains("&lt;script&gt;alert(1)&lt;/script&gt; Tom &amp; Jerry \xe9"));
    EXPECT_FALSE(response.contains("<script>"));

    bob.control.GetProfile("nobody");
    EXPECT_EQ(bob.next("Error("), "Error(901,nobody is not available)");
}

TEST_F(Session, TypingNoticesReachTheOtherUser) {
    Client alice, bob;
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    bob.sync();
    alice.control.SendPacket(2, "toc2_client_event bob 2");
    EXPECT_EQ(bob.next("TypingStatus("), "TypingStatus(alice,2)");
}

}  // namespace
}  // namespace tocd::testing

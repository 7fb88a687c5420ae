// Real controls signed on to a running tocd: what one user does, the others see.
#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "harness.h"
#include "passwords.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

class Session : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tocd.start()) << tocd.errorText().toStdString(); }
    lantry::testing::TocdProcess tocd;
    Client alice, bob;
};

// The account's other sessions are told of each change; after a restart tocd reads the lists
// back from its database, removals included. Passwords are never stored in clear.
TEST_F(Session, ListChangesReachTheOtherSessionsAndSurviveARestart) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("a.db"));
    ASSERT_TRUE(tocd.start({"--db", db}));
    EXPECT_EQ(alice.login("Alice", "Sesame42", tocd.port()),
              "LoggedIn(alice,[[group]Buddies|echobot],[],[],[],,1)");
    ASSERT_NE(bob.login("alice", "Sesame42", tocd.port()), "");
    bob.sync();
    alice.control.AddBuddy("Friends \xe9", "Joe Smith");
    alice.control.AddBuddy("Friends \xe9", "bob");
    alice.control.RemoveBuddy("Friends \xe9", "bob");
    alice.control.AddBuddy("Gone", "dave");
    alice.control.RemoveGroup("Gone");
    alice.control.AddGroup("Empty");
    alice.control.BlockUser("Mallory");
    alice.control.AddPrivateUser("carol");
    alice.control.AddPrivateUser("bob");
    alice.control.RemovePrivateUser("bob");
    alice.control.SetPrivacy(4);
    alice.sync();
    bob.sync();
    std::vector<std::string> changes;
    for (const auto& e : bob.sink.events) {
        if (e.find("Update") == std::string::npos &&
            (e.find("Group") == 0 || e.find("Buddy") == 0 || e.find("Private") == 0))
            changes.push_back(e);
    }
    EXPECT_EQ(changes, (std::vector<std::string>{
                           "GroupAdded(Friends \xe9)", "BuddyAdded(Friends \xe9,Joe Smith,)",
                           "BuddyAdded(Friends \xe9,bob,)", "BuddyRemoved(Friends \xe9,bob)",
                           "GroupAdded(Gone)", "BuddyAdded(Gone,dave,)", "GroupRemoved(Gone)",
                           "GroupAdded(Empty)", "BuddyBlocked(mallory)", "PrivateBuddyAdded(carol)",
                           "PrivateBuddyAdded(bob)", "PrivateBuddyRemoved(bob)"}));
    EXPECT_TRUE(alice.seen("BuddyAdded").empty()) << "the session that made a change is told";

    ASSERT_TRUE(tocd.restart());
    Client again;
    EXPECT_EQ(again.login("alice", "Sesame42", tocd.port()),
              "LoggedIn(alice,[[group]Buddies|echobot|[group]Friends \xe9|Joe Smith|[group]Empty],"
              "[mallory],[carol],[],,4)");
    again.control.ChangePassword("Sesame42", "Open\xff");
    again.sync();
    for (const QString& name : {db, db + QStringLiteral("-wal")}) {
        QFile file(name);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        EXPECT_FALSE(bytes.contains("Sesame42") || bytes.contains("Open\xff")) << "in clear";
    }
    EXPECT_EQ(alice.login("alice", "Open\xff", tocd.port()).rfind("LoggedIn(", 0), 0u);
}

// The operator's commands change the database a tocd serves: an account added there signs on,
// a reset password replaces the old one at once, a backup serves another tocd with the lists,
// and a deleted account leaves no row behind.
TEST_F(Session, OperatorCommandsWorkOnTheDatabaseWhileTocdServesIt) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("served.db"));
    const QString copy = dir.filePath(QStringLiteral("copy.db"));
    ASSERT_TRUE(tocd.start({"--db", db}));
    const auto run = [](QStringList args, const QByteArray& input = {}) {
        QProcess p;
        p.start(QStringLiteral(TOCD_PATH),
                args << QStringLiteral("--password-cost") << QStringLiteral("min"));
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(kWaitMs);
        return std::pair(p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput() +
                                                              p.readAllStandardError()));
    };
    EXPECT_EQ(run({"accounts", "add", "Carol Ann", "--db", db}, "First1\n").first, 0);
    EXPECT_EQ(run({"accounts", "add", "carolann", "--db", db}, "Other1\n"),
              std::pair(1, QStringLiteral("tocd: the account carolann exists already\n")));
    EXPECT_EQ(run({"accounts", "add", "echobot", "--db", db}, "Other1\n").first, 2);
    EXPECT_EQ(run({"accounts", "list", "--db", dir.filePath("none.db")}).first, 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("none.db")));
    EXPECT_EQ(alice.login("carolann", "First1", tocd.port()),
              "LoggedIn(carolann,[[group]Buddies|echobot],[],[],[],,1)");
    alice.control.AddBuddy("Friends", "bob");
    alice.control.BlockUser("mallory");
    alice.sync();
    const auto [listed, list] = run({"accounts", "list", "--db", db});
    EXPECT_EQ(listed, 0);
    const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
    EXPECT_TRUE(
        QRegularExpression("^carolann  " + stamp + "  " + stamp + "\n$").match(list).hasMatch())
        << list.toStdString();

    EXPECT_EQ(run({"accounts", "reset-password", "carolann", "--db", db}, "Second2\n").first, 0);
    bob.control.Login("carolann", "First1", "127.0.0.1", tocd.port());
    EXPECT_NE(bob.next("Error(980,"), "");
    Client again;
    EXPECT_NE(again.login("carolann", "Second2", tocd.port()), "");

    EXPECT_EQ(run({"backup", "--db", db, db}).first, 2);
    EXPECT_EQ(run({"backup", "--db", db, copy}).first, 0);
    EXPECT_EQ(run({"accounts", "delete", "carolann", "--db", db}).first, 0);
    EXPECT_EQ(run({"accounts", "delete", "carolann", "--db", db}).first, 1);
    EXPECT_EQ(run({"accounts", "list", "--db", db}), std::pair(0, QString()));
    {
        auto check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        check.setDatabaseName(db);
        ASSERT_TRUE(check.open());
        QSqlQuery rows(check);
        ASSERT_TRUE(rows.exec(QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM groups) + (SELECT COUNT(*) FROM buddies) + (SELECT "
            "COUNT(*) FROM denies) + (SELECT COUNT(*) FROM addresses) + (SELECT COUNT(*) FROM "
            "accounts)")));
        ASSERT_TRUE(rows.next());
        EXPECT_EQ(rows.value(0).toInt(), 0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));

    lantry::testing::TocdProcess restored;
    ASSERT_TRUE(restored.start({"--db", copy}));
    Client back;
    EXPECT_EQ(back.login("carolann", "Second2", restored.port()),
              "LoggedIn(carolann,[[group]Buddies|echobot|[group]Friends|bob],[mallory],[],[],,1)");
}

// Databases of older tocd versions hold PBKDF2-SHA256 hashes, and Argon2id hashes of another
// cost: they still sign on, and their first good sign-on replaces the hash with one of the
// server's cost (the cheapest, here).
TEST_F(Session, OlderPasswordHashesSignOnAndAreRehashedAtTheServersCost) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("old.db"));
    ASSERT_TRUE(tocd.start({"--db", file}));
    ASSERT_EQ(tocd.stop(), 0);
    const auto storedHash = [&](const QString& connection) {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
        return db;
    };
    {
        auto db = storedHash(QStringLiteral("write"));
        const QByteArray salt("0123456789abcdef");
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("INSERT INTO accounts (name, formatted, salt, hash, iterations) "
                           "VALUES (?, ?, ?, ?, 2000)"));
        for (const QVariant& v :
             {QVariant(QByteArray("oldtimer")), QVariant(QByteArray("Old Timer")), QVariant(salt),
              QVariant(QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, "Sesame",
                                                          salt, 2000, 32))})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec());
        ASSERT_TRUE(initPasswordHashing());
        const PasswordRecord standard = hashPassword("Sesame", PasswordCost::Standard);
        ASSERT_TRUE(needsRehash(standard, PasswordCost::Minimum));
        q.prepare(
            QStringLiteral("INSERT INTO accounts (name, formatted, salt, hash, iterations) "
                           "VALUES (?, ?, x'', ?, 0)"));
        for (const char* value : {"newtimer", "newtimer", standard.hash.c_str()})
            q.addBindValue(QByteArray(value));
        ASSERT_TRUE(q.exec());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("write"));
    ASSERT_TRUE(tocd.start({"--db", file}));
    alice.control.Login("oldtimer", "sesame", "127.0.0.1", tocd.port());
    EXPECT_EQ(alice.next("Error("), "Error(980,Invalid account or password)");
    EXPECT_EQ(bob.login("oldtimer", "Sesame", tocd.port()), "LoggedIn(oldtimer,[],[],[],[],,1)");
    Client newer;
    EXPECT_NE(newer.login("newtimer", "Sesame", tocd.port()), "");
    ASSERT_EQ(tocd.stop(), 0);
    {
        auto db = storedHash(QStringLiteral("read"));
        QSqlQuery q(QStringLiteral("SELECT hash, iterations FROM accounts"), db);
        for (int row = 0; row < 2; ++row) {
            ASSERT_TRUE(q.next());
            const PasswordRecord stored{
                q.value(0).toByteArray().toStdString(), {}, q.value(1).toInt()};
            EXPECT_FALSE(needsRehash(stored, PasswordCost::Minimum)) << stored.hash;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("read"));
    ASSERT_TRUE(tocd.start({"--db", file}));
    for (const char* name : {"oldtimer", "newtimer"}) {
        Client again;
        EXPECT_NE(again.login(name, "Sesame", tocd.port()), "") << name;
    }
}

TEST_F(Session, MessagesAndPresenceThroughAwayIdleWarningsAndSignOff) {
    ASSERT_NE(alice.login("alice", "pw1", tocd.port()), "");
    alice.control.AddBuddy("Friends", "bob");
    alice.sync();
    ASSERT_NE(bob.login("bob", "pw2", tocd.port()), "");
    bob.control.AddBuddy("Buddies", "alice");
    // Each side hears of the other: alice when bob becomes visible, bob when he adds her.
    EXPECT_NE(bob.next("BuddyUpdate(alice,true,0,"), "");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,0,"), "");
    bob.control.SetAwayMessage("out to lunch");
    bob.control.SetIdleTime(7);
    bob.control.SetAwayMessage("");
    for (const char* tail : {",0, OU)", ",7, OU)", ",7, O )"}) {
        const auto update = alice.next("BuddyUpdate(bob,true,0,");
        EXPECT_EQ(update.substr(update.size() - std::strlen(tail)), tail) << update;
    }

    // Warnings: one per message received, the level reaching the warned user and watchers.
    alice.control.WarnUser("bob", false);
    EXPECT_EQ(alice.next("Error("), "Error(902,Warning of bob is not currently available)");
    for (const bool anonymous : {false, true}) {
        bob.control.SendIM("alice", "hi", false);
        ASSERT_NE(alice.next("InstantMessage(bob"), "");
        alice.control.WarnUser("bob", anonymous);
    }
    EXPECT_EQ(bob.next("Warned("), "Warned(10,alice)");
    EXPECT_EQ(bob.next("Warned("), "Warned(13,)");
    EXPECT_NE(alice.next("BuddyUpdate(bob,true,13,"), "");
    // Each message allowed one warning, and both are spent.
    alice.control.WarnUser("bob", false);
    EXPECT_EQ(alice.next("Error("), "Error(902,Warning of bob is not currently available)");
    const std::string text = "Hi <b>bob</b>: \"quoted\" $5 {x} [y] (z) back\\slash \xe9";
    alice.control.SendIM("Bob", text, false);
    EXPECT_EQ(bob.next("InstantMessage("), "InstantMessage(alice," + text + ",false, O )");

    bob.control.FormatUserName("B Ob");
    EXPECT_NE(alice.next("BuddyUpdate(B Ob,true"), "");
    bob.control.LogOff();
    EXPECT_EQ(alice.next("BuddyUpdate(B Ob,"), "BuddyUpdate(B Ob,false,0,0,0,   )");
    alice.control.SendIM("bob", "still there?", false);
    alice.control.GetStatus("bob");
    alice.sync();
    EXPECT_EQ(alice.seen("Error(901"),
              std::vector<std::string>(2, "Error(901,bob is not available)"));
}

// Refusals are only errors, with no confirmation after them.
TEST_F(Session, AccountChangesAndSessionLimits) {
    ASSERT_NE(alice.login("alice", "right", tocd.port()), "");
    alice.control.ChangePassword("wrong", "new");
    alice.control.FormatUserName("Alicia");
    alice.control.FormatUserName("Al Ice");
    alice.sync();
    EXPECT_EQ(alice.seen("Error("),
              std::vector<std::string>(2, "Error(911,Error validating input)"));
    EXPECT_EQ(alice.seen("ScreenNameFormatted(").size(), 1u);
    Client more[5];
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(more[i].login("alice", "right", tocd.port()), "");
    EXPECT_EQ(more[0].seen("ScreennameFormat("),
              std::vector<std::string>{"ScreennameFormat(Al Ice)"});
    more[4].control.Login("alice", "right", "127.0.0.1", tocd.port());
    EXPECT_EQ(more[4].next("Error("), "Error(913,Error code: 913)");

    ASSERT_TRUE(tocd.start({"--closed"}));
    bob.control.Login("stranger", "pw", "127.0.0.1", tocd.port());
    EXPECT_EQ(bob.next("Error("), "Error(980,Invalid account or password)");
}

// A profile page opens only through a fresh link that toc_get_info handed to its holder, and only
// while the target lets the holder see it; anything else looks like a name that does not exist.
// The page tells nothing of presence, and shows text that is not UTF-8 as Latin-1.
TEST_F(Session, ProfilePagesOpenOnlyThroughTheirLinkWhileTheTargetAllowsIt) {
    ASSERT_NE(alice.login("alice", "pw", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw", tocd.port()), "");
    alice.control.SetProfile("<script>alert(1)</script> Tom & Jerry caf\xe9");
    alice.control.SetAwayMessage("gone fishing");
    alice.sync();
    const auto get = [&](const std::string& path) {
        QTcpSocket http;
        http.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(tocd.port()));
        EXPECT_TRUE(http.waitForConnected(kWaitMs));
        http.write(QByteArray::fromStdString("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"));
        QByteArray response;
        while (http.waitForReadyRead(kWaitMs))
            response += http.readAll();
        return response.toStdString();
    };
    bob.control.GetProfile("Alice");
    const std::string event = bob.next("UserProfile(");
    const std::string url = event.substr(12, event.size() - 13);
    const std::string prefix =
        "http://127.0.0.1:" + std::to_string(tocd.port()) + "/profile/alice?token=";
    ASSERT_EQ(url.substr(0, prefix.size()), prefix);
    EXPECT_EQ(url.size() - prefix.size(), 32u) << "128 bits";
    const std::string path = url.substr(url.find("/profile/"));

    const std::string page = get(path);
    EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n", 0), 0u)
        << page;
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; Tom &amp; Jerry caf\xc3\xa9"),
              std::string::npos);
    EXPECT_EQ(page.find("fishing"), std::string::npos) << "the page shows presence";
    alice.control.SetProfile("caf\xc3\xa9 already in UTF-8");
    alice.sync();
    EXPECT_NE(get(path).find("caf\xc3\xa9 already in UTF-8"), std::string::npos);

    const std::string notFound = "HTTP/1.0 404 Not Found\r\n";
    std::string altered = path;
    altered.back() = altered.back() == '0' ? '1' : '0';
    for (const std::string& other :
         {std::string("/profile/alice"), std::string("/profile/alice?token="), altered,
          "/profile/bob" + path.substr(path.find('?'))}) {
        EXPECT_EQ(get(other).rfind(notFound, 0), 0u) << other;
    }
    alice.control.BlockUser("bob");
    alice.control.SetPrivacy(4);
    alice.sync();
    EXPECT_EQ(get(path).rfind(notFound, 0), 0u) << "after alice denied bob";
    alice.control.SetPrivacy(1);
    alice.sync();
    EXPECT_EQ(get(path).rfind("HTTP/1.0 200 OK", 0), 0u) << "alice allows bob again";
    bob.control.LogOff();
    EXPECT_TRUE(QTest::qWaitFor([&] { return get(path).rfind(notFound, 0) == 0; }, kWaitMs))
        << "after bob left";
}

// A room is entered by its name, or by its ID on an invitation, which accepting or leaving the
// room uses up. A whisper obeys both sides' privacy, like an IM.
TEST_F(Session, RoomsOpenByIdOnlyOnAnInvitationAndWhispersObeyPrivacy) {
    ASSERT_NE(alice.login("alice", "pw", tocd.port()), "");
    ASSERT_NE(bob.login("bob", "pw", tocd.port()), "");
    RawSession mallory(tocd.port(), "mallory");
    ASSERT_TRUE(mallory.sync());
    alice.control.JoinChat("Den", 4);
    const std::string joined = alice.next("JoinedChat(Den,");
    const std::string id = joined.substr(15, joined.size() - 16);
    ASSERT_NE(id, "0");
    const std::int32_t room = std::stoi(id);

    mallory.command("toc_chat_accept " + id);  // a guessed ID
    ASSERT_TRUE(mallory.sync());
    alice.control.InviteUsers("Den", "come", "mallory", room);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !mallory.seen("CHAT_INVITE:Den:" + id + ":alice:come").empty(); }, kWaitMs));
    mallory.command("toc_chat_leave " + id);  // declined
    mallory.command("toc_chat_accept " + id);
    ASSERT_TRUE(mallory.sync());
    EXPECT_EQ(mallory.seen("ERROR:"), std::vector<std::string>(2, "ERROR:950:" + id));
    EXPECT_TRUE(mallory.seen("CHAT_JOIN:").empty());

    alice.control.InviteUsers("Den", "come", "bob", room);
    ASSERT_NE(bob.next("ChatInvite(Den," + id + ",alice,come)"), "");
    bob.control.AcceptChatInvite(room);
    ASSERT_NE(bob.next("JoinedChat(Den," + id + ")"), "");
    bob.control.LeaveChat("Den", room);
    ASSERT_NE(bob.next("LeftChat(" + id + ")"), "");
    bob.control.AcceptChatInvite(room);
    EXPECT_EQ(bob.next("Error(").rfind("Error(950,", 0), 0u) << "the invitation was used up";

    // By name everyone may come in; mallory whispers to bob, then to alice, who denies her, then
    // to bob again after denying him herself.
    bob.control.JoinChat("Den", 4);
    ASSERT_NE(bob.next("JoinedChat(Den," + id + ")"), "");
    mallory.command("toc_chat_join 4 Den");
    ASSERT_NE(alice.next("ChatUserUpdate(mallory,true," + id + ")"), "");
    mallory.command("toc_chat_whisper " + id + " bob \"psst\"");
    ASSERT_NE(bob.next("ChatMessage(" + id + ",mallory,psst)"), "");
    alice.control.BlockUser("mallory");
    alice.control.SetPrivacy(4);
    alice.sync();
    mallory.command("toc_chat_whisper " + id + " alice \"psst\"");
    mallory.command("toc2_add_deny bob");
    mallory.command("toc2_set_pdmode 4");
    mallory.command("toc_chat_whisper " + id + " bob \"again\"");
    ASSERT_TRUE(mallory.sync());
    EXPECT_EQ(mallory.seen("ERROR:"),
              (std::vector<std::string>{"ERROR:950:" + id, "ERROR:950:" + id, "ERROR:901:alice",
                                        "ERROR:901:bob"}));
    bob.sync();
    alice.sync();
    EXPECT_EQ(bob.seen("ChatMessage(").size(), 1u);
    EXPECT_TRUE(alice.seen("ChatMessage(").empty());
}

}  // namespace
}  // namespace tocd::testing

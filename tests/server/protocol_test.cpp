// tocd's framing and limits. Other bad input: tests/robustness/tocd_hostile_test.cpp and
// fuzz/tocd_session_fuzz.cpp.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
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
// sign-on in one read, so no refill and no time falls between them.
TEST(Rules, TheRateLimitsServeExactlyTheirBurst) {
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

    // Real servers' class instead: seven pass at once, six are dropped, the next one ends the
    // session; commands outside the class are not counted.
    options.realRateLimits = true;
    options.rateBurst = 0;
    InProcessServer real(options);
    commands.clear();
    for (int i = 0; i < 16; ++i) {
        commands.push_back("toc_get_status ghost" + std::to_string(i));
        commands.push_back("toc_set_idle 0");
    }
    const int user = real.signOn("fast", true, commands);
    std::vector<std::string> verdicts;
    for (const auto& a : real.take(user)) {
        if (a.starts_with("ERROR:"))
            verdicts.push_back(a.substr(0, 9));
    }
    std::vector<std::string> expected(7, "ERROR:901");
    expected.insert(expected.end(), 6, "ERROR:903");
    EXPECT_EQ(verdicts, expected);
    real.say(user, "toc_get_status ghost");
    EXPECT_EQ(real.take(user), std::vector<std::string>{}) << "the session has ended";
}

// Commands are taken one per account in each turn, however many sessions the account has and
// however many commands they send at once: another user's message waits for none of them.
TEST(Rules, CommandsAreTakenOnePerAccountInEachTurn) {
    InProcessServer tocd;
    const int heavy = tocd.signOn("heavy");
    const int heavyToo = tocd.signOn("heavy");
    const int calm = tocd.signOn("calm");
    const int friendly = tocd.signOn("friendly");
    for (int user : {heavy, heavyToo, calm, friendly})
        tocd.take(user);
    const auto replies = [&](int user) { return starting(tocd.take(user), "NEW_BUDDY_REPLY2:"); };
    tocd.arrive(heavy, {"toc2_new_buddies {g:A\nb:one\n}", "toc2_new_buddies {g:A\nb:two\n}",
                        "toc2_new_buddies {g:A\nb:three\n}"});
    tocd.arrive(heavyToo, {"toc2_new_buddies {g:B\nb:four\n}"});
    tocd.arrive(calm, {"toc2_send_im friendly hello"});
    EXPECT_EQ(replies(heavy), (std::vector<std::string>{"NEW_BUDDY_REPLY2:one:added"}));
    EXPECT_TRUE(replies(heavyToo).empty()) << "the account had its turn already";
    EXPECT_EQ(starting(tocd.take(friendly), "IM_IN_ENC2:").size(), 1u);

    tocd.runTurns();
    EXPECT_EQ(replies(heavy), (std::vector<std::string>{"NEW_BUDDY_REPLY2:two:added",
                                                        "NEW_BUDDY_REPLY2:three:added"}));
    EXPECT_EQ(replies(heavyToo), (std::vector<std::string>{"NEW_BUDDY_REPLY2:four:added"}));
}

// The first message written to `user` since the last look, "" when none.
std::string firstAnswer(InProcessServer& tocd, int user) {
    const auto messages = tocd.take(user);
    return messages.empty() ? "" : messages.front();
}

// An attacker guessing one account's password, on a clock of the test's own. A burst from one
// address reserves its guesses before any check ends: only the address's 5 are checked, the
// right password among them or not. Fresh addresses share the account's budget for addresses
// that never signed on to it; the owner, from an address they signed on from before, is never
// refused, neither at sign-on nor in a password change, nor are many accounts signing on at
// once from the address each knows.
TEST(Rules, GuessesAreReservedBeforeTheirCheckAndFreshAddressesShareAnHourlyBudget) {
    qint64 now = 0;
    auto options = InProcessServer::optionsForTests();
    options.clock = [&now] { return now; };
    options.signOnBurst = 0;
    InProcessServer tocd(options);
    tocd.leave(tocd.signOn("victim"));  // created from 127.0.0.1 with "pw"
    const auto guess = [&](const std::string& from, const std::string& password) {
        const int user = tocd.connect(from);
        tocd.send(user, signOnBytes("victim", password));
        return user;
    };
    const auto count = [](const std::vector<std::string>& answers, const std::string& answer) {
        return std::count(answers.begin(), answers.end(), answer);
    };

    // Every 12.5 s for 50 s, 31 wrong passwords and the right one at once from one address.
    std::vector<std::string> answers;
    for (int burst = 0; burst < 5; ++burst, now += 12500) {
        std::vector<int> users;
        for (int i = 0; i < 32; ++i)
            users.push_back(guess("10.0.0.1", i == 31 ? "pw" : "wrong" + std::to_string(i)));
        tocd.finishChecks();
        for (int user : users)
            answers.push_back(firstAnswer(tocd, user));
    }
    // 5 at once, then one more for each 12 s that passed.
    EXPECT_EQ(count(answers, "ERROR:980"), 5 + 4);
    EXPECT_EQ(count(answers, "ERROR:983"), 5 * 32 - 9);
    EXPECT_EQ(count(answers, "SIGN_ON:TOC2.0"), 0);
    const int owner = tocd.signOn("victim");
    EXPECT_EQ(firstAnswer(tocd, owner), "SIGN_ON:TOC2.0");

    // A guess from a fresh address every 10 s for an hour.
    now += 3600 * 1000;  // the budgets are full again
    const qint64 start = now;
    answers.clear();
    for (int i = 0; i < 360; ++i) {
        now = start + 5000 + i * 10000;
        const int user =
            guess("10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200), "wrong");
        tocd.finishChecks();
        answers.push_back(firstAnswer(tocd, user));
    }
    const auto hourly = Server::kUnprovenGuessBurst + 3595 * Server::kUnprovenGuessesPerHour / 3600;
    EXPECT_EQ(count(answers, "ERROR:980"), hourly);
    EXPECT_EQ(count(answers, "ERROR:983"), 360 - hourly);
    // The owner's old address signs on and changes the password at once; an address the
    // account never signed on from waits with the attackers'.
    EXPECT_EQ(firstAnswer(tocd, tocd.signOn("victim")), "SIGN_ON:TOC2.0");
    tocd.say(owner, "toc_change_passwd pw fresh");
    tocd.finishChecks();
    EXPECT_EQ(firstAnswer(tocd, owner), "ADMIN_PASSWD_STATUS:0");
    const int travelling = guess("10.2.0.1", "fresh");
    tocd.finishChecks();
    EXPECT_EQ(firstAnswer(tocd, travelling), "ERROR:983");

    // Twenty people behind one address sign on again all at once: no guessing, all in.
    std::vector<int> users;
    for (int pass = 0; pass < 2; ++pass) {
        users.clear();
        for (int i = 0; i < 20; ++i) {
            users.push_back(tocd.connect("10.3.0.1"));
            tocd.send(users.back(), signOnBytes("neighbour" + std::to_string(i)));
        }
        tocd.finishChecks();
        for (int user : users)
            EXPECT_EQ(firstAnswer(tocd, user), "SIGN_ON:TOC2.0") << pass;
    }
}

// Password checks wait in a queue that takes client addresses in turn, drops the checks of
// clients that left before hashing them (their guesses then do not count), and refuses what
// does not fit at once. A sign-on's deadline does not pass while its password waits.
TEST(Rules, PasswordChecksTakeAddressesInTurnSkipTheGoneAndRefuseTheOverflow) {
    qint64 now = 0;
    auto options = InProcessServer::optionsForTests();
    options.clock = [&now] { return now; };
    options.signOnBurst = 0;
    options.waitingPerAddress = 0;
    options.passwordThreads = 1;
    InProcessServer tocd(options);
    for (const char* name : {"flood0", "flood1", "flood2", "calm"})
        tocd.leave(tocd.signOn(name));

    // Three addresses send five sign-ons each, then a fourth sends one.
    std::vector<int> flood;
    for (int i = 0; i < 15; ++i) {
        flood.push_back(tocd.connect("10.0.0." + std::to_string(i / 5)));
        tocd.send(flood.back(), signOnBytes("flood" + std::to_string(i / 5)));
    }
    const int silent = tocd.connect("10.0.1.1");
    const int calm = tocd.connect("10.0.1.1");
    tocd.send(calm, signOnBytes("calm"));
    // Past every deadline, but those waiting for their check are kept.
    now += 3600 * 1000;
    tocd.server().sweep();
    tocd.finishChecks();
    const auto& order = tocd.answerOrder();
    const auto floodBefore =
        std::count_if(order.begin(), std::find(order.begin(), order.end(), calm),
                      [&](int user) { return std::count(flood.begin(), flood.end(), user) > 0; });
    // The first check ran before calm's came; then one of each flooding address, then calm's.
    EXPECT_EQ(floodBefore, 4);
    EXPECT_EQ(firstAnswer(tocd, calm), "SIGN_ON:TOC2.0");
    for (int user : flood)
        EXPECT_EQ(firstAnswer(tocd, user), "SIGN_ON:TOC2.0");
    tocd.send(silent, signOnBytes("calm"));
    tocd.finishChecks();
    EXPECT_EQ(firstAnswer(tocd, silent), "") << "a silent connection outlived its deadline";

    // Five wrong passwords sent at once, and the clients gone while the first is hashed: only
    // that one counts against the address.
    std::vector<int> gone;
    for (int i = 0; i < 5; ++i) {
        gone.push_back(tocd.connect("10.0.2.1"));
        tocd.send(gone.back(), signOnBytes("calm", "wrong"));
    }
    for (int user : gone)
        tocd.hangUp(user);
    tocd.finishChecks();
    std::vector<std::string> answers;
    for (int i = 0; i < 5; ++i) {
        const int user = tocd.connect("10.0.2.1");
        tocd.send(user, signOnBytes("calm", "wrong"));
        tocd.finishChecks();
        answers.push_back(firstAnswer(tocd, user));
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"ERROR:980", "ERROR:980", "ERROR:980", "ERROR:980",
                                                 "ERROR:983"}));

    // New accounts from 17 addresses, 65 each, all at once. The first is hashed at once; past
    // 64 waiting of one address, or 1024 in all, sign-ons are refused as a busy service.
    static_assert(Server::kMaxChecksPerAddress == 64 && Server::kMaxQueuedChecks == 16 * 64);
    std::vector<std::vector<int>> creators(17);
    for (int i = 0; i < 17 * 65; ++i) {
        creators[i / 65].push_back(tocd.connect("10.1.0." + std::to_string(i / 65)));
        tocd.send(creators[i / 65].back(), signOnBytes("new" + std::to_string(i)));
    }
    tocd.finishChecks();
    for (std::size_t address = 0; address < creators.size(); ++address) {
        answers.clear();
        for (int user : creators[address])
            answers.push_back(firstAnswer(tocd, user));
        const auto served = address == 0 ? 65 : address < 16 ? 64 : 0;
        EXPECT_EQ(answers,
                  [&] {
                      std::vector<std::string> expected(65, "ERROR:981");
                      std::fill_n(expected.begin(), served, "SIGN_ON:TOC2.0");
                      return expected;
                  }())
            << "address " << address;
    }
}

// Names repeated in one invitation count once, and one account invites another at most 3 times
// a minute; the others it invites, and the others who invite it, are not held up by that.
// A profile link works through its minute, on the test's own clock, and not a moment longer.
TEST(Rules, AProfileLinkWorksForItsMinuteOnly) {
    auto options = InProcessServer::optionsForTests();
    qint64 now = 1'000'000;
    options.clock = [&now] { return now; };
    InProcessServer tocd(options);
    tocd.signOn("alice");
    const int bob = tocd.signOn("bob");
    for (const qint64 age : {60'000, 60'001}) {
        tocd.say(bob, "toc_get_info alice");
        const auto link = starting(tocd.take(bob), "GOTO_URL:profile:");
        ASSERT_EQ(link.size(), 1u);
        now += age;
        const int web = tocd.connect();
        tocd.send(web, "GET " + link[0].substr(link[0].find("/profile/")) +
                           " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(tocd.written(web).substr(0, 12), age <= 60'000 ? "HTTP/1.0 200" : "HTTP/1.0 404")
            << "after " << age << " ms";
    }
}

// A removed group takes its buddies with it, and a removed buddy only itself, also from what the
// next sign-on is given.
TEST(Rules, RemovedGroupsAndBuddiesAreGoneForGoodAndNothingElse) {
    InProcessServer tocd;
    int alice = tocd.signOn("alice");
    // The account is read from the store again once its last session has left.
    const auto storedConfiguration = [&] {
        tocd.leave(alice);
        alice = tocd.signOn("alice");
        const auto config = starting(tocd.take(alice), "CONFIG2:");
        return config.size() == 1 ? config[0] : "(" + std::to_string(config.size()) + " CONFIG2)";
    };
    tocd.say(alice, "toc2_new_buddies \"g:Gone\nb:xavier\nb:yvonne\ng:Kept\nb:zed\n\"");
    tocd.say(alice, "toc2_del_group Gone");
    const std::string config = storedConfiguration();
    EXPECT_EQ(config.find("Gone"), std::string::npos) << config;
    EXPECT_EQ(config.find("xavier"), std::string::npos) << config;
    EXPECT_NE(config.find("b:zed"), std::string::npos) << config;
    // Added again, the group starts empty.
    tocd.say(alice, "toc2_new_group Gone");
    const std::string again = storedConfiguration();
    EXPECT_EQ(again.find("yvonne"), std::string::npos) << again;
    // Removing a buddy names the group last: a buddy of the group's own name stays.
    tocd.say(alice, "toc2_new_buddies \"g:Kept\nb:Kept\n\"");
    tocd.say(alice, "toc2_remove_buddy zed Kept");
    const std::string left = storedConfiguration();
    EXPECT_NE(left.find("b:Kept"), std::string::npos) << left;
    EXPECT_EQ(left.find("b:zed"), std::string::npos) << left;
}

TEST(Rules, InvitationsCountOncePerNameAndArePacedPerInviterAndInvitee) {
    qint64 now = 0;
    auto options = InProcessServer::optionsForTests();
    options.clock = [&now] { return now; };
    InProcessServer tocd(options);
    const int alice = tocd.signOn("alice", true, {"toc_chat_join 4 \"Den\""});
    const int dave = tocd.signOn("dave", true, {"toc_chat_join 4 \"Den\""});
    const int bob = tocd.signOn("bob");
    const int carol = tocd.signOn("carol");
    const auto joined = starting(tocd.take(alice), "CHAT_JOIN:");
    ASSERT_EQ(joined.size(), 1u);
    const std::string id = joined[0].substr(10, joined[0].find(':', 10) - 10);
    std::string bobs150;
    for (int i = 0; i < 150; ++i)
        bobs150 += i % 2 ? " bob" : " \"B O B\"";
    const auto invitations = [&](int user) {
        return starting(tocd.take(user), "CHAT_INVITE:").size();
    };

    tocd.say(alice, "toc_chat_invite " + id + " \"come\"" + bobs150);
    EXPECT_EQ(invitations(bob), 1u);
    for (int i = 0; i < 20; ++i)
        tocd.say(alice, "toc_chat_invite " + id + " \"come\"" + bobs150 + " carol");
    EXPECT_EQ(invitations(bob), std::size_t(Server::kInvitationsPerMinute) - 1);
    EXPECT_EQ(invitations(carol), std::size_t(Server::kInvitationsPerMinute));
    tocd.say(dave, "toc_chat_invite " + id + " \"come\" bob");
    EXPECT_EQ(invitations(bob), 1u);
    EXPECT_TRUE(starting(tocd.take(alice), "ERROR:").empty()) << "the inviter is told nothing";
    now += 21000;
    tocd.say(alice, "toc_chat_invite " + id + " \"come\" bob");
    EXPECT_EQ(invitations(bob), 1u) << "one more for each 20 s";
    tocd.say(alice, "toc_chat_invite " + id + " \"come\" bob");
    EXPECT_EQ(invitations(bob), 0u);
}

// The store's connection inside this process (the server's, there is one at a time), so that a
// test can make its database refuse writes.
QSqlQuery storeQuery(const QString& sql) {
    const QStringList names = QSqlDatabase::connectionNames().filter(QStringLiteral("tocd-store-"));
    QSqlQuery q(QSqlDatabase::database(names.value(0), false));
    EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
    q.next();
    return q;
}

// A write the database refuses is logged with its cause and answered; nothing of it stays,
// neither in the server's memory nor half of a new account in the database.
TEST(Store, EveryRefusedWriteIsLoggedWithItsCauseAndAnswered) {
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { logged << m; });
    QTemporaryDir dir;
    Options options = InProcessServer::optionsForTests();
    options.database = dir.filePath(QStringLiteral("full.db"));
    {
        InProcessServer tocd(options);
        const int alice = tocd.signOn("alice");
        ASSERT_EQ(starting(tocd.take(alice), "SIGN_ON").size(), 1u);
        // The disk is full: the database may not grow by one page.
        const int pages = storeQuery(QStringLiteral("PRAGMA page_count")).value(0).toInt();
        storeQuery(QStringLiteral("PRAGMA max_page_count = %1").arg(pages));
        std::vector<std::string> answers;
        std::size_t added = 0;
        while (answers.empty() && added < 400) {
            tocd.say(alice, "toc2_new_buddies {g:Buddies\nb:buddy" + std::to_string(added++) +
                                "xxxxxxxx\n}");
            answers = starting(tocd.take(alice), "ERROR:");
        }
        ASSERT_EQ(answers, std::vector<std::string>{std::string(Server::kNotStored)});
        EXPECT_TRUE(logged.contains(
            QStringLiteral("database write failed: a new buddy of alice not saved: database or "
                           "disk is full")))
            << logged.join('\n').toStdString();
        const int newcomer = tocd.signOn("newcomer");
        EXPECT_EQ(tocd.take(newcomer), std::vector<std::string>{std::string(Server::kNotStored)});
        EXPECT_EQ(storeQuery(QStringLiteral("SELECT (SELECT COUNT(*) FROM accounts WHERE name = "
                                            "'newcomer') + (SELECT COUNT(*) FROM groups WHERE "
                                            "account = 'newcomer')"))
                      .value(0)
                      .toInt(),
                  0);
        tocd.leave(alice);

        // Read-only: even a removal fails, and says so.
        storeQuery(QStringLiteral("PRAGMA max_page_count = 1000000"));
        const int again = tocd.signOn("alice");
        std::string config;
        for (const auto& part : starting(tocd.take(again), "CONFIG2:"))
            config += part;
        ASSERT_GE(added, 2u);
        EXPECT_NE(config.find("b:buddy" + std::to_string(added - 2) + "xxxxxxxx\n"),
                  std::string::npos);
        EXPECT_EQ(config.find("b:buddy" + std::to_string(added - 1) + "xxxxxxxx\n"),
                  std::string::npos)
            << "the refused buddy is not kept";
        storeQuery(QStringLiteral("PRAGMA query_only = 1"));
        tocd.say(again, "toc2_remove_buddy buddy0xxxxxxxx Buddies");
        tocd.say(again, "toc_set_info \"hello\"");
        EXPECT_EQ(starting(tocd.take(again), "ERROR:"),
                  std::vector<std::string>(2, std::string(Server::kNotStored)));
        EXPECT_TRUE(logged.contains(
            QStringLiteral("database write failed: a buddy's removal of alice not saved: attempt "
                           "to write a readonly database")))
            << logged.join('\n').toStdString();
    }
    qInstallMessageHandler(previous);
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
    // A start that fails leaves no database behind; a served one is served once.
    const QString served = dir.filePath(QStringLiteral("served.db"));
    lantry::testing::TocdProcess busy;
    ASSERT_TRUE(busy.start({"--db", served}));
    const QString taken = QStringLiteral("127.0.0.1:%1").arg(busy.port());
    const QString unborn = dir.filePath(QStringLiteral("unborn.db"));
    logs.push_back(tocdLog({"--listen", taken, "--db", unborn}));
    EXPECT_TRUE(logs.back().contains("cannot listen on " + taken + ": "))
        << logs.back().toStdString();
    logs.push_back(tocdLog({"--listen", "127.0.0.1:0", "--db", unborn, "--keepalive", "soon"}));
    EXPECT_FALSE(QFile::exists(unborn));
    logs.push_back(tocdLog({"--listen", "localhost:0", "--db", served}));
    EXPECT_TRUE(logs.back().contains(QStringLiteral("cannot use the database %1: another tocd "
                                                    "(process %2) is serving it")
                                         .arg(served)
                                         .arg(busy.processId())))
        << logs.back().toStdString();
    logs.push_back(tocdLog({"--listen", "no.such.host.invalid:0"}));
    EXPECT_TRUE(logs.back().contains("--listen needs HOST:PORT")) << logs.back().toStdString();

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

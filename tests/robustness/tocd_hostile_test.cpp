// tocd against hostile clients while two sessions exchange messages, none of which may be lost,
// and its memory stays bounded. Tests print "figure NAME VALUE" lines for bench/report.py.
#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "harness.h"
#include "server_process.h"

namespace {

using namespace tocd::testing;

#if defined(__SANITIZE_ADDRESS__)
constexpr std::int64_t kMemoryFactor = 4;  // for AddressSanitizer's shadow and quarantine
#else
constexpr std::int64_t kMemoryFactor = 1;
#endif

void figure(const std::string& oneWord, double value) {
    std::printf("figure %s %.10g\n", oneWord.c_str(), value);
    std::fflush(stdout);
}

// A raw sign-on from 127.0.0.`host`, once it was answered (or closed unanswered).
std::unique_ptr<RawSession> signOn(int port, const std::string& name, const std::string& password,
                                   std::uint32_t host = 1) {
    auto c = std::make_unique<RawSession>(port, name, password, (127u << 24) | host);
    (void)QTest::qWaitFor(
        [&] {
            const bool closed = c->drain();
            return closed || c->input.find("SIGN_ON:") != std::string::npos ||
                   c->input.find("ERROR:") != std::string::npos;
        },
        kWaitMs);
    return c;
}

// "SIGN_ON", "ERROR:NNN" or "" for what a sign-on received first.
std::string answer(const RawClient& c) {
    if (c.input.find("SIGN_ON:") != std::string::npos)
        return "SIGN_ON";
    const auto error = c.input.find("ERROR:");
    return error == std::string::npos ? "" : c.input.substr(error, 9);
}

class Hostile : public ::testing::Test {
protected:
    // Before any tocd starts, so that tocd inherits the raised descriptor limit too.
    static void SetUpTestSuite() {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    void SetUp() override {
        ASSERT_TRUE(tocd.start(
            QStringLiteral(TOCD_PATH),
            {"--listen", "127.0.0.1:0", "--login-timeout", "3", "--keepalive", "0", "--rate-burst",
             "0", "--password-cost", "min", "--open-registration-rate", "0"},
            std::getenv("ONDREL_TOCD_LOG") == nullptr))
            << tocd.errorText().toStdString();
        ASSERT_NE(alice.login("alice", "secret", tocd.port()), "");
        ASSERT_NE(bob.login("bobby", "secret", tocd.port()), "");
        startRss = tocd.residentBytes();
    }

    // alice sends `count` IMs to bob; every one must arrive, in order.
    void expectNothingLost(int count, const std::string& phase) {
        for (int i = 0; i < count; ++i)
            alice.control.SendIM("bobby", phase + " " + std::to_string(i), false);
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(bob.next("InstantMessage(", 15000),
                      "InstantMessage(alice," + phase + " " + std::to_string(i) + ",false, O )");
        }
        EXPECT_TRUE(alice.seen("WinsockError").empty() && bob.seen("WinsockError").empty());
    }

    lantry::testing::ServerProcess tocd;
    Client alice, bob;
    std::int64_t startRss = 0;
};

TEST_F(Hostile, GarbageAndLyingFramesEndOnlyTheirOwnConnection) {
    const std::string greeting = "FLAPON\r\n\r\n";
    const std::string bigFrame = clientFrame(2, std::string(65535, 'A'), 0);
    const std::pair<const char*, std::string> cases[] = {
        {"garbage_before_the_greeting", std::string("\x01\x02\xff garbage\0\n\n", 14)},
        {"garbage_after_the_greeting", greeting + "garbage that is not a frame"},
        {"garbage_after_sign-on", signOnBytes("mallory") + "\xff\xfe junk"},
        {"length_field_beyond_the_command_limit",
         greeting + std::string("*\x02\x00\x00\xff\xff", 6)},
        {"64_KiB_frame", greeting + bigFrame},
        {"64_KiB_frame_after_sign-on", signOnBytes("trudy") + bigFrame},
        {"empty_command", signOnBytes("oscar") + clientFrame(2, std::string(1, '\0'), 3)},
        {"unknown_frame_type", signOnBytes("peggy") + clientFrame(9, "x", 3)},
        {"zero-length_frame_before_sign-on", greeting + clientFrame(2, "", 0)},
        // A frame that promises more than it brings waits only until the sign-on deadline.
        {"short_frame_login_timeout_3_s", greeting + std::string("*\x01\x00\x00\x01\x00"
                                                                 "abc",
                                                                 9)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        RawClient raw(tocd.port());
        raw.send(bytes);
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(raw.closedWithin(10000)) << "tocd kept the connection open";
        figure(std::string("close_ms_") + name, clock.elapsed());
        expectNothingLost(20, name);
    }
}

// 40 members with the longest names allowed fill a room: a newcomer hears of every one, in member
// lists cut into messages of at most 1 KiB.
TEST_F(Hostile, EveryMemberOfACrowdedRoomIsAnnouncedToANewcomer) {
    std::vector<std::unique_ptr<RawSession>> members;
    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "member" + std::to_string(100 + i);
        const std::string formatted = name.substr(0, 1) + std::string(23, ' ') + name.substr(1);
        names.insert(formatted);
        members.push_back(std::make_unique<RawSession>(tocd.port(), name));
        members.back()->command("toc_format_nickname \"" + formatted + "\"");
        members.back()->command("toc_chat_join 4 \"Crowd\"");
        ASSERT_TRUE(members.back()->sync());  // signed on, so no longer among those waiting
    }
    RawSession newcomer(tocd.port(), "newcomer");
    newcomer.command("toc_chat_join 4 \"Crowd\"");
    ASSERT_TRUE(newcomer.sync());
    names.insert("newcomer");
    std::set<std::string> announced;
    const auto lists = newcomer.seen("CHAT_UPDATE_BUDDY:");
    for (const auto& list : lists) {
        EXPECT_LE(list.size(), 1024u);
        const auto fields = lantry::wire::cutAllFields(list);
        ASSERT_GE(fields.size(), 4u) << list;
        EXPECT_EQ(fields[2], "T");
        for (std::size_t i = 3; i < fields.size(); ++i)
            announced.emplace(fields[i]);
    }
    EXPECT_GT(lists.size(), 1u);
    EXPECT_EQ(announced, names);
    expectNothingLost(20, "beside the crowded room");
}

TEST_F(Hostile, AClientThatNeverReadsIsCutOffWithBoundedMemory) {
    RawClient slow(tocd.port());
    const int size = 4096;
    ::setsockopt(slow.fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    slow.send(signOnBytes("slowpoke"));
    // Signed on and visible before the flood: a refusal can then only mean the cut-off.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return slow.drain(), slow.input.find("CONFIG2:") != std::string::npos; }, kWaitMs));
    bob.control.GetStatus("slowpoke");
    ASSERT_NE(bob.next("BuddyUpdate(slowpoke,true"), "");
    // bob floods it until tocd gives up on it (at most 40 MiB).
    const std::string text(1900, 'z');
    std::size_t sent = 0;
    QElapsedTimer clock;
    clock.start();
    std::int64_t peak = 0;
    bool cutOff = false;
    for (int round = 0; round < 400 && !cutOff && clock.elapsed() < 60000; ++round) {
        for (int i = 0; i < 50; ++i, sent += text.size())
            bob.control.SendIM("slowpoke", text, false);
        QTest::qWait(10);
        peak = std::max(peak, tocd.residentBytes());
        cutOff = !bob.seen("Error(901,").empty();
    }
    EXPECT_TRUE(cutOff) << "tocd kept queueing for a client that never reads";
    figure("never_reading_bytes_sent_until_cut", sent);
    figure("never_reading_ms_until_cut", clock.elapsed());
    figure("never_reading_rss_growth_bytes", peak - startRss);
    EXPECT_LT(peak - startRss, kMemoryFactor * (64ll << 20));
    expectNothingLost(50, "after the stalled client");
}

// tocd holds at most 32 connections of one address that have not signed on (its default) and
// closes the others at once, so other addresses are still served.
TEST_F(Hostile, TenThousandHalfOpenConnectionsFromOneAddressAreHeldToItsLimit) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    // Fewer where the descriptor limit does not allow them (half_open_connections says so).
    const int count = static_cast<int>(std::min<rlim_t>(10000, limit.rlim_cur - 200));
    const int startDescriptors = tocd.openDescriptors();
    int peakDescriptors = startDescriptors;
    std::vector<std::unique_ptr<RawClient>> halfOpen;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count && clock.elapsed() < 60000; ++i) {
        halfOpen.push_back(std::make_unique<RawClient>(tocd.port(), false));
        if (i % 2 == 1)
            halfOpen.back()->send("FLAP");  // stops inside the greeting
        if (i % 50 == 49) {
            QTest::qWait(5);  // so that the listen queue never overflows
            peakDescriptors = std::max(peakDescriptors, tocd.openDescriptors());
        }
    }
    QTest::qWait(1000);
    const double growth = tocd.residentBytes() - startRss;
    figure("half_open_connections", halfOpen.size());
    figure("half_open_rss_growth_bytes", growth);
    figure("half_open_bytes_per_connection", growth / halfOpen.size());
    figure("half_open_tocd_descriptors_at_peak", peakDescriptors);
    figure("half_open_closed_at_once",
           std::count_if(halfOpen.begin(), halfOpen.end(), [](auto& c) { return c->drain(); }));
    EXPECT_LE(peakDescriptors, startDescriptors + 32 + 4) << "tocd held more than 32 of them";
    expectNothingLost(50, "among half-open connections");
    RawClient late(tocd.port(), true, INADDR_LOOPBACK + 1);
    late.send(signOnBytes("latecomer"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return late.drain(), late.input.find("SIGN_ON:") != std::string::npos; }, kWaitMs))
        << "another address could not sign on";

    // The sign-on deadline (3 s) closes the ones it held.
    QElapsedTimer closing;
    closing.start();
    const bool released =
        QTest::qWaitFor([&] { return tocd.openDescriptors() <= startDescriptors + 3; }, 30000);
    figure("half_open_seconds_until_released", closing.elapsed() / 1000.0);
    EXPECT_TRUE(released) << tocd.openDescriptors() << " descriptors still open in tocd";
    expectNothingLost(20, "after the half-open connections were closed");
    EXPECT_LT(growth, kMemoryFactor * (256ll << 20));
}

// Run with few descriptors, tocd holds the connections it can serve and leaves the rest waiting
// to be accepted, instead of running out; those it holds keep working, and it accepts again as
// soon as some of them close.
TEST_F(Hostile, AtItsDescriptorLimitTocdServesWhatItHoldsAndAcceptsAgainWhenSomeClose) {
    constexpr int kDescriptors = 160;
    constexpr int kClients = 200;
    constexpr int kLeaving = 20;
    lantry::testing::ServerProcess limited;
    ASSERT_TRUE(
        limited.start(QStringLiteral("prlimit"),
                      {QStringLiteral("--nofile=%1:%1").arg(kDescriptors), "--",
                       QStringLiteral(TOCD_PATH), "--listen", "127.0.0.1:0", "--keepalive", "0",
                       "--password-cost", "min", "--open-registration-rate", "0", "--signon-burst",
                       "0", "--waiting-per-address", "0", "--rate-burst", "0"},
                      std::getenv("ONDREL_TOCD_LOG") == nullptr))
        << limited.errorText().toStdString();
    std::vector<std::unique_ptr<RawSession>> crowd;
    // Each from an address of its own: on a busy machine the checks of one address would pass
    // its allowance of waiting checks and be refused, which is not what this test is about.
    for (int i = 0; i < kClients; ++i)
        crowd.push_back(std::make_unique<RawSession>(limited.port(), "crowd" + std::to_string(i),
                                                     "pw", INADDR_LOOPBACK + 1 + i));
    const auto signedOn = [&] {
        std::vector<RawSession*> out;
        for (auto& c : crowd) {
            c->drain();
            if (c->input.find("SIGN_ON:") != std::string::npos)
                out.push_back(c.get());
        }
        return out;
    };
    // The count settles below the crowd: the others are never accepted.
    std::size_t held = 0;
    (void)QTest::qWaitFor(
        [&] {
            const std::size_t before = held;
            QTest::qWait(500);
            held = signedOn().size();
            return held > 0 && held == before;
        },
        30000);
    ASSERT_TRUE(limited.running()) << "tocd died at its descriptor limit";
    ASSERT_GT(held, 0u);
    ASSERT_LT(held, static_cast<std::size_t>(kClients)) << "tocd accepted more than it may hold";
    EXPECT_LE(limited.openDescriptors(), kDescriptors);
    const auto echoed = [&](RawSession& c, const std::string& text) {
        c.command("toc2_send_im echobot \"" + text + "\"");
        return QTest::qWaitFor(
            [&] { return c.drain(), c.input.find(":" + text) != std::string::npos; }, kWaitMs);
    };
    for (RawSession* c : signedOn())
        EXPECT_TRUE(echoed(*c, "still served")) << "a session tocd held stopped working";

    // Some leave: as many of the waiting ones are taken up and sign on.
    std::erase_if(crowd, [&, left = 0](const auto& c) mutable {
        return c->input.find("SIGN_ON:") != std::string::npos && left++ < kLeaving;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return signedOn().size() >= held; }, 30000))
        << signedOn().size() << " of " << held << " after " << kLeaving << " left";
    ASSERT_TRUE(limited.running());
    for (auto& c : crowd)
        EXPECT_FALSE(c->drain() && c->input.find("SIGN_ON:") != std::string::npos)
            << "tocd closed a session it held";
    RawSession* late = signedOn().back();
    EXPECT_TRUE(echoed(*late, "accepted late"));
}

TEST_F(Hostile, AClientSigningOnAHundredTimesASecondIsRefusedNotServed) {
    // One account signs on 100 times a second for 3 seconds, each time on a fresh connection
    // dropped once answered: served, refused as too often, or as one session too many; or
    // closed unanswered at once, while 32 others of the address wait to sign on.
    const std::string kinds[] = {"SIGN_ON", "ERROR:983", "ERROR:913"};
    int answers[3] = {}, closedAtOnce = 0, unanswered = 0;
    QElapsedTimer clock;
    clock.start();
    for (int second = 0; second < 3; ++second) {
        std::vector<std::unique_ptr<RawClient>> open;
        const auto stillOpen = [&] {
            for (auto& c : open) {
                for (int k = 0; c && k < 3; ++k) {
                    if (c->drain(), c->input.find(kinds[k]) != std::string::npos) {
                        ++answers[k];
                        c.reset();
                    }
                }
                if (c && c->drain()) {
                    ++closedAtOnce;
                    c.reset();
                }
            }
            return std::count_if(open.begin(), open.end(), [](auto& c) { return c != nullptr; });
        };
        for (int i = 0; i < 100; ++i) {
            open.push_back(std::make_unique<RawClient>(tocd.port()));
            open.back()->send(signOnBytes("flooder"));
            if (i % 10 == 9)
                QTest::qWait(5);
            stillOpen();
        }
        (void)QTest::qWaitFor([&] { return stillOpen() == 0; }, 10000);
        unanswered += static_cast<int>(stillOpen());
        expectNothingLost(10, "during the sign-on flood");
        QTest::qWait(static_cast<int>(std::max<qint64>(0, (second + 1) * 1000 - clock.elapsed())));
    }
    figure("flood_signons_per_second", 300.0 * 1000.0 / clock.elapsed());
    figure("flood_signons_served", answers[0]);
    figure("flood_signons_refused_983", answers[1]);
    figure("flood_signons_refused_913", answers[2]);
    figure("flood_connections_closed_at_once", closedAtOnce);
    figure("flood_rss_growth_bytes", tocd.residentBytes() - startRss);
    EXPECT_GT(answers[1], 0) << "tocd never limited the flood";
    EXPECT_EQ(unanswered, 0) << "sign-ons that got no answer at all";
}

// Sign-ons sent at once from `from`: how many got each answer ("" for closed unanswered).
std::map<std::string, int> burstAnswers(int port, const std::string& name,
                                        const std::vector<std::string>& passwords,
                                        const std::function<std::uint32_t(int)>& from) {
    std::vector<std::unique_ptr<RawSession>> burst;
    for (std::size_t i = 0; i < passwords.size(); ++i)
        burst.push_back(std::make_unique<RawSession>(port, name, passwords[i], from(int(i))));
    std::map<std::string, int> answers;
    for (auto& c : burst) {
        (void)QTest::qWaitFor([&] { return c->drain() || !answer(*c).empty(); }, kWaitMs);
        ++answers[answer(*c)];
    }
    return answers;
}

// An attacker at one account. Guesses are reserved before their check: a burst from one address
// is checked only up to the address's 5 a minute, bursts from fresh addresses only up to the
// account's 10 (then 30 an hour) for addresses that never signed on to it. The owner, from the
// address they signed on from before, gets in at once all the while; an address new to the
// account waits with the attackers'. Wrong old passwords in a password change count per
// address (ERROR:911).
TEST_F(Hostile, PasswordGuessesAreLimitedWithoutLockingTheOwnerOut) {
    const auto guessed = [](int i) { return "guessed" + std::to_string(i); };
    for (int i = 1; i <= 6; ++i)
        ASSERT_EQ(answer(*signOn(tocd.port(), guessed(i), "right", 9)), "SIGN_ON");
    // One address guesses once at each of five accounts; its sixth guess is refused.
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(answer(*signOn(tocd.port(), guessed(i), "wrong", 2)), "ERROR:980") << i;
    EXPECT_EQ(answer(*signOn(tocd.port(), guessed(6), "wrong", 2)), "ERROR:983");

    std::vector<std::string> passwords(31, "wrong");
    passwords.push_back("right");
    ASSERT_EQ(answer(*signOn(tocd.port(), "victim", "right", 9)), "SIGN_ON");
    // The right password, sent last, is checked only if it came early enough; a right one
    // gives its reservation back, so the wrong ones checked are the budget either way.
    auto one = burstAnswers(tocd.port(), "victim", passwords, [](int) { return 0x7f000004u; });
    figure("guesses_checked_burst_of_32_one_address", one["ERROR:980"]);
    EXPECT_EQ(one["ERROR:980"], 5);
    EXPECT_EQ(one["ERROR:983"] + one["SIGN_ON"], 27);
    auto many = burstAnswers(tocd.port(), "victim", passwords,
                             [](int i) { return 0x7f000100u + std::uint32_t(i); });
    figure("guesses_checked_burst_of_32_fresh_addresses", many["ERROR:980"]);
    EXPECT_EQ(one["ERROR:980"] + many["ERROR:980"], 10);
    EXPECT_EQ(many["ERROR:983"] + many["SIGN_ON"], 27);
    EXPECT_EQ(answer(*signOn(tocd.port(), "victim", "right", 9)), "SIGN_ON") << "the owner";
    EXPECT_EQ(answer(*signOn(tocd.port(), "victim", "right", 0x200)), "ERROR:983");

    for (int i = 0; i < 5; ++i)
        bob.control.ChangePassword("wrong", "new");
    bob.control.ChangePassword("secret", "new");
    bob.sync();
    EXPECT_EQ(bob.seen("Error(911,").size(), 6u);
    EXPECT_TRUE(bob.seen("PasswordChanged").empty());

    // Clients that hang up while their password is checked are let go of quietly.
    for (int i = 0; i < 20; ++i)
        RawSession(tocd.port(), "alice", "secret");
    expectNothingLost(20, "after the guesses");
}

// One address creates twenty accounts at once (the default, room for a local demo), then no
// more for a while; texts are refused past 1024 bytes, a configuration past 32 KiB.
TEST_F(Hostile, AnAddressCreatesFewAccountsEachHoldingBoundedData) {
    lantry::testing::ServerProcess defaults;
    ASSERT_TRUE(defaults.start(QStringLiteral(TOCD_PATH),
                               {"--listen", "127.0.0.1:0", "--password-cost", "min"}, true));
    constexpr int kDefaultRate = 20;
    for (int i = 1; i <= kDefaultRate; ++i)
        EXPECT_EQ(answer(*signOn(defaults.port(), "new" + std::to_string(i), "pw")), "SIGN_ON");
    const std::string next = "new" + std::to_string(kDefaultRate + 1);
    EXPECT_EQ(answer(*signOn(defaults.port(), next, "pw")), "ERROR:983");
    EXPECT_EQ(answer(*signOn(defaults.port(), "new1", "pw")), "SIGN_ON");
    EXPECT_EQ(answer(*signOn(defaults.port(), next, "pw", 2)), "SIGN_ON");

    auto hoarder = signOn(tocd.port(), "hoarder", "pw");
    hoarder->command("toc_set_info \"" + std::string(1024, 'p') + "\"");
    hoarder->command("toc_set_away \"" + std::string(1024, 'a') + "\"");
    hoarder->command("toc_get_status echobot");
    ASSERT_TRUE(receivedWithin(*hoarder, "UPDATE_BUDDY2:EchoBot"));
    EXPECT_EQ(hoarder->input.find("ERROR:"), std::string::npos) << "1024 bytes were refused";
    hoarder->command("toc_set_info \"" + std::string(1025, 'p') + "\"");
    EXPECT_TRUE(receivedWithin(*hoarder, "ERROR:911"));
    hoarder->input.clear();
    hoarder->command("toc_set_away \"" + std::string(1025, 'a') + "\"");
    EXPECT_TRUE(receivedWithin(*hoarder, "ERROR:911"));
    // 486 buddies with 64-byte aliases (at most 72 bytes each): more than 32 KiB, fewer than 500.
    for (int c = 0; c < 18; ++c) {
        std::string list = "g:G\n";
        for (int i = 0; i < 27; ++i)
            list += "b:b" + std::to_string(c * 27 + i) + ":" + std::string(64, 'x') + "\n";
        hoarder->command("toc2_new_buddies \"{" + list + "}\"");
    }
    hoarder->command("toc_get_status echobot");
    hoarder->input.clear();
    ASSERT_TRUE(receivedWithin(*hoarder, "UPDATE_BUDDY2:EchoBot", 15000));
    std::size_t added = 0;
    for (auto at = hoarder->input.find("NEW_BUDDY_REPLY2:"); at != std::string::npos;
         at = hoarder->input.find("NEW_BUDDY_REPLY2:", at + 1)) {
        ++added;
    }
    figure("config_bytes_buddies_with_64_byte_aliases_stored", added);
    EXPECT_NE(hoarder->input.find("ERROR:913"), std::string::npos) << added << " buddies added";
    // As a configuration text: the new account's group and echobot, group G, then one line a
    // buddy. What was stored fits in 32 KiB; the first buddy refused would not have.
    const auto line = [](std::size_t i) {
        return "b:b" + std::to_string(i) + ":" + std::string(64, 'x') + "\n";
    };
    std::string stored = "g:Buddies\nb:echobot\ng:G\n";
    for (std::size_t i = 0; i < added; ++i)
        stored += line(i);
    EXPECT_LE(stored.size(), 32u * 1024);
    EXPECT_GT(stored.size() + line(added).size(), 32u * 1024);
}

// One inviter names bob 150 times in each of 20 invitations: bob hears of 3.
TEST_F(Hostile, AnInvitationFloodReachesItsTargetThreeTimesAMinute) {
    RawSession mallory(tocd.port(), "mallory");
    mallory.command("toc_chat_join 4 \"Lure\"");
    ASSERT_TRUE(mallory.sync());
    const auto joined = mallory.seen("CHAT_JOIN:");
    ASSERT_EQ(joined.size(), 1u);
    const std::string id = joined[0].substr(10, joined[0].find(':', 10) - 10);
    std::string names;
    for (int i = 0; i < 150; ++i)
        names += " bobby";
    for (int i = 0; i < 20; ++i)
        mallory.command("toc_chat_invite " + id + " \"come\"" + names);
    ASSERT_TRUE(mallory.sync());
    bob.sync();
    figure("invitations_delivered_of_3000", bob.seen("ChatInvite(").size());
    EXPECT_EQ(bob.seen("ChatInvite(").size(), 3u);
    expectNothingLost(20, "after the invitation flood");
}

// A changed password ends the account's other sessions: they signed on with the old one.
TEST_F(Hostile, ChangingThePasswordEndsTheOtherSessions) {
    auto changer = signOn(tocd.port(), "victim", "pw");
    auto thief = signOn(tocd.port(), "victim", "pw", 2);
    ASSERT_EQ(answer(*thief), "SIGN_ON");
    changer->command("toc_change_passwd pw fresh");
    EXPECT_TRUE(receivedWithin(*changer, "ADMIN_PASSWD_STATUS:0"));
    EXPECT_TRUE(thief->closedWithin()) << "the other session stayed";
    changer->command("toc_get_status echobot");
    EXPECT_TRUE(receivedWithin(*changer, "UPDATE_BUDDY2:EchoBot"));
    EXPECT_EQ(answer(*signOn(tocd.port(), "victim", "fresh", 3)), "SIGN_ON");
}

}  // namespace

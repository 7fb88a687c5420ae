// The moving-average rate class: a server's verdicts, and a sender that paces by it so that a
// server applying the class never drops or disconnects, on a fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ondrel/rate_class.h"

namespace lantry {
namespace {

using Verdict = RateAverage::Verdict;

TEST(RateClassTest, TheServerDropsBelowTheLimitStaysLimitedAndDisconnectsBelowItsFloor) {
    RateAverage server;
    server.reset(0);
    std::vector<Verdict> burst;
    for (int i = 0; i < 15; ++i)
        burst.push_back(server.count(0));
    // 6000 × 0.95^n: seven stay at or above 4000, six more above 3000 are dropped.
    std::vector<Verdict> expected(7, Verdict::Passed);
    expected.insert(expected.end(), 6, Verdict::Dropped);
    expected.insert(expected.end(), 2, Verdict::Disconnect);
    EXPECT_EQ(burst, expected);

    // Limited, a gap that brings the average back above 4000 but not to 5100 is still dropped.
    RateAverage limited;
    limited.reset(0);
    for (int i = 0; i < 8; ++i)
        limited.count(0);
    ASSERT_TRUE(limited.limited());
    EXPECT_EQ(limited.count(20000), Verdict::Dropped) << limited.average();
    EXPECT_GE(limited.average(), 4000);
    EXPECT_EQ(limited.count(60000), Verdict::Passed) << limited.average();
    EXPECT_FALSE(limited.limited());

    // The average never exceeds its cap, however long the pause.
    RateAverage rested;
    rested.reset(0);
    rested.count(1'000'000);
    EXPECT_EQ(rested.average(), 6000);
}

// A sender that sends each command at its earliest time, and the server that judges them.
struct PacedRun {
    std::vector<std::int64_t> sentAt;
    int dropped = 0;
    int disconnects = 0;
};

PacedRun pace(int commands, RateAverage& sender, RateAverage& server, std::int64_t lateness) {
    PacedRun run;
    std::int64_t now = 0, arrival = 0;
    for (int i = 0; i < commands; ++i) {
        now = std::max(now, sender.earliestNext(kPacingMarginMs));
        sender.count(now);
        run.sentAt.push_back(now);
        // Every other command reaches the server `lateness` ms late, the next one as soon as
        // it can (never before the one ahead of it).
        arrival = std::max(arrival, now + (i % 2 ? lateness : 0));
        const Verdict v = server.count(arrival);
        run.dropped += v == Verdict::Dropped;
        run.disconnects += v == Verdict::Disconnect;
    }
    return run;
}

TEST(RateClassTest, APacedBurstPassesWholeEvenWhenTheNetworkBunchesIt) {
    for (const std::int64_t lateness : {0, 1000, 3900}) {
        RateAverage sender, server;
        sender.reset(0);
        server.reset(0);
        const PacedRun run = pace(60, sender, server, lateness);
        EXPECT_EQ(run.dropped, 0) << "lateness " << lateness;
        EXPECT_EQ(run.disconnects, 0) << "lateness " << lateness;
        // Six at once, then one every 4.2 s once the average sits at the margin.
        EXPECT_EQ(run.sentAt[5], 0);
        EXPECT_GT(run.sentAt[6], 0);
        EXPECT_NEAR(static_cast<double>(run.sentAt[59] - run.sentAt[58]), 4200, 1);
    }
}

TEST(RateClassTest, AfterADropTheSenderWaitsUntilAStricterServerIsClearAgain) {
    // A server whose limit lies above the sender's margin drops a paced command.
    constexpr RateClass stricter{20, 6000, 6000, 4300, 5100, 3000};
    RateAverage sender, server(stricter);
    sender.reset(0);
    server.reset(0);
    std::int64_t now = 0;
    int drops = 0;
    for (int i = 0; i < 40; ++i) {
        now = std::max(now, sender.earliestNext(kPacingMarginMs));
        sender.count(now);
        const Verdict v = server.count(now);
        ASSERT_NE(v, Verdict::Disconnect) << "command " << i;
        if (v == Verdict::Dropped) {
            ++drops;
            sender.serverDropped();
            EXPECT_TRUE(sender.limited());
            // The next command waits until even the worst average short of a disconnect
            // would be back at the clear level.
            EXPECT_GE(sender.earliestNext(kPacingMarginMs) - now, 20 * 5100 - 19 * 3000);
        }
    }
    EXPECT_GE(drops, 1);
    EXPECT_LE(drops, 40 / 7) << "each drop is followed by a clear stretch";
}

TEST(RateClassTest, TheClassIsTheCommandsThatReachSomeoneElse) {
    const std::string_view inClass[] = {"toc2_send_im bob hi",
                                        "toc_send_im bob hi",
                                        "toc_chat_send 0 x",
                                        "toc_chat_whisper 0 bob x",
                                        "toc_chat_invite 0 x bob",
                                        "toc_evil bob norm",
                                        "toc_get_info bob",
                                        "toc_get_status bob",
                                        "toc2_send_im_enc bob F U en x",
                                        std::string_view("toc_get_info\0", 13)};
    for (const std::string_view line : inClass)
        EXPECT_TRUE(isRateLimitedCommand(line)) << line;
    for (const char* line :
         {"toc_init_done", "toc_set_away", "toc2_new_buddies {g:x}", "toc_chat_join 4 Lobby",
          "toc_send_imx bob", "toc2_client_event bob 2", "", " toc2_send_im bob"})
        EXPECT_FALSE(isRateLimitedCommand(line)) << line;
}

}  // namespace
}  // namespace lantry

// Several hundred controls at once, each messaging two others: every message arrives exactly
// once and in the order it was sent.
#include "harness.h"
#include "tocd_process.h"

namespace tocd::testing {
namespace {

TEST(Load, HundredsOfSessionsDeliverEveryMessageOnceInOrder) {
    constexpr int kSessions = 300;
    constexpr int kMessages = 10;
    lantry::testing::TocdProcess tocd;
    ASSERT_TRUE(tocd.start({"--signon-burst", "0"}));
    const auto name = [](int i) { return "user" + std::to_string(i % kSessions); };
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < kSessions; ++i) {
        clients.push_back(std::make_unique<Client>());
        clients.back()->control.Login(name(i), "pw", "127.0.0.1", tocd.port());
    }
    // tocd tells of echobot once it has handled toc_init_done: from then on the user is visible.
    for (auto& c : clients)
        ASSERT_NE(c->next("BuddyUpdate(EchoBot,true", 30000), "");

    for (int k = 0; k < kMessages; ++k) {
        for (int i = 0; i < kSessions; ++i) {
            clients[i]->control.SendIM(name(i + 1), std::to_string(k).insert(0, 1, 'm'), false);
            clients[i]->control.SendIM(name(i + 7), std::to_string(k).insert(0, 1, 'n'), false);
        }
    }
    const bool done = QTest::qWaitFor(
        [&] {
            return std::all_of(clients.begin(), clients.end(), [](auto& c) {
                return c->seen("InstantMessage(").size() >= 2 * kMessages;
            });
        },
        30000);
    QTest::qWait(200);  // anything extra that was on its way
    EXPECT_TRUE(done);
    // From each of its two senders, a user gets that sender's messages once and in order.
    for (int i = 0; i < kSessions; ++i) {
        for (const auto& [from, text] :
             {std::pair{name(i + kSessions - 1), "m"}, std::pair{name(i + kSessions - 7), "n"}}) {
            std::vector<std::string> expected;
            for (int k = 0; k < kMessages; ++k)
                expected.push_back("InstantMessage(" + from + "," + text + std::to_string(k) +
                                   ",false, O )");
            EXPECT_EQ(clients[i]->seen("InstantMessage(" + from + ","), expected) << name(i);
        }
        EXPECT_EQ(clients[i]->seen("InstantMessage(").size(), 2u * kMessages);
        EXPECT_EQ(clients[i]->seen("Error("), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tocd::testing

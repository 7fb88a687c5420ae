// The control's real socket against a scripted server that applies a real server's rate class
// (ERROR:903 below its limit, a disconnect below its floor): a burst and a long message pace
// through whole, and what is held when the connection ends is accounted for. The class runs
// ten times faster than the real one, so a test takes seconds; its shape is the real one.
#include <gtest/gtest.h>

#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "rate_limited_peer.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

// "m3" from "m" and 3, appended: g++ 12 at -O3 takes "m" + std::to_string(3) for an
// overlapping copy.
std::string numbered(const char* prefix, int i) {
    std::string text = prefix;
    text += std::to_string(i);
    return text;
}

constexpr RateClass kFastClass{20, 600, 600, 400, 510, 300};
constexpr double kFastMargin = kPacingMarginMs / 10;

class PacingE2ETest : public ::testing::Test {
protected:
    PacingE2ETest() : peer(kFastClass) {
        auto socket = std::make_unique<QtSocket>();
        sock = socket.get();
        sock->setRateClass(kFastClass, kFastMargin);
        sock->setHeldHandler([this](int sent, int dropped) {
            heldSent += sent;
            heldDropped += dropped;
        });
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
    }

    bool waitFor(const std::function<bool()>& done, int ms = 30000) {
        return QTest::qWaitFor(done, ms);
    }
    void signOn() {
        peer.accepted.clear();
        control->Login("ratetester", "secret", "127.0.0.1", peer.port());
        ASSERT_TRUE(waitFor([&] { return !peer.accepted.empty(); }));
        ASSERT_EQ(peer.accepted, std::vector<std::string>{"toc_init_done"});
        peer.accepted.clear();
        sink.events.clear();
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> found;
        for (const auto& e : sink.events)
            if (e.starts_with("Error(") || e.starts_with("WinsockError("))
                found.push_back(e);
        return found;
    }

    RateLimitedPeer peer;
    RecordingSink sink;
    QtSocket* sock = nullptr;
    std::unique_ptr<Ondrel> control;
    int heldSent = 0;
    int heldDropped = 0;
};

TEST_F(PacingE2ETest, ABurstAndATenPartMessageArriveWholeAndInOrder) {
    ASSERT_NO_FATAL_FAILURE(signOn());
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        control->SendIM("alice", "burst " + std::to_string(i), false);
        expected.push_back("toc_send_im \"alice\" \"burst " + std::to_string(i) + "\"");
    }
    // A command outside the class waits its turn behind the held ones.
    control->SetAwayMessage("out");
    expected.push_back("toc_set_away \"out\"");
    for (int part = 0; part < 10; ++part) {
        const std::string text(1900, static_cast<char>('a' + part));
        control->SendIM("alice", text, false);
        expected.push_back("toc_send_im \"alice\" \"" + text + "\"");
    }
    // About six go at once (the time since connecting counts too), the rest wait.
    const int held = sock->heldCommands();
    EXPECT_GE(held, 23);
    ASSERT_TRUE(waitFor([&] { return peer.accepted.size() == expected.size(); }))
        << peer.accepted.size() << " arrived, " << peer.dropped << " dropped";
    EXPECT_EQ(peer.accepted, expected);
    EXPECT_EQ(peer.dropped, 0);
    EXPECT_FALSE(peer.disconnected);
    EXPECT_EQ(errors(), std::vector<std::string>{});
    EXPECT_EQ(sock->heldCommands(), 0);
    ASSERT_TRUE(waitFor([&] { return heldSent == held; }));
    EXPECT_EQ(heldDropped, 0);
    // Sustained, one command per (limit + margin) ms of the class.
    const auto& at = peer.acceptedAt;
    EXPECT_GE(at.back() - at[at.size() - 11], 10 * (400 + kFastMargin) - 30);
}

TEST_F(PacingE2ETest, WhatIsHeldWhenTheConnectionEndsIsCountedNeverSentLater) {
    ASSERT_NO_FATAL_FAILURE(signOn());
    for (int i = 0; i < 12; ++i)
        control->SendIM("alice", numbered("m", i), false);
    const int held = sock->heldCommands();
    ASSERT_GE(held, 4);
    peer.hangUp();
    ASSERT_TRUE(waitFor([&] { return !errors().empty(); }));
    EXPECT_EQ(errors(), std::vector<std::string>{"WinsockError(The server closed the connection; " +
                                                 std::to_string(held) +
                                                 " commands waiting to be sent were not sent)"});
    ASSERT_TRUE(waitFor([&] { return heldDropped == held; }));
    EXPECT_EQ(heldSent, 0);

    // Signing off with commands held drops them too, and says so to the handler alone.
    ASSERT_NO_FATAL_FAILURE(signOn());
    for (int i = 0; i < 8; ++i)
        control->SendIM("alice", numbered("n", i), false);
    const int heldAtLogOff = sock->heldCommands();
    ASSERT_GE(heldAtLogOff, 1);
    control->LogOff();
    ASSERT_TRUE(waitFor([&] { return heldDropped == held + heldAtLogOff; }));
    QTest::qWait(2 * (400 + static_cast<int>(kFastMargin)));
    EXPECT_EQ(peer.accepted.size(), static_cast<std::size_t>(8 - heldAtLogOff))
        << "nothing held goes out after the connection";
    EXPECT_EQ(sink.events, std::vector<std::string>{"LoggedOut(ratetester)"});
}

TEST_F(PacingE2ETest, AServerDropSlowsThePacerAndPacingOffSendsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(signOn());
    peer.say("ERROR:903");
    ASSERT_TRUE(waitFor([&] { return !errors().empty(); }));
    control->SendIM("alice", "after a drop", false);
    EXPECT_EQ(sock->heldCommands(), 1) << "a full average no longer counts after a drop";

    sock->setPacing(false);
    EXPECT_EQ(sock->heldCommands(), 0);
    for (int i = 0; i < 3; ++i)
        control->SendIM("alice", "unpaced", false);
    EXPECT_EQ(sock->heldCommands(), 0);
    ASSERT_TRUE(waitFor([&] { return peer.accepted.size() == 4; }));
    EXPECT_EQ(peer.accepted.front(), "toc_send_im \"alice\" \"after a drop\"");
}

}  // namespace
}  // namespace lantry::testing

// Hostile arguments cannot split or extend a command line: whatever a host passes, each command
// goes out as one frame whose line splits back into exactly the arguments given, and a NUL
// byte, which would end the line early, is refused with an Error and not sent.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

using Args = std::vector<std::string>;

class Commands : public ::testing::Test {
protected:
    Commands() {
        auto socket = std::make_unique<FakeSocket>(net);
        sock = socket.get();
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
        control->Login("me", "pw", "127.0.0.1", 5190);
        sock->connectNow();
        net.sent.clear();
    }

    FakeSocket::Record net;
    FakeSocket* sock = nullptr;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

// The builders whose exact lines with escaped bytes tests/engine/commands_test.cpp checks are
// not repeated here.
TEST_F(Commands, ArgumentsSplitBackExactlyWhateverTheyHold) {
    const std::string nasty = "a\" \"b\\ \\\" $(x) [y] {z} \"";
    const std::string name = "Evil\"Name\\ \"x\"";
    const std::string norm = wire::normalizeName(name);
    struct Case {
        const char* what;
        std::function<void(Ondrel&)> call;
        Args expected;
    };
    const Case cases[] = {
        {"GetProfile", [&](Ondrel& o) { o.GetProfile(name); }, {"toc_get_info", norm}},
        {"GetStatus", [&](Ondrel& o) { o.GetStatus(name); }, {"toc_get_status", norm}},
        {"SetAwayMessage", [&](Ondrel& o) { o.SetAwayMessage(nasty); }, {"toc_set_away", nasty}},
        {"ChangePassword",
         [&](Ondrel& o) { o.ChangePassword(nasty, name); },
         {"toc_change_passwd", nasty, name}},
        {"WarnUser", [&](Ondrel& o) { o.WarnUser(name, false); }, {"toc_evil", norm, "norm"}},
        {"RemoveBuddy",
         [&](Ondrel& o) { o.RemoveBuddy(nasty, name); },
         {"toc2_remove_buddy", name, nasty}},
        {"RemoveGroup", [&](Ondrel& o) { o.RemoveGroup(nasty); }, {"toc2_del_group", nasty}},
        {"BlockUser", [&](Ondrel& o) { o.BlockUser(name); }, {"toc2_add_deny", norm}},
        {"UnblockUser", [&](Ondrel& o) { o.UnblockUser(name); }, {"toc2_remove_deny", norm}},
        {"AddPrivateUser", [&](Ondrel& o) { o.AddPrivateUser(name); }, {"toc2_add_permit", norm}},
        {"RemovePrivateUser",
         [&](Ondrel& o) { o.RemovePrivateUser(name); },
         {"toc2_remove_permit", norm}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        net.sent.clear();
        c.call(*control);
        const auto frames = parseFrames(net.sent);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].type, 2);
        const auto args = wire::parseArguments(frames[0].payload);
        ASSERT_TRUE(args.has_value()) << "a quote was left open: " << frames[0].payload;
        EXPECT_EQ(*args, c.expected) << frames[0].payload;
    }
    EXPECT_EQ(sink.events, std::vector<std::string>{});
}

TEST_F(Commands, ANulByteIsRefusedWithAReasonAndTakesNoSequenceNumber) {
    const std::string withNul("ab\0cd", 5);
    const std::function<void(Ondrel&)> calls[] = {
        [&](Ondrel& o) { o.SendIM("bob", withNul, false); },
        [&](Ondrel& o) { o.GetStatus(withNul); },
        [&](Ondrel& o) { o.SendPacket(2, withNul); },
    };
    for (const auto& call : calls) {
        sink.events.clear();
        call(*control);
        EXPECT_EQ(net.sent, "");
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_EQ(sink.events[0].rfind("Error(0,", 0), 0u) << sink.events[0];
        EXPECT_NE(sink.events[0].find("NUL"), std::string::npos) << sink.events[0];
    }
    control->SendIM("bob", "fine", false);
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].sequence, 0);
}

}  // namespace
}  // namespace lantry::testing

// Fault tests of the control on a fake socket: a connection that ends at any byte (the server
// closes it, the socket fails, or the host calls Login again), hosts that sign off, sign on
// again or destroy the control from inside every kind of event, and hostile arguments, which
// can neither split nor extend a command line. Run under the sanitizers and valgrind too
// (scripts/sanitize.sh, scripts/valgrind.sh), where a leak or a touch of freed memory fails
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

using Events = std::vector<std::string>;

std::string signOnFrames() {
    return serverFrame(1, std::string("\0\0\0\1", 4)) + dataFrame("SIGN_ON:TOC2.0");
}

// A first session: its configuration arrives in two parts, then traffic.
std::string firstSession() {
    return signOnFrames() + dataFrame("NICK:Old Name") +
           dataFrame("CONFIG2:m:1\ng:Old\nb:stale1\n") +
           dataFrame("CONFIG2:b:stale2\nd:olddeny\ndone:\n") +
           dataFrame("IM_IN_ENC2:bob:F:F:T: O :F:L:en:old message");
}

// A second session with a different configuration, so that anything left of the first shows.
std::string secondSession() {
    return signOnFrames() + dataFrame("NICK:New Name") +
           dataFrame("CONFIG2:g:New\nb:fresh\ndone:\n") +
           dataFrame("IM_IN_ENC2:carol:F:F:T: O :F:L:en:new message");
}

const Events kSecondSessionEvents = {
    "ScreennameFormat(New Name)",
    "LoggedIn(newname,[[group]New|fresh],[],[],[],,0)",
    "InstantMessage(carol,new message,false, O )",
};

// Every server message a session can carry, each raising its own kind of event.
std::string everyEvent() {
    // One message per '|'.
    const std::string messages =
        "NICK:Some One|CONFIG2:g:G\nb:bob\ndone:\n|ERROR:901:zed|"
        "UPDATE_BUDDY2:bob:T:0:1700000000:0: O :|BUDDY_CAPS2:bob:CAP|BART2:bob:0 2 AAAA|"
        "CHAT_JOIN:1234:Lobby|CHAT_UPDATE_BUDDY:1234:T:bob|CHAT_IN_ENC:1234:bob:F:A:en:hi|"
        "CHAT_INVITE:Games:77:bob:join|CHAT_LEFT:1234|IM_IN_ENC2:bob:F:F:T: O :F:L:en:hello|"
        "INSERTED2:b:Bob:bob:G|INSERTED2:g:G2|INSERTED2:p:pal|INSERTED2:d:foe|"
        "DELETED2:b:bob:G|DELETED2:g:G2|DELETED2:p:pal|DELETED2:d:foe|"
        "GOTO_URL:profile:http://127.0.0.1/p|EVILED:10:bob|ADMIN_NICK_STATUS:0|"
        "ADMIN_PASSWD_STATUS:0|RVOUS_PROPOSE:bob:UUID:cookie:1:1.2.3.4:1.2.3.5:1.2.3.6:5190|"
        "CLIENT_EVENT2:bob:2";
    std::string stream = signOnFrames();
    for (std::size_t at = 0; at < messages.size();) {
        const auto end = std::min(messages.find('|', at), messages.size());
        stream += dataFrame(messages.substr(at, end - at));
        at = end + 1;
    }
    return stream + serverFrame(5, "") + serverFrame(9, "x");
}

std::string nameOf(const std::string& event) {
    return event.substr(0, event.find('('));
}

class Faults : public ::testing::Test {
protected:
    Faults() { recreate(); }

    void recreate() {
        net = FakeSocket::Record{};
        auto socket = std::make_unique<FakeSocket>(net);
        sock = socket.get();
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
        sink.events.clear();
        sink.after = nullptr;
    }

    void connect(const std::string& user = "Some One") {
        control->Login(user, "pw", "127.0.0.1", 5190);
        sock->connectNow();
    }

    // Delivers `stream` in reads of `readSize` bytes while the control lives.
    void deliver(const std::string& stream, std::size_t readSize) {
        for (std::size_t at = 0; at < stream.size() && control; at += readSize)
            sock->arrive(stream.substr(at, readSize));
    }

    FakeSocket::Record net;
    FakeSocket* sock = nullptr;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

TEST_F(Faults, AConnectionEndingAtAnyByteIsReportedOnceAndLeavesNothingForTheNextSignOn) {
    enum class End { ServerCloses, SocketFails, LoginAgain };
    const std::pair<End, Events> ends[] = {
        {End::ServerCloses, {"WinsockError(The server closed the connection)"}},
        {End::SocketFails, {"WinsockError(Connection refused)"}},
        {End::LoginAgain, {}},
    };
    const std::string session = firstSession();
    for (std::size_t cut = 0; cut <= session.size(); ++cut) {
        for (const auto& [end, reported] : ends) {
            SCOPED_TRACE("end " + std::to_string(static_cast<int>(end)) + " after byte " +
                         std::to_string(cut));
            recreate();
            connect();
            deliver(session.substr(0, cut), 7);
            sink.events.clear();
            const int closes = net.closes;
            if (end == End::ServerCloses)
                sock->peerClose();
            else if (end == End::SocketFails)
                sock->fail(10061, "Connection refused");
            else
                control->Login("New Name", "pw", "127.0.0.1", 5190);
            EXPECT_GT(net.closes, closes);
            if (end != End::LoginAgain) {
                EXPECT_NE(net.state, Socket::StateConnected);
                control->Login("New Name", "pw", "127.0.0.1", 5190);
            }
            EXPECT_EQ(net.connects.size(), 2u);
            sock->connectNow();
            deliver(secondSession(), 5);
            // Reported once, and nothing of the first session reaches the second.
            Events expected = reported;
            expected.insert(expected.end(), kSecondSessionEvents.begin(),
                            kSecondSessionEvents.end());
            EXPECT_EQ(sink.events, expected);
        }
    }
}

TEST_F(Faults, HandlersMaySignOffSignOnOrDestroyTheControlInsideAnyEvent) {
    // The kinds of event the stream raises, learned from one undisturbed run, and two that
    // only the end of a connection raises.
    sink.recordPackets = true;
    connect();
    deliver(everyEvent(), 64);
    std::set<std::string> kinds;
    for (const auto& e : sink.events)
        kinds.insert(nameOf(e));
    ASSERT_GE(kinds.size(), 25u) << "the stream no longer reaches every kind of event";
    std::vector<std::pair<std::string, std::function<void()>>> cases;
    for (const auto& kind : kinds)
        cases.emplace_back(kind, nullptr);
    cases.emplace_back("WinsockError", [this] { sock->peerClose(); });
    cases.emplace_back("LoggedOut", [this] { control->LogOff(); });

    enum class Action { LogOff, Login, Destroy };
    for (const auto& [kind, trigger] : cases) {
        for (const std::size_t readSize : {std::size_t{1}, std::size_t{64}, std::size_t{100000}}) {
            for (const Action action : {Action::LogOff, Action::Login, Action::Destroy}) {
                SCOPED_TRACE(kind + " in reads of " + std::to_string(readSize) + ", action " +
                             std::to_string(static_cast<int>(action)));
                recreate();
                std::size_t after = 0;  // events recorded up to the one whose handler acted
                std::size_t sentBefore = 0;
                sink.after = [&](const std::string& name) {
                    if (after != 0 || name != kind)
                        return;
                    after = sink.events.size();
                    sentBefore = net.sent.size();
                    if (action == Action::LogOff)
                        control->LogOff();
                    else if (action == Action::Login)
                        control->Login("Again", "pw", "127.0.0.1", 5190);
                    else
                        control.reset();
                };
                connect();
                deliver(everyEvent(), readSize);
                if (trigger && control)
                    trigger();
                ASSERT_NE(after, 0u);
                if (action == Action::LogOff) {
                    // LogOff inside LoggedOut is not told again.
                    EXPECT_TRUE(kind == "LoggedOut" ||
                                nameOf(sink.events.at(after)) == "LoggedOut");
                    EXPECT_EQ(net.sent.size(), sentBefore) << "sent after LogOff";
                    EXPECT_NE(net.state, Socket::StateConnected);
                } else if (action == Action::Login) {
                    EXPECT_EQ(sink.events.size(), after) << "old connection delivered after Login";
                    EXPECT_EQ(net.connects.size(), 2u);
                } else {
                    EXPECT_EQ(sink.events.size(), after) << "events after destruction";
                    EXPECT_FALSE(net.alive);
                }
            }
        }
    }
}

// The builders whose exact lines with escaped bytes tests/engine/commands_test.cpp checks are
// not repeated here.
TEST_F(Faults, HostileArgumentsSplitBackExactlyWhateverTheyHold) {
    connect();
    net.sent.clear();
    const std::string nasty = "a\" \"b\\ \\\" $(x) [y] {z} \"";
    const std::string name = "Evil\"Name\\ \"x\"";
    const std::string norm = wire::normalizeName(name);
    struct Case {
        const char* what;
        std::function<void(Ondrel&)> call;
        std::vector<std::string> expected;
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

TEST_F(Faults, ANulByteIsRefusedWithAReasonAndTakesNoSequenceNumber) {
    connect();
    net.sent.clear();
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

// Fault tests of the control on a fake socket: a server that vanishes at any byte, socket
// failures while connecting and while signed on, a second Login, and hosts that sign off, sign
// on again or destroy the control from inside every kind of event. Run under the sanitizers
// and valgrind too (scripts/sanitize.sh, scripts/valgrind.sh), where a leak or a touch of freed
// memory fails them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

using Events = std::vector<std::string>;

const std::string kClosed = "WinsockError(The server closed the connection)";

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
    const char* messages[] = {
        "NICK:Some One",
        "CONFIG2:g:G\nb:bob\ndone:\n",
        "ERROR:901:zed",
        "UPDATE_BUDDY2:bob:T:0:1700000000:0: O :",
        "BUDDY_CAPS2:bob:CAP",
        "BART2:bob:0 2 AAAA",
        "CHAT_JOIN:1234:Lobby",
        "CHAT_UPDATE_BUDDY:1234:T:bob",
        "CHAT_IN_ENC:1234:bob:F:A:en:hi",
        "CHAT_INVITE:Games:77:bob:join",
        "CHAT_LEFT:1234",
        "IM_IN_ENC2:bob:F:F:T: O :F:L:en:hello",
        "INSERTED2:b:Bob:bob:G",
        "INSERTED2:g:G2",
        "INSERTED2:p:pal",
        "INSERTED2:d:foe",
        "DELETED2:b:bob:G",
        "DELETED2:g:G2",
        "DELETED2:p:pal",
        "DELETED2:d:foe",
        "GOTO_URL:profile:http://127.0.0.1/p",
        "EVILED:10:bob",
        "ADMIN_NICK_STATUS:0",
        "ADMIN_PASSWD_STATUS:0",
        "RVOUS_PROPOSE:bob:UUID:cookie:1:1.2.3.4:1.2.3.5:1.2.3.6:5190",
        "CLIENT_EVENT2:bob:2",
    };
    std::string stream = signOnFrames();
    for (const char* m : messages)
        stream += dataFrame(m);
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

    // The second sign-on on this control, checked to carry nothing of the first.
    void expectCleanSecondSignOn() {
        sink.events.clear();
        connect("New Name");
        deliver(secondSession(), 5);
        EXPECT_EQ(sink.events, kSecondSessionEvents);
    }

    FakeSocket::Record net;
    FakeSocket* sock = nullptr;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

TEST_F(Faults, ServerClosingAtAnyByteIsReportedAndLeavesNothingForTheNextSignOn) {
    const std::string session = firstSession();
    for (std::size_t cut = 0; cut <= session.size(); ++cut) {
        SCOPED_TRACE("closed after byte " + std::to_string(cut));
        recreate();
        connect();
        deliver(session.substr(0, cut), 7);
        sock->peerClose();
        ASSERT_FALSE(sink.events.empty());
        EXPECT_EQ(sink.events.back(), kClosed);
        EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), kClosed), 1);
        EXPECT_NE(net.state, Socket::StateConnected);
        const auto sent = net.sent.size();
        control->SendIM("bob", "after the close", false);
        EXPECT_EQ(net.sent.size(), sent) << "a command went out on a closed connection";
        expectCleanSecondSignOn();
    }
}

TEST_F(Faults, LoginAgainAtAnyByteStartsAFreshConnection) {
    const std::string session = firstSession();
    for (std::size_t cut = 0; cut <= session.size(); cut += 3) {
        SCOPED_TRACE("Login again after byte " + std::to_string(cut));
        recreate();
        connect();
        deliver(session.substr(0, cut), 11);
        sink.events.clear();
        control->Login("New Name", "pw2", "127.0.0.1", 5190);
        EXPECT_EQ(net.connects.size(), 2u);
        EXPECT_EQ(sink.events, Events{}) << "Login raises nothing of the old connection";
        sock->connectNow();
        deliver(secondSession(), 4);
        EXPECT_EQ(sink.events, kSecondSessionEvents);
    }
}

TEST_F(Faults, SocketErrorsAreReportedOnceAndCloseTheSocket) {
    struct Case {
        const char* name;
        std::string before;  // bytes the server sent before the failure; "-" not connected
    };
    const Case cases[] = {
        {"while connecting", "-"},
        {"right after connecting", ""},
        {"mid-frame", firstSession().substr(0, 13)},
        {"mid-configuration", firstSession().substr(0, firstSession().find("CONFIG2:b:") - 6)},
        {"signed on", firstSession()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recreate();
        control->Login("Some One", "pw", "127.0.0.1", 5190);
        if (c.before != "-") {
            sock->connectNow();
            deliver(c.before, 64);
        }
        sink.events.clear();
        const int closes = net.closes;
        sock->fail(10061, "Connection refused");
        EXPECT_EQ(sink.events, Events{"WinsockError(Connection refused)"});
        EXPECT_GT(net.closes, closes);
        EXPECT_NE(net.state, Socket::StateConnected);
        const auto sent = net.sent.size();
        control->SendIM("bob", "lost?", false);
        control->JoinChat("Lobby", 4);
        EXPECT_EQ(net.sent.size(), sent);
        expectCleanSecondSignOn();
    }
}

TEST_F(Faults, ControlDestroyedWhileConnectingOrFromTheFailureEvent) {
    control->Login("Some One", "pw", "127.0.0.1", 5190);
    control.reset();
    EXPECT_FALSE(net.alive);
    EXPECT_EQ(sink.events, Events{});

    recreate();
    control->Login("Some One", "pw", "127.0.0.1", 5190);
    sink.after = [&](const std::string&) { control.reset(); };
    sock->fail(10060, "Connection timed out");
    EXPECT_FALSE(net.alive);
    EXPECT_EQ(sink.events, Events{"WinsockError(Connection timed out)"});
}

// What a host does from inside an event, and what must hold afterwards.
enum class Action { LogOff, Login, Destroy };

struct Reentry {
    Events events;       // everything recorded, in order
    std::size_t at = 0;  // index of the event whose handler acted
    std::size_t sentAtAction = 0;
    bool acted = false;
};

class EveryEvent : public Faults {
protected:
    // Runs the every-event stream in reads of `readSize`; the first `target` event's handler
    // performs `action`. `trigger` (optional) brings the event about after the stream.
    Reentry run(const std::string& target, Action action, std::size_t readSize,
                const std::function<void()>& trigger = {}) {
        recreate();
        Reentry r;
        sink.after = [&](const std::string& name) {
            if (r.acted || name != target)
                return;
            r.acted = true;
            r.at = sink.events.size() - 1;
            r.sentAtAction = net.sent.size();
            switch (action) {
                case Action::LogOff:
                    control->LogOff();
                    break;
                case Action::Login:
                    control->Login("Again", "pw", "127.0.0.1", 5190);
                    break;
                case Action::Destroy:
                    control.reset();
                    break;
            }
        };
        connect();
        deliver(everyEvent(), readSize);
        if (trigger && control)
            trigger();
        r.events = sink.events;
        return r;
    }
};

TEST_F(EveryEvent, HandlersMaySignOffSignOnOrDestroyTheControlInsideAnyEvent) {
    // The kinds of event the stream raises, learned from one undisturbed run.
    recreate();
    sink.recordPackets = true;
    connect();
    deliver(everyEvent(), 64);
    std::set<std::string> kinds;
    for (const auto& e : sink.events)
        kinds.insert(nameOf(e));
    ASSERT_GE(kinds.size(), 25u) << "the stream no longer reaches every kind of event";

    for (const auto& kind : kinds) {
        for (const std::size_t readSize : {std::size_t{1}, std::size_t{64}, std::size_t{100000}}) {
            SCOPED_TRACE(kind + " in reads of " + std::to_string(readSize));
            {
                const Reentry r = run(kind, Action::LogOff, readSize);
                ASSERT_TRUE(r.acted);
                ASSERT_LT(r.at + 1, r.events.size());
                EXPECT_EQ(nameOf(r.events[r.at + 1]), "LoggedOut");
                EXPECT_EQ(net.sent.size(), r.sentAtAction) << "sent after LogOff";
                EXPECT_NE(net.state, Socket::StateConnected);
            }
            {
                const Reentry r = run(kind, Action::Login, readSize);
                ASSERT_TRUE(r.acted);
                EXPECT_EQ(r.events.size(), r.at + 1) << "old connection delivered after Login";
                EXPECT_EQ(net.connects.size(), 2u);
            }
            {
                const Reentry r = run(kind, Action::Destroy, readSize);
                ASSERT_TRUE(r.acted);
                EXPECT_EQ(r.events.size(), r.at + 1) << "events after destruction";
                EXPECT_FALSE(net.alive);
            }
        }
    }
}

TEST_F(EveryEvent, EventsOutsideTheStreamAlsoSurviveEveryAction) {
    struct Case {
        const char* event;
        std::function<void()> trigger;
    };
    sink.recordPackets = false;
    const Case cases[] = {
        {"WinsockError", [this] { sock->peerClose(); }},
        {"LoggedOut", [this] { control->LogOff(); }},
        {"Error", [this] { control->SetProfile(std::string(70000, 'x')); }},
    };
    for (const auto& c : cases) {
        for (const Action action : {Action::LogOff, Action::Login, Action::Destroy}) {
            SCOPED_TRACE(std::string(c.event) + " action " +
                         std::to_string(static_cast<int>(action)));
            const Reentry r = run(c.event, action, 64, c.trigger);
            ASSERT_TRUE(r.acted);
            if (action == Action::Destroy) {
                EXPECT_FALSE(net.alive);
            }
        }
    }
}

}  // namespace
}  // namespace lantry::testing

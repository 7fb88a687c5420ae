// The control on a fake socket: connections ending at any byte, hosts acting inside any event,
// hostile arguments. scripts/sanitize.sh and scripts/valgrind.sh catch freed memory touched here.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

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

// Every server message a session can carry, each raising its own kind of event; the
// configuration comes in two parts, so that a cut can fall while part of it is held.
std::string everyEvent() {
    const std::string messages =  // one per '|'
        "NICK:Some One|CONFIG2:m:1\ng:G\n|CONFIG2:b:bob\nd:olddeny\ndone:\n|ERROR:901:zed|"
        "UPDATE_BUDDY2:bob:T:0:1700000000:0: O :|BUDDY_CAPS2:bob:CAP|BART2:bob:0 2 AAAA|"
        "CHAT_JOIN:1234:Lobby|CHAT_UPDATE_BUDDY:1234:T:bob|CHAT_IN_ENC:1234:bob:F:A:en:hi|"
        "CHAT_INVITE:Games:77:bob:join|CHAT_LEFT:1234|IM_IN_ENC2:bob:F:F:T: O :F:L:en:hello|"
        "INSERTED2:b:Bob:bob:G|INSERTED2:g:G2|INSERTED2:p:pal|INSERTED2:d:foe|"
        "DELETED2:b:bob:G|DELETED2:g:G2|DELETED2:p:pal|DELETED2:d:foe|"
        "GOTO_URL:profile:http://127.0.0.1/p|EVILED:10:bob|ADMIN_NICK_STATUS:0|"
        "ADMIN_PASSWD_STATUS:0|RVOUS_PROPOSE:bob:UUID:cookie:1:1.2.3.4:1.2.3.5:1.2.3.6:5190|"
        "CLIENT_EVENT2:bob:2";
    std::string stream = signOnFrames();
    for (std::size_t at = 0, end; at < messages.size(); at = end + 1) {
        end = std::min(messages.find('|', at), messages.size());
        stream += dataFrame(messages.substr(at, end - at));
    }
    return stream + serverFrame(5, "") + serverFrame(9, "x");
}

class Faults : public ::testing::Test {
protected:
    Faults() { connectNewControl(); }

    // A new control on a new fake socket, signing on and connected.
    void connectNewControl() {
        net = FakeSocket::Record{};
        auto socket = std::make_unique<FakeSocket>(net);
        sock = socket.get();
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
        sink.events.clear();
        sink.after = nullptr;
        control->Login("Some One", "pw", "127.0.0.1", 5190);
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
    const std::string first = everyEvent();
    const std::string second = signOnFrames() + dataFrame("NICK:New Name") +
                               dataFrame("CONFIG2:g:New\nb:fresh\ndone:\n") +
                               dataFrame("IM_IN_ENC2:carol:F:F:T: O :F:L:en:new message");
    for (std::size_t cut = 0; cut <= first.size(); ++cut) {
        for (const auto& [end, reported] : ends) {
            SCOPED_TRACE("end " + std::to_string(static_cast<int>(end)) + " after byte " +
                         std::to_string(cut));
            connectNewControl();
            deliver(first.substr(0, cut), 7);
            sink.events.clear();
            const int closes = net.closes;
            if (end == End::ServerCloses)
                sock->peerClose();
            else if (end == End::SocketFails)
                sock->fail(10061, "Connection refused");
            EXPECT_TRUE(end == End::LoginAgain || net.closes > closes);
            control->Login("New Name", "pw", "127.0.0.1", 5190);
            EXPECT_GT(net.closes, closes);
            EXPECT_EQ(net.connects.size(), 2u);
            sock->connectNow();
            deliver(second, 5);
            Events expected = reported;
            expected.insert(expected.end(), {"ScreennameFormat(New Name)",
                                             "LoggedIn(newname,[[group]New|fresh],[],[],[],,0)",
                                             "InstantMessage(carol,new message,false, O )"});
            EXPECT_EQ(sink.events, expected);
        }
    }
}

// A handler that throws inside a socket notification loses only its own step: the exception
// stays inside the control and every later event comes as in an undisturbed run.
TEST_F(Faults, HandlersMaySignOffSignOnDestroyTheControlOrThrowInsideAnyEvent) {
    // The kinds of event the stream raises in one undisturbed run, and two that only the end of
    // a connection raises.
    sink.recordPackets = true;
    deliver(everyEvent(), 64);
    sock->peerClose();
    const Events undisturbed = sink.events;
    std::set<std::string> kinds = {"WinsockError", "LoggedOut"};
    for (const auto& e : sink.events)
        kinds.insert(e.substr(0, e.find('(')));
    ASSERT_GE(kinds.size(), 27u) << "the stream no longer reaches every kind of event";

    enum class Action { LogOff, Login, Destroy, Throw };
    for (const auto& kind : kinds) {
        for (const std::size_t readSize : {1, 64, 100000}) {
            for (const Action action :
                 {Action::LogOff, Action::Login, Action::Destroy, Action::Throw}) {
                // LoggedOut comes from the host's own LogOff call, which passes errors back.
                if (action == Action::Throw && kind == "LoggedOut")
                    continue;
                SCOPED_TRACE(kind + " in reads of " + std::to_string(readSize) + ", action " +
                             std::to_string(static_cast<int>(action)));
                connectNewControl();
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
                    else if (action == Action::Destroy)
                        control.reset();
                    else
                        throw std::runtime_error("handler failed");
                };
                ASSERT_NO_THROW(deliver(everyEvent(), readSize));
                if (action == Action::Throw) {
                    ASSERT_NO_THROW(sock->peerClose());
                    EXPECT_EQ(sink.events, undisturbed);
                    continue;
                }
                if (control && after == 0)
                    kind == "WinsockError" ? sock->peerClose() : control->LogOff();
                ASSERT_NE(after, 0u);
                if (action == Action::LogOff) {
                    // LogOff inside LoggedOut is not told again.
                    EXPECT_TRUE(kind == "LoggedOut" ||
                                sink.events.at(after).rfind("LoggedOut(", 0) == 0);
                    EXPECT_EQ(net.sent.size(), sentBefore) << "sent after LogOff";
                    EXPECT_NE(net.state, Socket::StateConnected);
                } else {
                    EXPECT_EQ(sink.events.size(), after) << "the old connection went on";
                    EXPECT_TRUE(action == Action::Login ? net.connects.size() == 2 : !net.alive);
                }
            }
        }
    }
}

// A name is quoted with only \ and " escaped: whatever it holds, the line splits back into
// exactly the name. A NUL byte is refused with a reason, before a sequence number is taken.
TEST_F(Faults, HostileNamesSplitBackExactlyAndNulIsRefusedWithAReason) {
    net.sent.clear();  // the greeting
    const std::string name = "Evil\"Name\\ \"x\" $(y) {z}";
    control->GetStatus(name);
    const auto frames = parseFrames(net.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(wire::parseArguments(frames[0].payload),
              (std::vector<std::string>{"toc_get_status", wire::normalizeName(name)}));

    control->SendIM("bob", std::string("ab\0cd", 5), false);
    control->SendPacket(2, std::string("ab\0cd", 5));
    ASSERT_EQ(sink.events.size(), 2u);
    for (const auto& e : sink.events)
        EXPECT_TRUE(e.starts_with("Error(0,") && e.find("NUL") != std::string::npos) << e;
    control->SendIM("bob", "fine", false);
    ASSERT_EQ(parseFrames(net.sent).size(), 2u);
    EXPECT_EQ(parseFrames(net.sent)[1].sequence, 1) << "a refused command took a number";
}

}  // namespace
}  // namespace lantry::testing

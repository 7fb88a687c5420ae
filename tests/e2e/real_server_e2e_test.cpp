// The control on its real Qt socket against a peer that plays the server's side of a session
// recorded with a real TOC2 server (real_server_session.txt): every frame the server sent goes
// out byte for byte with its type and sequence number, and at each frame the recorded client
// sent, the host makes the call that stands for it and the frame that comes back is checked.
// Client and peer share the test's thread: every wait pumps the Qt event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "ondrel/wire.h"
#include "real_server_recording.h"
#include "recording_sink.h"

namespace lantry::testing {
namespace {

using Events = std::vector<std::string>;

// The host's part: the call that stands for one recorded client command, and the line the
// control then sends (none: the control refuses it and sends nothing).
struct Step {
    std::function<void(Ondrel&)> call;
    std::optional<std::string> line;
};

class CountingSink : public RecordingSink {
public:
    void IncomingPacket(std::string) override { ++packets; }
    std::size_t packets = 0;
};

class RealServerReplay : public ::testing::Test {
protected:
    RealServerReplay() { server.listen(QHostAddress::LocalHost, 0); }

    bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

    std::optional<SentFrame> nextFrame() {
        if (!waitFor([&] { return !parseFrames(received).empty(); }))
            return std::nullopt;
        const auto frame = parseFrames(received).front();
        received.erase(0, wire::frameLength(received));
        return frame;
    }

    // Plays connection `who` of the recording against a new control signed on as `name`.
    void replay(const std::string& who, const std::string& name, const std::vector<Step>& steps) {
        sink.events.clear();
        sink.packets = 0;
        auto socket = std::make_unique<QtSocket>();
        // The recording's commands follow each other faster than the rate class allows; the
        // replay checks bytes, not timing (pacing has its own tests).
        socket->setPacing(false);
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
        control->Login(name, "secret", "127.0.0.1", server.serverPort());
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        peer.reset(server.nextPendingConnection());
        received.clear();
        QObject::connect(peer.get(), &QTcpSocket::readyRead,
                         [this] { received += peer->readAll().toStdString(); });
        ASSERT_TRUE(waitFor([&] { return received.starts_with(wire::kGreeting); }));
        received.erase(0, wire::kGreeting.size());

        std::size_t written = 0, next = 0;
        int refusedSequence = -1;
        for (const auto& r : readRecording(ONDREL_RECORDING)) {
            if (r.who != who)
                continue;
            SCOPED_TRACE(who + (r.fromServer ? " < " : " > ") + r.payload.substr(0, 60));
            if (r.fromServer && r.closes) {
                // The server ended the session over the long command; here it never got it.
                ASSERT_NE(refusedSequence, -1);
                control->SendPacket(5, "");
                const auto frame = nextFrame();
                ASSERT_TRUE(frame);
                EXPECT_EQ(frame->type, 5) << "the refused command went out after all";
                EXPECT_EQ(frame->sequence, refusedSequence);
            } else if (r.fromServer) {
                peer->write(QByteArray::fromStdString(
                    serverFrame(static_cast<std::uint8_t>(r.type), r.payload,
                                static_cast<std::uint16_t>(r.sequence))));
                ++written;
            } else if (r.closes) {
                ASSERT_TRUE(waitFor([&] { return sink.packets == written; }));
                control->LogOff();
                EXPECT_TRUE(
                    waitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
            } else {
                // The host acts only once the control has taken everything the server sent.
                ASSERT_TRUE(waitFor([&] { return sink.packets == written; }));
                const std::string line =
                    r.type == 2 ? r.payload.substr(0, r.payload.size() - 1) : r.payload;
                const bool automatic =
                    r.type == 1 || line.starts_with("toc2_login ") || line == "toc_init_done";
                std::string expected = line;
                if (!automatic) {
                    ASSERT_LT(next, steps.size());
                    steps[next].call(*control);
                    if (!steps[next++].line) {
                        refusedSequence = r.sequence;
                        continue;
                    }
                    expected = *steps[next - 1].line;
                }
                const auto frame = nextFrame();
                ASSERT_TRUE(frame);
                EXPECT_EQ(frame->type, r.type);
                EXPECT_EQ(frame->sequence, r.sequence);
                if (line.starts_with("toc2_login "))
                    EXPECT_TRUE(frame->payload.starts_with("toc2_login login.oscar.aol.com " +
                                                           std::to_string(server.serverPort()) +
                                                           " " + name + " 0x"))
                        << frame->payload;
                else
                    EXPECT_EQ(frame->payload, expected);
            }
        }
        EXPECT_EQ(next, steps.size());
        if (control->socket().State() == Socket::StateConnected) {
            ASSERT_TRUE(waitFor([&] { return sink.packets == written; }));
        }
    }

    // Each of `wanted` appears in the events, in this order.
    void expectInOrder(const Events& wanted) {
        auto at = sink.events.begin();
        for (const auto& event : wanted) {
            at = std::find(at, sink.events.end(), event);
            ASSERT_NE(at, sink.events.end()) << "missing or out of order: " << event;
            ++at;
        }
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
    std::string received;
    CountingSink sink;
    std::unique_ptr<Ondrel> control;
};

const std::string kNoRoom = "[No Chat Name Found for ID]";
const std::string kCaps = "748f2420-6287-11d1-8222-444553540000";

TEST_F(RealServerReplay, FirstUserBuddiesIMsTwoRoomsFromZeroAndTheCommandTooLong) {
    const std::vector<Step> steps = {
        {[](Ondrel& o) { o.AddBuddy("Friends", "benrec2953"); },
         "toc2_new_buddies \"g:Friends\nb:benrec2953\n\""},
        {[](Ondrel& o) { o.SendIM("benrec2953", "I am away", true); },
         R"(toc_send_im "benrec2953" "I am away" auto)"},
        {[](Ondrel& o) { o.JoinChat("Room One", 4); }, R"(toc_chat_join "4" "Room One")"},
        {[](Ondrel& o) { o.JoinChat("Room Two", 4); }, R"(toc_chat_join "4" "Room Two")"},
        {[](Ondrel& o) {
             EXPECT_EQ(o.GetChatName(0), "Room One");
             EXPECT_EQ(o.GetChatName(1), "Room Two");
             EXPECT_EQ(o.LastChatID(), 1);
             o.InviteUsers("Room One", "come in", "benrec2953");
         },
         R"(toc_chat_invite "0" "come in" "benrec2953")"},
        {[](Ondrel& o) { o.SendPacket(2, R"(toc_chat_whisper 0 benrec2953 "psst")"); },
         R"(toc_chat_whisper 0 benrec2953 "psst")"},
        {[](Ondrel& o) { o.SendChat("Room Two", "in room two"); },
         R"(toc_chat_send "1" "in room two")"},
        {[](Ondrel& o) { o.GetProfile("benrec2953"); }, R"(toc_get_info "benrec2953")"},
        {[](Ondrel& o) { o.GetStatus("benrec2953"); }, R"(toc_get_status "benrec2953")"},
        {[](Ondrel& o) { o.WarnUser("benrec2953", false); }, R"(toc_evil "benrec2953" "norm")"},
        {[](Ondrel& o) { o.WarnUser("benrec2953", true); }, R"(toc_evil "benrec2953" "anon")"},
        {[](Ondrel& o) { o.SendIM("nobody2953", "x", false); }, R"(toc_send_im "nobody2953" "x")"},
        {[](Ondrel& o) { o.SendIM("benrec2953", "blocked?", false); },
         R"(toc_send_im "benrec2953" "blocked?")"},
        {[](Ondrel& o) { o.AddGroup("Work"); }, R"(toc2_new_group "Work")"},
        {[](Ondrel& o) { o.AddBuddy("Work", "bobby2953"); },
         "toc2_new_buddies \"g:Work\nb:bobby2953\n\""},
        {[](Ondrel& o) { o.RemoveBuddy("Work", "bobby2953"); },
         R"(toc2_remove_buddy "bobby2953" "Work")"},
        {[](Ondrel& o) { o.RemoveGroup("Work"); }, R"(toc2_del_group "Work")"},
        {[](Ondrel& o) { o.AddPrivateUser("benrec2953"); }, R"(toc2_add_permit "benrec2953")"},
        {[](Ondrel& o) { o.RemovePrivateUser("benrec2953"); },
         R"(toc2_remove_permit "benrec2953")"},
        {[](Ondrel& o) { o.SendPacket(5, ""); }, ""},
        {[](Ondrel& o) { o.SendIM("benrec2953", std::string(2071, 'x'), false); }, std::nullopt},
    };
    ASSERT_NO_FATAL_FAILURE(replay("A", "annrec2953", steps));
    expectInOrder({
        "ScreennameFormat(annrec2953)",
        "LoggedIn(annrec2953,[],[],[],[],,0)",
        "BuddyUpdate(benrec2953,true,0,1796612955,0, U )",
        "BuddyCapabilities(benrec2953," + kCaps + ")",
        "InstantMessage(benrec2953,hello (x) $y {z} [w] back\\slash,false, U )",
        "InstantMessage(benrec2953,say \"q,false, U )",
        "InstantMessage(benrec2953,caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac,false, U )",
        "InstantMessage(benrec2953,caf\xe9,false, U )",
        "BuddyUpdate(benrec2953,true,0,1796612955,0, UU)",
        "TypingStatus(benrec2953,2)",
        "JoinedChat(Room One,0)",
        "ChatUserUpdate(annrec2953,true,0)",
        "JoinedChat(Room Two,1)",
        "ChatUserUpdate(benrec2953,true,0)",
        "ChatMessage(0,benrec2953,hi room: all)",
        "ChatMessage(1,annrec2953,in room two)",
        "ChatUserUpdate(benrec2953,false,0)",
        "BuddyUpdate(BEN REC2953,true,13,1796612955,0, U )",
        "Error(0,Command not sent: its 2099 bytes exceed the 2048-byte limit of one command)",
    });
    EXPECT_EQ(control->socket().State(), Socket::StateConnected);
}

TEST_F(RealServerReplay, SecondUserIsInvitedTalksInRoomZeroAndLeavesIt) {
    const std::string caps =
        "09461343-4C7F-11D1-8222-444553540000 "
        "748F2420-6287-11D1-8222-444553540000";
    const std::vector<Step> steps = {
        {[](Ondrel& o) { o.AddBuddy("Buddies", "annrec2953"); },
         "toc2_new_buddies \"g:Buddies\nb:annrec2953\n\""},
        {[](Ondrel& o) { o.SendIM("annrec2953", "hello (x) $y {z} [w] back\\slash", false); },
         R"(toc_send_im "annrec2953" "hello \(x\) \$y \{z\} \[w\] back\\slash")"},
        {[](Ondrel& o) { o.SendIM("annrec2953", "say \"q\" ok", false); },
         R"(toc_send_im "annrec2953" "say \"q\" ok")"},
        {[](Ondrel& o) { o.SendIM("annrec2953", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac", false); },
         "toc_send_im \"annrec2953\" \"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac\""},
        {[](Ondrel& o) { o.SendIM("annrec2953", "caf\xe9", false); },
         "toc_send_im \"annrec2953\" \"caf\xe9\""},
        {[](Ondrel& o) { o.SetAwayMessage("out to lunch"); }, R"(toc_set_away "out to lunch")"},
        {[](Ondrel& o) { o.SetAwayMessage(""); }, R"(toc_set_away "")"},
        {[](Ondrel& o) { o.SetIdleTime(10); }, R"(toc_set_idle "600")"},
        {[](Ondrel& o) { o.SetIdleTime(0); }, R"(toc_set_idle "0")"},
        {[&](Ondrel& o) { o.SetCapability(caps); }, "toc_set_caps \"" + caps + "\""},
        {[](Ondrel& o) { o.SendPacket(2, "toc2_client_event annrec2953 2"); },
         "toc2_client_event annrec2953 2"},
        {[](Ondrel& o) {
             EXPECT_EQ(o.GetChatName(0), kNoRoom);
             o.AcceptChatInvite(0);
         },
         R"(toc_chat_accept "0")"},
        {[](Ondrel& o) {
             EXPECT_EQ(o.GetChatName(0), "Room One");
             o.SendChat("Room One", "hi room: all");
         },
         R"(toc_chat_send "0" "hi room: all")"},
        {[](Ondrel& o) { o.LeaveChat("Room One"); }, R"(toc_chat_leave "0")"},
        {[](Ondrel& o) {
             EXPECT_EQ(o.GetChatName(0), kNoRoom);
             o.SetProfile("<b>Ben</b> likes & tests");
         },
         R"(toc_set_info "<b>Ben</b> likes & tests")"},
        {[](Ondrel& o) { o.FormatUserName("BEN REC2953"); },
         R"(toc_format_nickname "BEN REC2953")"},
        {[](Ondrel& o) { o.ChangePassword("secret2", "secret3"); },
         R"(toc_change_passwd "secret2" "secret3")"},
        {[](Ondrel& o) { o.ChangePassword("wrongold", "secret4"); },
         R"(toc_change_passwd "wrongold" "secret4")"},
        {[](Ondrel& o) { o.FormatUserName("somebody else"); },
         R"(toc_format_nickname "somebody else")"},
        {[](Ondrel& o) { o.BlockUser("annrec2953"); }, R"(toc2_add_deny "annrec2953")"},
        {[](Ondrel& o) { o.SetPrivacy(4); }, "toc2_set_pdmode 4"},
        {[](Ondrel& o) { o.UnblockUser("annrec2953"); }, R"(toc2_remove_deny "annrec2953")"},
        {[](Ondrel& o) { o.SetPrivacy(1); }, "toc2_set_pdmode 1"},
    };
    ASSERT_NO_FATAL_FAILURE(replay("B", "benrec2953", steps));
    expectInOrder({
        "LoggedIn(benrec2953,[],[],[],[],,0)",
        "BuddyUpdate(annrec2953,true,0,1796612953,0, U )",
        "InstantMessage(annrec2953,I am away,true, U )",
        "ChatInvite(Room One,0,annrec2953,come in)",
        "JoinedChat(Room One,0)",
        "ChatUserUpdate(annrec2953,true,0)",
        "ChatUserUpdate(benrec2953,true,0)",
        "ChatMessage(0,benrec2953,hi room: all)",
        "ChatMessage(0,annrec2953,psst)",
        "LeftChat(0)",
        "Warned(10,annrec2953)",
        "Warned(13,)",
        "ScreenNameFormatted()",
        "ScreennameFormat(BEN REC2953)",
        "BuddyUpdate(annrec2953,false,0,0,0,   )",
        "LoggedOut(benrec2953)",
    });
}

TEST_F(RealServerReplay, SecondSessionGetsTheStoredListsAndSeesTheirChanges) {
    ASSERT_NO_FATAL_FAILURE(replay("A2", "annrec2953", {}));
    const std::string ben = "BuddyUpdate(BEN REC2953,true,13,1796612955,0, U )";
    const std::string benCaps =
        "BuddyCapabilities(BEN REC2953,09461343-4c7f-11d1-8222-444553540000," + kCaps + ")";
    EXPECT_EQ(sink.events, (Events{
                               "ScreennameFormat(annrec2953)",
                               "LoggedIn(annrec2953,[[group]Friends|benrec2953],[],[],[],,0)",
                               ben,
                               benCaps,
                               "GroupAdded()",
                               "GroupAdded(Work)",
                               "GroupAdded(Work)",
                               "BuddyAdded(Work,bobby2953,)",
                               "BuddyRemoved(Work,bobby2953)",
                               "GroupAdded(Work)",
                               "GroupRemoved(Work)",
                               ben,
                               benCaps,
                               "GroupAdded()",
                               "PrivateBuddyAdded(benrec2953)",
                               ben,
                               benCaps,
                               "PrivateBuddyRemoved(benrec2953)",
                               ben,
                               benCaps,
                               "LoggedOut(annrec2953)",
                           }));
}

}  // namespace
}  // namespace lantry::testing

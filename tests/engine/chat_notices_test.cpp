// Instant messages, chat traffic, and the table of joined rooms.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using ChatNoticesTest = MessageTableTest;

TEST_F(ChatNoticesTest, MessagesAndChatTrafficReachTheHostForAnyRoom) {
    expectEach({
        {"IM_IN_ENC2:alice:F:x:x:O:x:x:en:at 10:30: room 4",
         {"InstantMessage(alice,at 10:30: room 4,false,O)"}},
        {"IM_IN_ENC2:alice:f:x:x: O:x:x:en:", {"InstantMessage(alice,,true, O)"}},
        {"IM_IN_ENC2:alice:F:x:x:O:x:x:en", {}},
        {"CHAT_UPDATE_BUDDY:7:T:ann:bob",
         {"ChatUserUpdate(ann,true,7)", "ChatUserUpdate(bob,true,7)"}},
        {"CHAT_UPDATE_BUDDY:7:t:ann:bob", {"ChatUserUpdate(ann,false,7)"}},
        {"CHAT_IN_ENC:9:bob:F:A:en:a: b", {"ChatMessage(9,bob,a: b)"}},
        {"CHAT_IN_ENC:99999999999:bob:F:A:en:x", {}},
        {"CHAT_INVITE:Room:12:bob:come: now", {"ChatInvite(Room,12,bob,come: now)"}},
        {"CHAT_INVITE:Room: one:12:bob:come: now", {}},
        {"CHAT_LEFT:44", {"LeftChat(44)"}},
    });
}

TEST_F(ChatNoticesTest, JoinsFillElevenSlotsInOrderAndLeavesFreeTheLowestMatch) {
    serverSays("CHAT_JOIN:x:Bad");  // dropped whole
    serverSays("CHAT_JOIN:8");      // recorded without a name, not reported
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(control->LastChatID(), 8);
    control->LeaveChat("Bad");
    EXPECT_EQ(onlyLine(), "");
    serverSays("CHAT_LEFT:8");
    sink.events.clear();
    serverSays("CHAT_JOIN:5:First");
    serverSays("CHAT_JOIN:5:Second");  // the same ID again takes a slot of its own
    for (int id = 3; id <= 11; ++id)
        serverSays("CHAT_JOIN:" + std::to_string(id) + ":Room: " + std::to_string(id));
    EXPECT_EQ(takeEvents().size(), 11u);

    serverSays("CHAT_JOIN:12:Twelve");  // table full: reported, not recorded
    EXPECT_EQ(takeEvents(), (Events{"JoinedChat(Twelve,12)"}));
    EXPECT_EQ(control->GetChatName(12), "[No Chat Name Found for ID]");
    control->SendChat("", "x");  // no free slot to match an empty name
    EXPECT_EQ(onlyLine(), "");

    serverSays("CHAT_LEFT:5");
    EXPECT_EQ(control->LastChatID(), 12) << "leaving does not touch LastChatID";
    EXPECT_EQ(control->GetChatName(5), "Second");
    control->LeaveChat("");
    EXPECT_EQ(onlyLine(), "toc_chat_leave \"0\"") << "a free slot matches an empty name";
}

}  // namespace
}  // namespace lantry::testing

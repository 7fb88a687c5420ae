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

// Real servers number rooms from 0: room 0 is recorded, selected by name and freed like any
// other, and a slot is free by its own mark.
TEST_F(ChatNoticesTest, RoomsFromZeroFillElevenSlotsLowestFreeFirstAndLeavingFreesTheSlot) {
    const std::string none = "[No Chat Name Found for ID]";
    EXPECT_EQ(control->GetChatName(0), none);
    control->SendChat("", "x");
    EXPECT_EQ(onlyLine(), "") << "a free slot matches no name";
    serverSays("CHAT_JOIN:x:Bad");  // dropped whole
    serverSays("CHAT_JOIN:8");      // recorded without a name, not reported
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(control->LastChatID(), 8);
    control->LeaveChat("Bad");
    EXPECT_EQ(onlyLine(), "");
    serverSays("CHAT_LEFT:8");
    serverSays("CHAT_JOIN:0:Room One");
    serverSays("CHAT_JOIN:1:Room Two");
    EXPECT_EQ(takeEvents(),
              (Events{"LeftChat(8)", "JoinedChat(Room One,0)", "JoinedChat(Room Two,1)"}));
    EXPECT_EQ(control->GetChatName(0), "Room One");
    control->SendChat("Room One", "hi");
    EXPECT_EQ(onlyLine(), R"(toc_chat_send "0" "hi")");
    control->InviteUsers("Room One", "come in", "Ben Rec");
    EXPECT_EQ(onlyLine(), R"(toc_chat_invite "0" "come in" "benrec")");
    control->LeaveChat("Room One");
    EXPECT_EQ(onlyLine(), R"(toc_chat_leave "0")");
    serverSays("CHAT_JOIN:0:Room One");
    EXPECT_EQ(control->LastChatID(), 0);

    for (int id = 2; id <= 9; ++id)  // eleven slots in use
        serverSays("CHAT_JOIN:" + std::to_string(id) + ":Room: " + std::to_string(id));
    sink.events.clear();
    serverSays("CHAT_JOIN:11:Twelve");  // table full: reported, not recorded
    EXPECT_EQ(takeEvents(), (Events{"JoinedChat(Twelve,11)"}));
    EXPECT_EQ(control->GetChatName(11), none);
    EXPECT_EQ(control->GetChatName(0), "Room One") << "no later join took room 0's slot";

    serverSays("CHAT_LEFT:0");
    EXPECT_EQ(takeEvents(), (Events{"LeftChat(0)"}));
    EXPECT_EQ(control->GetChatName(0), "Room One") << "the second join of room 0 holds on";
    serverSays("CHAT_LEFT:0");
    EXPECT_EQ(control->GetChatName(0), none);
    control->SendChat("Room One", "x");
    EXPECT_EQ(onlyLine(), "");
    EXPECT_EQ(control->LastChatID(), 11) << "leaving does not touch LastChatID";
    serverSays("CHAT_JOIN:1:Again");  // the lowest free slot is room 0's old one
    EXPECT_EQ(control->GetChatName(1), "Again");
    serverSays("CHAT_LEFT:1");
    EXPECT_EQ(control->GetChatName(1), "Room Two") << "leaving frees the lowest match";
}

}  // namespace
}  // namespace lantry::testing

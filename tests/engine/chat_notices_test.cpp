// Instant messages, chat traffic, and the table of joined rooms.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using ChatNoticesTest = MessageTableTest;

TEST_F(ChatNoticesTest, InstantMessagesKeepTheirColons) {
    expectEach({
        {"IM_IN_ENC2:alice:F:x:x:O:x:x:en:at 10:30: room 4",
         {"InstantMessage(alice,at 10:30: room 4,false,O)"}},
        {"IM_IN_ENC2:alice:T:x:x: O:x:x:en:", {"InstantMessage(alice,,true, O)"}},
        {"IM_IN_ENC2:alice:f:x:x:O:x:x:en:hi", {"InstantMessage(alice,hi,true,O)"}},
        {"IM_IN_ENC2:alice::x:x:O:x:x:en:hi", {"InstantMessage(alice,hi,true,O)"}},
        {"IM_IN_ENC2:alice:F:x:x:O:x:x:en", {}},
    });
}

TEST_F(ChatNoticesTest, ChatTrafficReachesTheHostForAnyRoom) {
    expectEach({
        {"CHAT_UPDATE_BUDDY:7:T:ann:bob:cy",
         {"ChatUserUpdate(ann,true,7)", "ChatUserUpdate(bob,true,7)", "ChatUserUpdate(cy,true,7)"}},
        {"CHAT_UPDATE_BUDDY:7:F:ann:bob", {"ChatUserUpdate(ann,false,7)"}},
        {"CHAT_UPDATE_BUDDY:7:t:ann", {"ChatUserUpdate(ann,false,7)"}},
        {"CHAT_UPDATE_BUDDY:7:T", {}},
        {"CHAT_UPDATE_BUDDY:7:F", {}},
        {"CHAT_UPDATE_BUDDY:x:T:ann", {}},
        {"CHAT_IN_ENC:9:bob:F:A:en:a: b", {"ChatMessage(9,bob,a: b)"}},
        {"CHAT_IN_ENC:9:bob:F:A:en", {}},
        {"CHAT_IN_ENC:99999999999:bob:F:A:en:x", {}},
        {"CHAT_INVITE:Room: one:12:bob:come: now", {}},
        {"CHAT_INVITE:Room:12:bob:come: now", {"ChatInvite(Room,12,bob,come: now)"}},
        {"CHAT_INVITE:Room:12:bob", {}},
        {"CHAT_LEFT:44", {"LeftChat(44)"}},
        {"CHAT_LEFT:x", {}},
        {"CHAT_LEFT", {}},
    });
}

TEST_F(ChatNoticesTest, JoinsFillTheTableInOrderAndLeavesFreeTheLowestMatch) {
    for (int id = 1; id <= 11; ++id)
        serverSays("CHAT_JOIN:" + std::to_string(id) + ":Room: " + std::to_string(id));
    EXPECT_EQ(takeEvents().size(), 11u);
    EXPECT_EQ(control->GetChatName(5), "Room: 5");

    serverSays("CHAT_JOIN:12:Twelve");  // table full: reported, not recorded
    EXPECT_EQ(takeEvents(), (Events{"JoinedChat(Twelve,12)"}));
    EXPECT_EQ(control->LastChatID(), 12);
    EXPECT_EQ(control->GetChatName(12), "[No Chat Name Found for ID]");
    EXPECT_EQ(control->GetChatName(0), "[No Chat Name Found for ID]");

    serverSays("CHAT_LEFT:4");
    EXPECT_EQ(takeEvents(), (Events{"LeftChat(4)"}));
    EXPECT_EQ(control->LastChatID(), 12) << "leaving does not touch LastChatID";
    EXPECT_EQ(control->GetChatName(0), "");

    serverSays("CHAT_JOIN:13:Thirteen");
    control->SendChat("Thirteen", "hi");
    EXPECT_EQ(onlyLine(), "toc_chat_send \"13\" \"hi\"");
    control->SendChat("", "nobody");  // no free slot left to match an empty name
    EXPECT_EQ(onlyLine(), "");
}

TEST_F(ChatNoticesTest, DuplicateIdsTakeTwoSlotsAndLeaveFreesOne) {
    serverSays("CHAT_JOIN:5:First");
    serverSays("CHAT_JOIN:5:Second");
    serverSays("CHAT_LEFT:5");
    EXPECT_EQ(control->GetChatName(5), "Second");
    serverSays("CHAT_JOIN:6:Third");  // lands in the freed first slot
    control->LeaveChat("", 0);
    EXPECT_EQ(onlyLine(), "toc_chat_leave \"0\"") << "a free slot still matches an empty name";
    serverSays("CHAT_LEFT:5");
    EXPECT_EQ(control->GetChatName(5), "[No Chat Name Found for ID]");
    EXPECT_EQ(control->GetChatName(6), "Third");
}

TEST_F(ChatNoticesTest, JoinWithoutNameOrNumber) {
    serverSays("CHAT_JOIN:x:Bad");  // dropped whole
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(control->GetChatName(0), "");
    control->LeaveChat("Bad");
    EXPECT_EQ(onlyLine(), "");

    serverSays("CHAT_JOIN:8");  // recorded without a name, not reported
    EXPECT_TRUE(takeEvents().empty());
    EXPECT_EQ(control->LastChatID(), 8);
    EXPECT_EQ(control->GetChatName(8), "");
}

TEST_F(ChatNoticesTest, JoinedChatHandlerWritesLastChatId) {
    struct Writer : RecordingSink {
        void JoinedChat(std::string& name, std::int32_t& id) override {
            RecordingSink::JoinedChat(name, id);
            id = 777;
            name = "changed";
        }
    } writer;
    control->setEventSink(&writer);
    serverSays("CHAT_JOIN:3:Room");
    EXPECT_EQ(control->LastChatID(), 777);
    EXPECT_EQ(control->GetChatName(3), "Room") << "the name argument is the handler's own copy";
}

}  // namespace
}  // namespace lantry::testing

// A whole session over real TCP: presence, instant messages both ways, a chat room, a list
// change and a password change, each exchange checked on the wire and in the events.
#include "e2e_fixture.h"

namespace lantry::testing {
namespace {

using SessionE2ETest = E2ETest;

TEST_F(SessionE2ETest, ASessionFromSignOnToSignOff) {
    signOn("Me Myself");

    peer.say("UPDATE_BUDDY2:alice:T:0:1700000000:0: O :");
    peer.say("BUDDY_CAPS2:alice:09461343-4C7F-11D1-8222-444553540000");
    ASSERT_TRUE(eventsReach(2));
    EXPECT_EQ(sink.events,
              (Events{"BuddyUpdate(alice,true,0,1700000000,0, O )",
                      "BuddyCapabilities(alice,09461343-4C7F-11D1-8222-444553540000)"}));
    sink.events.clear();

    peer.say("IM_IN_ENC2:alice:F:F:T: O :F:L:en:<b>hi</b>: how are you?");
    ASSERT_TRUE(eventsReach(1));
    EXPECT_EQ(sink.events[0], "InstantMessage(alice,<b>hi</b>: how are you?,false, O )");
    control->SendIM("Alice", "fine (really)", false);
    EXPECT_EQ(peer.readLine(), "toc_send_im \"alice\" \"fine \\(really\\)\"");
    sink.events.clear();

    control->JoinChat("Lobby", 4);
    EXPECT_EQ(peer.readLine(), "toc_chat_join \"4\" \"Lobby\"");
    peer.say("CHAT_JOIN:1001:Lobby");
    peer.say("CHAT_UPDATE_BUDDY:1001:T:memyself:alice");
    peer.say("CHAT_IN_ENC:1001:alice:F:A:en:welcome: all");
    ASSERT_TRUE(eventsReach(4));
    EXPECT_EQ(sink.events,
              (Events{"JoinedChat(Lobby,1001)", "ChatUserUpdate(memyself,true,1001)",
                      "ChatUserUpdate(alice,true,1001)", "ChatMessage(1001,alice,welcome: all)"}));
    EXPECT_EQ(control->LastChatID(), 1001);
    control->SendChat("Lobby", "thanks");
    EXPECT_EQ(peer.readLine(), "toc_chat_send \"1001\" \"thanks\"");
    control->LeaveChat("Lobby");
    EXPECT_EQ(peer.readLine(), "toc_chat_leave \"1001\"");
    sink.events.clear();
    peer.say("CHAT_LEFT:1001");
    ASSERT_TRUE(eventsReach(1));
    EXPECT_EQ(sink.events, (Events{"LeftChat(1001)"}));
    EXPECT_EQ(control->GetChatName(1001), "[No Chat Name Found for ID]");
    sink.events.clear();

    control->AddBuddy("Friends", "Bob Jones");
    EXPECT_EQ(peer.readLine(), "toc2_new_buddies \"g:Friends\nb:Bob Jones\n\"");
    peer.say("INSERTED2:b::bobjones:Friends");
    control->ChangePassword("secret", "n3w$");
    EXPECT_EQ(peer.readLine(), "toc_change_passwd \"secret\" \"n3w\\$\"");
    peer.say("ADMIN_PASSWD_STATUS:0");
    ASSERT_TRUE(eventsReach(2));
    EXPECT_EQ(sink.events, (Events{"BuddyAdded(Friends,bobjones,)", "PasswordChanged()"}));
    sink.events.clear();

    control->LogOff();
    EXPECT_EQ(sink.events, (Events{"LoggedOut(memyself)"}));
    EXPECT_TRUE(peer.clientGone());
}

}  // namespace
}  // namespace lantry::testing

// Profile addresses, warnings, account replies, rendezvous proposals, typing status.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using NoticesTest = MessageTableTest;

TEST_F(NoticesTest, EachNoticeRaisesItsEvent) {
    expectEach({
        {"GOTO_URL:profile:http://127.0.0.1:5190/info?u=bob",
         {"UserProfile(http://127.0.0.1:5190/info?u=bob)"}},
        {"GOTO_URL:", {}},
        {"GOTO_URL:profile", {}},
        {"EVILED:05:bob", {"Warned(5,bob)"}},
        {"EVILED:10:", {"Warned(10,)"}},
        {"EVILED: -3 :x:y", {"Warned(-3,x:y)"}},
        {"EVILED:10", {}},
        {"EVILED:x:bob", {}},
        {"EVILED:40000:bob", {}},
        {"ADMIN_NICK_STATUS:0", {"ScreenNameFormatted()"}},
        {"ADMIN_NICK_STATUS:1", {"ScreenNameFormatted()"}},
        {"ADMIN_PASSWD_STATUS", {"PasswordChanged()"}},
        {"CLIENT_EVENT2:bob:2", {"TypingStatus(bob,2)"}},
        {"CLIENT_EVENT2:bob:2:x", {}},
        {"CLIENT_EVENT2:bob", {}},
    });
}

TEST_F(NoticesTest, RendezvousProposals) {
    expectEach({
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9:4443:tag:data:tag2:more",
         {"RendevousRequest(bob,UUID,cookie,1.2.3.4,5.6.7.8,9.9.9.9,4443)"}},
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9:4443",
         {"RendevousRequest(bob,UUID,cookie,1.2.3.4,5.6.7.8,9.9.9.9,4443)"}},
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9", {}},
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9:port", {}},
    });
}

TEST_F(NoticesTest, AddBuddyEventIsNeverRaised) {
    for (const std::string keyword : {"INSERTED2", "DELETED2", "UPDATED2", "UPDATE_BUDDY2"}) {
        serverSays(keyword + ":b:Bobby:bob:Group");
    }
    for (const auto& event : takeEvents())
        EXPECT_FALSE(startsWith(event, "AddBuddy")) << event;
}

}  // namespace
}  // namespace lantry::testing

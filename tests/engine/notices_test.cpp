// Server notices and the events they raise, one row per distinct parse; each table also holds
// the malformed forms that must raise nothing.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using NoticesTest = MessageTableTest;

TEST_F(NoticesTest, ErrorCodesBecomeSentences) {
    expectEach({
        {"ERROR:901:a:b", {"Error(901,a:b is not available)"}},
        {"ERROR:903",
         {"Error(903,A message has been dropped, you are exceeding the server speed limit)"}},
        {"ERROR:951:Lobby:24", {"Error(951,Could not join chat 'Lobby': Chat Full)"}},
        {"ERROR:951:Lobby", {"Error(951,Could not join chat 'Lobby': Unknown error)"}},
        {"ERROR:951:a:b:24", {"Error(951,Could not join chat 'a': Unknown error)"}},
        {"ERROR:989:7", {"Error(989,The screenname or password you entered is not valid)"}},
        {"ERROR:989: -12 ", {"Error(-12,Unknown error code 989, sub error:  -12 )"}},
        {"ERROR:0901", {"Error(901,Error code: 0901)"}},
        {"ERROR:913:internal server error", {"Error(913,Error code: 913: internal server error)"}},
        {"ERROR:913:", {"Error(913,Error code: 913)"}},
        {"ERROR:902", {"Error(902,Warning is not currently available)"}},
        {"ERROR", {}},
        {"ERROR:901", {}},
        {"ERROR:951", {}},
        {"ERROR:989:7:x", {}},
        {"ERROR:32768", {}},
    });
    EXPECT_EQ(net.state, Socket::StateConnected) << "a refusal leaves closing to the server";
}

TEST_F(NoticesTest, PresenceListChangesAndOtherNotices) {
    expectEach({
        {"UPDATE_BUDDY2:bob:T:0:1000:12: O:extra", {"BuddyUpdate(bob,true,0,1000,12, O)"}},
        {"UPDATE_BUDDY2:bob:F:0:0:0:   :", {"BuddyUpdate(bob,false,0,0,0,   )"}},
        {"UPDATE_BUDDY2:bob:f:-5: 7 :+3: UU", {"BuddyUpdate(bob,true,-5,7,3, UU)"}},
        {"UPDATE_BUDDY2:bob:T:0:1000:12", {}},
        {"UPDATE_BUDDY2:bob:T:32768:1:1:x", {}},
        {"BUDDY_CAPS2:bob:A:B,C", {"BuddyCapabilities(bob,A:B,C)"}},
        {"INSERTED2:b:Bobby:bob:Work: Team", {"BuddyAdded(Work: Team,bob,Bobby)"}},
        {"INSERTED2:b:Bobby:bob", {}},
        {"INSERTED2:p:bob:x", {"PrivateBuddyAdded(bob:x)"}},
        {"INSERTED2:B:bob", {}},
        {"DELETED2:b:bob:Work: Team", {"BuddyRemoved(Work: Team,bob)"}},
        {"DELETED2:g:A:B", {"GroupRemoved(A:B)"}},
        {"DELETED2:p:bob:x", {"PrivateBuddyRemoved(bob)"}},
        {"DELETED2:d:bob:x", {"BuddyUnblocked(bob:x)"}},
        {"", {}},
        {"nick:x", {}},
        {"NICK:a:b", {"ScreennameFormat(a:b)"}},
        {"EVILED: -3 :x:y", {"Warned(-3,x:y)"}},
        {"EVILED:40000:bob", {}},
        {"ADMIN_PASSWD_STATUS", {"PasswordChanged()"}},
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9:4443:tag:data",
         {"RendevousRequest(bob,UUID,cookie,1.2.3.4,5.6.7.8,9.9.9.9,4443)"}},
        {"RVOUS_PROPOSE:bob:UUID:cookie:seq:1.2.3.4:5.6.7.8:9.9.9.9:port", {}},
        {"CLIENT_EVENT2:bob:2:x", {}},
    });
}

}  // namespace
}  // namespace lantry::testing

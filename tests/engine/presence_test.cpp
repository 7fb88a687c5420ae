// Presence and stored-list notices.
#include "engine_fixture.h"

namespace lantry::testing {
namespace {

using PresenceTest = MessageTableTest;

TEST_F(PresenceTest, BuddyUpdates) {
    expectEach({
        {"UPDATE_BUDDY2:bob:T:0:1000:12: O:extra", {"BuddyUpdate(bob,true,0,1000,12, O)"}},
        {"UPDATE_BUDDY2:bob:F:0:0:0:   :", {"BuddyUpdate(bob,false,0,0,0,   )"}},
        {"UPDATE_BUDDY2:bob:f:-5: 7 :+3: UU", {"BuddyUpdate(bob,true,-5,7,3, UU)"}},
        {"UPDATE_BUDDY2:bob::32767:2147483647:-2147483648:",
         {"BuddyUpdate(bob,true,32767,2147483647,-2147483648,)"}},
        {"UPDATE_BUDDY2:bob:T:0:1000:12", {}},
        {"UPDATE_BUDDY2:bob:T:0:1000::x", {}},
        {"UPDATE_BUDDY2:bob:T:32768:1:1:x", {}},
        {"UPDATE_BUDDY2:bob:T:0:2147483648:1:x", {}},
        {"UPDATE_BUDDY2:bob:T:0:12a:1:x", {}},
    });
}

TEST_F(PresenceTest, CapabilitiesAndBuddyArtAreUninterpreted) {
    expectEach({
        {"BUDDY_CAPS2:bob:A:B,C", {"BuddyCapabilities(bob,A:B,C)"}},
        {"BUDDY_CAPS2:bob:", {"BuddyCapabilities(bob,)"}},
        {"BUDDY_CAPS2:bob", {}},
        {"BART2:bob:1 2 3:4", {"BuddyBart(bob,1 2 3:4)"}},
        {"BART2", {}},
    });
}

TEST_F(PresenceTest, ListChangesOfEveryKind) {
    expectEach({
        {"INSERTED2:b:Bobby:bob:Work: Team", {"BuddyAdded(Work: Team,bob,Bobby)"}},
        {"INSERTED2:b::bob:Work", {"BuddyAdded(Work,bob,)"}},
        {"INSERTED2:b:Bobby:bob", {}},
        {"INSERTED2:g:Family", {"GroupAdded(Family)"}},
        {"INSERTED2:g:", {"GroupAdded()"}},
        {"INSERTED2:g", {}},
        {"INSERTED2:p:bob", {"PrivateBuddyAdded(bob)"}},
        {"INSERTED2:p:bob:x", {"PrivateBuddyAdded(bob:x)"}},
        {"INSERTED2:d:bob", {"BuddyBlocked(bob)"}},
        {"INSERTED2:B:bob", {}},
        {"INSERTED2:m:x", {}},
        {"INSERTED2", {}},
        {"DELETED2:b:bob:Work", {"BuddyRemoved(Work,bob)"}},
        {"DELETED2:b:bob:Work: Team", {"BuddyRemoved(Work: Team,bob)"}},
        {"DELETED2:b:bob", {}},
        {"DELETED2:g:A:B", {"GroupRemoved(A:B)"}},
        {"DELETED2:p:bob:x", {"PrivateBuddyRemoved(bob)"}},
        {"DELETED2:p:bob", {"PrivateBuddyRemoved(bob)"}},
        {"DELETED2:d:bob:x", {"BuddyUnblocked(bob:x)"}},
        {"DELETED2:d", {}},
        {"DELETED2:x:bob", {}},
        {"DELETED2", {}},
    });
}

}  // namespace
}  // namespace lantry::testing

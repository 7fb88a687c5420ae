// Privacy as a matrix: one owner (alice) under each mode with permit, deny and buddy lists, one
// other user (bob), and every way one user reaches or sees the other, in both directions (the
// owner's own lists also stop what the owner sends). Then the bookkeeping of who sees whom.
#include <string_view>
#include <utility>

#include "in_process.h"

namespace tocd::testing {
namespace {

struct Setting {
    const char* name;
    std::vector<std::string> ownerCommands;  // alice's lists and mode, in this order
    bool reach;                              // alice and bob reach each other
};

const Setting kSettings[] = {
    {"allow all, bob denied", {"toc2_add_deny bob", "toc2_set_pdmode 1"}, true},
    {"block all, bob permitted", {"toc2_add_permit bob", "toc2_set_pdmode 2"}, false},
    {"permit list holding bob", {"toc2_add_permit bob", "toc2_set_pdmode 3"}, true},
    {"permit list, bob permitted after the mode",
     {"toc2_set_pdmode 3", "toc2_add_permit bob"},
     true},
    {"permit list without bob", {"toc2_add_permit carol", "toc2_set_pdmode 3"}, false},
    {"deny list holding bob", {"toc2_add_deny bob", "toc2_set_pdmode 4"}, false},
    {"deny list, bob denied after the mode", {"toc2_set_pdmode 4", "toc2_add_deny bob"}, false},
    {"deny list without bob",
     {"toc2_add_deny carol", "toc2_add_permit bob", "toc2_set_pdmode 4"},
     true},
    {"buddies, bob among them",
     {"toc2_new_buddies \"g:Pals\nb:bob\n\"", "toc2_set_pdmode 5"},
     true},
    {"buddies, bob only permitted", {"toc2_add_permit bob", "toc2_set_pdmode 5"}, false},
    {"buddies, bob removed after the mode",
     {"toc2_new_buddies \"g:Pals\nb:bob\n\"", "toc2_set_pdmode 5", "toc2_remove_buddy bob Pals"},
     false},
};

// One way of reaching someone: `command` from the sender (<to> the other user, <room> the shared
// room's ID); on success `delivered` reaches the other user (or the sender, for answers about
// the other user), else the sender gets `refused`.
struct Channel {
    const char* name;
    std::string command;
    std::string delivered;  // FROM stands for the sender, ROOM for the room's ID
    bool answerToSender;
    std::string refused;
    bool ownerListsApply;  // also when the owner is the sender
};

const Channel kChannels[] = {
    {"IM", "toc_send_im <to> hi", "IM_IN_ENC2:<from>:", false, "ERROR:901:<to>", true},
    {"warning", "toc_evil <to> norm", "EVILED:10:<from>", false, "ERROR:902:<to>", true},
    {"invitation", "toc_chat_invite <room> come <to>", "CHAT_INVITE:Room:<room>:<from>:come", false,
     "ERROR:901:<to>", true},
    {"whisper", "toc_chat_whisper <room> <to> psst", "CHAT_IN_ENC:<room>:<from>:T:A:en:psst", false,
     "ERROR:901:<to>", true},
    {"status", "toc_get_status <to>", "UPDATE_BUDDY2:<to>:T:", true, "ERROR:901:<to>", false},
    {"profile", "toc_get_info <to>", "GOTO_URL:profile:", true, "ERROR:901:<to>", false},
    // Typing notices are dropped without a word, as real servers drop them.
    {"typing", "toc2_client_event <to> 2", "CLIENT_EVENT2:<from>:2", false, "", true},
};

std::string fill(std::string text, const std::string& from, const std::string& to,
                 const std::string& room) {
    for (const auto& [mark, value] : {std::pair{"<from>", from}, {"<to>", to}, {"<room>", room}}) {
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark))
            text.replace(at, std::string_view(mark).size(), value);
    }
    return text;
}

TEST(Privacy, EachModeAndListDecidesEveryWayTheTwoUsersReachAndSeeEachOther) {
    for (const auto& setting : kSettings) {
        SCOPED_TRACE(setting.name);
        InProcessServer tocd;
        const int alice = tocd.signOn("alice");
        const int bob = tocd.signOn("bob");
        // While everyone may: bob watches alice, both send an IM (so each may warn the other),
        // and both are in one room.
        tocd.say(bob, "toc2_new_buddies \"g:B\nb:alice\n\"");
        tocd.say(alice, "toc_send_im bob hi");
        tocd.say(bob, "toc_send_im alice hi");
        tocd.say(bob, "toc_chat_join 4 Room");
        const auto bobSaw = tocd.take(bob);
        ASSERT_EQ(starting(bobSaw, "UPDATE_BUDDY2:alice:T:").size(), 1u);
        const auto join = starting(bobSaw, "CHAT_JOIN:");
        ASSERT_EQ(join.size(), 1u);
        const std::string room = join[0].substr(10, join[0].find(':', 10) - 10);
        tocd.say(bob, "toc_chat_invite " + room + " x alice");
        tocd.say(alice, "toc_chat_accept " + room);
        ASSERT_EQ(starting(tocd.take(alice), "CHAT_JOIN:" + room).size(), 1u);
        tocd.take(bob);

        for (const auto& c : setting.ownerCommands)
            tocd.say(alice, c);
        // Presence: bob learns of each change of his sight of alice, once, and only then.
        const auto presence = starting(tocd.take(bob), "UPDATE_BUDDY2:alice:");
        if (setting.reach) {
            EXPECT_TRUE(presence.empty() || presence.back().starts_with("UPDATE_BUDDY2:alice:T:"));
        } else {
            ASSERT_FALSE(presence.empty());
            EXPECT_EQ(presence.back(), "UPDATE_BUDDY2:alice:F:0:0:0:   :");
        }
        for (std::size_t i = 1; i < presence.size(); ++i)
            EXPECT_NE(presence[i].substr(0, 21), presence[i - 1].substr(0, 21)) << "told twice";
        // A session signing on now sees what bob's first session sees.
        const int bobAgain = tocd.signOn("bob");
        EXPECT_EQ(starting(tocd.take(bobAgain), "UPDATE_BUDDY2:alice:T:").size(),
                  setting.reach ? 1u : 0u);

        for (const auto& channel : kChannels) {
            for (const bool fromOwner : {false, true}) {
                const std::string from = fromOwner ? "alice" : "bob";
                const std::string to = fromOwner ? "bob" : "alice";
                const int sender = fromOwner ? alice : bob;
                const int other = fromOwner ? bob : alice;
                SCOPED_TRACE(std::string(channel.name) + " from " + from);
                const bool reaches = setting.reach || (fromOwner && !channel.ownerListsApply);
                tocd.say(sender, fill(channel.command, from, to, room));
                const auto sent = tocd.take(sender);
                const auto received = tocd.take(other);
                tocd.take(bobAgain);
                const auto delivered = starting(channel.answerToSender ? sent : received,
                                                fill(channel.delivered, from, to, room));
                EXPECT_EQ(delivered.size(), reaches ? 1u : 0u);
                EXPECT_EQ(starting(sent, "ERROR:"),
                          reaches || channel.refused.empty()
                              ? std::vector<std::string>{}
                              : std::vector<std::string>{fill(channel.refused, from, to, room)});
            }
        }
    }
}

// A watcher hears of a user exactly while the user is on its list, visible and lets it see.
TEST(Presence, OnlyWatchersAllowedToSeeHearAndHalfSignedSessionsDoNotCount) {
    InProcessServer tocd;
    const int alice = tocd.signOn("alice");
    const int bob = tocd.signOn("bob", true, {"toc2_new_buddies \"g:B\nb:alice\n\""});
    const int carol = tocd.signOn("carol", true, {"toc2_new_buddies \"g:C\nb:alice\n\""});
    tocd.take(bob);
    tocd.take(carol);
    std::string shownAs = "alice";
    const auto heard = [&](int watcher) {
        return starting(tocd.take(watcher), "UPDATE_BUDDY2:" + shownAs + ":");
    };

    // Her list changes tell only those who watch her.
    const int dave = tocd.signOn("dave");
    tocd.say(alice, "toc2_set_pdmode 4");
    tocd.say(alice, "toc2_add_deny dave");
    tocd.say(alice, "toc2_remove_deny dave");
    tocd.say(alice, "toc2_set_pdmode 1");
    EXPECT_TRUE(starting(tocd.take(dave), "UPDATE_BUDDY2:alice:").empty());

    // A session of alice that never finished signing on comes and goes: she stays visible.
    tocd.leave(tocd.signOn("alice", false));
    EXPECT_TRUE(heard(bob).empty());
    tocd.say(alice, "toc_set_away gone");
    EXPECT_EQ(heard(bob).size(), 1u);
    EXPECT_EQ(heard(carol).size(), 1u);

    // bob drops her from his list, carol her whole group: neither hears of her again.
    tocd.say(bob, "toc2_remove_buddy alice B");
    tocd.say(carol, "toc2_del_group C");
    tocd.say(alice, "toc_set_away");
    tocd.say(alice, "toc_set_idle 600");
    EXPECT_TRUE(heard(bob).empty());
    EXPECT_TRUE(heard(carol).empty());

    // Buddies only, bob not among them: changes of hers never reach him.
    tocd.say(bob, "toc2_new_buddies \"g:B\nb:alice\n\"");
    EXPECT_EQ(heard(bob).size(), 1u);
    tocd.say(alice, "toc2_set_pdmode 5");
    EXPECT_EQ(heard(bob), std::vector<std::string>{"UPDATE_BUDDY2:alice:F:0:0:0:   :"});
    tocd.say(alice, "toc_set_away back soon");
    tocd.say(alice, "toc_set_caps 09461343-4C7F-11D1-8222-444553540000");
    tocd.say(alice, "toc_format_nickname \"Al Ice\"");
    EXPECT_TRUE(starting(tocd.take(bob), "").empty());
    shownAs = "Al Ice";
    tocd.say(alice, "toc2_set_pdmode 1");
    EXPECT_EQ(heard(bob).size(), 1u);

    // The visible session leaves while a half-signed one stays: she is gone for her watchers.
    const int half = tocd.signOn("alice", false);
    tocd.leave(alice);
    EXPECT_EQ(heard(bob), std::vector<std::string>{"UPDATE_BUDDY2:Al Ice:F:0:0:0:   :"});
    tocd.leave(half);
    EXPECT_TRUE(tocd.take(bob).empty());

    // An account leaves memory with its last session and is read back at its next sign-on:
    // bob, back, watches her again, and hears her come.
    tocd.leave(bob);
    const int bobAgain = tocd.signOn("bob");
    tocd.take(bobAgain);
    tocd.signOn("alice");
    EXPECT_EQ(heard(bobAgain).size(), 1u);
}

}  // namespace
}  // namespace tocd::testing

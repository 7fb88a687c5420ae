// Events by number: arguments in declared order, several handlers, JoinedChat's lngChatID
// being LastChatID itself, and handlers that call back or destroy the control.
#include <QStringList>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Events = ControlFixture;

constexpr int number(EventNumber e) {
    return static_cast<int>(e);
}

struct Heard {
    int number;
    QVariantList args;
};

TEST_F(Events, ArriveByNumberWithTypedArgumentsInOrder) {
    std::vector<Heard> heard;
    control_->connectEvents([&](int n, QVariantList& args) {
        if (n != number(EventNumber::IncomingPacket))
            heard.push_back({n, args});
    });
    signOn();
    serverSays("CONFIG2:m:3\ng:Friends\nb:bob\nd:eve\np:carol\npref:x\ndone:\n");
    serverSays("UPDATE_BUDDY2:bob:T:5:1000:2: O:0");
    serverSays("IM_IN_ENC2:Bob:F:F:T: O:F:L:en:caf\xe9");
    serverSays("CHAT_JOIN:77:Lobby");
    serverSays("ERROR:980");
    ASSERT_EQ(control_->call(DispId::LogOff).error, DispatchError::None);

    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[0].number, number(EventNumber::LoggedIn));
    ASSERT_EQ(heard[0].args.size(), 7);
    EXPECT_EQ(heard[0].args[0], QVariant(QStringLiteral("alice")));
    EXPECT_EQ(heard[0].args[1], QVariant(QStringList{"[group]Friends", "bob"}));
    EXPECT_EQ(heard[0].args[2], QVariant(QStringList{"eve"}));
    EXPECT_EQ(heard[0].args[3], QVariant(QStringList{"carol"}));
    EXPECT_EQ(heard[0].args[5], QVariant(QStringLiteral("x")));
    EXPECT_EQ(heard[0].args[6], QVariant::fromValue<short>(3));

    EXPECT_EQ(heard[1].number, number(EventNumber::BuddyUpdate));
    ASSERT_EQ(heard[1].args.size(), 6);
    EXPECT_EQ(heard[1].args[0], QVariant(QStringLiteral("bob")));
    EXPECT_EQ(heard[1].args[1], QVariant(true));
    EXPECT_EQ(heard[1].args[2], QVariant::fromValue<short>(5));
    EXPECT_EQ(heard[1].args[3], QVariant(1000));
    EXPECT_EQ(heard[1].args[4], QVariant(2));

    EXPECT_EQ(heard[2].number, number(EventNumber::InstantMessage));
    ASSERT_EQ(heard[2].args.size(), 4);
    EXPECT_EQ(heard[2].args[0], QVariant(QStringLiteral("Bob")));
    // Every byte arrives as one Latin-1 character.
    EXPECT_EQ(heard[2].args[1], QVariant(QStringLiteral("caf\u00e9")));

    EXPECT_EQ(heard[3].number, number(EventNumber::JoinedChat));
    EXPECT_EQ(heard[3].args, (QVariantList{QStringLiteral("Lobby"), 77}));
    EXPECT_EQ(heard[4].number, number(EventNumber::Error));
    EXPECT_EQ(heard[4].args[0], QVariant::fromValue<short>(980));
    EXPECT_EQ(heard[5].number, number(EventNumber::LoggedOut));
    EXPECT_EQ(heard[5].args, QVariantList{QStringLiteral("alice")});
}

TEST_F(Events, JoinedChatHandlerThatWritesTheIdChangesLastChatID) {
    std::vector<QVariant> secondSaw;
    control_->connectEvents([](int n, QVariantList& args) {
        if (n == number(EventNumber::JoinedChat))
            args[1] = QStringLiteral("5");
        // Other by-reference arguments are temporaries: writing them changes nothing.
        if (n == number(EventNumber::ChatMessage))
            args[0] = 999;
    });
    control_->connectEvents([&](int n, QVariantList& args) {
        if (n == number(EventNumber::JoinedChat))
            secondSaw.push_back(args[1]);
    });
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    EXPECT_EQ(secondSaw, std::vector<QVariant>{QStringLiteral("5")});
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(5));
    // The table keeps the server's ID: the room is still found by its name.
    EXPECT_EQ(control_->call(DispId::GetChatName, {77}).value, QVariant(QStringLiteral("Lobby")));

    serverSays("CHAT_IN_ENC:77:bob:F:A:en:hello");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(5));
    EXPECT_EQ(control_->call(DispId::GetChatName, {77}).value, QVariant(QStringLiteral("Lobby")));

    // A value that is no 32-bit number leaves the property as the server set it.
    control_->connectEvents([](int n, QVariantList& args) {
        if (n == number(EventNumber::JoinedChat))
            args[1] = QStringLiteral("many");
    });
    serverSays("CHAT_JOIN:78:Den");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(78));
}

TEST_F(Events, HandlersConnectAndDisconnect) {
    std::vector<std::string> calls;
    int second = 0;
    const int first = control_->connectEvents([&](int n, QVariantList&) {
        if (n != number(EventNumber::LoggedOut))
            return;
        calls.push_back("first");
        // Disconnecting a later handler from inside an event silences it at once.
        control_->disconnectEvents(second);
    });
    second = control_->connectEvents([&](int n, QVariantList&) {
        if (n == number(EventNumber::LoggedOut))
            calls.push_back("second");
    });
    EXPECT_NE(first, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(control_->connectEvents(EventHandler()), 0);

    control_->call(DispId::LogOff);
    EXPECT_EQ(calls, std::vector<std::string>{"first"});
    EXPECT_FALSE(control_->disconnectEvents(second));
    EXPECT_TRUE(control_->disconnectEvents(first));
    control_->call(DispId::LogOff);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Events, AHandlerMayCallBackOrDestroyTheControl) {
    signOn();
    // Calls from inside an event go out at once.
    control_->connectEvents([&](int n, QVariantList&) {
        if (n == number(EventNumber::JoinedChat))
            control_->call(DispId::SendChat, {"Lobby", "hi"});
    });
    serverSays("CHAT_JOIN:77:Lobby");
    EXPECT_EQ(lines(), std::vector<std::string>{"toc_chat_send \"77\" \"hi\""});

    // Destroyed from JoinedChat, whose argument would be written back into the control.
    bool later = false;
    control_->connectEvents([&](int n, QVariantList& args) {
        if (n == number(EventNumber::JoinedChat) && args[0] == QVariant(QStringLiteral("Den"))) {
            args[1] = 1;
            delete control_.data();
        }
    });
    control_->connectEvents([&](int n, QVariantList&) {
        if (n == number(EventNumber::JoinedChat))
            later = true;
    });
    serverSays("CHAT_JOIN:78:Den");
    EXPECT_TRUE(control_.isNull());
    EXPECT_FALSE(later);
    EXPECT_FALSE(record_.alive);
}

TEST_F(Events, DestroyedFromAnEventRaisedByAnInvokedMethod) {
    signOn();
    control_->connectEvents([&](int n, QVariantList&) {
        if (n == number(EventNumber::LoggedOut))
            delete control_.data();
    });
    ControlObject* object = control_.data();
    const DispatchResult r = object->call(DispId::LogOff);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(control_.isNull());
}

}  // namespace
}  // namespace lantry::testing

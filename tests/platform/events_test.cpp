// Events by number: arguments in declared order and type, several handlers, JoinedChat's
// lngChatID being LastChatID itself, and handlers that destroy the control.
#include <QStringList>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Events = ControlFixture;

constexpr int kJoinedChat = int(EventNumber::JoinedChat), kLoggedOut = int(EventNumber::LoggedOut);

QVariant i16(short value) {
    return QVariant::fromValue(value);
}

TEST_F(Events, ArriveByNumberWithTypedArgumentsInOrder) {
    std::vector<std::pair<int, QVariantList>> heard;
    control_->connectEvents([&](int n, QVariantList& args) {
        if (n != int(EventNumber::IncomingPacket))
            heard.emplace_back(n, args);
    });
    signOn();
    struct Case {
        std::string message;  // empty: LogOff
        EventNumber number;
        QVariantList args;
    };
    const Case cases[] = {
        {"CONFIG2:m:3\ng:Friends\nb:bob\nd:eve\np:carol\npref:x\ndone:\n",
         EventNumber::LoggedIn,
         {"alice", QStringList{"[group]Friends", "bob"}, QStringList{"eve"}, QStringList{"carol"},
          QStringList(), "x", i16(3)}},
        {"UPDATE_BUDDY2:bob:T:5:1000:2: O:0",
         EventNumber::BuddyUpdate,
         {"bob", true, i16(5), 1000, 2, " O"}},
        // Every byte arrives as one Latin-1 character.
        {"IM_IN_ENC2:Bob:F:F:T: O:F:L:en:caf\xe9",
         EventNumber::InstantMessage,
         {"Bob", QStringLiteral("caf\u00e9"), false, " O"}},
        {"CHAT_JOIN:77:Lobby", EventNumber::JoinedChat, {"Lobby", 77}},
        {"ERROR:980", EventNumber::Error, {i16(980), "Invalid account or password"}},
        {"", EventNumber::LoggedOut, {"alice"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        heard.clear();
        c.message.empty() ? void(control_->call(DispId::LogOff)) : serverSays(c.message);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].first, int(c.number));
        const QVariantList& got = heard[0].second;
        ASSERT_EQ(got.size(), c.args.size());
        // Hosts tell a 16-bit from a 32-bit argument by its type, so types count too.
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], c.args[i]) << i;
            EXPECT_EQ(got[i].metaType().id(), c.args[i].metaType().id()) << i;
        }
    }
}

TEST_F(Events, HandlersSeeEachOthersWritesAndCanDisconnectEachOther) {
    std::vector<QVariant> secondSaw;
    int second = 0;
    const int first = control_->connectEvents([&](int n, QVariantList& args) {
        if (n == kJoinedChat)
            args[1] = args[1] == 77 ? QVariant(QStringLiteral("5")) : QVariant("many");
        // Disconnecting a later handler from inside an event silences it at once.
        if (n == kLoggedOut)
            control_->disconnectEvents(second);
    });
    second = control_->connectEvents([&](int n, QVariantList& args) {
        if (n == kJoinedChat || n == kLoggedOut)
            secondSaw.push_back(n == kJoinedChat ? args[1] : QVariant(n));
    });
    EXPECT_EQ(control_->connectEvents(EventHandler()), 0);
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(5));
    // A value that is no 32-bit number leaves the property as the server set it.
    serverSays("CHAT_JOIN:78:Den");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(78));
    control_->call(DispId::LogOff);
    EXPECT_EQ(secondSaw, (std::vector<QVariant>{QStringLiteral("5"), QStringLiteral("many")}));
    EXPECT_FALSE(control_->disconnectEvents(second));
    EXPECT_TRUE(control_->disconnectEvents(first));
}

TEST_F(Events, DestroyedFromAnEventWhoseArgumentIsWrittenBack) {
    signOn();
    // JoinedChat's lngChatID would be written back into the control after the handlers.
    bool later = false;
    control_->connectEvents([&](int n, QVariantList& args) {
        if (n == kJoinedChat) {
            args[1] = 1;
            delete control_.data();
        }
    });
    control_->connectEvents([&](int n, QVariantList&) { later = later || n == kJoinedChat; });
    serverSays("CHAT_JOIN:78:Den");
    EXPECT_TRUE(control_.isNull());
    EXPECT_FALSE(later);
    EXPECT_FALSE(record_.alive);
}

TEST_F(Events, DestroyedFromAnEventRaisedByAnInvokedMethod) {
    signOn();
    control_->connectEvents([&](int n, QVariantList&) {
        if (n == kLoggedOut)
            delete control_.data();
    });
    ControlObject* object = control_.data();
    EXPECT_TRUE(object->call(DispId::LogOff).ok());
    EXPECT_TRUE(control_.isNull());
}

}  // namespace
}  // namespace lantry::testing

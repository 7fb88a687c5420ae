// Late-bound calls: every dispatch identifier reaches its member with converted arguments,
// results come back, by-reference arguments are written back, and bad calls are errors.
#include <QByteArray>
#include <QStringList>
#include <cmath>
#include <limits>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Dispatch = ControlFixture;

struct CommandCase {
    const char* member;
    DispatchId id;
    QVariantList args;
    std::string line;
};

TEST_F(Dispatch, EveryCommandMethodSendsItsLine) {
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    const std::vector<CommandCase> cases = {
        {"JoinChat", DispId::JoinChat, {" Lobby ", "4"}, "toc_chat_join \"4\" \"Lobby\""},
        {"LeaveChat by ID", DispId::LeaveChat, {"nowhere", 12}, "toc_chat_leave \"12\""},
        {"LeaveChat by name", DispId::LeaveChat, {"Lobby"}, "toc_chat_leave \"77\""},
        {"LeaveChat, ID passed as missing",
         DispId::LeaveChat,
         {"Lobby", QVariant()},
         "toc_chat_leave \"77\""},
        {"SendChat", DispId::SendChat, {"Lobby", "hi all"}, "toc_chat_send \"77\" \"hi all\""},
        {"SendChat by ID", DispId::SendChat, {"", "yo", 9.0}, "toc_chat_send \"9\" \"yo\""},
        {"InviteUsers",
         DispId::InviteUsers,
         {"Lobby", "come", "Bob Jones"},
         "toc_chat_invite \"77\" \"come\" \"bobjones\""},
        {"AcceptChatInvite", DispId::AcceptChatInvite, {"31"}, "toc_chat_accept \"31\""},
        {"GetProfile", DispId::GetProfile, {"Bob Jones"}, "toc_get_info \"bobjones\""},
        {"SendIM", DispId::SendIM, {"Bob", "hello", 0}, "toc_send_im \"bob\" \"hello\""},
        {"SendIM auto (-1)", DispId::SendIM, {"Bob", "hi", -1}, "toc_send_im \"bob\" \"hi\" auto"},
        {"SendIM auto (bool)",
         DispId::SendIM,
         {"Bob", "hi", true},
         "toc_send_im \"bob\" \"hi\" auto"},
        {"SendIM auto (text)",
         DispId::SendIM,
         {"Bob", "hi", "TRUE"},
         "toc_send_im \"bob\" \"hi\" auto"},
        {"SendIM, 1 is not true", DispId::SendIM, {"Bob", "hi", 1}, "toc_send_im \"bob\" \"hi\""},
        {"ChangePassword",
         DispId::ChangePassword,
         {"old", "new"},
         "toc_change_passwd \"old\" \"new\""},
        {"FormatUserName",
         DispId::FormatUserName,
         {"Bob Jones"},
         "toc_format_nickname \"Bob Jones\""},
        {"SetAwayMessage", DispId::SetAwayMessage, {"out"}, "toc_set_away \"out\""},
        {"SetProfile", DispId::SetProfile, {"me"}, "toc_set_info \"me\""},
        {"GetStatus", DispId::GetStatus, {"Bob"}, "toc_get_status \"bob\""},
        {"SetIdleTime", DispId::SetIdleTime, {"5"}, "toc_set_idle \"300\""},
        {"WarnUser anonymous", DispId::WarnUser, {"Bob", -1}, "toc_evil \"bob\" \"anon\""},
        {"WarnUser named", DispId::WarnUser, {"Bob", "False"}, "toc_evil \"bob\" \"norm\""},
        {"AddBuddy",
         DispId::AddBuddy,
         {"Friends", "Bob"},
         "toc2_new_buddies \"g:Friends\nb:Bob\n\""},
        {"RemoveBuddy",
         DispId::RemoveBuddy,
         {"Friends", "Bob"},
         "toc2_remove_buddy \"Bob\" \"Friends\""},
        {"AddGroup", DispId::AddGroup, {"Friends"}, "toc2_new_group \"Friends\""},
        {"RemoveGroup", DispId::RemoveGroup, {"Friends"}, "toc2_del_group \"Friends\""},
        {"BlockUser", DispId::BlockUser, {"Bob"}, "toc2_add_deny \"bob\""},
        {"UnblockUser", DispId::UnblockUser, {"Bob"}, "toc2_remove_deny \"bob\""},
        {"AddPrivateUser", DispId::AddPrivateUser, {"Bob"}, "toc2_add_permit \"bob\""},
        {"RemovePrivateUser", DispId::RemovePrivateUser, {"Bob"}, "toc2_remove_permit \"bob\""},
        {"SetPrivacy", DispId::SetPrivacy, {3.0}, "toc2_set_pdmode 3"},
        {"SetCapability", DispId::SetCapability, {"09461343"}, "toc_set_caps \"09461343\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        record_.sent.clear();
        QVariantList args = c.args;
        const DispatchResult r = control_->invoke(c.id, InvokeKind::Method, args);
        ASSERT_TRUE(r.ok()) << r.description.toStdString();
        EXPECT_FALSE(r.value.isValid());
        EXPECT_EQ(lines(), std::vector<std::string>{c.line});
        // Nothing these members do changes an argument, so the caller's values stay as given.
        EXPECT_EQ(args, c.args);
    }
}

TEST_F(Dispatch, SendPacketUsesTheChannelAsFrameType) {
    signOn();
    ASSERT_TRUE(control_->call(DispId::SendPacket, {"5", QByteArray("raw\x01", 4)}).ok());
    const auto frames = parseFrames(record_.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 5);
    EXPECT_EQ(frames[0].payload, std::string("raw\x01", 4));
}

TEST_F(Dispatch, ResultsAndTheLastChatIDProperty) {
    QVariantList none;
    DispatchResult r = control_->invoke(DispId::LastChatID, InvokeKind::PropertyGet, none);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, QVariant(0));

    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    EXPECT_EQ(control_->invoke(DispId::LastChatID, InvokeKind::PropertyGet, none).value,
              QVariant(77));
    // A method call without arguments reads the property, as such hosts do.
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(77));

    QVariantList put{QStringLiteral("12")};
    ASSERT_TRUE(control_->invoke(DispId::LastChatID, InvokeKind::PropertyPut, put).ok());
    EXPECT_EQ(control_->engine().LastChatID(), 12);
    EXPECT_TRUE(lines().empty());

    EXPECT_EQ(control_->call(DispId::GetChatName, {"77"}).value, QVariant(QStringLiteral("Lobby")));
    EXPECT_EQ(control_->call(DispId::GetChatName, {5}).value,
              QVariant(QStringLiteral("[No Chat Name Found for ID]")));

    // By value: the caller's text is not touched, whatever RemoveHtml makes of its copy.
    QVariantList html{QStringLiteral("<b>caf\u00e9</b> <i>au lait</i>")};
    r = control_->invoke(DispId::RemoveHtml, InvokeKind::Method, html);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value, QVariant(QStringLiteral("caf\u00e9 au lait")));
    EXPECT_EQ(html[0], QVariant(QStringLiteral("<b>caf\u00e9</b> <i>au lait</i>")));
}

// The toc2_login line sent once the server's sign-on frame arrives.
std::string loginLine(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
        if (l.rfind("toc2_login ", 0) == 0)
            return l;
    return {};
}

TEST_F(Dispatch, LoginWritesTheAuthorizerBackAndTakesThePortAsText) {
    const QString defaultHost =
        QString::fromLatin1(Ondrel::kDefaultAuthServer.data(), Ondrel::kDefaultAuthServer.size());
    struct Case {
        const char* name;
        QVariant authServer;  // invalid: left out
        QVariant writtenBack;
        std::string authInLine;
    };
    const std::vector<Case> cases = {
        {"omitted", QVariant(), QVariant(), std::string(Ondrel::kDefaultAuthServer)},
        {"blank text", QStringLiteral("   "), defaultHost, std::string(Ondrel::kDefaultAuthServer)},
        {"blank bytes", QByteArray(""), defaultHost.toLatin1(),
         std::string(Ondrel::kDefaultAuthServer)},
        {"given", QStringLiteral(" auth.example "), QStringLiteral(" auth.example "),
         "auth.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        record_ = {};
        QVariantList args{QStringLiteral("Alice Smith"), QStringLiteral("pw"),
                          QStringLiteral(" 127.0.0.1 "), QStringLiteral("5190")};
        if (c.authServer.isValid())
            args.append(c.authServer);
        const QVariantList given = args;
        ASSERT_TRUE(control_->invoke(DispId::Login, InvokeKind::Method, args).ok());
        ASSERT_EQ(record_.connects, std::vector<std::string>{"127.0.0.1:5190"});
        // Only AuthServer is written back, in the caller's own type; the port stays text.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(args[i], given[i]) << i;
        if (c.writtenBack.isValid()) {
            ASSERT_EQ(args.size(), 5);
            EXPECT_EQ(args[4], c.writtenBack);
            EXPECT_EQ(args[4].metaType(), c.writtenBack.metaType());
        } else {
            EXPECT_EQ(args.size(), 4);
        }

        sock_->connectNow();
        record_.sent.clear();
        sock_->arrive(serverFrame(1, std::string("\0\0\0\1", 4)));
        EXPECT_EQ(loginLine(lines()).rfind("toc2_login " + c.authInLine + " 5190 alicesmith ", 0),
                  0u)
            << loginLine(lines());
    }
}

struct ErrorCase {
    const char* name;
    DispatchId id;
    InvokeKind kind;
    QVariantList args;
    DispatchError error;
    int argument;
};

TEST_F(Dispatch, BadCallsAreErrorsThatCallNothing) {
    signOn();
    const QVariantList tooMany{"a", "b", "c", 1, "e", "f"};
    const std::vector<ErrorCase> cases = {
        {"unlisted identifier",
         0x60030002,
         InvokeKind::Method,
         {},
         DispatchError::UnknownMember,
         -1},
        {"random identifier", 0x12345678, InvokeKind::Method, {}, DispatchError::UnknownMember, -1},
        {"event number", 1, InvokeKind::Method, {}, DispatchError::UnknownMember, -1},
        {"LogOff with an argument",
         DispId::LogOff,
         InvokeKind::Method,
         {1},
         DispatchError::WrongArgumentCount,
         -1},
        {"Login short",
         DispId::Login,
         InvokeKind::Method,
         {"a", "b", "c"},
         DispatchError::WrongArgumentCount,
         -1},
        {"Login long", DispId::Login, InvokeKind::Method, tooMany,
         DispatchError::WrongArgumentCount, -1},
        {"Login port not a number",
         DispId::Login,
         InvokeKind::Method,
         {"a", "b", "c", "51x90"},
         DispatchError::TypeMismatch,
         3},
        {"Login port too large",
         DispId::Login,
         InvokeKind::Method,
         {"a", "b", "c", 1e12},
         DispatchError::Overflow,
         3},
        {"SendIM flag not boolean",
         DispId::SendIM,
         InvokeKind::Method,
         {"bob", "hi", "maybe"},
         DispatchError::TypeMismatch,
         2},
        {"text beyond one byte",
         DispId::SendIM,
         InvokeKind::Method,
         {QStringLiteral("b\u0151b"), "hi", 0},
         DispatchError::TypeMismatch,
         0},
        {"list as text",
         DispId::GetProfile,
         InvokeKind::Method,
         {QVariant(QStringList{"x"})},
         DispatchError::TypeMismatch,
         0},
        {"16-bit overflow",
         DispId::SetPrivacy,
         InvokeKind::Method,
         {70000},
         DispatchError::Overflow,
         0},
        {"exchange not a number",
         DispId::JoinChat,
         InvokeKind::Method,
         {"x", "four"},
         DispatchError::TypeMismatch,
         1},
        {"infinity",
         DispId::SetIdleTime,
         InvokeKind::Method,
         {std::numeric_limits<double>::infinity()},
         DispatchError::TypeMismatch,
         0},
        {"property put on a method",
         DispId::SendIM,
         InvokeKind::PropertyPut,
         {"bob", "hi", 0},
         DispatchError::WrongInvokeKind,
         -1},
        {"property get on a method",
         DispId::GetChatName,
         InvokeKind::PropertyGet,
         {1},
         DispatchError::WrongInvokeKind,
         -1},
        {"LastChatID called with an argument",
         DispId::LastChatID,
         InvokeKind::Method,
         {1},
         DispatchError::WrongInvokeKind,
         -1},
        {"LastChatID get with an argument",
         DispId::LastChatID,
         InvokeKind::PropertyGet,
         {1},
         DispatchError::WrongArgumentCount,
         -1},
        {"LastChatID put without value",
         DispId::LastChatID,
         InvokeKind::PropertyPut,
         {},
         DispatchError::WrongArgumentCount,
         -1},
        {"LastChatID put not a number",
         DispId::LastChatID,
         InvokeKind::PropertyPut,
         {"x"},
         DispatchError::TypeMismatch,
         0},
        {"SetIdleTime overflows seconds",
         DispId::SetIdleTime,
         InvokeKind::Method,
         {40000000},
         DispatchError::MethodFailed,
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantList args = c.args;
        const auto connectsBefore = record_.connects.size();
        const DispatchResult r = control_->invoke(c.id, c.kind, args);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.argument, c.argument);
        EXPECT_FALSE(r.description.isEmpty());
        EXPECT_EQ(args, c.args);
        EXPECT_TRUE(record_.sent.empty()) << record_.sent;
        EXPECT_EQ(record_.connects.size(), connectsBefore);
        EXPECT_EQ(control_->engine().LastChatID(), 0);
    }
}

TEST_F(Dispatch, LogOffFailureComesBackAsAnError) {
    signOn();
    control_->connectEvents([](int number, QVariantList&) {
        if (number == static_cast<int>(EventNumber::LoggedOut))
            throw std::runtime_error("boom");
    });
    const DispatchResult r = control_->call(DispId::LogOff);
    EXPECT_EQ(r.error, DispatchError::MethodFailed);
    EXPECT_TRUE(r.description.contains(QStringLiteral("boom"))) << r.description.toStdString();
}

TEST_F(Dispatch, NamesResolveWithoutRegardToCase) {
    const std::vector<std::pair<const char*, DispatchId>> names = {
        {"Login", DispId::Login},
        {"logoff", DispId::LogOff},
        {"SENDPACKET", DispId::SendPacket},
        {"lastChatId", DispId::LastChatID},
        {"JoinChat", DispId::JoinChat},
        {"LeaveChat", DispId::LeaveChat},
        {"SendChat", DispId::SendChat},
        {"GetProfile", DispId::GetProfile},
        {"sendim", DispId::SendIM},
        {"ChangePassword", DispId::ChangePassword},
        {"FormatUserName", DispId::FormatUserName},
        {"SetAwayMessage", DispId::SetAwayMessage},
        {"SetProfile", DispId::SetProfile},
        {"GetStatus", DispId::GetStatus},
        {"SetIdleTime", DispId::SetIdleTime},
        {"AcceptChatInvite", DispId::AcceptChatInvite},
        {"InviteUsers", DispId::InviteUsers},
        {"WarnUser", DispId::WarnUser},
        {"addbuddy", DispId::AddBuddy},
        {"RemoveBuddy", DispId::RemoveBuddy},
        {"AddGroup", DispId::AddGroup},
        {"RemoveGroup", DispId::RemoveGroup},
        {"BlockUser", DispId::BlockUser},
        {"UnblockUser", DispId::UnblockUser},
        {"AddPrivateUser", DispId::AddPrivateUser},
        {"RemovePrivateUser", DispId::RemovePrivateUser},
        {"SetPrivacy", DispId::SetPrivacy},
        {"SetCapability", DispId::SetCapability},
        {"RemoveHtml", DispId::RemoveHtml},
        {"GetChatName", DispId::GetChatName},
        {"Logins", kUnknownDispatchId},
        {"", kUnknownDispatchId},
        {"JoinedChat", kUnknownDispatchId},
        {"lngChatID", kUnknownDispatchId},
    };
    for (const auto& [name, id] : names)
        EXPECT_EQ(control_->idOfName(QString::fromLatin1(name)), id) << name;
}

}  // namespace
}  // namespace lantry::testing

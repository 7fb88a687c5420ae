// Late-bound calls: names reach their members with converted arguments, results come back,
// by-reference arguments are written back, and bad calls are errors that call nothing.
#include <limits>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Dispatch = ControlFixture;

TEST_F(Dispatch, MembersByNameSendTheirLineWithConvertedArguments) {
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    struct Case {
        const char* member;  // looked up by name, spelled in any case
        QVariantList args;
        std::string line;
    };
    const Case cases[] = {
        {"joinchat", {" Lobby ", "4"}, R"(toc_chat_join "4" "Lobby")"},
        {"LeaveChat", {"Lobby", QVariant()}, R"(toc_chat_leave "77")"},
        {"LeaveChat", {"nowhere", 12}, R"(toc_chat_leave "12")"},
        {"SendChat", {"", "yo", 9.0}, R"(toc_chat_send "9" "yo")"},
        {"InviteUsers", {"Lobby", "come", "Bob J"}, R"(toc_chat_invite "77" "come" "bobj")"},
        {"AcceptChatInvite", {"31"}, R"(toc_chat_accept "31")"},
        {"ChangePassword", {"old", "new"}, R"(toc_change_passwd "old" "new")"},
        {"SetIdleTime", {"5"}, R"(toc_set_idle "300")"},
        {"WarnUser", {"Bob", -1}, R"(toc_evil "bob" "anon")"},
        {"addbuddy", {"Friends", "Bob"}, "toc2_new_buddies \"g:Friends\nb:Bob\n\""},
        {"RemoveBuddy", {"Friends", "Bob"}, R"(toc2_remove_buddy "Bob" "Friends")"},
        // Numbers from text, booleans and reals, which round half to even.
        {"SetPrivacy", {" -42 "}, "toc2_set_pdmode -42"},
        {"SetPrivacy", {"1e3"}, "toc2_set_pdmode 1000"},
        {"SetPrivacy", {2.5}, "toc2_set_pdmode 2"},
        {"SetPrivacy", {3.5}, "toc2_set_pdmode 4"},
        {"SetPrivacy", {true}, "toc2_set_pdmode -1"},
        {"SetPrivacy", {QVariant()}, "toc2_set_pdmode 0"},
        // Booleans as the host has them: only -1 is true.
        {"sendim", {"b", "x", -1.0}, R"(toc_send_im "b" "x" auto)"},
        {"SendIM", {"b", "x", 1}, R"(toc_send_im "b" "x")"},
        {"SendIM", {"b", "x", " tRuE"}, R"(toc_send_im "b" "x" auto)"},
        {"SendIM", {"b", "x", "-1"}, R"(toc_send_im "b" "x" auto)"},
        {"SendIM", {"b", "x", QVariant()}, R"(toc_send_im "b" "x")"},
        // Text is bytes, one per Latin-1 character; numbers and booleans as the host writes them.
        {"SetProfile", {QStringLiteral("caf\u00e9\u00ff")}, "toc_set_info \"caf\xe9\xff\""},
        {"SetProfile", {QByteArray("a\xfe")}, "toc_set_info \"a\xfe\""},
        {"SetProfile", {5190}, R"(toc_set_info "5190")"},
        {"SetProfile", {true}, R"(toc_set_info "True")"},
        {"SetProfile", {QVariant()}, R"(toc_set_info "")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        record_.sent.clear();
        QVariantList args = c.args;
        const DispatchId id = control_->idOfName(QString::fromLatin1(c.member));
        const DispatchResult r = control_->invoke(id, InvokeKind::Method, args);
        ASSERT_TRUE(r.ok()) << r.description.toStdString();
        EXPECT_FALSE(r.value.isValid());
        EXPECT_EQ(lines(), std::vector<std::string>{c.line});
        EXPECT_EQ(args, c.args);
    }
    for (const char* name : {"Logins", "", "JoinedChat"})
        EXPECT_EQ(control_->idOfName(QString::fromLatin1(name)), kUnknownDispatchId) << name;

    // SendPacket's channel is the frame type, and its data goes out as given.
    record_.sent.clear();
    ASSERT_TRUE(control_->call(DispId::SendPacket, {"5", QByteArray("raw\x01", 4)}).ok());
    const auto frames = parseFrames(record_.sent);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 5);
    EXPECT_EQ(frames[0].payload, std::string("raw\x01", 4));
}

TEST_F(Dispatch, ResultsAndTheLastChatIDProperty) {
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    QVariantList none;
    EXPECT_EQ(control_->invoke(DispId::LastChatID, InvokeKind::PropertyGet, none).value,
              QVariant(77));
    // A method call without arguments reads the property, as such hosts do.
    EXPECT_EQ(control_->call(control_->idOfName("lastchatid")).value, QVariant(77));
    QVariantList put{QStringLiteral("12")};
    ASSERT_TRUE(control_->invoke(DispId::LastChatID, InvokeKind::PropertyPut, put).ok());
    EXPECT_EQ(control_->engine().LastChatID(), 12);
    EXPECT_TRUE(lines().empty());

    EXPECT_EQ(control_->call(DispId::GetChatName, {"77"}).value, QVariant(QStringLiteral("Lobby")));
    // By value: the caller's text is not touched, whatever RemoveHtml makes of its copy.
    QVariantList html{QStringLiteral("<b>caf\u00e9</b> <i>au lait</i>")};
    const DispatchResult r = control_->invoke(DispId::RemoveHtml, InvokeKind::Method, html);
    EXPECT_EQ(r.value, QVariant(QStringLiteral("caf\u00e9 au lait")));
    EXPECT_EQ(html[0], QVariant(QStringLiteral("<b>caf\u00e9</b> <i>au lait</i>")));
}

TEST_F(Dispatch, LoginWritesABlankAuthorizerBackInTheCallersTypeAndTakesThePortAsText) {
    const QByteArray host(Ondrel::kDefaultAuthServer.data(),
                          static_cast<qsizetype>(Ondrel::kDefaultAuthServer.size()));
    const std::pair<QVariant, QVariant> authorizers[] = {
        {QByteArray("  "), host},
        {QStringLiteral(" auth.example "), QStringLiteral(" auth.example ")},
    };
    for (const auto& [given, writtenBack] : authorizers) {
        QVariantList args{"Alice Smith", "pw", " 127.0.0.1 ", "5190", given};
        ASSERT_TRUE(control_->invoke(DispId::Login, InvokeKind::Method, args).ok());
        EXPECT_EQ(args, (QVariantList{"Alice Smith", "pw", " 127.0.0.1 ", "5190", writtenBack}));
        EXPECT_EQ(args[3].metaType().id(), QMetaType::QString);
        EXPECT_EQ(args[4].metaType(), writtenBack.metaType());
    }
    EXPECT_EQ(record_.connects.back(), "127.0.0.1:5190");
    // The named authorizer of the last call goes into the login line.
    sock_->connectNow();
    record_.sent.clear();
    sock_->arrive(serverFrame(1, std::string("\0\0\0\1", 4)));
    ASSERT_FALSE(lines().empty());
    EXPECT_EQ(lines().back().rfind("toc2_login auth.example 5190 alicesmith ", 0), 0u);
}

TEST_F(Dispatch, BadCallsAreErrorsThatCallNothing) {
    signOn();
    using E = DispatchError;
    constexpr auto M = InvokeKind::Method, Put = InvokeKind::PropertyPut;
    constexpr DispatchId Login = DispId::Login, LastId = DispId::LastChatID,
                         Privacy = DispId::SetPrivacy, Im = DispId::SendIM;
    struct Case {
        const char* name;
        DispatchId id;
        InvokeKind kind;
        QVariantList args;
        DispatchError error;
        int argument;
    };
    const Case cases[] = {
        {"unlisted identifier", 0x60030002, M, {}, E::UnknownMember, -1},
        {"Login short", Login, M, {"a", "b", "c"}, E::WrongArgumentCount, -1},
        {"port not a number", Login, M, {"a", "b", "c", "51x90"}, E::TypeMismatch, 3},
        {"port too large", Login, M, {"a", "b", "c", 1e12}, E::Overflow, 3},
        {"flag not boolean", Im, M, {"bob", "hi", "maybe"}, E::TypeMismatch, 2},
        {"beyond a byte", Im, M, {QStringLiteral("\u0151"), "", 0}, E::TypeMismatch, 0},
        {"16-bit overflow", Privacy, M, {70000}, E::Overflow, 0},
        {"unsigned overflow", DispId::AcceptChatInvite, M, {~0ULL}, E::Overflow, 0},
        {"empty text as a number", Privacy, M, {""}, E::TypeMismatch, 0},
        {"infinity", Privacy, M, {std::numeric_limits<double>::infinity()}, E::TypeMismatch, 0},
        {"list as a number", Privacy, M, {QStringList{"1"}}, E::TypeMismatch, 0},
        {"list as text", DispId::GetProfile, M, {QStringList{"x"}}, E::TypeMismatch, 0},
        {"put on a method", Im, Put, {"bob", "hi", 0}, E::WrongInvokeKind, -1},
        {"LastChatID called with a value", LastId, M, {1}, E::WrongInvokeKind, -1},
        {"LastChatID put without value", LastId, Put, {}, E::WrongArgumentCount, -1},
        {"LastChatID put not a number", LastId, Put, {"x"}, E::TypeMismatch, 0},
        {"idle seconds overflow", DispId::SetIdleTime, M, {40000000}, E::MethodFailed, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantList args = c.args;
        const DispatchResult r = control_->invoke(c.id, c.kind, args);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.argument, c.argument);
        EXPECT_EQ(args, c.args);
        EXPECT_TRUE(record_.sent.empty()) << record_.sent;
        EXPECT_EQ(record_.connects.size(), 1u);
        EXPECT_EQ(control_->engine().LastChatID(), 0);
    }
    // A member's failure carries the member's own reason.
    EXPECT_TRUE(control_->call(DispId::SetIdleTime, {40000000}).description.contains("40000000"));
}

}  // namespace
}  // namespace lantry::testing

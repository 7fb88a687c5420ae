// The control as a host sees it, on a fake socket: late-bound calls by name with converted
// arguments, results and by-reference write-back, bad calls that call nothing; events by number
// with typed arguments, several handlers, handlers that destroy the control; its face, the
// 125 x 37 logo that no container can resize; registration and creation by identifier.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/component.h"
#include "ondrel_control.h"

namespace lantry::testing {
namespace {

class Control : public ::testing::Test {
protected:
    void SetUp() override {
        auto sock = std::make_unique<FakeSocket>(record_);
        sock_ = sock.get();
        control_ = new OndrelControl(std::move(sock), nullptr);
    }
    void TearDown() override { delete control_.data(); }

    // Login through the layer and an open connection; the lines sent so far are forgotten.
    void signOn() {
        ASSERT_TRUE(control_->call(DispId::Login, {"Alice", "pw", "127.0.0.1", "5190"}).ok());
        sock_->connectNow();
        record_.sent.clear();
    }
    // The payloads of the data frames sent since the last clear.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& f : parseFrames(record_.sent))
            if (f.type == 2)
                out.push_back(f.payload);
        return out;
    }
    void serverSays(const std::string& message) { sock_->arrive(dataFrame(message)); }

    FakeSocket::Record record_;
    FakeSocket* sock_ = nullptr;
    QPointer<OndrelControl> control_;
};

TEST_F(Control, MembersByNameSendTheirLineWithConvertedArgumentsOrReturnResults) {
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
        {"SendChat", {"", "yo", 9.0}, R"(toc_chat_send "9" "yo")"},
        {"SetIdleTime", {"5"}, R"(toc_set_idle "300")"},
        {"WarnUser", {"Bob", -1}, R"(toc_evil "bob" "anon")"},
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
    EXPECT_TRUE(frames.size() == 1 && frames[0].type == 5 && frames[0].payload == "raw\x01");

    record_.sent.clear();
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

TEST_F(Control, LoginWritesABlankAuthorizerBackInTheCallersTypeAndTakesThePortAsText) {
    const QByteArray host = Ondrel::kDefaultAuthServer.data();
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

TEST_F(Control, BadCallsAreErrorsThatCallNothing) {
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

constexpr int kJoinedChat = int(EventNumber::JoinedChat), kLoggedOut = int(EventNumber::LoggedOut);

TEST_F(Control, ArriveByNumberWithTypedArgumentsInOrder) {
    const auto i16 = [](short value) { return QVariant::fromValue(value); };
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
    using N = EventNumber;
    const Case cases[] = {
        {"CONFIG2:m:3\ng:Friends\nb:bob\nd:eve\np:carol\npref:x\ndone:\n",
         N::LoggedIn,
         {"alice", QStringList{"[group]Friends", "bob"}, QStringList{"eve"}, QStringList{"carol"},
          QStringList(), "x", i16(3)}},
        {"UPDATE_BUDDY2:bob:T:5:1000:2: O:0", N::BuddyUpdate, {"bob", true, i16(5), 1000, 2, " O"}},
        // Every byte arrives as one Latin-1 character.
        {"IM_IN_ENC2:Bob:F:F:T: O:F:L:en:caf\xe9",
         N::InstantMessage,
         {"Bob", QStringLiteral("caf\u00e9"), false, " O"}},
        {"CHAT_JOIN:77:Lobby", N::JoinedChat, {"Lobby", 77}},
        {"ERROR:980", N::Error, {i16(980), "Invalid account or password"}},
        {"", N::LoggedOut, {"alice"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        heard.clear();
        c.message.empty() ? void(control_->call(DispId::LogOff)) : serverSays(c.message);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].first, int(c.number));
        const QVariantList& got = heard[0].second;
        ASSERT_EQ(got.size(), c.args.size());
        // Hosts name the arguments from the layer's description of the event.
        const EventInfo& described = eventTable().at(std::size_t(heard[0].first) - 1);
        EXPECT_EQ(described.number, heard[0].first);
        EXPECT_EQ(described.params.size(), std::size_t(got.size()));
        // Hosts tell a 16-bit from a 32-bit argument by its type, so types count too.
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], c.args[i]) << i;
            EXPECT_EQ(got[i].metaType().id(), c.args[i].metaType().id()) << i;
        }
    }
}

TEST_F(Control, HandlersSeeEachOthersWritesDisconnectEachOtherAndDestroyTheControl) {
    std::vector<QVariant> secondSaw;
    int second = 0;
    control_->connectEvents([&](int n, QVariantList& args) {
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
    // The last handler destroys the control inside the event that an invoked method raised.
    control_->connectEvents([&](int n, QVariantList&) {
        if (n == kLoggedOut)
            delete control_.data();
    });
    EXPECT_EQ(control_->connectEvents(EventHandler()), 0);
    signOn();
    serverSays("CHAT_JOIN:77:Lobby");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(5));
    // A value that is no 32-bit number leaves the property as the server set it.
    serverSays("CHAT_JOIN:78:Den");
    EXPECT_EQ(control_->call(DispId::LastChatID).value, QVariant(78));
    ControlObject* object = control_.data();
    EXPECT_TRUE(object->call(DispId::LogOff).ok());
    EXPECT_TRUE(control_.isNull());
    EXPECT_EQ(secondSaw, (std::vector<QVariant>{QStringLiteral("5"), QStringLiteral("many")}));
}

TEST_F(Control, DestroyedFromAnEventWhoseArgumentIsWrittenBack) {
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

const QSize kLogo(125, 37);

TEST_F(Control, ShowsTheLogoAndSnapsBackInAContainer) {
    auto* logo = control_->findChild<QLabel*>(QStringLiteral("imgSockLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->geometry(), QRect(QPoint(0, 0), kLogo));
    EXPECT_EQ(logo->pixmap().size(), kLogo);

    QWidget container;
    control_->setParent(&container);
    control_->show();
    container.show();
    for (const QSize& s : {QSize(400, 300), QSize(0, 0), QSize(600, 37)}) {
        control_->setGeometry(QRect(QPoint(3, 4), s));
        EXPECT_EQ(control_->geometry(), QRect(QPoint(3, 4), kLogo))
            << s.width() << "x" << s.height();
    }
    // A container that first lifts the limits still gets the logo's size back, shown or hidden.
    for (bool visible : {true, false}) {
        control_->setVisible(visible);
        control_->setMinimumSize(300, 200);
        control_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        control_->resize(300, 200);
        control_->show();
        EXPECT_EQ(control_->size(), kLogo) << visible;
    }
}

TEST(Registration, RegisterCreateUnregisterAndEveryFailure) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("nested/dir/components.ini");
    const QString libraryKey = "CLSID/" + kOndrelClassId.toString(QUuid::WithBraces) + "/Library";
    qputenv(kRegistryEnvironmentVariable, record.toLocal8Bit());
    QString error;
    EXPECT_EQ(createObject("Lantry.Ondrel", &error), nullptr);
    EXPECT_TRUE(error.contains(record)) << error.toStdString();
    // Unregistering with no record creates none.
    EXPECT_EQ(DllUnregisterServer(), kResultOk);
    EXPECT_FALSE(QFileInfo::exists(record));

    // Someone else's entry shares the file and must survive us.
    QDir().mkpath(QFileInfo(record).absolutePath());
    QSettings(record, QSettings::IniFormat).setValue("ProgID/Other.Thing/CLSID", "{1}");
    ASSERT_EQ(DllRegisterServer(), kResultOk);
    ASSERT_EQ(DllRegisterServer(), kResultOk);
    const QString library = QSettings(record, QSettings::IniFormat).value(libraryKey).toString();
    EXPECT_EQ(QFileInfo(library).canonicalFilePath(),
              QFileInfo(ONDREL_LIBRARY_FILE).canonicalFilePath());
    std::unique_ptr<ControlObject> control(createObject("lantry.ONDREL", &error));
    ASSERT_NE(control, nullptr) << error.toStdString();
    EXPECT_EQ(control->idOfName("ChangePassword"), DispId::ChangePassword);
    EXPECT_EQ(DllCanUnloadNow(), kResultFalse);
    control.reset();
    EXPECT_EQ(DllCanUnloadNow(), kResultOk);
    EXPECT_EQ(createObject("Lantry.Other", &error), nullptr);
    EXPECT_TRUE(error.contains("Lantry.Other")) << error.toStdString();

    void* object = reinterpret_cast<void*>(1);
    const QByteArray cls = kOndrelClassId.toString(QUuid::WithBraces).toLatin1();
    const QByteArray factory = kClassFactoryId.toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QByteArray other = kOndrelInterfaceId.toString(QUuid::WithBraces).toLatin1();
    EXPECT_EQ(DllGetClassObject(other, factory, &object), kResultClassNotAvailable);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllGetClassObject(cls, factory, nullptr), kResultPointer);
    ASSERT_EQ(DllGetClassObject(cls, factory, &object), kResultOk);
    QWidget window;
    control.reset(static_cast<ClassFactory*>(object)->createInstance(&window));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->widget()->parentWidget(), &window);
    control.reset();

    QSettings(record, QSettings::IniFormat).setValue(libraryKey, dir.filePath("gone/lib.so"));
    EXPECT_EQ(createObject("Lantry.Ondrel", &error), nullptr);
    EXPECT_TRUE(error.contains("Cannot load")) << error.toStdString();
    ASSERT_EQ(DllUnregisterServer(), kResultOk);
    EXPECT_EQ(QSettings(record, QSettings::IniFormat).allKeys(),
              QStringList{"ProgID/Other.Thing/CLSID"});
    // An identifier that another class has taken over is that class's: unregistering keeps it.
    ASSERT_EQ(DllRegisterServer(), kResultOk);
    QSettings(record, QSettings::IniFormat).setValue("ProgID/Lantry.Ondrel/CLSID", "{2}");
    ASSERT_EQ(DllUnregisterServer(), kResultOk);
    EXPECT_EQ(QSettings(record, QSettings::IniFormat).allKeys(),
              (QStringList{"ProgID/Lantry.Ondrel/CLSID", "ProgID/Other.Thing/CLSID"}));
    QSettings(record, QSettings::IniFormat).remove("ProgID/Lantry.Ondrel");
    EXPECT_EQ(createObject("Lantry.Ondrel", &error), nullptr);
    EXPECT_TRUE(error.contains("not registered")) << error.toStdString();

    qputenv(kRegistryEnvironmentVariable, "/dev/null/not-a-directory/components.ini");
    EXPECT_EQ(DllRegisterServer(), kResultRegistryFailed);
    // Without the variable the record lives in the user's configuration directory.
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qunsetenv(kRegistryEnvironmentVariable);
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    EXPECT_EQ(registryFile(), dir.filePath("Lantry/components.ini"));
    saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
}  // namespace lantry::testing

// The face is a widget, so the tests need a QApplication.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

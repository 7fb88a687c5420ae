// Registration through the library's own entry points (resolved with QLibrary, as a host or
// the command line does), creation by programmatic identifier, unregistration.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibrary>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWidget>

#include <QDeadlineTimer>
#include <memory>

#include "ondrel/component.h"

namespace lantry {
namespace {

using EntryPoint = std::int32_t (*)();
using GetClassObject = std::int32_t (*)(const char*, const char*, void**);

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        record_ = dir_.filePath(QStringLiteral("nested/dir/components.ini"));
        qputenv(kRegistryEnvironmentVariable, record_.toLocal8Bit());
        library_.setFileName(QStringLiteral(ONDREL_LIBRARY_FILE));
        ASSERT_TRUE(library_.load()) << library_.errorString().toStdString();
        registerServer_ = reinterpret_cast<EntryPoint>(library_.resolve("DllRegisterServer"));
        unregisterServer_ = reinterpret_cast<EntryPoint>(library_.resolve("DllUnregisterServer"));
        canUnload_ = reinterpret_cast<EntryPoint>(library_.resolve("DllCanUnloadNow"));
        getClassObject_ = reinterpret_cast<GetClassObject>(library_.resolve("DllGetClassObject"));
        ASSERT_TRUE(registerServer_ && unregisterServer_ && canUnload_ && getClassObject_);
    }
    void TearDown() override { qunsetenv(kRegistryEnvironmentVariable); }

    QTemporaryDir dir_;
    QString record_;
    QLibrary library_;
    EntryPoint registerServer_ = nullptr;
    EntryPoint unregisterServer_ = nullptr;
    EntryPoint canUnload_ = nullptr;
    GetClassObject getClassObject_ = nullptr;
};

QString braced(const QUuid& id) {
    return id.toString(QUuid::WithBraces);
}

TEST_F(Registration, RegisterCreateUnregister) {
    EXPECT_EQ(registryFile(), record_);
    {
        // Someone else's entry shares the file and must survive us.
        QDir().mkpath(QFileInfo(record_).absolutePath());
        QSettings other(record_, QSettings::IniFormat);
        other.setValue(QStringLiteral("ProgID/Other.Thing/CLSID"), QStringLiteral("{1}"));
    }
    ASSERT_EQ(registerServer_(), kResultOk);
    {
        QSettings s(record_, QSettings::IniFormat);
        EXPECT_EQ(s.value(QStringLiteral("ProgID/Lantry.Ondrel/CLSID")).toString(),
                  braced(kOndrelClassId));
        const QString cls = QStringLiteral("CLSID/") + braced(kOndrelClassId);
        EXPECT_EQ(s.value(cls + QStringLiteral("/ProgID")).toString(),
                  QStringLiteral("Lantry.Ondrel"));
        EXPECT_EQ(
            QFileInfo(s.value(cls + QStringLiteral("/Library")).toString()).canonicalFilePath(),
            QFileInfo(QStringLiteral(ONDREL_LIBRARY_FILE)).canonicalFilePath());
        EXPECT_EQ(s.value(cls + QStringLiteral("/TypeLib")).toString(), braced(kTypeLibraryId));
        EXPECT_EQ(s.value(cls + QStringLiteral("/Version")).toString(), QStringLiteral("2.0.0.0"));
        const QString lib = QStringLiteral("TypeLib/") + braced(kTypeLibraryId);
        EXPECT_EQ(s.value(lib + QStringLiteral("/Name")).toString(), QStringLiteral("Lantry"));
        EXPECT_EQ(s.value(lib + QStringLiteral("/Version")).toString(), QStringLiteral("1.0"));
        EXPECT_EQ(s.value(QStringLiteral("Interface/") + braced(kOndrelInterfaceId) +
                          QStringLiteral("/Name"))
                      .toString(),
                  QStringLiteral("_Ondrel"));
        EXPECT_EQ(s.value(QStringLiteral("Interface/") + braced(kOndrelEventsId) +
                          QStringLiteral("/Name"))
                      .toString(),
                  QStringLiteral("__Ondrel"));
    }
    // Registering twice changes nothing.
    ASSERT_EQ(registerServer_(), kResultOk);

    EXPECT_EQ(canUnload_(), kResultOk);
    QString error;
    std::unique_ptr<ControlObject> control(createObject(QStringLiteral("lantry.ONDREL"), &error));
    ASSERT_NE(control, nullptr) << error.toStdString();
    EXPECT_EQ(control->widget()->size(), QSize(125, 37));
    EXPECT_EQ(control->idOfName(QStringLiteral("ChangePassword")), DispId::ChangePassword);
    EXPECT_EQ(canUnload_(), kResultFalse);
    control.reset();
    EXPECT_EQ(canUnload_(), kResultOk);

    ASSERT_EQ(unregisterServer_(), kResultOk);
    {
        QSettings s(record_, QSettings::IniFormat);
        EXPECT_EQ(s.childGroups(), QStringList{QStringLiteral("ProgID")});
        s.beginGroup(QStringLiteral("ProgID"));
        EXPECT_EQ(s.childGroups(), QStringList{QStringLiteral("Other.Thing")});
    }
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("not registered"))) << error.toStdString();
    EXPECT_EQ(unregisterServer_(), kResultOk);
}

TEST_F(Registration, CreationFailsCleanly) {
    QString error;
    // No record at all.
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(record_)) << error.toStdString();
    // Unregistering with no record creates none.
    EXPECT_EQ(unregisterServer_(), kResultOk);
    EXPECT_FALSE(QFileInfo::exists(record_));

    ASSERT_EQ(registerServer_(), kResultOk);
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Other"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("Lantry.Other"))) << error.toStdString();

    // A record whose library has gone.
    {
        QSettings s(record_, QSettings::IniFormat);
        s.setValue(QStringLiteral("CLSID/") + braced(kOndrelClassId) + QStringLiteral("/Library"),
                   dir_.filePath(QStringLiteral("gone/libondrel.so.2")));
    }
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("Cannot load"))) << error.toStdString();
    EXPECT_EQ(canUnload_(), kResultOk);
}

TEST_F(Registration, UnwritableRecordIsReported) {
    qputenv(kRegistryEnvironmentVariable, "/dev/null/not-a-directory/components.ini");
    EXPECT_EQ(registerServer_(), kResultRegistryFailed);
}

TEST_F(Registration, DefaultLocationFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qunsetenv(kRegistryEnvironmentVariable);
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    EXPECT_EQ(registryFile(), dir_.filePath(QStringLiteral("Lantry/components.ini")));
    EXPECT_EQ(registerServer_(), kResultOk);
    EXPECT_TRUE(QFileInfo::exists(dir_.filePath(QStringLiteral("Lantry/components.ini"))));
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(Registration, ClassObjectOnlyForOurClassAndTheFactory) {
    void* object = reinterpret_cast<void*>(1);
    const QByteArray cls = braced(kOndrelClassId).toLatin1();
    const QByteArray factory = kClassFactoryId.toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QByteArray other = braced(kOndrelInterfaceId).toLatin1();
    EXPECT_EQ(getClassObject_(other.constData(), factory.constData(), &object),
              kResultClassNotAvailable);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject_(cls.constData(), other.constData(), &object), kResultNoInterface);
    EXPECT_EQ(getClassObject_("not a guid", factory.constData(), &object),
              kResultClassNotAvailable);
    EXPECT_EQ(getClassObject_(cls.constData(), factory.constData(), nullptr), kResultPointer);
    EXPECT_EQ(getClassObject_(nullptr, factory.constData(), &object), kResultPointer);
    ASSERT_EQ(getClassObject_(cls.constData(), factory.constData(), &object), kResultOk);
    ASSERT_NE(object, nullptr);

    // The instance the factory makes is a working control on a real socket.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QWidget window;
    std::unique_ptr<ControlObject> control(
        static_cast<ClassFactory*>(object)->createInstance(&window));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->widget()->parentWidget(), &window);
    QVariantList args{QStringLiteral("alice"), QStringLiteral("pw"), QStringLiteral("127.0.0.1"),
                      QString::number(server.serverPort())};
    ASSERT_TRUE(control->invoke(DispId::Login, InvokeKind::Method, args).ok());

    QByteArray greeting;
    QTcpSocket* peer = nullptr;
    const QDeadlineTimer deadline(5000);
    while (greeting.size() < 8 && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!peer && server.hasPendingConnections())
            peer = server.nextPendingConnection();
        if (peer)
            greeting += peer->readAll();
    }
    EXPECT_EQ(greeting, QByteArray("FLAPON\n\n"));
}

}  // namespace
}  // namespace lantry

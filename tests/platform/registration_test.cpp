// Registration through the library's entry points, creation by programmatic identifier,
// unregistration. The command line's own tests load the entry points as a host does.
#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "ondrel/component.h"

namespace lantry {
namespace {

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        record_ = dir_.filePath(QStringLiteral("nested/dir/components.ini"));
        qputenv(kRegistryEnvironmentVariable, record_.toLocal8Bit());
    }
    void TearDown() override { qunsetenv(kRegistryEnvironmentVariable); }

    QTemporaryDir dir_;
    QString record_;
    const QString libraryKey_ =
        QStringLiteral("CLSID/") + kOndrelClassId.toString(QUuid::WithBraces) + "/Library";
};

TEST_F(Registration, RegisterCreateUnregister) {
    // Someone else's entry shares the file and must survive us.
    QDir().mkpath(QFileInfo(record_).absolutePath());
    QSettings(record_, QSettings::IniFormat).setValue("ProgID/Other.Thing/CLSID", "{1}");
    ASSERT_EQ(DllRegisterServer(), kResultOk);
    ASSERT_EQ(DllRegisterServer(), kResultOk);
    const QString library = QSettings(record_, QSettings::IniFormat).value(libraryKey_).toString();
    EXPECT_EQ(QFileInfo(library).canonicalFilePath(),
              QFileInfo(QStringLiteral(ONDREL_LIBRARY_FILE)).canonicalFilePath());
    QString error;
    std::unique_ptr<ControlObject> control(createObject(QStringLiteral("lantry.ONDREL"), &error));
    ASSERT_NE(control, nullptr) << error.toStdString();
    EXPECT_EQ(control->idOfName(QStringLiteral("ChangePassword")), DispId::ChangePassword);
    EXPECT_EQ(DllCanUnloadNow(), kResultFalse);
    control.reset();
    EXPECT_EQ(DllCanUnloadNow(), kResultOk);

    ASSERT_EQ(DllUnregisterServer(), kResultOk);
    EXPECT_EQ(QSettings(record_, QSettings::IniFormat).allKeys(),
              QStringList{QStringLiteral("ProgID/Other.Thing/CLSID")});
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("not registered"))) << error.toStdString();
}

TEST_F(Registration, CreationAndRegistrationFailCleanly) {
    QString error;
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(record_)) << error.toStdString();
    // Unregistering with no record creates none.
    EXPECT_EQ(DllUnregisterServer(), kResultOk);
    EXPECT_FALSE(QFileInfo::exists(record_));

    ASSERT_EQ(DllRegisterServer(), kResultOk);
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Other"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("Lantry.Other"))) << error.toStdString();
    QSettings(record_, QSettings::IniFormat).setValue(libraryKey_, dir_.filePath("gone/lib.so"));
    EXPECT_EQ(createObject(QStringLiteral("Lantry.Ondrel"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("Cannot load"))) << error.toStdString();
    EXPECT_EQ(DllCanUnloadNow(), kResultOk);

    qputenv(kRegistryEnvironmentVariable, "/dev/null/not-a-directory/components.ini");
    EXPECT_EQ(DllRegisterServer(), kResultRegistryFailed);
    // Without the variable the record lives in the user's configuration directory.
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qunsetenv(kRegistryEnvironmentVariable);
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    EXPECT_EQ(registryFile(), dir_.filePath(QStringLiteral("Lantry/components.ini")));
    saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(Registration, ClassObjectOnlyForOurClassAndTheFactory) {
    void* object = reinterpret_cast<void*>(1);
    const QByteArray cls = kOndrelClassId.toString(QUuid::WithBraces).toLatin1();
    const QByteArray factory = kClassFactoryId.toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QByteArray other = kOndrelInterfaceId.toString(QUuid::WithBraces).toLatin1();
    EXPECT_EQ(DllGetClassObject(other.constData(), factory.constData(), &object),
              kResultClassNotAvailable);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DllGetClassObject(cls.constData(), factory.constData(), nullptr), kResultPointer);
    ASSERT_EQ(DllGetClassObject(cls.constData(), factory.constData(), &object), kResultOk);

    QWidget window;
    std::unique_ptr<ControlObject> control(
        static_cast<ClassFactory*>(object)->createInstance(&window));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->widget()->parentWidget(), &window);
}

}  // namespace
}  // namespace lantry

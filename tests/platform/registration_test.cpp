// Registration through the library's entry points, creation by programmatic identifier and
// through the class object, unregistration, and the failures of each.
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

    // The class object, only for our class and the factory interface.
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
}  // namespace lantry

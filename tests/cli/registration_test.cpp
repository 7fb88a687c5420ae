// `ondrel register` / `ondrel unregister` against a private registration record.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace lantry::testing {
namespace {

TEST(RegistrationTest, RegisterWritesTheRecordUnregisterRemovesItFailuresEndWithStatusOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("components.ini");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ONDREL_REGISTRY", record);
    for (const char* verb : {"register", "unregister"}) {
        CliProcess missing({verb, "--library", dir.filePath("missing.so")}, env);
        EXPECT_EQ(missing.waitExit(), 1) << verb;
        EXPECT_TRUE(missing.errorOutput().contains("cannot load")) << verb;
        EXPECT_FALSE(QFile::exists(record)) << verb;
    }
    CliProcess reg({"register"}, env);
    ASSERT_EQ(reg.waitExit(), 0) << reg.errorOutput().toStdString();
    const QString classId =
        QSettings(record, QSettings::IniFormat).value("ProgID/Lantry.Ondrel/CLSID").toString();
    const QString library =
        QSettings(record, QSettings::IniFormat).value("CLSID/" + classId + "/Library").toString();
    EXPECT_TRUE(QFile::exists(library) && library.contains("libondrel")) << library.toStdString();
    CliProcess unreg({"unregister"}, env);
    ASSERT_EQ(unreg.waitExit(), 0) << unreg.errorOutput().toStdString();
    EXPECT_TRUE(QSettings(record, QSettings::IniFormat).allKeys().isEmpty());
}

}  // namespace
}  // namespace lantry::testing

// `ondrel register` / `ondrel unregister` against a private registration record.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace lantry::testing {
namespace {

QProcessEnvironment withRecord(const QString& path) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ONDREL_REGISTRY", path);
    return env;
}

TEST(RegistrationTest, RegisterWritesTheRecordAndUnregisterRemovesIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("components.ini");
    CliProcess reg({"register"}, withRecord(record));
    ASSERT_EQ(reg.waitExit(), 0) << reg.errorOutput().toStdString();
    EXPECT_TRUE(reg.remainingOutput().startsWith("Registered "));
    {
        QSettings written(record, QSettings::IniFormat);
        const QString classId = written.value("ProgID/Lantry.Ondrel/CLSID").toString();
        const QString library = written.value("CLSID/" + classId + "/Library").toString();
        EXPECT_TRUE(library.contains("libondrel")) << library.toStdString();
        EXPECT_TRUE(QFile::exists(library)) << library.toStdString();
    }
    CliProcess unreg({"unregister"}, withRecord(record));
    ASSERT_EQ(unreg.waitExit(), 0) << unreg.errorOutput().toStdString();
    EXPECT_TRUE(QSettings(record, QSettings::IniFormat).allKeys().isEmpty());
}

TEST(RegistrationTest, FailuresEndWithAMessageAndStatusOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CliProcess unwritable({"register"}, withRecord("/dev/null/not-a-directory/components.ini"));
    EXPECT_EQ(unwritable.waitExit(), 1);
    EXPECT_TRUE(unwritable.errorOutput().contains("DllRegisterServer failed"));

    const QString record = dir.filePath("components.ini");
    for (const char* verb : {"register", "unregister"}) {
        CliProcess cli({verb, "--library", dir.filePath("missing.so")}, withRecord(record));
        EXPECT_EQ(cli.waitExit(), 1) << verb;
        EXPECT_TRUE(cli.errorOutput().contains("cannot load")) << verb;
        EXPECT_FALSE(QFile::exists(record)) << verb;
    }
}

}  // namespace
}  // namespace lantry::testing

// The command line's own rules: argument errors, registration through the library's entry
// points, and `ondrel chat` losing and regaining a scripted peer.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "cli_harness.h"

namespace lantry::testing {
namespace {

TEST(ChatSessionTest, ReportsALostConnectionAndSignsOnAgain) {
    ScriptedPeer peer;
    CliProcess chat(
        {"chat", "--server", QStringLiteral("127.0.0.1:%1").arg(peer.port()), "--user", "alice"});
    chat.write("pw");
    ASSERT_TRUE(peer.serveSignOn("g:Friends\nb:bob:Bobby\ndone:\n"));
    ASSERT_TRUE(chat.lineContaining("Signed on as alice"));
    peer.sendData("UPDATE_BUDDY2:bob:T:0:1700000000:12: OU:");
    const auto entry = chat.lineContaining("Bobby (bob)").value_or("");
    EXPECT_TRUE(entry.contains("away, idle 12 min")) << entry.data();

    peer.close();
    EXPECT_TRUE(chat.lineContaining("Connection lost"));
    chat.write("/im bob hi");
    EXPECT_TRUE(chat.lineContaining("Not signed on. Type /reconnect"));

    chat.write("/reconnect");
    ASSERT_TRUE(peer.serveSignOn("g:Friends\nb:bob:Bobby\ndone:\n"));
    EXPECT_TRUE(chat.lineContaining("Signed on as alice"));
    chat.write("/im Bob hi (you)");
    EXPECT_EQ(peer.readCommand(), R"j(toc_send_im "bob" "hi \(you\)")j");
    chat.closeInput();
    EXPECT_TRUE(peer.closedByClient());
    EXPECT_EQ(chat.waitExit(), 0);
}

TEST(CommandLineTest, RefusesUnusableArgumentsWithStatusTwo) {
    const QStringList cases[] = {
        {"frobnicate"},
        {"bridge", "--frob"},
        {"chat", "--user", "alice"},
        {"chat", "--server", "127.0.0.1:99999", "--user", "alice"},
        {"chat", "--server", "127.0.0.1", "--user", " "},
        {"chat", "--server", "127.0.0.1", "--user", "alice", "--password-file", "/nonexistent/x"},
    };
    for (const QStringList& args : cases) {
        CliProcess cli(args);
        EXPECT_EQ(cli.waitExit(), 2) << args.join(' ').toStdString();
        EXPECT_FALSE(cli.errorOutput().isEmpty()) << args.join(' ').toStdString();
    }
}

TEST(RegistrationTest, RegisterWritesTheRecordUnregisterRemovesItFailuresEndWithStatusOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("components.ini");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ONDREL_REGISTRY", record);
    CliProcess missing({"register", "--library", dir.filePath("missing.so")}, env);
    EXPECT_EQ(missing.waitExit(), 1);
    EXPECT_TRUE(missing.errorOutput().contains("cannot load"));
    EXPECT_FALSE(QFile::exists(record));
    CliProcess reg({"register"}, env);
    ASSERT_EQ(reg.waitExit(), 0) << reg.errorOutput().toStdString();
    QSettings written(record, QSettings::IniFormat);
    const QString classId = written.value("ProgID/Lantry.Ondrel/CLSID").toString();
    const QString library = written.value("CLSID/" + classId + "/Library").toString();
    EXPECT_TRUE(QFile::exists(library) && library.contains("libondrel")) << library.toStdString();
    CliProcess unreg({"unregister"}, env);
    ASSERT_EQ(unreg.waitExit(), 0) << unreg.errorOutput().toStdString();
    written.sync();
    EXPECT_TRUE(written.allKeys().isEmpty());
}

}  // namespace
}  // namespace lantry::testing

// The signpad program as a user starts it: its arguments, and its window on a real X display.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "layout.h"

namespace {

using namespace signpad;

class SignpadProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        env_.insert(QStringLiteral("ONDREL_REGISTRY"), dir_.filePath(QStringLiteral("reg.ini")));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
    }

    // Runs `program` (signpad itself unless given) to its end; its exit code (-1 when it crashed
    // or hung) and what it wrote to stderr.
    std::pair<int, QString> run(const QStringList& args, const QString& program = {}) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(program.isEmpty() ? QStringLiteral(SIGNPAD_PATH) : program, args);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
            return {-1, QStringLiteral("timed out")};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

    QTemporaryDir dir_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

TEST_F(SignpadProgram, RefusesBadArgumentsWithAReason) {
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const std::pair<QStringList, const char*> cases[] = {
        {{"--port", "0"}, "--port"},   {{"--port", "65536"}, "--port"},
        {{"--port", "51x"}, "--port"}, {{"--server", "  "}, "--server"},
        {{"somehost"}, "somehost"},
    };
    for (const auto& [args, mentions] : cases) {
        const auto [exitCode, errors] = run(args);
        EXPECT_EQ(exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(errors.contains(QLatin1String(mentions))) << errors.toStdString();
    }
}

// Under a real X server (Xvfb) the window is shown, captured from the screen and saved.
TEST_F(SignpadProgram, ScreenshotUnderXvfbShowsTheShapedSkinnedWindow) {
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty()) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QString file = dir_.filePath(QStringLiteral("shot.png"));
    const auto [exitCode, errors] =
        run({QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 640x480x24"),
             QStringLiteral(SIGNPAD_PATH), QStringLiteral("--screenshot"), file},
            xvfbRun);
    ASSERT_EQ(exitCode, 0) << errors.toStdString();

    const QImage shot(file);
    ASSERT_EQ(shot.size(), kClientSize);
    // Outside the shape nothing.
    for (const QPoint outside : {QPoint(0, 0), QPoint(155, 100), QPoint(80, 231)}) {
        EXPECT_EQ(qAlpha(shot.pixel(outside)), 0);
    }
    // The screen shows the skin where no element lies: the header, the section rules.
    const QImage skin(QStringLiteral(":/signpad/skin.bmp"));
    int same = 0;
    for (int y = 20; y < 62; ++y) {
        for (int x = 2; x < 150; ++x) {
            same += (shot.pixel(x, y) & 0xffffff) == (skin.pixel(x, y) & 0xffffff);
        }
    }
    EXPECT_GT(same, 42 * 148 * 95 / 100);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

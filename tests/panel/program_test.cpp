// The signpad program as a user starts it: its arguments, and its window on a real X display.
#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "layout.h"

namespace {

using namespace signpad;

struct Outcome {
    int exitCode = -1;
    QString errorOutput;
};

// Runs signpad with `args`, or `program` (a wrapper whose `args` name signpad).
Outcome runSignpad(const QStringList& args, const QProcessEnvironment& env, const QString& program,
                   int timeoutMs = 60000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program.isEmpty() ? QStringLiteral(SIGNPAD_PATH) : program, args);
    Outcome run;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        run.errorOutput = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.errorOutput = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

class SignpadProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("ONDREL_REGISTRY"), dir_.filePath(QStringLiteral("reg.ini")));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
    }
    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

TEST_F(SignpadProgram, RefusesBadArgumentsWithAReason) {
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    struct Case {
        QStringList args;
        const char* mentions;
    };
    const Case cases[] = {
        {{"--port", "0"}, "--port"},   {{"--port", "65536"}, "--port"},
        {{"--port", "51x"}, "--port"}, {{"--server", "  "}, "--server"},
        {{"somehost"}, "somehost"},
    };
    for (const Case& c : cases) {
        const Outcome run = runSignpad(c.args, env_, QString());
        EXPECT_EQ(run.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(run.errorOutput.contains(QLatin1String(c.mentions)))
            << run.errorOutput.toStdString();
    }
}

// Under a real X server (Xvfb) the window is shown, captured from the screen and saved.
TEST_F(SignpadProgram, ScreenshotUnderXvfbShowsTheShapedSkinnedWindow) {
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty()) {
        GTEST_SKIP() << "xvfb-run is not installed";
    }
    env_.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QString file = dir_.filePath(QStringLiteral("shot.png"));
    const Outcome run = runSignpad(
        {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 640x480x24"),
         QStringLiteral(SIGNPAD_PATH), QStringLiteral("--screenshot"), file},
        env_, xvfbRun);
    ASSERT_EQ(run.exitCode, 0) << run.errorOutput.toStdString();

    const QImage shot(file);
    ASSERT_EQ(shot.size(), kClientSize);
    const QImage skin(QStringLiteral(":/signpad/skin.bmp"));
    ASSERT_EQ(skin.size(), kClientSize);

    // Outside the shape nothing; inside, a picture of many colours, not a blank window.
    EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(155, 100)), 0);
    EXPECT_EQ(qAlpha(shot.pixel(80, 231)), 0);
    QSet<QRgb> colours;
    for (int y = kFallbackShape.top(); y <= kFallbackShape.bottom(); ++y) {
        for (int x = kFallbackShape.left(); x <= kFallbackShape.right(); ++x) {
            ASSERT_EQ(qAlpha(shot.pixel(x, y)), 255) << x << "," << y;
            colours.insert(shot.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 100);

    // The screen shows the skin where no element lies: the header, the section rules.
    int same = 0;
    int compared = 0;
    for (int y = 20; y < 62; ++y) {
        for (int x = 2; x < 150; ++x, ++compared) {
            same += (shot.pixel(x, y) & 0xffffff) == (skin.pixel(x, y) & 0xffffff);
        }
    }
    EXPECT_GT(same, compared * 95 / 100);
    // And the fields as light boxes on it.
    EXPECT_GT(QColor(shot.pixel(kText1.center())).lightness(), 200);
    EXPECT_GT(QColor(shot.pixel(kText3.center())).lightness(), 200);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

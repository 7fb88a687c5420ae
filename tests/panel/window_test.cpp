// The panel's window offscreen: its layout, its shape, dragging and the hot spots, and signing
// on, off and changing the password by clicking, against a private tocd; and the signpad
// program as a user starts it: its arguments, and its window on a real X display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "layout.h"
#include "ondrel/component.h"
#include "ondrel/events.h"
#include "panel_widgets.h"
#include "scripted_peer.h"
#include "signpad_window.h"
#include "tocd_process.h"
#include "widget_test_main.h"

namespace {

using namespace signpad;
using lantry::EventNumber;

class PanelWindow : public ::testing::Test {
protected:
    // A shown window whose control signs on to 127.0.0.1:`port` and logs its events.
    void open(int port = 0) {
        QString error;
        lantry::ControlObject* control = lantry::createOndrelControl(&error);
        ASSERT_NE(control, nullptr) << error.toStdString();
        control_ = control;
        control->connectEvents([this](int n, QVariantList& args) {
            events_.push_back(n);
            if (n == int(EventNumber::Error))
                refusal_ = args.constLast().toString();
            if (n == int(EventNumber::WinsockError))
                socketFailure_ = args.constLast().toString();
        });
        const ServerSettings server{QStringLiteral("127.0.0.1"), QString::number(port)};
        window_ = std::make_unique<SignpadWindow>(control, server);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    template <class T = QWidget>
    T* part(const char* name) {
        T* w = window_->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString caption(const char* name) { return part<QLabel>(name)->text(); }

    // A click as the user makes it: through the window, landing on whatever lies on top.
    void click(const char* name) {
        QTest::mouseClick(window_->windowHandle(), Qt::LeftButton, {},
                          part(name)->geometry().center());
    }
    void type(const char* field, const QString& text) {
        part<QLineEdit>(field)->clear();
        QTest::keyClicks(part<QLineEdit>(field), text);
    }
    bool waitForCaption(const char* name, const QString& text) {
        return QTest::qWaitFor([&] { return caption(name) == text; }, 10000);
    }
    int count(EventNumber n) const {
        return int(std::count(events_.begin(), events_.end(), int(n)));
    }
    bool waitForEvents(EventNumber n, int atLeast) {
        return QTest::qWaitFor([&] { return count(n) >= atLeast; }, 10000);
    }

    // A tooltip as a person reads it: QToolTip shows what looks like markup as rich text.
    QString tip(const char* name) {
        const QString tip = part(name)->toolTip();
        return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
    }
    void enter(const char* field) { QTest::keyClick(part<QLineEdit>(field), Qt::Key_Return); }
    // The failure line under the fields, as shown: one line, cut with an ellipsis if long.
    QString shownReason() { return part<QLabel>("Reason")->text(); }

    std::vector<int> events_;  // the number of every event the control raised, in order
    QString refusal_;          // the last Error's sentence
    QString socketFailure_;    // the last WinsockError's
    std::unique_ptr<SignpadWindow> window_;
    lantry::ControlObject* control_ = nullptr;  // the window's
    lantry::testing::TocdProcess tocd_;
};

TEST_F(PanelWindow, ElementsSitAtTheirPlacesWithTheirCaptionsFontsAndTheShape) {
    open();
    // One element of each kind; the others are clicked and read in the sign-on scenario.
    struct Element {
        const char* name;
        QRect geometry;
        const char* caption;  // null: a field (empty at start) or a frame
        double points;        // 0: no text shown
    };
    const Element elements[] = {
        {"Text1", kText1, nullptr, 6},      {"Text2", kText2, nullptr, 6},
        {"Label4", kLabel4, "Login", 6.75}, {"Label6", kLabel6, "     Idle...", 6.75},
        {"Label2", kCloseSpot, "", 0},      {"Label1", kDragSurface, nullptr, 0},
    };
    for (const Element& e : elements) {
        SCOPED_TRACE(e.name);
        QWidget* w = part(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), e.geometry);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), QLatin1String(e.caption));
        }
        if (e.points > 0) {
            EXPECT_EQ(w->font().family(), QLatin1String("Arial"));
            EXPECT_DOUBLE_EQ(w->font().pointSizeF(), e.points);
        }
    }
    // Every field but the screen name hides what is typed, whatever field is added later.
    const QList<QLineEdit*> fields = window_->findChildren<QLineEdit*>();
    EXPECT_EQ(fields.size(), 4);
    for (const QLineEdit* field : fields)
        EXPECT_EQ(field->echoMode(), field->objectName() == QLatin1String("Text1")
                                         ? QLineEdit::Normal
                                         : QLineEdit::Password)
            << field->objectName().toStdString();
    EXPECT_EQ(window_->maximumSize(), kClientSize);
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window_->shapeDecoded());
    EXPECT_EQ(window_->mask(), QRegion(1, 2, 152, 228));  // from the shape bitmap

    // A caption too wide for its label is drawn whole, scaled down.
    auto* status = part<FittedLabel>("Label6");
    EXPECT_DOUBLE_EQ(status->captionScale(), 1.0);
    status->setText(QStringLiteral(" Logged Out"));
    const double scale = status->captionScale();
    EXPECT_LT(scale, 1.0);
    const QFontMetricsF metrics(status->font());
    EXPECT_LE(metrics.horizontalAdvance(status->text()) * scale, status->width() + 0.01);

    // Status texts read at the contrast of body text (WCAG's 7:1) on the skin behind them.
    const QImage skin(QStringLiteral(":/signpad/skin.bmp"));
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    for (const char* name : {"Label6", "Label8"}) {
        const QWidget* label = part(name);
        const double text = luminance(label->palette().color(QPalette::WindowText));
        const double back = luminance(skin.pixelColor(label->geometry().topLeft()));
        EXPECT_GE((std::max(text, back) + 0.05) / (std::min(text, back) + 0.05), 7.0) << name;
    }
    EXPECT_FALSE(part("Reason")->isVisible()) << "no failure yet";
}

TEST_F(PanelWindow, HotSpotsMinimiseAndClose) {
    open();
    click("Label3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->isMinimized(); }, 5000));
    window_->showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    click("Label2");
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(PanelWindow, PressingAnyUncoveredPointDragsTheWindow) {
    open();
    auto* surface = part<DragSurface>("Label1");
    QSignalSpy started(surface, &DragSurface::moveStarted);
    // Status captions and frames let presses through; fields, actions and hot spots do not.
    const std::pair<const char*, bool> cases[] = {
        {"Text1", false}, {"Label4", false}, {"Label7", false}, {"Label3", false},
        {"Label6", true}, {"Label8", true},  {"Shape1", true},  {"Shape2", true},
    };
    for (const auto& [name, drags] : cases) {
        const qsizetype before = started.size();
        const QPoint at = part(name)->geometry().center();
        // The middle button: a press on an action label must not also click it.
        QTest::mousePress(window_->windowHandle(), Qt::MiddleButton, {}, at);
        QTest::mouseRelease(window_->windowHandle(), Qt::MiddleButton, {}, at);
        EXPECT_EQ(started.size() > before, drags) << name;
    }
    // Below the drag surface lies bare window, which drags too.
    QTest::mousePress(window_->windowHandle(), Qt::MiddleButton, {}, QPoint(80, 228));
    QTest::mouseRelease(window_->windowHandle(), Qt::MiddleButton, {}, QPoint(80, 228));
    EXPECT_EQ(started.size(), 5);

    // The window follows the pointer (sent straight to the surface: the offscreen test pointer
    // replays a move in window coordinates after the window moved, as no real pointer does).
    auto send = [&](QEvent::Type type, QPoint global) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::RightButton;
        QMouseEvent event(type, QPoint(30, 50), global, button, Qt::RightButton, Qt::ShiftModifier);
        QApplication::sendEvent(surface, &event);
    };
    const QPoint start = window_->pos();
    const QPoint screen = surface->mapToGlobal(QPoint(30, 50));
    send(QEvent::MouseButtonPress, screen);
    if (started.last().first().toBool())
        return;  // the window system took the move over
    send(QEvent::MouseMove, screen + QPoint(23, 11));
    EXPECT_EQ(window_->pos(), start + QPoint(23, 11));
}

// Only what the server confirms changes a caption: refusals and a missing server show nothing.
TEST_F(PanelWindow, CaptionsShowSignOnSignOffAndAnAcceptedPasswordChange) {
    ASSERT_TRUE(tocd_.start()) << tocd_.errorText().toStdString();
    open(tocd_.port());
    type("Text1", QStringLiteral("Dave Jones"));
    type("Text2", QStringLiteral("first1"));
    click("Label4");
    ASSERT_TRUE(waitForCaption("Label6", QStringLiteral(" Logged In")));
    EXPECT_EQ(caption("Label8"), QLatin1String("  Idle..."));

    // A wrong old password: the server refuses and the status stays.
    type("Text4", QStringLiteral("notmine"));
    type("Text3", QStringLiteral("second2"));
    click("Label7");
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 1));
    EXPECT_EQ(caption("Label8"), QLatin1String("  Idle..."));
    // The reason is the password status's tooltip, not the sign-on's.
    EXPECT_FALSE(refusal_.isEmpty());
    EXPECT_EQ(tip("Label8"), refusal_);
    EXPECT_EQ(tip("Label6"), QString());
    // Seen without a hover: the password status's frame in alarm, the reason on its line.
    const QColor frame = part<FrameShape>("Shape1")->color();
    EXPECT_NE(part<FrameShape>("Shape2")->color(), frame);
    EXPECT_TRUE(part("Reason")->isVisible());
    EXPECT_TRUE(shownReason().startsWith(refusal_.left(8))) << shownReason().toStdString();
    // Nothing else changed and nothing is left waiting: the fields keep what was typed, every
    // action still answers, and the next failure is the sign-on's again.
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged In"));
    const std::pair<const char*, const char*> typed[] = {
        {"Text1", "Dave Jones"}, {"Text2", "first1"}, {"Text4", "notmine"}, {"Text3", "second2"}};
    for (const auto& [field, text] : typed)
        EXPECT_EQ(part<QLineEdit>(field)->text(), QLatin1String(text)) << field;
    for (const char* action : {"Label4", "Label5", "Label7"})
        EXPECT_TRUE(part(action)->isEnabled() && part(action)->isVisible()) << action;
    const QString passwordRefusal = refusal_;
    control_->call(lantry::DispId::GetStatus, {QStringLiteral("nobody")});
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 2));
    EXPECT_EQ(tip("Label6"), refusal_);
    EXPECT_EQ(tip("Label8"), passwordRefusal);
    EXPECT_EQ(caption("Label8"), QLatin1String("  Idle..."));
    type("Text4", QStringLiteral("first1"));
    enter("Text3");
    EXPECT_FALSE(part("Reason")->isVisible()) << "the next click clears the failure";
    EXPECT_EQ(part<FrameShape>("Shape2")->color(), frame);
    ASSERT_TRUE(waitForCaption("Label8", QStringLiteral("Success!")));

    click("Label5");
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
    EXPECT_EQ(count(EventNumber::LoggedOut), 1);
    // The old password is refused now, and a missing server is not shown either: the caption
    // stays and the sign-on status's tooltip says why. Enter in the password field logs in.
    enter("Text2");
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 3));
    QTest::qWait(100);
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
    EXPECT_TRUE(refusal_.contains(QLatin1String("password"))) << refusal_.toStdString();
    EXPECT_EQ(tip("Label6"), refusal_);
    EXPECT_NE(part<FrameShape>("Shape1")->color(), frame);
    EXPECT_EQ(part<FrameShape>("Shape2")->color(), frame);
    EXPECT_EQ(shownReason(), refusal_) << "a short reason shows whole";
    // Bound but not listening, the port refuses connections, and no other server can take it.
    const quint16 port = static_cast<quint16>(tocd_.port());
    tocd_.stop();
    QTcpSocket held;
    ASSERT_TRUE(held.bind(QHostAddress::LocalHost, port, QAbstractSocket::ReuseAddressHint))
        << "port " << port << " taken at once";
    const int socketErrors = count(EventNumber::WinsockError);
    click("Label4");
    ASSERT_TRUE(waitForEvents(EventNumber::WinsockError, socketErrors + 1));
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
    EXPECT_EQ(tip("Label6"), socketFailure_);
    EXPECT_EQ(tip("Label8"), QString());
    EXPECT_TRUE(part("Reason")->isVisible());
    EXPECT_TRUE(shownReason().startsWith(socketFailure_.left(8))) << shownReason().toStdString();
    EXPECT_NE(part<FrameShape>("Shape1")->color(), frame);
}

// Every text of a hostile server the panel shows (the sentence of an Error, whose reason goes
// to the status it concerns and to the failure line) is plain text: markup does not render,
// controls and characters that reverse the line show as signs, invalid UTF-8 as Latin-1, and
// an over-long text is whole in the tooltip and cut with an ellipsis on the line.
TEST_F(PanelWindow, EveryServerTextShownIsPlainAndVisible) {
    const std::pair<QByteArray, QString> hostile[] = {
        {"<h1>big</h1>&amp;\x1b[2J\x1b]0;t\x07\r\n\t\xc2\x9b\xe2\x80\xae"
         "exe.txt",
         QStringLiteral(
             "<h1>big</h1>&amp;\u241b[2J\u241b]0;t\u2407\u240d\u240a <U+009B><U+202E>exe.txt")},
        {"caf\xe9\x7f\x9b", QStringLiteral("caf\u00e9\u2421<U+009B>")},
        {QByteArray(3000, 'w') + "\x1b end", QString(3000, u'w') + QStringLiteral("\u241b end")},
    };
    struct Row {
        QByteArray before;  // the frame up to the hostile text
        QString shownBefore, shownAfter;
        const char* status;  // whose tooltip shows it
        const char* other;   // the status it must leave alone
    };
    const Row rows[] = {
        {"ERROR:901:", "", " is not available", "Label6", "Label8"},
        {"ERROR:913:", "Error code: 913: ", "", "Label6", "Label8"},
        // Any answer while a password change waits concerns the change.
        {"ERROR:913:", "Error code: 913: ", "", "Label8", "Label6"},
    };
    std::promise<quint16> port;
    std::future<quint16> ready = port.get_future();
    std::atomic<bool> finished{false};
    // Each row is sent once the panel asks something, so each reason is read before the next.
    std::thread server([&] {
        lantry::testing::ScriptedPeer peer;
        port.set_value(peer.port());
        if (!peer.serveSignOn("done:\n"))
            return;
        for (const auto& [text, shown] : hostile) {
            for (const Row& row : rows) {
                if (peer.readCommand().isEmpty())
                    return;
                peer.send(2, row.before + text);
            }
        }
        peer.readCommand();
        peer.send(2, "ERROR:983");
        while (!finished)
            peer.readCommand();
    });
    ASSERT_EQ(ready.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    open(ready.get());
    type("Text1", QStringLiteral("dave"));
    type("Text2", QStringLiteral("first1"));
    type("Text4", QStringLiteral("first1"));
    type("Text3", QStringLiteral("second2"));
    click("Label4");
    const bool signedOn = waitForCaption("Label6", QStringLiteral(" Logged In"));
    // Asks the server something outside its rate limit: a password change for the rows of
    // Label8, else the idle time.
    const auto ask = [&](const char* status) {
        if (status == std::string("Label8"))
            click("Label7");
        else
            control_->call(lantry::DispId::SetIdleTime, {0});
    };
    struct Seen {
        QString expected, tip, reason;
        bool otherKept;
    };
    std::vector<Seen> seen;
    int errors = 0;
    for (const auto& [text, shown] : hostile) {
        for (const Row& row : rows) {
            const QString otherBefore = tip(row.other);
            ask(row.status);
            if (!signedOn || !waitForEvents(EventNumber::Error, ++errors))
                break;
            seen.push_back({row.shownBefore + shown + row.shownAfter, tip(row.status),
                            shownReason(), tip(row.other) == otherBefore});
        }
    }
    // 983 is explained as what tocd means by it, not only as signing on again too soon.
    ask("Label6");
    const bool again = waitForEvents(EventNumber::Error, ++errors);
    const QString explained = again ? shownReason() : QString();
    const Qt::TextFormat reasonFormat = part<QLabel>("Reason")->textFormat();
    window_.reset();
    finished = true;
    server.join();
    ASSERT_EQ(seen.size(), std::size(hostile) * std::size(rows));
    for (const Seen& s : seen) {
        SCOPED_TRACE(s.expected.left(60).toStdString());
        EXPECT_EQ(s.tip, s.expected);
        EXPECT_TRUE(s.otherKept);
        // One line of plain text: the start of the reason, an ellipsis where it is cut.
        const QString reason = s.reason.endsWith(u'\u2026') ? s.reason.chopped(1) : s.reason;
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_TRUE(s.expected.startsWith(reason)) << reason.toStdString();
    }
    EXPECT_EQ(reasonFormat, Qt::PlainText);
    EXPECT_TRUE(explained.startsWith(QLatin1String("Signing on too often, or too")))
        << explained.toStdString();
}

// Runs `program` to its end in `env`; its exit code (-1 when it crashed or hung) and stderr.
std::pair<int, QString> run(
    const QString& program, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool finished = p.waitForFinished(60000);
    if (!finished)
        p.kill();
    return {finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError())};
}

TEST(SignpadProgram, TakesPortsFrom1To65535AndRefusesBadArgumentsWithAReason) {
    // Taken: the window opens, and saving its picture ends the run.
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    for (QStringList args : {QStringList{"--port", "65535"}, {"--server", "localhost:1"}}) {
        const auto [exitCode, errors] =
            run(QStringLiteral(SIGNPAD_PATH), args << QStringLiteral("--screenshot") << shot);
        EXPECT_EQ(exitCode, 0) << args.join(' ').toStdString() << ": " << errors.toStdString();
    }
    const std::pair<QStringList, const char*> cases[] = {
        {{"--port", "65536"}, "--port"},
        {{"--port", "0"}, "--port"},
        {{"--server", "  "}, "--server"},
        {{"--server", "localhost:0"}, "--server"},
        {{"--server", "localhost:65536"}, "--server"},
        {{"somehost"}, "somehost"},
    };
    for (const auto& [args, mentions] : cases) {
        const auto [exitCode, errors] = run(QStringLiteral(SIGNPAD_PATH), args);
        EXPECT_EQ(exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(errors.contains(QLatin1String(mentions))) << errors.toStdString();
    }
    // Usage needs no display.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    noDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    EXPECT_EQ(run(QStringLiteral(SIGNPAD_PATH), {"--help"}, noDisplay).first, 0);
}

// The assets built in are what the drawing program makes of the layout today: a change to
// either that was not redrawn shows here, not as a skin that no longer fits the fields.
TEST(SignpadProgram, TheAssetsBuiltInAreWhatTheDrawingProgramDraws) {
    QTemporaryDir dir;
    const auto [exitCode, errors] = run(QStringLiteral(SIGNPAD_MAKE_ASSETS_PATH), {dir.path()});
    ASSERT_EQ(exitCode, 0) << errors.toStdString();
    for (const QString name : {"skin.bmp", "shape.bmp", "icon.png"}) {
        const QImage drawn(dir.filePath(name));
        EXPECT_FALSE(drawn.isNull()) << name.toStdString();
        EXPECT_TRUE(drawn == QImage(":/signpad/" + name)) << name.toStdString();
    }
}

// Under a real X server (Xvfb) the window is shown, captured from the screen and saved.
TEST(SignpadProgram, ScreenshotUnderXvfbShowsTheShapedSkinnedWindow) {
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty())
        GTEST_SKIP() << "xvfb-run is not installed";
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("shot.png"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto [exitCode, errors] =
        run(xvfbRun,
            {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 640x480x24"),
             QStringLiteral(SIGNPAD_PATH), QStringLiteral("--screenshot"), file},
            env);
    ASSERT_EQ(exitCode, 0) << errors.toStdString();

    const QImage shot(file);
    ASSERT_EQ(shot.size(), kClientSize);
    for (const QPoint outside : {QPoint(0, 0), QPoint(155, 100), QPoint(80, 231)})
        EXPECT_EQ(qAlpha(shot.pixel(outside)), 0) << "outside the shape nothing";
    // The screen shows the skin where no element lies: the header, the section rules.
    const QImage skin(QStringLiteral(":/signpad/skin.bmp"));
    int same = 0;
    for (int y = 20; y < 62; ++y) {
        for (int x = 2; x < 150; ++x)
            same += (shot.pixel(x, y) & 0xffffff) == (skin.pixel(x, y) & 0xffffff);
    }
    EXPECT_GT(same, 42 * 148 * 95 / 100);
}

}  // namespace

int main(int argc, char** argv) {
    return lantry::testing::runWidgetTests(argc, argv);
}

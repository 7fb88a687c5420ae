// The panel's window offscreen: its layout, its shape, dragging and the hot spots, and signing
// on, off and changing the password by clicking, against a private tocd.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>
#include <vector>

#include "layout.h"
#include "ondrel/component.h"
#include "ondrel/events.h"
#include "panel_widgets.h"
#include "signpad_window.h"
#include "tocd_process.h"

namespace {

using namespace signpad;
using lantry::EventNumber;

class PanelWindow : public ::testing::Test {
protected:
    // A shown window whose control signs on to 127.0.0.1:`port` and logs its events.
    void open(int port = 0) {
        QString error;
        lantry::ControlObject* control = createOndrelControl(&error);
        ASSERT_NE(control, nullptr) << error.toStdString();
        control->connectEvents([this](int n, QVariantList& args) { events_.push_back({n, args}); });
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
        return int(std::count_if(events_.begin(), events_.end(),
                                 [n](const auto& e) { return e.first == int(n); }));
    }
    bool waitForEvents(EventNumber n, int atLeast) {
        return QTest::qWaitFor([&] { return count(n) >= atLeast; }, 10000);
    }
    void signOn(const QString& name, const QString& password) {
        type("Text1", name);
        type("Text2", password);
        click("Label4");
    }

    // Every event the control raised, in order, with its arguments.
    std::vector<std::pair<int, QVariantList>> events_;
    std::unique_ptr<SignpadWindow> window_;
    lantry::testing::TocdProcess tocd_;
};

TEST_F(PanelWindow, ElementsSitAtTheirPlacesWithTheirCaptionsAndFonts) {
    open();
    struct Element {
        const char* name;
        QRect geometry;
        const char* caption;  // null: a text field, empty at start
        double points;        // 0: no text shown
    };
    const Element elements[] = {
        {"Text1", {48, 72, 81, 15}, nullptr, 6},
        {"Text2", {48, 96, 81, 15}, nullptr, 6},
        {"Text4", {64, 160, 65, 15}, nullptr, 6},
        {"Text3", {64, 184, 65, 15}, nullptr, 6},
        {"Label4", {16, 115, 22, 12}, "Login", 6.75},
        {"Label5", {48, 115, 28, 12}, "Logout", 6.75},
        {"Label6", {80, 115, 39, 12}, "     Idle...", 6.75},
        {"Label7", {16, 208, 75, 12}, "Change Password", 6.75},
        {"Label8", {96, 208, 30, 12}, "  Idle...", 6.75},
        {"Label2", {0, 0, 17, 17}, "", 0},
        {"Label3", {136, 0, 17, 17}, "", 0},
        {"Shape1", {80, 116, 55, 10}, nullptr, 0},
        {"Shape2", {93, 208, 42, 11}, nullptr, 0},
        {"Label1", {0, -8, 161, 233}, nullptr, 0},
    };
    for (const Element& e : elements) {
        SCOPED_TRACE(e.name);
        QWidget* w = part(e.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), e.geometry);
        EXPECT_TRUE(w->isVisible());
        if (auto* field = qobject_cast<QLineEdit*>(w)) {
            EXPECT_TRUE(field->text().isEmpty());
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), QLatin1String(e.caption));
        }
        if (e.points > 0) {
            EXPECT_EQ(w->font().family(), QLatin1String("Arial"));
            EXPECT_DOUBLE_EQ(w->font().pointSizeF(), e.points);
            // Arial itself or its metric twin must be what is drawn.
            const QString drawn = QFontInfo(w->font()).family();
            EXPECT_TRUE(drawn == QLatin1String("Arial") ||
                        drawn == QLatin1String("Liberation Sans"))
                << drawn.toStdString();
        }
    }
    // The password fields hide what is typed; the screen-name field shows it.
    for (const char* field : {"Text1", "Text2", "Text4", "Text3"}) {
        EXPECT_EQ(part<QLineEdit>(field)->echoMode(),
                  field == std::string("Text1") ? QLineEdit::Normal : QLineEdit::Password);
    }

    EXPECT_EQ(window_->size(), kClientSize);
    EXPECT_EQ(window_->minimumSize(), kClientSize);
    EXPECT_EQ(window_->maximumSize(), kClientSize);
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window_->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window_->windowIcon().isNull());

    // The shape comes from the shape bitmap: (1, 2) to (153, 230), 152 x 228.
    EXPECT_TRUE(window_->shapeDecoded());
    EXPECT_EQ(window_->mask(), QRegion(1, 2, 152, 228));

    // The control's face is the window's, and out of sight.
    const auto children = window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(
        std::count_if(children.begin(), children.end(),
                      [](QWidget* w) { return w->size() == QSize(125, 37) && !w->isVisible(); }),
        1);
}

TEST_F(PanelWindow, CaptionsTooWideForTheirLabelAreDrawnWhole) {
    open();
    auto* status = part<FittedLabel>("Label6");
    EXPECT_DOUBLE_EQ(status->captionScale(), 1.0);  // "     Idle..." fits
    status->setText(QStringLiteral(" Logged Out"));
    const double scale = status->captionScale();
    EXPECT_LT(scale, 1.0);
    EXPECT_GT(scale, 0.5);
    // Drawn at that scale, the whole caption lies inside the label.
    const QFontMetricsF metrics(status->font());
    EXPECT_LE(metrics.horizontalAdvance(status->text()) * scale, status->width() + 0.01);
}

TEST_F(PanelWindow, PressingAnyUncoveredPointDragsTheWindow) {
    open();
    auto* surface = part<DragSurface>("Label1");
    QSignalSpy started(surface, &DragSurface::moveStarted);
    QList<QRect> covered;
    for (const char* name :
         {"Text1", "Text2", "Text4", "Text3", "Label4", "Label5", "Label7", "Label2", "Label3"}) {
        covered.append(part(name)->geometry());
    }
    QWindow* handle = window_->windowHandle();
    for (int y = 2; y < 230; y += 3) {
        for (int x = 1; x < 153; x += 3) {
            const QPoint at(x, y);
            bool onElement = false;
            for (const QRect& r : covered) {
                onElement = onElement || r.contains(at);
            }
            const qsizetype before = started.size();
            // The middle button: a press on an action label must not also click it.
            QTest::mousePress(handle, Qt::MiddleButton, {}, at);
            QTest::mouseRelease(handle, Qt::MiddleButton, {}, at);
            ASSERT_EQ(started.size() > before, !onElement) << "at " << x << "," << y;
        }
    }

    // The window follows the pointer while the button is down, whatever the modifiers. (Sent
    // straight to the surface with screen positions: the offscreen test pointer replays a move
    // in window coordinates after the window moved, which a real pointer never does.)
    auto send = [&](QEvent::Type type, QPoint global) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::RightButton;
        QMouseEvent event(type, QPoint(30, 50), global, button, Qt::RightButton, Qt::ShiftModifier);
        QApplication::sendEvent(surface, &event);
    };
    const QPoint start = window_->pos();
    const QPoint screen = surface->mapToGlobal(QPoint(30, 50));
    send(QEvent::MouseButtonPress, screen);
    if (started.last().first().toBool()) {
        return;  // the window system took the move over
    }
    send(QEvent::MouseMove, screen + QPoint(23, 11));
    EXPECT_EQ(window_->pos(), start + QPoint(23, 11));
    send(QEvent::MouseMove, screen + QPoint(-5, 40));
    EXPECT_EQ(window_->pos(), start + QPoint(-5, 40));
}

TEST_F(PanelWindow, HotSpotsMinimiseAndClose) {
    open();
    click("Label3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->isMinimized(); }, 5000));
    window_->showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    EXPECT_TRUE(window_->isVisible());
    click("Label2");
    EXPECT_FALSE(window_->isVisible());
}

// Only what the server confirms changes a caption: refusals and a missing server show nothing.
TEST_F(PanelWindow, CaptionsShowSignOnSignOffAndAnAcceptedPasswordChange) {
    ASSERT_TRUE(tocd_.start()) << tocd_.errorText().toStdString();
    open(tocd_.port());
    signOn(QStringLiteral("Dave Jones"), QStringLiteral("first1"));
    ASSERT_TRUE(waitForCaption("Label6", QStringLiteral(" Logged In")));
    EXPECT_EQ(caption("Label8"), QLatin1String("  Idle..."));
    // The control gets copies: the fields keep what the user typed, and the name is signed on.
    EXPECT_EQ(part<QLineEdit>("Text1")->text(), QLatin1String("Dave Jones"));
    EXPECT_EQ(part<QLineEdit>("Text2")->text(), QLatin1String("first1"));
    const auto loggedIn = std::find_if(events_.begin(), events_.end(), [](const auto& e) {
        return e.first == int(EventNumber::LoggedIn);
    });
    ASSERT_NE(loggedIn, events_.end());
    EXPECT_EQ(loggedIn->second.value(0).toString(), QLatin1String("davejones"));

    // A wrong old password: the server refuses and the status stays.
    type("Text4", QStringLiteral("notmine"));
    type("Text3", QStringLiteral("second2"));
    click("Label7");
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 1));
    EXPECT_EQ(caption("Label8"), QLatin1String("  Idle..."));
    type("Text4", QStringLiteral("first1"));
    click("Label7");
    ASSERT_TRUE(waitForCaption("Label8", QStringLiteral("Success!")));

    click("Label5");
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
    EXPECT_EQ(count(EventNumber::LoggedOut), 1);
    // The new password is the account's now: the old one is refused, the new one signs on,
    // and a later refusal of a change leaves "Success!" in place.
    click("Label4");
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 2));
    QTest::qWait(100);
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
    signOn(QStringLiteral("Dave Jones"), QStringLiteral("second2"));
    ASSERT_TRUE(waitForCaption("Label6", QStringLiteral(" Logged In")));
    click("Label7");
    ASSERT_TRUE(waitForEvents(EventNumber::Error, 3));
    EXPECT_EQ(caption("Label8"), QLatin1String("Success!"));

    // No server at all: the socket error is not shown either.
    click("Label5");
    tocd_.stop();
    const int socketErrors = count(EventNumber::WinsockError);
    click("Label4");
    ASSERT_TRUE(waitForEvents(EventNumber::WinsockError, socketErrors + 1));
    EXPECT_EQ(caption("Label6"), QLatin1String(" Logged Out"));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A private registration record, so the tests neither need nor touch the user's.
    QTemporaryDir registry;
    if (!registry.isValid()) {
        return 1;
    }
    qputenv(lantry::kRegistryEnvironmentVariable,
            registry.filePath(QStringLiteral("components.ini")).toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

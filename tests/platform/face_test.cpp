// The control's face: the 125 x 37 logo, and a size no container or window system can change.
#include <QCoreApplication>
#include <QLabel>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Face = ControlFixture;

const QSize kLogo(125, 37);

TEST_F(Face, ShowsTheLogoAndSnapsBackInAContainer) {
    auto* logo = control_->findChild<QLabel*>(QStringLiteral("imgSockLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->geometry(), QRect(QPoint(0, 0), kLogo));
    EXPECT_EQ(logo->pixmap().size(), kLogo);

    QWidget container;
    control_->setParent(&container);
    control_->show();
    container.show();
    for (const QSize& s : {QSize(400, 300), QSize(0, 0), QSize(600, 37)}) {
        control_->setGeometry(QRect(QPoint(3, 4), s));
        EXPECT_EQ(control_->geometry(), QRect(QPoint(3, 4), kLogo))
            << s.width() << "x" << s.height();
    }
    // A container that first lifts the limits still gets the logo's size back, shown or hidden.
    for (bool visible : {true, false}) {
        control_->setVisible(visible);
        control_->setMinimumSize(300, 200);
        control_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        control_->resize(300, 200);
        control_->show();
        EXPECT_EQ(control_->size(), kLogo) << visible;
    }
}

TEST_F(Face, SnapsBackAsAWindowOfItsOwn) {
    control_->show();
    control_->setMinimumSize(0, 0);
    control_->resize(500, 90);
    // A window's resize is confirmed by the window system, later.
    for (int i = 0; i < 20 && control_->size() != kLogo; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(control_->size(), kLogo);
}

}  // namespace
}  // namespace lantry::testing

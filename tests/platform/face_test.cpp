// The control's face: the 125 x 37 logo, and a size no container can change.
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QtEndian>

#include "platform_fixture.h"

namespace lantry::testing {
namespace {

using Face = ControlFixture;

const QSize kLogo(125, 37);

TEST_F(Face, ShowsTheLogoAtTheTopLeft) {
    EXPECT_EQ(control_->size(), kLogo);
    EXPECT_EQ(control_->sizeHint(), kLogo);
    auto* logo = control_->findChild<QLabel*>(QStringLiteral("imgSockLogo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->geometry(), QRect(QPoint(0, 0), kLogo));
    EXPECT_EQ(logo->pixmap().size(), kLogo);

    // The embedded asset is a 24-bit bitmap of the logo's size, and not a blank one.
    QFile asset(QStringLiteral(":/ondrel/logo.bmp"));
    ASSERT_TRUE(asset.open(QIODevice::ReadOnly));
    const QByteArray bmp = asset.readAll();
    ASSERT_GT(bmp.size(), 54);
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(qFromLittleEndian<quint16>(bmp.constData() + 28), 24);
    const QImage image = QImage::fromData(bmp, "BMP");
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 20);
}

TEST_F(Face, SnapsBackWhateverSizeIsAsked) {
    // Inside a container, as a host places it; the container then owns it.
    QWidget container;
    container.resize(800, 600);
    control_->setParent(&container);
    control_->show();
    container.show();
    const std::vector<QSize> asked = {{400, 300}, {0, 0}, {600, 37}};
    for (const QSize& s : asked) {
        control_->resize(s);
        EXPECT_EQ(control_->size(), kLogo) << s.width() << "x" << s.height();
        control_->setGeometry(QRect(QPoint(3, 4), s));
        EXPECT_EQ(control_->size(), kLogo) << s.width() << "x" << s.height();
        EXPECT_EQ(control_->pos(), QPoint(3, 4));
    }
    // A container that first lifts the limits still gets the logo's size back.
    control_->setMinimumSize(300, 200);
    control_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    control_->resize(300, 200);
    EXPECT_EQ(control_->size(), kLogo);
    // Hidden, a widget hears of its resize when it is shown again.
    control_->hide();
    control_->setMinimumSize(300, 200);
    control_->resize(300, 200);
    control_->show();
    EXPECT_EQ(control_->size(), kLogo);
}

TEST_F(Face, SnapsBackAsAWindowOfItsOwn) {
    control_->show();
    control_->setMinimumSize(0, 0);
    control_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    control_->resize(500, 90);
    // A window's resize is confirmed by the window system, later.
    for (int i = 0; i < 20 && control_->size() != kLogo; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(control_->size(), kLogo);
}

}  // namespace
}  // namespace lantry::testing

#include "signpad_window.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>
#include <QVariantList>

#include <cstdio>

#include "layout.h"
#include "ondrel/component.h"
#include "ondrel/events.h"
#include "ondrel/text.h"
#include "panel_widgets.h"
#include "window_shape.h"

namespace signpad {

namespace {

// The status frames' colour, and the alarm colour they and the reason take after a failure.
constexpr QColor kFrame(0x8f, 0xb3, 0xea);
constexpr QColor kAlarm(0xff, 0x7a, 0x6b);

QFont arial(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    // At 8 and 9 pixels smoothed stems smear across two columns; crisp glyphs read better.
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QLineEdit* makeField(const char* name, const QRect& geometry, bool secret, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(geometry);
    field->setFont(arial(kFieldPointSize));
    field->setFrame(false);
    field->setTextMargins(1, 0, 1, 0);
    field->setValidator(new Latin1Validator(field));
    if (secret) {
        field->setEchoMode(QLineEdit::Password);
    }
    return field;
}

template <class Label>
Label* makeLabel(const char* name, const QString& caption, const QRect& geometry,
                 const QColor& color, QWidget* parent) {
    auto* label = new Label(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(arial(kLabelPointSize));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

}  // namespace

SignpadWindow::SignpadWindow(lantry::ControlObject* control, ServerSettings server, QWidget* parent)
    : QWidget(parent), control_(control), server_(std::move(server)) {
    setObjectName(QStringLiteral("Signpad"));
    setWindowTitle(QStringLiteral("Signpad"));
    setWindowIcon(QIcon(QStringLiteral(":/signpad/icon.png")));
    skin_ = QImage(QStringLiteral(":/signpad/skin.bmp"));
    hiddenData_ = QImage(QStringLiteral(":/signpad/shape.bmp"));

    // Start-up order: top-most first, then the shape.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(kClientSize);
    std::optional<QRegion> shape = shapeFromBitmap(hiddenData_);
    // A shape that leaves nothing of the window visible would lose the window.
    shapeDecoded_ = shape && !shape->intersected(rect()).isEmpty();
    setMask(shapeDecoded_ ? *shape : QRegion(kFallbackShape));

    // Children in stacking order, bottom first: the drag surface lies beneath everything.
    label1_ = new DragSurface(this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(kDragSurface);

    shape1_ = new FrameShape(kFrame, this);
    shape1_->setObjectName(QStringLiteral("Shape1"));
    shape1_->setGeometry(kShape1);
    shape2_ = new FrameShape(kFrame, this);
    shape2_->setObjectName(QStringLiteral("Shape2"));
    shape2_->setGeometry(kShape2);

    text1_ = makeField("Text1", kText1, false, this);
    text2_ = makeField("Text2", kText2, true, this);
    text4_ = makeField("Text4", kText4, true, this);
    text3_ = makeField("Text3", kText3, true, this);

    const QColor action(0xff, 0xff, 0xff);
    // Pale yellow: a status reads apart from the white actions, and as clearly on the navy.
    const QColor status(0xff, 0xf6, 0xd5);
    label4_ = makeLabel<ClickLabel>("Label4", QStringLiteral("Login"), kLabel4, action, this);
    label5_ = makeLabel<ClickLabel>("Label5", QStringLiteral("Logout"), kLabel5, action, this);
    label6_ =
        makeLabel<FittedLabel>("Label6", QStringLiteral("     Idle..."), kLabel6, status, this);
    label7_ =
        makeLabel<ClickLabel>("Label7", QStringLiteral("Change Password"), kLabel7, action, this);
    label8_ = makeLabel<FittedLabel>("Label8", QStringLiteral("  Idle..."), kLabel8, status, this);
    reason_ = makeLabel<QLabel>("Reason", QString(), kReason, kAlarm, this);
    reason_->setTextFormat(Qt::PlainText);
    reason_->setAttribute(Qt::WA_TransparentForMouseEvents);
    reason_->hide();
    label2_ = makeLabel<ClickLabel>("Label2", QString(), kCloseSpot, action, this);
    label3_ = makeLabel<ClickLabel>("Label3", QString(), kMinimiseSpot, action, this);
    for (ClickLabel* a : {label4_, label5_, label7_, label2_, label3_}) {
        a->setCursor(Qt::PointingHandCursor);
    }
    label2_->setToolTip(QStringLiteral("Close"));
    label3_->setToolTip(QStringLiteral("Minimise"));
    // Status texts are read, not clicked: presses on them fall through to the drag surface.
    label6_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label8_->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(label4_, &ClickLabel::clicked, this, &SignpadWindow::login);
    connect(label5_, &ClickLabel::clicked, this, &SignpadWindow::logOff);
    connect(label7_, &ClickLabel::clicked, this, &SignpadWindow::changePassword);
    connect(text2_, &QLineEdit::returnPressed, this, &SignpadWindow::login);
    connect(text3_, &QLineEdit::returnPressed, this, &SignpadWindow::changePassword);
    connect(label2_, &ClickLabel::clicked, this, &QWidget::close);
    connect(label3_, &ClickLabel::clicked, this, &QWidget::showMinimized);

    if (control_) {
        QWidget* face = control_->widget();
        face->setParent(this);
        face->hide();
        control_->connectEvents(
            [this](int eventNumber, QVariantList& args) { onEvent(eventNumber, args); });
    }
}

SignpadWindow::~SignpadWindow() {
    // The control goes first, so no event can reach a half-destroyed window.
    if (control_) {
        delete control_->widget();
    }
}

void SignpadWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, skin_);
}

// text() hands out copies: the control may write its by-reference arguments, never the fields.
void SignpadWindow::login() {
    clearFailure();
    label6_->setToolTip(QString());
    call(lantry::DispId::Login, {text1_->text(), text2_->text(), server_.host, server_.port});
}

void SignpadWindow::logOff() {
    clearFailure();
    call(lantry::DispId::LogOff, {});
}

void SignpadWindow::changePassword() {
    clearFailure();
    passwordChangePending_ = true;
    call(lantry::DispId::ChangePassword, {text4_->text(), text3_->text()});
}

bool SignpadWindow::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        for (const FittedLabel* status : {label6_, label8_}) {
            if (status->geometry().contains(help->pos()) && !status->toolTip().isEmpty()) {
                QToolTip::showText(help->globalPos(), status->toolTip(), this);
                return true;
            }
        }
    }
    return QWidget::event(event);
}

void SignpadWindow::call(int dispatchId, const QVariantList& args) {
    if (!control_) {
        std::fprintf(stderr, "signpad: no Ondrel control to call\n");
        return;
    }
    const lantry::DispatchResult result = control_->call(dispatchId, args);
    if (!result.ok()) {
        std::fprintf(stderr, "signpad: call 0x%08x failed: %s\n", unsigned(dispatchId),
                     qPrintable(result.description));
    }
}

void SignpadWindow::onEvent(int eventNumber, const QVariantList& args) {
    using lantry::EventNumber;
    const auto number = static_cast<EventNumber>(eventNumber);
    switch (number) {
        case EventNumber::LoggedIn:
            label6_->setText(QStringLiteral(" Logged In"));
            label6_->setToolTip(QString());
            break;
        case EventNumber::LoggedOut:
            label6_->setText(QStringLiteral(" Logged Out"));
            break;
        case EventNumber::PasswordChanged:
            passwordChangePending_ = false;
            label8_->setText(QStringLiteral("Success!"));
            label8_->setToolTip(QString());
            break;
        case EventNumber::Error:
        case EventNumber::WinsockError: {
            // Received text: decoded, hidden and direction characters made visible, and shown
            // as plain text even in a tooltip, which would take markup as rich text.
            QString sentence = lantry::visibleText(lantry::fromWireText(
                args.value(number == EventNumber::Error ? 1 : 0).toString().toLatin1()));
            // The control's sentence for 983 speaks only of signing on; tocd also sends it for
            // new accounts past the address's allowance.
            if (number == EventNumber::Error && args.value(0).toInt() == 983)
                sentence = QStringLiteral(
                    "Signing on too often, or too many new accounts from this address");
            FittedLabel* status = passwordChangePending_ ? label8_ : label6_;
            passwordChangePending_ = false;
            // A refused sign-on is followed by the server closing the connection: the refusal
            // is the reason worth showing.
            const bool followsRefusal = number == EventNumber::WinsockError && status == label6_ &&
                                        !status->toolTip().isEmpty();
            if (!followsRefusal) {
                status->setToolTip(Qt::convertFromPlainText(sentence));
                showFailure(status, sentence);
            }
            std::fprintf(stderr, "signpad: %s\n", qPrintable(sentence));
            break;
        }
        default:
            break;
    }
}

void SignpadWindow::showFailure(FittedLabel* status, const QString& reason) {
    (status == label6_ ? shape1_ : shape2_)->setColor(kAlarm);
    reason_->setText(
        reason_->fontMetrics().elidedText(reason.simplified(), Qt::ElideRight, reason_->width()));
    reason_->show();
}

void SignpadWindow::clearFailure() {
    shape1_->setColor(kFrame);
    shape2_->setColor(kFrame);
    reason_->hide();
}

}  // namespace signpad

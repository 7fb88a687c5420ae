// Signpad's one window: a borderless, shaped, always-on-top 161 x 232 panel on a skin, hosting
// one Ondrel control that it reaches only through the component layer (late-bound calls by
// dispatch identifier, events by number).
//
// Clicks: "Login" calls Login(copy of the name field, copy of the password field, server,
// port text); "Logout" calls LogOff; "Change Password" calls ChangePassword(copy of the old
// password field, copy of the new one). The control's LoggedIn and LoggedOut events set the
// sign-on status to " Logged In" / " Logged Out", PasswordChanged sets the password-change
// status to "Success!"; nothing resets a status. A failure (Error, WinsockError) leaves the
// caption as it is: the frame of the status it concerns turns the alarm colour and its reason
// shows on one line under the sign-on fields (and whole in the status's tooltip) until the
// next click on an action. The panel checks no input; failures are the control's to report.
//
// Pressing any point not covered by a field or an action label drags the window; the top-left
// hot spot closes it, the top-right one minimises it.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;

namespace lantry {
class ControlObject;
}

namespace signpad {

class ClickLabel;
class DragSurface;
class FittedLabel;
class FrameShape;

// Where Login signs on. The panel's own values; main() may override them from its arguments.
struct ServerSettings {
    QString host = QStringLiteral("localhost");
    QString port = QStringLiteral("5190");
};

class SignpadWindow : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of `control` (its face becomes a hidden child of the window); the
    // control lives as long as the window. `control` may be null: the window then shows but
    // its actions have nothing to call.
    explicit SignpadWindow(lantry::ControlObject* control, ServerSettings server = {},
                           QWidget* parent = nullptr);
    ~SignpadWindow() override;

    // Whether the shape came from the shape bitmap (false: the fixed fallback rectangle).
    bool shapeDecoded() const { return shapeDecoded_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Tooltips of the status texts, which let the mouse through to the drag surface.
    bool event(QEvent* event) override;

private:
    void login();
    void logOff();
    void changePassword();
    // The captions follow LoggedIn, LoggedOut and PasswordChanged. The sentence of an Error or
    // WinsockError becomes the tooltip of the status it concerns (the password change's while
    // one is awaiting its answer, else the sign-on's; a sign-on's first reason stays until the
    // next Login) and goes to stderr, as plain text with hidden and direction characters made
    // visible (lantry::visibleText); captions stay. Success clears the tooltip.
    void onEvent(int eventNumber, const QVariantList& args);
    void showFailure(FittedLabel* status, const QString& reason);
    void clearFailure();
    void call(int dispatchId, const QVariantList& args);

    lantry::ControlObject* control_;
    ServerSettings server_;
    QImage skin_;
    // PicHiddenData: the shape bitmap, never shown.
    QImage hiddenData_;
    bool shapeDecoded_ = false;
    // A password change was sent and its answer has not come yet.
    bool passwordChangePending_ = false;

    DragSurface* label1_;
    FrameShape* shape1_;
    FrameShape* shape2_;
    QLineEdit* text1_;
    QLineEdit* text2_;
    QLineEdit* text4_;
    QLineEdit* text3_;
    ClickLabel* label4_;
    ClickLabel* label5_;
    FittedLabel* label6_;
    ClickLabel* label7_;
    FittedLabel* label8_;
    QLabel* reason_;
    ClickLabel* label2_;
    ClickLabel* label3_;
};

}  // namespace signpad

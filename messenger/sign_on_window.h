// The sign-on window: server as HOST[:PORT], screen name, password, "remember me", a Sign On
// button and a status line that shows progress while connecting and the sentence that says
// why a sign-on failed. Enter anywhere in it signs on, as in a dialog. Every field and button
// carries an accessible name. It only collects and shows; Messenger acts on signOnRequested.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace messenger {

class SignOnWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr char kDefaultServer[] = "127.0.0.1:5190";

    explicit SignOnWindow(QWidget* parent = nullptr);

    void setServer(const QString& server);
    void setScreenName(const QString& name);
    void setPassword(const QString& password);
    void setRemember(bool remember);
    // While busy the fields are locked and the button reads "Cancel".
    void setBusy(bool busy);
    void setStatus(const QString& text, bool isError = false);
    QString status() const;

signals:
    // The fields were checked: host, port and name are usable.
    void signOnRequested(const QString& host, quint16 port, const QString& name,
                         const QString& password, bool remember);
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void submit();

    QLineEdit* server_;
    QLineEdit* name_;
    QLineEdit* password_;
    QCheckBox* remember_;
    QPushButton* button_;
    QLabel* status_;
    bool busy_ = false;
};

}  // namespace messenger

// Asks for an away message. While one is set, Messenger tells the server (SetAwayMessage) and
// answers people automatically; "I'm Back" in the buddy list window clears it.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace messenger {

class AwayDialog : public QDialog {
    Q_OBJECT
public:
    explicit AwayDialog(const QString& current, QWidget* parent = nullptr);
    QString message() const;

private:
    QPlainTextEdit* text_;
};

}  // namespace messenger

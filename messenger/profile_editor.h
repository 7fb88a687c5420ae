// Edits this user's own profile, the text others see when they ask for it.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace messenger {

class ProfileEditor : public QDialog {
    Q_OBJECT
public:
    explicit ProfileEditor(const QString& current, QWidget* parent = nullptr);
    QString profile() const;

private:
    QPlainTextEdit* text_;
};

}  // namespace messenger

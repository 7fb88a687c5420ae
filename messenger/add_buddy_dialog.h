// Add Buddy: the screen name and the group in one dialog. The group is one of `groups` or a new
// one typed in; Add (the default button) is offered only once both are filled in. Names and
// groups come back as typed, trimmed.
#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace messenger {

class AddBuddyDialog : public QDialog {
    Q_OBJECT
public:
    // `groups` decoded, in order; `current` is chosen at the start when it is one of them.
    AddBuddyDialog(const QStringList& groups, const QString& current, QWidget* parent = nullptr);

    QString name() const;
    QString group() const;

private:
    QLineEdit* name_;
    QComboBox* group_;
};

}  // namespace messenger

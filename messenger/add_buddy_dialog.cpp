#include "add_buddy_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace messenger {

AddBuddyDialog::AddBuddyDialog(const QStringList& groups, const QString& current, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("addBuddyDialog"));
    setWindowTitle(tr("Add Buddy"));
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("buddyName"));
    name_->setAccessibleName(tr("Screen name"));
    group_ = new QComboBox(this);
    group_->setObjectName(QStringLiteral("buddyGroup"));
    group_->setAccessibleName(tr("Group"));
    group_->setEditable(true);
    group_->setInsertPolicy(QComboBox::NoInsert);
    group_->addItems(groups.isEmpty() ? QStringList{QStringLiteral("Buddies")} : groups);
    group_->setCurrentIndex(std::max<qsizetype>(0, groups.indexOf(current)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* add = buttons->button(QDialogButtonBox::Ok);
    add->setText(tr("&Add"));
    add->setDefault(true);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Screen &name:"), name_);
    form->addRow(tr("&Group:"), group_);
    form->addRow(buttons);
    const auto check = [this, add] { add->setEnabled(!name().isEmpty() && !group().isEmpty()); };
    connect(name_, &QLineEdit::textChanged, this, check);
    connect(group_, &QComboBox::currentTextChanged, this, check);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    check();
    name_->setFocus();
}

QString AddBuddyDialog::name() const {
    return name_->text().trimmed();
}

QString AddBuddyDialog::group() const {
    return group_->currentText().trimmed();
}

}  // namespace messenger

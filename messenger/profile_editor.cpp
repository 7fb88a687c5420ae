#include "profile_editor.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace messenger {

ProfileEditor::ProfileEditor(const QString& current, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("profileEditor"));
    setWindowTitle(tr("My Profile"));
    text_ = new QPlainTextEdit(current, this);
    text_->setObjectName(QStringLiteral("profileText"));
    text_->setTabChangesFocus(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    // Without a mnemonic of its own, Alt+S would reach the text as an "s".
    buttons->button(QDialogButtonBox::Save)->setText(tr("&Save"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("What people see when they ask for your profile:"), this));
    layout->addWidget(text_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    text_->setFocus();
}

QString ProfileEditor::profile() const {
    return text_->toPlainText();
}

}  // namespace messenger

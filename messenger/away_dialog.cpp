#include "away_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace messenger {

AwayDialog::AwayDialog(const QString& current, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("awayDialog"));
    setWindowTitle(tr("Away Message"));
    text_ = new QPlainTextEdit(
        current.isEmpty() ? tr("I am away from my computer right now.") : current, this);
    text_->setObjectName(QStringLiteral("awayText"));
    text_->setTabChangesFocus(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Set &Away"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("People who send you a message while you are away get "
                                    "this answer (once every 10 minutes each):"),
                                 this));
    layout->addWidget(text_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    text_->selectAll();
    text_->setFocus();
}

QString AwayDialog::message() const {
    return text_->toPlainText().trimmed();
}

}  // namespace messenger

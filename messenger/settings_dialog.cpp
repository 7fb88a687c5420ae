#include "settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace messenger {

QString SettingsDialog::describe(int mode) {
    switch (mode) {
        case AllowEveryone:
            return tr("Everyone may contact me");
        case BlockEveryone:
            return tr("Nobody may contact me");
        case AllowPermitList:
            return tr("Only the people on my permit list may contact me");
        case BlockBlockList:
            return tr("Everyone but the people I blocked may contact me");
        case AllowBuddyList:
            return tr("Only the people on my buddy list may contact me");
        default:
            return tr("Unknown (the server said %1)").arg(mode);
    }
}

SettingsDialog::SettingsDialog(int privacyMode, const QStringList& blocked, bool logging,
                               QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(tr("Settings"));
    auto* box = new QGroupBox(tr("Privacy: who may see me and send me messages"), this);
    auto* boxLayout = new QVBoxLayout(box);
    modes_ = new QButtonGroup(this);
    for (int mode = AllowEveryone; mode <= AllowBuddyList; ++mode) {
        auto* button = new QRadioButton(describe(mode), box);
        button->setObjectName(QStringLiteral("privacy%1").arg(mode));
        button->setChecked(mode == privacyMode);
        modes_->addButton(button, mode);
        boxLayout->addWidget(button);
    }
    auto* list =
        new QLabel(blocked.isEmpty() ? tr("You have blocked nobody.")
                                     : tr("Blocked: %1").arg(blocked.join(QStringLiteral(", "))),
                   this);
    list->setTextFormat(Qt::PlainText);
    list->setWordWrap(true);
    auto* history = new QGroupBox(tr("History"), this);
    logging_ = new QCheckBox(tr("&Keep a history of my conversations"), history);
    logging_->setObjectName(QStringLiteral("logging"));
    logging_->setChecked(logging);
    auto* clear = new QPushButton(tr("&Clear History..."), history);
    clear->setObjectName(QStringLiteral("clearHistory"));
    clear->setAutoDefault(false);
    auto* historyLayout = new QHBoxLayout(history);
    historyLayout->addWidget(logging_, 1);
    historyLayout->addWidget(clear);
    connect(clear, &QPushButton::clicked, this, [this] {
        if (QMessageBox::question(this, tr("Clear History"),
                                  tr("Remove every conversation kept in the history of this "
                                     "account? This cannot be undone.")) == QMessageBox::Yes)
            emit clearHistoryRequested();
    });
    auto* attention = new QGroupBox(tr("A message in a window that is not active"), this);
    notify_ = new QCheckBox(tr("Shows a desktop &notification"), attention);
    notify_->setObjectName(QStringLiteral("notify"));
    urgent_ = new QCheckBox(tr("&Marks its window as needing attention"), attention);
    urgent_->setObjectName(QStringLiteral("urgent"));
    auto* attentionLayout = new QVBoxLayout(attention);
    attentionLayout->addWidget(notify_);
    attentionLayout->addWidget(urgent_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(attention);
    layout->addWidget(box);
    layout->addWidget(list);
    layout->addWidget(history);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int SettingsDialog::privacyMode() const {
    return modes_->checkedId();
}

bool SettingsDialog::logging() const {
    return logging_->isChecked();
}

void SettingsDialog::setAttention(bool notify, bool urgent) {
    notify_->setChecked(notify);
    urgent_->setChecked(urgent);
}

bool SettingsDialog::notifies() const {
    return notify_->isChecked();
}

bool SettingsDialog::marksUrgent() const {
    return urgent_->isChecked();
}

}  // namespace messenger

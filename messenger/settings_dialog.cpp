#include "settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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

SettingsDialog::SettingsDialog(int privacyMode, const QStringList& permitted,
                               const QStringList& blocked, bool logging, QWidget* parent)
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
    // One list of names: typed in and added with Enter or Add, removed when selected.
    const auto listBox = [this](const QString& title, const QString& name, const QStringList& names,
                                QListWidget** list) {
        auto* box = new QGroupBox(title, this);
        *list = new QListWidget(box);
        (*list)->setObjectName(name);
        (*list)->setAccessibleName(title);
        (*list)->addItems(names);
        auto* typed = new QLineEdit(box);
        typed->setObjectName(name + QStringLiteral("Name"));
        typed->setPlaceholderText(tr("Screen name"));
        auto* add = new QPushButton(tr("Add"), box);
        add->setObjectName(name + QStringLiteral("Add"));
        add->setAutoDefault(false);
        auto* remove = new QPushButton(tr("Remove"), box);
        remove->setObjectName(name + QStringLiteral("Remove"));
        remove->setAutoDefault(false);
        auto* row = new QHBoxLayout;
        row->addWidget(typed, 1);
        row->addWidget(add);
        row->addWidget(remove);
        auto* layout = new QVBoxLayout(box);
        layout->addWidget(*list);
        layout->addLayout(row);
        QListWidget* shown = *list;
        const auto addTyped = [shown, typed] {
            const QString name = typed->text().trimmed();
            if (!name.isEmpty() && shown->findItems(name, Qt::MatchFixedString).isEmpty())
                shown->addItem(name);
            typed->clear();
        };
        connect(add, &QPushButton::clicked, this, addTyped);
        connect(typed, &QLineEdit::returnPressed, this, addTyped);
        connect(remove, &QPushButton::clicked, this, [shown] { delete shown->currentItem(); });
        return box;
    };
    auto* lists = new QHBoxLayout;
    lists->addWidget(
        listBox(tr("Permit list"), QStringLiteral("permitList"), permitted, &permitted_));
    lists->addWidget(listBox(tr("Block list"), QStringLiteral("blockList"), blocked, &blocked_));
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
    layout->addLayout(lists);
    layout->addWidget(history);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int SettingsDialog::privacyMode() const {
    return modes_->checkedId();
}

QStringList SettingsDialog::permitted() const {
    QStringList out;
    for (int i = 0; i < permitted_->count(); ++i)
        out.append(permitted_->item(i)->text());
    return out;
}

QStringList SettingsDialog::blocked() const {
    QStringList out;
    for (int i = 0; i < blocked_->count(); ++i)
        out.append(blocked_->item(i)->text());
    return out;
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

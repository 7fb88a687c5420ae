// Settings: who may reach this user (the privacy mode, in words) and the people blocked.
#pragma once

#include <QDialog>
#include <QStringList>

class QButtonGroup;

namespace messenger {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // The server's privacy modes (toc2_set_pdmode), each with its sentence.
    enum PrivacyMode {
        AllowEveryone = 1,
        BlockEveryone = 2,
        AllowPermitList = 3,
        BlockBlockList = 4,
        AllowBuddyList = 5,
    };
    static QString describe(int mode);

    // `blocked`: the block list, decoded, for showing.
    SettingsDialog(int privacyMode, const QStringList& blocked, QWidget* parent = nullptr);
    int privacyMode() const;

private:
    QButtonGroup* modes_;
};

}  // namespace messenger

// Settings: who may reach this user (the privacy mode, in words), the people blocked, whether
// conversations are kept in the history, what a message in a window that is not active does
// (a desktop notification, the window marked urgent), and clearing the history (after a
// confirmation).
#pragma once

#include <QDialog>
#include <QStringList>

class QButtonGroup;
class QCheckBox;

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
    SettingsDialog(int privacyMode, const QStringList& blocked, bool logging,
                   QWidget* parent = nullptr);
    int privacyMode() const;
    bool logging() const;
    void setAttention(bool notify, bool urgent);
    bool notifies() const;
    bool marksUrgent() const;

signals:
    // Confirmed by the person: the history goes now, whatever the dialog's outcome.
    void clearHistoryRequested();

private:
    QButtonGroup* modes_;
    QCheckBox* logging_;
    QCheckBox* notify_;
    QCheckBox* urgent_;
};

}  // namespace messenger

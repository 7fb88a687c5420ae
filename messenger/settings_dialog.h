// Settings: who may reach this user (the privacy mode, in words), the permit and block lists
// (names added by typing, removed by selecting), whether
// conversations are kept in the history, what a message in a window that is not active does
// (a desktop notification, the window marked urgent), and clearing the history (after a
// confirmation).
#pragma once

#include <QDialog>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QListWidget;

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

    // `permitted`, `blocked`: the lists, decoded, as the dialog starts.
    SettingsDialog(int privacyMode, const QStringList& permitted, const QStringList& blocked,
                   bool logging, QWidget* parent = nullptr);
    int privacyMode() const;
    // The lists as edited, decoded, in order.
    QStringList permitted() const;
    QStringList blocked() const;
    bool logging() const;
    void setAttention(bool notify, bool urgent);
    bool notifies() const;
    bool marksUrgent() const;

signals:
    // Confirmed by the person: the history goes now, whatever the dialog's outcome.
    void clearHistoryRequested();

private:
    QButtonGroup* modes_;
    QListWidget* permitted_;
    QListWidget* blocked_;
    QCheckBox* logging_;
    QCheckBox* notify_;
    QCheckBox* urgent_;
};

}  // namespace messenger

// The History window: searches every conversation of the account kept in the history and lists
// the lines found, newest first (time, conversation, sender, text as plain text).
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QTreeWidget;

namespace messenger {

class HistoryStore;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // `history` must outlive the window.
    explicit HistoryWindow(HistoryStore* history, QWidget* parent = nullptr);

    void search(const QString& text);
    QTreeWidget* hits() const { return hits_; }
    QString status() const;

private:
    HistoryStore* history_;
    QLineEdit* text_;
    QTreeWidget* hits_;
    QLabel* status_;
    int request_ = 0;  // the search whose answer is awaited
};

}  // namespace messenger

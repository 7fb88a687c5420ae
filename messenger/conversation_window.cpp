#include "conversation_window.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "conversation_store.h"
#include "transcript_view.h"

namespace messenger {

ConversationWindow::ConversationWindow(ConversationStore* store, const QString& key,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), store_(store), key_(key) {
    view_ = new TranscriptView(this);
    view_->setObjectName(QStringLiteral("transcript"));
    if (Conversation* c = store_->find(key_))
        view_->setModel(c->transcript.get());
    connect(view_, &TranscriptView::olderWanted, this, [this] { store_->loadOlder(key_); });
    waiting_ = new QLabel(this);
    waiting_->setObjectName(QStringLiteral("waiting"));
    waiting_->setTextFormat(Qt::PlainText);
    waiting_->setWordWrap(true);
    waiting_->setStyleSheet(QStringLiteral("color: #707070"));
    waiting_->hide();
    input_ = new QLineEdit(this);
    input_->setObjectName(QStringLiteral("input"));
    input_->setAccessibleName(tr("Message"));
    formatBar_ = new QWidget(this);
    formatBar_->setObjectName(QStringLiteral("formatBar"));
    auto* formatRow = new QHBoxLayout(formatBar_);
    formatRow->setContentsMargins(0, 0, 0, 0);
    bold_ = addFormat(QStringLiteral("bold"), tr("Bold"), QKeySequence::Bold);
    italic_ = addFormat(QStringLiteral("italic"), tr("Italic"), QKeySequence::Italic);
    underline_ = addFormat(QStringLiteral("underline"), tr("Underline"), QKeySequence::Underline);
    formatRow->addStretch(1);
    // The line edit takes Ctrl+U (delete the line) for itself before any shortcut sees it.
    input_->installEventFilter(this);

    findBar_ = new QWidget(this);
    findText_ = new QLineEdit(findBar_);
    findText_->setObjectName(QStringLiteral("find"));
    findText_->setPlaceholderText(tr("Find in this conversation (Enter: previous)"));
    findText_->setAccessibleName(tr("Find"));
    findStatus_ = new QLabel(findBar_);
    findStatus_->setTextFormat(Qt::PlainText);
    auto* findRow = new QHBoxLayout(findBar_);
    findRow->setContentsMargins(0, 0, 0, 0);
    findRow->addWidget(findText_, 1);
    findRow->addWidget(findStatus_);
    findBar_->hide();
    auto* findAction = new QAction(this);
    findAction->setShortcut(QKeySequence::Find);
    connect(findAction, &QAction::triggered, this, [this] {
        findBar_->show();
        findText_->setFocus();
        findText_->selectAll();
    });
    addAction(findAction);
    connect(findText_, &QLineEdit::returnPressed, this, &ConversationWindow::findPrevious);
    connect(findText_, &QLineEdit::textEdited, this, [this] { searchedBelow_ = -1; });

    follow(&ConversationStore::lineAdded, [this] {
        if (isActiveWindow())
            store_->markRead(key_);
    });
    follow(&ConversationStore::waitingChanged, [this] { showWaiting(); });
    follow(&ConversationStore::olderLoaded, [this] {
        if (searchedBelow_ < 0)
            return;
        const int added = view_->model()->rowCount() - std::exchange(searchedBelow_, -1);
        findFrom(added - 1);
    });
}

QAction* ConversationWindow::addFormat(const QString& name, const QString& label,
                                       QKeySequence::StandardKey key) {
    auto* action = new QAction(label, this);
    action->setObjectName(name);
    action->setIconText(label.left(1));
    action->setCheckable(true);
    action->setShortcut(key);
    action->setToolTip(
        QStringLiteral("%1 (%2)").arg(label, QKeySequence(key).toString(QKeySequence::NativeText)));
    addAction(action);
    connect(action, &QAction::toggled, this, &ConversationWindow::showStyle);
    auto* button = new QToolButton(formatBar_);
    button->setObjectName(name);
    button->setDefaultAction(action);
    button->setAccessibleName(label);
    button->setFocusPolicy(Qt::NoFocus);
    QFont font = button->font();
    font.setBold(key == QKeySequence::Bold);
    font.setItalic(key == QKeySequence::Italic);
    font.setUnderline(key == QKeySequence::Underline);
    button->setFont(font);
    formatBar_->layout()->addWidget(button);
    return action;
}

TextStyle ConversationWindow::style() const {
    return TextStyle{bold_->isChecked(), italic_->isChecked(), underline_->isChecked()};
}

void ConversationWindow::showStyle() {
    QFont font = input_->font();
    font.setBold(bold_->isChecked());
    font.setItalic(italic_->isChecked());
    font.setUnderline(underline_->isChecked());
    input_->setFont(font);
}

bool ConversationWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == input_ && event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        for (QAction* format : {bold_, italic_, underline_}) {
            if (key->keyCombination() == format->shortcut()[0]) {
                event->ignore();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConversationWindow::find(const QString& text) {
    findBar_->show();
    findText_->setText(text);
    findPrevious();
}

QString ConversationWindow::findStatus() const {
    return findStatus_->text();
}

void ConversationWindow::findPrevious() {
    if (!view_->model() || findText_->text().isEmpty())
        return;
    const int selected = view_->selectedRow();
    findFrom(selected >= 0 ? selected - 1 : view_->model()->rowCount() - 1);
}

bool ConversationWindow::findFrom(int from) {
    const TranscriptModel* model = view_->model();
    const QString wanted = findText_->text();
    // Typed text is kept as the markup sent, "<" as "&lt;".
    const QString escaped = wanted.toHtmlEscaped();
    for (int row = from; row >= 0; --row) {
        const ChatLine& l = model->line(row);
        const QString& text = l.kind == ChatLine::Kind::Notice ? l.html : l.text;
        if (l.sender.contains(wanted, Qt::CaseInsensitive) ||
            text.contains(wanted, Qt::CaseInsensitive) ||
            text.contains(escaped, Qt::CaseInsensitive)) {
            view_->showRow(row);
            findStatus_->clear();
            return true;
        }
    }
    if (model->mayHaveOlder() && store_->canLoadOlder(key_)) {
        searchedBelow_ = model->rowCount();
        findStatus_->setText(tr("Searching older lines..."));
        store_->loadOlder(key_);
        return false;
    }
    findStatus_->setText(tr("Not found"));
    return false;
}

void ConversationWindow::showWaiting() {
    const Conversation* c = store_->find(key_);
    if (!c || c->waiting.isEmpty()) {
        waiting_->hide();
        return;
    }
    QStringList shown{tr("Waiting to go out (the server takes about one message every 4 s):")};
    for (const WaitingLine& w : c->waiting)
        shown.append(QStringLiteral("\u231b ") + w.text);
    waiting_->setText(shown.join(u'\n'));
    waiting_->show();
}

QString ConversationWindow::title() const {
    const Conversation* c = store_->find(key_);
    return c ? c->title : key_;
}

void ConversationWindow::follow(void (ConversationStore::*changed)(const QString&),
                                std::function<void()> show) {
    connect(store_, changed, this, [this, show = std::move(show)](const QString& k) {
        if (k == key_)
            show();
    });
}

void ConversationWindow::closeOn(const QList<QKeySequence>& keys) {
    auto* close = new QAction(this);
    close->setShortcuts(keys);
    connect(close, &QAction::triggered, this, [this] {
        // Escape in the find bar closes the bar, not the window.
        if (findBar_->isVisible() && findText_->hasFocus()) {
            findBar_->hide();
            input_->setFocus();
            return;
        }
        QWidget::close();
    });
    addAction(close);
}

void ConversationWindow::send() {
    const QString text = input_->text();
    if (text.trimmed().isEmpty())
        return;
    input_->clear();
    emit sendRequested(text, style());
}

bool ConversationWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        store_->markRead(key_);
    return QWidget::event(event);
}

}  // namespace messenger

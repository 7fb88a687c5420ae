#include "messenger.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextDocumentFragment>
#include <optional>

#include "away_dialog.h"
#include "buddy_list_window.h"
#include "chat_room_window.h"
#include "history_window.h"
#include "im_window.h"
#include "ondrel/events.h"
#include "profile_editor.h"
#include "profile_viewer.h"
#include "safe_markup.h"
#include "settings_dialog.h"
#include "sign_on_window.h"
#include "tray_icon.h"
#include "window_geometry.h"
#include "wire_strings.h"

namespace messenger {

namespace {

namespace DispId = lantry::DispId;
using lantry::EventNumber;

const QString kShowOfflineKey = QStringLiteral("buddyList/showOffline");
const QString kSortByKey = QStringLiteral("buddyList/sortBy");
const QString kSortByName = QStringLiteral("name");

// Typed text as the messages that carry it, as many as `split` cuts it into (keeping free the
// bytes the tags take), each with the whole formatting, so that no part loses it or shows a
// tag cut in two. Empty when `split` finds no room.
QStringList formattedParts(
    const QString& typed, TextStyle style,
    const std::function<QList<QByteArray>(QByteArrayView, std::size_t)>& split) {
    const QString open = openingTags(style), close = closingTags(style);
    QStringList parts;
    // The tags hold no character the command escapes: they cost their length.
    for (const QByteArray& body :
         split(lantry::toWireText(typedMarkup(typed, {})), std::size_t(open.size() + close.size())))
        parts.append(open + QString::fromUtf8(body) + close);
    return parts;
}

}  // namespace

Messenger::Messenger(lantry::ControlObject* control, QSettings* settings, QObject* parent)
    : QObject(parent),
      settings_(settings),
      connection_(new ConnectionManager(control, this)),
      credentials_(settings) {
    signOnWindow_ = new SignOnWindow;
    rememberGeometry(signOnWindow_, settings_, QStringLiteral("signOn"));
    shownBuddies_.setShowOffline(settings_->value(kShowOfflineKey, true).toBool());
    shownBuddies_.setSortBy(settings_->value(kSortByKey).toString() == kSortByName
                                ? BuddyListProxy::SortBy::Name
                                : BuddyListProxy::SortBy::Status);
    connect(&shownBuddies_, &BuddyListProxy::optionsChanged, this, [this] {
        settings_->setValue(kShowOfflineKey, shownBuddies_.showsOffline());
        settings_->setValue(kSortByKey, shownBuddies_.sortBy() == BuddyListProxy::SortBy::Name
                                            ? kSortByName
                                            : QStringLiteral("status"));
    });
    buddyListWindow_ = new BuddyListWindow(&shownBuddies_);
    rememberGeometry(buddyListWindow_, settings_, QStringLiteral("buddyList"));
    buddyListWindow_->setBlockedCheck([this](const QString& name) { return isBlocked(name); });

    trayMenu_ = new QMenu;
    trayMenu_->addAction(tr("Show Buddy List"), this, [this] {
        QWidget* w = connection_->state() == ConnectionManager::State::SignedOff
                         ? static_cast<QWidget*>(signOnWindow_)
                         : buddyListWindow_;
        w->show();
        w->raise();
        w->activateWindow();
    });
    trayMenu_->addAction(tr("Quit"), this, &Messenger::quitRequested);
    tray_ = new TrayIcon(trayMenu_, this);
    connect(tray_, &TrayIcon::activated, this, [this] { trayMenu_->actions().first()->trigger(); });
    connect(&conversations_, &ConversationStore::unreadChanged, tray_, &TrayIcon::setUnread);
    connect(&conversations_, &ConversationStore::unreadChanged, this, &Messenger::showUnread);
    notifier_ =
        new Notifier([this](const QString& title,
                            const QString& body) { return tray_->showMessage(title, body); },
                     this);

    connect(connection_, &ConnectionManager::controlEvent, this, &Messenger::onControlEvent);
    connect(connection_, &ConnectionManager::stateChanged, this, &Messenger::showConnectionState);
    connect(connection_, &ConnectionManager::signOnFailed, this, [this](const QString& why) {
        buddyListWindow_->hide();
        signOnWindow_->setBusy(false);
        signOnWindow_->setStatus(why, true);
        signOnWindow_->show();
    });
    connect(connection_, &ConnectionManager::connectionLost, this, [this](const QString& why) {
        buddies_.setEveryoneOffline();
        roomsToRejoin_.clear();
        for (const QString& key : conversations_.keys()) {
            const Conversation* c = conversations_.find(key);
            if (c->type == Conversation::Type::Room && c->joined)
                roomsToRejoin_.append(c->wireName);
        }
        conversations_.leaveAllRooms(tr("Connection lost: %1").arg(why));
        invitations_.clear();
    });
    connect(&invitations_, &InvitationQueue::accepted, this, [this](int chatId) {
        if (requireSignedOn())
            connection_->call(DispId::AcceptChatInvite, {chatId});
    });
    connect(&invitations_, &InvitationQueue::dropped, this, [this](int total) {
        showProblem(tr("%1 invitations were dropped: too many were waiting.").arg(total));
    });
    connect(&invitations_, &InvitationQueue::ignored, this, [this](const QString& name) {
        showProblem(tr("Invitations from %1 are ignored until you quit.").arg(name));
    });
    connect(connection_, &ConnectionManager::problem, this, [this](const QString& why) {
        // An error that answered a request of ours was said in words of its own already.
        if (!std::exchange(errorAnswered_, false))
            showProblem(why);
    });
    connect(connection_, &ConnectionManager::heldCommandsLeft, &conversations_,
            &ConversationStore::heldLeft);
    connect(&credentials_, &CredentialStore::problem, this, &Messenger::showProblem);
    history_.setLogging(settings_->value(QStringLiteral("history/logging"), true).toBool());
    conversations_.setHistory(&history_);
    connect(&history_, &HistoryStore::problem, this, &Messenger::showProblem);
    connect(&credentials_, &CredentialStore::passwordRead, this, [this](const QString& password) {
        if (!password.isEmpty())
            signOnWindow_->setPassword(password);
    });
    connectWindows();

    countdown_.setInterval(1000);
    connect(&countdown_, &QTimer::timeout, this, &Messenger::showConnectionState);
    idleTimer_.setInterval(30 * 1000);
    connect(&idleTimer_, &QTimer::timeout, this, &Messenger::checkIdle);
    idleTimer_.start();
    sinceInput_.start();
    qApp->installEventFilter(this);
}

Messenger::~Messenger() {
    for (const auto& w : std::as_const(imWindows_))
        delete w.data();
    for (const auto& w : std::as_const(roomWindows_))
        delete w.data();
    // The connection goes first, so no event reaches a window being destroyed.
    delete connection_;
    for (const auto& viewer : std::as_const(profileViewers_))
        delete viewer.data();
    delete historyWindow_.data();
    delete buddyListWindow_;
    delete signOnWindow_;
    delete trayMenu_;
}

void Messenger::start(const QString& server) {
    const RememberedAccount remembered = credentials_.remembered();
    signOnWindow_->setRemember(remembered.remember);
    if (!remembered.server.isEmpty())
        signOnWindow_->setServer(remembered.server);
    if (!server.isEmpty())
        signOnWindow_->setServer(server);
    signOnWindow_->setScreenName(remembered.name);
    if (remembered.remember && !remembered.name.isEmpty())
        credentials_.readPassword(remembered.server, remembered.name);
    signOnWindow_->show();
}

void Messenger::connectWindows() {
    connect(signOnWindow_, &SignOnWindow::signOnRequested, this,
            [this](const QString& host, quint16 port, const QString& name, const QString& password,
                   bool remember) {
                const QString server = QStringLiteral("%1:%2").arg(host).arg(port);
                credentials_.remember(server, name, password, remember);
                signOnWindow_->setBusy(true);
                connection_->signOn(Account{host, port, name, password});
            });
    connect(signOnWindow_, &SignOnWindow::cancelRequested, this, [this] {
        connection_->signOff();
        signOnWindow_->setBusy(false);
        signOnWindow_->setStatus(tr("Sign-on cancelled."));
    });

    BuddyListWindow* w = buddyListWindow_;
    connect(w, &BuddyListWindow::imRequested, this, [this](const QString& name) { openIm(name); });
    connect(w, &BuddyListWindow::imToNameRequested, this,
            [this](const QString& typed) { openIm(toWire(typed)); });
    connect(w, &BuddyListWindow::profileRequested, this, &Messenger::requestProfile);
    connect(w, &BuddyListWindow::addBuddyRequested, this,
            [this](const QString& group, const QString& name) {
                if (!requireSignedOn())
                    return;
                connection_->call(DispId::AddBuddy, {toWire(group), toWire(name)});
                buddies_.addBuddy(toWire(group), toWire(name));
            });
    connect(w, &BuddyListWindow::addGroupRequested, this, [this](const QString& group) {
        if (!requireSignedOn())
            return;
        connection_->call(DispId::AddGroup, {toWire(group)});
        buddies_.addGroup(toWire(group));
    });
    connect(w, &BuddyListWindow::removeBuddyRequested, this,
            [this](const QString& group, const QString& name) {
                if (!requireSignedOn())
                    return;
                connection_->call(DispId::RemoveBuddy, {group, name});
                buddies_.removeBuddy(group, name);
            });
    connect(w, &BuddyListWindow::removeGroupRequested, this, [this](const QString& group) {
        if (!requireSignedOn())
            return;
        connection_->call(DispId::RemoveGroup, {group});
        buddies_.removeGroup(group);
    });
    connect(w, &BuddyListWindow::blockRequested, this, &Messenger::block);
    connect(w, &BuddyListWindow::unblockRequested, this, &Messenger::unblock);
    connect(w, &BuddyListWindow::joinRoomRequested, this,
            [this](const QString& typed) { joinRoom(toWire(typed)); });
    connect(w, &BuddyListWindow::awayRequested, this, &Messenger::editAway);
    connect(w, &BuddyListWindow::backRequested, this, [this] { setAwayMessage({}); });
    connect(w, &BuddyListWindow::profileEditRequested, this, &Messenger::editProfile);
    connect(w, &BuddyListWindow::settingsRequested, this, &Messenger::editSettings);
    connect(w, &BuddyListWindow::historyRequested, this, &Messenger::openHistory);
    connect(w, &BuddyListWindow::warnRequested, this, &Messenger::askToWarn);
    connect(w, &BuddyListWindow::passwordChangeRequested, this, [this] {
        bool ok = false;
        const QString oldPassword =
            QInputDialog::getText(buddyListWindow_, tr("Change Password"), tr("Old password:"),
                                  QLineEdit::Password, QString(), &ok);
        if (!ok)
            return;
        const QString newPassword =
            QInputDialog::getText(buddyListWindow_, tr("Change Password"), tr("New password:"),
                                  QLineEdit::Password, QString(), &ok);
        if (ok && !newPassword.isEmpty())
            changePassword(oldPassword, newPassword);
    });
    connect(w, &BuddyListWindow::formatRequested, this, [this] {
        bool ok = false;
        const QString typed = QInputDialog::getText(
            buddyListWindow_, tr("Format Screen Name"),
            tr("Your screen name as others see it (capitals and blanks only):"), QLineEdit::Normal,
            fromWire(connection_->formattedName()), &ok);
        if (ok)
            formatScreenName(typed);
    });
    connect(w, &BuddyListWindow::reconnectRequested, connection_, &ConnectionManager::reconnectNow);
    connect(w, &BuddyListWindow::signOffRequested, this, [this] {
        connection_->signOff();
        // Signing off leaves every room without a word from the server.
        conversations_.leaveAllRooms(tr("Signed off."));
        invitations_.clear();
        buddyListWindow_->hide();
        signOnWindow_->setBusy(false);
        signOnWindow_->setStatus(tr("Signed off."));
        signOnWindow_->show();
    });
    connect(w, &BuddyListWindow::quitRequested, this, &Messenger::quitRequested);
}

ImWindow* Messenger::imWindow(const QString& key) const {
    return imWindows_.value(key);
}

ChatRoomWindow* Messenger::roomWindow(const QString& key) const {
    return roomWindows_.value(key);
}

ProfileViewer* Messenger::lastProfileViewer() const {
    return lastProfileViewer_;
}

bool Messenger::isBlocked(const QString& wireName) const {
    return std::any_of(blocked_.begin(), blocked_.end(), [&](const QString& b) {
        return normalizedName(b) == normalizedName(wireName);
    });
}

bool Messenger::requireSignedOn() {
    if (connection_->state() == ConnectionManager::State::SignedOn)
        return true;
    showProblem(tr("You are not signed on: %1.").arg(connection_->statusText()));
    return false;
}

void Messenger::showProblem(const QString& why) {
    buddyListWindow_->showNote(why);
}

void Messenger::showConnectionState() {
    using State = ConnectionManager::State;
    const State state = connection_->state();
    if (state == State::Waiting)
        countdown_.start();
    else
        countdown_.stop();
    buddyListWindow_->setConnectionStatus(connection_->statusText(), state == State::Waiting);
    if (state == State::Connecting && !buddyListWindow_->isVisible())
        signOnWindow_->setStatus(connection_->statusText());
}

void Messenger::onControlEvent(int eventNumber, const QVariantList& args) {
    buddies_.handleEvent(eventNumber, args);
    conversations_.handleEvent(eventNumber, args);
    const auto text = [&](int i) { return args.value(i).toString(); };
    switch (static_cast<EventNumber>(eventNumber)) {
        case EventNumber::LoggedIn:
            onSignedOn(args);
            break;
        case EventNumber::InstantMessage:
            openIm(text(0), false);
            answerWhileAway(text(0), args.value(2).toBool());
            raiseAttention(ConversationStore::imKey(text(0)));
            break;
        case EventNumber::ChatMessage:
            if (const Conversation* c = conversations_.roomById(args.value(0).toInt());
                c && normalizedName(text(1)) != normalizedName(connection_->formattedName()))
                raiseAttention(c->key);
            break;
        case EventNumber::JoinedChat:
            openRoom(ConversationStore::roomKey(text(0)));
            break;
        case EventNumber::ChatInvite:
            invitations_.add(text(0), args.value(1).toInt(), text(2), text(3));
            break;
        case EventNumber::BuddyBlocked:
            if (!isBlocked(text(0)))
                blocked_.append(text(0));
            break;
        case EventNumber::PrivateBuddyAdded:
            if (!permitted_.contains(text(0), Qt::CaseInsensitive))
                permitted_.append(text(0));
            break;
        case EventNumber::PrivateBuddyRemoved:
            permitted_.removeIf(
                [&](const QString& p) { return normalizedName(p) == normalizedName(text(0)); });
            break;
        case EventNumber::BuddyUnblocked:
            blocked_.removeIf(
                [&](const QString& b) { return normalizedName(b) == normalizedName(text(0)); });
            break;
        case EventNumber::UserProfile:
            while (!pendingProfiles_.isEmpty()) {
                QPointer<ProfileViewer> viewer = pendingProfiles_.dequeue();
                if (viewer) {
                    viewer->fetch(fromWire(text(0)), connection_->account().host,
                                  connection_->account().port);
                    break;
                }
            }
            break;
        case EventNumber::Error:
            if (answerError(args.value(0).toInt(), text(1))) {
                errorAnswered_ = true;
                break;
            }
            // A profile asked for of someone the server cannot show ends in an error.
            for (const auto& viewer : std::as_const(pendingProfiles_)) {
                if (viewer &&
                    normalizedName(text(1)).contains(viewer->property("who").toString())) {
                    viewer->fail(shownText(text(1)));
                    pendingProfiles_.removeOne(viewer);
                    break;
                }
            }
            break;
        case EventNumber::PasswordChanged: {
            const auto it = std::find_if(pending_.begin(), pending_.end(), [](const Pending& p) {
                return p.what == Pending::What::Password;
            });
            if (it != pending_.end()) {
                const Account& a = connection_->account();
                if (credentials_.remembered().remember)
                    credentials_.remember(QStringLiteral("%1:%2").arg(a.host).arg(a.port), a.name,
                                          it->subject, true);
                pending_.erase(it);
            }
            showProblem(tr("Password changed."));
            break;
        }
        case EventNumber::ScreennameFormat:
            // The name as the server now formats it follows the answer to our request.
            if (pending_.removeIf([](const Pending& p) { return p.what == Pending::What::Format; }))
                showProblem(tr("Your screen name now shows as %1.").arg(fromWire(text(0))));
            // The connection takes the new name once this event has returned.
            QTimer::singleShot(0, this, &Messenger::showConnectionState);
            break;
        case EventNumber::Warned: {
            const QString from = shownText(text(1));
            showProblem(
                from.isEmpty()
                    ? tr("You were warned anonymously; your warning level is %1%.").arg(text(0))
                    : tr("%1 warned you; your warning level is %2%.").arg(from, text(0)));
            break;
        }
        default:
            break;
    }
}

void Messenger::onSignedOn(const QVariantList& loggedIn) {
    conversations_.setOwnName(loggedIn.value(0).toString());
    if (const QString account = normalizedName(loggedIn.value(0).toString());
        account != historyAccount_) {
        historyAccount_ = account;
        history_.open(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                          QStringLiteral("/history"),
                      account);
    }
    blocked_ = loggedIn.value(2).toStringList();
    permitted_ = loggedIn.value(3).toStringList();
    privacyMode_ = loggedIn.value(6).toInt();
    if (privacyMode_ < SettingsDialog::AllowEveryone ||
        privacyMode_ > SettingsDialog::AllowBuddyList)
        privacyMode_ = SettingsDialog::AllowEveryone;
    idleReported_ = false;
    // After the sign-on has finished (toc_init_done goes out when this event returns).
    QTimer::singleShot(0, this, [this] {
        if (connection_->state() != ConnectionManager::State::SignedOn)
            return;
        const QString profile = settings_->value(QStringLiteral("profile/text")).toString();
        if (!profile.isEmpty())
            connection_->call(DispId::SetProfile, {toWire(profile)});
        if (!awayMessage_.isEmpty())
            connection_->call(DispId::SetAwayMessage, {toWire(awayMarkup())});
        const QStringList rooms = std::exchange(roomsToRejoin_, {});
        for (const QString& room : rooms)
            connection_->call(DispId::JoinChat, {room, kRoomExchange});
    });

    signOnWindow_->setBusy(false);
    signOnWindow_->setStatus(QString());
    signOnWindow_->hide();
    buddyListWindow_->show();
    buddyListWindow_->raise();
    buddyListWindow_->activateWindow();
}

ImWindow* Messenger::openIm(const QString& wireName, bool activate) {
    const QString key = ConversationStore::imKey(wireName);
    ImWindow* window = imWindows_.value(key);
    if (!window) {
        conversations_.im(wireName);
        window = new ImWindow(&conversations_, key);
        rememberGeometry(window, settings_, QStringLiteral("im"));
        imWindows_.insert(key, window);
        connect(window, &ImWindow::sendRequested, this,
                [this, wireName](const QString& typed, TextStyle style) {
                    sendIm(wireName, typed, style);
                });
        connect(window, &ImWindow::typingStateChanged, this,
                [this, wireName](int state) { sendTyping(wireName, state); });
        connect(window, &ImWindow::profileRequested, this,
                [this, wireName] { requestProfile(wireName); });
    }
    if (activate || !window->isVisible()) {
        window->show();
        if (activate) {
            window->raise();
            window->activateWindow();
        }
    }
    return window;
}

void Messenger::sendIm(const QString& wireName, const QString& typed, TextStyle style) {
    const QString key = ConversationStore::imKey(wireName);
    if (connection_->state() != ConnectionManager::State::SignedOn) {
        conversations_.addNotice(
            key, tr("Not sent (you are not signed on): %1").arg(typed.toHtmlEscaped()));
        return;
    }
    const QStringList parts =
        formattedParts(typed, style, [&](QByteArrayView body, std::size_t reserved) {
            return lantry::splitForIm(body, wireName.toLatin1(), false, reserved);
        });
    if (parts.isEmpty()) {
        showProblem(
            tr("The screen name %1 is too long to send anything to.").arg(fromWire(wireName)));
        return;
    }
    for (const QString& part : parts)
        connection_->sendIm(wireName, part);
    const QString markup = typedMarkup(typed, style);
    ChatLine line{ChatLine::Kind::Outgoing,
                  QDateTime::currentDateTime(),
                  connection_->formattedName(),
                  renderMarkup(markup),
                  markup,
                  0};
    // Behind a queue of held commands every frame waits, this message's last part too.
    if (const int ahead = connection_->heldCommands(); ahead > 0)
        conversations_.addWaiting(key, WaitingLine{std::move(line), false, typed, ahead});
    else
        conversations_.addLine(key, std::move(line));
    if (parts.size() > 1)
        conversations_.addNotice(key,
                                 tr("Sent in %1 parts (the message was long).").arg(parts.size()));
}

void Messenger::sendTyping(const QString& wireName, int state) {
    // The control has no member for typing notices; SendPacket carries the command. Only names
    // that need no quoting go, so the line cannot be bent.
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9@._-]{1,64}$"));
    const QString name = normalizedName(wireName);
    if (connection_->state() != ConnectionManager::State::SignedOn || !plain.match(name).hasMatch())
        return;
    connection_->call(DispId::SendPacket,
                      {2, QStringLiteral("toc2_client_event %1 %2").arg(name).arg(state)});
}

void Messenger::answerWhileAway(const QString& wireName, bool wasAutomatic) {
    if (awayMessage_.isEmpty() || wasAutomatic)
        return;
    QElapsedTimer& last = lastAutoReply_[normalizedName(wireName)];
    if (last.isValid() && last.elapsed() < qint64(kAutoReplyMinutes) * 60 * 1000)
        return;
    last.start();
    const QString markup = awayMarkup();
    connection_->sendIm(wireName, markup, true);
    conversations_.addLine(ConversationStore::imKey(wireName),
                           ChatLine{ChatLine::Kind::AutoReply, QDateTime::currentDateTime(),
                                    connection_->formattedName(), renderMarkup(markup), markup, 0});
}

void Messenger::requestProfile(const QString& wireName) {
    if (!requireSignedOn())
        return;
    auto* viewer = new ProfileViewer(fromWire(wireName));
    profileViewers_.append(viewer);
    viewer->setProperty("who", normalizedName(wireName));
    rememberGeometry(viewer, settings_, QStringLiteral("profile"));
    lastProfileViewer_ = viewer;
    pendingProfiles_.enqueue(viewer);
    viewer->show();
    connection_->call(DispId::GetProfile, {wireName});
}

void Messenger::openRoom(const QString& key) {
    ChatRoomWindow* window = roomWindows_.value(key);
    if (!window) {
        window = new ChatRoomWindow(&conversations_, key);
        rememberGeometry(window, settings_, QStringLiteral("room"));
        roomWindows_.insert(key, window);
        // The joined room, or null. Its name goes along: room 0 is found by name.
        const auto joined = [this, key]() -> const Conversation* {
            const Conversation* c = conversations_.find(key);
            return c && c->joined ? c : nullptr;
        };
        connect(window, &ChatRoomWindow::sendRequested, this,
                [this, joined, key](const QString& typed, TextStyle style) {
                    const Conversation* c = joined();
                    if (!c || !requireSignedOn())
                        return;
                    const QString room = c->wireName;
                    const int chatId = c->chatId;
                    const QStringList parts = formattedParts(
                        typed, style, [chatId](QByteArrayView body, std::size_t reserved) {
                            return lantry::splitForChat(body, chatId, reserved);
                        });
                    for (const QString& part : parts)
                        connection_->sendChat(room, chatId, part);
                    if (const int ahead = connection_->heldCommands();
                        !parts.isEmpty() && ahead > 0)
                        conversations_.addWaiting(key, WaitingLine{{}, true, typed, ahead});
                });
        connect(window, &ChatRoomWindow::inviteRequested, this,
                [this, joined](const QString& names, const QString& message) {
                    const Conversation* c = joined();
                    if (!c || !requireSignedOn())
                        return;
                    for (const QString& name : names.split(u',', Qt::SkipEmptyParts)) {
                        connection_->call(DispId::InviteUsers, {c->wireName, toWire(message),
                                                                toWire(name.trimmed()), c->chatId});
                    }
                });
        connect(window, &ChatRoomWindow::leaveRequested, this, [this, joined] {
            const Conversation* c = joined();
            if (c && connection_->state() == ConnectionManager::State::SignedOn)
                connection_->call(DispId::LeaveChat, {c->wireName, c->chatId});
        });
        connect(window, &ChatRoomWindow::rejoinRequested, this, [this, key] {
            if (const Conversation* c = conversations_.find(key))
                joinRoom(c->wireName);
        });
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void Messenger::joinRoom(const QString& wireRoomName) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::JoinChat, {wireRoomName, kRoomExchange});
}

HistoryWindow* Messenger::openHistory() {
    if (!historyWindow_) {
        historyWindow_ = new HistoryWindow(&history_);
        rememberGeometry(historyWindow_, settings_, QStringLiteral("history"));
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
    return historyWindow_;
}

void Messenger::setLogging(bool on) {
    settings_->setValue(QStringLiteral("history/logging"), on);
    history_.setLogging(on);
}

void Messenger::setAttention(bool notify, bool urgent) {
    settings_->setValue(QStringLiteral("notify/desktop"), notify);
    settings_->setValue(QStringLiteral("notify/urgent"), urgent);
}

void Messenger::raiseAttention(const QString& key) {
    QWidget* window = imWindows_.value(key);
    if (!window)
        window = roomWindows_.value(key);
    const Conversation* c = conversations_.find(key);
    if (!c || c->transcript->rowCount() == 0 || (window && window->isActiveWindow()))
        return;
    const bool urgent = settings_->value(QStringLiteral("notify/urgent"), true).toBool();
    if (urgent && window)
        QApplication::alert(window);
    Notifier::Via via = Notifier::Via::Nowhere;
    if (settings_->value(QStringLiteral("notify/desktop"), true).toBool()) {
        const ChatLine& line = c->transcript->lines().constLast();
        const QString title = c->type == Conversation::Type::Room
                                  ? tr("%1 in %2").arg(shownText(line.sender), c->title)
                                  : tr("Message from %1").arg(shownText(line.sender));
        via = notifier_->notify(title, QTextDocumentFragment::fromHtml(line.html).toPlainText());
    }
    emit attentionRaised(key, via, urgent && window);
}

void Messenger::showUnread() {
    for (const QString& key : conversations_.keys()) {
        const Conversation* c = conversations_.find(key);
        if (c->type == Conversation::Type::Im)
            buddies_.setUnread(c->wireName, c->unread);
    }
}

bool Messenger::answerError(int code, const QString& sentence) {
    // A request the server has not refused within this time was taken.
    constexpr qint64 kAnswerMs = 60 * 1000;
    pending_.removeIf([](const Pending& p) { return p.since.elapsed() > kAnswerMs; });
    const auto take = [&](Pending::What what) -> std::optional<Pending> {
        const auto it = std::find_if(pending_.begin(), pending_.end(),
                                     [&](const Pending& p) { return p.what == what; });
        if (it == pending_.end())
            return std::nullopt;
        Pending p = *it;
        pending_.erase(it);
        return p;
    };
    if (code == 902) {
        if (const auto p = take(Pending::What::Warning)) {
            showProblem(tr("Not warned: the server refused to warn %1 (%2).")
                            .arg(fromWire(p->subject), shownText(sentence)));
            return true;
        }
    }
    if (code == 980 || code == 911) {
        if (take(Pending::What::Password)) {
            showProblem(tr("The password was not changed: the old password was wrong."));
            return true;
        }
    }
    if (code == 911 || code == 913) {
        if (const auto p = take(Pending::What::Format)) {
            showProblem(tr("Your screen name was not changed to %1 (%2).")
                            .arg(p->subject, shownText(sentence)));
            return true;
        }
    }
    return false;
}

void Messenger::warn(const QString& wireName, bool anonymous) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::WarnUser, {wireName, anonymous});
    QElapsedTimer since;
    since.start();
    pending_.append(Pending{Pending::What::Warning, wireName, since});
    showProblem(anonymous ? tr("Anonymous warning sent for %1.").arg(fromWire(wireName))
                          : tr("Warning sent for %1.").arg(fromWire(wireName)));
}

void Messenger::askToWarn(const QString& wireName) {
    QMessageBox box(QMessageBox::Question, tr("Warn %1").arg(shownText(wireName)),
                    tr("Warn %1?\n\nA warning raises their warning level. The higher it is, the "
                       "more slowly the server lets them send, and at 100% they are signed "
                       "off. A warning cannot be taken back; it wears off over time. An "
                       "anonymous warning counts for less but does not tell them who "
                       "sent it.")
                        .arg(shownText(wireName)),
                    QMessageBox::Cancel, buddyListWindow_);
    box.setTextFormat(Qt::PlainText);
    QPushButton* warnButton = box.addButton(tr("&Warn"), QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Cancel);
    auto* anonymous = new QCheckBox(tr("Warn &anonymously"), &box);
    box.setCheckBox(anonymous);
    box.exec();
    if (box.clickedButton() == warnButton)
        warn(wireName, anonymous->isChecked());
}

void Messenger::changePassword(const QString& oldPassword, const QString& newPassword) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::ChangePassword, {oldPassword, newPassword});
    QElapsedTimer since;
    since.start();
    pending_.append(Pending{Pending::What::Password, newPassword, since});
}

void Messenger::formatScreenName(const QString& typed) {
    if (!requireSignedOn())
        return;
    const QString wire = toWire(typed);
    if (normalizedName(wire) != normalizedName(connection_->formattedName())) {
        showProblem(tr("Only capitals and blanks can change: %1 is another name.").arg(typed));
        return;
    }
    connection_->call(DispId::FormatUserName, {wire});
    QElapsedTimer since;
    since.start();
    pending_.append(Pending{Pending::What::Format, typed, since});
}

void Messenger::setAwayMessage(const QString& message) {
    awayMessage_ = message;
    lastAutoReply_.clear();
    buddyListWindow_->setAway(!message.isEmpty());
    if (connection_->state() == ConnectionManager::State::SignedOn)
        connection_->call(DispId::SetAwayMessage,
                          {toWire(message.isEmpty() ? message : awayMarkup())});
}

QString Messenger::awayMarkup() const {
    return typedMarkup(awayMessage_, {}).replace(u'\n', QLatin1String("<br>"));
}

void Messenger::setPrivacyMode(int mode) {
    privacyMode_ = mode;
    if (requireSignedOn())
        connection_->call(DispId::SetPrivacy, {mode});
}

void Messenger::block(const QString& wireName) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::BlockUser, {wireName});
    if (!isBlocked(wireName))
        blocked_.append(wireName);
    if (privacyMode_ == SettingsDialog::AllowEveryone) {
        // Under "everyone may contact me" the block list counts for nothing.
        setPrivacyMode(SettingsDialog::BlockBlockList);
        showProblem(
            tr("Blocked %1. Privacy is now: %2.")
                .arg(fromWire(wireName), SettingsDialog::describe(SettingsDialog::BlockBlockList)));
    } else {
        showProblem(tr("Blocked %1.").arg(fromWire(wireName)));
    }
}

void Messenger::permit(const QString& wireName) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::AddPrivateUser, {wireName});
    if (!std::any_of(permitted_.begin(), permitted_.end(), [&](const QString& p) {
            return normalizedName(p) == normalizedName(wireName);
        }))
        permitted_.append(wireName);
}

void Messenger::unpermit(const QString& wireName) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::RemovePrivateUser, {wireName});
    permitted_.removeIf(
        [&](const QString& p) { return normalizedName(p) == normalizedName(wireName); });
}

void Messenger::unblock(const QString& wireName) {
    if (!requireSignedOn())
        return;
    connection_->call(DispId::UnblockUser, {wireName});
    blocked_.removeIf(
        [&](const QString& b) { return normalizedName(b) == normalizedName(wireName); });
    showProblem(tr("Unblocked %1.").arg(fromWire(wireName)));
}

bool Messenger::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            sinceInput_.restart();
            if (idleReported_) {
                idleReported_ = false;
                if (connection_->state() == ConnectionManager::State::SignedOn)
                    connection_->call(DispId::SetIdleTime, {0});
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void Messenger::checkIdle() {
    if (idleReported_ || connection_->state() != ConnectionManager::State::SignedOn ||
        sinceInput_.elapsed() < qint64(kIdleMinutes) * 60 * 1000)
        return;
    idleReported_ = true;
    connection_->call(DispId::SetIdleTime, {int(sinceInput_.elapsed() / 60000)});
}

void Messenger::editAway() {
    AwayDialog dialog(awayMessage_, buddyListWindow_);
    if (dialog.exec() == QDialog::Accepted && !dialog.message().isEmpty())
        setAwayMessage(dialog.message());
}

void Messenger::editProfile() {
    ProfileEditor editor(settings_->value(QStringLiteral("profile/text")).toString(),
                         buddyListWindow_);
    if (editor.exec() != QDialog::Accepted)
        return;
    settings_->setValue(QStringLiteral("profile/text"), editor.profile());
    if (requireSignedOn())
        connection_->call(DispId::SetProfile, {toWire(editor.profile())});
}

void Messenger::editSettings() {
    const auto shown = [](const QStringList& wire) {
        QStringList out;
        for (const QString& name : wire)
            out.append(fromWire(name));
        return out;
    };
    SettingsDialog dialog(privacyMode_, shown(permitted_), shown(blocked_), history_.logging(),
                          buddyListWindow_);
    dialog.setAttention(settings_->value(QStringLiteral("notify/desktop"), true).toBool(),
                        settings_->value(QStringLiteral("notify/urgent"), true).toBool());
    connect(&dialog, &SettingsDialog::clearHistoryRequested, &conversations_,
            &ConversationStore::clearHistory);
    if (dialog.exec() != QDialog::Accepted)
        return;
    setLogging(dialog.logging());
    // The lists as edited, against the lists held: only what changed goes to the server.
    const auto changes = [](const QStringList held, const QStringList& typed,
                            const std::function<void(const QString&)>& add,
                            const std::function<void(const QString&)>& remove) {
        const auto has = [](const QStringList& list, const QString& wire) {
            return std::any_of(list.begin(), list.end(), [&](const QString& n) {
                return normalizedName(n) == normalizedName(wire);
            });
        };
        QStringList wanted;
        for (const QString& name : typed)
            wanted.append(toWire(name));
        for (const QString& name : held) {
            if (!has(wanted, name))
                remove(name);
        }
        for (const QString& name : wanted) {
            if (!has(held, name))
                add(name);
        }
    };
    changes(
        permitted_, dialog.permitted(), [this](const QString& n) { permit(n); },
        [this](const QString& n) { unpermit(n); });
    changes(
        blocked_, dialog.blocked(), [this](const QString& n) { block(n); },
        [this](const QString& n) { unblock(n); });
    setAttention(dialog.notifies(), dialog.marksUrgent());
    if (dialog.privacyMode() != privacyMode_)
        setPrivacyMode(dialog.privacyMode());
}

}  // namespace messenger

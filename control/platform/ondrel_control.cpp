// The control's face and its events: the logo with its size rule, and the engine's events
// delivered by number to the connected handlers.
#include "ondrel_control.h"

#include <QLabel>
#include <QPointer>
#include <QResizeEvent>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "conversions.h"
#include "ondrel/qt_socket.h"

namespace lantry {

namespace {

int liveCount = 0;

QString text(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QStringList list(const Collection& items) {
    QStringList out;
    out.reserve(static_cast<qsizetype>(items.size()));
    for (const auto& item : items)
        out.append(text(item));
    return out;
}

QVariant int16(std::int16_t value) {
    return QVariant::fromValue<short>(value);
}

}  // namespace

const std::vector<EventInfo>& eventTable() {
    using E = EventNumber;
    constexpr auto n = [](E number) { return static_cast<int>(number); };
    static const std::vector<EventInfo> table = {
        {n(E::JoinedChat), "JoinedChat", {"strChatName", "lngChatID"}},
        {n(E::ChatMessage), "ChatMessage", {"lngChatID", "strUserName", "strMessage"}},
        {n(E::ChatInvite),
         "ChatInvite",
         {"strChatName", "lngChatID", "strFromUser", "strInviteMessage"}},
        {n(E::LeftChat), "LeftChat", {"lngChatID"}},
        {n(E::ChatUserUpdate), "ChatUserUpdate", {"strUserName", "blnInside", "lngChatID"}},
        {n(E::BuddyUpdate),
         "BuddyUpdate",
         {"strBuddy", "blnOnline", "intWarningLevel", "lngOnlineTime", "lngIdleTime",
          "strUserClass"}},
        {n(E::AddBuddy), "AddBuddy", {"strGroup", "strBuddy"}},
        {n(E::BuddyCapabilities), "BuddyCapabilities", {"strUserName", "strCaps"}},
        {n(E::BuddyBart), "BuddyBart", {"strUserName", "strBart"}},
        {n(E::BuddyAdded), "BuddyAdded", {"strGroup", "strBuddy", "strAlias"}},
        {n(E::GroupAdded), "GroupAdded", {"strGroup"}},
        {n(E::PrivateBuddyAdded), "PrivateBuddyAdded", {"strBuddy"}},
        {n(E::BuddyBlocked), "BuddyBlocked", {"strBuddy"}},
        {n(E::BuddyRemoved), "BuddyRemoved", {"strGroup", "strBuddy"}},
        {n(E::GroupRemoved), "GroupRemoved", {"strGroup"}},
        {n(E::PrivateBuddyRemoved), "PrivateBuddyRemoved", {"strBuddy"}},
        {n(E::BuddyUnblocked), "BuddyUnblocked", {"strBuddy"}},
        {n(E::LoggedIn),
         "LoggedIn",
         {"strUserName", "BuddyList", "BlockList", "PrivateList", "MiscData", "strPreferences",
          "PrivacyMode"}},
        {n(E::LoggedOut), "LoggedOut", {"strUserName"}},
        {n(E::ScreennameFormat), "ScreennameFormat", {"strFormattedSN"}},
        {n(E::InstantMessage),
         "InstantMessage",
         {"strUserName", "strMessage", "blnAutoResponse", "strUserClass"}},
        {n(E::UserProfile), "UserProfile", {"strURL"}},
        {n(E::Error), "Error", {"intErrorCode", "strError"}},
        {n(E::Warned), "Warned", {"intWarningLevel", "strFromUser"}},
        {n(E::TypingStatus), "TypingStatus", {"strUserName", "intTypingStatus"}},
        {n(E::WinsockError), "WinsockError", {"strError"}},
        {n(E::RendevousRequest),
         "RendevousRequest",
         {"strUserName", "strUUID", "strCookie", "strRendevousIP", "strProposerIP", "strVerifiedIP",
          "lngPort"}},
        {n(E::IncomingPacket), "IncomingPacket", {"strPacket"}},
        {n(E::PasswordChanged), "PasswordChanged", {}},
        {n(E::ScreenNameFormatted), "ScreenNameFormatted", {}},
    };
    return table;
}

OndrelControl::OndrelControl(QWidget* parent)
    : OndrelControl(std::make_unique<QtSocket>(), parent) {
}

OndrelControl::OndrelControl(std::unique_ptr<Socket> sock, QWidget* parent)
    : QWidget(parent),
      imgSockLogo_(new QLabel(this)),
      engine_(std::move(sock), static_cast<__Ondrel*>(this)) {
    ++liveCount;
    setObjectName(QStringLiteral("Ondrel"));
    imgSockLogo_->setObjectName(QStringLiteral("imgSockLogo"));
    imgSockLogo_->setPixmap(QPixmap(QStringLiteral(":/ondrel/logo.bmp")));
    imgSockLogo_->setGeometry(QRect(QPoint(0, 0), imgSockLogo_->pixmap().size()));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    snapToLogo();
}

OndrelControl::~OndrelControl() {
    --liveCount;
}

int OndrelControl::liveInstances() {
    return liveCount;
}

QSize OndrelControl::sizeHint() const {
    return imgSockLogo_->size();
}

void OndrelControl::snapToLogo() {
    // Fixed limits, so that layouts never try another size, and an explicit resize, which
    // the limits alone do not cause from inside a resize event.
    setFixedSize(imgSockLogo_->size());
}

void OndrelControl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size() != imgSockLogo_->size())
        snapToLogo();
}

int OndrelControl::connectEvents(EventHandler handler) {
    if (!handler)
        return 0;
    const int cookie = nextCookie_++;
    connections_.push_back({cookie, std::move(handler)});
    return cookie;
}

bool OndrelControl::disconnectEvents(int cookie) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->cookie == cookie) {
            connections_.erase(it);
            return true;
        }
    }
    return false;
}

QtSocket* OndrelControl::realSocket() {
    return dynamic_cast<QtSocket*>(&engine_.socket());
}

void OndrelControl::setPacing(bool on) {
    if (auto* real = realSocket())
        real->setPacing(on);
}

int OndrelControl::heldCommands() const {
    const auto* real = dynamic_cast<const QtSocket*>(&engine_.socket());
    return real ? real->heldCommands() : 0;
}

void OndrelControl::setHeldCommandsHandler(std::function<void(int sent, int dropped)> handler) {
    if (auto* real = realSocket())
        real->setHeldHandler(std::move(handler));
}

void OndrelControl::closeConnection(std::function<void()> closed) {
    engine_.socket().Close();
    if (auto* real = realSocket())
        real->whenFlushed(std::move(closed));
    else
        QTimer::singleShot(0, this, std::move(closed));
}

bool OndrelControl::fire(EventNumber number, QVariantList& args) {
    QPointer<QWidget> self(this);
    std::vector<int> cookies;
    cookies.reserve(connections_.size());
    for (const auto& c : connections_)
        cookies.push_back(c.cookie);
    for (int cookie : cookies) {
        if (!self)
            return false;
        // A handler disconnected by an earlier one in this round hears nothing more.
        auto it = std::find_if(connections_.begin(), connections_.end(),
                               [cookie](const Connection& c) { return c.cookie == cookie; });
        if (it == connections_.end())
            continue;
        // A copy: the handler may disconnect itself and so destroy the stored one.
        EventHandler handler = it->handler;
        handler(static_cast<int>(number), args);
    }
    return !self.isNull();
}

void OndrelControl::JoinedChat(std::string& strChatName, std::int32_t& lngChatID) {
    QVariantList args{text(strChatName), lngChatID};
    if (!fire(EventNumber::JoinedChat, args))
        return;
    // lngChatID is LastChatID itself: what the handlers left there becomes the property.
    qint64 value = 0;
    QString why;
    if (toInteger(args.value(1), std::numeric_limits<std::int32_t>::min(),
                  std::numeric_limits<std::int32_t>::max(), value, why) == Conversion::Ok)
        lngChatID = static_cast<std::int32_t>(value);
}

void OndrelControl::ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                                std::string& strMessage) {
    QVariantList args{lngChatID, text(strUserName), text(strMessage)};
    fire(EventNumber::ChatMessage, args);
}

void OndrelControl::ChatInvite(std::string& strChatName, std::int32_t& lngChatID,
                               std::string& strFromUser, std::string& strInviteMessage) {
    QVariantList args{text(strChatName), lngChatID, text(strFromUser), text(strInviteMessage)};
    fire(EventNumber::ChatInvite, args);
}

void OndrelControl::LeftChat(std::int32_t& lngChatID) {
    QVariantList args{lngChatID};
    fire(EventNumber::LeftChat, args);
}

void OndrelControl::ChatUserUpdate(std::string strUserName, bool blnInside,
                                   std::int32_t lngChatID) {
    QVariantList args{text(strUserName), blnInside, lngChatID};
    fire(EventNumber::ChatUserUpdate, args);
}

void OndrelControl::BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                                std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                                std::string strUserClass) {
    QVariantList args{text(strBuddy), blnOnline,   int16(intWarningLevel),
                      lngOnlineTime,  lngIdleTime, text(strUserClass)};
    fire(EventNumber::BuddyUpdate, args);
}

void OndrelControl::AddBuddy(std::string& strGroup, std::string& strBuddy) {
    QVariantList args{text(strGroup), text(strBuddy)};
    fire(EventNumber::AddBuddy, args);
}

void OndrelControl::BuddyCapabilities(std::string strUserName, std::string strCaps) {
    QVariantList args{text(strUserName), text(strCaps)};
    fire(EventNumber::BuddyCapabilities, args);
}

void OndrelControl::BuddyBart(std::string strUserName, std::string strBart) {
    QVariantList args{text(strUserName), text(strBart)};
    fire(EventNumber::BuddyBart, args);
}

void OndrelControl::BuddyAdded(std::string& strGroup, std::string& strBuddy,
                               std::string& strAlias) {
    QVariantList args{text(strGroup), text(strBuddy), text(strAlias)};
    fire(EventNumber::BuddyAdded, args);
}

void OndrelControl::GroupAdded(std::string& strGroup) {
    QVariantList args{text(strGroup)};
    fire(EventNumber::GroupAdded, args);
}

void OndrelControl::PrivateBuddyAdded(std::string& strBuddy) {
    QVariantList args{text(strBuddy)};
    fire(EventNumber::PrivateBuddyAdded, args);
}

void OndrelControl::BuddyBlocked(std::string& strBuddy) {
    QVariantList args{text(strBuddy)};
    fire(EventNumber::BuddyBlocked, args);
}

void OndrelControl::BuddyRemoved(std::string& strGroup, std::string& strBuddy) {
    QVariantList args{text(strGroup), text(strBuddy)};
    fire(EventNumber::BuddyRemoved, args);
}

void OndrelControl::GroupRemoved(std::string& strGroup) {
    QVariantList args{text(strGroup)};
    fire(EventNumber::GroupRemoved, args);
}

void OndrelControl::PrivateBuddyRemoved(std::string& strBuddy) {
    QVariantList args{text(strBuddy)};
    fire(EventNumber::PrivateBuddyRemoved, args);
}

void OndrelControl::BuddyUnblocked(std::string& strBuddy) {
    QVariantList args{text(strBuddy)};
    fire(EventNumber::BuddyUnblocked, args);
}

void OndrelControl::LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                             Collection& PrivateList, Collection& MiscData,
                             std::string strPreferences, std::int16_t PrivacyMode) {
    QVariantList args{text(strUserName), list(BuddyList),      list(BlockList),   list(PrivateList),
                      list(MiscData),    text(strPreferences), int16(PrivacyMode)};
    fire(EventNumber::LoggedIn, args);
}

void OndrelControl::LoggedOut(std::string strUserName) {
    QVariantList args{text(strUserName)};
    fire(EventNumber::LoggedOut, args);
}

void OndrelControl::ScreennameFormat(std::string strFormattedSN) {
    QVariantList args{text(strFormattedSN)};
    fire(EventNumber::ScreennameFormat, args);
}

void OndrelControl::InstantMessage(std::string& strUserName, std::string& strMessage,
                                   bool& blnAutoResponse, std::string& strUserClass) {
    QVariantList args{text(strUserName), text(strMessage), blnAutoResponse, text(strUserClass)};
    fire(EventNumber::InstantMessage, args);
}

void OndrelControl::UserProfile(std::string& strURL) {
    QVariantList args{text(strURL)};
    fire(EventNumber::UserProfile, args);
}

void OndrelControl::Error(std::int16_t& intErrorCode, std::string& strError) {
    QVariantList args{int16(intErrorCode), text(strError)};
    fire(EventNumber::Error, args);
}

void OndrelControl::Warned(std::string& intWarningLevel, std::string& strFromUser) {
    QVariantList args{text(intWarningLevel), text(strFromUser)};
    fire(EventNumber::Warned, args);
}

void OndrelControl::TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) {
    QVariantList args{text(strUserName), int16(intTypingStatus)};
    fire(EventNumber::TypingStatus, args);
}

void OndrelControl::WinsockError(std::string& strError) {
    QVariantList args{text(strError)};
    fire(EventNumber::WinsockError, args);
}

void OndrelControl::RendevousRequest(std::string& strUserName, std::string& strUUID,
                                     std::string& strCookie, std::string& strRendevousIP,
                                     std::string& strProposerIP, std::string& strVerifiedIP,
                                     std::int32_t& lngPort) {
    QVariantList args{
        text(strUserName),   text(strUUID),       text(strCookie), text(strRendevousIP),
        text(strProposerIP), text(strVerifiedIP), lngPort};
    fire(EventNumber::RendevousRequest, args);
}

void OndrelControl::IncomingPacket(std::string strPacket) {
    QVariantList args{text(strPacket)};
    fire(EventNumber::IncomingPacket, args);
}

void OndrelControl::PasswordChanged() {
    QVariantList args;
    fire(EventNumber::PasswordChanged, args);
}

void OndrelControl::ScreenNameFormatted() {
    QVariantList args;
    fire(EventNumber::ScreenNameFormatted, args);
}

}  // namespace lantry

// The Ondrel control as the component layer hands it out: the face widget, which owns the
// engine and its socket, answers late-bound calls and turns the engine's events into numbered
// events for the connected handlers. Private to the library and its tests; hosts see only
// lantry::ControlObject.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "ondrel/component.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

class QLabel;

namespace lantry {

class OndrelControl final : public QWidget, public ControlObject, private __Ondrel {
    Q_OBJECT
public:
    // With the real socket (a QtSocket).
    explicit OndrelControl(QWidget* parent = nullptr);
    // With any socket; tests pass a fake one.
    OndrelControl(std::unique_ptr<Socket> sock, QWidget* parent);
    ~OndrelControl() override;

    DispatchId idOfName(const QString& name) const override;
    DispatchResult invoke(DispatchId id, InvokeKind kind, QVariantList& args) override;
    int connectEvents(EventHandler handler) override;
    bool disconnectEvents(int cookie) override;
    void closeConnection(std::function<void()> closed) override;
    void setPacing(bool on) override;
    int heldCommands() const override;
    void setHeldCommandsHandler(std::function<void(int sent, int dropped)> handler) override;
    QWidget* widget() override { return this; }

    QSize sizeHint() const override;

    Ondrel& engine() { return engine_; }

    // Controls of this library alive now (DllCanUnloadNow).
    static int liveInstances();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The real socket, or null when a test gave another.
    QtSocket* realSocket();
    // Size rule: exactly the logo's size.
    void snapToLogo();
    // Delivers one event to every handler connected when it was raised. False when a handler
    // destroyed the control.
    bool fire(EventNumber number, QVariantList& args);

    // __Ondrel: the engine's events, renumbered for the handlers.
    void JoinedChat(std::string& strChatName, std::int32_t& lngChatID) override;
    void ChatMessage(std::int32_t& lngChatID, std::string& strUserName,
                     std::string& strMessage) override;
    void ChatInvite(std::string& strChatName, std::int32_t& lngChatID, std::string& strFromUser,
                    std::string& strInviteMessage) override;
    void LeftChat(std::int32_t& lngChatID) override;
    void ChatUserUpdate(std::string strUserName, bool blnInside, std::int32_t lngChatID) override;
    void BuddyUpdate(std::string strBuddy, bool blnOnline, std::int16_t intWarningLevel,
                     std::int32_t lngOnlineTime, std::int32_t lngIdleTime,
                     std::string strUserClass) override;
    void AddBuddy(std::string& strGroup, std::string& strBuddy) override;
    void BuddyCapabilities(std::string strUserName, std::string strCaps) override;
    void BuddyBart(std::string strUserName, std::string strBart) override;
    void BuddyAdded(std::string& strGroup, std::string& strBuddy, std::string& strAlias) override;
    void GroupAdded(std::string& strGroup) override;
    void PrivateBuddyAdded(std::string& strBuddy) override;
    void BuddyBlocked(std::string& strBuddy) override;
    void BuddyRemoved(std::string& strGroup, std::string& strBuddy) override;
    void GroupRemoved(std::string& strGroup) override;
    void PrivateBuddyRemoved(std::string& strBuddy) override;
    void BuddyUnblocked(std::string& strBuddy) override;
    void LoggedIn(std::string strUserName, Collection& BuddyList, Collection& BlockList,
                  Collection& PrivateList, Collection& MiscData, std::string strPreferences,
                  std::int16_t PrivacyMode) override;
    void LoggedOut(std::string strUserName) override;
    void ScreennameFormat(std::string strFormattedSN) override;
    void InstantMessage(std::string& strUserName, std::string& strMessage, bool& blnAutoResponse,
                        std::string& strUserClass) override;
    void UserProfile(std::string& strURL) override;
    void Error(std::int16_t& intErrorCode, std::string& strError) override;
    void Warned(std::string& intWarningLevel, std::string& strFromUser) override;
    void TypingStatus(std::string& strUserName, std::int16_t& intTypingStatus) override;
    void WinsockError(std::string& strError) override;
    void RendevousRequest(std::string& strUserName, std::string& strUUID, std::string& strCookie,
                          std::string& strRendevousIP, std::string& strProposerIP,
                          std::string& strVerifiedIP, std::int32_t& lngPort) override;
    void IncomingPacket(std::string strPacket) override;
    void PasswordChanged() override;
    void ScreenNameFormatted() override;

    struct Connection {
        int cookie;
        EventHandler handler;
    };

    QLabel* imgSockLogo_;
    Ondrel engine_;
    std::vector<Connection> connections_;
    int nextCookie_ = 1;
};

}  // namespace lantry

// Ondrel: a client of the TOC2 text protocol of the AIM instant-messaging service.
//
// One Ondrel owns one TCP connection to a TOC2 server through its child socket `Sock` (any
// implementation of lantry::Socket) and reports everything the server says through the event
// interface __Ondrel (events.h). The host drives it through the methods below; outgoing
// commands go out at once as FLAP data frames, in the order of the calls.
//
// Threading: one thread, the host's. Methods, socket notifications and events all run there;
// there are no locks, queues, timers or threads inside.
//
// Re-entrancy: events are raised synchronously from inside the operation that detects them. A
// handler may call any method, including LogOff and Login, and may destroy the control:
// - after LogOff from a handler, the frames already read are still delivered (their events
//   follow LoggedOut; their commands find the socket closed and send nothing);
// - after Login from a handler, nothing more of the old connection is delivered;
// - after destruction from a handler, the control stops at once and touches nothing.
//
// Errors: the control returns nothing to report success. Server errors and the control's own
// findings arrive as the Error event, socket failures (and a connection closed by the server)
// as WinsockError. LogOff and SetIdleTime throw to the caller (SetIdleTime: std::overflow_error).
// Exceptions thrown by event handlers while the control is handling socket notifications are
// caught and dropped, so one failing handler never breaks the receive path.
//
// Command arguments: screen names are normalised (lower case, blanks removed), free text is
// escaped (a backslash before each of \ $ " ( ) [ ] { }), and every value inside double quotes,
// names and verbatim values included, gets a backslash before \ and " so that no value can end
// its argument early.
//
// Text is bytes: std::string with one character code 0-255 per char, exactly as on the wire.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ondrel/events.h"
#include "ondrel/socket.h"

namespace lantry {

// One slot of the table of joined rooms. Servers number rooms from 0, so a slot is free by
// its own mark, never by its ID; a free slot holds ID 0 and an empty name.
struct ChatEntry {
    std::int32_t lngChatID = 0;
    std::string strChatName;
    bool inUse = false;
};

class Ondrel final : private SocketListener {
public:
    // Port given to LogOff's reset and the usual TOC port.
    static constexpr std::int32_t kDefaultPort = 5190;
    // The authorizer host named in toc2_login when Login's AuthServer is blank.
    static constexpr std::string_view kDefaultAuthServer = "login.oscar.aol.com";
    // Client version text sent at sign-on; the library's version.
    static constexpr std::string_view kClientVersion = "Ondrel 2.0";
    // Number of ChatTable slots.
    static constexpr std::size_t kChatSlots = 11;
    // Largest FLAP payload of a frame that is not a data frame; a longer one is refused with
    // Error code 0.
    static constexpr std::size_t kMaxPayload = 65535;
    // Largest data-frame payload, its trailing NUL included, that TOC2 servers accept: they end
    // the connection on a longer command, so the control refuses it with Error code 0 and keeps
    // the connection. Hosts that split long texts count against this.
    static constexpr std::size_t kMaxCommandPayload = 2048;
    // Configuration text held while CONFIG2 parts arrive; past it the text is dropped and
    // Error code 0 says so. Far above any real configuration.
    static constexpr std::size_t kConfigBufferLimit = 16u << 20;

    // Takes ownership of the socket and becomes its listener. `events` may be null (nothing is
    // raised) and must outlive the control or be replaced first.
    explicit Ondrel(std::unique_ptr<Socket> sock, __Ondrel* events = nullptr);
    // Destroys the socket (closing the connection) and raises nothing. Allowed from inside any
    // event handler.
    ~Ondrel();
    Ondrel(const Ondrel&) = delete;
    Ondrel& operator=(const Ondrel&) = delete;

    void setEventSink(__Ondrel* events) { events_ = events; }
    __Ondrel* eventSink() const { return events_; }
    Socket& socket() { return *Sock; }
    const Socket& socket() const { return *Sock; }

    // --- Sign-on and sign-off ---

    // Clears ChatTable, stores the normalised name, the roasted password, the trimmed servers
    // and the port, closes any connection without LoggedOut and connects to TOCServer:Port.
    // When AuthServer is blank it receives kDefaultAuthServer. Checks nothing; a connection
    // that cannot be made arrives as WinsockError. Bytes of an earlier connection and half a
    // configuration of an earlier sign-on are dropped here. The server's first sign-on frame
    // (type 1) on the new connection is answered with the control's sign-on frame and the
    // toc2_login line; later ones raise IncomingPacket and nothing else.
    void Login(const std::string& UserName, const std::string& Password,
               const std::string& TOCServer, std::int32_t Port, std::string& AuthServer);
    // The same with AuthServer omitted (the default authorizer host).
    void Login(const std::string& UserName, const std::string& Password,
               const std::string& TOCServer, std::int32_t Port);
    // Clears ChatTable, closes the socket, raises LoggedOut(the stored name), then forgets the
    // credentials, sets the port to 5190 and LastChatID to 0. Sends nothing. When a LoggedOut
    // handler calls Login, the new sign-on's state is kept; when it calls LogOff, that call
    // does its work without raising LoggedOut again. Exceptions from the handler reach the
    // caller.
    void LogOff();

    // --- Transport ---

    // Sends one frame of type intChannel (0-255) with payload strData; type 2 gets a trailing
    // NUL. Sends nothing while not connected. Not sent, with Error(0, a sentence naming the
    // size and the limit, or the NUL) raised, the sequence number kept and the connection left
    // up: a type-2 command whose payload with its NUL exceeds kMaxCommandPayload bytes, a
    // payload of any other type over kMaxPayload bytes, and a type-2 command holding a NUL byte
    // (the server would end the command there). Every command method goes through here, so
    // each refuses a line that is too long the same way.
    void SendPacket(std::int16_t intChannel, std::string strData);

    // The ID of the chat room joined last (0 at creation and after LogOff; servers number
    // rooms from 0, so 0 is also a real room's ID).
    std::int32_t LastChatID() const { return lastChatId_; }
    void LastChatID(std::int32_t value) { lastChatId_ = value; }

    // --- Instant messages ---

    // toc_send_im with the normalised recipient and the escaped message; " auto" when
    // AutoResponse.
    void SendIM(const std::string& strUserName, const std::string& strMessage, bool AutoResponse);
    // The command line SendIM sends for these arguments, without the frame's trailing NUL.
    // Hosts that split long messages measure parts with it against kMaxCommandPayload.
    static std::string imCommand(const std::string& strUserName, const std::string& strMessage,
                                 bool AutoResponse);
    // strMessage with every span from a "<" to the first ">" after it removed.
    static std::string RemoveHtml(std::string strMessage);

    // --- Chat rooms ---
    // A non-zero lngChatID selects the room by ID; 0 selects the first joined room whose name
    // equals strChatName exactly (room 0 included, found by its name), and nothing is sent
    // when none does. Free slots match no name, not even an empty one.

    void JoinChat(const std::string& strRoomName, std::int16_t intExchange);
    void LeaveChat(const std::string& strChatName, std::int32_t lngChatID = 0);
    void SendChat(const std::string& strChatName, const std::string& strMessage,
                  std::int32_t lngChatID = 0);
    // The command line SendChat sends into room lngChatID, without the trailing NUL.
    static std::string chatCommand(std::int32_t lngChatID, const std::string& strMessage);
    void InviteUsers(const std::string& strChatName, const std::string& strInviteMessage,
                     const std::string& strUsers, std::int32_t lngChatID = 0);
    void AcceptChatInvite(std::int32_t lngChatID);
    // The name of the first joined room with lngChatID, or "[No Chat Name Found for ID]".
    std::string GetChatName(std::int32_t lngChatID) const;

    // --- Buddy list, privacy, profile and account ---

    void GetProfile(const std::string& strUserName);
    void GetStatus(const std::string& strUserName);
    void SetProfile(const std::string& strProfile);
    void SetAwayMessage(const std::string& strAwayMessage);
    // Sends lngMinutes x 60 seconds; throws std::overflow_error (sending nothing) when the
    // product leaves the signed 32-bit range.
    void SetIdleTime(std::int32_t lngMinutes);
    void SetCapability(const std::string& strCapUUID);
    void FormatUserName(const std::string& strFormatted);
    void ChangePassword(const std::string& strOldPassword, const std::string& strNewPassword);
    void WarnUser(const std::string& strUserName, bool blnAnonymous);
    void AddBuddy(const std::string& strGroup, const std::string& strBuddy);
    void RemoveBuddy(const std::string& strGroup, const std::string& strBuddy);
    void AddGroup(const std::string& strGroup);
    void RemoveGroup(const std::string& strGroup);
    void BlockUser(const std::string& strUserName);
    void UnblockUser(const std::string& strUserName);
    void AddPrivateUser(const std::string& strUserName);
    void RemovePrivateUser(const std::string& strUserName);
    void SetPrivacy(std::int16_t intMode);

private:
    struct CallbackGuard;
    class NotificationScope;

    // SocketListener: the handlers of Sock's notifications.
    void socketConnected() override;
    void socketDataArrival() override;
    void socketError(int number, const std::string& description) override;
    void socketClosed() override;

    // Raises one event through `fire(sink)`. Returns false when the handler destroyed the
    // control or began a new connection; the caller must then return at once.
    template <class Fire>
    bool raise(Fire&& fire);
    // SendPacket's work; returns false when an Error it raised ended the caller's business.
    bool sendPacket(int intChannel, std::string_view strData);
    bool sendLine(std::string_view line) { return sendPacket(2, line); }

    // Delivers the whole frames of strRecvBuffer, and of any read that arrives meanwhile.
    void deliverFrames();
    // Frame handling: transport, then the keyword dispatch and its handlers. `textBuffer`
    // belongs to the data arrival in progress and carries the text of IM and chat messages
    // from frame to frame, so a burst does not allocate one per message; it lives on that
    // call's stack, so a handler that destroys the control leaves it valid.
    bool ProcessPacket(std::string_view frame, std::string& textBuffer);
    bool dispatchMessage(std::string_view message, std::string& textBuffer);
    // Answers the first sign-on frame of a connection; later ones get no answer.
    bool replyToSignOnFrame();
    bool handleNick(std::string_view message);
    bool handleConfig2(std::string_view message);
    bool raiseLoggedIn(std::string_view text);
    bool handleError(std::string_view message);
    bool handleUpdateBuddy2(std::string_view message);
    bool handleBuddyCaps2(std::string_view message);
    bool handleBart2(std::string_view message);
    bool handleInserted2(std::string_view message);
    bool handleDeleted2(std::string_view message);
    bool handleImInEnc2(std::string_view message, std::string& textBuffer);
    bool handleChatJoin(std::string_view message);
    bool handleChatUpdateBuddy(std::string_view message);
    bool handleChatInEnc(std::string_view message, std::string& textBuffer);
    bool handleChatLeft(std::string_view message);
    bool handleChatInvite(std::string_view message);
    bool handleGotoUrl(std::string_view message);
    bool handleEviled(std::string_view message);
    bool handleRvousPropose(std::string_view message);
    bool handleClientEvent2(std::string_view message);

    // Puts the chat ID that LeaveChat, SendChat and InviteUsers address into chatId; false when
    // no joined room matches.
    bool selectChat(const std::string& strChatName, std::int32_t lngChatID,
                    std::int32_t& chatId) const;
    void clearChatTable();
    void loginImpl(const std::string& UserName, const std::string& Password,
                   const std::string& TOCServer, std::int32_t Port, std::string& AuthServer);

    static std::string EncodeWord(std::int32_t value);
    static std::int32_t DecodeWord(std::string_view text);
    static std::string RoastPassword(std::string_view password);
    static std::string EscapeText(std::string_view text);
    static std::string NormalizeName(std::string_view name);

    // The child socket; owned for the control's whole life.
    std::unique_ptr<Socket> Sock;
    __Ondrel* events_ = nullptr;

    std::int32_t lastChatId_ = 0;
    std::int32_t lngServerPort = 0;
    std::string strLoginName;
    std::string strRoastedPassword;
    std::string strAuthServer;
    std::string strTOCServer;
    std::array<ChatEntry, kChatSlots> ChatTable{};
    // Bytes received and not yet delivered as whole frames (between reads: one partial frame).
    std::string strRecvBuffer;
    std::string strConfigBuffer;
    std::int32_t lngFlapSequence = 0;

    // True once this connection's sign-on frame was answered; cleared by Login. A server that
    // repeats its sign-on frame must not get the roasted password again.
    bool signOnAnswered_ = false;
    // Bumped by Login: frames of an older connection still in hand are dropped.
    std::uint64_t connectionGeneration_ = 0;
    // True while LoggedOut is being raised; a LogOff from its handler raises it no second time.
    bool raisingLoggedOut_ = false;
    // True while the data-arrival loop runs; a nested arrival leaves its bytes to that loop.
    bool receiving_ = false;
    // Depth of socket notifications in progress; handler exceptions are contained inside.
    int notificationDepth_ = 0;
    // Innermost guard of the callbacks in progress; the destructor marks them all.
    CallbackGuard* guards_ = nullptr;
};

}  // namespace lantry

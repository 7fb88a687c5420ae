// The component layer of libondrel: how a host that knows nothing of the C++ class finds,
// creates, calls and listens to an Ondrel control.
//
// A host creates the control by its programmatic identifier "Lantry.Ondrel" (createObject),
// places its face (ControlObject::widget) in a window, calls members late-bound by dispatch
// identifier with QVariant arguments (ControlObject::invoke) and receives events by number
// through connected handlers (ControlObject::connectEvents).
//
// Threading: one thread, the thread of the Qt GUI (the control's face is a QWidget). Calls,
// the control's socket notifications and every event handler run there. Events are delivered
// synchronously from inside the operation that detects them, mostly from inside the socket's
// data-arrival notification, and sometimes from inside invoke (LogOff raises LoggedOut before
// invoke returns). A handler may invoke any member and may destroy the control.
//
// Text is bytes. Text arguments are accepted as QString (each character must be U+0000 to
// U+00FF, taken as one byte) or QByteArray (taken as is); text reaches handlers and results as
// QString holding one character per byte (Latin-1), so nothing is lost either way.
#pragma once

#include <QString>
#include <QUuid>
#include <QVariant>
#include <QVariantList>
#include <cstdint>
#include <functional>
#include <vector>

class QWidget;

namespace lantry {

// --- Identities -------------------------------------------------------------------------

// Type library `Lantry`, version 1.0.
inline constexpr QUuid kTypeLibraryId{0xfddf1cb4, 0xf4ca, 0x434c, 0xa6, 0x32, 0xd2,
                                      0x11,       0x56,   0x8b,   0x05, 0x2c};
inline constexpr int kTypeLibraryMajor = 1;
inline constexpr int kTypeLibraryMinor = 0;
// Class `Ondrel`.
inline constexpr QUuid kOndrelClassId{0x6a086ff9, 0x1f7f, 0x48e2, 0xbb, 0x07, 0xe0,
                                      0x31,       0x8b,   0xf0,   0x85, 0x30};
// Default interface `_Ondrel` (methods and the LastChatID property).
inline constexpr QUuid kOndrelInterfaceId{0xea1898d9, 0x7885, 0x4974, 0xbe, 0x4a, 0x87,
                                          0x67,       0xbb,   0x1d,   0xa1, 0x91};
// Event interface `__Ondrel`.
inline constexpr QUuid kOndrelEventsId{0x3a36813a, 0x47f5, 0x4eaa, 0x9f, 0xe1, 0xa4,
                                       0x16,       0xc4,   0x07,   0x65, 0x9a};
// The class-factory interface that DllGetClassObject hands out (the conventional identifier
// of a class factory).
inline constexpr QUuid kClassFactoryId{0x00000001, 0x0000, 0x0000, 0xc0, 0x00, 0x00,
                                       0x00,       0x00,   0x00,   0x00, 0x46};

inline constexpr char kOndrelProgId[] = "Lantry.Ondrel";
// The library's file and product version.
inline constexpr char kLibraryVersion[] = "2.0.0.0";

// --- Dispatch identifiers of _Ondrel ----------------------------------------------------

using DispatchId = std::int32_t;

// Returned by idOfName for a name that is no member.
inline constexpr DispatchId kUnknownDispatchId = -1;

namespace DispId {
inline constexpr DispatchId Login = 0x60030000;
inline constexpr DispatchId LogOff = 0x60030001;
inline constexpr DispatchId SendPacket = 0x60030005;
inline constexpr DispatchId LastChatID = 0x40030006;
inline constexpr DispatchId JoinChat = 0x60030008;
inline constexpr DispatchId LeaveChat = 0x60030009;
inline constexpr DispatchId SendChat = 0x6003000A;
inline constexpr DispatchId GetProfile = 0x6003000B;
inline constexpr DispatchId SendIM = 0x6003000C;
inline constexpr DispatchId ChangePassword = 0x6003000D;
inline constexpr DispatchId FormatUserName = 0x6003000E;
inline constexpr DispatchId SetAwayMessage = 0x6003000F;
inline constexpr DispatchId SetProfile = 0x60030010;
inline constexpr DispatchId GetStatus = 0x60030011;
inline constexpr DispatchId SetIdleTime = 0x60030012;
inline constexpr DispatchId AcceptChatInvite = 0x60030013;
inline constexpr DispatchId InviteUsers = 0x60030014;
inline constexpr DispatchId WarnUser = 0x60030015;
inline constexpr DispatchId AddBuddy = 0x60030016;
inline constexpr DispatchId RemoveBuddy = 0x60030017;
inline constexpr DispatchId AddGroup = 0x60030018;
inline constexpr DispatchId RemoveGroup = 0x60030019;
inline constexpr DispatchId BlockUser = 0x6003001A;
inline constexpr DispatchId UnblockUser = 0x6003001B;
inline constexpr DispatchId AddPrivateUser = 0x6003001C;
inline constexpr DispatchId RemovePrivateUser = 0x6003001D;
inline constexpr DispatchId SetPrivacy = 0x6003001E;
inline constexpr DispatchId SetCapability = 0x6003001F;
inline constexpr DispatchId RemoveHtml = 0x60030025;
inline constexpr DispatchId GetChatName = 0x60030026;
}  // namespace DispId

// Event numbers are lantry::EventNumber in ondrel/events.h (JoinedChat = 1 ... 30).

// --- The boundary as data -----------------------------------------------------------------
//
// Every member of _Ondrel and every event of __Ondrel with its parameters, for hosts that
// build calls and read events by name (a scripting bridge, a generated help text). This is
// the one list of them: invoke and idOfName dispatch by it. The tables live as long as the
// library and may be read from any thread.

enum class ParamType {
    Text,     // text, as "Text is bytes" above says
    Int16,    // a 16-bit integer
    Int32,    // a 32-bit integer
    Boolean,  // the host's boolean (see invoke)
    Variant,  // any value, taken as text (Login's AuthServer)
};

struct ParamInfo {
    const char* name;
    ParamType type;
    // invoke writes the control's value back into the caller's argument.
    bool byRef;
    // May be left out at the end or passed as an invalid QVariant().
    bool optional;
};

struct MemberInfo {
    DispatchId id;
    const char* name;
    // LastChatID: read with no argument, written with one (its one optional parameter).
    bool property;
    std::vector<ParamInfo> params;
};

struct EventInfo {
    // The event's number (lantry::EventNumber), as EventHandler receives it.
    int number;
    const char* name;
    // In declared order, as EventHandler receives the values.
    std::vector<const char*> params;
};

// Members in declared order (by the low word of their dispatch identifiers).
const std::vector<MemberInfo>& memberTable();
// Events in the order of their numbers: eventTable()[n - 1] describes event n.
const std::vector<EventInfo>& eventTable();

// --- Late-bound calls -------------------------------------------------------------------

enum class InvokeKind {
    Method,       // call a method; on LastChatID with no argument it reads the property
    PropertyGet,  // read LastChatID
    PropertyPut,  // write LastChatID (one argument)
};

enum class DispatchError {
    None,
    UnknownMember,       // no member has this dispatch identifier
    WrongInvokeKind,     // e.g. a property put on a method
    WrongArgumentCount,  // a required argument is missing, or there are too many
    TypeMismatch,        // an argument does not convert to its declared type
    Overflow,            // a number outside its declared type's range
    MethodFailed,        // the member ran and failed (LogOff, SetIdleTime's overflow); the
                         // description is the control's own sentence
};

struct DispatchResult {
    DispatchError error = DispatchError::None;
    // Says what went wrong, in words, when error is not None.
    QString description;
    // The argument at fault (0-based), or -1.
    int argument = -1;
    // The result: text for RemoveHtml and GetChatName, int for LastChatID get; invalid else.
    QVariant value;

    bool ok() const { return error == DispatchError::None; }
};

// Receives one event: its number and its arguments in declared order. Text arrives as QString
// (Latin-1), 32-bit numbers as int, 16-bit numbers as short, booleans as bool, the
// collections of LoggedIn as QStringList. The handler may assign to any argument; only
// JoinedChat's lngChatID (argument 1) has an effect: it is LastChatID itself, so the value the
// handlers leave there (converted to 32-bit) becomes the property. Every other argument is a
// temporary that the control discards after the event.
using EventHandler = std::function<void(int eventNumber, QVariantList& args)>;

// One instance of the control, as a host sees it. The object and its face are one object:
// destroying either destroys the control, and with it its connection (no event is raised).
// A host that gives widget() a parent lets Qt own the control; otherwise it deletes it.
class ControlObject {
public:
    virtual ~ControlObject() = default;

    // The dispatch identifier of a method or property of _Ondrel, by name, compared without
    // regard to case ("login", "LASTCHATID"); kUnknownDispatchId for any other name.
    virtual DispatchId idOfName(const QString& name) const = 0;

    // Invokes one member. `args` are the arguments in declared order; an optional parameter
    // may be left out at the end or passed as an invalid QVariant() (LeaveChat, SendChat and
    // InviteUsers then use chat ID 0, Login the default authorizer host). Arguments convert
    // the way such hosts convert: text to numbers ("5190" for a 32-bit Port), numbers to
    // text, a whole-valued double to an integer; booleans are the host's: a number is true
    // exactly when it is -1, a bool as itself, the texts "True" and "False" in any case.
    // After the call every by-reference argument holds the control's value, converted back to
    // the type the caller passed where possible (Login's AuthServer receives the authorizer
    // host when it was blank); by-value arguments are never written. Failures come back as
    // the result's error with a description, never as an exception or a crash; a failed
    // conversion calls nothing.
    virtual DispatchResult invoke(DispatchId id, InvokeKind kind, QVariantList& args) = 0;

    // Convenience for a call with arguments by value: invoke on a copy of `args`.
    DispatchResult call(DispatchId id, QVariantList args = {}) {
        return invoke(id, InvokeKind::Method, args);
    }

    // Connects a handler to the event interface __Ondrel and returns its cookie (never 0).
    // Handlers receive each event in the order they were connected; each sees the arguments
    // as the handlers before it left them. Connecting or disconnecting from inside a handler
    // takes effect from the next event.
    virtual int connectEvents(EventHandler handler) = 0;
    // Disconnects the handler with this cookie; false when there is none.
    virtual bool disconnectEvents(int cookie) = 0;

    // Closes the connection without raising an event, as a host about to exit does, and calls
    // `closed` from the event loop once what was queued has been sent, or after a few seconds
    // at most. The control stays usable; a Login connects again.
    virtual void closeConnection(std::function<void()> closed) = 0;

    // Pacing. Real servers drop IMs, chat messages, invitations, warnings and look-ups sent
    // faster than their rate limit allows (ERROR:903) and then end the connection; the control
    // holds such commands back, in order with everything sent after them, until each can go
    // (QtSocket says how). On by default; off sends everything at once.
    virtual void setPacing(bool on) = 0;
    // Commands held back now (0 while pacing is off).
    virtual int heldCommands() const = 0;
    // Called from the event loop each time held commands leave the queue: `sent` went out,
    // `dropped` were lost with their connection (when the connection ended by itself, its
    // WinsockError, whose sentence gives the number, comes first). Held commands leave in the
    // order they were made, so a host that notes heldCommands() after each call knows which of
    // its messages are still waiting. One handler; a new one replaces the old. It may destroy
    // the control.
    virtual void setHeldCommandsHandler(std::function<void(int sent, int dropped)> handler) = 0;

    // The control's face: a 125 x 37 QWidget showing the logo, which keeps that exact size
    // whatever size a container asks for. It is this same object.
    virtual QWidget* widget() = 0;
};

// --- Class factory and creation ---------------------------------------------------------

// Hands out instances of Ondrel. Owned by the library; it stays valid while the library is
// loaded and is never deleted by the caller.
class ClassFactory {
public:
    // A new control whose face has `parent`, or null when it cannot be made (no
    // QApplication, for instance). The caller owns it as ControlObject says.
    virtual ControlObject* createInstance(QWidget* parent = nullptr) = 0;

protected:
    ~ClassFactory() = default;
};

// Creates a control by programmatic identifier through the registration record: looks up the
// class identity and library file recorded for `progId`, loads that library (QLibrary; it
// stays loaded), asks its DllGetClassObject for the class factory and creates an instance.
// Returns null and, when `error` is given, a description when the identifier is not
// registered, the library cannot be loaded or has no entry point, or the factory refuses.
ControlObject* createObject(const QString& progId, QString* error = nullptr,
                            QWidget* parent = nullptr);

// What a program that ships beside the library and links it does: creates the Ondrel control
// (createObject with kOndrelProgId); when that fails (not registered yet, or the record names a
// library that is gone) registers the library this program is linked with (DllRegisterServer)
// and tries once more, after telling `registered`, when given, why the first try failed. Null,
// with `error`, when both tries fail or the registration does.
ControlObject* createOndrelControl(QString* error = nullptr,
                                   const std::function<void(const QString& why)>& registered = {});

// --- The registration record ------------------------------------------------------------
//
// An INI file written and read with QSettings. Its location is the file named by the
// environment variable ONDREL_REGISTRY when that is set and not empty; otherwise
// $XDG_CONFIG_HOME/Lantry/components.ini (~/.config/Lantry/components.ini when XDG_CONFIG_HOME
// is unset). The variable is read at each use.
//
// DllRegisterServer writes, with {...} the identities above and <library> the absolute path of
// the loaded libondrel file:
//   ProgID/Lantry.Ondrel/CLSID            = {class}
//   CLSID/{class}/Name = Ondrel, ProgID = Lantry.Ondrel, Library = <library>,
//                 TypeLib = {type library}, Version = 2.0.0.0
//   TypeLib/{type library}/Name = Lantry, Version = 1.0, Library = <library>
//   Interface/{_Ondrel}/Name = _Ondrel, TypeLib = {type library}
//   Interface/{__Ondrel}/Name = __Ondrel, TypeLib = {type library}
// DllUnregisterServer removes exactly these groups (the ProgID group only while it still names
// this class) and leaves every other entry of the file alone.

inline constexpr char kRegistryEnvironmentVariable[] = "ONDREL_REGISTRY";

// The path of the registration record in use now.
QString registryFile();

// --- Entry-point results ------------------------------------------------------------------

inline constexpr std::int32_t kResultOk = 0;
inline constexpr std::int32_t kResultFalse = 1;
inline constexpr std::int32_t kResultFail = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kResultPointer = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t kResultNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kResultClassNotAvailable = static_cast<std::int32_t>(0x80040111u);
// The record could not be written (or removed).
inline constexpr std::int32_t kResultRegistryFailed = static_cast<std::int32_t>(0x80040201u);

}  // namespace lantry

// --- Entry points -------------------------------------------------------------------------
//
// Exported with C linkage from libondrel, for QLibrary::resolve or dlsym. Exact signatures:
//
//   int32_t DllRegisterServer(void);
//       Writes the registration record (above). 0 on success; kResultRegistryFailed when the
//       file cannot be written.
//   int32_t DllUnregisterServer(void);
//       Removes the record's entries of this library. 0 on success (also when nothing was
//       registered); kResultRegistryFailed when the file cannot be written.
//   int32_t DllGetClassObject(const char* classId, const char* interfaceId, void** object);
//       classId and interfaceId are GUID texts ("{6a086ff9-...}", braces optional, any case).
//       For the Ondrel class and kClassFactoryId, stores a lantry::ClassFactory* in *object
//       and returns 0. Otherwise stores null and returns kResultClassNotAvailable (another
//       class), kResultNoInterface (another interface) or kResultPointer (a null pointer).
//   int32_t DllCanUnloadNow(void);
//       0 when no control made by this library is alive, 1 while any is.
//
// All four run on the GUI thread; they do not need a QApplication except that creating an
// instance through the factory does.
extern "C" {
std::int32_t DllRegisterServer(void);
std::int32_t DllUnregisterServer(void);
std::int32_t DllGetClassObject(const char* classId, const char* interfaceId, void** object);
std::int32_t DllCanUnloadNow(void);
}

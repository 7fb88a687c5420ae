// The JSON-RPC bridge; see bridge.h.
#include "bridge.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "json_text.h"
#include "ondrel/ondrel.h"

namespace lantry::cli {

namespace {

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kCallFailed = -32000;

std::string errorLine(const std::string& id, int code, const std::string& message) {
    return JsonObjectWriter()
        .add("jsonrpc", std::string("2.0"))
        .addRaw("id", id)
        .addRaw("error",
                JsonObjectWriter().add("code", std::int64_t{code}).add("message", message).finish())
        .finish();
}

std::string resultLine(const std::string& id, const std::string& result) {
    return JsonObjectWriter()
        .add("jsonrpc", std::string("2.0"))
        .addRaw("id", id)
        .addRaw("result", result)
        .finish();
}

// Integers a JSON number (a double) holds exactly.
constexpr std::int64_t kExactLimit = std::int64_t{1} << 53;

std::optional<std::int64_t> integral(const QJsonValue& json, std::int64_t low, std::int64_t high) {
    if (!json.isDouble())
        return std::nullopt;
    const double d = json.toDouble();
    if (std::trunc(d) != d || d < static_cast<double>(low) || d > static_cast<double>(high))
        return std::nullopt;
    return static_cast<std::int64_t>(d);
}

std::optional<QVariant> textValue(const QString& text, TextMode mode, std::string& error) {
    if (auto bytes = bytesFromJson(text, mode, error))
        return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
    return std::nullopt;
}

// One JSON parameter as the component layer's value of its declared type: text as bytes,
// integers as int, booleans as bool. nullopt with `error` completing "parameter NAME ...".
std::optional<QVariant> layerValue(ParamType type, const QJsonValue& json, TextMode mode,
                                   std::string& error) {
    switch (type) {
        case ParamType::Text:
            if (json.isString())
                return textValue(json.toString(), mode, error);
            error = "must be a string";
            return std::nullopt;
        case ParamType::Int16:
        case ParamType::Int32: {
            using Limits16 = std::numeric_limits<std::int16_t>;
            using Limits32 = std::numeric_limits<std::int32_t>;
            const bool wide = type == ParamType::Int32;
            const std::int64_t low = wide ? Limits32::min() : Limits16::min();
            const std::int64_t high = wide ? Limits32::max() : Limits16::max();
            if (auto n = integral(json, low, high))
                return QVariant(static_cast<int>(*n));
            error =
                "must be an integer from " + std::to_string(low) + " to " + std::to_string(high);
            return std::nullopt;
        }
        case ParamType::Boolean:
            if (json.isBool())
                return QVariant(json.toBool());
            // The host's rule: -1 is true, every other number false.
            if (auto n = integral(json, -kExactLimit, kExactLimit))
                return QVariant(*n == -1);
            error = "must be true, false or a number (-1 is true)";
            return std::nullopt;
        case ParamType::Variant:
            if (json.isString())
                return textValue(json.toString(), mode, error);
            if (auto n = integral(json, -kExactLimit, kExactLimit))
                return QVariant(QByteArray::number(static_cast<qlonglong>(*n)));
            error = "must be a string or an integer";
            return std::nullopt;
    }
    error = "has an unknown type";
    return std::nullopt;
}

// A value the control handed back (text as Latin-1 QString or bytes, numbers, booleans, lists
// of text) as JSON.
std::string jsonOf(const QVariant& value, TextMode mode) {
    const auto text = [mode](const QByteArray& bytes) {
        return jsonText(std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size())),
                        mode);
    };
    switch (value.metaType().id()) {
        case QMetaType::QString:
            return text(value.toString().toLatin1());
        case QMetaType::QByteArray:
            return text(value.toByteArray());
        case QMetaType::Bool:
            return value.toBool() ? "true" : "false";
        case QMetaType::QStringList: {
            std::string out = "[";
            for (const QString& item : value.toStringList())
                out.append(out.size() > 1 ? "," : "").append(text(item.toLatin1()));
            return out + ']';
        }
        default:
            return value.isValid() ? std::to_string(value.toLongLong()) : "null";
    }
}

// By-reference Variant parameters are the caller's variables: the result reports what the
// control left in them (Login's AuthServer). A left-out one is passed blank so that the
// control has a variable to write into.
bool reportsBack(const ParamInfo& param) {
    return param.byRef && param.type == ParamType::Variant;
}

// The arguments of `member` from positional or named params, in declared order without the
// optional ones left out at the end; nullopt with `error` set when they do not fit.
std::optional<QVariantList> convertArguments(const MemberInfo& member, const QJsonValue& params,
                                             TextMode mode, std::string& error) {
    const auto& declared = member.params;
    std::vector<QJsonValue> given(declared.size(), QJsonValue(QJsonValue::Undefined));
    if (params.isArray()) {
        const QJsonArray array = params.toArray();
        if (static_cast<std::size_t>(array.size()) > declared.size()) {
            error = std::string(member.name) + " takes at most " + std::to_string(declared.size()) +
                    " parameter" + (declared.size() == 1 ? "" : "s") + ", got " +
                    std::to_string(array.size());
            return std::nullopt;
        }
        for (qsizetype i = 0; i < array.size(); ++i)
            given[static_cast<std::size_t>(i)] = array[i];
    } else if (params.isObject()) {
        const QJsonObject object = params.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            std::size_t i = 0;
            while (i < declared.size() && it.key() != QLatin1String(declared[i].name))
                ++i;
            if (i == declared.size()) {
                error = std::string(member.name) + " has no parameter " +
                        jsonString(QStringView(it.key()));
                return std::nullopt;
            }
            given[i] = it.value();
        }
    } else if (!params.isUndefined()) {
        error = "params must be an array (or an object of named parameters)";
        return std::nullopt;
    }

    QVariantList values;
    for (std::size_t i = 0; i < declared.size(); ++i) {
        const QJsonValue& json = given[i];
        if (json.isUndefined() || json.isNull()) {
            if (!declared[i].optional) {
                error =
                    std::string(member.name) + ": parameter " + declared[i].name + " is missing";
                return std::nullopt;
            }
            values.append(reportsBack(declared[i]) ? QVariant(QByteArray()) : QVariant());
            continue;
        }
        std::string why;
        auto value = layerValue(declared[i].type, json, mode, why);
        if (!value) {
            error = std::string(member.name) + ": parameter " + declared[i].name + " " + why;
            return std::nullopt;
        }
        values.append(std::move(*value));
    }
    while (!values.isEmpty() && !values.constLast().isValid())
        values.removeLast();
    return values;
}

const MemberInfo* findMember(const QString& name) {
    for (const MemberInfo& member : memberTable())
        if (name == QLatin1String(member.name))
            return &member;
    return nullptr;
}

// The response's result: the reported-back parameters as an object, else the member's value.
std::string resultOf(const MemberInfo& member, const QVariantList& args, const QVariant& value,
                     TextMode mode) {
    JsonObjectWriter reported;
    bool any = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const ParamInfo& param = member.params[static_cast<std::size_t>(i)];
        if (reportsBack(param)) {
            reported.addRaw(param.name, jsonOf(args[i], mode));
            any = true;
        }
    }
    return any ? reported.finish() : jsonOf(value, mode);
}

}  // namespace

std::unique_ptr<ControlObject> createControl(std::string& error) {
    QString why;
    if (ControlObject* made = createObject(QLatin1String(kOndrelProgId), &why))
        return std::unique_ptr<ControlObject>(made);
    const QSettings record(registryFile(), QSettings::IniFormat);
    if (record.contains(QStringLiteral("ProgID/%1/CLSID").arg(QLatin1String(kOndrelProgId))))
        std::fprintf(stderr, "ondrel bridge: %s; using the control built into this program\n",
                     qPrintable(why));
    const QByteArray classId = kOndrelClassId.toByteArray();
    const QByteArray factoryId = kClassFactoryId.toByteArray();
    void* factory = nullptr;
    if (DllGetClassObject(classId.constData(), factoryId.constData(), &factory) != kResultOk) {
        error = "the library hands out no class factory for " + classId.toStdString();
        return nullptr;
    }
    std::unique_ptr<ControlObject> control(static_cast<ClassFactory*>(factory)->createInstance());
    if (!control)
        error = "the class factory made no control";
    return control;
}

Bridge::Bridge(std::unique_ptr<ControlObject> control, TextMode mode, QObject* parent)
    : QObject(parent), control_(std::move(control)), mode_(mode) {
    control_->connectEvents(
        [this](int eventNumber, QVariantList& args) { relay(eventNumber, args); });
    connect(&reader_, &LineReader::lineRead, this, [this](const std::string& line) {
        const std::string response = handleRequest(line);
        if (!response.empty())
            writeLine(response);
    });
    connect(&reader_, &LineReader::lineTooLong, this, [] {
        writeLine(errorLine(
            "null", kInvalidRequest,
            "line longer than " + std::to_string(LineReader::kMaxLine) + " bytes, dropped"));
    });
    connect(&reader_, &LineReader::endOfInput, this, &Bridge::finish);
    control_->setHeldCommandsHandler([this](int, int) {
        if (finishing_)
            finish();
    });
}

void Bridge::start() {
    reader_.start();
}

void Bridge::relay(int eventNumber, const QVariantList& args) {
    const auto& events = eventTable();
    if (eventNumber < 1 || static_cast<std::size_t>(eventNumber) > events.size())
        return;
    const EventInfo& info = events[static_cast<std::size_t>(eventNumber) - 1];
    JsonObjectWriter params;
    for (std::size_t i = 0; i < info.params.size() && i < static_cast<std::size_t>(args.size());
         ++i)
        params.addRaw(info.params[i], jsonOf(args[static_cast<qsizetype>(i)], mode_));
    writeLine(JsonObjectWriter()
                  .add("jsonrpc", std::string("2.0"))
                  .add("method", std::string(info.name))
                  .addRaw("params", params.finish())
                  .finish());
}

std::string Bridge::handleRequest(const std::string& line) {
    if (line.find_first_not_of(" \t") == std::string::npos)
        return {};
    QJsonParseError parseError;
    const QByteArray bytes(line.data(), static_cast<qsizetype>(line.size()));
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (doc.isNull()) {
        // A bare scalar is JSON, just not a request; Qt parses only arrays and objects.
        if (!QJsonDocument::fromJson("[" + bytes + "]").isNull())
            return errorLine("null", kInvalidRequest, "a request must be a JSON object");
        return errorLine("null", kParseError,
                         "not JSON: " + parseError.errorString().toStdString() + " at offset " +
                             std::to_string(parseError.offset));
    }
    if (!doc.isObject())
        return errorLine("null", kInvalidRequest,
                         "a request must be a JSON object (batches are not supported)");

    const QJsonObject request = doc.object();
    const QJsonValue idJson = request.value(QLatin1String("id"));
    const bool hasId = !idJson.isUndefined();
    if (hasId && !idJson.isString() && !idJson.isDouble() && !idJson.isNull())
        return errorLine("null", kInvalidRequest, "id must be a string, a number or null");
    // Echoed, such an id would make the answer itself JSON that strict readers refuse.
    if (idJson.isString() && !QStringView(idJson.toString()).isValidUtf16())
        return errorLine("null", kParseError,
                         "the id holds a lone surrogate, which is no character");
    const std::string id = jsonId(idJson);
    // A notification is answered only when it cannot be read as a request at all.
    auto reply = [&](int code, const std::string& message) {
        return hasId ? errorLine(id, code, message) : std::string();
    };

    if (request.value(QLatin1String("jsonrpc")).toString() != QLatin1String("2.0"))
        return errorLine(id, kInvalidRequest, "jsonrpc must be \"2.0\"");
    const QJsonValue method = request.value(QLatin1String("method"));
    if (!method.isString())
        return errorLine(id, kInvalidRequest, "method must be a string");
    const MemberInfo* member = findMember(method.toString());
    if (!member)
        return reply(kMethodNotFound, "no member " + jsonString(QStringView(method.toString())) +
                                          " (see ondrel bridge --help)");

    std::string error;
    auto arguments =
        convertArguments(*member, request.value(QLatin1String("params")), mode_, error);
    if (!arguments)
        return reply(kInvalidParams, error);

    // Only the property is written by a call with an argument; every other call is a method.
    const InvokeKind kind =
        member->property && !arguments->isEmpty() ? InvokeKind::PropertyPut : InvokeKind::Method;
    const DispatchResult called = control_->invoke(member->id, kind, *arguments);
    if (!called.ok())
        return reply(called.error == DispatchError::MethodFailed ? kCallFailed : kInvalidParams,
                     called.description.toStdString());
    return hasId ? resultLine(id, resultOf(*member, *arguments, called.value, mode_))
                 : std::string();
}

void Bridge::finish() {
    finishing_ = true;
    // What the pacer still holds goes out first; the handler comes back as it leaves.
    if (control_->heldCommands() > 0)
        return;
    control_->closeConnection([] { QCoreApplication::exit(0); });
}

namespace {

const char* typeName(ParamType type) {
    switch (type) {
        case ParamType::Text:
            return "text";
        case ParamType::Int16:
            return "int16";
        case ParamType::Int32:
            return "int32";
        case ParamType::Boolean:
            return "bool";
        case ParamType::Variant:
            return "text";
    }
    return "";
}

}  // namespace

std::optional<BridgeOptions> parseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error) {
    BridgeOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string key = arg.substr(0, arg.find('='));
        if (key != "--text" && key != "--pace") {
            error = "unexpected argument \"" + arg + "\"";
            return std::nullopt;
        }
        std::string value;
        if (key != arg) {
            value = arg.substr(key.size() + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = key + (key == "--text" ? " needs a value: utf-8 or bytes"
                                           : " needs a value: on or off");
            return std::nullopt;
        }
        if (key == "--pace") {
            if (value != "on" && value != "off") {
                error = "--pace takes on or off, not \"" + value + "\"";
                return std::nullopt;
            }
            options.pacing = value == "on";
        } else if (value == "utf-8" || value == "utf8") {
            options.text = TextMode::Utf8;
        } else if (value == "bytes") {
            options.text = TextMode::Bytes;
        } else {
            error = "--text takes utf-8 or bytes, not \"" + value + "\"";
            return std::nullopt;
        }
    }
    return options;
}

std::string bridgeHelp() {
    std::string out = R"(Usage: ondrel bridge [--text utf-8|bytes] [--pace on|off]

The Ondrel control as a JSON-RPC 2.0 service: one JSON object per line on stdin, one per line
on stdout, stdout flushed after every line. Events of the control arrive as notifications.

Requests
  {"jsonrpc":"2.0","id":ID,"method":MEMBER,"params":[...]}
  MEMBER is a public member of the control, spelled exactly as below. params are positional
  in declared order (or an object of parameter names); trailing optional parameters, marked
  [..], may be omitted or null. A request without "id" is a notification: it is carried out
  and gets no response.
  LastChatID with no params reads the property; with one param it stores the value.

Text
  --text utf-8  the default. Strings from requests go to the wire as UTF-8. Text from the
                wire that is valid UTF-8 arrives decoded as UTF-8, any other as Latin-1 (one
                character per byte, as older clients send), value by value. A lone surrogate
                escape such as \ud800 is invalid params.
  --text bytes  every character of a string stands for one byte, U+0000 to U+00FF, both ways;
                a character above U+00FF is invalid params. For hosts that need the exact
                bytes.
  Output escapes every character outside 0x20-0x7E as \uXXXX, so stdout is plain ASCII.
  Servers take a command of at most )" +
                      std::to_string(Ondrel::kMaxCommandPayload) +
                      R"( bytes on the wire, escaping and the frame's end
  counted, so what fits depends on the encoding ("\u00e9" is two bytes in UTF-8). A longer
  command is refused with an Error event and not sent; nothing is split.

Pacing
  --pace on     the default. Servers drop IMs, chat messages, invitations, warnings and
                look-ups sent faster than their rate limit (about six at once, then one every
                4 s) with an Error 903, and soon end the connection. The control holds such
                commands back, in order with everything sent after them, until each can go;
                a call still answers at once. If the connection ends first, WinsockError says
                how many were not sent.
  --pace off    send every command the moment it is made, for tools that check frames as
                they are made; the server's limit then applies.

Values
  text    a JSON string, carried as --text says
  int16   a JSON integer from -32768 to 32767
  int32   a JSON integer from -2147483648 to 2147483647
  bool    true or false; a number is taken as the host's boolean: -1 is true, anything else
          false

Responses
  {"jsonrpc":"2.0","id":ID,"result":R}
  R is the member's result (RemoveHtml, GetChatName: text; LastChatID: int32), for Login the
  object {"AuthServer":VALUE} with the authorizer host the call settled on, otherwise null.
  {"jsonrpc":"2.0","id":ID,"error":{"code":CODE,"message":TEXT}}
    -32700  the line is not JSON (also: a string id holding a lone surrogate such as \ud800,
            answered with a null id)
    -32600  not a request object (also: batches, which are not supported)
    -32601  no member of that name
    -32602  wrong parameters (count, type, range, text the --text mode cannot carry)
    -32000  the member failed (SetIdleTime overflow, LogOff's errors); TEXT says why
  A bad line never ends the bridge.

Events
  {"jsonrpc":"2.0","method":EVENT,"params":{NAME:VALUE,...}}
  Parameters in declared order; booleans true/false; collections as arrays of strings.
  Lines come in the order things happen: events raised during a call come before that call's
  response. Calls act at once: a command sent before LoggedIn finds no connection and sends
  nothing, so wait for LoggedIn (or Error / WinsockError) after Login.

End of input
  The bridge waits until no command is held back, closes the connection, lets it send what is
  queued, and exits with status 0.

Members
)";
    for (const MemberInfo& m : memberTable()) {
        std::string line = std::string("  ") + m.name + "(";
        for (std::size_t i = 0; i < m.params.size(); ++i) {
            const ParamInfo& p = m.params[i];
            if (i)
                line += ", ";
            line += p.optional ? "[" : "";
            line += std::string(p.name) + " " + typeName(p.type);
            line += p.optional ? "]" : "";
        }
        out += line + ")\n";
    }
    out += "\nEvents\n";
    for (const EventInfo& e : eventTable()) {
        std::string line = "  " + std::to_string(e.number) + " " + e.name + "(";
        for (std::size_t i = 0; i < e.params.size(); ++i)
            line += (i ? ", " : "") + std::string(e.params[i]);
        out += line + ")\n";
    }
    out += R"(
Example session (> to the bridge, < from it; IncomingPacket lines left out)
  > {"jsonrpc":"2.0","id":1,"method":"Login","params":["Alice","secret","127.0.0.1",5190]}
  < {"jsonrpc":"2.0","id":1,"result":{"AuthServer":"login.oscar.aol.com"}}
  < {"jsonrpc":"2.0","method":"ScreennameFormat","params":{"strFormattedSN":"Alice"}}
  < {"jsonrpc":"2.0","method":"LoggedIn","params":{"strUserName":"alice","BuddyList":
     ["[group]Buddies","echobot"],"BlockList":[],"PrivateList":[],"MiscData":[],
     "strPreferences":"","PrivacyMode":1}}
  < {"jsonrpc":"2.0","method":"BuddyUpdate","params":{"strBuddy":"EchoBot","blnOnline":true,
     "intWarningLevel":0,"lngOnlineTime":1700000000,"lngIdleTime":0,"strUserClass":" O "}}
  > {"jsonrpc":"2.0","id":2,"method":"SendIM","params":["echobot","hello",false]}
  < {"jsonrpc":"2.0","id":2,"result":null}
  < {"jsonrpc":"2.0","method":"InstantMessage","params":{"strUserName":"EchoBot",
     "strMessage":"hello","blnAutoResponse":false,"strUserClass":" O "}}
  > {"jsonrpc":"2.0","id":3,"method":"RemoveHtml","params":["<b>hi</b>"]}
  < {"jsonrpc":"2.0","id":3,"result":"hi"}
  > {"jsonrpc":"2.0","id":4,"method":"LogOff"}
  < {"jsonrpc":"2.0","method":"LoggedOut","params":{"strUserName":"alice"}}
  < {"jsonrpc":"2.0","id":4,"result":null}
)";
    return out;
}

}  // namespace lantry::cli

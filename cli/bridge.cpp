// The JSON-RPC bridge; see bridge.h.
#include "bridge.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <exception>

#include "control_tables.h"

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

// The arguments of `member` from positional or named params; nullopt with `error` set when
// they do not fit its parameter list.
std::optional<Arguments> convertArguments(const MemberInfo& member, const QJsonValue& params,
                                          std::string& error) {
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

    std::vector<Value> values;
    for (std::size_t i = 0; i < declared.size(); ++i) {
        const QJsonValue& json = given[i];
        if (json.isUndefined() || json.isNull()) {
            if (!declared[i].optional) {
                error =
                    std::string(member.name) + ": parameter " + declared[i].name + " is missing";
                return std::nullopt;
            }
            values.emplace_back(std::monostate{});
            continue;
        }
        std::string why;
        auto value = convertParam(declared[i], json, why);
        if (!value) {
            error = std::string(member.name) + ": parameter " + declared[i].name + " " + why;
            return std::nullopt;
        }
        values.push_back(std::move(*value));
    }
    return Arguments(std::move(values));
}

}  // namespace

Bridge::Bridge(QObject* parent)
    : QObject(parent), relay_([](const std::string& line) { writeLine(line); }) {
    auto socket = std::make_unique<QtSocket>();
    socket_ = socket.get();
    control_ = std::make_unique<Ondrel>(std::move(socket), &relay_);
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
}

Bridge::~Bridge() = default;

void Bridge::start() {
    reader_.start();
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
    const QByteArray name = method.toString().toUtf8();
    const MemberInfo* member = findMember(std::string_view(name.data(), name.size()));
    if (!member)
        return reply(kMethodNotFound, "no member " + jsonString(QStringView(method.toString())) +
                                          " (see ondrel bridge --help)");

    std::string error;
    auto arguments = convertArguments(*member, request.value(QLatin1String("params")), error);
    if (!arguments)
        return reply(kInvalidParams, error);

    std::string result;
    try {
        result = member->call(*control_, *arguments);
    } catch (const std::exception& e) {
        return reply(kCallFailed, e.what());
    }
    return hasId ? resultLine(id, result) : std::string();
}

void Bridge::finish() {
    control_->socket().Close();
    exitWhenFlushed(socket_, 0);
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

std::string bridgeHelp() {
    std::string out = R"(Usage: ondrel bridge

The Ondrel control as a JSON-RPC 2.0 service: one JSON object per line on stdin, one per line
on stdout, stdout flushed after every line. Events of the control arrive as notifications.

Requests
  {"jsonrpc":"2.0","id":ID,"method":MEMBER,"params":[...]}
  MEMBER is a public member of the control, spelled exactly as below. params are positional
  in declared order (or an object of parameter names); trailing optional parameters, marked
  [..], may be omitted or null. A request without "id" is a notification: it is carried out
  and gets no response.
  LastChatID with no params reads the property; with one param it stores the value.

Values
  text    a JSON string in which every character is one byte, U+0000 to U+00FF; a character
          above U+00FF is invalid params. Output escapes every byte outside 0x20-0x7E as
          \u00XX, so stdout is plain ASCII.
  int16   a JSON integer from -32768 to 32767
  int32   a JSON integer from -2147483648 to 2147483647
  bool    true or false; a number is taken as the host's boolean: -1 is true, anything else
          false

Responses
  {"jsonrpc":"2.0","id":ID,"result":R}
  R is the member's result (RemoveHtml, GetChatName: text; LastChatID: int32), for Login the
  object {"AuthServer":VALUE} with the authorizer host the call settled on, otherwise null.
  {"jsonrpc":"2.0","id":ID,"error":{"code":CODE,"message":TEXT}}
    -32700  the line is not JSON
    -32600  not a request object (also: batches, which are not supported)
    -32601  no member of that name
    -32602  wrong parameters (count, type, range, a character above U+00FF)
    -32000  the member failed (SetIdleTime overflow, LogOff's errors); TEXT says why
  A bad line never ends the bridge.

Events
  {"jsonrpc":"2.0","method":EVENT,"params":{NAME:VALUE,...}}
  Parameters in declared order; booleans true/false; collections as arrays of strings.
  Lines come in the order things happen: events raised during a call come before that call's
  response. Calls act at once: a command sent before LoggedIn finds no connection and sends
  nothing, so wait for LoggedIn (or Error / WinsockError) after Login.

End of input
  The bridge closes the connection, lets it send what is queued, and exits with status 0.

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
        std::string line = "  " + std::to_string(static_cast<int>(e.number)) + " " + e.name + "(";
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

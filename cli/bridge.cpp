// The JSON-RPC bridge; see bridge.h.
#include "bridge.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "bridge_server.h"
#include "json_text.h"
#include "ondrel/ondrel.h"

namespace lantry::cli {

namespace {

// `messageJson` and `dataJson` are JSON already; no data member when dataJson is empty.
std::string errorLineRaw(const std::string& id, int code, const std::string& messageJson,
                         const std::string& dataJson = {}) {
    JsonObjectWriter error;
    error.add("code", std::int64_t{code}).addRaw("message", messageJson);
    if (!dataJson.empty())
        error.addRaw("data", dataJson);
    return JsonObjectWriter()
        .add("jsonrpc", std::string("2.0"))
        .addRaw("id", id)
        .addRaw("error", error.finish())
        .finish();
}

std::string errorLine(const std::string& id, int code, const std::string& message) {
    return errorLineRaw(id, code, jsonString(message));
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

// The parameters that carry a message's markup, in members (but RemoveHtml, whose point is
// markup) and in events alike.
bool carriesMarkup(std::string_view name) {
    return name == "strMessage" || name == "strInviteMessage" || name == "strAwayMessage" ||
           name == "strProfile";
}

std::optional<QVariant> textValue(const QString& text, TextMode mode, bool markup,
                                  std::string& error) {
    auto bytes = bytesFromJson(text, mode, error);
    if (!bytes)
        return std::nullopt;
    if (markup && mode == TextMode::Plain)
        *bytes = markupFromPlain(*bytes);
    return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
}

// One JSON parameter as the component layer's value of its declared type: text as bytes,
// integers as int, booleans as bool. nullopt with `error` completing "parameter NAME ...".
std::optional<QVariant> layerValue(ParamType type, const QJsonValue& json, TextMode mode,
                                   bool markup, std::string& error) {
    switch (type) {
        case ParamType::Text:
            if (json.isString())
                return textValue(json.toString(), mode, markup, error);
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
                return textValue(json.toString(), mode, false, error);
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
        const bool markup = member.id != DispId::RemoveHtml && carriesMarkup(declared[i].name);
        auto value = layerValue(declared[i].type, json, mode, markup, why);
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

struct Bridge::CallCapture {
    bool raised = false;
    std::string messageJson;
    std::string dataJson;
};

namespace {

// Writes to stdout; stdin mode's one client.
class StdioClient final : public BridgeClient {
public:
    using BridgeClient::BridgeClient;
    void sendLine(std::string_view line) override { writeLine(line); }
};

// Members that act without a session: the others send commands.
bool needsNoSession(DispatchId id) {
    return id == DispId::Login || id == DispId::LogOff || id == DispId::LastChatID ||
           id == DispId::RemoveHtml || id == DispId::GetChatName;
}

std::string eventNames(const EventSet& set) {
    std::string out = "[";
    for (const EventInfo& info : eventTable())
        if (set.test(static_cast<std::size_t>(info.number) - 1))
            out.append(out.size() > 1 ? "," : "").append(jsonString(std::string(info.name)));
    return out + ']';
}

}  // namespace

std::optional<EventSet> eventSetOf(const std::vector<std::string>& names, std::string& error) {
    EventSet set;
    std::string unknown;
    for (const std::string& name : names) {
        const auto& events = eventTable();
        const auto it = std::find_if(events.begin(), events.end(),
                                     [&](const EventInfo& e) { return name == e.name; });
        if (it == events.end())
            unknown.append(unknown.empty() ? "" : ", ").append(jsonString(name));
        else
            set.set(static_cast<std::size_t>(it->number) - 1);
    }
    if (unknown.empty())
        return set;
    error = "no event " + unknown + " (see ondrel bridge --help)";
    return std::nullopt;
}

Bridge::Bridge(std::unique_ptr<ControlObject> control, TextMode mode, QObject* parent)
    : QObject(parent), control_(std::move(control)), mode_(mode) {
    control_->connectEvents(
        [this](int eventNumber, QVariantList& args) { relay(eventNumber, args); });
    connect(&reader_, &LineReader::lineRead, this, [this](const std::string& line) {
        const std::string response = handleRequest(*stdio_, line);
        if (!response.empty())
            stdio_->sendLine(response);
    });
    connect(&reader_, &LineReader::lineTooLong, this, [this] {
        stdio_->sendLine(errorLine(
            "null", kInvalidRequest,
            "line longer than " + std::to_string(LineReader::kMaxLine) + " bytes, dropped"));
    });
    connect(&reader_, &LineReader::endOfInput, this, &Bridge::finish);
    control_->setHeldCommandsHandler([this](int, int dropped) {
        // Outside a sign-off the WinsockError of the lost connection gives the number.
        if (dropped > 0 && signingOff_)
            std::fprintf(stderr, "ondrel bridge: %d held command%s not sent\n", dropped,
                         dropped == 1 ? " was" : "s were");
        if (finishing_)
            finish();
        if (graceTimer_ && control_->heldCommands() == 0)
            finishSignOff();
    });
}

void Bridge::start(EventSet events) {
    stdio_ = std::make_unique<StdioClient>(events);
    addClient(stdio_.get());
    reader_.start();
}

void Bridge::addClient(BridgeClient* client) {
    clients_.push_back(client);
}

void Bridge::removeClient(BridgeClient* client) {
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void Bridge::noteSession(int eventNumber, const QVariantList& args) {
    switch (static_cast<EventNumber>(eventNumber)) {
        case EventNumber::LoggedIn:
            session_ = SessionState::SignedOn;
            userName_ = args.value(0).toString().toLatin1().toStdString();
            break;
        case EventNumber::LoggedOut:
        case EventNumber::WinsockError:
            session_ = SessionState::SignedOff;
            userName_.clear();
            break;
        default:
            break;
    }
}

void Bridge::relay(int eventNumber, const QVariantList& args) {
    const auto& events = eventTable();
    if (eventNumber < 1 || static_cast<std::size_t>(eventNumber) > events.size())
        return;
    noteSession(eventNumber, args);
    const EventInfo& info = events[static_cast<std::size_t>(eventNumber) - 1];
    JsonObjectWriter params;
    for (std::size_t i = 0; i < info.params.size() && i < static_cast<std::size_t>(args.size());
         ++i) {
        const QVariant& value = args[static_cast<qsizetype>(i)];
        if (mode_ == TextMode::Plain && carriesMarkup(info.params[i])) {
            const QByteArray markup = value.toString().toLatin1();
            params.addRaw(info.params[i],
                          jsonString(QStringView(plainFromMarkup(std::string_view(
                              markup.constData(), static_cast<std::size_t>(markup.size()))))));
        } else
            params.addRaw(info.params[i], jsonOf(value, mode_));
    }
    const auto number = static_cast<EventNumber>(eventNumber);
    if (capture_ && !capture_->raised &&
        (number == EventNumber::Error || number == EventNumber::WinsockError)) {
        capture_->raised = true;
        const bool error = number == EventNumber::Error;
        capture_->messageJson = jsonOf(args.value(error ? 1 : 0), mode_);
        if (error)
            capture_->dataJson = JsonObjectWriter()
                                     .add("intErrorCode", std::int64_t{args.value(0).toInt()})
                                     .finish();
    }
    const std::string line = JsonObjectWriter()
                                 .add("jsonrpc", std::string("2.0"))
                                 .add("method", std::string(info.name))
                                 .addRaw("params", params.finish())
                                 .finish();
    // A client cut off while this runs removes itself; the copy keeps the walk valid.
    const std::vector<BridgeClient*> clients = clients_;
    for (BridgeClient* client : clients)
        if (client->events.test(static_cast<std::size_t>(eventNumber) - 1) &&
            std::find(clients_.begin(), clients_.end(), client) != clients_.end())
            client->sendLine(line);
}

std::string Bridge::subscription(BridgeClient& client, const std::string& id, bool subscribe,
                                 const QJsonValue& params) {
    std::vector<std::string> names;
    // No params: no change, and the answer tells the set.
    bool strings = params.isArray() || params.isUndefined();
    for (const QJsonValue& name : params.toArray()) {
        strings = strings && name.isString();
        names.push_back(name.toString().toStdString());
    }
    if (!strings)
        return errorLine(id, kInvalidParams, "params must be an array of event names");
    std::string error;
    const auto set = eventSetOf(names, error);
    if (!set)
        return errorLine(id, kInvalidParams, error);
    client.events = subscribe ? client.events | *set : client.events & ~*set;
    return resultLine(id, eventNames(client.events));
}

std::string Bridge::sessionResult() const {
    const char* state = session_ == SessionState::SignedOn    ? "signed-on"
                        : session_ == SessionState::SigningOn ? "signing-on"
                                                              : "signed-off";
    return JsonObjectWriter()
        .add("state", std::string(state))
        .addRaw("strUserName", jsonText(userName_, mode_))
        .finish();
}

std::string Bridge::sessionRefusal(const MemberInfo& member) const {
    const bool packet = member.id == DispId::SendPacket;
    if (packet ? session_ != SessionState::SignedOff
               : needsNoSession(member.id) || session_ == SessionState::SignedOn)
        return {};
    const std::string name = member.name;
    if (session_ == SessionState::SigningOn && !packet)
        return name + " needs a signed-on session: wait for LoggedIn";
    return name + " needs a " + (packet ? "connection" : "signed-on session") +
           ": call Login first";
}

std::string Bridge::handleRequest(BridgeClient& client, const std::string& line) {
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
    const auto answer = [&](const std::string& response) {
        return hasId ? response : std::string();
    };

    if (request.value(QLatin1String("jsonrpc")).toString() != QLatin1String("2.0"))
        return errorLine(id, kInvalidRequest, "jsonrpc must be \"2.0\"");
    const QJsonValue method = request.value(QLatin1String("method"));
    if (!method.isString())
        return errorLine(id, kInvalidRequest, "method must be a string");
    const QJsonValue params = request.value(QLatin1String("params"));
    const QString name = method.toString();
    if (name == QLatin1String("Subscribe") || name == QLatin1String("Unsubscribe"))
        return answer(subscription(client, id, name == QLatin1String("Subscribe"), params));
    if (name == QLatin1String("Session"))
        return answer(resultLine(id, sessionResult()));
    const MemberInfo* member = findMember(name);
    if (!member)
        return reply(kMethodNotFound,
                     "no member " + jsonString(QStringView(name)) + " (see ondrel bridge --help)");

    std::string error;
    auto arguments = convertArguments(*member, params, mode_, error);
    if (!arguments)
        return reply(kInvalidParams, error);
    if (const std::string refusal = sessionRefusal(*member); !refusal.empty())
        return reply(kNotSignedOn, refusal);
    if (member->id == DispId::Login)
        session_ = SessionState::SigningOn;

    // Only the property is written by a call with an argument; every other call is a method.
    const InvokeKind kind =
        member->property && !arguments->isEmpty() ? InvokeKind::PropertyPut : InvokeKind::Method;
    CallCapture capture;
    CallCapture* const outer = std::exchange(capture_, &capture);
    const DispatchResult called = control_->invoke(member->id, kind, *arguments);
    capture_ = outer;
    if (!called.ok())
        return reply(called.error == DispatchError::MethodFailed ? kCallFailed : kInvalidParams,
                     called.description.toStdString());
    if (capture.raised)
        return answer(errorLineRaw(id, kCallFailed, capture.messageJson, capture.dataJson));
    return answer(resultLine(id, resultOf(*member, *arguments, called.value, mode_)));
}

void Bridge::finish() {
    finishing_ = true;
    // What the pacer still holds goes out first; the handler comes back as it leaves.
    if (control_->heldCommands() > 0)
        return;
    control_->closeConnection([] { QCoreApplication::exit(0); });
}

void Bridge::signOff(std::function<void()> done) {
    if (signingOff_)
        return;
    signingOff_ = true;
    signedOff_ = std::move(done);
    graceTimer_ = new QTimer(this);
    graceTimer_->setSingleShot(true);
    connect(graceTimer_, &QTimer::timeout, this, &Bridge::finishSignOff);
    graceTimer_->start(kSignOffGraceMs);
    if (control_->heldCommands() == 0)
        finishSignOff();
}

void Bridge::finishSignOff() {
    if (!graceTimer_)
        return;
    graceTimer_->deleteLater();
    graceTimer_ = nullptr;
    // LogOff drops what is still held; the held handler reports how many.
    if (session_ != SessionState::SignedOff)
        control_->call(DispId::LogOff);
    control_->closeConnection(std::move(signedOff_));
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
    static const std::pair<std::string_view, std::string_view> kValues[] = {
        {"--text", "utf-8, bytes or plain"},
        {"--pace", "on or off"},
        {"--events", "event names, separated by commas"},
        {"--listen", "unix:PATH or tcp:127.0.0.1:PORT"},
    };
    BridgeOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string key = arg.substr(0, arg.find('='));
        const auto known = std::find_if(std::begin(kValues), std::end(kValues),
                                        [&](const auto& option) { return option.first == key; });
        if (known == std::end(kValues)) {
            error = "unexpected argument \"" + arg + "\"";
            return std::nullopt;
        }
        std::string value;
        if (key != arg) {
            value = arg.substr(key.size() + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = key + " needs a value: " + std::string(known->second);
            return std::nullopt;
        }
        if (key == "--pace") {
            if (value != "on" && value != "off") {
                error = "--pace takes on or off, not \"" + value + "\"";
                return std::nullopt;
            }
            options.pacing = value == "on";
        } else if (key == "--events") {
            std::vector<std::string> names;
            for (std::size_t from = 0; from <= value.size();) {
                const std::size_t comma = std::min(value.find(',', from), value.size());
                names.push_back(value.substr(from, comma - from));
                from = comma + 1;
            }
            auto set = eventSetOf(names, error);
            if (!set) {
                error = "--events: " + error;
                return std::nullopt;
            }
            options.events = *set;
        } else if (key == "--listen") {
            if (!parseListenAddress(value, error))
                return std::nullopt;
            options.listen = value;
        } else if (value == "utf-8" || value == "utf8") {
            options.text = TextMode::Utf8;
        } else if (value == "bytes") {
            options.text = TextMode::Bytes;
        } else if (value == "plain") {
            options.text = TextMode::Plain;
        } else {
            error = "--text takes utf-8, bytes or plain, not \"" + value + "\"";
            return std::nullopt;
        }
    }
    return options;
}

int runBridge(std::unique_ptr<ControlObject> control, const BridgeOptions& options) {
    control->setPacing(options.pacing);
    Bridge bridge(std::move(control), options.text);
    if (options.listen.empty()) {
        bridge.start(options.events);
        return QCoreApplication::exec();
    }
    BridgeServer server(bridge, options.events);
    std::string error;
    if (!server.listen(*parseListenAddress(options.listen, error), error)) {
        std::fprintf(stderr, "ondrel bridge: %s\n", error.c_str());
        return 1;
    }
    return QCoreApplication::exec();
}

std::string bridgeHelp() {
    std::string out =
        R"(Usage: ondrel bridge [--text utf-8|bytes|plain] [--pace on|off] [--events NAME,...]
                     [--listen unix:PATH | --listen tcp:127.0.0.1:PORT]

The Ondrel control as a JSON-RPC 2.0 service: one JSON object per line on stdin, one per line
on stdout, stdout flushed after every line. Events of the control arrive as notifications.
With --listen the bridge is a daemon instead (see Daemon below).

Messages are HTML both ways under the default --text utf-8: strMessage of InstantMessage
arrives with its markup ("<b>hi</b> &lt;3"), and text sent in SendIM, SendChat, InviteUsers,
SetAwayMessage and SetProfile is taken as HTML ("<3" sent is a broken tag to the receiver).
--text plain makes them plain text both ways.

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
  --text plain  as utf-8, and messages are plain text: strMessage, strInviteMessage,
                strAwayMessage and strProfile sent are escaped (& < > " as references, a line
                feed as <br>), so "<3" arrives as typed; strMessage and strInviteMessage
                received arrive with <br> as a line feed, every other tag removed and
                character references (&lt; &eacute; &#233;) decoded. RemoveHtml is left as it
                is.
  Output escapes every character outside 0x20-0x7E as \uXXXX, so stdout is plain ASCII.
  Servers take a command of at most )" +
        std::to_string(Ondrel::kMaxCommandPayload) +
        R"( bytes on the wire, escaping and the frame's end
  counted, so what fits depends on the encoding ("\u00e9" is two bytes in UTF-8). A longer
  command is refused (Error code 0, and the call's error) and not sent; nothing is split.

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
  {"jsonrpc":"2.0","id":ID,"error":{"code":CODE,"message":TEXT[,"data":DATA]}}
    -32700  the line is not JSON (also: a string id holding a lone surrogate such as \ud800,
            answered with a null id)
    -32600  not a request object (also: batches, which are not supported)
    -32601  no member of that name
    -32602  wrong parameters (count, type, range, text the --text mode cannot carry, an
            unknown event name)
    -32000  the member failed (SetIdleTime overflow, LogOff's errors), or raised Error or
            WinsockError while it ran: TEXT is the control's sentence, DATA for Error is
            {"intErrorCode":N} (0 for the control's own findings, such as a command too long
            to send). The event is sent as a notification too.
    -32001  the member sends a command and no session is signed on (before LoggedIn, after
            LoggedOut or WinsockError); nothing was sent. SendPacket needs only a Login.
  A bad line never ends the bridge.

Bridge methods
  Subscribe(NAME, ...)    adds events to those this client is sent; the result is the list
                          of them all (with no params: the list, unchanged)
  Unsubscribe(NAME, ...)  removes them; the result is the list. Unknown names: -32602.
  Session()               {"state":"signed-off"|"signing-on"|"signed-on","strUserName":NAME}
  --events NAME,...       the events sent from the start (default: every event). For example
                          --events InstantMessage,Error,WinsockError,LoggedIn,LoggedOut

Events
  {"jsonrpc":"2.0","method":EVENT,"params":{NAME:VALUE,...}}
  Parameters in declared order; booleans true/false; collections as arrays of strings.
  Lines come in the order things happen: events raised during a call come before that call's
  response. After Login wait for LoggedIn (or Error / WinsockError): until then a command is
  answered -32001.

End of input
  The bridge waits until no command is held back, closes the connection, lets it send what is
  queued, and exits with status 0.

Daemon
  --listen unix:PATH             a Unix socket, created with mode 0600 (owner only)
  --listen tcp:127.0.0.1:PORT    TCP on a loopback address only (any local user can connect);
                                 PORT 0 picks a free one, named on stderr
  One session for any number of clients, each speaking the protocol above on its connection
  with its own subscriptions. A client leaving does not end the session: the next one finds
  it signed on (Session). A client that leaves more than )" +
        std::to_string(BridgeServer::kMaxUnread) +
        R"( bytes unread is cut off.
  SIGTERM or SIGINT: held commands get up to )" +
        std::to_string(Bridge::kSignOffGraceMs / 1000) +
        R"( s to leave (those that cannot are named on
  stderr), LogOff (LoggedOut reaches the clients), the socket file is removed, exit status 0.

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

// The control's public boundary as data: every member the bridge can call, with its parameters
// in declared order, and every event with its parameter names. The bridge, its help text and
// the event relay all read these two tables; nothing else lists members or events.
#pragma once

#include <QJsonValue>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json_text.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"

namespace lantry::cli {

enum class ParamType {
    Text,     // JSON string, one character per byte (U+0000-U+00FF)
    Int16,    // JSON integer -32768..32767
    Int32,    // JSON integer -2147483648..2147483647
    Boolean,  // true/false, or a number: -1 is true, anything else false
    Variant,  // JSON string or integer, taken as text
};

struct ParamInfo {
    const char* name;
    ParamType type;
    bool optional;
};

// The converted arguments of one call; omitted optional parameters hold std::monostate.
class Arguments {
public:
    explicit Arguments(std::vector<Value> values) : values_(std::move(values)) {}
    bool has(std::size_t i) const {
        return i < values_.size() && !std::holds_alternative<std::monostate>(values_[i]);
    }
    const std::string& text(std::size_t i) const { return std::get<std::string>(values_[i]); }
    std::int32_t int32(std::size_t i) const {
        return has(i) ? static_cast<std::int32_t>(std::get<std::int64_t>(values_[i])) : 0;
    }
    std::int16_t int16(std::size_t i) const { return static_cast<std::int16_t>(int32(i)); }
    bool boolean(std::size_t i) const { return std::get<bool>(values_[i]); }

private:
    std::vector<Value> values_;
};

struct MemberInfo {
    const char* name;
    std::vector<ParamInfo> params;
    // Calls the member and returns its result as JSON text ("null" for none). May throw: the
    // exception's text becomes the error of the call.
    std::function<std::string(Ondrel&, const Arguments&)> call;
};

struct EventInfo {
    EventNumber number;
    const char* name;
    std::vector<const char*> params;
};

// Members in the order of their dispatch identifiers.
const std::vector<MemberInfo>& memberTable();
const MemberInfo* findMember(std::string_view name);

// Events in the order of their numbers (index = number - 1).
const std::vector<EventInfo>& eventTable();
const EventInfo& eventInfo(EventNumber number);

// One JSON parameter converted to its declared type; nullopt with `error` set when it does
// not fit. `error` completes the sentence "parameter NAME ...".
std::optional<Value> convertParam(const ParamInfo& info, const QJsonValue& json,
                                  std::string& error);

}  // namespace lantry::cli

// JSON text for the bridge: the control's byte strings as JSON strings and back, and writers
// that keep object members in the order they are added (QJsonObject sorts its keys).
//
// Output is pure ASCII: characters outside 0x20-0x7E are written as \uXXXX (UTF-16 units).
#pragma once

#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lantry::cli {

// How text maps between JSON strings and the control's bytes.
enum class TextMode {
    // Strings go to the wire as UTF-8; wire text that is valid UTF-8 is decoded as UTF-8,
    // any other as Latin-1, value by value.
    Utf8,
    // Every character stands for one byte, U+0000 to U+00FF, both ways.
    Bytes,
    // As Utf8, and the text of messages (the fields that carry markup) is plain text both
    // ways: received markup goes through plainFromMarkup, sent text through markupFromPlain.
    Plain,
};

// One argument of a member call or one parameter of an event.
using Value =
    std::variant<std::monostate, std::string, std::int64_t, bool, std::vector<std::string>>;

// `bytes` as a quoted JSON string.
std::string jsonString(std::string_view bytes);
// `text` as a quoted JSON string; characters above U+007E as \uXXXX (UTF-16 units).
std::string jsonString(QStringView text);
// A Value as JSON: null, string, integer, true/false or array of strings.
std::string jsonValue(const Value& value);
// A request id (string, number or null) written back as JSON.
std::string jsonId(const QJsonValue& id);

// The bytes a JSON string stands for in `mode`; nullopt with `error` completing the sentence
// "parameter NAME ..." when it stands for none: a lone surrogate in Utf8, a character above
// U+00FF in Bytes.
std::optional<std::string> bytesFromJson(const QString& text, TextMode mode, std::string& error);
// The control's bytes as a quoted JSON string in `mode`.
std::string jsonText(std::string_view bytes, TextMode mode);

// Plain text as markup that shows it as typed: & < > " as references, a line feed as <br>.
std::string markupFromPlain(std::string_view text);
// Received markup as plain text: a <br> tag as a line feed, every other tag removed, the
// encoding resolved and character references decoded (lantry::messageText).
QString plainFromMarkup(std::string_view markup);

// Builds one JSON object member by member, in order.
class JsonObjectWriter {
public:
    JsonObjectWriter& addRaw(std::string_view key, std::string_view json);
    JsonObjectWriter& add(std::string_view key, const Value& value) {
        return addRaw(key, jsonValue(value));
    }
    std::string finish() const { return text_ + '}'; }

private:
    std::string text_ = "{";
};

}  // namespace lantry::cli

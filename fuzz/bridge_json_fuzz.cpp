// The bridge's reading of JSON: any line parses or is refused without harm; every string in it
// maps to the control's bytes and back in both text modes without loss; and what the bridge
// writes back (strings, ids, raw bytes) is ASCII JSON that reads back as the same value.
//
// Input: one request line, as a bot might send it.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json_text.h"

namespace {

using lantry::cli::TextMode;

[[noreturn]] void broken(const char* what, const std::string& json) {
    std::fprintf(stderr, "bridge JSON rule broken: %s\n%s\n", what, json.substr(0, 400).c_str());
    std::abort();
}

// The one value `json` holds, read back as JSON; broken when it is not ASCII or not JSON.
QJsonValue readBack(const std::string& json) {
    for (const char c : json) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            broken("output outside printable ASCII", json);
    }
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString("[" + json + "]"), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1)
        broken("output that is not one JSON value", json);
    return doc.array().at(0);
}

void checkString(const QString& text) {
    for (const TextMode mode : {TextMode::Utf8, TextMode::Bytes}) {
        std::string error;
        const auto bytes = lantry::cli::bytesFromJson(text, mode, error);
        if (!bytes)
            continue;
        const std::string json = lantry::cli::jsonText(*bytes, mode);
        if (readBack(json).toString() != text)
            broken("a string that does not come back as it went", json);
    }
}

void walk(const QJsonValue& value, int depth) {
    if (depth > 64)
        return;
    readBack(lantry::cli::jsonId(value));
    if (value.isString()) {
        checkString(value.toString());
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            walk(item, depth + 1);
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            checkString(it.key());
            walk(it.value(), depth + 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    // Raw bytes as a string, one character each: every byte comes back.
    if (readBack(lantry::cli::jsonString(line)).toString().size() != static_cast<qsizetype>(size))
        broken("bytes lost in a JSON string", std::string(line));
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(line.data(), qsizetype(size)));
    if (doc.isArray())
        walk(doc.array(), 0);
    else if (doc.isObject())
        walk(doc.object(), 0);
    return 0;
}

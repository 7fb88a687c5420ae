// `ondrel bridge`: the control as a JSON-RPC 2.0 service on stdin and stdout, one JSON object
// per line.
//
// The bridge is a late-bound host of the component layer: it creates the control by its
// programmatic identifier, finds members and events by name in the layer's description of the
// boundary, calls by dispatch identifier and hears events by number. Each request line calls
// one member; a request with an id gets exactly one response line, a notification (no id)
// gets none. Each event becomes a notification line. Text maps between JSON strings and the
// control's bytes as the TextMode says (UTF-8 unless told otherwise). Order on stdout is the order
// of happening: events raised during a call come before that call's response. A bad line is
// answered with an error and never ends the bridge.
//
// Commands that the control holds back for the server's rate limit (on unless --pace off) go out
// in order as their time comes. At end of input the bridge waits until none is held, closes
// the connection, gives it a bounded time to send what is queued, and quits the event loop with
// exit code 0.

#pragma once

#include <QObject>
#include <QVariantList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json_text.h"
#include "line_io.h"
#include "ondrel/component.h"

namespace lantry::cli {

class Bridge final : public QObject {
    Q_OBJECT
public:
    Bridge(std::unique_ptr<ControlObject> control, TextMode mode, QObject* parent = nullptr);

    // Starts reading stdin. The event loop must run; the bridge quits it at end of input.
    void start();

    // One request line in, its response line out ("" when it gets none). Events raised by the
    // call are written before this returns.
    std::string handleRequest(const std::string& line);

private:
    void relay(int eventNumber, const QVariantList& args);
    void finish();
    bool finishing_ = false;

    std::unique_ptr<ControlObject> control_;
    TextMode mode_;
    LineReader reader_;
};

// The control by its programmatic identifier, or from this library's own class factory when
// the identifier is not registered; a registration that cannot be used is reported on stderr
// and passed over. Null, with `error` saying why, when neither gives one. Needs a
// QApplication.
std::unique_ptr<ControlObject> createControl(std::string& error);

struct BridgeOptions {
    TextMode text = TextMode::Utf8;
    bool pacing = true;
};

// The options of `ondrel bridge` (--text utf-8|bytes, --pace on|off); nullopt with `error`
// saying what is wrong.
std::optional<BridgeOptions> parseBridgeOptions(const std::vector<std::string>& args,
                                                std::string& error);

// The text of `ondrel bridge --help`.
std::string bridgeHelp();

}  // namespace lantry::cli

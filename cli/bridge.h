// `ondrel bridge`: the control as a JSON-RPC 2.0 service on stdin and stdout, one JSON object
// per line.
//
// Each request line calls one public member of the control (see memberTable()); a request
// with an id gets exactly one response line, a notification (no id) gets none. Events of the
// control become notification lines (see EventRelay). Order on stdout is the order of
// happening: events raised during a call come before that call's response. A bad line is
// answered with an error and never ends the bridge.
//
// At end of input the bridge closes the connection, gives the socket a bounded time to send
// what is queued, and quits the event loop with exit code 0.
#pragma once

#include <QObject>

#include <memory>
#include <string>

#include "event_relay.h"
#include "line_io.h"
#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"

namespace lantry::cli {

class Bridge final : public QObject {
    Q_OBJECT
public:
    explicit Bridge(QObject* parent = nullptr);
    ~Bridge() override;

    // Starts reading stdin. The event loop must run; the bridge quits it at end of input.
    void start();

    // One request line in, its response line out ("" when it gets none). Events raised by the
    // call are written before this returns.
    std::string handleRequest(const std::string& line);

private:
    void finish();

    EventRelay relay_;
    QtSocket* socket_ = nullptr;  // owned by control_
    std::unique_ptr<Ondrel> control_;
    LineReader reader_;
};

// The text of `ondrel bridge --help`.
std::string bridgeHelp();

}  // namespace lantry::cli

// A control on a fake socket with a recording sink: the starting point of the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel/ondrel.h"
#include "recording_sink.h"

namespace lantry::testing {

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        auto socket = std::make_unique<FakeSocket>(net);
        sock = socket.get();
        control = std::make_unique<Ondrel>(std::move(socket), &sink);
    }

    // Login and an established connection; `sent` then starts after the greeting.
    void connect(const std::string& user = "Some One") {
        control->Login(user, "pw", "toc.example", 5190);
        sock->connectNow();
        ASSERT_EQ(net.sent, "FLAPON\n\n");
        net.sent.clear();
    }

    // A whole sign-on: the server's sign-on frame, an empty configuration; records cleared.
    void signOn() {
        connect();
        sock->arrive(serverFrame(1, std::string("\0\0\0\1", 4)));
        sock->arrive(dataFrame("CONFIG2:done:\n"));
        net.sent.clear();
        sink.events.clear();
    }

    void serverSays(const std::string& message) { sock->arrive(dataFrame(message)); }

    std::vector<std::string> sentLines() const {
        std::vector<std::string> lines;
        for (auto& frame : parseFrames(net.sent)) {
            if (frame.type == 2)
                lines.push_back(frame.payload);
        }
        return lines;
    }

    // The one command line sent since the record was last cleared, else empty; clears it.
    std::string onlyLine() {
        auto lines = sentLines();
        net.sent.clear();
        return lines.size() == 1 ? lines[0] : std::string();
    }

    std::vector<std::string> takeEvents() {
        auto events = std::move(sink.events);
        sink.events.clear();
        return events;
    }

    FakeSocket::Record net;
    FakeSocket* sock = nullptr;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

using Events = std::vector<std::string>;

// Signed on, then each server message of a table checked for the events it must raise.
class MessageTableTest : public EngineTest {
protected:
    void SetUp() override { signOn(); }
    void expectEach(const std::vector<std::pair<std::string, Events>>& cases) {
        for (const auto& [message, events] : cases) {
            serverSays(message);
            EXPECT_EQ(takeEvents(), events) << message;
        }
        EXPECT_TRUE(net.sent.empty()) << "server notices are never answered";
    }
};

}  // namespace lantry::testing

// A control on its real Qt socket, a recording sink, and a scripted peer to talk to.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ondrel/ondrel.h"
#include "ondrel/qt_socket.h"
#include "recording_sink.h"
#include "scripted_peer.h"

namespace lantry::testing {

class E2ETest : public ::testing::Test {
protected:
    E2ETest() : control(std::make_unique<Ondrel>(std::make_unique<QtSocket>(), &sink)) {}

    // Waits until the sink has recorded `count` events in all.
    bool eventsReach(std::size_t count) {
        return waitUntil([&] { return sink.events.size() >= count; });
    }

    // Signs on through the peer with an empty configuration; records cleared.
    void signOn(const std::string& user) {
        control->Login(user, "secret", "127.0.0.1", peer.port());
        ASSERT_NE(peer.acceptSignOn().find("toc2_login"), std::string::npos);
        peer.say("SIGN_ON:TOC2.0");
        peer.say("CONFIG2:done:\n");
        ASSERT_EQ(peer.readLine(), "toc_init_done");
        ASSERT_TRUE(eventsReach(1));
        sink.events.clear();
    }

    ScriptedPeer peer;
    RecordingSink sink;
    std::unique_ptr<Ondrel> control;
};

using Events = std::vector<std::string>;

}  // namespace lantry::testing

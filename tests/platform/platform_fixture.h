// A control on a fake socket, signed on far enough that commands go out, and helpers that
// read back the command lines it sent.
#pragma once

#include <gtest/gtest.h>

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "fake_socket.h"
#include "ondrel_control.h"

namespace lantry::testing {

class ControlFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto sock = std::make_unique<FakeSocket>(record_);
        sock_ = sock.get();
        control_ = new OndrelControl(std::move(sock), nullptr);
    }
    void TearDown() override { delete control_.data(); }

    // Login through the layer and an open connection; the lines sent so far are forgotten.
    void signOn() {
        QVariantList args{QStringLiteral("Alice"), QStringLiteral("pw"),
                          QStringLiteral("127.0.0.1"), QStringLiteral("5190")};
        ASSERT_TRUE(control_->invoke(DispId::Login, InvokeKind::Method, args).ok());
        sock_->connectNow();
        record_.sent.clear();
    }
    // The payloads of the data frames sent since the last clear.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& f : parseFrames(record_.sent))
            if (f.type == 2)
                out.push_back(f.payload);
        return out;
    }
    void serverSays(const std::string& message) { sock_->arrive(dataFrame(message)); }

    FakeSocket::Record record_;
    FakeSocket* sock_ = nullptr;
    QPointer<OndrelControl> control_;
};

}  // namespace lantry::testing

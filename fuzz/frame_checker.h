// What every fuzz target asserts about the bytes a control sends: the greeting, or one whole
// client frame per SendData call, with consecutive sequence numbers and one NUL ending each
// data frame. A violation aborts, so libFuzzer keeps the input that caused it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ondrel/socket.h"
#include "ondrel/wire.h"

namespace ondrel_fuzz {

[[noreturn]] inline void violation(const char* what, std::string_view bytes) {
    std::fprintf(stderr, "client stream violation: %s (%zu bytes)\n", what, bytes.size());
    std::abort();
}

// A socket that checks each send and keeps the payloads of data frames (without the NUL).
class CheckingSocket final : public lantry::Socket {
public:
    int State() const override { return state_; }
    void Connect(const std::string&, std::int32_t) override { state_ = 6; }
    void SendData(std::string_view bytes) override {
        if (state_ != StateConnected)
            violation("send while not connected", bytes);
        if (bytes == lantry::wire::kGreeting)
            return;
        if (bytes.size() < lantry::wire::kFrameHeaderSize || bytes[0] != '*' ||
            lantry::wire::frameLength(bytes) != bytes.size())
            violation("not one whole frame", bytes);
        const auto type = static_cast<unsigned char>(bytes[1]);
        const auto sequence = static_cast<std::uint16_t>(lantry::wire::decodeWord(bytes.substr(2)));
        if (lastSequence_ >= 0 && sequence != static_cast<std::uint16_t>(lastSequence_ + 1))
            violation("sequence number skipped", bytes);
        lastSequence_ = sequence;
        const auto payload = bytes.substr(lantry::wire::kFrameHeaderSize);
        if (type == lantry::wire::kFrameData) {
            if (payload.empty() || payload.back() != '\0')
                violation("data frame without its NUL", bytes);
            dataPayloads.emplace_back(payload.substr(0, payload.size() - 1));
        } else if (type != lantry::wire::kFrameSignOn && type != lantry::wire::kFrameKeepAlive) {
            violation("frame type the control never sends", bytes);
        }
    }
    void GetData(std::string& bytes) override { bytes += std::exchange(waiting_, {}); }
    void Close() override { state_ = 0; }

    void connectNow() {
        state_ = StateConnected;
        if (auto* l = listener())
            l->socketConnected();
    }
    void arrive(std::string_view bytes) {
        waiting_.append(bytes);
        if (auto* l = listener())
            l->socketDataArrival();
    }
    void fail() {
        if (auto* l = listener())
            l->socketError(10054, "Connection reset by peer");
    }
    void peerClose() {
        if (auto* l = listener())
            l->socketClosed();
    }

    std::vector<std::string> dataPayloads;

private:
    int state_ = 0;
    std::string waiting_;
    int lastSequence_ = -1;  // none sent yet
};

}  // namespace ondrel_fuzz

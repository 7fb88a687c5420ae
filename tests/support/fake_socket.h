// A socket for driving the engine without a network: the test scripts what arrives (split at
// any byte), reads what was sent, and injects connects, errors and closes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ondrel/socket.h"

namespace lantry::testing {

class FakeSocket final : public Socket {
public:
    // Shared view of the socket's activity; it outlives the socket (the control owns that).
    struct Record {
        int state = 0;
        std::string sent;                   // every byte handed to SendData, in order
        std::string waiting;                // bytes arrived and not yet taken by GetData
        std::vector<std::string> connects;  // "host:port" of each Connect
        int closes = 0;
        bool alive = true;
    };

    explicit FakeSocket(Record& record) : record_(record) {}
    ~FakeSocket() override { record_.alive = false; }

    int State() const override { return record_.state; }
    void Connect(const std::string& host, std::int32_t port) override {
        record_.connects.push_back(host + ":" + std::to_string(port));
        record_.state = 6;
    }
    void SendData(std::string_view bytes) override {
        if (record_.state == StateConnected)
            record_.sent.append(bytes);
    }
    void GetData(std::string& bytes) override {
        bytes += record_.waiting;
        record_.waiting.clear();
    }
    void Close() override {
        ++record_.closes;
        record_.state = 0;
    }

    // Test side: what the peer and the network do.
    void connectNow() {
        record_.state = StateConnected;
        if (auto* l = listener())
            l->socketConnected();
    }
    void arrive(std::string_view bytes) {
        record_.waiting.append(bytes);
        if (auto* l = listener())
            l->socketDataArrival();
    }
    void fail(int number, const std::string& description) {
        if (auto* l = listener())
            l->socketError(number, description);
    }
    void peerClose() {
        if (auto* l = listener())
            l->socketClosed();
    }

private:
    Record& record_;
};

// One server-to-client frame.
inline std::string serverFrame(std::uint8_t type, std::string_view payload,
                               std::uint16_t sequence = 0) {
    std::string f;
    f += '*';
    f += static_cast<char>(type);
    f += static_cast<char>(sequence >> 8);
    f += static_cast<char>(sequence & 0xFF);
    f += static_cast<char>(payload.size() >> 8);
    f += static_cast<char>(payload.size() & 0xFF);
    f += payload;
    return f;
}

inline std::string dataFrame(std::string_view message, std::uint16_t sequence = 0) {
    return serverFrame(2, message, sequence);
}

// Splits a stream of client frames (after the greeting) into their payloads; data frames lose
// their trailing NUL. Malformed tails end the list.
struct SentFrame {
    int type;
    int sequence;
    std::string payload;
};

inline std::vector<SentFrame> parseFrames(std::string_view stream) {
    std::vector<SentFrame> frames;
    while (stream.size() >= 6) {
        const auto length = static_cast<std::size_t>(static_cast<unsigned char>(stream[4]) * 256 +
                                                     static_cast<unsigned char>(stream[5]));
        if (stream.size() < 6 + length)
            break;
        SentFrame f{
            static_cast<unsigned char>(stream[1]),
            static_cast<unsigned char>(stream[2]) * 256 + static_cast<unsigned char>(stream[3]),
            std::string(stream.substr(6, length))};
        if (f.type == 2 && !f.payload.empty() && f.payload.back() == '\0')
            f.payload.pop_back();
        frames.push_back(std::move(f));
        stream.remove_prefix(6 + length);
    }
    return frames;
}

}  // namespace lantry::testing

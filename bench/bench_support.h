// Shared pieces of the engine benchmarks: a socket that feeds a prepared stream in reads of a
// chosen size and discards what is sent, the typical server streams, and the two baselines
// every receive-path figure is compared with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ondrel/ondrel.h"
#include "ondrel/socket.h"

namespace ondrel_bench {

// A connected socket whose reads come from a prepared stream. Sent bytes are only counted, so
// the benchmarks measure the control and not a growing record.
class StreamSocket final : public lantry::Socket {
public:
    int State() const override { return state_; }
    void Connect(const std::string&, std::int32_t) override { state_ = 6; }
    void SendData(std::string_view bytes) override {
        if (state_ == StateConnected)
            sentBytes += bytes.size();
    }
    void GetData(std::string& bytes) override {
        bytes.append(waiting_);
        waiting_ = {};
    }
    void Close() override { state_ = 0; }

    void connectNow() {
        state_ = StateConnected;
        if (auto* l = listener())
            l->socketConnected();
    }
    // Delivers `stream` in reads of `readSize` bytes (0: all at once), one data-arrival
    // notification per read.
    void deliver(std::string_view stream, std::size_t readSize) {
        if (readSize == 0)
            readSize = stream.size();
        for (std::size_t at = 0; at < stream.size(); at += readSize) {
            waiting_ = stream.substr(at, readSize);
            if (auto* l = listener())
                l->socketDataArrival();
        }
    }

    std::size_t sentBytes = 0;

private:
    int state_ = 0;
    std::string_view waiting_;
};

// One server frame: "*", type, sequence, length, payload.
inline void appendServerFrame(std::string& out, std::uint8_t type, std::string_view payload) {
    out += '*';
    out += static_cast<char>(type);
    out += '\0';
    out += '\0';
    out += static_cast<char>(payload.size() >> 8);
    out += static_cast<char>(payload.size() & 0xFF);
    out += payload;
}

// A 60-byte IM_IN_ENC2 frame as the service sends them (header included).
inline std::string typicalImFrame() {
    std::string payload = "IM_IN_ENC2:alice:F:F:T: O :F:L:en:";
    payload.append(60 - 6 - payload.size(), 'x');
    std::string frame;
    appendServerFrame(frame, 2, payload);
    return frame;
}

// Whole 60-byte IM frames filling `bytes` (rounded down to whole frames).
inline std::string imBurst(std::size_t bytes) {
    const std::string frame = typicalImFrame();
    std::string out;
    out.reserve(bytes);
    while (out.size() + frame.size() <= bytes)
        out += frame;
    return out;
}

// The sign-on exchange up to and including a configuration of `buddies` buddies in groups of
// 50, cut into CONFIG2 messages that each fit one frame.
inline std::string signOnStream(std::size_t buddies) {
    std::string out;
    appendServerFrame(out, 1, std::string_view("\0\0\0\1", 4));
    appendServerFrame(out, 2, "SIGN_ON:TOC2.0");
    appendServerFrame(out, 2, "NICK:Bench User");
    std::string config = "m:1\n";
    for (std::size_t i = 0; i < buddies; ++i) {
        if (i % 50 == 0)
            config += "g:Group " + std::to_string(i / 50) + "\n";
        config += "b:buddy" + std::to_string(i) + "\n";
    }
    config += "p:permitted\nd:denied\npref:xyz\ndone:\n";
    constexpr std::size_t kChunk = 60000;
    for (std::size_t at = 0; at < config.size(); at += kChunk) {
        appendServerFrame(out, 2, "CONFIG2:" + config.substr(at, kChunk));
    }
    return out;
}

// Baseline 1, the least work that hands a host one owned text per frame: cut frames from the
// reads and copy each frame's bytes into a string of its own.
class CopyFramer {
public:
    template <class Sink>
    void feed(std::string_view read, Sink&& sink) {
        pending_.append(read);
        std::size_t at = 0;
        while (pending_.size() - at >= 6) {
            const auto* p = reinterpret_cast<const unsigned char*>(pending_.data() + at);
            const std::size_t length = 6 + p[4] * 256u + p[5];
            if (pending_.size() - at < length)
                break;
            sink(std::string(pending_.data() + at, length));
            at += length;
        }
        pending_.erase(0, at);
    }

private:
    std::string pending_;
};

// Baseline 2, the literal algorithm: the held bytes are put in front of each read, and after
// every frame the rest of the stream is copied into a new string.
class LiteralFramer {
public:
    template <class Sink>
    void feed(std::string_view read, Sink&& sink) {
        std::string s(read);
        for (;;) {
            if (!held_.empty()) {
                s = held_ + s;
                held_.clear();
            }
            const auto hi = s.size() > 4 ? static_cast<unsigned char>(s[4]) : 0u;
            const auto lo = s.size() > 5 ? static_cast<unsigned char>(s[5]) : 0u;
            const std::size_t length = hi * 256u + lo + 6;
            if (s.size() == length) {
                sink(s);
                return;
            }
            if (s.size() > length) {
                sink(s.substr(0, length));
                s = s.substr(length);
                continue;
            }
            held_ = s;
            return;
        }
    }

private:
    std::string held_;
};

}  // namespace ondrel_bench

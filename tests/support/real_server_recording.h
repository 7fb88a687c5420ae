// The recording of a session with a real TOC2 server (tests/e2e/real_server_session.txt), read
// frame by frame, for tests that play the server's side of it.
#pragma once

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace lantry::testing {

// One line of the recording: a frame ("t=2 seq=5 \"...\""), or a connection closed.
struct Recorded {
    std::string who;
    bool fromServer = false;
    bool closes = false;
    int type = 0;
    int sequence = 0;
    std::string payload;
};

// The payload is written between the first and the last double quote of its line, with \\ for
// a backslash and \xNN for a byte.
inline std::string unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'x') {
            bytes += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else if (text[i] == '\\') {
            bytes += text[++i];
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

inline std::vector<Recorded> readRecording(const char* path) {
    std::vector<Recorded> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const bool framed = line.find(" t=") != std::string::npos;
        const bool closes = line.ends_with("closes its connection)") ||
                            line.ends_with("(connection closed by the server)");
        if (line.starts_with('#') || (!framed && !closes))
            continue;  // comments, and the greeting, which the control words its own way
        Recorded r;
        r.who = line.substr(0, line.find(' '));
        r.fromServer = line.find(" < ") != std::string::npos;
        r.closes = closes;
        if (framed) {
            r.type = std::stoi(line.substr(line.find(" t=") + 3));
            r.sequence = std::stoi(line.substr(line.find(" seq=") + 5));
            const auto open = line.find('"'), close = line.rfind('"');
            r.payload = unescape(std::string_view(line).substr(open + 1, close - open - 1));
        }
        lines.push_back(std::move(r));
    }
    return lines;
}

// The first frame the server sent to connection `who` whose payload starts with `prefix`.
inline std::string recordedServerText(const std::vector<Recorded>& recording, std::string_view who,
                                      std::string_view prefix) {
    for (const Recorded& r : recording)
        if (r.fromServer && r.who == who && r.payload.starts_with(prefix))
            return r.payload;
    return {};
}

}  // namespace lantry::testing

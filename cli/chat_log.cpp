// Conversation logs; see chat_log.h.
#include "chat_log.h"

#include <sys/stat.h>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <utility>

#include "ondrel/wire.h"

namespace lantry::cli {

namespace {

std::string escaped(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || (b == '.' && !out.empty())) {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::string withoutEmphasis(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b') {
            const auto end = text.find('m', i);
            if (end == std::string::npos)
                break;
            i = end;
            continue;
        }
        out += text[i];
    }
    return out;
}

void ChatLog::open(const std::string& directory, const std::string& account) {
    directory_ = directory.empty() ? directory
                                   : directory + "/logs/" + escaped(wire::normalizeName(account));
}

std::string ChatLog::fileOf(const Buffer& buffer) const {
    // Appended, not joined with +: g++ 12 at -O3 takes a short literal in front of a temporary
    // for an overlapping copy.
    std::string name = buffer.kind == Buffer::Kind::Room ? "#" : "";
    name += buffer.kind == Buffer::Kind::Room ? escaped(buffer.target)
                                              : escaped(wire::normalizeName(buffer.target));
    return directory_ + "/" + name + ".log";
}

void ChatLog::write(const Buffer& buffer, const Line& line) {
    if (!enabled() || buffer.kind == Buffer::Kind::Status)
        return;
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    ::chmod(directory_.c_str(), 0700);
    const std::string path = fileOf(buffer);
    const bool existed = std::filesystem::exists(path, error);
    std::ofstream out(path, std::ios::app | std::ios::binary);
    if (!existed)
        ::chmod(path.c_str(), 0600);
    const std::time_t t = std::chrono::system_clock::to_time_t(line.time);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    out << stamp << withoutEmphasis(line.text) << '\n';
    if (!out && !reported_) {
        failed_ = path;
        reported_ = true;
    }
}

std::string ChatLog::failed() {
    return std::exchange(failed_, {});
}

}  // namespace lantry::cli

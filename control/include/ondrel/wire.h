// Building blocks of the TOC2 wire format, shared by the control and the local server.
//
// Pure functions on byte strings (one char per byte, codes 0-255); nothing here allocates more
// than its result, throws, or keeps state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lantry::wire {

// FLAP frame types.
enum FrameType : std::uint8_t {
    kFrameSignOn = 1,
    kFrameData = 2,
    kFrameError = 3,
    kFrameSignOff = 4,
    kFrameKeepAlive = 5,
};

constexpr std::size_t kFrameHeaderSize = 6;
constexpr char kFrameMarker = '*';

// The 8-byte greeting a client sends once connected.
constexpr std::string_view kGreeting = "FLAPON\n\n";

// The TOC roasting string; the password travels XORed with it, repeating.
constexpr std::string_view kRoastKey = "Tic/Toc";

// v (0-65535) as two bytes, big-endian; empty text when v is outside that range.
std::string encodeWord(std::int32_t v);
// The first two bytes as an unsigned big-endian number; a missing byte counts as 0.
std::int32_t decodeWord(std::string_view text);

// Appends a frame header: "*", type, sequence and payload length, both big-endian 16 bits.
void appendFrameHeader(std::string& out, std::uint8_t type, std::uint16_t sequence,
                       std::uint16_t length);
// Appends one whole frame: "*", type, sequence (big-endian 16 bits), length, payload. The
// caller keeps payload within 65535 bytes and sequence within 0-65535.
void appendFrame(std::string& out, std::uint8_t type, std::uint16_t sequence,
                 std::string_view payload);

// Length of the whole frame at the start of `stream` (header included), as its length field
// says; when the header is incomplete, missing length bytes count as 0.
inline std::size_t frameLength(std::string_view stream) {
    const auto hi = stream.size() > 4 ? static_cast<unsigned char>(stream[4]) : 0u;
    const auto lo = stream.size() > 5 ? static_cast<unsigned char>(stream[5]) : 0u;
    return kFrameHeaderSize + hi * 256u + lo;
}

// "0x" followed by two lower-case hex digits per byte of the password XOR the roasting key.
std::string roastPassword(std::string_view password);
// The password back from its roasted form; nullopt when the text is not "0x" + hex pairs.
std::optional<std::string> unroastPassword(std::string_view roasted);

// A backslash before each of \ $ " ( ) [ ] { }; every other byte unchanged.
std::string escapeText(std::string_view text);
// A backslash before \ and " only: keeps a verbatim value inside its double quotes.
std::string escapeQuoted(std::string_view text);
// Lower case (A-Z only), every blank (code 32) removed; nothing else changes.
std::string normalizeName(std::string_view name);
// Removes every span from a "<" to the first ">" after it; linear in the text.
std::string removeHtml(std::string_view text);
// The text without leading and trailing blanks (code 32 only).
std::string_view trimBlanks(std::string_view text);

// A decimal integer with optional sign and surrounding blanks, within [min, max]; nullopt for
// anything else (empty, other characters, out of range).
std::optional<std::int64_t> toInteger(std::string_view text, std::int64_t min, std::int64_t max);
inline std::optional<std::int16_t> toInt16(std::string_view text) {
    auto v = toInteger(text, INT16_MIN, INT16_MAX);
    return v ? std::optional<std::int16_t>(static_cast<std::int16_t>(*v)) : std::nullopt;
}
inline std::optional<std::int32_t> toInt32(std::string_view text) {
    auto v = toInteger(text, INT32_MIN, INT32_MAX);
    return v ? std::optional<std::int32_t>(static_cast<std::int32_t>(*v)) : std::nullopt;
}

// A message cut at colons into at most N pieces; the last piece keeps the rest, colons
// included. count is the number of pieces found (0 for an empty text).
template <std::size_t N>
struct Fields {
    bool has(std::size_t i) const { return i < count; }
    // Empty past count.
    std::string_view operator[](std::size_t i) const {
        return i < count ? std::string_view(piece[i].data, piece[i].size) : std::string_view{};
    }
    void add(const char* data, std::size_t size) { piece[count++] = {data, size}; }

    std::size_t count = 0;

private:
    // Left uninitialised: zeroing every slot cost more than cutting a whole message.
    struct Span {
        const char* data;
        std::size_t size;
    };
    std::array<Span, N> piece;
};

template <std::size_t N>
Fields<N> cutFields(std::string_view text) {
    Fields<N> f;
    if (text.empty())
        return f;
    // Fields are a few bytes long: a plain scan beats a library search call per field.
    const char* field = text.data();
    const char* const end = field + text.size();
    for (const char* at = field; f.count + 1 < N && at != end; ++at) {
        if (*at == ':') {
            f.add(field, static_cast<std::size_t>(at - field));
            field = at + 1;
        }
    }
    f.add(field, static_cast<std::size_t>(end - field));
    return f;
}

// The text cut at every colon.
std::vector<std::string_view> cutAllFields(std::string_view text);

// Arguments of a client command line the TOC way: blank-separated, double-quoted where needed,
// backslash escapes removed. nullopt when a quote is left open.
std::optional<std::vector<std::string>> parseArguments(std::string_view line);

}  // namespace lantry::wire

#include "ondrel/wire.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lantry::wire {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The bytes that EscapeText puts a backslash before.
constexpr std::string_view kEscaped = "\\$\"()[]{}";

constexpr auto kNeedsEscape = [] {
    std::array<unsigned char, 256> table{};
    for (const char c : kEscaped)
        table[static_cast<unsigned char>(c)] = 1;
    return table;
}();

unsigned char needsEscape(char c) {
    return kNeedsEscape[static_cast<unsigned char>(c)];
}

// Text is escaped a block of bytes at a time, since outgoing messages and profiles are escaped
// whole on every send: with SSE2 a block is tested in a few instructions, elsewhere byte by
// byte into the same mask.
constexpr std::size_t kBlock = 16;
// Up to this many bytes to escape, a block is cheaper stored whole and then shifted.
constexpr int kFewEscapes = 4;

#if defined(__SSE2__)
// 0xFF in each byte of the block at `in` that needs a backslash, 0 in the others.
__m128i escapeHits(const char* in) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    __m128i hits = _mm_setzero_si128();
    for (const char c : kEscaped)
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(c)));
    return hits;
}
#endif

// Bit i set when byte i of the block at `in` needs a backslash.
std::uint32_t escapeMask(const char* in) {
#if defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(escapeHits(in)));
#else
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
        mask |= std::uint32_t{needsEscape(in[i])} << i;
    return mask;
#endif
}

// How many bytes of the first `blocks` blocks at `in` need a backslash.
std::size_t countEscapes(const char* in, std::size_t blocks) {
    std::size_t count = 0;
#if defined(__SSE2__)
    // Per-byte counters (each hit subtracts -1) summed before any of them can wrap.
    constexpr std::size_t kBeforeWrap = 255;
    for (std::size_t done = 0; done < blocks;) {
        const std::size_t run = std::min(blocks - done, kBeforeWrap);
        __m128i counters = _mm_setzero_si128();
        for (std::size_t b = 0; b < run; ++b)
            counters = _mm_sub_epi8(counters, escapeHits(in + (done + b) * kBlock));
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        done += run;
    }
#else
    for (std::size_t b = 0; b < blocks; ++b)
        count += static_cast<std::size_t>(std::popcount(escapeMask(in + b * kBlock)));
#endif
    return count;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string encodeWord(std::int32_t v) {
    if (v < 0 || v > 0xFFFF)
        return {};
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::int32_t decodeWord(std::string_view text) {
    const int hi = text.size() > 0 ? static_cast<unsigned char>(text[0]) : 0;
    const int lo = text.size() > 1 ? static_cast<unsigned char>(text[1]) : 0;
    return hi * 256 + lo;
}

void appendFrameHeader(std::string& out, std::uint8_t type, std::uint16_t sequence,
                       std::uint16_t length) {
    const char header[kFrameHeaderSize] = {
        kFrameMarker,
        static_cast<char>(type),
        static_cast<char>(sequence >> 8),
        static_cast<char>(sequence & 0xFF),
        static_cast<char>(length >> 8),
        static_cast<char>(length & 0xFF),
    };
    out.append(header, kFrameHeaderSize);
}

void appendFrame(std::string& out, std::uint8_t type, std::uint16_t sequence,
                 std::string_view payload) {
    appendFrameHeader(out, type, sequence, static_cast<std::uint16_t>(payload.size()));
    out.append(payload);
}

std::string roastPassword(std::string_view password) {
    std::string out;
    out.reserve(2 + 2 * password.size());
    out += "0x";
    for (std::size_t i = 0; i < password.size(); ++i) {
        const auto v = static_cast<unsigned char>(password[i]) ^
                       static_cast<unsigned char>(kRoastKey[i % kRoastKey.size()]);
        out += kHexDigits[v >> 4];
        out += kHexDigits[v & 0x0F];
    }
    return out;
}

std::optional<std::string> unroastPassword(std::string_view roasted) {
    if (roasted.size() < 2 || roasted[0] != '0' || (roasted[1] != 'x' && roasted[1] != 'X') ||
        roasted.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string out;
    out.reserve((roasted.size() - 2) / 2);
    for (std::size_t i = 2; i < roasted.size(); i += 2) {
        const int hi = hexValue(roasted[i]);
        const int lo = hexValue(roasted[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        const auto key = static_cast<unsigned char>(kRoastKey[out.size() % kRoastKey.size()]);
        out += static_cast<char>((hi * 16 + lo) ^ key);
    }
    return out;
}

std::string escapeText(std::string_view text) {
    const char* in = text.data();
    const std::size_t size = text.size();
    std::size_t extra = countEscapes(in, size / kBlock);
    for (std::size_t at = size / kBlock * kBlock; at < size; ++at)
        extra += needsEscape(in[at]);
    if (extra == 0)
        return std::string(text);

    std::string out;
    out.resize(size + extra);
    char* p = out.data();
    std::size_t at = 0;
    // A block with few bytes to escape is stored whole; then, for each byte to escape, the block
    // from that byte on is stored again one place further and the backslash written in the gap.
    // Stores reach up to one block past the block's own output, into what the bytes after it will
    // overwrite, so the loop stops while at least one whole block of input is left for the tail. A
    // block with more goes byte by byte, which is then cheaper than storing it again and again.
    for (; at + 2 * kBlock <= size; at += kBlock) {
        std::uint32_t mask = escapeMask(in + at);
        if (std::popcount(mask) > kFewEscapes) {
            for (std::size_t i = 0; i < kBlock; ++i) {
                *p = '\\';
                p += (mask >> i) & 1;
                *p++ = in[at + i];
            }
            continue;
        }
        std::memcpy(p, in + at, kBlock);
        std::size_t shift = 0;
        for (; mask != 0; mask &= mask - 1) {
            const auto i = static_cast<std::size_t>(std::countr_zero(mask));
            ++shift;
            std::memcpy(p + i + shift, in + at + i, kBlock);
            p[i + shift - 1] = '\\';
        }
        p += kBlock + shift;
    }
    for (; at < size; ++at) {
        // Branch-free: the backslash is always written and kept only when needed.
        *p = '\\';
        p += needsEscape(in[at]);
        *p++ = in[at];
    }
    return out;
}

std::string escapeQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string normalizeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        if (c == ' ')
            continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

std::string removeHtml(std::string_view text) {
    // One pass gives the same result as removing the leftmost "<...>" span again and again:
    // after a removal the next "<" can only lie after the ">" that ended the span.
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto open = text.find('<', pos);
        if (open == std::string_view::npos)
            break;
        const auto close = text.find('>', open + 1);
        if (close == std::string_view::npos)
            break;
        out.append(text.substr(pos, open - pos));
        pos = close + 1;
    }
    out.append(text.substr(pos));
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::optional<std::int64_t> toInteger(std::string_view text, std::int64_t min, std::int64_t max) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    constexpr std::int64_t kCeiling = std::int64_t{1} << 40;  // far beyond every width we read
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kCeiling)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> cutAllFields(std::string_view text) {
    std::vector<std::string_view> out;
    if (text.empty())
        return out;
    for (;;) {
        const auto colon = text.find(':');
        if (colon == std::string_view::npos)
            break;
        out.push_back(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    out.push_back(text);
    return out;
}

std::optional<std::vector<std::string>> parseArguments(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && line[i] == ' ')
            ++i;
        if (i >= n)
            break;
        std::string arg;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                const char c = line[i++];
                if (c == '\\' && i < n) {
                    arg += line[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    arg += c;
                }
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < n && line[i] != ' ') {
                const char c = line[i++];
                if (c == '\\' && i < n) {
                    arg += line[i++];
                } else {
                    arg += c;
                }
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace lantry::wire

// Outgoing text: EscapeText against a plain copy of the same text, and every kind of command
// line built and framed for arguments of growing size.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "bench_support.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace {

using ondrel_bench::StreamSocket;

// Ordinary chat text: about one byte in 25 needs a backslash.
std::string chatText(std::size_t size) {
    const std::string_view pattern = "Hello (again)! Meet me at {the} usual place, ok? ";
    std::string out;
    out.reserve(size);
    while (out.size() < size)
        out += pattern.substr(0, std::min(pattern.size(), size - out.size()));
    return out;
}

// Every byte needs a backslash: the output is twice the input.
std::string worstText(std::size_t size) {
    return std::string(size, '"');
}

void Text_PlainCopy(benchmark::State& state) {
    const std::string text = chatText(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string copy(text);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
void Text_EscapeText(benchmark::State& state) {
    const std::string text = chatText(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string escaped = lantry::wire::escapeText(text);
        benchmark::DoNotOptimize(escaped.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
void Text_EscapeTextWorst(benchmark::State& state) {
    const std::string text = worstText(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string escaped = lantry::wire::escapeText(text);
        benchmark::DoNotOptimize(escaped.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
void textSizes(benchmark::internal::Benchmark* b) {
    for (const long n : {64L, 1024L, 16384L, 65536L})
        b->Arg(n);
}
BENCHMARK(Text_PlainCopy)->Apply(textSizes);
BENCHMARK(Text_EscapeText)->Apply(textSizes);
BENCHMARK(Text_EscapeTextWorst)->Apply(textSizes);

// One command of the control with an argument of range(0) bytes, built, framed and handed to
// the socket.
using CommandCall = std::function<void(lantry::Ondrel&, const std::string&)>;

void Command(benchmark::State& state, const CommandCall& command) {
    const std::string arg = chatText(static_cast<std::size_t>(state.range(0)));
    auto owned = std::make_unique<StreamSocket>();
    StreamSocket* sock = owned.get();
    lantry::Ondrel control(std::move(owned));
    control.Login("bench", "pw", "127.0.0.1", 5190);
    sock->connectNow();
    const auto before = sock->sentBytes;
    for (auto _ : state) {
        command(control, arg);
    }
    if (sock->sentBytes == before)
        state.SkipWithError("the command sent nothing");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * arg.size()));
}

// Up to what the command limit lets through when an argument of chat text is used twice
// (about 8 % of it escaped); a longer command is refused, not sent.
void commandSizes(benchmark::internal::Benchmark* b) {
    for (long n = 56; n <= 896; n *= 2)
        b->Arg(n);
}

BENCHMARK_CAPTURE(Command, SendIM, [](lantry::Ondrel& c, const std::string& a) {
    c.SendIM("Some Buddy", a, false);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, SendIMToLongName, [](lantry::Ondrel& c, const std::string& a) {
    c.SendIM(a, "hi", false);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, SendChat, [](lantry::Ondrel& c, const std::string& a) {
    c.SendChat("", a, 1234);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, InviteUsers, [](lantry::Ondrel& c, const std::string& a) {
    c.InviteUsers("", a, a, 1234);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, JoinChat, [](lantry::Ondrel& c, const std::string& a) {
    c.JoinChat(a, 4);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, SetProfile, [](lantry::Ondrel& c, const std::string& a) {
    c.SetProfile(a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, SetAwayMessage, [](lantry::Ondrel& c, const std::string& a) {
    c.SetAwayMessage(a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, AddBuddy, [](lantry::Ondrel& c, const std::string& a) {
    c.AddBuddy(a, a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, RemoveBuddy, [](lantry::Ondrel& c, const std::string& a) {
    c.RemoveBuddy(a, a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, FormatUserName, [](lantry::Ondrel& c, const std::string& a) {
    c.FormatUserName(a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, SetCapability, [](lantry::Ondrel& c, const std::string& a) {
    c.SetCapability(a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, ChangePassword, [](lantry::Ondrel& c, const std::string& a) {
    c.ChangePassword(a, a);
})->Apply(commandSizes);
BENCHMARK_CAPTURE(Command, BlockUser, [](lantry::Ondrel& c, const std::string& a) {
    c.BlockUser(a);
})->Apply(commandSizes);

}  // namespace

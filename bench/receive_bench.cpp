// The receive path: bytes arriving -> frames -> keyword dispatch -> events, with a host that
// does nothing, against the copy baseline and the literal algorithm, in three read sizes; and
// the scaling of the burst, of one configuration and of RemoveHtml.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench_support.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"
#include "ondrel/wire.h"

namespace {

using ondrel_bench::StreamSocket;

constexpr std::size_t kMiB = 1u << 20;

// Overrides nothing: every event runs the empty default body.
class IdleHost final : public lantry::__Ondrel {};

struct Connected {
    IdleHost host;
    StreamSocket* sock = nullptr;
    std::unique_ptr<lantry::Ondrel> control;

    Connected() {
        auto owned = std::make_unique<StreamSocket>();
        sock = owned.get();
        control = std::make_unique<lantry::Ondrel>(std::move(owned), &host);
        control->Login("Bench User", "password", "127.0.0.1", 5190);
        sock->connectNow();
    }
};

void setBytes(benchmark::State& state, std::size_t perIteration, std::size_t frames) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * perIteration));
    state.counters["frames"] = static_cast<double>(frames);
}

void Receive_Control(benchmark::State& state) {
    const auto readSize = static_cast<std::size_t>(state.range(0));
    const std::string burst = ondrel_bench::imBurst(static_cast<std::size_t>(state.range(1)));
    Connected c;
    for (auto _ : state) {
        c.sock->deliver(burst, readSize);
    }
    setBytes(state, burst.size(), burst.size() / 60);
}

// A baseline framer fed the same burst in the same reads as Receive_Control.
template <typename Framer>
void receiveThrough(benchmark::State& state) {
    const auto readSize = static_cast<std::size_t>(state.range(0));
    const std::string burst = ondrel_bench::imBurst(static_cast<std::size_t>(state.range(1)));
    Framer framer;
    const auto step = readSize == 0 ? burst.size() : readSize;
    for (auto _ : state) {
        for (std::size_t at = 0; at < burst.size(); at += step) {
            framer.feed(std::string_view(burst).substr(at, step),
                        [](const std::string& frame) { benchmark::DoNotOptimize(frame.data()); });
        }
    }
    setBytes(state, burst.size(), burst.size() / 60);
}

void Receive_CopyBaseline(benchmark::State& state) {
    receiveThrough<ondrel_bench::CopyFramer>(state);
}

void Receive_LiteralBaseline(benchmark::State& state) {
    receiveThrough<ondrel_bench::LiteralFramer>(state);
}

// Read sizes: 1 byte, one Ethernet segment, and the whole burst in one read (0).
void readSizes(benchmark::internal::Benchmark* b) {
    for (const long read : {1L, 1460L, 0L})
        b->Args({read, static_cast<long>(kMiB)});
}

BENCHMARK(Receive_Control)->Apply(readSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(Receive_CopyBaseline)->Apply(readSizes)->Unit(benchmark::kMillisecond);
// The whole-burst case is quadratic; a fixed count keeps the run short.
BENCHMARK(Receive_LiteralBaseline)
    ->Args({1, static_cast<long>(kMiB)})
    ->Args({1460, static_cast<long>(kMiB)})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Receive_LiteralBaseline)
    ->Args({0, static_cast<long>(kMiB)})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Scaling of one whole burst, 64 KiB to 8 MiB, through the control and the literal algorithm.
void ScaleBurst_Control(benchmark::State& state) {
    const std::string burst = ondrel_bench::imBurst(static_cast<std::size_t>(state.range(0)));
    Connected c;
    for (auto _ : state) {
        c.sock->deliver(burst, 0);
    }
    setBytes(state, burst.size(), burst.size() / 60);
}
BENCHMARK(ScaleBurst_Control)
    ->RangeMultiplier(2)
    ->Range(64 << 10, 8 << 20)
    ->Unit(benchmark::kMicrosecond);

void ScaleBurst_Literal(benchmark::State& state) {
    const std::string burst = ondrel_bench::imBurst(static_cast<std::size_t>(state.range(0)));
    ondrel_bench::LiteralFramer framer;
    for (auto _ : state) {
        framer.feed(burst,
                    [](const std::string& frame) { benchmark::DoNotOptimize(frame.data()); });
    }
    setBytes(state, burst.size(), burst.size() / 60);
}
BENCHMARK(ScaleBurst_Literal)
    ->RangeMultiplier(2)
    ->Range(64 << 10, 1 << 20)
    ->Iterations(2)
    ->Unit(benchmark::kMicrosecond);

// One sign-on whose configuration holds range(0) buddies; the fixed part (sign-on frame, NICK,
// LoggedIn, toc_init_done) is included, which flattens the curve at the small end.
void ScaleConfig_Buddies(benchmark::State& state) {
    const auto buddies = static_cast<std::size_t>(state.range(0));
    const std::string stream = ondrel_bench::signOnStream(buddies);
    Connected c;
    for (auto _ : state) {
        c.sock->deliver(stream, 0);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * buddies));
    state.counters["bytes"] = static_cast<double>(stream.size());
}
// 0 buddies measures the fixed part alone, so the report can show the cost per line.
void buddyCounts(benchmark::internal::Benchmark* b) {
    b->Arg(0);
    for (long n = 10; n <= 100000; n *= 2)
        b->Arg(n);
    b->Arg(100000);
}
BENCHMARK(ScaleConfig_Buddies)->Apply(buddyCounts)->Unit(benchmark::kMicrosecond);

void ScaleRemoveHtml_Tags(benchmark::State& state) {
    const auto tags = static_cast<std::size_t>(state.range(0));
    std::string text;
    for (std::size_t i = 0; i < tags / 2; ++i)
        text += "<b>word</b> ";
    for (auto _ : state) {
        benchmark::DoNotOptimize(lantry::Ondrel::RemoveHtml(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * tags));
}
BENCHMARK(ScaleRemoveHtml_Tags)
    ->RangeMultiplier(2)
    ->Range(1 << 10, 1 << 20)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

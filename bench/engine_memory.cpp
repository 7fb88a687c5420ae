// Heap held by the control: counts every allocation of the process and reports
// - the heap a signed-on control holds of its own after an ordinary configuration, and
// - the peak heap the control adds while it takes one burst, against one frame plus one read.
// Prints one "name value" line per figure; exits 1 when a figure exceeds its bound.
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "bench_support.h"
#include "ondrel/events.h"
#include "ondrel/ondrel.h"

namespace {

std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* countedAlloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    const auto now = liveBytes.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    auto peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void countedFree(void* p) {
    if (p == nullptr)
        return;
    liveBytes.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

void resetPeak() {
    peakBytes.store(liveBytes.load());
}

class IdleHost final : public lantry::__Ondrel {};

}  // namespace

void* operator new(std::size_t size) {
    return countedAlloc(size);
}
void* operator new[](std::size_t size) {
    return countedAlloc(size);
}
void operator delete(void* p) noexcept {
    countedFree(p);
}
void operator delete[](void* p) noexcept {
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    countedFree(p);
}

int main() {
    constexpr std::size_t kOwnLimit = 64u << 10;
    int status = 0;

    // An ordinary account: 150 buddies in 3 groups, a few permits and denies, preferences.
    const std::string signOn = ondrel_bench::signOnStream(150);
    IdleHost host;
    {
        const auto start = liveBytes.load();
        auto owned = std::make_unique<ondrel_bench::StreamSocket>();
        auto* sock = owned.get();
        const auto socketBytes = liveBytes.load() - start;
        auto control = std::make_unique<lantry::Ondrel>(std::move(owned), &host);
        control->Login("Memory User", "password", "127.0.0.1", 5190);
        sock->connectNow();
        resetPeak();
        sock->deliver(signOn, 1460);
        const auto own = liveBytes.load() - start - socketBytes;
        std::printf("signed_on_heap_bytes %zu\n", own);
        std::printf("signed_on_peak_bytes %zu\n", peakBytes.load() - start - socketBytes);
        std::printf("signed_on_config_bytes %zu\n", signOn.size());
        if (own >= kOwnLimit)
            status = 1;
    }

    // One whole burst of 60-byte frames: a read is the socket's, the rest is the control's.
    const std::string frame = ondrel_bench::typicalImFrame();
    for (const std::size_t readSize : {std::size_t{1460}, std::size_t{64} << 10, std::size_t{0}}) {
        const std::string burst = ondrel_bench::imBurst(1u << 20);
        auto owned = std::make_unique<ondrel_bench::StreamSocket>();
        auto* sock = owned.get();
        lantry::Ondrel control(std::move(owned), &host);
        control.Login("Memory User", "password", "127.0.0.1", 5190);
        sock->connectNow();
        const auto start = liveBytes.load();
        resetPeak();
        sock->deliver(burst, readSize);
        const std::size_t read = readSize == 0 ? burst.size() : readSize;
        const auto peak = peakBytes.load() - start;
        std::printf("burst_read_%zu_peak_bytes %zu (one read %zu + one frame %zu = %zu)\n", read,
                    peak, read, frame.size(), read + frame.size());
        // Allocator rounding and the event's own copies of one frame are allowed for.
        if (peak > read + 4 * frame.size() + 256)
            status = 1;
    }
    return status;
}

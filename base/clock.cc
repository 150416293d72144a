#include "base/clock.h"

#include <atomic>

namespace {

std::time_t SystemNow() {
    return std::time(nullptr);
}

// Constant-initialised so that the clock works during library load and unload.
std::atomic<TslClockFn> g_clock{&SystemNow};

}  // namespace

std::time_t TslNow() {
    return g_clock.load(std::memory_order_relaxed)();
}

void TslSetClock(TslClockFn clock) {
    g_clock.store(clock != nullptr ? clock : &SystemNow, std::memory_order_relaxed);
}

#include "framework/TimeSource.h"

#include <atomic>
#include <ctime>

namespace {

uint32_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

std::atomic<TimeFunction> g_timeFunction{&monotonicMs};

}  // namespace

uint32_t currentTimeMs() { return g_timeFunction.load(std::memory_order_relaxed)(); }

void setTimeFunction(TimeFunction f) { g_timeFunction.store(f ? f : &monotonicMs); }

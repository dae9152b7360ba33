#include "framework/TimeSource.h"

#include <atomic>
#include <ctime>

namespace {

uint64_t readMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// The coarse clock lags the precise one by up to one kernel tick. After a switch from
// the precise clock the tick count is held at the last precise reading until it
// catches up, so that clocks read across the switch never see time run backwards.
std::atomic<uint64_t> g_tickFloor{0};
std::atomic<SystemClock> g_clock{SystemClock::TickCount};
std::atomic<TimeFunction> g_override{nullptr};

uint64_t tickCount64() {
    uint64_t coarse = readMs(CLOCK_MONOTONIC_COARSE);
    uint64_t floor = g_tickFloor.load(std::memory_order_relaxed);
    return coarse < floor ? floor : coarse;
}

}  // namespace

uint32_t tickCountMs() {
    return static_cast<uint32_t>(tickCount64());
}

uint32_t multimediaTimeMs() {
    return static_cast<uint32_t>(readMs(CLOCK_MONOTONIC));
}

uint32_t currentTimeMs() {
    if (TimeFunction f = g_override.load(std::memory_order_acquire)) return f();
    return g_clock.load(std::memory_order_relaxed) == SystemClock::MultimediaTimer ? multimediaTimeMs() : tickCountMs();
}

void selectSystemClock(SystemClock clock) {
    if (clock == SystemClock::TickCount) {
        uint64_t precise = readMs(CLOCK_MONOTONIC);
        uint64_t floor = g_tickFloor.load();
        while (floor < precise && !g_tickFloor.compare_exchange_weak(floor, precise)) {
        }
    }
    g_clock.store(clock);
}

SystemClock selectedSystemClock() {
    return g_clock.load();
}

void setTimeFunction(TimeFunction f) {
    g_override.store(f, std::memory_order_release);
}

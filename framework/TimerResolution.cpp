#include "framework/TimerResolution.h"

#include <sys/prctl.h>

#include <atomic>
#include <ctime>
#include <mutex>

#include "framework/TimeSource.h"

namespace {

std::mutex g_mutex;
uint32_t g_count = 0;
std::atomic<uint32_t> g_period{0};
std::atomic<TimerResolution::CapabilityQuery> g_query{nullptr};

// Largest delay a one-shot timer accepts, as the multimedia timer reports it.
constexpr uint32_t kMaxPeriodMs = 1000000;
// The kernel's timer slack in ns: 1 asks for the finest it can do.
constexpr unsigned long kFinestSlackNs = 1;

}  // namespace

bool TimerResolution::deviceCapabilities(Capabilities& caps) {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0) return false;
    uint64_t ns = static_cast<uint64_t>(res.tv_sec) * 1000000000u + static_cast<uint64_t>(res.tv_nsec);
    uint64_t ms = (ns + 999999u) / 1000000u;
    caps.periodMin = ms < 1 ? 1 : static_cast<uint32_t>(ms);
    caps.periodMax = kMaxPeriodMs;
    return true;
}

void TimerResolution::setCapabilityQuery(CapabilityQuery query) {
    g_query.store(query);
}

void TimerResolution::acquire(uint32_t flag) {
    std::lock_guard<std::mutex> g(g_mutex);
    if (g_count++ != 0 || flag != 0) return;
    Capabilities caps;
    CapabilityQuery query = g_query.load();
    bool ok = query ? query(caps) : deviceCapabilities(caps);
    if (!ok || caps.periodMin > 5) return;
    selectSystemClock(SystemClock::MultimediaTimer);
    g_period.store(caps.periodMin + 1);
    applyToCurrentThread();
}

void TimerResolution::release() {
    std::lock_guard<std::mutex> g(g_mutex);
    if (g_count == 0) return;  // unbalanced release: nothing to undo
    if (--g_count != 0) return;
    selectSystemClock(SystemClock::TickCount);
    if (g_period.exchange(0) != 0) applyToCurrentThread();
}

uint32_t TimerResolution::referenceCount() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_count;
}

uint32_t TimerResolution::period() {
    return g_period.load();
}

void TimerResolution::applyToCurrentThread() {
    // 0 gives the thread back its default slack.
    prctl(PR_SET_TIMERSLACK, g_period.load() != 0 ? kFinestSlackNs : 0UL, 0UL, 0UL, 0UL);
}

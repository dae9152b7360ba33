#pragma once
// One-shot timers: a callback runs once, on the timer thread, after a delay. One timer
// thread serves all timers of a service from a deadline queue, so callbacks run one
// at a time; a slow callback delays the others.
//
// kill() is final: once it returns, the callback is not running and never will run.
// The one exception is a callback killing its own timer, which returns at once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "framework/NativeThread.h"

class OneShotTimer {
public:
    using Callback = void (*)(uint32_t id, void* context);

    // Delays outside the multimedia timer's range are refused.
    static constexpr uint32_t kMinDelayMs = 1;
    static constexpr uint32_t kMaxDelayMs = 1000000;

    OneShotTimer();
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;
    // Pending timers never fire; waits for a running callback. Not from a callback.
    ~OneShotTimer();

    // The process-wide service.
    static OneShotTimer& instance();

    // Id (never 0) of a timer that calls callback(id, context) once after delayMs;
    // 0 when the delay is out of range, the callback is null or no thread could run it.
    uint32_t schedule(uint32_t delayMs, Callback callback, void* context);
    // True when the timer was pending (now cancelled) or its callback was running (it
    // has now returned); false for an unknown, fired or already killed id.
    bool kill(uint32_t id);

    size_t pendingCount() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point due;
        Callback callback;
        void* context;
    };

    static void threadEntry(void* self);
    void timerLoop();
    uint32_t allocateId();  // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable changed_;       // wakes the timer thread
    std::condition_variable callbackDone_;  // wakes kill() waiting for a callback
    std::map<uint32_t, Entry> timers_;
    std::set<std::pair<Clock::time_point, uint32_t>> deadlines_;
    uint32_t nextId_ = 1;
    uint32_t runningId_ = 0;
    bool quit_ = false;
    NativeThread thread_;
};

#include "framework/OneShotTimer.h"

#include "framework/TimerResolution.h"

OneShotTimer::OneShotTimer() = default;

OneShotTimer::~OneShotTimer() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        quit_ = true;
        timers_.clear();
        deadlines_.clear();
        changed_.notify_all();
    }
    thread_.join();
}

OneShotTimer& OneShotTimer::instance() {
    static OneShotTimer service;
    return service;
}

uint32_t OneShotTimer::allocateId() {
    for (;;) {
        uint32_t id = nextId_++;
        if (id != 0 && id != runningId_ && timers_.find(id) == timers_.end()) return id;
    }
}

uint32_t OneShotTimer::schedule(uint32_t delayMs, Callback callback, void* context) {
    if (!callback || delayMs < kMinDelayMs || delayMs > kMaxDelayMs) return 0;
    std::lock_guard<std::mutex> g(mutex_);
    if (quit_) return 0;
    if (!thread_.exists() && !thread_.create(&OneShotTimer::threadEntry, this)) return 0;
    uint32_t id = allocateId();
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(delayMs);
    timers_.emplace(id, Entry{due, callback, context});
    deadlines_.emplace(due, id);
    changed_.notify_all();
    return id;
}

bool OneShotTimer::kill(uint32_t id) {
    if (id == 0) return false;
    std::unique_lock<std::mutex> g(mutex_);
    auto it = timers_.find(id);
    if (it != timers_.end()) {
        deadlines_.erase({it->second.due, id});
        timers_.erase(it);
        changed_.notify_all();
        return true;
    }
    if (runningId_ != id) return false;
    if (thread_.isCurrent()) return true;  // from its own callback
    callbackDone_.wait(g, [&] { return runningId_ != id; });
    return true;
}

size_t OneShotTimer::pendingCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return timers_.size();
}

void OneShotTimer::threadEntry(void* self) {
    static_cast<OneShotTimer*>(self)->timerLoop();
}

void OneShotTimer::timerLoop() {
    uint32_t resolution = TimerResolution::period();
    std::unique_lock<std::mutex> g(mutex_);
    while (!quit_) {
        // Follow the process resolution: it may be raised after this thread began.
        if (uint32_t now = TimerResolution::period(); now != resolution) {
            resolution = now;
            TimerResolution::applyToCurrentThread();
        }
        if (deadlines_.empty()) {
            changed_.wait(g);
            continue;
        }
        auto [due, id] = *deadlines_.begin();
        if (Clock::now() < due) {
            changed_.wait_until(g, due);
            continue;
        }
        deadlines_.erase(deadlines_.begin());
        auto it = timers_.find(id);
        Entry entry = it->second;
        timers_.erase(it);
        runningId_ = id;
        g.unlock();
        entry.callback(id, entry.context);
        g.lock();
        runningId_ = 0;
        callbackDone_.notify_all();
    }
}

#include "platform/dshow/AdviseScheduler.h"

#include <algorithm>
#include <chrono>
#include <limits>

AdviseScheduler::AdviseScheduler(TimeFunction now, bool realTime) : now_(std::move(now)), realTime_(realTime) {
    thread_ = std::thread([this] { run(); });
}

AdviseScheduler::~AdviseScheduler() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

DWORD_PTR AdviseScheduler::adviseTime(REFERENCE_TIME when, Event* event) {
    if (!event) return 0;
    std::lock_guard<std::mutex> g(mutex_);
    DWORD_PTR cookie = nextCookie_++;
    requests_.push_back({cookie, when, 0, event, nullptr});
    ++changes_;
    cv_.notify_all();
    return cookie;
}

DWORD_PTR AdviseScheduler::advisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, Semaphore* semaphore) {
    if (!semaphore || period <= 0) return 0;
    std::lock_guard<std::mutex> g(mutex_);
    DWORD_PTR cookie = nextCookie_++;
    requests_.push_back({cookie, start, period, nullptr, semaphore});
    ++changes_;
    cv_.notify_all();
    return cookie;
}

bool AdviseScheduler::unadvise(DWORD_PTR cookie) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = std::find_if(requests_.begin(), requests_.end(), [&](const Request& r) { return r.cookie == cookie; });
    if (it == requests_.end()) return false;
    requests_.erase(it);
    ++changes_;
    return true;
}

void AdviseScheduler::timeChanged() {
    std::lock_guard<std::mutex> g(mutex_);
    ++changes_;
    cv_.notify_all();
}

size_t AdviseScheduler::pendingCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return requests_.size();
}

bool AdviseScheduler::fireDue(REFERENCE_TIME now, REFERENCE_TIME& next) {
    next = std::numeric_limits<REFERENCE_TIME>::max();
    bool any = false;
    for (size_t i = 0; i < requests_.size();) {
        Request& r = requests_[i];
        if (r.when <= now) {
            if (r.period == 0) {
                r.event->set();
                requests_.erase(requests_.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            // A periodic request that fell behind releases once per missed period, as
            // a consumer counting ticks expects; the semaphore's maximum bounds it.
            while (r.when <= now) {
                r.semaphore->release();
                r.when += r.period;
            }
        }
        next = std::min(next, r.when);
        any = true;
        ++i;
    }
    return any;
}

void AdviseScheduler::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        uint64_t seen = changes_;
        REFERENCE_TIME next = 0;
        bool pending = fireDue(now_(), next);
        if (quit_) break;
        auto changed = [&] { return quit_ || changes_ != seen; };
        if (!pending || !realTime_) {
            cv_.wait(lock, changed);
        } else {
            REFERENCE_TIME delta = next - now_();
            if (delta <= 0) continue;
            cv_.wait_for(lock, std::chrono::nanoseconds(delta * 100), changed);
        }
    }
}

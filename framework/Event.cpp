#include "framework/Event.h"

#include <algorithm>
#include <chrono>

namespace detail {
// One thread waiting on several events: each event it waits on pokes it when set.
struct EventWaiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool poked = false;
};
}  // namespace detail

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point deadlineAfter(uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}
}  // namespace

Event::Event(Reset mode) : manual_(mode == Reset::Manual) {}

Event::~Event() {
    if (flag_.load()) reset();
}

void Event::set() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        signalled_ = true;
        flag_.store(true, std::memory_order_release);
        // Poke while the event's lock is held so a waiter cannot unregister and vanish
        // meanwhile.
        for (detail::EventWaiter* w : waiters_) {
            std::lock_guard<std::mutex> wg(w->mutex);
            w->poked = true;
            w->cv.notify_all();
        }
        // Notify before unlocking: a waiter that returns may destroy the event at once.
        if (manual_)
            cv_.notify_all();
        else
            cv_.notify_one();
    }
}

void Event::reset() {
    std::lock_guard<std::mutex> g(mutex_);
    signalled_ = false;
    flag_.store(false, std::memory_order_release);
}

bool Event::tryConsume() {
    if (!signalled_) return false;
    if (!manual_) {
        signalled_ = false;
        flag_.store(false, std::memory_order_release);
    }
    return true;
}

bool Event::wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(mutex_);
    if (ms == INFINITE) {
        cv_.wait(g, [this] { return signalled_; });
    } else if (!cv_.wait_until(g, deadlineAfter(ms), [this] { return signalled_; })) {
        return false;
    }
    return tryConsume();
}

void Event::addWaiter(detail::EventWaiter* w) {
    std::lock_guard<std::mutex> g(mutex_);
    waiters_.push_back(w);
}

void Event::removeWaiter(detail::EventWaiter* w) {
    std::lock_guard<std::mutex> g(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), w), waiters_.end());
}

int Event::waitAny(std::initializer_list<Event*> events, uint32_t ms) {
    return waitAny(std::vector<Event*>(events), ms);
}

int Event::waitAny(const std::vector<Event*>& events, uint32_t ms) {
    detail::EventWaiter waiter;
    for (Event* e : events) e->addWaiter(&waiter);
    auto deadline = deadlineAfter(ms == INFINITE ? 0 : ms);
    int found = -1;
    for (;;) {
        for (size_t i = 0; i < events.size() && found < 0; ++i) {
            std::lock_guard<std::mutex> g(events[i]->mutex_);
            if (events[i]->tryConsume()) found = static_cast<int>(i);
        }
        if (found >= 0) break;
        std::unique_lock<std::mutex> g(waiter.mutex);
        if (ms == INFINITE) {
            waiter.cv.wait(g, [&] { return waiter.poked; });
        } else if (!waiter.cv.wait_until(g, deadline, [&] { return waiter.poked; })) {
            break;
        }
        waiter.poked = false;
    }
    for (Event* e : events) e->removeWaiter(&waiter);
    return found;
}

Semaphore::Semaphore(long initial, long maximum) : count_(initial), maximum_(maximum) {}

bool Semaphore::release(long n) {
    std::lock_guard<std::mutex> g(mutex_);
    if (n <= 0 || n > maximum_ - count_) return false;
    count_ += n;
    // Notify under the lock: a waiter that returns may destroy the semaphore at once.
    if (n == 1)
        cv_.notify_one();
    else
        cv_.notify_all();
    return true;
}

bool Semaphore::wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(mutex_);
    auto ready = [this] { return count_ > 0; };
    if (ms == INFINITE)
        cv_.wait(g, ready);
    else if (!cv_.wait_until(g, deadlineAfter(ms), ready))
        return false;
    --count_;
    return true;
}

long Semaphore::count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return count_;
}

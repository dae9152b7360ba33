#pragma once
// Events (manual- or auto-reset) and counting semaphores, with waits in milliseconds
// (INFINITE = no limit), and a wait for the first of several events.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "framework/WinTypes.h"

namespace detail {
struct EventWaiter;
}

class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset mode = Reset::Manual);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event();

    virtual void set();
    virtual void reset();
    // True when signalled within ms; an auto-reset event is consumed by the wait.
    virtual bool wait(uint32_t ms);
    // Whether this object set the event (and has not reset it since).
    virtual bool isSet() const { return flag_.load(std::memory_order_acquire); }
    // The event itself stands as its handle here.
    Event* handle() { return this; }

    // Waits until any of the events is signalled; returns its index, or -1 when ms ran out.
    static int waitAny(std::initializer_list<Event*> events, uint32_t ms);
    static int waitAny(const std::vector<Event*>& events, uint32_t ms);

private:
    bool tryConsume();  // with mutex_ held
    void addWaiter(detail::EventWaiter* w);
    void removeWaiter(detail::EventWaiter* w);

    const bool manual_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    std::atomic<bool> flag_{false};
    std::vector<detail::EventWaiter*> waiters_;
};

class Semaphore {
public:
    Semaphore(long initial, long maximum);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;
    virtual ~Semaphore() = default;

    // False (and no change) when the count would pass the maximum.
    virtual bool release(long n);
    virtual bool release() { return release(1); }
    // True when a unit was acquired within ms.
    virtual bool wait(uint32_t ms);

    long count() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    long count_;
    const long maximum_;
};

#pragma once
// The advise list of a reference clock: one-shot requests that set an event and periodic
// requests that release a semaphore, served by one scheduler thread. The owner supplies
// the clock's time; a clock whose time jumps by hand (a test clock, a clock driven by
// consumed audio) calls timeChanged() so the thread looks at the list again.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Event.h"
#include "framework/WinTypes.h"

class AdviseScheduler {
public:
    using TimeFunction = std::function<REFERENCE_TIME()>;
    // realTime: time advances on its own at one 100-ns unit per 100 ns, so the thread may
    // sleep until the next deadline; otherwise it sleeps until timeChanged().
    AdviseScheduler(TimeFunction now, bool realTime);
    ~AdviseScheduler();
    AdviseScheduler(const AdviseScheduler&) = delete;
    AdviseScheduler& operator=(const AdviseScheduler&) = delete;

    // Cookie (never 0) of a request that sets `event` once the time reaches `when`.
    DWORD_PTR adviseTime(REFERENCE_TIME when, Event* event);
    // Cookie of a request that releases `semaphore` at start, start + period, ...
    DWORD_PTR advisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, Semaphore* semaphore);
    // False when the cookie is unknown (already fired or removed).
    bool unadvise(DWORD_PTR cookie);
    void timeChanged();
    size_t pendingCount() const;

private:
    struct Request {
        DWORD_PTR cookie;
        REFERENCE_TIME when;
        REFERENCE_TIME period;  // 0 for a one-shot request
        Event* event;
        Semaphore* semaphore;
    };
    void run();
    // With mutex_ held: fires what is due, returns the earliest remaining deadline.
    bool fireDue(REFERENCE_TIME now, REFERENCE_TIME& next);

    TimeFunction now_;
    const bool realTime_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Request> requests_;
    DWORD_PTR nextCookie_ = 1;
    uint64_t changes_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "framework/Event.h"
#include "framework/OneShotTimer.h"

namespace {

struct Fired {
    std::atomic<int> count{0};
    std::atomic<uint32_t> id{0};
    Event done{Event::Reset::Manual};
    static void callback(uint32_t id, void* context) {
        auto* f = static_cast<Fired*>(context);
        f->id = id;
        ++f->count;
        f->done.set();
    }
};

TEST(OneShotTimer, FiresOnceAfterItsDelay) {
    OneShotTimer timers;
    Fired f;
    auto before = std::chrono::steady_clock::now();
    uint32_t id = timers.schedule(5, &Fired::callback, &f);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(f.done.wait(INFINITE));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(5));
    EXPECT_EQ(f.id, id);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(f.count, 1);
    EXPECT_FALSE(timers.kill(id)) << "a fired timer is gone";
    EXPECT_EQ(timers.pendingCount(), 0u);
}

TEST(OneShotTimer, RefusesBadRequests) {
    OneShotTimer timers;
    Fired f;
    EXPECT_EQ(timers.schedule(0, &Fired::callback, &f), 0u);
    EXPECT_EQ(timers.schedule(OneShotTimer::kMaxDelayMs + 1, &Fired::callback, &f), 0u);
    EXPECT_EQ(timers.schedule(10, nullptr, &f), 0u);
    EXPECT_FALSE(timers.kill(0));
    EXPECT_FALSE(timers.kill(12345));
}

TEST(OneShotTimer, FiresInDeadlineOrder) {
    struct Log {
        std::mutex mutex;
        std::vector<int> order;
        Event done;
    };
    struct Entry {
        Log* log;
        int tag;
        static void callback(uint32_t, void* context) {
            auto* e = static_cast<Entry*>(context);
            std::lock_guard<std::mutex> g(e->log->mutex);
            e->log->order.push_back(e->tag);
            if (e->log->order.size() == 3) e->log->done.set();
        }
    };
    Log log;
    Entry a{&log, 30}, b{&log, 10}, c{&log, 20};
    OneShotTimer timers;
    // Made latest-first, each 100 ms apart.
    ASSERT_NE(timers.schedule(300, &Entry::callback, &a), 0u);
    ASSERT_NE(timers.schedule(100, &Entry::callback, &b), 0u);
    ASSERT_NE(timers.schedule(200, &Entry::callback, &c), 0u);
    ASSERT_TRUE(log.done.wait(INFINITE));
    EXPECT_EQ(log.order, (std::vector<int>{10, 20, 30}));
}

TEST(OneShotTimer, KilledTimerNeverFires) {
    OneShotTimer timers;
    Fired killed, later;
    uint32_t a = timers.schedule(200, &Fired::callback, &killed);
    ASSERT_NE(a, 0u);
    EXPECT_TRUE(timers.kill(a));
    EXPECT_FALSE(timers.kill(a)) << "killed once";
    // Made after the kill with a longer delay: once it fired, the killed one was due.
    uint32_t b = timers.schedule(210, &Fired::callback, &later);
    ASSERT_NE(b, 0u);
    EXPECT_NE(b, a);
    ASSERT_TRUE(later.done.wait(INFINITE));
    EXPECT_EQ(killed.count, 0);
    EXPECT_EQ(later.count, 1);
}

// After kill returns, the callback is neither running nor going to run, even when kill
// races with the deadline.
TEST(OneShotTimer, KillRacingTheDeadlineIsFinal) {
    struct Probe {
        std::atomic<bool> killed{false};
        std::atomic<int> violations{0};
        std::atomic<int> fired{0};
        static void callback(uint32_t, void* context) {
            auto* p = static_cast<Probe*>(context);
            if (p->killed.load()) ++p->violations;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (p->killed.load()) ++p->violations;
            ++p->fired;
        }
    };
    OneShotTimer timers;
    std::vector<Probe> probes(100);
    int cancelled = 0;
    for (Probe& p : probes) {
        uint32_t id = timers.schedule(1, &Probe::callback, &p);
        ASSERT_NE(id, 0u);
        std::this_thread::sleep_for(std::chrono::microseconds(900 + (&p - probes.data()) % 5 * 100));
        if (timers.kill(id)) {
            p.killed = true;
            ++cancelled;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int fired = 0;
    for (Probe& p : probes) {
        EXPECT_EQ(p.violations, 0);
        fired += p.fired;
    }
    // Every timer either fired in full before kill returned, or never started.
    EXPECT_LE(fired, 100);
    EXPECT_GE(fired, 100 - cancelled);
}

TEST(OneShotTimer, CallbackMayKillItselfAndScheduleAnother) {
    struct Chain {
        OneShotTimer* timers;
        std::atomic<uint32_t> firstId{0};
        std::atomic<int> selfKill{-1};
        Fired second;
        static void callback(uint32_t id, void* context) {
            auto* c = static_cast<Chain*>(context);
            c->selfKill = c->timers->kill(id) ? 1 : 0;
            c->timers->schedule(1, &Fired::callback, &c->second);
        }
    };
    OneShotTimer timers;
    Chain chain;
    chain.timers = &timers;
    ASSERT_NE(timers.schedule(1, &Chain::callback, &chain), 0u);
    ASSERT_TRUE(chain.second.done.wait(INFINITE));
    EXPECT_EQ(chain.selfKill, 1);
    EXPECT_EQ(chain.second.count, 1);
}

TEST(OneShotTimer, DestroyingTheServiceCancelsPendingTimers) {
    Fired f;
    {
        OneShotTimer timers;
        ASSERT_NE(timers.schedule(5000, &Fired::callback, &f), 0u);
        EXPECT_EQ(timers.pendingCount(), 1u);
    }
    // The timer thread is gone with the service, so nothing can fire any more.
    EXPECT_EQ(f.count, 0);
    // The process-wide service is one object.
    EXPECT_EQ(&OneShotTimer::instance(), &OneShotTimer::instance());
}

}  // namespace

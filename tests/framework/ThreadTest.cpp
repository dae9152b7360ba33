#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "framework/Event.h"
#include "framework/Thread.h"

namespace {

// A body that sleeps on waitOrStop until asked to stop, counting its turns.
class WaitingThread : public Thread {
public:
    ~WaitingThread() override { stop(); }

    std::atomic<int> wakeUps{0};
    std::atomic<int> timeouts{0};
    std::atomic<bool> sawRunningAtStart{false};
    std::atomic<bool> finished{false};

protected:
    void run() override {
        sawRunningAtStart = isRunning();
        while (isRunning()) {
            if (waitOrStop(INFINITE))
                ++timeouts;
            else if (isRunning())
                ++wakeUps;
        }
        finished = true;
    }
};

TEST(Thread, StartStopAndWakeUps) {
    WaitingThread t;
    EXPECT_FALSE(t.isRunning());
    EXPECT_TRUE(t.stop()) << "nothing to stop";
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(t.isRunning());
    EXPECT_NE(t.threadId(), 0u);
    EXPECT_NE(t.threadId(), static_cast<uint32_t>(gettid()));
    EXPECT_FALSE(t.waitOrStop(0)) << "only the thread itself may wait";

    t.wake();
    while (t.wakeUps.load() == 0) std::this_thread::yield();
    EXPECT_TRUE(t.takeWake()) << "the wake stays recorded after it ended the wait";
    EXPECT_FALSE(t.takeWake());

    EXPECT_TRUE(t.stop());
    EXPECT_TRUE(t.sawRunningAtStart);
    EXPECT_TRUE(t.finished);
    EXPECT_EQ(t.timeouts, 0);
    EXPECT_FALSE(t.isRunning());
    EXPECT_EQ(t.threadId(), 0u);

    // Restartable; a start of a running thread stops the old one first.
    t.finished = false;
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(t.finished) << "the first run was stopped by the second start";
    EXPECT_TRUE(t.stop());
}

TEST(Thread, WaitOrStopTimesOut) {
    struct Body {
        static void run(Thread& self, void* context) {
            auto* results = static_cast<std::atomic<int>*>(context);
            results[0] = self.waitOrStop(1) ? 1 : 0;  // nothing pending: the time runs out
            self.wake();
            results[1] = self.waitOrStop(INFINITE) ? 1 : 0;  // ended by the wake
            self.requestStop();
            results[2] = self.waitOrStop(INFINITE) ? 1 : 0;  // ended by the stop
            results[3] = self.isRunning() ? 1 : 0;
            results[4] = 1;
        }
    };
    std::atomic<int> results[5] = {-1, -1, -1, -1, 0};
    Thread t;
    t.setContextFunction(&Body::run, results);
    ASSERT_TRUE(t.start());
    while (results[4].load() == 0) std::this_thread::yield();  // a stop from here would end the waits early
    EXPECT_TRUE(t.stop());
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(results[2], 0);
    EXPECT_EQ(results[3], 0);
}

TEST(Thread, BodyChosenByTheLastSetter) {
    static std::atomic<int> which{0};
    struct Bodies {
        static void plain(void* arg) { which = *static_cast<int*>(arg); }
        static void withContext(Thread& self, void* context) {
            which = self.isCurrentThread() ? *static_cast<int*>(context) : -1;
        }
    };
    class Own : public Thread {
    public:
        ~Own() override { stop(); }

    protected:
        void run() override { which = 3; }
    };
    int one = 1, two = 2;
    Own t;
    t.setFunction(&Bodies::plain, &one);
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.stop());
    EXPECT_EQ(which, 1);
    t.setContextFunction(&Bodies::withContext, &two);
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.stop());
    EXPECT_EQ(which, 2);
    t.setRunBody();
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.stop());
    EXPECT_EQ(which, 3);
    t.setFunction(&Bodies::plain, &one);
    t.setFunction(nullptr, nullptr);  // null falls back to run()
    ASSERT_TRUE(t.start());
    ASSERT_TRUE(t.stop());
    EXPECT_EQ(which, 3);
}

TEST(Thread, StopOrStartFromItsOwnBodyFails) {
    struct Result {
        std::atomic<int> stop{-1};
        std::atomic<int> start{-1};
        std::atomic<int> runningAfter{-1};
    };
    struct Body {
        static void run(Thread& self, void* context) {
            auto* r = static_cast<Result*>(context);
            r->start = self.start() ? 1 : 0;
            r->stop = self.stop() ? 1 : 0;
            r->runningAfter = self.isRunning() ? 1 : 0;
        }
    };
    Result r;
    Thread t;
    t.setContextFunction(&Body::run, &r);
    ASSERT_TRUE(t.start());
    EXPECT_TRUE(t.stop());
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.stop, 0) << "a thread never waits for its own end";
    EXPECT_EQ(r.runningAfter, 0) << "its stop is still requested";
}

TEST(Thread, PreStartHookCanRefuse) {
    class Refusing : public Thread {
    public:
        std::atomic<bool> ran{false};
        bool allow = false;
        ~Refusing() override { stop(); }

    protected:
        bool preStart() override { return allow; }
        void run() override { ran = true; }
    };
    Refusing t;
    EXPECT_FALSE(t.start());
    EXPECT_FALSE(t.ran);
    t.allow = true;
    EXPECT_TRUE(t.start());
    EXPECT_TRUE(t.stop());
    EXPECT_TRUE(t.ran);
}

// A body that runs ordinary code (no framework calls) and counts as it goes.
struct Spinner {
    std::atomic<uint64_t> count{0};
    std::atomic<bool> quit{false};
    static void run(void* arg) {
        auto* s = static_cast<Spinner*>(arg);
        while (!s->quit.load()) {
            s->count.fetch_add(1);
            usleep(100);
        }
    }
};

TEST(Thread, SuspendStopsArbitraryCodeUntilResumed) {
    Spinner spinner;
    Thread t;
    t.setFunction(&Spinner::run, &spinner);
    EXPECT_FALSE(t.suspend()) << "no thread yet";
    ASSERT_TRUE(t.start());
    while (spinner.count.load() < 10) std::this_thread::yield();

    ASSERT_TRUE(t.suspend());
    EXPECT_TRUE(t.isSuspended());
    EXPECT_FALSE(t.suspend()) << "already suspended";
    uint64_t frozen = spinner.count.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(spinner.count.load(), frozen) << "the body ran while suspended";

    ASSERT_TRUE(t.resume());
    EXPECT_FALSE(t.resume()) << "not suspended any more";
    while (spinner.count.load() < frozen + 10) std::this_thread::yield();

    // A stop request resumes a suspended thread so it can end.
    ASSERT_TRUE(t.suspend());
    spinner.quit = true;
    EXPECT_TRUE(t.stop());
    EXPECT_FALSE(t.isSuspended());
}

TEST(Thread, SuspendsItselfUntilResumedByAnother) {
    struct State {
        std::atomic<int> phase{0};
    };
    struct Body {
        static void run(Thread& self, void* context) {
            auto* s = static_cast<State*>(context);
            s->phase = 1;
            self.suspend();
            s->phase = 2;
        }
    };
    State s;
    Thread t;
    t.setContextFunction(&Body::run, &s);
    ASSERT_TRUE(t.start());
    while (!t.isSuspended() || s.phase.load() == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(s.phase, 1);
    EXPECT_TRUE(t.resume());
    EXPECT_TRUE(t.stop());
    EXPECT_EQ(s.phase, 2);
}

TEST(Thread, PriorityIsClampedAndLoweringReachesTheKernel) {
    Spinner spinner;
    Thread t;
    t.setPriority(40);
    EXPECT_EQ(t.priority(), 15);
    t.setPriority(-40);
    EXPECT_EQ(t.priority(), -15);
    // Lowering to the bottom is always allowed; check it lands on the thread alone.
    int processNice = getpriority(PRIO_PROCESS, 0);
    t.setPriority(-15);
    t.setFunction(&Spinner::run, &spinner);
    ASSERT_TRUE(t.start());
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(t.threadId()));
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(nice, 19);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), processNice) << "only the worker was lowered";
    spinner.quit = true;
    EXPECT_TRUE(t.stop());

    // Applied to a thread that is already running.
    Spinner other;
    Thread u;
    u.setFunction(&Spinner::run, &other);
    ASSERT_TRUE(u.start());
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(u.threadId())), processNice) << "priority 0 keeps it";
    u.setPriority(-15);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(u.threadId())), 19);
    other.quit = true;
    EXPECT_TRUE(u.stop());

    EXPECT_EQ(NativeThread::niceOffsetOf(0), 0);
    EXPECT_LT(NativeThread::niceOffsetOf(1), 0);
    EXPECT_LE(NativeThread::niceOffsetOf(15), -39) << "time critical reaches -20 from any nice value";
    EXPECT_GE(NativeThread::niceOffsetOf(-15), 39);
    EXPECT_EQ(NativeThread::niceOffsetOf(99), NativeThread::niceOffsetOf(15));
}

TEST(Thread, DestroyedFromItsOwnBody) {
    struct Events {
        Event go;
        Event done;
    };
    struct Body {
        static void run(Thread& self, void* context) {
            auto* e = static_cast<Events*>(context);
            e->go.wait(INFINITE);  // not while start() is still using the object
            delete &self;
            e->done.set();
        }
    };
    Events e;
    auto* t = new Thread;
    t->setContextFunction(&Body::run, &e);
    ASSERT_TRUE(t->start());
    e.go.set();
    EXPECT_TRUE(e.done.wait(INFINITE));
}

// The object a waiter owns may go away as soon as its wait returns; setting or
// releasing must not touch it after waking the waiter.
TEST(EventAndSemaphore, WaiterMayDestroyRightAfterWaking) {
    for (int i = 0; i < 200; ++i) {
        auto event = std::make_unique<Event>(Event::Reset::Auto);
        auto semaphore = std::make_unique<Semaphore>(0, 1);
        Event* e = event.get();
        Semaphore* s = semaphore.get();
        std::thread setter([e, s] {
            e->set();
            s->release();
        });
        EXPECT_TRUE(event->wait(INFINITE));
        event.reset();
        EXPECT_TRUE(semaphore->wait(INFINITE));
        semaphore.reset();
        setter.join();
    }
}

}  // namespace

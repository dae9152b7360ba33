#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "framework/Event.h"
#include "framework/ThreadPool.h"

namespace {

struct Counters {
    std::atomic<int> ran{0};
    std::atomic<int> destroyed{0};
};

class CountingTask : public ThreadPool::Task {
public:
    explicit CountingTask(Counters& c) : c_(c) {}
    ~CountingTask() override { ++c_.destroyed; }
    void run() override { ++c_.ran; }

private:
    Counters& c_;
};

// Blocks its worker until the gate opens.
class GateTask : public ThreadPool::Task {
public:
    GateTask(Event& entered, Event& gate, Counters& c) : entered_(entered), gate_(gate), c_(c) {}
    ~GateTask() override { ++c_.destroyed; }
    void run() override {
        entered_.set();
        gate_.wait(INFINITE);
        ++c_.ran;
    }

private:
    Event& entered_;
    Event& gate_;
    Counters& c_;
};

TEST(ThreadPool, RunsEveryTaskOnceAndWaitsForIdle) {
    ThreadPool pool(4);
    EXPECT_TRUE(pool.waitIdle(INFINITE)) << "a pool that never started is idle";
    ASSERT_TRUE(pool.start());
    EXPECT_TRUE(pool.waitIdle(INFINITE)) << "idle at once";
    Counters c;
    for (int i = 0; i < 500; ++i) pool.postTask(std::make_unique<CountingTask>(c));
    EXPECT_TRUE(pool.waitIdle(INFINITE));
    EXPECT_EQ(c.ran, 500);
    EXPECT_EQ(c.destroyed, 500);
    EXPECT_EQ(pool.pendingTasks(), 0u);
    pool.postTask(nullptr);
    EXPECT_TRUE(pool.waitIdle(INFINITE)) << "a null task is not counted";
    EXPECT_TRUE(pool.stop());
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, SeveralWaitersAllSeeIdle) {
    ThreadPool pool(2);
    ASSERT_TRUE(pool.start());
    Event entered, gate;
    Counters c;
    pool.postTask(std::make_unique<GateTask>(entered, gate, c));
    entered.wait(INFINITE);
    std::atomic<int> returned{0};
    std::thread w1([&] { returned += pool.waitIdle(INFINITE); });
    std::thread w2([&] { returned += pool.waitIdle(INFINITE); });
    EXPECT_FALSE(pool.waitIdle(20)) << "a task is still running";
    gate.set();
    w1.join();
    w2.join();
    EXPECT_EQ(returned, 2);
}

TEST(ThreadPool, TasksPostedBeforeStartRunAfterIt) {
    ThreadPool pool(2);
    Counters c;
    for (int i = 0; i < 10; ++i) pool.postTask(std::make_unique<CountingTask>(c));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(c.ran, 0) << "nothing runs before the start";
    ASSERT_TRUE(pool.start());
    EXPECT_TRUE(pool.waitIdle(INFINITE));
    EXPECT_EQ(c.ran, 10);
}

TEST(ThreadPool, StopDropsQueuedTasksWithoutRunningThem) {
    Counters c;
    Event entered, gate;
    {
        ThreadPool pool(1);
        ASSERT_TRUE(pool.start());
        pool.postTask(std::make_unique<GateTask>(entered, gate, c));
        entered.wait(INFINITE);
        for (int i = 0; i < 5; ++i) pool.postTask(std::make_unique<CountingTask>(c));
        std::thread stopper([&] { EXPECT_TRUE(pool.stop()); });
        // The running task finishes; the stop request makes the worker leave instead of
        // taking the next task.
        while (pool.isStarted()) std::this_thread::yield();
        gate.set();
        stopper.join();
        EXPECT_EQ(c.ran, 1);
        EXPECT_EQ(c.destroyed, 6);
        EXPECT_TRUE(pool.waitIdle(INFINITE)) << "dropped tasks no longer count as pending";

        // Restartable; posted while stopped, destroyed with the pool.
        ASSERT_TRUE(pool.start());
        pool.postTask(std::make_unique<CountingTask>(c));
        EXPECT_TRUE(pool.waitIdle(INFINITE));
        EXPECT_EQ(c.ran, 2);
        EXPECT_TRUE(pool.stop());
        for (int i = 0; i < 3; ++i) pool.postTask(std::make_unique<CountingTask>(c));
    }
    EXPECT_EQ(c.ran, 2);
    EXPECT_EQ(c.destroyed, 10);
}

TEST(ThreadPool, StopFromAPoolThreadFails) {
    struct StopTask : ThreadPool::Task {
        ThreadPool& pool;
        std::atomic<int>& stopResult;
        std::atomic<int>& startResult;
        StopTask(ThreadPool& p, std::atomic<int>& s, std::atomic<int>& t) : pool(p), stopResult(s), startResult(t) {}
        void run() override {
            stopResult = pool.stop() ? 1 : 0;
            startResult = pool.start() ? 1 : 0;
        }
    };
    std::atomic<int> stopResult{-1}, startResult{-1};
    ThreadPool pool(2);
    ASSERT_TRUE(pool.start());
    pool.postTask(std::make_unique<StopTask>(pool, stopResult, startResult));
    EXPECT_TRUE(pool.waitIdle(INFINITE));
    EXPECT_EQ(stopResult, 0);
    EXPECT_EQ(startResult, 0);
    EXPECT_TRUE(pool.isStarted());
}

TEST(ThreadPool, SuspendedWorkersRunNothingUntilResumed) {
    ThreadPool pool(3);
    ASSERT_TRUE(pool.start());
    pool.suspendAll();
    Counters c;
    for (int i = 0; i < 20; ++i) pool.postTask(std::make_unique<CountingTask>(c));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(c.ran, 0);
    pool.resumeAll();
    EXPECT_TRUE(pool.waitIdle(INFINITE));
    EXPECT_EQ(c.ran, 20);

    // Stopping resumes suspended workers so that they can leave.
    pool.suspendAll();
    EXPECT_TRUE(pool.stop());
}

TEST(ThreadPool, SettingsAndStartHook) {
    class Hooked : public ThreadPool {
    public:
        using ThreadPool::ThreadPool;
        bool allow = false;

    protected:
        bool preStart() override { return allow; }
    };
    Hooked pool(0);
    EXPECT_EQ(pool.threadCount(), 1u) << "at least one thread";
    EXPECT_TRUE(pool.setThreadCount(3));
    EXPECT_FALSE(pool.setThreadCount(0));
    pool.setPriority(99);
    EXPECT_EQ(pool.priority(), 15);
    pool.setPriority(-1);
    EXPECT_FALSE(pool.start());
    EXPECT_FALSE(pool.isStarted());
    pool.allow = true;
    ASSERT_TRUE(pool.start());
    EXPECT_FALSE(pool.setThreadCount(2)) << "fixed while started";
    Counters c;
    for (int i = 0; i < 6; ++i) pool.postTask(std::make_unique<CountingTask>(c));
    EXPECT_TRUE(pool.waitIdle(INFINITE));
    EXPECT_EQ(c.ran, 6);
}

}  // namespace

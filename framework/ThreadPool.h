#pragma once
// N identical worker threads over one task queue. Tasks may be posted in any state and
// run only while the pool is started, concurrently on any worker. The pool owns a task
// once it is posted: it runs it and destroys it, or, when the pool stops or is
// destroyed first, destroys it without running it.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/NativeThread.h"

class ThreadPool {
public:
    class Task {
    public:
        virtual ~Task() = default;
        virtual void run() = 0;
    };

    explicit ThreadPool(uint32_t threadCount = 1);
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;
    // Stops the threads and destroys the queued tasks without running them.
    virtual ~ThreadPool();

    // At least 1; only while no threads run (false otherwise).
    bool setThreadCount(uint32_t count);
    uint32_t threadCount() const { return count_.load(); }

    // Stops first, then makes all threads and waits until every one began; tasks
    // already queued are then released to them. False when a thread could not be made
    // (the ones made are stopped again) or when called from a pool thread.
    virtual bool start();
    // True when no threads run or all have ended; false from a pool thread. Tasks
    // still queued are destroyed without running; a running task is finished first.
    virtual bool stop();
    virtual void setPriority(int priority);
    // A suspended worker holds whatever it held (a lock, a half-run task) until resumed.
    virtual void suspendAll();
    virtual void resumeAll();
    virtual void postTask(std::unique_ptr<Task> task);
    // True once no task is queued or running; false when ms (not INFINITE) ran out.
    virtual bool waitIdle(uint32_t ms);

    bool isStarted() const { return started_.load(); }
    int priority() const { return priority_.load(); }
    uint32_t pendingTasks() const { return pending_.load(); }

protected:
    // Called by start before the threads are made; false aborts the start.
    virtual bool preStart() { return true; }

private:
    struct Worker {
        ThreadPool* pool = nullptr;
        NativeThread thread;
    };

    static void workerEntry(void* worker);
    void workerLoop();
    void stopThreads(bool dropQueued);
    bool isPoolThread() const;

    std::atomic<uint32_t> count_;
    std::atomic<int> priority_{0};
    std::atomic<bool> started_{false};

    CriticalSection poolLock_;  // guards workers_
    std::vector<std::unique_ptr<Worker>> workers_;
    Event startedEvent_{Event::Reset::Auto};
    std::atomic<uint32_t> startedCount_{0};
    Event stopEvent_{Event::Reset::Manual};

    CriticalSection queueLock_;  // guards queue_ and work_
    std::deque<std::unique_ptr<Task>> queue_;
    std::unique_ptr<Semaphore> work_;
    std::atomic<uint32_t> pending_{0};
    Event idle_{Event::Reset::Auto};
};

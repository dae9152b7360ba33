#pragma once
// One system thread with what the framework's thread classes need on top of pthreads:
// the kernel thread id, a priority on the platform's -15..+15 scale mapped to nice
// values, and a real suspend/resume.
//
// Suspension is signal-based: suspend() sends the thread a signal whose handler
// acknowledges and then blocks until resume(), so when suspend() returns the thread is
// stopped wherever it was, in any code. As with any suspension of arbitrary code, a
// thread suspended while holding a lock keeps it until resumed. Blocking system calls
// interrupted by the signal restart where the kernel allows it.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class NativeThread {
public:
    using Entry = void (*)(void* arg);

    static constexpr int kMinPriority = -15;
    static constexpr int kMaxPriority = 15;

    NativeThread();
    NativeThread(const NativeThread&) = delete;
    NativeThread& operator=(const NativeThread&) = delete;
    // Joins a thread that is still there (a thread destroying its own record detaches).
    ~NativeThread();

    // Starts entry(arg) on a new thread; false when no thread could be made or one
    // exists already. When it returns true, id() is valid.
    bool create(Entry entry, void* arg);
    // True from create until join.
    bool exists() const { return exists_.load(std::memory_order_acquire); }
    // Waits for the thread to end and forgets it. Never from the thread itself.
    void join();
    // Called from this record's own thread.
    bool isCurrent() const;
    // Kernel thread id, 0 when there is no thread.
    uint32_t id() const;
    pthread_t handle() const;

    // False when there is no thread, it has ended or is suspended already.
    bool suspend();
    // False when the thread is not suspended.
    bool resume();
    bool isSuspended() const;

    // Applies a priority (clamped to -15..+15) as a nice value relative to the one the
    // thread began with; silently ignored where the process may not take it (raising
    // priority needs privileges).
    void applyPriority(int priority);
    static int clampPriority(int priority);
    static int niceOffsetOf(int priority);

private:
    struct Control;
    static void* trampoline(void* control);
    static void onSuspendSignal(int);

    std::shared_ptr<Control> control() const;

    // Shared with the running thread, so a thread may outlive a record it detached from.
    mutable std::mutex recordMutex_;
    std::shared_ptr<Control> control_;
    std::atomic<bool> exists_{false};
};

#pragma once
// Recursive lock with an advisory owner record.
#include <atomic>
#include <cstdint>
#include <mutex>

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    // Leaves once per outstanding count.
    virtual ~CriticalSection();

    virtual void lock();
    // False when the section is not held (count 0).
    virtual bool unlock();
    // False at once when another thread is recorded as owner; otherwise locks.
    virtual bool lockUnlessOwnedByOther();
    virtual bool isOwnedByCurrentThread();

    uint32_t recursionCount() const { return count_.load(std::memory_order_relaxed); }

private:
    std::recursive_mutex mutex_;
    std::atomic<uint64_t> owner_{0};  // 0 = none recorded
    std::atomic<uint32_t> count_{0};
};

// Holds a CriticalSection for its lifetime.
class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) : section_(section) { section_.lock(); }
    ~ScopedLock() { section_.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& section_;
};

// A small, stable number for the calling thread (never 0).
uint64_t currentThreadId();

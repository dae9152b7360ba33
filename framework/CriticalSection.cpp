#include "framework/CriticalSection.h"

#include <atomic>

uint64_t currentThreadId() {
    static std::atomic<uint64_t> next{1};
    thread_local uint64_t id = next.fetch_add(1);
    return id;
}

CriticalSection::~CriticalSection() {
    // A section destroyed while held by the destroying thread is left once per count.
    while (count_.load() > 0 && owner_.load() == currentThreadId()) {
        count_.fetch_sub(1);
        mutex_.unlock();
    }
}

void CriticalSection::lock() {
    mutex_.lock();
    owner_.store(currentThreadId(), std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
}

bool CriticalSection::unlock() {
    // Only the holder may leave. The owner record is written only by the holder, so a
    // thread reading its own id there really holds the section; a thread that reads 0
    // may be looking at a holder that has entered but not yet recorded itself, and must
    // not release a mutex it does not own.
    if (count_.load(std::memory_order_relaxed) == 0) return false;
    if (owner_.load(std::memory_order_relaxed) != currentThreadId()) return false;
    if (count_.fetch_sub(1, std::memory_order_relaxed) == 1) owner_.store(0, std::memory_order_relaxed);
    mutex_.unlock();
    return true;
}

bool CriticalSection::lockUnlessOwnedByOther() {
    uint64_t owner = owner_.load(std::memory_order_relaxed);
    if (owner != 0 && owner != currentThreadId()) return false;
    lock();
    return true;
}

bool CriticalSection::isOwnedByCurrentThread() {
    return owner_.load(std::memory_order_relaxed) == currentThreadId();
}

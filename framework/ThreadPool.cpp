#include "framework/ThreadPool.h"

#include "framework/TimeSource.h"

namespace {
thread_local const ThreadPool* t_pool = nullptr;
constexpr long kMaxWork = 0x7FFFFFFF;
}  // namespace

ThreadPool::ThreadPool(uint32_t threadCount) : count_(threadCount < 1 ? 1 : threadCount) {}

ThreadPool::~ThreadPool() {
    if (!isPoolThread()) stop();
    std::deque<std::unique_ptr<Task>> dropped;
    {
        ScopedLock g(queueLock_);
        dropped.swap(queue_);
    }
}

bool ThreadPool::setThreadCount(uint32_t count) {
    ScopedLock g(poolLock_);
    if (count < 1 || !workers_.empty()) return false;
    count_.store(count);
    return true;
}

bool ThreadPool::isPoolThread() const {
    return t_pool == this;
}

bool ThreadPool::start() {
    if (isPoolThread()) return false;
    ScopedLock g(poolLock_);
    if (!stop()) return false;
    startedCount_.store(0);
    startedEvent_.reset();
    stopEvent_.reset();
    if (!preStart()) return false;
    {
        // Tasks queued while stopped are released together with the new semaphore.
        ScopedLock q(queueLock_);
        work_ = std::make_unique<Semaphore>(0, kMaxWork);
        if (!queue_.empty()) work_->release(static_cast<long>(queue_.size()));
    }
    uint32_t n = count_.load();
    int priority = priority_.load();
    for (uint32_t i = 0; i < n; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->pool = this;
        if (!worker->thread.create(&ThreadPool::workerEntry, worker.get())) {
            stopThreads(false);
            return false;
        }
        worker->thread.applyPriority(priority);
        workers_.push_back(std::move(worker));
    }
    while (startedCount_.load() < n) startedEvent_.wait(INFINITE);
    started_.store(true);
    return true;
}

void ThreadPool::workerEntry(void* p) {
    auto* worker = static_cast<Worker*>(p);
    t_pool = worker->pool;
    worker->pool->workerLoop();
    t_pool = nullptr;
}

void ThreadPool::workerLoop() {
    Semaphore* work;
    {
        ScopedLock q(queueLock_);
        work = work_.get();  // stays until every worker has ended
    }
    startedCount_.fetch_add(1);
    startedEvent_.set();
    for (;;) {
        work->wait(INFINITE);
        if (stopEvent_.isSet()) break;
        std::unique_ptr<Task> task;
        {
            ScopedLock q(queueLock_);
            if (!queue_.empty()) {
                task = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (!task) continue;
        task->run();
        task.reset();
        pending_.fetch_sub(1);
        idle_.set();
    }
}

bool ThreadPool::stop() {
    if (isPoolThread()) return false;
    ScopedLock g(poolLock_);
    if (workers_.empty()) return true;
    stopThreads(true);
    return true;
}

void ThreadPool::stopThreads(bool dropQueued) {
    started_.store(false);
    stopEvent_.set();
    for (auto& w : workers_) w->thread.resume();
    {
        ScopedLock q(queueLock_);
        if (work_) work_->release(static_cast<long>(workers_.size()));
    }
    for (auto& w : workers_) w->thread.join();
    workers_.clear();

    std::deque<std::unique_ptr<Task>> dropped;
    {
        ScopedLock q(queueLock_);
        work_.reset();
        if (dropQueued) dropped.swap(queue_);
    }
    if (dropped.empty()) return;
    // Destroyed outside the lock: a task's destructor may post again.
    uint32_t n = static_cast<uint32_t>(dropped.size());
    dropped.clear();
    pending_.fetch_sub(n);
    idle_.set();
}

void ThreadPool::setPriority(int priority) {
    priority = NativeThread::clampPriority(priority);
    priority_.store(priority);
    ScopedLock g(poolLock_);
    for (auto& w : workers_) w->thread.applyPriority(priority);
}

void ThreadPool::suspendAll() {
    ScopedLock g(poolLock_);
    for (auto& w : workers_)
        if (!w->thread.isSuspended()) w->thread.suspend();
}

void ThreadPool::resumeAll() {
    ScopedLock g(poolLock_);
    for (auto& w : workers_)
        if (w->thread.isSuspended()) w->thread.resume();
}

void ThreadPool::postTask(std::unique_ptr<Task> task) {
    if (!task) return;
    ScopedLock q(queueLock_);
    pending_.fetch_add(1);
    queue_.push_back(std::move(task));
    if (work_) work_->release();
}

bool ThreadPool::waitIdle(uint32_t ms) {
    if (pending_.load() == 0) return true;
    uint32_t begin = tickCountMs();
    for (;;) {
        uint32_t limit = INFINITE;
        if (ms != INFINITE) {
            uint32_t spent = tickCountMs() - begin;
            if (spent >= ms) return pending_.load() == 0;
            limit = ms - spent;
        }
        bool signalled = idle_.wait(limit);
        if (pending_.load() == 0) {
            // The idle event wakes one waiter; pass it on to any other.
            if (signalled) idle_.set();
            return true;
        }
    }
}

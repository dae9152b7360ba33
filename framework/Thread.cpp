#include "framework/Thread.h"

Thread::Thread() = default;

Thread::~Thread() {
    if (native_.isCurrent())
        requestStop();  // the record detaches; the thread ends on its own
    else
        stop();
}

void Thread::setFunction(Function f, void* arg) {
    ScopedLock g(lock_);
    body_ = f ? Body{BodyKind::Function, f, nullptr, arg} : Body{};
}

void Thread::setContextFunction(ContextFunction f, void* context) {
    ScopedLock g(lock_);
    body_ = f ? Body{BodyKind::ContextFunction, nullptr, f, context} : Body{};
}

void Thread::setRunBody() {
    ScopedLock g(lock_);
    body_ = Body{};
}

bool Thread::start() {
    if (native_.isCurrent()) return false;
    ScopedLock g(lock_);
    if (!stop()) return false;
    started_.reset();
    wake_.reset();
    stop_.reset();
    woken_.store(false);
    if (!preStart()) return false;
    launchBody_ = body_;
    if (!native_.create(&Thread::entryOf, this)) return false;
    native_.applyPriority(priority_.load());
    return started_.wait(INFINITE);
}

void Thread::entryOf(void* self) {
    static_cast<Thread*>(self)->threadEntry();
}

void Thread::threadEntry() {
    started_.set();
    switch (launchBody_.kind) {
        case BodyKind::Run:
            run();
            break;
        case BodyKind::Function:
            launchBody_.function(launchBody_.arg);
            break;
        case BodyKind::ContextFunction:
            launchBody_.contextFunction(*this, launchBody_.arg);
            break;
    }
}

bool Thread::stop() {
    // Checked before the lock: a stop() holding it may be waiting for this very thread.
    if (native_.isCurrent()) {
        requestStop();
        return false;
    }
    ScopedLock g(lock_);
    if (!native_.exists()) return true;
    requestStop();
    postStop();
    native_.join();
    return true;
}

bool Thread::isRunning() {
    return native_.exists() && !stop_.isSet();
}

void Thread::requestStop() {
    stop_.set();
    native_.resume();
}

void Thread::setPriority(int priority) {
    priority = NativeThread::clampPriority(priority);
    priority_.store(priority);
    native_.applyPriority(priority);
}

bool Thread::suspend() {
    return native_.suspend();
}

bool Thread::resume() {
    return native_.resume();
}

bool Thread::waitOrStop(uint32_t ms) {
    if (!native_.isCurrent()) return false;
    return Event::waitAny({&stop_, &wake_}, ms) < 0;
}

void Thread::wake() {
    woken_.store(true);
    wake_.set();
}

bool Thread::takeWake() {
    bool woken = woken_.exchange(false);
    wake_.reset();
    return woken;
}

#pragma once
// A restartable worker thread: start/stop serialised by its own lock, a stop request
// the body polls (isRunning) or sleeps on (waitOrStop), a wake-up for that sleep, a
// priority, and suspend/resume.
//
// The body is the object's own run(), a plain function(arg), or a function given the
// thread and a context; the setter called last chooses. A class that overrides run()
// must stop the thread in its own destructor, before its members go away.
#include <atomic>
#include <cstdint>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/NativeThread.h"

class Thread {
public:
    using Function = void (*)(void* arg);
    using ContextFunction = void (*)(Thread& thread, void* context);

    Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Stops the thread (from the thread itself it is only asked to stop and left to end).
    virtual ~Thread();

    // Stops a running thread first, then starts the body and waits until it began.
    // False when the pre-start hook refuses, no thread could be made, or when called from
    // the thread itself (it cannot wait for its own end).
    virtual bool start();
    // True when no thread runs or it has ended and was joined; false from the thread
    // itself (the stop is still requested).
    virtual bool stop();
    // From the body: true until a stop was requested. Elsewhere also false while no
    // thread exists.
    virtual bool isRunning();
    // Sets the stop event and resumes a suspended thread; does not wait.
    virtual void requestStop();
    virtual void setPriority(int priority);
    virtual bool suspend();
    virtual bool resume();
    // Only from the thread itself (false elsewhere): waits up to ms for a stop request or
    // a wake-up; true when the time ran out.
    virtual bool waitOrStop(uint32_t ms);
    // Ends a pending (or the next) waitOrStop early.
    virtual void wake();
    // Whether wake() was called since the last takeWake; clears it.
    virtual bool takeWake();

    void setFunction(Function f, void* arg);
    void setContextFunction(ContextFunction f, void* context);
    // Back to the object's own run().
    void setRunBody();

    int priority() const { return priority_.load(); }
    bool isSuspended() const { return native_.isSuspended(); }
    // Whether the caller is this object's thread.
    bool isCurrentThread() const { return native_.isCurrent(); }
    pthread_t handle() const { return native_.handle(); }
    // Kernel thread id, 0 when no thread runs.
    uint32_t threadId() const { return native_.id(); }

protected:
    // The thread's first code: signals that it began, then runs the body.
    virtual void threadEntry();
    // Called by start before the thread is made; false aborts the start.
    virtual bool preStart() { return true; }
    // Called by stop after the stop request, before waiting for the end.
    virtual bool postStop() { return true; }
    virtual void run() {}

private:
    enum class BodyKind { Run, Function, ContextFunction };
    struct Body {
        BodyKind kind = BodyKind::Run;
        Function function = nullptr;
        ContextFunction contextFunction = nullptr;
        void* arg = nullptr;
    };

    static void entryOf(void* self);

    CriticalSection lock_;
    NativeThread native_;
    Event started_{Event::Reset::Manual};
    Event wake_{Event::Reset::Auto};
    Event stop_{Event::Reset::Manual};
    std::atomic<bool> woken_{false};
    std::atomic<int> priority_{0};
    Body body_;        // chosen by the setters, under lock_
    Body launchBody_;  // the copy the running thread uses
};

#include "framework/NativeThread.h"

#include <semaphore.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <semaphore>

#include "framework/TimerResolution.h"

struct NativeThread::Control {
    Control() {
        sem_init(&acknowledged, 0, 0);
        sem_init(&resumed, 0, 0);
    }
    ~Control() {
        sem_destroy(&acknowledged);
        sem_destroy(&resumed);
    }

    pthread_t handle{};
    std::atomic<uint32_t> tid{0};
    int baseNice = 0;  // inherited from the creating thread; priority 0 keeps it
    Entry entry = nullptr;
    void* arg = nullptr;
    std::binary_semaphore begun{0};

    std::mutex mutex;  // guards suspended and ended
    bool suspended = false;
    bool ended = false;
    // Posted from the signal handler (async-signal-safe), hence POSIX semaphores.
    sem_t acknowledged;
    sem_t resumed;
};

namespace {

thread_local void* t_current = nullptr;  // the running thread's Control

int suspendSignal() {
    return SIGRTMIN + 4;
}

void semWait(sem_t* s) {
    while (sem_wait(s) != 0 && errno == EINTR) {
    }
}

}  // namespace

void NativeThread::onSuspendSignal(int) {
    int savedErrno = errno;
    if (auto* c = static_cast<Control*>(t_current)) {
        sem_post(&c->acknowledged);
        semWait(&c->resumed);
    }
    errno = savedErrno;
}

NativeThread::NativeThread() = default;

NativeThread::~NativeThread() {
    if (!exists()) return;
    if (isCurrent()) {
        pthread_detach(control()->handle);
    } else {
        resume();
        join();
    }
}

std::shared_ptr<NativeThread::Control> NativeThread::control() const {
    std::lock_guard<std::mutex> g(recordMutex_);
    return control_;
}

bool NativeThread::create(Entry entry, void* arg) {
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] {
        struct sigaction sa {};
        sa.sa_handler = &NativeThread::onSuspendSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(suspendSignal(), &sa, nullptr);
    });
    std::lock_guard<std::mutex> g(recordMutex_);
    if (control_) return false;
    auto control = std::make_shared<Control>();
    control->entry = entry;
    control->arg = arg;
    // The new thread owns one reference until it ends.
    // Recorded before the thread runs so that its body already finds itself here.
    control_ = control;
    exists_.store(true, std::memory_order_release);
    auto* ref = new std::shared_ptr<Control>(control);
    if (pthread_create(&control->handle, nullptr, &NativeThread::trampoline, ref) != 0) {
        delete ref;
        control_.reset();
        exists_.store(false, std::memory_order_release);
        return false;
    }
    control->begun.acquire();
    return true;
}

void* NativeThread::trampoline(void* p) {
    std::shared_ptr<Control> c = std::move(*static_cast<std::shared_ptr<Control>*>(p));
    delete static_cast<std::shared_ptr<Control>*>(p);
    t_current = c.get();
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, 0);  // this thread's own value on Linux
    c->baseNice = errno == 0 ? nice : 0;
    c->tid.store(static_cast<uint32_t>(syscall(SYS_gettid)), std::memory_order_release);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, suspendSignal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    TimerResolution::applyToCurrentThread();
    c->begun.release();

    c->entry(c->arg);

    // From here on no suspension is sent: the signal could arrive after the thread
    // stopped taking signals and the suspender would wait for an acknowledgement forever.
    {
        std::lock_guard<std::mutex> g(c->mutex);
        c->ended = true;
    }
    t_current = nullptr;
    return nullptr;
}

void NativeThread::join() {
    std::shared_ptr<Control> c = control();
    if (!c || t_current == c.get()) return;
    pthread_join(c->handle, nullptr);
    std::lock_guard<std::mutex> g(recordMutex_);
    exists_.store(false, std::memory_order_release);
    control_.reset();
}

bool NativeThread::isCurrent() const {
    return t_current != nullptr && t_current == control().get();
}

uint32_t NativeThread::id() const {
    std::shared_ptr<Control> c = control();
    return c ? c->tid.load(std::memory_order_acquire) : 0;
}

pthread_t NativeThread::handle() const {
    std::shared_ptr<Control> c = control();
    return c ? c->handle : pthread_t{};
}

bool NativeThread::suspend() {
    std::shared_ptr<Control> c = control();
    if (!c) return false;
    std::unique_lock<std::mutex> g(c->mutex);
    if (c->ended || c->suspended) return false;
    c->suspended = true;
    if (t_current == c.get()) {
        // Stopping oneself: the handler runs on this thread and returns after resume().
        g.unlock();
        pthread_kill(pthread_self(), suspendSignal());
        semWait(&c->acknowledged);
        return true;
    }
    if (pthread_kill(c->handle, suspendSignal()) != 0) {
        c->suspended = false;
        return false;
    }
    semWait(&c->acknowledged);
    return true;
}

bool NativeThread::resume() {
    std::shared_ptr<Control> c = control();
    if (!c) return false;
    std::lock_guard<std::mutex> g(c->mutex);
    if (!c->suspended) return false;
    c->suspended = false;
    sem_post(&c->resumed);
    return true;
}

bool NativeThread::isSuspended() const {
    std::shared_ptr<Control> c = control();
    if (!c) return false;
    std::lock_guard<std::mutex> g(c->mutex);
    return c->suspended;
}

int NativeThread::clampPriority(int priority) {
    return std::clamp(priority, kMinPriority, kMaxPriority);
}

int NativeThread::niceOffsetOf(int priority) {
    // One platform step (normal -> above normal -> highest) is five nice steps; the
    // extremes (idle, time critical) reach the ends of the nice range from anywhere.
    return -5 * clampPriority(priority);
}

void NativeThread::applyPriority(int priority) {
    std::shared_ptr<Control> c = control();
    if (!c) return;
    uint32_t tid = c->tid.load(std::memory_order_acquire);
    // Relative to what the thread inherited, as thread priorities are relative to the
    // process's class. Per-thread on Linux; EPERM/EACCES (not allowed to raise) leaves
    // it as it is.
    int nice = std::clamp(c->baseNice + niceOffsetOf(priority), -20, 19);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

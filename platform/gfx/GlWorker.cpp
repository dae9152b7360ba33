#include "platform/gfx/GlWorker.h"

namespace gfx {

GlWorker::GlWorker() {
    thread_ = std::thread([this] { loop(); });
}

GlWorker::~GlWorker() {
    {
        std::lock_guard hold(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void GlWorker::run(const std::function<void()>& work) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        work();
        return;
    }
    Job job{&work};
    std::unique_lock hold(mutex_);
    jobs_.push_back(&job);
    wake_.notify_one();
    finished_.wait(hold, [&] { return job.done; });
}

void GlWorker::loop() {
    std::unique_lock hold(mutex_);
    for (;;) {
        wake_.wait(hold, [&] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // quit with nothing left
        Job* job = jobs_.front();
        jobs_.pop_front();
        hold.unlock();
        (*job->work)();
        hold.lock();
        job->done = true;
        finished_.notify_all();
    }
}

}  // namespace gfx

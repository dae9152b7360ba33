#pragma once
// The thread that owns a device's OpenGL context: calls from any thread run on it one at a
// time, in the order they arrive, and the caller waits for each to finish.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace gfx {

class GlWorker {
public:
    GlWorker();
    ~GlWorker();
    GlWorker(const GlWorker&) = delete;
    GlWorker& operator=(const GlWorker&) = delete;

    // Runs the work on the worker thread and returns when it is done. From the worker
    // thread itself it runs at once.
    void run(const std::function<void()>& work);

private:
    struct Job {
        const std::function<void()>* work;
        bool done = false;
    };
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Job*> jobs_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace gfx

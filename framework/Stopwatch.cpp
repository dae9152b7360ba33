#include "framework/Stopwatch.h"

#include "framework/TimeSource.h"

Stopwatch::Stopwatch() {
    restart();
}

void Stopwatch::restart() {
    start_ = currentTimeMs();
    frozen_ = 0;
    running_ = true;
}

uint32_t Stopwatch::elapsed() const {
    return running_ ? currentTimeMs() - start_ : frozen_ - start_;
}

void Stopwatch::setPosition(uint32_t ms) {
    if (running_)
        start_ = currentTimeMs() - ms;
    else
        start_ = frozen_ - ms;
}

void Stopwatch::pause() {
    if (!running_) return;
    frozen_ = currentTimeMs();
    running_ = false;
}

void Stopwatch::resume() {
    if (running_) return;
    start_ += currentTimeMs() - frozen_;
    running_ = true;
}

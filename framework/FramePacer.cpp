#include "framework/FramePacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "framework/TimeSource.h"

namespace {

// Deadline comparisons are made on the signed distance so that they hold across the
// 2^32 wrap of the time source (valid while the two times are within 24 days).
bool isBefore(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}

void systemSleep(void*, uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

constexpr uint32_t kMaxCatchUpMs = 150;

}  // namespace

FramePacer::FramePacer() {
    reset();
}

bool FramePacer::setRate(uint32_t fps) {
    if (fps > kMaxRate) return false;
    rate_ = fps;
    if (fps != 0) reset();
    return true;
}

void FramePacer::reset() {
    if (rate_ != 0) period_ = 65536000u / rate_;
    fraction_ = 0;
    frameCount_ = 0;
    late_ = false;
    skipTarget_ = skipCount_ = 0;
    nextDeadline_ = currentTimeMs() + (period_ >> 16);
}

uint32_t FramePacer::measuredRate() const {
    if (frameCount_ < kRingSize) return 0;
    uint32_t newest = frameTimes_[(frameCount_ - 1) % kRingSize];
    uint32_t oldest = frameTimes_[frameCount_ % kRingSize];
    uint32_t span = newest - oldest;
    // 32 frames within one millisecond have no measurable rate.
    if (span == 0) return 0;
    return 2031616000u / span;
}

void FramePacer::setSleepFunction(SleepFunction f, void* context) {
    sleepFunction_ = f;
    sleepContext_ = f ? context : nullptr;
}

void FramePacer::sleep(uint32_t ms) {
    (sleepFunction_ ? sleepFunction_ : &systemSleep)(sleepContext_, ms);
}

void FramePacer::waitNextFrame() {
    uint32_t now = currentTimeMs();
    frameTimes_[frameCount_ % kRingSize] = now;
    ++frameCount_;

    if (skipTarget_ > skipCount_) {
        if (++skipCount_ == skipTarget_) {
            fraction_ = 0;
            skipCount_ = skipTarget_ = 0;
            late_ = false;
            nextDeadline_ = now + (period_ >> 16);
        }
        return;
    }
    if (rate_ == 0) return;

    fraction_ += period_;
    uint32_t d = fraction_ >> 16;
    fraction_ &= 0xFFFF;

    if (isBefore(nextDeadline_, now)) {
        if (isBefore(nextDeadline_ + d, now)) {
            late_ = true;
            skipTarget_ = std::min(now - nextDeadline_, kMaxCatchUpMs) / d - 1;
            skipCount_ = 0;
        } else {
            late_ = false;
            nextDeadline_ += d;
        }
        sleep(1);
    } else {
        late_ = false;
        sleep(nextDeadline_ - now);
        nextDeadline_ += d;
    }
}

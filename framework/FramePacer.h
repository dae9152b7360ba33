#pragma once
// Paces a loop to a frame rate on the process time source. Frame lengths are kept in
// 16.16 fixed-point milliseconds so that 60 fps averages 16 2/3 ms; after a stall it
// skips at most 150 ms worth of frames and starts over. Not locked: one thread uses it.
#include <array>
#include <cstdint>

class FramePacer {
public:
    // Sleeps ms milliseconds (or less, when woken for a reason of the caller's).
    using SleepFunction = void (*)(void* context, uint32_t ms);

    static constexpr uint32_t kMaxRate = 1000;

    FramePacer();
    virtual ~FramePacer() = default;

    // 1..1000 fps; 0 stops pacing (no sleeps). Above 1000 a frame would last 0 ms:
    // refused, nothing changes.
    virtual bool setRate(uint32_t fps);
    virtual uint32_t rate() const { return rate_; }
    // Frames per second over the last 31 intervals, 16.16; 0 until 32 frames were seen.
    virtual uint32_t measuredRate() const;
    virtual void reset();
    // Frames skipped so far in the current catch-up (0 when not skipping).
    virtual uint32_t isSkipping() const { return skipCount_; }
    virtual void waitNextFrame();
    // Set when the frame being waited for was already more than one frame late.
    virtual bool isLate() const { return late_; }
    // Null selects the system sleep.
    virtual void setSleepFunction(SleepFunction f, void* context);

    uint32_t period() const { return period_; }
    uint32_t nextDeadline() const { return nextDeadline_; }

private:
    void sleep(uint32_t ms);

    static constexpr uint32_t kRingSize = 32;

    uint32_t rate_ = 60;
    uint32_t period_ = 0;
    uint32_t fraction_ = 0;
    uint32_t nextDeadline_ = 0;
    std::array<uint32_t, kRingSize> frameTimes_{};
    uint32_t frameCount_ = 0;
    bool late_ = false;
    uint32_t skipTarget_ = 0;
    uint32_t skipCount_ = 0;
    SleepFunction sleepFunction_ = nullptr;
    void* sleepContext_ = nullptr;
};

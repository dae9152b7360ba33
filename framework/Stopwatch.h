#pragma once
// Pausable millisecond clock on the process time source. Unsigned arithmetic keeps it
// right across the 2^32 wrap of the source. Not locked: one thread at a time.
#include <cstdint>

class Stopwatch {
public:
    // Starts running at 0.
    Stopwatch();
    virtual ~Stopwatch() = default;

    virtual void restart();
    virtual uint32_t elapsed() const;
    // The clock reads exactly ms from now on, running or paused.
    virtual void setPosition(uint32_t ms);
    virtual void pause();
    virtual void resume();

    bool isRunning() const { return running_; }

private:
    uint32_t start_ = 0;
    uint32_t frozen_ = 0;
    bool running_ = false;
};

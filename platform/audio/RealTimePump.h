#pragma once
// A thread that pulls from an audio source at the pace of the wall clock, one short
// period ahead, for outputs with no device to set the pace.
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "framework/Event.h"
#include "platform/audio/AudioOutput.h"

class RealTimePump {
public:
    // `sink` receives each pulled block (interleaved stereo, `frames` long); may be empty.
    using Sink = std::function<void(const float* samples, uint32_t frames)>;

    explicit RealTimePump(uint32_t periodMs = 10);
    ~RealTimePump();
    RealTimePump(const RealTimePump&) = delete;
    RealTimePump& operator=(const RealTimePump&) = delete;

    void start(AudioSource& source, Sink sink);
    void stop();
    bool running() const { return thread_.joinable(); }
    uint32_t periodFrames() const { return periodFrames_; }

private:
    void run(AudioSource& source, const Sink& sink);

    const uint32_t periodMs_;
    const uint32_t periodFrames_;
    Event stop_{Event::Reset::Manual};
    std::thread thread_;
};

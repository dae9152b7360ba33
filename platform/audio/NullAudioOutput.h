#pragma once
// An output with no device: the mix is consumed and dropped at the pace of the wall
// clock, so clocks built on consumed samples still advance in real time.
#include "platform/audio/AudioOutput.h"
#include "platform/audio/RealTimePump.h"

class NullAudioOutput : public AudioOutput {
public:
    NullAudioOutput() = default;
    ~NullAudioOutput() override { close(); }

    const char* name() const override { return "null"; }
    bool open(AudioSource& source) override;
    void close() override { pump_.stop(); }
    uint32_t latencyFrames() const override { return 0; }

private:
    RealTimePump pump_;
};

#pragma once
// The device output through SDL2, which reaches PipeWire, PulseAudio or ALSA (and obeys
// SDL_AUDIODRIVER). SDL converts our float stereo 48 kHz to whatever the device takes.
#include <atomic>
#include <cstdint>

#include "platform/audio/AudioOutput.h"

class SdlAudioOutput : public AudioOutput {
public:
    SdlAudioOutput() = default;
    ~SdlAudioOutput() override { close(); }

    const char* name() const override { return "sdl"; }
    bool open(AudioSource& source) override;
    void close() override;
    uint32_t latencyFrames() const override { return latency_; }
    // The SDL driver in use ("pulseaudio", "alsa", "dummy", ...), or "" when closed.
    const char* driver() const;

private:
    static void callback(void* self, uint8_t* stream, int len);

    AudioSource* source_ = nullptr;
    uint32_t device_ = 0;
    bool subsystem_ = false;
    uint32_t latency_ = 0;
};

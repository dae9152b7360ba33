#pragma once
// The narrow face of an audio output: it opens its device (or file) and pulls mixed
// stereo float frames at 48 kHz from a source until it is closed.
#include <cstdint>

// What an output pulls from (the mixer).
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Fills `out` with `frames` interleaved stereo frames. `realTime` tells that the block
    // starts playing now and lasts its length (so clocks may interpolate through it).
    virtual void mix(float* out, uint32_t frames, bool realTime) = 0;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Short name, as in the output list ("sdl", "null", "wav").
    virtual const char* name() const = 0;
    // Starts pulling from `source`; false (and nothing running) when it cannot open.
    virtual bool open(AudioSource& source) = 0;
    // Stops pulling; no call into the source is made after it returns.
    virtual void close() = 0;
    // Frames between being pulled and being heard.
    virtual uint32_t latencyFrames() const { return 0; }
};

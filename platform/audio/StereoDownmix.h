#pragma once
// Turns interleaved PCM of any supported layout into interleaved stereo float at the
// same rate: sample conversion and a fixed per-channel (left, right) weight table.
#include <cstddef>
#include <vector>

#include "platform/audio/AudioFormat.h"

class StereoDownmix {
public:
    explicit StereoDownmix(const AudioFormat& format);

    // Converts `frames` whole frames from `in` and writes 2 * frames floats to `out`.
    // Non-finite float input becomes silence so one bad sample cannot poison the mix.
    void convert(const void* in, size_t frames, float* out) const;

    float leftWeight(uint32_t channel) const { return weights_[channel * 2]; }
    float rightWeight(uint32_t channel) const { return weights_[channel * 2 + 1]; }

    // The layout assumed when a format names none.
    static uint32_t defaultMask(uint32_t channels);

private:
    AudioFormat format_;
    std::vector<float> weights_;  // channels x (left, right)
    bool passThrough_ = false;    // plain stereo: copy
};

#include "platform/audio/StereoDownmix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum Speaker : uint32_t {
    kFrontLeft = 0x1,
    kFrontRight = 0x2,
    kFrontCenter = 0x4,
    kLowFrequency = 0x8,
    kBackLeft = 0x10,
    kBackRight = 0x20,
    kFrontLeftOfCenter = 0x40,
    kFrontRightOfCenter = 0x80,
    kBackCenter = 0x100,
    kSideLeft = 0x200,
    kSideRight = 0x400,
    kTopCenter = 0x800,
    kTopFrontLeft = 0x1000,
    kTopFrontCenter = 0x2000,
    kTopFrontRight = 0x4000,
    kTopBackLeft = 0x8000,
    kTopBackCenter = 0x10000,
    kTopBackRight = 0x20000,
};

constexpr float kMinus3dB = 0.70710678f;

struct Weights {
    float left, right;
};

// Front pair at full level; everything else that has a side at -3 dB on that side;
// centres at -3 dB on both; the low-frequency channel is left out of a stereo mix.
Weights weightsFor(uint32_t speaker) {
    switch (speaker) {
        case kFrontLeft:
            return {1.0f, 0.0f};
        case kFrontRight:
            return {0.0f, 1.0f};
        case kLowFrequency:
            return {0.0f, 0.0f};
        case kFrontCenter:
        case kBackCenter:
        case kTopCenter:
        case kTopFrontCenter:
        case kTopBackCenter:
            return {kMinus3dB, kMinus3dB};
        case kBackLeft:
        case kFrontLeftOfCenter:
        case kSideLeft:
        case kTopFrontLeft:
        case kTopBackLeft:
            return {kMinus3dB, 0.0f};
        case kBackRight:
        case kFrontRightOfCenter:
        case kSideRight:
        case kTopFrontRight:
        case kTopBackRight:
            return {0.0f, kMinus3dB};
        default:
            return {kMinus3dB, kMinus3dB};
    }
}

}  // namespace

uint32_t StereoDownmix::defaultMask(uint32_t channels) {
    switch (channels) {
        case 1:
            return kFrontCenter;
        case 2:
            return kFrontLeft | kFrontRight;
        case 3:
            return kFrontLeft | kFrontRight | kFrontCenter;
        case 4:
            return kFrontLeft | kFrontRight | kBackLeft | kBackRight;
        case 5:
            return kFrontLeft | kFrontRight | kFrontCenter | kBackLeft | kBackRight;
        case 6:
            return kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
        case 7:
            return kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kBackCenter;
        case 8:
            return kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kSideLeft |
                   kSideRight;
        default:
            return 0;
    }
}

StereoDownmix::StereoDownmix(const AudioFormat& format) : format_(format), weights_(format.channels * 2, 0.0f) {
    const uint32_t n = format.channels;
    if (n == 1) {
        // Mono plays at full level on both sides.
        weights_[0] = weights_[1] = 1.0f;
        return;
    }
    uint32_t mask = format.channelMask ? format.channelMask : defaultMask(n);
    for (uint32_t c = 0; c < n; ++c) {
        Weights w;
        if (mask) {
            // Channels take the mask's set bits in ascending order; any beyond them are
            // unplaced and go to both sides.
            uint32_t speaker = mask & (~mask + 1);
            mask &= mask - 1;
            w = weightsFor(speaker);
        } else if (format.channelMask == 0 && defaultMask(n) == 0) {
            // No known layout: alternate sides.
            w = (c % 2 == 0) ? Weights{1.0f, 0.0f} : Weights{0.0f, 1.0f};
        } else {
            w = {kMinus3dB, kMinus3dB};
        }
        weights_[c * 2] = w.left;
        weights_[c * 2 + 1] = w.right;
    }
    // Scale both sides by one factor so a full-scale input cannot exceed full scale and
    // the left/right balance of the source is kept.
    float sumLeft = 0, sumRight = 0;
    for (uint32_t c = 0; c < n; ++c) {
        sumLeft += weights_[c * 2];
        sumRight += weights_[c * 2 + 1];
    }
    float peak = std::max(sumLeft, sumRight);
    if (peak > 1.0f)
        for (float& w : weights_) w /= peak;
    passThrough_ = n == 2 && weights_ == std::vector<float>{1.0f, 0.0f, 0.0f, 1.0f};
}

void StereoDownmix::convert(const void* in, size_t frames, float* out) const {
    const uint32_t n = format_.channels;
    const auto* bytes = static_cast<const uint8_t*>(in);
    auto sampleAt = [&](size_t index) -> float {
        switch (format_.type) {
            case SampleType::U8:
                return (static_cast<float>(bytes[index]) - 128.0f) * (1.0f / 128.0f);
            case SampleType::S16: {
                int16_t v;
                std::memcpy(&v, bytes + index * 2, 2);
                return static_cast<float>(v) * (1.0f / 32768.0f);
            }
            case SampleType::F32: {
                float v;
                std::memcpy(&v, bytes + index * 4, 4);
                return std::isfinite(v) ? v : 0.0f;
            }
        }
        return 0.0f;
    };
    if (passThrough_) {
        for (size_t i = 0; i < frames * 2; ++i) out[i] = sampleAt(i);
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        float left = 0, right = 0;
        for (uint32_t c = 0; c < n; ++c) {
            float s = sampleAt(f * n + c);
            left += s * weights_[c * 2];
            right += s * weights_[c * 2 + 1];
        }
        out[f * 2] = left;
        out[f * 2 + 1] = right;
    }
}

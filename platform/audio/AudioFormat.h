#pragma once
// The PCM layouts a mixer input accepts, and the mixer's own fixed format.
#include <cstddef>
#include <cstdint>

enum class SampleType : uint8_t {
    U8,   // unsigned 8-bit, silence at 128
    S16,  // signed 16-bit, native byte order
    F32,  // 32-bit float, full scale +-1.0
};

struct AudioFormat {
    SampleType type = SampleType::S16;
    uint32_t rate = 48000;
    uint32_t channels = 2;
    // Speaker positions of the channels, in the platform's bit order (front left = 0x1,
    // front right = 0x2, front centre = 0x4, ...); 0 = the usual layout for the count.
    uint32_t channelMask = 0;

    static constexpr uint32_t kMaxChannels = 32;
    static constexpr uint32_t kMinRate = 1000;
    static constexpr uint32_t kMaxRate = 768000;

    uint32_t bytesPerSample() const {
        switch (type) {
            case SampleType::U8:
                return 1;
            case SampleType::S16:
                return 2;
            case SampleType::F32:
                return 4;
        }
        return 0;
    }
    uint32_t bytesPerFrame() const { return bytesPerSample() * channels; }
    bool valid() const {
        return bytesPerSample() != 0 && channels >= 1 && channels <= kMaxChannels && rate >= kMinRate &&
               rate <= kMaxRate;
    }
    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// What every mixer input is converted to, and what outputs receive.
struct MixFormat {
    static constexpr uint32_t kRate = 48000;
    static constexpr uint32_t kChannels = 2;
};

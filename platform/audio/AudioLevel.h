#pragma once
// Level and balance in hundredths of a decibel, as the audio interfaces take them.
#include <cstdint>

struct ChannelGains {
    float left = 1.0f;
    float right = 1.0f;
};

constexpr int32_t kLevelSilent = -10000;  // and anything below: no sound at all
constexpr int32_t kLevelFull = 0;
constexpr int32_t kBalanceLeftOnly = -10000;
constexpr int32_t kBalanceRightOnly = 10000;

// Amplitude factor of an attenuation; -10000 (and lower) is exact silence.
float levelToAmplitude(int32_t hundredthsDb);

// A negative balance attenuates the right side by its magnitude, a positive one the left;
// the other side stays at full level.
ChannelGains balanceToGains(int32_t balance);

// Volume and balance together.
ChannelGains levelAndBalanceGains(int32_t volume, int32_t balance);

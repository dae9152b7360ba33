#include "platform/audio/AudioLevel.h"

#include <algorithm>
#include <cmath>

float levelToAmplitude(int32_t hundredthsDb) {
    if (hundredthsDb <= kLevelSilent) return 0.0f;
    if (hundredthsDb >= 0) return 1.0f;
    return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

ChannelGains balanceToGains(int32_t balance) {
    balance = std::clamp(balance, kBalanceLeftOnly, kBalanceRightOnly);
    ChannelGains g;
    if (balance < 0)
        g.right = levelToAmplitude(balance);
    else if (balance > 0)
        g.left = levelToAmplitude(-balance);
    return g;
}

ChannelGains levelAndBalanceGains(int32_t volume, int32_t balance) {
    float level = levelToAmplitude(volume);
    ChannelGains g = balanceToGains(balance);
    return {g.left * level, g.right * level};
}

#include "media/AudioLevels.h"

#include <cmath>

int32_t toDecibels(int32_t volume) {
    if (volume <= 0) return kSilentLevel;
    // log10(v) - 3 rather than log10(v / 1000): powers of ten stay exact (1 -> -6000).
    double level = 2000.0 * (std::log10(static_cast<double>(volume)) - 3.0);
    return static_cast<int32_t>(std::trunc(level));
}

int32_t panToBalance(int32_t pan) {
    if (pan < 0) return toDecibels(1000 + pan);
    return -toDecibels(1000 - pan);
}

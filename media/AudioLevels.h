#pragma once
// Conversions from the application's linear levels (volume 0..1000, pan -1000..1000) to
// the audio renderer's hundredths of a decibel.
#include <cstdint>

constexpr int32_t kSilentLevel = -10000;

// trunc(2000 * log10(v / 1000)) for v > 0; silence for v <= 0.
int32_t toDecibels(int32_t volume);
// The balance for a pan (the side away from the pan is attenuated). The caller checks
// the range -1000..1000.
int32_t panToBalance(int32_t pan);

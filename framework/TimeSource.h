#pragma once
// The process-wide millisecond time source every clock and deadline reads: unsigned
// 32-bit, wrapping at 2^32, from a monotonic clock.
#include <cstdint>

uint32_t currentTimeMs();

// Tests drive time by hand through this; null restores the real source.
using TimeFunction = uint32_t (*)();
void setTimeFunction(TimeFunction f);

#pragma once
// The process-wide millisecond time source every clock and deadline reads: unsigned
// 32-bit, wrapping at 2^32.
//
// It follows one of two system clocks: the tick count (coarse, a few milliseconds per
// step, the default) or the multimedia timer's time (1 ms), which TimerResolution
// selects while the raised resolution is held. Both count from the same monotonic
// origin, and a switch back to the tick count never lets the source step backwards.
#include <cstdint>

uint32_t currentTimeMs();

enum class SystemClock { TickCount, MultimediaTimer };
void selectSystemClock(SystemClock clock);
SystemClock selectedSystemClock();

// The two system clocks themselves, whatever is selected.
uint32_t tickCountMs();
uint32_t multimediaTimeMs();

// Tests drive time by hand through this; it overrides the system clocks until it is
// cleared again with null.
using TimeFunction = uint32_t (*)();
void setTimeFunction(TimeFunction f);

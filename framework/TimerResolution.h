#pragma once
// Process-wide, reference-counted timer resolution. The first acquirer asks the
// multimedia timer for its capabilities and, when it is fine enough, raises the
// resolution and makes the time source follow the multimedia timer; the last release
// undoes both. Here "raising the resolution" means the finest kernel timer slack for
// the timing threads, so their sleeps and waits end within about a millisecond.
#include <cstdint>

class TimerResolution {
public:
    // The multimedia timer's capabilities, in milliseconds.
    struct Capabilities {
        uint32_t periodMin = 0;
        uint32_t periodMax = 0;
    };
    using CapabilityQuery = bool (*)(Capabilities& caps);

    // flag != 0 takes a reference without touching the resolution.
    static void acquire(uint32_t flag = 0);
    static void release();

    static uint32_t referenceCount();
    // The raised period in ms (minimum period + 1), 0 when not raised.
    static uint32_t period();

    // What the platform offers: 1 ms steps from the monotonic clock.
    static bool deviceCapabilities(Capabilities& caps);
    // Tests replace the capability query; null restores the device's.
    static void setCapabilityQuery(CapabilityQuery query);

    // Gives the calling thread the current resolution (raised or default). Threads of
    // the framework call this when they begin; the first acquirer's thread and the last
    // releaser's get it at once.
    static void applyToCurrentThread();
};

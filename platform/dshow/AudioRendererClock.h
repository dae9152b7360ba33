#pragma once
// The audio renderer's reference clock. While its mixer input is playing, time advances
// with the input frames the mixer has consumed; whenever the audio is not moving (not
// started, paused, starved, ended, or no output pulling) it advances with the system
// clock instead. The two are stitched so the time never goes back or jumps.
#include <functional>
#include <memory>
#include <mutex>

#include "framework/ComObject.h"
#include "framework/dshow/FilterInterfaces.h"
#include "platform/audio/MixerInput.h"
#include "platform/dshow/AdviseScheduler.h"

class AudioRendererClock : public ComObject<IReferenceClock> {
public:
    // `systemTime` is the fallback time in 100-ns units (the system clock unless a test
    // drives it).
    explicit AudioRendererClock(std::function<REFERENCE_TIME()> systemTime = {});

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                           DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The input whose consumed frames drive the time; null for none.
    void setInput(std::shared_ptr<MixerInput> input);
    // Whether the time is following the audio right now (after the last GetTime).
    bool followingAudio() const;

    // Audio that has not moved for this long counts as stopped.
    static constexpr REFERENCE_TIME kStallTime = 100 * 10000;

private:
    ~AudioRendererClock() override;
    REFERENCE_TIME now();

    std::function<REFERENCE_TIME()> systemTime_;
    mutable std::mutex lock_;
    std::shared_ptr<MixerInput> input_;
    bool audioMode_ = false;
    REFERENCE_TIME last_ = 0;         // last time answered
    REFERENCE_TIME lastSystem_ = 0;   // system time of that answer
    REFERENCE_TIME anchorClock_ = 0;  // clock time at the anchor
    REFERENCE_TIME anchorSystem_ = 0;
    REFERENCE_TIME anchorAudio_ = 0;
    REFERENCE_TIME lastAudio_ = -1;  // audio position seen last, and when it last moved
    REFERENCE_TIME audioMovedAt_ = 0;
    std::unique_ptr<AdviseScheduler> scheduler_;
};

#include "platform/dshow/AudioRendererClock.h"

#include <algorithm>

#include "framework/dshow/DshowErrors.h"
#include "platform/dshow/SystemClock.h"

AudioRendererClock::AudioRendererClock(std::function<REFERENCE_TIME()> systemTime)
    : systemTime_(systemTime ? std::move(systemTime) : std::function<REFERENCE_TIME()>(&SystemClock::now)) {
    REFERENCE_TIME start = systemTime_();
    last_ = anchorClock_ = anchorSystem_ = lastSystem_ = start;
    scheduler_ = std::make_unique<AdviseScheduler>([this] { return now(); }, true);
}

AudioRendererClock::~AudioRendererClock() {
    scheduler_.reset();
}

void AudioRendererClock::setInput(std::shared_ptr<MixerInput> input) {
    std::lock_guard lock(lock_);
    // Leave audio mode at the current time; the next reading re-anchors on the new input.
    if (audioMode_) {
        anchorClock_ = last_;
        anchorSystem_ = lastSystem_;
        audioMode_ = false;
    }
    input_ = std::move(input);
    lastAudio_ = -1;
}

bool AudioRendererClock::followingAudio() const {
    std::lock_guard lock(lock_);
    return audioMode_;
}

REFERENCE_TIME AudioRendererClock::now() {
    std::lock_guard lock(lock_);
    const REFERENCE_TIME system = systemTime_();
    bool audioMoving = false;
    REFERENCE_TIME audio = 0;
    if (input_ && !input_->paused() && !input_->starved() && !input_->drained()) {
        // Steady nanoseconds of the same instant (the system clock is steady time + 1 s).
        int64_t nowNs = (system - UNITS) * 100;
        uint64_t played = input_->playedFrames(nowNs);
        audio = static_cast<REFERENCE_TIME>(static_cast<__int128>(played) * UNITS / input_->format().rate);
        if (lastAudio_ < 0) {
            // First sight of this input: it counts as moving once it has moved.
            lastAudio_ = audio;
            audioMovedAt_ = system - kStallTime;
        } else if (audio != lastAudio_) {
            lastAudio_ = audio;
            audioMovedAt_ = system;
        }
        audioMoving = system - audioMovedAt_ < kStallTime;
    }
    REFERENCE_TIME t;
    if (audioMoving) {
        if (!audioMode_) {
            anchorClock_ = std::max(last_, anchorClock_ + (system - anchorSystem_));
            anchorAudio_ = audio;
            audioMode_ = true;
        }
        t = anchorClock_ + (audio - anchorAudio_);
    } else {
        if (audioMode_) {
            // The audio stopped somewhere since the last reading: system time carries on
            // from that reading.
            anchorClock_ = last_;
            anchorSystem_ = lastSystem_;
            audioMode_ = false;
        }
        t = anchorClock_ + (system - anchorSystem_);
    }
    lastSystem_ = system;
    last_ = std::max(last_, t);
    return last_;
}

HRESULT AudioRendererClock::GetTime(REFERENCE_TIME* pTime) {
    if (!pTime) return E_POINTER;
    *pTime = now();
    return S_OK;
}

HRESULT AudioRendererClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                       DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie) return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hEvent) return E_INVALIDARG;
    if (baseTime < 0 || streamTime > MAX_TIME - baseTime || baseTime + streamTime <= 0) return E_INVALIDARG;
    *pdwAdviseCookie = scheduler_->adviseTime(baseTime + streamTime, hEvent);
    return *pdwAdviseCookie ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioRendererClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                                           DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie) return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hSemaphore || startTime <= 0 || periodTime <= 0) return E_INVALIDARG;
    *pdwAdviseCookie = scheduler_->advisePeriodic(startTime, periodTime, hSemaphore);
    return *pdwAdviseCookie ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioRendererClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    return scheduler_->unadvise(dwAdviseCookie) ? S_OK : S_FALSE;
}

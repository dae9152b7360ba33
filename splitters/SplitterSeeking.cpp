#include "splitters/SplitterSeeking.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/EventCodes.h"
#include "framework/dshow/MediaGuids.h"
#include "splitters/SplitterFilter.h"

SplitterSeeking::SplitterSeeking(SplitterFilter* filter, SplitterSource* source)
    : SourceSeekingBase(static_cast<IBaseFilter*>(filter)), filter_(filter), source_(source) {
    stop_ = source ? source->duration() : 0;
    segmentStop_ = stop_;
    thread_.setContextFunction(&SplitterSeeking::threadEntry, this);
}

SplitterSeeking::~SplitterSeeking() {
    stopStreaming();
}

// ---- Plain reads and formats ----

HRESULT SplitterSeeking::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    if (*pFormat == TIME_FORMAT_MEDIA_TIME) return S_OK;
    if (*pFormat == TIME_FORMAT_FRAME) {
        ScopedLock lock(lock_);
        return source_ && source_->supportsFrameFormat() ? S_OK : S_FALSE;
    }
    return E_INVALIDARG;
}

HRESULT SplitterSeeking::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT SplitterSeeking::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    ScopedLock lock(lock_);
    *pFormat = format_;
    return S_OK;
}

HRESULT SplitterSeeking::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    ScopedLock lock(lock_);
    return *pFormat == format_ ? S_OK : S_FALSE;
}

HRESULT SplitterSeeking::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    if (IsFormatSupported(pFormat) != S_OK) return E_INVALIDARG;
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;
    if (*pFormat == format_) return S_OK;
    // Stored positions follow the format so that nothing moves.
    GUID from = format_;
    for (LONGLONG* p : {&current_, &stop_, &lastCurrent_, &lastStop_})
        if (*p >= 0) convert(p, *pFormat, *p, from);
    format_ = *pFormat;
    return S_OK;
}

LONGLONG SplitterSeeking::durationLocked() {
    if (!source_) return 0;
    return frameFormat() ? source_->frameCount() : source_->duration();
}

REFERENCE_TIME SplitterSeeking::toMediaTimeLocked(LONGLONG value) {
    return frameFormat() && source_ ? source_->frameToTime(value) : value;
}

HRESULT SplitterSeeking::convert(LONGLONG* target, const GUID& to, LONGLONG value, const GUID& from) {
    if (to == from) {
        *target = value;
        return S_OK;
    }
    if (!source_) return E_UNEXPECTED;
    if (from == TIME_FORMAT_FRAME && to == TIME_FORMAT_MEDIA_TIME) {
        *target = source_->frameToTime(value);
        return S_OK;
    }
    if (from == TIME_FORMAT_MEDIA_TIME && to == TIME_FORMAT_FRAME) {
        *target = source_->timeToFrame(value);
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT SplitterSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                           const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    ScopedLock lock(lock_);
    GUID to = pTargetFormat ? *pTargetFormat : format_;
    GUID from = pSourceFormat ? *pSourceFormat : format_;
    for (const GUID& f : {to, from}) {
        bool ok = f == TIME_FORMAT_MEDIA_TIME || (f == TIME_FORMAT_FRAME && source_ && source_->supportsFrameFormat());
        if (!ok) return E_INVALIDARG;
    }
    return convert(pTarget, to, Source, from);
}

HRESULT SplitterSeeking::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;
    *pDuration = durationLocked();
    return S_OK;
}

HRESULT SplitterSeeking::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;
    *pStop = stop_;
    return S_OK;
}

HRESULT SplitterSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (!pCurrent && !pStop) return E_POINTER;
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;
    if (pCurrent) *pCurrent = current_;
    if (pStop) *pStop = stop_;
    return S_OK;
}

HRESULT SplitterSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;
    if (pEarliest) *pEarliest = 0;
    if (pLatest) *pLatest = durationLocked();
    return S_OK;
}

// ---- Seeking ----

HRESULT SplitterSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    DWORD currentKind = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopKind = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentKind && !pCurrent) || (stopKind && !pStop)) return E_POINTER;
    if (currentKind == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;

    // The filter's lock keeps state changes (and the output queues) still meanwhile.
    ScopedLock filterLock(*filter_->pStateLock());
    ScopedLock lock(lock_);
    if (!source_) return E_UNEXPECTED;

    LONGLONG current = current_, stop = stop_;
    if (currentKind == AM_SEEKING_AbsolutePositioning) current = *pCurrent;
    if (currentKind == AM_SEEKING_RelativePositioning) current += *pCurrent;
    if (stopKind == AM_SEEKING_AbsolutePositioning) stop = *pStop;
    if (stopKind == AM_SEEKING_RelativePositioning) stop += *pStop;
    if (stopKind == AM_SEEKING_IncrementalPositioning) stop = current + *pStop;
    LONGLONG duration = durationLocked();
    current = std::clamp<LONGLONG>(current, 0, duration);
    stop = std::clamp<LONGLONG>(stop, 0, duration);
    if (currentKind && (dwCurrentFlags & AM_SEEKING_ReturnTime)) *pCurrent = toMediaTimeLocked(current);
    if (stopKind && (dwStopFlags & AM_SEEKING_ReturnTime)) *pStop = toMediaTimeLocked(stop);
    current_ = current;
    stop_ = stop;
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (currentKind) segmentStart_ = toMediaTimeLocked(current);
        segmentStop_ = toMediaTimeLocked(stop);
    }

    bool running = filter_->state() == State_Running;
    // A round delivered since the last seek moved the source on from that position.
    bool sourceMoved;
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        sourceMoved = std::exchange(sourceMoved_, false);
    }
    HRESULT hr = S_OK;
    if (running || sourceMoved || current != lastCurrent_ || stop != lastStop_) {
        bool threadLives;
        {
            std::lock_guard<std::mutex> g(stateMutex_);
            threadLives = threadMade_;
        }
        // While the filter is active the outputs are flushed even when delivery has
        // ended: renderers that took an end of stream must accept the new segment.
        bool active = threadLives && !filter_->IsStopped();
        bool wasRunning = false;
        if (active) {
            {
                std::lock_guard<std::mutex> g(stateMutex_);
                wasRunning = state_ == Running;
                if (wasRunning || state_ == Restart) state_ = Waiting;
            }
            // Flushing first releases a delivery blocked downstream.
            flushOutputs(true);
            parkThread(INFINITE);
            flushOutputs(false);
        }
        hr = frameFormat() ? source_->seekToFrame(current) : source_->seekToTime(current);
        {
            std::lock_guard<std::mutex> g(stateMutex_);
            segmentOpen_ = false;
        }
        if (active) {
            // Running (or delivering) goes on from the new position; paused, the flushed
            // renderers get one round of it to show.
            {
                std::lock_guard<std::mutex> g(stateMutex_);
                if (state_ == Waiting) state_ = wasRunning || running ? Running : Restart;
            }
            thread_.wake();
        }
    }
    if (!running) {
        lastCurrent_ = current;
        lastStop_ = stop;
    }
    return hr;
}

// ---- Streaming thread ----

int SplitterSeeking::threadState() {
    std::lock_guard<std::mutex> g(stateMutex_);
    return state_;
}

void SplitterSeeking::setStateIf(int from, int to) {
    std::lock_guard<std::mutex> g(stateMutex_);
    if (state_ == from) state_ = to;
}

HRESULT SplitterSeeking::startStreaming() {
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (threadMade_) return S_OK;
        state_ = Starting;
        parked_ = false;
        ack_.reset();
    }
    if (!thread_.start()) {
        std::lock_guard<std::mutex> g(stateMutex_);
        state_ = Exited;
        return E_OUTOFMEMORY;
    }
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        threadMade_ = true;
    }
    if (!ack_.wait(kStartTimeoutMs)) {
        stopStreaming();
        return E_FAIL;
    }
    return S_OK;
}

void SplitterSeeking::prerollStreaming() {
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (state_ != Waiting) return;
        state_ = Restart;
    }
    thread_.wake();
}

void SplitterSeeking::runStreaming() {
    {
        ScopedLock lock(lock_);
        lastCurrent_ = -1;
        lastStop_ = -1;
    }
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (state_ != Waiting && state_ != Restart) return;
        state_ = Running;
    }
    thread_.wake();
}

bool SplitterSeeking::parkThread(uint32_t timeoutMs) {
    bool wait;
    bool delivering;
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        delivering = state_ == Running || state_ == Restart;
        if (delivering) state_ = Waiting;
        wait = threadMade_ && !parked_;
        if (wait) ack_.reset();
    }
    if (wait) ack_.wait(timeoutMs);
    return delivering;
}

void SplitterSeeking::stopStreaming() {
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        if (!threadMade_) return;
    }
    parkThread(kStopGraceMs);
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        state_ = ExitRequested;
    }
    thread_.wake();
    thread_.stop();
    std::lock_guard<std::mutex> g(stateMutex_);
    state_ = Exited;
    threadMade_ = false;
    parked_ = false;
    segmentOpen_ = false;
}

void SplitterSeeking::detach() {
    stopStreaming();
    ScopedLock lock(lock_);
    source_ = nullptr;
}

void SplitterSeeking::threadEntry(Thread& thread, void* context) {
    static_cast<SplitterSeeking*>(context)->threadMain(thread);
}

void SplitterSeeking::threadMain(Thread& thread) {
    for (;;) {
        int state;
        {
            std::lock_guard<std::mutex> g(stateMutex_);
            state = state_;
            if (state == Waiting) {
                parked_ = true;
                ack_.set();
            }
        }
        switch (state) {
            case Starting:
                setStateIf(Starting, Waiting);
                break;
            case Waiting: {
                thread.waitOrStop(INFINITE);
                std::lock_guard<std::mutex> g(stateMutex_);
                parked_ = false;
                break;
            }
            case Running:
                deliveryLoop(Running);
                break;
            case Restart:
                deliveryLoop(Restart);
                setStateIf(Restart, Waiting);
                break;
            default:
                return;
        }
    }
}

void SplitterSeeking::flushOutputs(bool begin) {
    for (SplitterOutputPin* pin : {filter_->videoPin(), filter_->audioPin()}) {
        if (!pin || !pin->IsConnected()) continue;
        if (begin)
            pin->beginFlush();
        else
            pin->endFlush();
    }
}

void SplitterSeeking::endOfStream() {
    for (SplitterOutputPin* pin : {filter_->videoPin(), filter_->audioPin()})
        if (pin && pin->IsConnected()) pin->deliverEndOfStream();
}

void SplitterSeeking::deliveryLoop(int mode) {
    REFERENCE_TIME segmentStart, segmentStop;
    bool continuing;
    {
        std::lock_guard<std::mutex> g(stateMutex_);
        segmentStart = segmentStart_;
        segmentStop = segmentStop_;
        // After a round delivered while paused, running continues that segment.
        continuing = segmentOpen_ && mode == Running;
        segmentOpen_ = false;
    }
    // A paused round can be cut short by Run before it delivers anything, so the marks
    // still owed carry over to the running rounds that continue its segment.
    if (!continuing) pendingDiscontinuity_[0] = pendingDiscontinuity_[1] = true;
    // Only a stop before the end cuts the stream; otherwise the source ends it.
    const bool stopCuts = segmentStop < source_->duration();
    SplitterOutputPin* pins[2] = {filter_->videoPin(), filter_->audioPin()};
    const DWORD filledFlag[2] = {kSplitterVideoFilled, kSplitterAudioFilled};
    bool connected[2];
    for (int i = 0; i < 2; ++i) {
        connected[i] = pins[i] && pins[i]->IsConnected();
        if (connected[i] && !continuing) pins[i]->deliverNewSegment(segmentStart, segmentStop, 1.0);
    }
    bool* discontinuity = pendingDiscontinuity_;
    IMediaSample* held[2] = {nullptr, nullptr};
    auto stillWanted = [&] {
        std::lock_guard<std::mutex> g(stateMutex_);
        return state_ == mode;
    };

    while (stillWanted()) {
        bool missing = false;
        for (int i = 0; i < 2; ++i) {
            if (!connected[i] || held[i]) continue;
            if (FAILED(pins[i]->GetDeliveryBuffer(&held[i], nullptr, nullptr, AM_GBF_NOWAIT)) || !held[i]) {
                held[i] = nullptr;
                missing = true;
            }
        }
        if (missing) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kBufferRetryMs));
            continue;
        }

        DWORD flags = 0;
        HRESULT hr = source_->fillSamples(held[0], held[1], &flags);
        {
            std::lock_guard<std::mutex> g(stateMutex_);
            sourceMoved_ = true;
        }
        if (FAILED(hr)) {
            for (IMediaSample*& s : held)
                if (s) s->Release(), s = nullptr;
            endOfStream();
            if (hr != NS_E_NO_MORE_SAMPLES) filter_->NotifyEvent(EC_ERRORABORT, hr, 0);
            setStateIf(mode, Waiting);
            break;
        }

        bool filled = false, beforeStop = false, deliveryFailed = false;
        for (int i = 0; i < 2; ++i) {
            if (!(flags & filledFlag[i]) || !held[i]) continue;
            IMediaSample* sample = std::exchange(held[i], nullptr);
            filled = true;
            REFERENCE_TIME start = 0, end = 0;
            HRESULT timed = sample->GetTime(&start, &end);
            if (stopCuts && SUCCEEDED(timed) && start >= segmentStop) {
                sample->Release();
                continue;
            }
            beforeStop = true;
            if (discontinuity[i]) {
                sample->SetDiscontinuity(TRUE);
                discontinuity[i] = false;
            }
            if (SUCCEEDED(timed)) {
                start -= segmentStart;
                end -= segmentStart;
                sample->SetTime(&start, timed == S_OK ? &end : nullptr);
            }
            if (FAILED(pins[i]->deliverSample(sample))) deliveryFailed = true;
        }
        if (deliveryFailed) {
            setStateIf(mode, Waiting);
            break;
        }
        if (filled && !beforeStop) {
            endOfStream();
            setStateIf(mode, Waiting);
            break;
        }
        if (mode == Restart) break;
    }
    for (IMediaSample* s : held)
        if (s) s->Release();
    if (mode == Restart) {
        std::lock_guard<std::mutex> g(stateMutex_);
        segmentOpen_ = true;
    }
}

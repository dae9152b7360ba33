#pragma once
// Synthetic filters for the graph tests, built on the filter base classes: a source that
// stamps numbered frames (with seeking that flushes and restarts, as a splitter does), a
// transform between two test subtypes, and a plain recording sink.
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseInputPin.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CTransformFilter.h"
#include "framework/dshow/Dshow.h"
#include "framework/dshow/SourceSeekingBase.h"

namespace synthetic {

// Subtypes only these tests speak.
constexpr GUID kSubtypeA = guidOf("{6A3E0001-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr GUID kSubtypeB = guidOf("{6A3E0002-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr GUID kSubtypeC = guidOf("{6A3E0003-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kSourceClass = guidOf("{6A3E1000-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kSinkClass = guidOf("{6A3E1001-1F0C-4E0B-9E51-3C7D2A8B9F01}");

inline void makeType(CMediaType* mt, const GUID& major, const GUID& subtype, LONG sampleSize) {
    mt->InitMediaType();
    mt->SetType(&major);
    mt->SetSubtype(&subtype);
    mt->SetFormatType(&FORMAT_None);
    mt->SetSampleSize(static_cast<ULONG>(sampleSize));
}

inline int32_t frameNumberOf(IMediaSample* s) {
    BYTE* p = nullptr;
    int32_t n = -1;
    if (SUCCEEDED(s->GetPointer(&p)) && s->GetActualDataLength() >= 4) std::memcpy(&n, p, 4);
    return n;
}

class FrameSource;

// What the source answers to seeking: flush, move, restart with a new segment.
class SourceSeeking : public SourceSeekingBase {
public:
    explicit SourceSeeking(FrameSource* owner);
    HRESULT GetDuration(LONGLONG* d) override;
    HRESULT GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override;
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
        *e = 0;
        return GetDuration(l);
    }
    HRESULT SetRate(double r) override;
    HRESULT GetRate(double* r) override;

private:
    FrameSource* owner_;
};

class SourcePin : public CBaseOutputPin {
public:
    SourcePin(FrameSource* filter, CriticalSection* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    FrameSource* source_;
};

// Delivers frames first..count-1, frame n stamped n * period after the segment start, from
// its own thread while paused or running.
class FrameSource : public CBaseFilter {
public:
    FrameSource(const GUID& major, const GUID& subtype, int count, REFERENCE_TIME period, LONG frameBytes = 64)
        : CBaseFilter(u"Frame Source", &lock_, kSourceClass),
          major_(major),
          subtype_(subtype),
          count_(count),
          period_(period),
          frameBytes_(frameBytes),
          pin_(this, &lock_, nullptr),
          seeking_(this) {}
    ~FrameSource() override { stopThread(); }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    HRESULT Pause() override {
        ScopedLock l(lock_);
        bool starting = IsStopped();
        HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr) && starting && pin_.IsConnected()) startThread();
        return hr;
    }
    HRESULT Stop() override {
        {
            ScopedLock l(lock_);
            quit_ = true;
            CBaseFilter::Stop();  // decommits: a thread waiting for a buffer gives up
        }
        stopThread();
        return S_OK;
    }

    // Moves to t (frames from the one at or before t) with a flush when streaming.
    void seekTo(REFERENCE_TIME t) {
        bool streaming = thread_.joinable();
        if (streaming) {
            quit_ = true;
            pin_.DeliverBeginFlush();
            stopThread();
            pin_.DeliverEndFlush();
        }
        {
            std::lock_guard<std::mutex> g(seekMutex_);
            next_ = static_cast<int>(std::max<REFERENCE_TIME>(0, t) / period_);
            segmentStart_ = static_cast<REFERENCE_TIME>(next_) * period_;
            ++seekCount_;
        }
        ScopedLock l(lock_);
        if (streaming && !IsStopped()) startThread();
    }

    REFERENCE_TIME duration() const { return count_ * period_; }
    REFERENCE_TIME segmentStart() {
        std::lock_guard<std::mutex> g(seekMutex_);
        return segmentStart_;
    }
    int seekCount() {
        std::lock_guard<std::mutex> g(seekMutex_);
        return seekCount_;
    }
    int newSegments() const { return newSegments_.load(); }
    double rate() const { return rate_.load(); }
    void setRate(double r) { rate_ = r; }

    const GUID major_;
    const GUID subtype_;
    const int count_;
    const REFERENCE_TIME period_;
    const LONG frameBytes_;

private:
    void startThread() {
        quit_ = false;
        thread_ = std::thread([this] { deliver(); });
    }
    void stopThread() {
        if (thread_.joinable()) thread_.join();
    }
    void deliver() {
        int first;
        REFERENCE_TIME base;
        {
            std::lock_guard<std::mutex> g(seekMutex_);
            first = next_;
            base = segmentStart_;
        }
        ++newSegments_;
        pin_.DeliverNewSegment(base, MAX_TIME, 1.0);
        for (int n = first; n < count_ && !quit_; ++n) {
            IMediaSample* s = nullptr;
            if (FAILED(pin_.GetDeliveryBuffer(&s, nullptr, nullptr, 0)) || !s) return;
            BYTE* p = nullptr;
            s->GetPointer(&p);
            std::memset(p, 0, static_cast<size_t>(frameBytes_));
            std::memcpy(p, &n, 4);
            s->SetActualDataLength(frameBytes_);
            REFERENCE_TIME start = n * period_ - base, stop = start + period_;
            s->SetTime(&start, &stop);
            s->SetSyncPoint(TRUE);
            s->SetDiscontinuity(n == first);
            HRESULT hr = quit_ ? S_FALSE : pin_.Deliver(s);
            s->Release();
            {
                std::lock_guard<std::mutex> g(seekMutex_);
                if (!quit_) next_ = n + 1;
            }
            if (hr != S_OK) return;
        }
        if (!quit_) pin_.DeliverEndOfStream();
    }

    CriticalSection lock_;
    SourcePin pin_;
    SourceSeeking seeking_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::mutex seekMutex_;
    int next_ = 0;
    REFERENCE_TIME segmentStart_ = 0;
    int seekCount_ = 0;
    std::atomic<int> newSegments_{0};
    std::atomic<double> rate_{1.0};
    friend class SourcePin;
    friend class SourceSeeking;
};

inline SourcePin::SourcePin(FrameSource* filter, CriticalSection* lock, HRESULT* phr)
    : CBaseOutputPin(u"Source Output", filter, lock, phr, u"Out"), source_(filter) {}

inline HRESULT SourcePin::CheckMediaType(const CMediaType* pmt) {
    return (pmt->majortype == source_->major_ && pmt->subtype == source_->subtype_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

inline HRESULT SourcePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    makeType(pmt, source_->major_, source_->subtype_, source_->frameBytes_);
    return S_OK;
}

inline HRESULT SourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) {
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max(request->cbBuffer, source_->frameBytes_);
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= source_->frameBytes_ ? S_OK : E_FAIL;
}

inline HRESULT SourcePin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(&source_->seeking_);
        AddRef();
        return S_OK;
    }
    return CBaseOutputPin::queryOther(riid, ppv);
}

inline SourceSeeking::SourceSeeking(FrameSource* owner)
    : SourceSeekingBase(static_cast<IBaseFilter*>(owner)), owner_(owner) {}
inline HRESULT SourceSeeking::GetDuration(LONGLONG* d) {
    *d = owner_->duration();
    return S_OK;
}
inline HRESULT SourceSeeking::GetPositions(LONGLONG* c, LONGLONG* s) {
    if (c) *c = owner_->segmentStart();
    if (s) *s = owner_->duration();
    return S_OK;
}
inline HRESULT SourceSeeking::SetRate(double r) {
    if (r <= 0) return E_INVALIDARG;
    owner_->setRate(r);
    return S_OK;
}
inline HRESULT SourceSeeking::GetRate(double* r) {
    *r = owner_->rate();
    return S_OK;
}
inline HRESULT SourceSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                           DWORD dwStopFlags) {
    DWORD kind = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    if (kind == AM_SEEKING_AbsolutePositioning) {
        LONGLONG t = std::clamp<LONGLONG>(*pCurrent, 0, owner_->duration());
        owner_->seekTo(t);
        if (dwCurrentFlags & AM_SEEKING_ReturnTime) *pCurrent = t;
    } else if (kind != AM_SEEKING_NoPositioning) {
        return E_INVALIDARG;
    }
    if ((dwStopFlags & AM_SEEKING_PositioningBitsMask) && pStop && (dwStopFlags & AM_SEEKING_ReturnTime))
        *pStop = std::min<LONGLONG>(*pStop, owner_->duration());
    return S_OK;
}

// An input pin that keeps what it receives.
class RecordingSink;

class RecordingPin : public CBaseInputPin {
public:
    RecordingPin(RecordingSink* filter, CriticalSection* lock);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* s) override;
    HRESULT EndOfStream() override;
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

private:
    RecordingSink* sink_;
};

// Accepts one (major, subtype) and records frame numbers; reports EC_COMPLETE at the
// end of the stream.
class RecordingSink : public CBaseFilter {
public:
    RecordingSink(const GUID& major, const GUID& subtype, const CLSID& clsid = kSinkClass)
        : CBaseFilter(u"Recording Sink", &lock_, clsid), major_(major), subtype_(subtype), pin_(this, &lock_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    std::vector<int32_t> frames() {
        std::lock_guard<std::mutex> g(mutex_);
        return frames_;
    }
    RecordingPin* pin() { return &pin_; }

    const GUID major_;
    const GUID subtype_;

private:
    friend class RecordingPin;
    CriticalSection lock_;
    RecordingPin pin_;
    std::mutex mutex_;
    std::vector<int32_t> frames_;
};

inline RecordingPin::RecordingPin(RecordingSink* filter, CriticalSection* lock)
    : CBaseInputPin(u"Recording Input", filter, lock, nullptr, u"In"), sink_(filter) {}

inline HRESULT RecordingPin::CheckMediaType(const CMediaType* pmt) {
    return (pmt->majortype == sink_->major_ && pmt->subtype == sink_->subtype_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

inline HRESULT RecordingPin::Receive(IMediaSample* s) {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    std::lock_guard<std::mutex> g(sink_->mutex_);
    sink_->frames_.push_back(frameNumberOf(s));
    return S_OK;
}

inline HRESULT RecordingPin::EndOfStream() {
    sink_->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
}

// Converts subtype `from` into `to`, copying the payload.
class ConvertingTransform : public CTransformFilter {
public:
    ConvertingTransform(const CLSID& clsid, const GUID& from, const GUID& to, bool refuseAll = false)
        : CTransformFilter(u"Converting Transform", clsid), from_(from), to_(to), refuseAll_(refuseAll) {}
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        BYTE *a = nullptr, *b = nullptr;
        in->GetPointer(&a);
        out->GetPointer(&b);
        LONG n = std::min(in->GetActualDataLength(), out->GetSize());
        std::memcpy(b, a, static_cast<size_t>(n));
        out->SetActualDataLength(n);
        return S_OK;
    }
    HRESULT CheckInputType(const CMediaType* mt) override {
        return !refuseAll_ && mt->subtype == from_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        return in->subtype == from_ && out->subtype == to_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* p) override {
        p->cBuffers = std::max<LONG>(p->cBuffers, 2);
        p->cbBuffer = std::max<LONG>(p->cbBuffer, 4096);
        p->cbAlign = std::max<LONG>(p->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        return pAlloc->SetProperties(p, &actual);
    }
    HRESULT GetMediaType(int i, CMediaType* mt) override {
        if (i < 0) return E_INVALIDARG;
        if (i > 0) return VFW_S_NO_MORE_ITEMS;
        if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        makeType(mt, m_pInput->CurrentMediaType().majortype, to_, 4096);
        return S_OK;
    }

private:
    GUID from_, to_;
    bool refuseAll_;
};

}  // namespace synthetic

#pragma once
// Test doubles for the pipeline base classes: a manual reference clock, a graph stub
// that records events, a pushing source, an inverting transform and a recording video
// renderer. Pins are connected by hand; no graph manager is involved.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/ComObject.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "framework/dshow/CTransformFilter.h"
#include "framework/dshow/Dshow.h"

namespace dshowtest {

constexpr LONG kWidth = 4;
constexpr LONG kHeight = 2;
constexpr LONG kFrameBytes = kWidth * kHeight * 4;
constexpr REFERENCE_TIME kFrame = 400000;  // 40 ms

inline CMediaType videoType(const GUID& subtype = MEDIASUBTYPE_RGB32, LONG width = kWidth, LONG height = kHeight) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetSampleSize(static_cast<ULONG>(width * height * 4));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = kFrame;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 32;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 4);
    return mt;
}

// Waits (generously) for a condition another thread brings about.
template <class Pred>
bool eventually(Pred pred) {
    for (int i = 0; i < 5000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

// A reference clock whose time moves only when the test says so.
class ManualClock : public ComObject<IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* pTime) override {
        if (!pTime) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        *pTime = now_;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override {
        if (!hEvent || !pdwAdviseCookie) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        DWORD_PTR cookie = next_++;
        *pdwAdviseCookie = cookie;
        REFERENCE_TIME due = baseTime + streamTime;
        ++advises_;
        if (due <= now_)
            hEvent->set();
        else
            pending_[cookie] = {due, hEvent};
        return S_OK;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT Unadvise(DWORD_PTR cookie) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return pending_.erase(cookie) ? S_OK : S_FALSE;
    }
    void setTime(REFERENCE_TIME t) {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ = t;
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->second.due <= now_) {
                it->second.event->set();
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
    }
    size_t pendingCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pending_.size();
    }

private:
    struct Advise {
        REFERENCE_TIME due;
        Event* event;
    };
    std::mutex mutex_;
    REFERENCE_TIME now_ = 0;
    DWORD_PTR next_ = 1;
    int advises_ = 0;
    std::map<DWORD_PTR, Advise> pending_;
};

// Stands in for the graph: filters join it and report events to it.
class GraphStub : public ComObject<IFilterGraph, IMediaEventSink> {
public:
    HRESULT AddFilter(IBaseFilter* f, LPCWSTR name) override { return f->JoinFilterGraph(this, name); }
    HRESULT RemoveFilter(IBaseFilter* f) override { return f->JoinFilterGraph(nullptr, nullptr); }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin* pin) override { return pin->Disconnect(); }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({code, p1, p2});
        return S_OK;
    }
    struct Ev {
        LONG code;
        LONG_PTR p1, p2;
    };
    std::vector<Ev> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int count(LONG code) {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (auto& e : events_) n += e.code == code;
        return n;
    }

private:
    std::mutex mutex_;
    std::vector<Ev> events_;
};

class TestSource;

// The source's output pin: offers its types, asks for `buffers` buffers of one frame, and
// answers IMediaSeeking with a fixed duration (so pass-through can be seen).
class TestSourcePin : public CBaseOutputPin, public IMediaSeeking {
public:
    TestSourcePin(CBaseFilter* filter, CriticalSection* lock, HRESULT* phr)
        : CBaseOutputPin(u"source pin", filter, lock, phr, u"Out") {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return CBaseOutputPin::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return CBaseOutputPin::AddRef(); }
    ULONG Release() override { return CBaseOutputPin::Release(); }

    std::vector<CMediaType> offered{videoType()};
    LONG buffers = 3;
    LONG align = 1;
    LONG prefix = 0;
    ALLOCATOR_PROPERTIES granted{};

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        for (auto& t : offered)
            if (t == *pmt) return S_OK;
        return S_FALSE;
    }
    HRESULT GetMediaType(int pos, CMediaType* pmt) override {
        if (pos < 0) return E_INVALIDARG;
        if (pos >= static_cast<int>(offered.size())) return VFW_S_NO_MORE_ITEMS;
        *pmt = offered[static_cast<size_t>(pos)];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* req) override {
        req->cBuffers = buffers;
        req->cbBuffer = static_cast<LONG>(m_mt.lSampleSize);
        if (align > req->cbAlign) req->cbAlign = align;
        req->cbPrefix = prefix;
        HRESULT hr = alloc->SetProperties(req, &granted);
        if (FAILED(hr)) return hr;
        return granted.cbBuffer < req->cbBuffer ? E_OUTOFMEMORY : S_OK;
    }

    // Seeking as a splitter would answer it.
    LONGLONG duration = 50 * kFrame;
    LONGLONG current = 0, stop = 50 * kFrame;
    int setPositionsCalls = 0;
    HRESULT GetCapabilities(DWORD* c) override {
        *c = 0x37;
        return S_OK;
    }
    HRESULT CheckCapabilities(DWORD*) override { return S_OK; }
    HRESULT IsFormatSupported(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
    HRESULT QueryPreferredFormat(GUID* f) override {
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
    HRESULT IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
    HRESULT SetTimeFormat(const GUID* f) override { return IsFormatSupported(f) == S_OK ? S_OK : E_INVALIDARG; }
    HRESULT GetDuration(LONGLONG* d) override {
        *d = duration;
        return S_OK;
    }
    HRESULT GetStopPosition(LONGLONG* s) override {
        *s = stop;
        return S_OK;
    }
    HRESULT GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    HRESULT SetPositions(LONGLONG* cur, DWORD cf, LONGLONG* st, DWORD sf) override {
        ++setPositionsCalls;
        if ((cf & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) current = *cur;
        if ((sf & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) stop = *st;
        return S_OK;
    }
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override {
        if (c) *c = current;
        if (s) *s = stop;
        return S_OK;
    }
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
        *e = 0;
        *l = duration;
        return S_OK;
    }
    HRESULT SetRate(double r) override { return r == 1.0 ? S_OK : E_INVALIDARG; }
    HRESULT GetRate(double* r) override {
        *r = 1.0;
        return S_OK;
    }
    HRESULT GetPreroll(LONGLONG* p) override {
        *p = 0;
        return S_OK;
    }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid == IMediaSeeking::iid) {
            *ppv = static_cast<IMediaSeeking*>(this);
            AddRef();
            return S_OK;
        }
        return CBaseOutputPin::queryOther(riid, ppv);
    }
};

// A source driven by the test: each frame's bytes all equal its number.
class TestSource : public CBaseFilter {
public:
    static constexpr CLSID kClsid = guidOf("{6A1F0A10-0000-4000-8000-000000000001}");
    TestSource() : CBaseFilter(u"Test Source", &lock_, kClsid) {
        HRESULT hr = S_OK;
        pin_ = new TestSourcePin(this, &lock_, &hr);
    }
    ~TestSource() override { delete pin_; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }
    TestSourcePin* pin() { return pin_; }

    // Delivers a sample without times.
    HRESULT deliverUntimed(int number) {
        IMediaSample* s = nullptr;
        HRESULT hr = pin_->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memset(p, number, static_cast<size_t>(kFrameBytes));
        hr = pin_->Deliver(s);
        s->Release();
        return hr;
    }

    // Fills and delivers one frame; the answer of the downstream pin.
    HRESULT deliver(int number, REFERENCE_TIME start, REFERENCE_TIME stop, bool sync = true) {
        IMediaSample* s = nullptr;
        HRESULT hr = pin_->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memset(p, number, static_cast<size_t>(kFrameBytes));
        s->SetActualDataLength(kFrameBytes);
        s->SetTime(&start, &stop);
        s->SetSyncPoint(sync);
        hr = pin_->Deliver(s);
        s->Release();
        return hr;
    }

private:
    CriticalSection lock_;
    TestSourcePin* pin_;
};

// Turns every byte b into 255 - b; accepts RGB32 video only, same size in and out.
class InvertTransform : public CTransformFilter {
public:
    static constexpr CLSID kClsid = guidOf("{6A1F0A10-0000-4000-8000-000000000002}");
    InvertTransform() : CTransformFilter(u"Invert", kClsid) {}
    int started = 0, stopped = 0;
    int skipValue = -1;  // input pictures of this value are dropped

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video) return VFW_E_INVALIDMEDIATYPE;
        if (mt->subtype != MEDIASUBTYPE_RGB32) return VFW_E_INVALIDSUBTYPE;
        return bitmapHeaderOf(mt->formattype, mt->pbFormat, mt->cbFormat) ? S_OK : VFW_E_NO_TYPES;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        if (out->majortype != MEDIATYPE_Video || out->subtype != MEDIASUBTYPE_RGB32) return VFW_E_TYPE_NOT_ACCEPTED;
        return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int pos, CMediaType* mt) override {
        if (pos < 0) return E_INVALIDARG;
        if (pos > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = m_pInput->CurrentMediaType();
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* req) override {
        req->cBuffers = 2;
        req->cbBuffer = kFrameBytes;
        if (req->cbAlign < 16) req->cbAlign = 16;
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = alloc->SetProperties(req, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < kFrameBytes ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        BYTE *src = nullptr, *dst = nullptr;
        in->GetPointer(&src);
        out->GetPointer(&dst);
        if (src[0] == skipValue) return S_FALSE;
        LONG n = in->GetActualDataLength();
        for (LONG i = 0; i < n; ++i) dst[i] = static_cast<BYTE>(255 - src[i]);
        out->SetActualDataLength(n);
        return S_OK;
    }
    HRESULT StartStreaming() override {
        ++started;
        return S_OK;
    }
    HRESULT StopStreaming() override {
        ++stopped;
        return S_OK;
    }
};

// Records what it draws: the first byte of each picture, its start time and the clock's
// time at drawing.
class RecordingRenderer : public CBaseVideoRenderer {
public:
    static constexpr CLSID kClsid = guidOf("{6A1F0A10-0000-4000-8000-000000000003}");
    explicit RecordingRenderer(ManualClock* clock = nullptr)
        : CBaseVideoRenderer(kClsid, u"Recorder", nullptr), clock_(clock) {}

    struct Drawn {
        int value;
        REFERENCE_TIME start;
        REFERENCE_TIME clockAt;
        bool discontinuity;
    };

    HRESULT CheckMediaType(const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Video && mt->subtype == MEDIASUBTYPE_RGB32 ? S_OK : VFW_E_INVALIDSUBTYPE;
    }
    HRESULT DoRenderSample(IMediaSample* s) override {
        BYTE* p = nullptr;
        s->GetPointer(&p);
        REFERENCE_TIME start = -1, stop = -1;
        s->GetTime(&start, &stop);
        REFERENCE_TIME now = -1;
        if (clock_) clock_->GetTime(&now);
        std::lock_guard<std::mutex> lock(mutex_);
        drawn_.push_back({p[0], start, now, s->IsDiscontinuity() == S_OK});
        return S_OK;
    }
    std::vector<Drawn> drawn() {
        std::lock_guard<std::mutex> lock(mutex_);
        return drawn_;
    }
    size_t drawnCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return drawn_.size();
    }

private:
    ManualClock* clock_;
    std::mutex mutex_;
    std::vector<Drawn> drawn_;
};

inline IPin* pinOf(CBaseFilter* f, int n) {
    return f->GetPin(n);
}

}  // namespace dshowtest

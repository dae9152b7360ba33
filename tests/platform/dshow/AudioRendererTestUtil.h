#pragma once
// Test doubles for the audio renderer tests: a source filter pushing PCM samples from the
// test's own threads, and a graph that records the events filters report.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "framework/ComObject.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/audio/AudioFormat.h"

namespace audiorenderertest {

inline CMediaType mediaTypeFor(const AudioFormat& f) {
    CMediaType mt;
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = f.type == SampleType::F32 ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
    mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wf{};
    wf.wFormatTag = f.type == SampleType::F32 ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    wf.nChannels = static_cast<WORD>(f.channels);
    wf.nSamplesPerSec = f.rate;
    wf.wBitsPerSample = static_cast<WORD>(f.bytesPerSample() * 8);
    wf.nBlockAlign = static_cast<WORD>(f.bytesPerFrame());
    wf.nAvgBytesPerSec = f.rate * f.bytesPerFrame();
    mt.SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
    mt.SetSampleSize(f.bytesPerFrame());
    return mt;
}

class PcmSourcePin : public CBaseOutputPin {
public:
    PcmSourcePin(CBaseFilter* filter, CriticalSection* lock, const CMediaType& type)
        : CBaseOutputPin(u"PCM output", filter, lock, nullptr, u"Audio"), type_(type) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override { return *pmt == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT GetMediaType(int i, CMediaType* pmt) override {
        if (i < 0) return E_INVALIDARG;
        if (i > 0) return VFW_S_NO_MORE_ITEMS;
        *pmt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES want{4, 1 << 20, 1, 0}, got{};
        return allocator->SetProperties(&want, &got);
    }

    // Pushes one sample; times in 100-ns units when given; a new type rides on the sample.
    HRESULT send(const void* data, size_t bytes, std::optional<REFERENCE_TIME> start = {},
                 const AM_MEDIA_TYPE* newType = nullptr) {
        IMediaSample* s = nullptr;
        HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, data, bytes);
        s->SetActualDataLength(static_cast<LONG>(bytes));
        if (start) {
            REFERENCE_TIME t0 = *start, t1 = *start + 1;
            s->SetTime(&t0, &t1);
        }
        if (newType) s->SetMediaType(const_cast<AM_MEDIA_TYPE*>(newType));
        hr = Deliver(s);
        s->Release();
        return hr;
    }

private:
    CMediaType type_;
};

class PcmSource : public CBaseFilter {
public:
    explicit PcmSource(const CMediaType& type)
        : CBaseFilter(u"PCM Source", &lock_, GUID_NULL), pin_(this, &lock_, type) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    PcmSourcePin& pin() { return pin_; }

private:
    CriticalSection lock_;
    PcmSourcePin pin_;
};

class RecordingGraph : public ComObject<IFilterGraph, IMediaEventSink> {
public:
    HRESULT AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

    HRESULT Notify(LONG code, LONG_PTR, LONG_PTR) override {
        std::lock_guard lock(mutex_);
        events_.push_back(code);
        if (code == EC_COMPLETE) complete_.set();
        return S_OK;
    }
    int count(LONG code) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(events_.begin(), events_.end(), code));
    }
    Event& completeEvent() { return complete_; }

private:
    std::mutex mutex_;
    std::vector<LONG> events_;
    Event complete_{Event::Reset::Manual};
};

}  // namespace audiorenderertest

#pragma once
// A test source: one output pin of one video type, delivering `count` pictures made by a
// callback, picture n stamped n x period, from its own thread, then end of stream.
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"

namespace videotest {

class PictureSource : public CBaseFilter {
public:
    using Fill = std::function<void(int n, uint8_t* buffer)>;

    PictureSource(const CMediaType& type, LONG bytes, int count, REFERENCE_TIME period, Fill fill)
        : CBaseFilter(u"Picture Source", &lock_, guidOf("{5B1E7C30-6D2A-4F0E-9A41-2C8D3E4F5A61}")),
          pin_(this, type, bytes),
          count_(count),
          period_(period),
          fill_(std::move(fill)) {}
    ~PictureSource() override { join(); }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    HRESULT Pause() override {
        ScopedLock l(lock_);
        const bool starting = IsStopped();
        HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr) && starting && pin_.IsConnected()) thread_ = std::thread([this] { deliver(); });
        return hr;
    }
    HRESULT Stop() override {
        {
            ScopedLock l(lock_);
            CBaseFilter::Stop();  // decommits, which frees a thread waiting for a buffer
        }
        join();
        return S_OK;
    }

private:
    class Pin : public CBaseOutputPin {
    public:
        Pin(PictureSource* filter, const CMediaType& type, LONG bytes)
            : CBaseOutputPin(u"Picture Output", filter, &filter->lock_, nullptr, u"Out"), type_(type), bytes_(bytes) {}
        HRESULT CheckMediaType(const CMediaType* pmt) override { return *pmt == type_ ? S_OK : S_FALSE; }
        HRESULT GetMediaType(int i, CMediaType* pmt) override {
            if (i < 0) return E_INVALIDARG;
            if (i > 0) return VFW_S_NO_MORE_ITEMS;
            *pmt = type_;
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override {
            request->cBuffers = std::max<LONG>(request->cBuffers, 3);
            request->cbBuffer = std::max(request->cbBuffer, bytes_);
            request->cbAlign = std::max<LONG>(request->cbAlign, 1);
            ALLOCATOR_PROPERTIES actual{};
            HRESULT hr = pAlloc->SetProperties(request, &actual);
            return FAILED(hr) ? hr : actual.cbBuffer >= bytes_ ? S_OK : E_FAIL;
        }
        HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }
        const CMediaType type_;
        const LONG bytes_;
    };

    void join() {
        if (thread_.joinable()) thread_.join();
    }
    void deliver() {
        pin_.DeliverNewSegment(0, MAX_TIME, 1.0);
        for (int n = 0; n < count_; ++n) {
            IMediaSample* s = nullptr;
            if (FAILED(pin_.GetDeliveryBuffer(&s, nullptr, nullptr, 0))) return;  // stopped
            BYTE* p = nullptr;
            s->GetPointer(&p);
            fill_(n, p);
            s->SetActualDataLength(pin_.bytes_);
            REFERENCE_TIME start = n * period_, stop = start + period_;
            s->SetTime(&start, &stop);
            s->SetSyncPoint(TRUE);
            HRESULT hr = pin_.Deliver(s);
            s->Release();
            if (hr != S_OK) return;
        }
        pin_.DeliverEndOfStream();
    }

    CriticalSection lock_;
    Pin pin_;
    const int count_;
    const REFERENCE_TIME period_;
    Fill fill_;
    std::thread thread_;
};

}  // namespace videotest

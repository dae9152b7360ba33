#pragma once
// A filter with one input and one output pin that turns each input sample into one
// output sample (Transform). The derived filter states which input types it takes
// (CheckInputType), which pairs it can convert (CheckTransform), what it offers on the
// output (GetMediaType) and its buffers (DecideBufferSize). Receive is serialised with
// state changes through the receive lock; stream calls pass straight downstream.
#include <atomic>

#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CTransformInputPin.h"
#include "framework/dshow/CTransformOutputPin.h"

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char16_t* name, REFCLSID clsid, HRESULT* phr = nullptr);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    // Conversion hooks of a derived filter.
    virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) = 0;
    virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
    virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) = 0;
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

    // Optional hooks.
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt);
    virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin);
    virtual HRESULT BreakConnect(PIN_DIRECTION dir);
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin);

    // Called by the input pin with the receive lock held.
    virtual HRESULT Receive(IMediaSample* pSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    CTransformInputPin* InputPin() { return m_pInput; }
    CTransformOutputPin* OutputPin() { return m_pOutput; }

protected:
    // An output sample with the input's times and flags, from the output allocator.
    virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

    friend class CTransformInputPin;
    friend class CTransformOutputPin;

    CriticalSection m_csFilter;
    CriticalSection m_csReceive;  // held around Receive and state changes
    bool m_bEOSDelivered = false;
    // Cleared by a state change on the application's thread while the streaming thread
    // may be in Receive.
    std::atomic<bool> m_bSampleSkipped{false};
    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;
};

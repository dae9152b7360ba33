#pragma once
// An output pin that pushes samples into the connected pin's IMemInputPin. On connection
// it settles the allocator: the downstream pin's own first, else a CMemAllocator, each
// sized by DecideBufferSize and announced with NotifyAllocator. Active commits the
// allocator, Inactive decommits it (which frees a thread blocked in GetDeliveryBuffer).
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/SampleInterfaces.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                   const char16_t* pinName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Sets the allocator's properties; the connection fails unless S_OK.
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    // A new CMemAllocator when the downstream pin offers none.
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                      DWORD dwFlags);
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // An output pin receives no stream calls.
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    IMemAllocator* Allocator() { return m_pAllocator; }
    IMemInputPin* InputPin() { return m_pInputPin; }

protected:
    IMemAllocator* m_pAllocator = nullptr;  // held
    IMemInputPin* m_pInputPin = nullptr;    // held while connected
};

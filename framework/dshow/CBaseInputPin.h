#pragma once
// An input pin receiving pushed samples (IMemInputPin): the allocator chosen by the
// upstream pin, the flushing state, and the streaming checks every Receive starts with.
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/SampleInterfaces.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                  const char16_t* pinName);
    ~CBaseInputPin() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return CBasePin::AddRef(); }
    ULONG Release() override { return CBasePin::Release(); }

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // Checks the streaming state and a type change carried by the sample; derived pins
    // call this first and process the sample when it answers S_OK.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override;

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    // S_OK while samples may be processed; S_FALSE while flushing; an error when stopped,
    // unconnected or after a runtime error.
    virtual HRESULT CheckStreaming();
    bool IsFlushing() { return m_bFlushing.load(); }
    bool IsReadOnly() { return m_bReadOnly; }
    IMemAllocator* Allocator() { return m_pAllocator; }
    // The properties of the sample being received (valid inside Receive).
    AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

    IMemAllocator* m_pAllocator = nullptr;  // held
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
    AM_SAMPLE2_PROPERTIES m_SampleProps{};
};

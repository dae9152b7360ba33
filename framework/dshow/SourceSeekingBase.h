#pragma once
// What every seekable source filter's IMediaSeeking shares: it lives inside the filter
// (its reference count is the filter's), answers a fixed set of capabilities, plays only
// at the normal rate, needs no preroll, and leaves the current position to the graph,
// which answers it from the stream time.
#include "framework/dshow/GraphInterfaces.h"

class SourceSeekingBase : public IMediaSeeking {
public:
    SourceSeekingBase(IUnknown* owner, DWORD capabilities) : owner_(owner), capabilities_(capabilities) {}
    virtual ~SourceSeekingBase() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

private:
    IUnknown* owner_;
    const DWORD capabilities_;
};

#pragma once
// What every seekable source filter's IMediaSeeking shares: it lives inside the filter
// (its reference count is the filter's), answers a fixed set of capabilities, plays only
// at the normal rate, needs no preroll, and leaves the current position to the graph,
// which answers it from the stream time. Positions are in media time unless a filter
// overrides the time-format methods.
#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/MediaGuids.h"

class SourceSeekingBase : public IMediaSeeking {
public:
    // Seeking to any position and reading the stop and the duration.
    static constexpr DWORD kSourceCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                                                 AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                                                 AM_SEEKING_CanGetDuration;

    explicit SourceSeekingBase(IUnknown* owner, DWORD capabilities = kSourceCapabilities)
        : owner_(owner), capabilities_(capabilities) {}
    virtual ~SourceSeekingBase() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

private:
    IUnknown* owner_;
    const DWORD capabilities_;
};

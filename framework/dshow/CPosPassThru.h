#pragma once
// IMediaSeeking for a pin-owning object that has no position of its own (a transform
// filter's output pin, a renderer): every call goes to the pin upstream of the given
// input pin. Its reference count is its owner's.
#include "framework/CriticalSection.h"
#include "framework/dshow/FilterInterfaces.h"
#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/SampleInterfaces.h"

class CPosPassThru : public IMediaSeeking {
public:
    // owner supplies the reference count; pin is the input pin whose peer is asked.
    CPosPassThru(const char16_t* name, IUnknown* owner, HRESULT* phr, IPin* pin);
    virtual ~CPosPassThru() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return m_pOwner->AddRef(); }
    ULONG Release() override { return m_pOwner->Release(); }

    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

    // The upstream seeking interface (a new reference), VFW_E_NOT_CONNECTED without peer.
    HRESULT GetPeerSeeking(IMediaSeeking** ppMS);

protected:
    // A position known here (media time of the last sample); E_FAIL when none.
    virtual HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime);

private:
    IUnknown* m_pOwner;
    IPin* m_pPin;
};

// The renderer's variant: remembers the media time of the sample being shown (and the
// stop position at end of stream) as the current position.
class CRendererPosPassThru : public CPosPassThru {
public:
    CRendererPosPassThru(const char16_t* name, IUnknown* owner, HRESULT* phr, IPin* pin);

    HRESULT RegisterMediaTime(IMediaSample* pMediaSample);
    HRESULT RegisterMediaTime(LONGLONG startTime, LONGLONG endTime);
    HRESULT ResetMediaTime();
    // From here on the position is the stop position (asked upstream when wanted, so that
    // the streaming thread never waits on the upstream filter).
    HRESULT EOS();

protected:
    HRESULT GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) override;

private:
    CriticalSection m_PositionLock;
    LONGLONG m_StartMedia = 0;
    LONGLONG m_EndMedia = 0;
    bool m_bReset = true;
    bool m_bAtEnd = false;
};

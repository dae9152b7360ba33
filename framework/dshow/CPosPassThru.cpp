#include "framework/dshow/CPosPassThru.h"

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/SampleInterfaces.h"

CPosPassThru::CPosPassThru(const char16_t*, IUnknown* owner, HRESULT* phr, IPin* pin) : m_pOwner(owner), m_pPin(pin) {
    if (!pin && phr) *phr = E_POINTER;
}

HRESULT CPosPassThru::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(this);
        AddRef();
        return S_OK;
    }
    return m_pOwner->QueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** ppMS) {
    if (!ppMS) return E_POINTER;
    *ppMS = nullptr;
    if (!m_pPin) return E_POINTER;
    IPin* peer = nullptr;
    HRESULT hr = m_pPin->ConnectedTo(&peer);
    if (FAILED(hr) || !peer) return VFW_E_NOT_CONNECTED;
    hr = peer->QueryInterface(IMediaSeeking::iid, reinterpret_cast<void**>(ppMS));
    peer->Release();
    return FAILED(hr) ? E_NOTIMPL : S_OK;
}

// Each call goes to the peer's seeking interface as it stands.
#define PASS_THROUGH(call)              \
    IMediaSeeking* peer = nullptr;      \
    HRESULT hr = GetPeerSeeking(&peer); \
    if (FAILED(hr)) return hr;          \
    hr = peer->call;                    \
    peer->Release();                    \
    return hr

HRESULT CPosPassThru::GetCapabilities(DWORD* pCapabilities) {
    PASS_THROUGH(GetCapabilities(pCapabilities));
}
HRESULT CPosPassThru::CheckCapabilities(DWORD* pCapabilities) {
    PASS_THROUGH(CheckCapabilities(pCapabilities));
}
HRESULT CPosPassThru::IsFormatSupported(const GUID* pFormat) {
    PASS_THROUGH(IsFormatSupported(pFormat));
}
HRESULT CPosPassThru::QueryPreferredFormat(GUID* pFormat) {
    PASS_THROUGH(QueryPreferredFormat(pFormat));
}
HRESULT CPosPassThru::GetTimeFormat(GUID* pFormat) {
    PASS_THROUGH(GetTimeFormat(pFormat));
}
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* pFormat) {
    PASS_THROUGH(IsUsingTimeFormat(pFormat));
}
HRESULT CPosPassThru::SetTimeFormat(const GUID* pFormat) {
    PASS_THROUGH(SetTimeFormat(pFormat));
}
HRESULT CPosPassThru::GetDuration(LONGLONG* pDuration) {
    PASS_THROUGH(GetDuration(pDuration));
}
HRESULT CPosPassThru::GetStopPosition(LONGLONG* pStop) {
    PASS_THROUGH(GetStopPosition(pStop));
}
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                        const GUID* pSourceFormat) {
    PASS_THROUGH(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    PASS_THROUGH(SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    PASS_THROUGH(GetPositions(pCurrent, pStop));
}
HRESULT CPosPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    PASS_THROUGH(GetAvailable(pEarliest, pLatest));
}
HRESULT CPosPassThru::SetRate(double dRate) {
    PASS_THROUGH(SetRate(dRate));
}
HRESULT CPosPassThru::GetRate(double* pdRate) {
    PASS_THROUGH(GetRate(pdRate));
}
HRESULT CPosPassThru::GetPreroll(LONGLONG* pllPreroll) {
    PASS_THROUGH(GetPreroll(pllPreroll));
}

#undef PASS_THROUGH

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    // A position known here is only meaningful in media time.
    IMediaSeeking* peer = nullptr;
    HRESULT hr = GetPeerSeeking(&peer);
    if (FAILED(hr)) return hr;
    bool mediaTime = peer->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME) == S_OK;
    if (mediaTime) {
        LONGLONG end;
        if (SUCCEEDED(GetMediaTime(pCurrent, &end))) {
            peer->Release();
            return S_OK;
        }
    }
    hr = peer->GetCurrentPosition(pCurrent);
    peer->Release();
    return hr;
}

HRESULT CPosPassThru::GetMediaTime(LONGLONG*, LONGLONG*) {
    return E_FAIL;
}

CRendererPosPassThru::CRendererPosPassThru(const char16_t* name, IUnknown* owner, HRESULT* phr, IPin* pin)
    : CPosPassThru(name, owner, phr, pin) {}

HRESULT CRendererPosPassThru::RegisterMediaTime(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    LONGLONG start, end;
    HRESULT hr = pMediaSample->GetMediaTime(&start, &end);
    if (FAILED(hr)) return hr;
    return RegisterMediaTime(start, end);
}

HRESULT CRendererPosPassThru::RegisterMediaTime(LONGLONG startTime, LONGLONG endTime) {
    ScopedLock lock(m_PositionLock);
    m_StartMedia = startTime;
    m_EndMedia = endTime;
    m_bReset = false;
    m_bAtEnd = false;
    return S_OK;
}

HRESULT CRendererPosPassThru::ResetMediaTime() {
    ScopedLock lock(m_PositionLock);
    m_StartMedia = 0;
    m_EndMedia = 0;
    m_bReset = true;
    m_bAtEnd = false;
    return S_OK;
}

HRESULT CRendererPosPassThru::EOS() {
    ScopedLock lock(m_PositionLock);
    m_bAtEnd = true;
    return S_OK;
}

HRESULT CRendererPosPassThru::GetMediaTime(LONGLONG* pStartTime, LONGLONG* pEndTime) {
    bool atEnd;
    {
        ScopedLock lock(m_PositionLock);
        atEnd = m_bAtEnd;
    }
    if (atEnd) {
        LONGLONG stop = 0;
        HRESULT hr = GetStopPosition(&stop);
        if (FAILED(hr)) return hr;
        if (pStartTime) *pStartTime = stop;
        if (pEndTime) *pEndTime = stop;
        return S_OK;
    }
    ScopedLock lock(m_PositionLock);
    if (m_bReset) return E_FAIL;
    if (pStartTime) *pStartTime = m_StartMedia;
    if (pEndTime) *pEndTime = m_EndMedia;
    return S_OK;
}

#include "framework/dshow/SourceSeekingBase.h"

#include "framework/dshow/DshowErrors.h"

HRESULT SourceSeekingBase::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IUnknown::iid && riid != IMediaSeeking::iid) return E_NOINTERFACE;
    *ppv = static_cast<IMediaSeeking*>(this);
    AddRef();
    return S_OK;
}

ULONG SourceSeekingBase::AddRef() {
    return owner_->AddRef();
}

ULONG SourceSeekingBase::Release() {
    return owner_->Release();
}

HRESULT SourceSeekingBase::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    *pCapabilities = capabilities_;
    return S_OK;
}

HRESULT SourceSeekingBase::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    DWORD asked = *pCapabilities;
    *pCapabilities &= capabilities_;
    if (*pCapabilities == asked) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT SourceSeekingBase::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT SourceSeekingBase::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT SourceSeekingBase::GetTimeFormat(GUID* pFormat) {
    return SourceSeekingBase::QueryPreferredFormat(pFormat);
}

HRESULT SourceSeekingBase::IsUsingTimeFormat(const GUID* pFormat) {
    return SourceSeekingBase::IsFormatSupported(pFormat);
}

HRESULT SourceSeekingBase::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT SourceSeekingBase::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                             const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    for (const GUID* f : {pTargetFormat, pSourceFormat})
        if (f && *f != TIME_FORMAT_MEDIA_TIME) return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

HRESULT SourceSeekingBase::GetCurrentPosition(LONGLONG*) {
    return E_NOTIMPL;
}

HRESULT SourceSeekingBase::SetRate(double dRate) {
    if (dRate == 1.0) return S_OK;
    return dRate <= 0.0 ? E_INVALIDARG : VFW_E_UNSUPPORTED_AUDIO;
}

HRESULT SourceSeekingBase::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    *pdRate = 1.0;
    return S_OK;
}

HRESULT SourceSeekingBase::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}

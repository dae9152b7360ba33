#include "framework/dshow/CMediaSample.h"

#include <cstddef>
#include <cstring>

#include "framework/dshow/CBaseAllocator.h"
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/MediaType.h"

CMediaSample::CMediaSample(const char16_t* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer, LONG length)
    : m_pName(name), m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator) {
    if (length < 0 && phr) *phr = VFW_E_BUFFER_OVERFLOW;
    if (length < 0) m_cbBuffer = 0;
}

CMediaSample::~CMediaSample() {
    if (m_pMediaType) DeleteMediaType(m_pMediaType);
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IUnknown::iid || riid == IMediaSample::iid || riid == IMediaSample2::iid) {
        *ppv = static_cast<IMediaSample2*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() {
    return static_cast<ULONG>(m_cRef.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG CMediaSample::Release() {
    LONG left = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        // Back to the free list: the next user starts from clean properties.
        resetProperties();
        if (m_pAllocator)
            m_pAllocator->ReleaseBuffer(this);
        else
            delete this;
    }
    return static_cast<ULONG>(left);
}

void CMediaSample::resetProperties() {
    m_dwFlags = 0;
    m_dwTypeSpecificFlags = 0;
    m_dwStreamId = 0;
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
    if (length < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = buffer;
    m_cbBuffer = length;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_pBuffer;
    return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_Start;
    if (m_dwFlags & Sample_StopValid) {
        *pTimeEnd = m_End;
        return S_OK;
    }
    *pTimeEnd = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
        return S_OK;
    }
    m_Start = *pTimeStart;
    m_dwFlags |= Sample_TimeValid;
    if (pTimeEnd) {
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_StopValid;
    } else {
        m_dwFlags &= ~Sample_StopValid;
    }
    return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() {
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    if (bIsSyncPoint)
        m_dwFlags |= Sample_SyncPoint;
    else
        m_dwFlags &= ~Sample_SyncPoint;
    return S_OK;
}

HRESULT CMediaSample::IsPreroll() {
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetPreroll(BOOL bIsPreroll) {
    if (bIsPreroll)
        m_dwFlags |= Sample_Preroll;
    else
        m_dwFlags &= ~Sample_Preroll;
    return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) return S_FALSE;
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    if (m_pMediaType) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    if (!pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return S_OK;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (!m_pMediaType) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    if (bDiscontinuity)
        m_dwFlags |= Sample_Discontinuity;
    else
        m_dwFlags &= ~Sample_Discontinuity;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaEnd;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (!pTimeStart) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return S_OK;
    }
    if (!pTimeEnd) return E_POINTER;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = *pTimeEnd;
    m_dwFlags |= Sample_MediaTimeValid;
    return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD cbProperties, BYTE* pbProperties) {
    if (cbProperties == 0) return S_OK;
    if (!pbProperties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = cbProperties < sizeof props ? cbProperties : static_cast<DWORD>(sizeof props);
    props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    props.dwSampleFlags = m_dwFlags & ~Sample_MediaTimeValid;
    if (m_dwFlags & Sample_TypeChanged) props.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    props.lActual = m_lActual;
    props.tStart = m_Start;
    props.tStop = m_End;
    props.dwStreamId = m_dwStreamId;
    props.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType : nullptr;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    std::memcpy(pbProperties, &props, props.cbData);
    return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD cbProperties, const BYTE* pbProperties) {
    if (cbProperties == 0) return S_OK;
    if (!pbProperties) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    // The record says how much of itself is present; never read past what was given.
    if (cbProperties < sizeof(DWORD)) return E_INVALIDARG;
    std::memcpy(&props, pbProperties, cbProperties < sizeof props ? cbProperties : sizeof props);
    if (props.cbData > cbProperties) return E_INVALIDARG;
    auto has = [&](size_t end) { return props.cbData >= end; };
    if (has(offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags) + sizeof(DWORD)))
        m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
    if (has(offsetof(AM_SAMPLE2_PROPERTIES, lActual) + sizeof(LONG))) {
        if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
            // A type change needs its type.
            if (!has(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType) + sizeof(void*))) return E_INVALIDARG;
            HRESULT hr = SetMediaType(props.pMediaType);
            if (FAILED(hr)) return hr;
        } else {
            SetMediaType(nullptr);
        }
        DWORD keep = m_dwFlags & Sample_MediaTimeValid;
        m_dwFlags = (props.dwSampleFlags & (Sample_ValidFlags & ~Sample_MediaTimeValid)) | keep;
        if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) m_dwFlags |= Sample_TypeChanged;
        if (props.lActual < 0 || props.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
        m_lActual = props.lActual;
    }
    if (has(offsetof(AM_SAMPLE2_PROPERTIES, tStop) + sizeof(REFERENCE_TIME))) {
        m_Start = props.tStart;
        m_End = props.tStop;
    }
    if (has(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD))) m_dwStreamId = props.dwStreamId;
    return S_OK;
}

#include "framework/dshow/CBaseAllocator.h"

#include "framework/dshow/DshowErrors.h"

CBaseAllocator::CBaseAllocator(const char16_t* name, IUnknown* outer, HRESULT* phr) : m_pName(name), m_pOuter(outer) {
    (void)phr;
}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IUnknown::iid || riid == IMemAllocator::iid) {
        *ppv = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    if (m_pOuter) return m_pOuter->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CBaseAllocator::AddRef() {
    return static_cast<ULONG>(m_cRef.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG CBaseAllocator::Release() {
    LONG left = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    ScopedLock lock(m_cs);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
    // Alignment must be a power of two; buffers and prefix cannot be negative.
    LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;
    m_lCount = pRequest->cBuffers;
    m_lSize = pRequest->cbBuffer;
    m_lAlignment = align;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = true;
    *pActual = *pRequest;
    return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (!pProps) return E_POINTER;
    ScopedLock lock(m_cs);
    pProps->cBuffers = m_lCount;
    pProps->cbBuffer = m_lSize;
    pProps->cbAlign = m_lAlignment;
    pProps->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CBaseAllocator::Commit() {
    ScopedLock lock(m_cs);
    if (m_bCommitted) return S_OK;
    // A Decommit still waiting for samples is simply called off.
    if (m_bDecommitInProgress) {
        m_bDecommitInProgress = false;
        m_bCommitted = true;
        return S_OK;
    }
    if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
    HRESULT hr = Alloc();
    if (FAILED(hr)) return hr;
    m_bCommitted = true;
    return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
    // Changing the properties needs fresh memory; with nothing outstanding it can go now.
    if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
    return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
    ScopedLock lock(m_cs);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = false;
    if (m_lAllocated == static_cast<LONG>(m_lFree.size())) {
        Free();
    } else {
        m_bDecommitInProgress = true;
    }
    // Waiters wake and find the allocator decommitted.
    if (m_lWaiting > 0) {
        m_freeSignal.release(m_lWaiting);
        m_lWaiting = 0;
    }
    return S_OK;
}

void CBaseAllocator::finishDecommit() {
    m_bDecommitInProgress = false;
    Free();
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                  DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    (void)pStartTime;
    (void)pEndTime;
    CMediaSample* sample = nullptr;
    for (;;) {
        {
            ScopedLock lock(m_cs);
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_lFree.empty()) {
                sample = m_lFree.back();
                m_lFree.pop_back();
                // Each outstanding sample keeps the allocator alive.
                AddRef();
                break;
            }
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            ++m_lWaiting;
        }
        m_freeSignal.wait(INFINITE);
    }
    sample->m_cRef.store(1, std::memory_order_relaxed);
    sample->m_lActual = sample->m_cbBuffer;
    if (dwFlags & AM_GBF_PREVFRAMESKIPPED) sample->m_dwFlags |= CMediaSample::Sample_Discontinuity;
    *ppBuffer = sample;
    return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (!pBuffer) return E_POINTER;
    {
        ScopedLock lock(m_cs);
        m_lFree.push_back(static_cast<CMediaSample*>(pBuffer));
        if (m_lWaiting > 0) {
            m_freeSignal.release(1);
            --m_lWaiting;
        }
        if (m_bDecommitInProgress && m_lAllocated == static_cast<LONG>(m_lFree.size())) finishDecommit();
    }
    Release();
    return S_OK;
}

LONG CBaseAllocator::outstandingCount() {
    ScopedLock lock(m_cs);
    return m_lAllocated - static_cast<LONG>(m_lFree.size());
}

bool CBaseAllocator::isCommitted() {
    ScopedLock lock(m_cs);
    return m_bCommitted;
}
